#include "link/device_display_name.h"

#include "link/hid_device.h"

namespace kx {

QString DeviceDisplayName(THidDevice& device) {
    const std::u16string product = device.ProductString();
    auto hex4 = [](unsigned v) {
        return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
    };
    QString name = !product.empty() ? QString::fromStdU16String(product)
                                    : QStringLiteral("Device VID=%1 PID=%2")
                                          .arg(hex4(device.VendorID()), hex4(device.ProductID()));
    const std::u16string serial = device.SerialString();
    if (!serial.empty())
        name += QStringLiteral(" (Serial=%1)").arg(QString::fromStdU16String(serial));
    return name;
}

} // namespace kx
