#include "app/demo_feeder.h"

#include "link/frame_receiver.h"
#include "link/input_report_source.h"

namespace kx {

DemoFeeder::DemoFeeder(InputReportSource& source, FrameReceiver& receiver, QObject* parent)
    : QObject(parent), source_(source), receiver_(receiver) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(static_cast<int>(kReportPeriodUs / 1000));
    connect(&timer_, &QTimer::timeout, this, &DemoFeeder::catchUp);
    elapsed_.start();
    clock_ = [this] { return elapsed_.nsecsElapsed() / 1000; };
}

void DemoFeeder::start() {
    timer_.start();
}
void DemoFeeder::stop() {
    timer_.stop();
}

int DemoFeeder::catchUp() {
    const std::int64_t now = clock_();
    if (now - nextReportUs_ > kMaxCatchUpUs)
        nextReportUs_ = now - kMaxCatchUpUs;
    int n = 0;
    while (nextReportUs_ <= now) {
        const InputReportSource::Report r = source_.nextReport(nextReportUs_);
        receiver_.ReadPw60(0, r.data(), static_cast<std::uint16_t>(r.size()));
        nextReportUs_ += kReportPeriodUs;
        ++n;
    }
    return n;
}

} // namespace kx
