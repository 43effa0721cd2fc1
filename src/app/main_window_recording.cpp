// The main window's recording side: the readings grids, the control row, the Record menu,
// the sampling timer and the two ways out that close the tables.
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/recording_session.h"
#include "link/connection_control.h"
#include "recording/readings_grid.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QTimer>
#include <QToolButton>

namespace kx {
namespace {

Q_LOGGING_CATEGORY(lcMainWindow, "kx.app")

// The interval box takes typed digits and backspace only. Editing keys that type nothing
// (arrows, Delete) and shortcuts (Ctrl+V and the like) pass, so a pasted text still reaches
// the change handler, which reports what does not convert.
class DigitKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        for (const QChar c : key->text()) {
            if (c.isPrint() && !RecordingControl::RecordSITimeKeyPress(c))
                return true;
        }
        return false;
    }
};

} // namespace

ReadingsGrid* TFrmTest::buildReadingsGrid(const char* name, const QRect& geometry,
                                          ReadingsTable& table, const GridLayout& layout) {
    auto* grid = new ReadingsGrid(table, layout, *boxes_, ClientArea);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setGeometry(geometry);
    return grid;
}

void TFrmTest::connectRecording() {
    RecordingControl& control = recording_->control;
    session_->decoder.setRecordHandler([this] { recording_->control.INDataToTable(1); });
    control.setErrorSink([this](const QString& message) { recordingError(message); });

    control.setRepeat(RepeatSet->isChecked());
    connect(RepeatSet, &QCheckBox::toggled, this,
            [this](bool ticked) { recording_->control.setRepeat(ticked); });
    control.setIntervalEnabled(RecordSI->isChecked());
    connect(RecordSI, &QCheckBox::toggled, this,
            [this](bool ticked) { recording_->control.setIntervalEnabled(ticked); });

    RecordSITime->installEventFilter(new DigitKeyFilter(RecordSITime));
    connect(RecordSITime, &QLineEdit::textChanged, this, &TFrmTest::RecordSITimeChange);

    SampInterTime = new QTimer(this);
    SampInterTime->setObjectName(QStringLiteral("SampInterTime"));
    SampInterTime->setInterval(1000);
    connect(SampInterTime, &QTimer::timeout, this, &TFrmTest::SampInterTimeTimer);
    SampInterTime->start();

    connect(set1k, &QAction::triggered, this, &TFrmTest::set1kClick);
    connect(set5k, &QAction::triggered, this, &TFrmTest::set5kClick);
    connect(set10k, &QAction::triggered, this, &TFrmTest::set10kClick);
    connect(set50k, &QAction::triggered, this, &TFrmTest::set50kClick);
    connect(set100k, &QAction::triggered, this, &TFrmTest::set100kClick);
    connect(setlimit, &QAction::triggered, this, &TFrmTest::setlimitClick);

    connect(ClearR, &QAction::triggered, this, &TFrmTest::ClearRClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFrmTest::ClearRClick);
}

bool TFrmTest::openLiveTableAtStart(QString* error) {
    ReadingsTable& live = recording_->LiveTable;
    live.close();
    return live.emptyTable(error) && live.open(error);
}

void TFrmTest::recordingError(const QString& message) {
    // Table errors while recording join the device events in the window's history list.
    qCWarning(lcMainWindow).noquote() << message;
    link_->log(message);
}

void TFrmTest::setRecordLimit(QAction* item, std::int32_t limit) {
    recording_->control.setRecordLimit(limit);
    item->setChecked(true); // the group unticks the other five
}

void TFrmTest::set1kClick() {
    setRecordLimit(set1k, 1000);
}

void TFrmTest::set5kClick() {
    setRecordLimit(set5k, 5000);
}

void TFrmTest::set10kClick() {
    setRecordLimit(set10k, 10000);
}

void TFrmTest::set50kClick() {
    setRecordLimit(set50k, 50000);
}

void TFrmTest::set100kClick() {
    setRecordLimit(set100k, 100000);
}

void TFrmTest::setlimitClick() {
    setRecordLimit(setlimit, RecordingControl::kLimitless);
}

void TFrmTest::RecordSITimeChange(const QString& text) {
    if (const std::optional<QString> error = recording_->control.RecordSITimeChange(text))
        boxes_->error(this, *error);
}

void TFrmTest::SampInterTimeTimer() {
    recording_->control.SampInterTimeTimer();
}

void TFrmTest::ClearRClick() {
    boxes_->information(this, QStringLiteral(" Warning:all Records will be deleted! "));
    if (const std::optional<QString> error = recording_->control.clearAll())
        boxes_->error(this, *error);
}

void TFrmTest::Panel3Click() {
    recording_->LiveTable.close();
    recording_->StoreTable.close();
    // The recent-files list is written to the settings file here once settings exist.
    close();
}

void TFrmTest::ExitClick() {
    ReadingsTable& live = recording_->LiveTable;
    live.close();
    // Only the program's own scratch file is emptied: a data file the user opened keeps
    // its records.
    if (recording_->liveIsScratch()) {
        QString error;
        if (!live.emptyTable(&error)) {
            boxes_->error(this, error);
            return;
        }
    }
    close();
}

} // namespace kx
