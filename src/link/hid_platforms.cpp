#include "link/hid_platforms.h"

#include "link/hid_platform_linux.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"

namespace kx {

std::shared_ptr<HidPlatform> makeSystemPlatform() {
    // KXLINK_DEVICES=none stands in an empty bus for the machine's devices: tests and
    // machines without a cable get the same answers wherever they run.
    if (qgetenv("KXLINK_DEVICES") == "none")
        return std::make_shared<SimHidBus>();
    return std::make_shared<LinuxHidPlatform>();
}

std::shared_ptr<HidPlatform> makeDemoMeterPlatform(DemoScript::Options options) {
    auto meter = std::make_unique<SimulatedCable>(
        [script = DemoScript(options)](std::int64_t t) { return script.frameAt(t); });
    return makeDemoPlatform(std::move(meter));
}

DemoMeter makeDemoMeter(const FaultScript& faults) {
    auto script = std::make_shared<FaultScript>(faults);
    auto cable = std::make_shared<SimUsbSerialCable>(
        faultyMeter([demo = DemoScript()](std::int64_t t) { return demo.frameAt(t); }, script),
        CableClock::Real);
    auto bus = std::make_shared<SimHidBus>();
    bus->plug(cable);
    DemoMeter meter{bus, std::make_shared<DemoFaults>(bus, cable, script)};
    meter.faults->pollOnRealClock();
    return meter;
}

} // namespace kx
