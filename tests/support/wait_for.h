#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <functional>

namespace kx::test {

// Runs the event loop until pred holds or the time-out passes; returns pred's last value.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace kx::test
