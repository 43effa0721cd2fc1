#include "link/stepped_link.h"

#include "link/connection_control.h"
#include "link/demo_faults.h"
#include "link/sim_usb_serial_cable.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace kx {
namespace {
constexpr std::int64_t kStepUs = ConnectionControl::kConTimerMs * 1000;
constexpr int kStuckMs = 10000;
} // namespace

SteppedLink::SteppedLink(SimulatedCable::Script meter, const FaultScript& faults, QDateTime start)
    : clock_(std::move(start)), bus_(std::make_shared<SimHidBus>()) {
    auto script = std::make_shared<FaultScript>(faults);
    cable_ = std::make_shared<SimUsbSerialCable>(faultyMeter(std::move(meter), script),
                                                 CableClock::Virtual);
    // A step's reports all fit, as they would be read on time.
    cable_->setInputBufferLimit(64);
    bus_->plug(cable_);
    player_ = std::make_unique<DemoFaults>(bus_, cable_, script);
    clock_.onStep([this](std::int64_t us) { step(us); });
}

SteppedLink::~SteppedLink() = default;

void SteppedLink::drive(ConnectionControl& link) {
    link_ = &link;
    link.setClock([this] { return clock_.now(); }, true);
}

bool SteppedLink::run(std::int64_t us) {
    stuck_ = false;
    clock_.advance(us, kStepUs);
    return !stuck_;
}

void SteppedLink::step(std::int64_t us) {
    if (stuck_)
        return;
    cable_->advance(us);
    player_->poll();
    QCoreApplication::processEvents(); // a device change the bus told
    // Every report of the step is taken once the reading thread waits for the next with none
    // queued: it hands each one over and waits until the link has handled it.
    const QDeadlineTimer deadline(kStuckMs);
    while (link_ && link_->usbConDown() && cable_->pluggedIn() &&
           !(cable_->queuedReports() == 0 && cable_->waitingReads() > 0)) {
        if (deadline.hasExpired()) {
            stuck_ = true;
            return;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    if (link_)
        link_->ConTimerTimer();
}

} // namespace kx
