#include "cli/cli_commands.h"
#include "link/device_display_name.h"
#include "link/hid_device_controller.h"
#include "link/hid_platforms.h"

#include <QJsonObject>

namespace kx::cli {

int runList(const QStringList& args) {
    static const QString kUsage = QStringLiteral("list [--demo]");
    bool demo = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--demo"))
            demo = true;
        else
            return usageError(kUsage);
    }
    const std::shared_ptr<HidPlatform> platform =
        demo ? makeDemoMeterPlatform() : makeSystemPlatform();

    THidDeviceController controller(platform);
    controller.DeviceChange();
    controller.SetOnEnumerate([](THidDevice* dev, std::int32_t) {
        QJsonObject o;
        o.insert(QStringLiteral("name"), DeviceDisplayName(*dev));
        o.insert(QStringLiteral("vendor"), dev->VendorID());
        o.insert(QStringLiteral("product"), dev->ProductID());
        o.insert(QStringLiteral("version"), dev->VersionNumber());
        o.insert(QStringLiteral("path"), QString::fromStdString(dev->DevicePath()));
        o.insert(QStringLiteral("serial"), QString::fromStdU16String(dev->SerialString()));
        o.insert(QStringLiteral("readWrite"), dev->ReadWriteAccess());
        printJson(o);
        return true;
    });
    controller.EnumerateDevices();
    return 0;
}

} // namespace kx::cli
