#pragma once

#include "link/fault_script.h"
#include "link/meter_simulator.h"
#include "link/sim_clock.h"

#include <QDateTime>

#include <memory>

namespace kx {

class ConnectionControl;
class DemoFaults;
class SimHidBus;
class SimUsbSerialCable;

// The simulated meter and cable on the stepped clock, with a fault script played on them, for
// tests and soaks that run a link through hours of faults in seconds. Each step of
// ConnectionControl::kConTimerMs moves the cable on, plays the script, waits until the link
// has taken every report of the step (the reading thread's hand-over included), then runs
// the link's timer once: every run of the same script sees the same thing.
class SteppedLink {
public:
    SteppedLink(SimulatedCable::Script meter, const FaultScript& faults, QDateTime start);
    ~SteppedLink();

    std::shared_ptr<SimHidBus> bus() const { return bus_; }
    SimClock& clock() { return clock_; }
    SimUsbSerialCable& cable() { return *cable_; }
    DemoFaults& faults() { return *player_; }
    // The link to drive: it takes its time of day from the clock, its timer from the steps.
    void drive(ConnectionControl& link);
    // Moves the clock on by `us`; false when the link did not take a step's reports within
    // a few seconds (stuck).
    bool run(std::int64_t us);

private:
    void step(std::int64_t us);

    SimClock clock_;
    std::shared_ptr<SimHidBus> bus_;
    std::shared_ptr<SimUsbSerialCable> cable_;
    std::unique_ptr<DemoFaults> player_;
    ConnectionControl* link_ = nullptr;
    bool stuck_ = false;
};

} // namespace kx
