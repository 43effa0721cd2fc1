// The main window's recording side: the readings grids, the control row, the Record menu,
// the sampling timer.
#include "analysis/live_results.h"
#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "common/ui/message_boxes.h"
#include "readings/ui/readings_grid.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

namespace kx {

ReadingsGrid* TFrmTest::buildReadingsGrid(const char* name, const QRect& geometry, bool store) {
    ReadingsTable& table = store ? session_.storeTable() : session_.liveTable();
    auto* grid =
        new ReadingsGrid(table, store ? storeGridLayout() : liveGridLayout(), *boxes_, ClientArea);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setGeometry(geometry);
    if (!store) {
        // The reading after a stretch the link was down in is marked.
        TestResults& results = session_.results();
        connect(&results, &TestResults::detailsChanged, grid,
                [grid, &results] { grid->setLinkGaps(results.details().linkGaps); });
    }
    return grid;
}

void TFrmTest::connectRecording() {
    RecordingControl& control = session_.recording();
    control.setRepeat(row_.RepeatSet->isChecked());
    connect(row_.RepeatSet, &QCheckBox::toggled, this,
            [this](bool ticked) { session_.recording().setRepeat(ticked); });
    control.setIntervalEnabled(row_.RecordSI->isChecked());
    connect(row_.RecordSI, &QCheckBox::toggled, this,
            [this](bool ticked) { session_.recording().setIntervalEnabled(ticked); });
    connect(row_.RecordSITime, &QLineEdit::textChanged, this, &TFrmTest::RecordSITimeChange);

    connect(menu_.set1k, &QAction::triggered, this, &TFrmTest::set1kClick);
    connect(menu_.set5k, &QAction::triggered, this, &TFrmTest::set5kClick);
    connect(menu_.set10k, &QAction::triggered, this, &TFrmTest::set10kClick);
    connect(menu_.set50k, &QAction::triggered, this, &TFrmTest::set50kClick);
    connect(menu_.set100k, &QAction::triggered, this, &TFrmTest::set100kClick);
    connect(menu_.setlimit, &QAction::triggered, this, &TFrmTest::setlimitClick);

    connect(menu_.ClearR, &QAction::triggered, this, &TFrmTest::ClearRClick);
    connect(row_.SpeedButton2, &QToolButton::clicked, this, &TFrmTest::ClearRClick);
}

void TFrmTest::setRecordLimit(QAction* item, std::int32_t limit) {
    session_.recording().setRecordLimit(limit);
    item->setChecked(true); // the group unticks the other five
}

void TFrmTest::set1kClick() {
    setRecordLimit(menu_.set1k, 1000);
}

void TFrmTest::set5kClick() {
    setRecordLimit(menu_.set5k, 5000);
}

void TFrmTest::set10kClick() {
    setRecordLimit(menu_.set10k, 10000);
}

void TFrmTest::set50kClick() {
    setRecordLimit(menu_.set50k, 50000);
}

void TFrmTest::set100kClick() {
    setRecordLimit(menu_.set100k, 100000);
}

void TFrmTest::setlimitClick() {
    setRecordLimit(menu_.setlimit, RecordingControl::kLimitless);
}

void TFrmTest::RecordSITimeChange(const QString& text) {
    if (const Status s = session_.recording().RecordSITimeChange(text); !s)
        boxes_->error(this, s.error());
}

void TFrmTest::ClearRClick() {
    // Clear All empties the table in use, also a file the user opened: only after OK.
    const DeletionQuestion q = session_.clearAllQuestion();
    if (!boxes_->confirmDeletion(this, q.text, q.file))
        return;
    if (const Status s = session_.recording().clearAll(); !s)
        boxes_->error(this, s.error());
}

} // namespace kx
