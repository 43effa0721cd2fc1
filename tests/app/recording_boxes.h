#pragma once

#include "app/message_boxes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStringList>

#include <functional>

namespace kx::test {

// Message boxes that answer at once and remember what they were asked.
class RecordingBoxes : public MessageBoxes {
public:
    void information(QWidget*, const QString& text) override { shown << "information: " + text; }
    void warning(QWidget*, const QString& text) override { shown << "warning: " + text; }
    void error(QWidget*, const QString& text) override { shown << "error: " + text; }
    bool confirm(QWidget*, const QString& text) override {
        shown << "confirm: " + text;
        return confirmAnswer;
    }

    QStringList shown;
    bool confirmAnswer = true;
};

// Runs the event loop until pred holds or the time-out passes.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace kx::test
