#pragma once

#include "link/demo_faults.h"
#include "link/hid_platform.h"
#include "link/meter_simulator.h"

#include <memory>

namespace kx {

// The operating system's HID devices; an empty simulated bus when the environment holds
// KXLINK_DEVICES=none.
std::shared_ptr<HidPlatform> makeSystemPlatform();
// A bus with one "USB to Serial" cable on the real clock, fed by the simulated meter's
// demonstration script.
std::shared_ptr<HidPlatform> makeDemoMeterPlatform(DemoScript::Options options = {});

// The demo's cable and meter on the real clock with a fault script played on them; `faults`
// also takes the faults the demo's menu starts.
struct DemoMeter {
    std::shared_ptr<HidPlatform> platform;
    std::shared_ptr<DemoFaults> faults;
};
DemoMeter makeDemoMeter(const FaultScript& faults);

} // namespace kx
