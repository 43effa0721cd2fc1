#pragma once

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

} // namespace kx
