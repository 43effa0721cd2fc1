#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

namespace kx {

class FrameReceiver;
class InputReportSource;

// Feeds a report source to the frame receiver in cable time: one report per 12 ms, each
// asked for at its own time stamp, so the pacing holds even when the timer fires late.
class DemoFeeder : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::int64_t()>; // microseconds since start

    static constexpr std::int64_t kReportPeriodUs = 12000;
    // After a stall (a debugger, a suspended machine) the feeder skips ahead, not floods.
    static constexpr std::int64_t kMaxCatchUpUs = 1000000;

    DemoFeeder(InputReportSource& source, FrameReceiver& receiver, QObject* parent = nullptr);

    void setClock(Clock clock) { clock_ = std::move(clock); }
    void start();
    void stop();

    // Delivers every report due by now; returns how many.
    int catchUp();

private:
    InputReportSource& source_;
    FrameReceiver& receiver_;
    QTimer timer_;
    QElapsedTimer elapsed_;
    Clock clock_;
    std::int64_t nextReportUs_ = 0;
};

} // namespace kx
