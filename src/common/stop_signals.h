#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kx {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop, so a program told to stop
// ends the way its user would end it (tables closed, the cable told, journals kept) rather
// than dying on the spot. The signal handler only writes a byte to a pipe; everything else
// happens on the main thread. One instance at a time; the previous handlers come back when
// it goes.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> onStop);
    ~StopSignals();

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool armed() const { return notifier_ != nullptr; }

private:
    std::function<void(int)> onStop_;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

} // namespace kx
