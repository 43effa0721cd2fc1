#include "common/ui/progress_dialogs.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace kx {
namespace {

class DialogReporter : public ProgressReporter {
public:
    DialogReporter(QWidget* parent, const QString& label)
        : dialog_(label, QStringLiteral("Cancel"), 0, kSteps, parent) {
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(500);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        dialog_.setValue(0);
    }

    bool update(qint64 done, qint64 total) override {
        const int step = total > 0 ? static_cast<int>(done * kSteps / total) : 0;
        // Once it shows, the dialog handles events itself and keeps the user's input away from
        // the window; before that the window repaints but takes no input.
        if (step != dialog_.value())
            dialog_.setValue(step);
        if (!dialog_.isVisible())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return !dialog_.wasCanceled();
    }

private:
    static constexpr int kSteps = 1000;
    QProgressDialog dialog_;
};

} // namespace

std::unique_ptr<ProgressReporter> QtProgressDialogs::begin(QWidget* parent, const QString& label) {
    return std::make_unique<DialogReporter>(parent, label);
}

} // namespace kx
