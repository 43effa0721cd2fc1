#pragma once

#include <QString>

namespace kx {

class THidDevice;

// The name a device is listed under: its product string, or "Device VID=1A2B PID=00C3"
// without one, followed by " (Serial=...)" when it reports a serial number.
QString DeviceDisplayName(THidDevice& device);

} // namespace kx
