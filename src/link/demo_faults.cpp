#include "link/demo_faults.h"

#include "link/sim_usb_serial_cable.h"

namespace kx {
namespace {

class FaultyMeter : public InputReportSource {
public:
    FaultyMeter(SimulatedCable::Script script, std::shared_ptr<const FaultScript> faults,
                std::int64_t framePeriodUs)
        : faults_(faults),
          cable_(
              [script = std::move(script), faults](std::int64_t t) -> std::optional<MeterFrame> {
                  if (faults->active(LinkFault::Kind::Silent, t))
                      return std::nullopt;
                  return script(t);
              },
              framePeriodUs) {}

    Report nextReport(std::int64_t nowUs) override {
        Report r = cable_.nextReport(nowUs);
        if (faults_->active(LinkFault::Kind::Damaged, nowUs)) {
            const std::size_t n = r[0] & 0x0F;
            for (std::size_t i = 1; i <= n && i < r.size(); ++i)
                r[i] = static_cast<std::uint8_t>(~r[i]);
        }
        return r;
    }

private:
    std::shared_ptr<const FaultScript> faults_;
    SimulatedCable cable_;
};

} // namespace

std::unique_ptr<InputReportSource> faultyMeter(SimulatedCable::Script script,
                                               std::shared_ptr<const FaultScript> faults,
                                               std::int64_t framePeriodUs) {
    return std::make_unique<FaultyMeter>(std::move(script), std::move(faults), framePeriodUs);
}

DemoFaults::DemoFaults(std::shared_ptr<SimHidBus> bus, std::shared_ptr<SimUsbSerialCable> cable,
                       std::shared_ptr<FaultScript> faults, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), cable_(std::move(cable)), faults_(std::move(faults)) {
    timer_.setInterval(kPollMs);
    connect(&timer_, &QTimer::timeout, this, &DemoFaults::poll);
}

void DemoFaults::pollOnRealClock() {
    timer_.start();
}

void DemoFaults::poll() {
    // Before the first setup report the cable's time stands still: nothing is played.
    if (!cable_->configured())
        return;
    const bool out = faults_->active(LinkFault::Kind::Unplug, cable_->cableTimeUs());
    if (out == !onBus_)
        return;
    onBus_ = !out;
    if (out)
        bus_->unplug(cable_);
    else
        bus_->plug(cable_);
}

bool DemoFaults::startNow(LinkFault::Kind kind, std::int64_t lengthUs) {
    const bool added = faults_->add({kind, cable_->cableTimeUs(), lengthUs});
    poll();
    return added;
}

} // namespace kx
