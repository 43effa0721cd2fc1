#pragma once

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <vector>

namespace kx {

// A stepped clock for the simulated platform: time moves only through advance(), step by step,
// and each step is told to the listeners in the order they were added (the cables on their
// virtual clock, the fault player, the link's timer ticks), so that tests and soaks run hours
// of link time in seconds and see the same thing every run. Main thread only.
class SimClock {
public:
    using Listener = std::function<void(std::int64_t stepUs)>;

    explicit SimClock(QDateTime start) : start_(std::move(start)) {}

    std::int64_t nowUs() const { return nowUs_; }
    // The wall-clock time the simulated time stands for.
    QDateTime now() const { return start_.addMSecs(nowUs_ / 1000); }
    void onStep(Listener listener) { listeners_.push_back(std::move(listener)); }

    // Moves time on by `us` in steps of at most `stepUs`.
    void advance(std::int64_t us, std::int64_t stepUs) {
        while (us > 0) {
            const std::int64_t step = us < stepUs ? us : stepUs;
            nowUs_ += step;
            us -= step;
            for (const Listener& l : listeners_)
                l(step);
        }
    }

private:
    QDateTime start_;
    std::int64_t nowUs_ = 0;
    std::vector<Listener> listeners_;
};

} // namespace kx
