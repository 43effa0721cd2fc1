#pragma once

#include <QString>

#include <memory>

class QWidget;

namespace kx {

// One long operation's progress, shown while it lives.
class ProgressReporter {
public:
    virtual ~ProgressReporter() = default;
    // Reports done of total steps and lets the window handle its events; false once the user
    // has asked to cancel.
    virtual bool update(qint64 done, qint64 total) = 0;
};

// The progress dialogs of long operations behind one interface, so tests run them without a
// person and cancel them at a chosen point.
class ProgressDialogs {
public:
    virtual ~ProgressDialogs() = default;
    virtual std::unique_ptr<ProgressReporter> begin(QWidget* parent, const QString& label) = 0;
};

// A window-modal progress dialog with Cancel that shows itself only when the operation takes
// longer than about half a second; while it runs the windows keep repainting.
class QtProgressDialogs : public ProgressDialogs {
public:
    std::unique_ptr<ProgressReporter> begin(QWidget* parent, const QString& label) override;
};

} // namespace kx
