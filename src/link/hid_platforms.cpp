#include "link/hid_platforms.h"

#include "link/hid_platform_linux.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"

namespace kx {

std::shared_ptr<HidPlatform> makeSystemPlatform() {
    return std::make_shared<LinuxHidPlatform>();
}

std::shared_ptr<HidPlatform> makeDemoMeterPlatform() {
    auto meter = std::make_unique<SimulatedCable>(
        [script = DemoScript()](std::int64_t t) { return script.frameAt(t); });
    return makeDemoPlatform(std::move(meter));
}

} // namespace kx
