#include "link/frame_throttle.h"

#include <QElapsedTimer>

namespace kx {

FrameThrottle::FrameThrottle(Sink sink, QObject* parent) : QObject(parent), sink_(std::move(sink)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FrameThrottle::release);
    clock_ = [t = std::make_shared<QElapsedTimer>()]() -> std::int64_t {
        if (!t->isValid())
            t->start();
        return t->elapsed();
    };
}

void FrameThrottle::offer(std::string_view frameHex) {
    const std::int64_t now = clock_();
    if (!delivered_ || now - lastMs_ >= kIntervalMs) {
        held_ = false;
        deliver(frameHex);
        return;
    }
    heldFrame_.assign(frameHex);
    held_ = true;
    if (!timer_.isActive())
        timer_.start(static_cast<int>(kIntervalMs - (now - lastMs_)));
}

void FrameThrottle::release() {
    if (!held_)
        return;
    const std::int64_t now = clock_();
    const std::int64_t wait = kIntervalMs - (now - lastMs_);
    if (wait > 0) {
        timer_.start(static_cast<int>(wait));
        return;
    }
    held_ = false;
    const std::string frame = std::move(heldFrame_);
    heldFrame_.clear();
    deliver(frame);
}

void FrameThrottle::discard() {
    held_ = false;
    heldFrame_.clear();
    timer_.stop();
}

void FrameThrottle::deliver(std::string_view frame) {
    lastMs_ = clock_();
    delivered_ = true;
    if (sink_)
        sink_(frame);
}

} // namespace kx
