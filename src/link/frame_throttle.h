#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

// Paces decoding to at most one frame per interval without blocking anything: a frame that
// completes sooner is held, a newer one supersedes it, and the newest held frame is decoded
// as soon as the interval has passed. The display thus stays current at two frames a second.
class FrameThrottle : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(std::string_view frameHex)>;
    using Clock = std::function<std::int64_t()>; // milliseconds, monotonic

    static constexpr int kIntervalMs = 500;

    explicit FrameThrottle(Sink sink, QObject* parent = nullptr);

    void offer(std::string_view frameHex);
    // Drops a held frame (on disconnect the panel keeps what it last showed).
    void discard();
    bool hasHeldFrame() const { return held_; }

    // Decodes the held frame if its time has come; the timer calls this.
    void release();

    void setClock(Clock clock) { clock_ = std::move(clock); }

private:
    void deliver(std::string_view frame);

    Sink sink_;
    Clock clock_;
    QTimer timer_;
    std::string heldFrame_;
    bool held_ = false;
    bool delivered_ = false;
    std::int64_t lastMs_ = 0;
};

} // namespace kx
