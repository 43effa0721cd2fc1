#include "cli/command_line.h"
#include "link/device_display_name.h"
#include "link/hid_device_controller.h"
#include "link/hid_platforms.h"

namespace kx::cli {

int runList(const QStringList& args) {
    CommandLine line("list");
    line.flag(QStringLiteral("demo"),
              QStringLiteral("Use the simulated cable and meter instead of the system's "
                             "devices."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const std::shared_ptr<HidPlatform> platform =
        line.isSet(QStringLiteral("demo")) ? makeDemoMeterPlatform() : makeSystemPlatform();

    THidDeviceController controller(platform);
    controller.DeviceChange();
    controller.SetOnEnumerate([](THidDevice* dev, std::int32_t) {
        printJson({{"name", DeviceDisplayName(*dev)},
                   {"vendor", dev->VendorID()},
                   {"product", dev->ProductID()},
                   {"version", dev->VersionNumber()},
                   {"path", QString::fromStdString(dev->DevicePath())},
                   {"serial", QString::fromStdU16String(dev->SerialString())},
                   {"readWrite", dev->ReadWriteAccess()}});
        return true;
    });
    controller.EnumerateDevices();
    return 0;
}

} // namespace kx::cli
