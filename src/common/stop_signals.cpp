#include "common/stop_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kx {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The one descriptor a signal handler may reach; valid only while a StopSignals lives.
volatile sig_atomic_t gWriteFd = -1;

void onSignal(int sig) {
    const int fd = gWriteFd;
    if (fd >= 0) {
        const char c = static_cast<char>(sig);
        [[maybe_unused]] const auto n = ::write(fd, &c, 1);
    }
}

} // namespace

struct StopSignals::Saved {
    struct sigaction old[std::size(kSignals)] = {};
};

StopSignals::StopSignals(std::function<void(int)> onStop)
    : onStop_(std::move(onStop)), saved_(std::make_unique<Saved>()) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    gWriteFd = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char c = 0;
        while (::read(fds_[0], &c, 1) == 1) {
            if (onStop_)
                onStop_(static_cast<unsigned char>(c));
        }
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &sa, &saved_->old[i]);
}

StopSignals::~StopSignals() {
    if (fds_[0] < 0)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &saved_->old[i], nullptr);
    gWriteFd = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

} // namespace kx
