#pragma once

#include "link/fault_script.h"
#include "link/meter_simulator.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace kx {

class SimHidBus;
class SimUsbSerialCable;

// The meter's script with the faults that touch what the cable carries: no frame starts while
// the meter is silent, and while damaged every meter byte of a report arrives inverted (the
// frames then fail their check and are dropped).
std::unique_ptr<InputReportSource>
faultyMeter(SimulatedCable::Script script, std::shared_ptr<const FaultScript> faults,
            std::int64_t framePeriodUs = SimulatedCable::kFramePeriodUs);

// Plays a fault script's unplugging on a simulated bus: the cable goes from the bus when an
// unplug stretch begins and comes back when it ends, timed by the cable's own time. On the real
// clock it looks every kPollMs; with a stepped clock whoever steps calls poll().
class DemoFaults : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 50;

    DemoFaults(std::shared_ptr<SimHidBus> bus, std::shared_ptr<SimUsbSerialCable> cable,
               std::shared_ptr<FaultScript> faults, QObject* parent = nullptr);

    void pollOnRealClock();
    void poll();
    // A fault of `lengthUs` from the cable's present time on (the demo's menu); false when it
    // overlaps one of its kind.
    bool startNow(LinkFault::Kind kind, std::int64_t lengthUs);
    const FaultScript& script() const { return *faults_; }
    bool cableOnBus() const { return onBus_; }

private:
    std::shared_ptr<SimHidBus> bus_;
    std::shared_ptr<SimUsbSerialCable> cable_;
    std::shared_ptr<FaultScript> faults_;
    QTimer timer_;
    bool onBus_ = true;
};

} // namespace kx
