// Recording through the main window: the grid, the control row's rules, the record limit,
// deleting records, and what start-up and the exits do with the live table.
#include "app/window_fixture.h"
#include "paradox/paradox_lock.h"
#include "readings/readings_table_model.h"
#include "readings/table_file_io.h"
#include "readings/ui/readings_grid.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

using namespace kx;
using kxtest::recordsOnDisk;

namespace {

std::string frameFor(const std::string& reading) {
    return kxtest::frameShowing(reading, MeterUnit::MOhm);
}

struct RecordingWindow : kxtest::WindowTest {
    ReadingsGrid* grid() { return find<ReadingsGrid>("DBGrid1"); }
    ReadingsTable& live() { return session.liveTable(); }
    RecordingControl& control() { return session.recording(); }

    std::string cell(int row, const char* field) { return live().fieldText(row, field); }

    // One reading per value, each different from the one before.
    void feedReadings(int n, int first = 100) {
        for (int i = 0; i < n; ++i)
            feed(frameFor(std::to_string(first + i)));
    }

    void type(QWidget* w, Qt::Key key, const QString& text,
              Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(w, &press);
    }
};

} // namespace

TEST_F(RecordingWindow, StartUpOpensTheEmptiedLiveTableAndTicksTheDefaults) {
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(live().isOpen());
    EXPECT_EQ(live().rowCount(), 0);
    EXPECT_FALSE(session.storeTable().isOpen());
    EXPECT_TRUE(find<QCheckBox>("RepeatSet")->isChecked());
    EXPECT_TRUE(control().repeat());
    EXPECT_FALSE(control().intervalEnabled());
    EXPECT_TRUE(find<QAction>("set10k")->isChecked());
    EXPECT_EQ(control().RecordLimit, 10000);
    QTimer* timer = &session.samplingTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
}

TEST_F(RecordingWindow, GridGrowsAndFollowsTheNewestReadingWhileTheFileStaysEmpty) {
    const QString file = tables.path("Pw60bdb.DB");
    const QByteArray before = fileBytes(file);

    win.show();
    QApplication::processEvents();
    feedReadings(30);
    QApplication::processEvents();

    ReadingsGrid* g = grid();
    ASSERT_EQ(g->model()->rowCount(), 30);
    EXPECT_EQ(g->currentRecord(), 29);
    const QRect last = g->visualRect(g->model()->index(29, 0));
    EXPECT_TRUE(g->viewport()->rect().contains(last)) << "the newest row is in view";
    EXPECT_EQ(cell(0, "No"), "1");
    EXPECT_EQ(cell(29, "No"), "30");
    EXPECT_EQ(cell(29, "Value"), session.decoder().readingTexts().ReadingValue);
    EXPECT_EQ(g->model()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "Function");
    EXPECT_EQ(g->model()->headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), "Remark");
    EXPECT_EQ(g->columnWidth(5), 158);
    // Time of day only: hours, minutes and seconds, no date.
    EXPECT_FALSE(cell(29, "Time").empty());
    EXPECT_EQ(cell(29, "Time").find('/'), std::string::npos);

    // Leaving by the EXIT panel closes both tables without emptying; the readings were
    // never written to the file.
    win.Panel3Click();
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(live().isOpen());
    EXPECT_EQ(fileBytes(file), before);
    EXPECT_EQ(recordsOnDisk(file), 0);
}

TEST_F(RecordingWindow, DemoCableReadingsBecomeNumberedRecords) {
    auto cable = connectDemoCable();
    runCable(*cable, 5'000'000);
    // A frame every half second, each recorded while "Repeat" is ticked.
    const qint64 n = live().rowCount();
    EXPECT_EQ(n, 10);
    EXPECT_EQ(grid()->model()->rowCount(), n);
    EXPECT_EQ(grid()->currentRecord(), n - 1);
    for (qint64 i = 0; i < n; ++i)
        EXPECT_EQ(cell(static_cast<int>(i), "No"), std::to_string(i + 1));
    EXPECT_EQ(cell(static_cast<int>(n - 1), "V_Range"), texts::Ir500);
    EXPECT_EQ(cell(static_cast<int>(n - 1), "Unit"), texts::UnitMOhm);
    EXPECT_EQ(cell(static_cast<int>(n - 1), "I_Range"), texts::Continuous);
    EXPECT_EQ(grid()->model()->data(grid()->model()->index(static_cast<int>(n - 1), 3)).toString(),
              QString::fromUtf8("M\u03A9"));
    EXPECT_EQ(recordsOnDisk(tables.path("Pw60bdb.DB")), 0);

    // Clear All while the meter keeps sending: numbering starts again at 1.
    win.ClearRClick();
    runCable(*cable, 1'000'000);
    ASSERT_EQ(live().rowCount(), 3);
    EXPECT_EQ(cell(0, "No"), "1");
    EXPECT_EQ(recordsOnDisk(tables.path("Pw60bdb.DB")), 0);
}

TEST_F(RecordingWindow, RepeatAndIntervalControlsDriveTheRules) {
    // Repeat unticked: a steady reading is recorded once.
    find<QCheckBox>("RepeatSet")->setChecked(false);
    feed(frameFor("123"));
    feed(frameFor("123"));
    EXPECT_EQ(live().rowCount(), 1);
    find<QCheckBox>("RepeatSet")->setChecked(true);

    // Sampling interval of 2 s: blocked until two ticks after the record.
    find<QLineEdit>("RecordSITime")->setText(QStringLiteral("2"));
    find<QCheckBox>("RecordSI")->setChecked(true);
    feed(frameFor("124")); // countdown 2 from the change of the box
    EXPECT_EQ(live().rowCount(), 1);
    // Two ticks of the sampling timer.
    control().SampInterTimeTimer();
    control().SampInterTimeTimer();
    feed(frameFor("125"));
    EXPECT_EQ(live().rowCount(), 2);
    feed(frameFor("126"));
    EXPECT_EQ(live().rowCount(), 2);
    find<QCheckBox>("RecordSI")->setChecked(false);
    feed(frameFor("127"));
    EXPECT_EQ(live().rowCount(), 3);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RecordingWindow, IntervalBoxTakesDigitsOnlyAndReportsWhatDoesNotConvert) {
    auto* box = find<QLineEdit>("RecordSITime");
    box->clear();
    EXPECT_EQ(control().IntervalCountdown, 0);
    type(box, Qt::Key_1, QStringLiteral("1"));
    type(box, Qt::Key_A, QStringLiteral("a"));
    type(box, Qt::Key_Minus, QStringLiteral("-"));
    type(box, Qt::Key_Space, QStringLiteral(" "));
    type(box, Qt::Key_2, QStringLiteral("2"));
    EXPECT_EQ(box->text(), "12");
    EXPECT_EQ(control().IntervalCountdown, 12);
    type(box, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(box->text(), "1");
    EXPECT_EQ(control().IntervalCountdown, 1);
    EXPECT_TRUE(boxes.shown.empty());

    // Past the 32-bit range: reported, the countdown keeps its value.
    for (int i = 0; i < 10; ++i)
        type(box, Qt::Key_9, QStringLiteral("9"));
    EXPECT_EQ(box->text(), "19999999999");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_EQ(boxes.shown[0].text, "'19999999999' is not a valid integer value");
    EXPECT_EQ(control().IntervalCountdown, 1999999999) << "the last text that converted";

    // Pasted text is not filtered: a negative number becomes the countdown.
    box->setText(QStringLiteral("-5"));
    EXPECT_EQ(control().IntervalCountdown, -5);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(RecordingWindow, RecordLimitItemsAreOneRadioGroup) {
    const std::pair<const char*, std::int32_t> items[] = {
        {"set1k", 1000},   {"set5k", 5000},     {"set10k", 10000},
        {"set50k", 50000}, {"set100k", 100000}, {"setlimit", 10000000}};
    for (const auto& [name, limit] : items) {
        find<QAction>(name)->trigger();
        int ticked = 0;
        for (const auto& [other, unused] : items)
            ticked += find<QAction>(other)->isChecked() ? 1 : 0;
        EXPECT_EQ(ticked, 1) << name;
        EXPECT_TRUE(find<QAction>(name)->isChecked()) << name;
        EXPECT_EQ(control().RecordLimit, limit) << name;
    }
    // Triggering the ticked item keeps it ticked.
    find<QAction>("setlimit")->trigger();
    EXPECT_TRUE(find<QAction>("setlimit")->isChecked());

    // Number 1000 is the last under "1000"; "5000" lets recording go on at 1001.
    find<QAction>("set1k")->trigger();
    control().NextRecordNo = 1000;
    feedReadings(2);
    ASSERT_EQ(live().rowCount(), 1);
    EXPECT_EQ(cell(0, "No"), "1000");
    find<QAction>("set5k")->trigger();
    feedReadings(1, 300);
    EXPECT_EQ(cell(1, "No"), "1001");
}

// What the question of Clear All guards is tested with the other destructive commands.
TEST_F(RecordingWindow, ClearAllRestartsTheGridAndTheNumbering) {
    feedReadings(3);
    find<QToolButton>("SpeedButton2")->click();
    EXPECT_TRUE(live().isOpen());
    EXPECT_EQ(grid()->model()->rowCount(), 0);
    feedReadings(2, 200);
    EXPECT_EQ(cell(0, "No"), "1");
    EXPECT_EQ(cell(1, "No"), "2");
    EXPECT_EQ(grid()->currentRecord(), 1);

    // The menu item does the same; on an empty table only the numbering restarts.
    find<QAction>("ClearR")->trigger();
    find<QAction>("ClearR")->trigger();
    EXPECT_EQ(kinds(), (std::vector<std::string>{"delete", "delete", "delete"}));
    EXPECT_EQ(control().NextRecordNo, 1);
    EXPECT_TRUE(live().isOpen());
}

TEST_F(RecordingWindow, CtrlDeleteAsksAndLeavesAGapInTheNumbering) {
    feedReadings(3);
    ReadingsGrid* g = grid();
    g->setCurrentIndex(g->model()->index(1, 0));
    type(g, Qt::Key_Delete, QString(), Qt::ControlModifier);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "confirm");
    EXPECT_EQ(boxes.shown[0].text, "Delete record?");
    EXPECT_EQ(live().rowCount(), 3) << "Cancel keeps the record";

    boxes.confirmAnswer = true;
    type(g, Qt::Key_Delete, QString(), Qt::ControlModifier);
    ASSERT_EQ(live().rowCount(), 2);
    EXPECT_EQ(cell(0, "No"), "1");
    EXPECT_EQ(cell(1, "No"), "3");
    feedReadings(1, 400);
    EXPECT_EQ(cell(2, "No"), "4");
    // Delete without Ctrl asks nothing.
    type(g, Qt::Key_Delete, QString());
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(live().rowCount(), 3);
}

TEST_F(RecordingWindow, FileExitEmptiesTheScratchFileButNotAUsersFile) {
    // Give both files committed records: a copy of a recording.
    feedReadings(3);
    const QString scratch = tables.path("Pw60bdb.DB");
    const QString users = tables.path("readings.db");
    ASSERT_TRUE(saveKeyedCopy(live(), users).ok());
    live().close();
    ASSERT_TRUE(QFile::remove(scratch));
    ASSERT_TRUE(QFile::copy(users, scratch));
    // A keyed table goes nowhere without its index.
    ASSERT_TRUE(QFile::copy(tables.path("readings.px"), tables.path("Pw60bdb.PX")));

    // A user's data file on the live table survives File > Exit.
    live().setTableName(users);
    ASSERT_TRUE(live().open().ok());
    win.show();
    find<QAction>("Exit")->trigger();
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(live().isOpen());
    EXPECT_EQ(recordsOnDisk(users), 3);

    // The scratch file is emptied.
    live().setTableName(scratch);
    ASSERT_TRUE(live().open().ok());
    EXPECT_EQ(live().rowCount(), 3);
    win.show();
    win.ExitClick();
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(live().isOpen());
    EXPECT_EQ(recordsOnDisk(scratch), 0);
    EXPECT_TRUE(boxes.shown.empty());
}

namespace {
std::vector<QString> gWarnings;
void keepWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && QLatin1String(context.category) == QLatin1String("kx.window"))
        gWarnings.push_back(text);
}
} // namespace

// A live table that start-up cannot empty and open: the reason is shown and logged, the
// window opens all the same without the later start-up steps, and readings find no table:
// nothing is recorded, the history list says so once, and no box interrupts the user.
TEST_F(RecordingWindow, StartUpWithoutItsLiveTable) {
    const QString file = tables.path("Pw60bdb.DB");
    for (const bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "missing" : "held by another program");
        windowSlot.reset();
        sessionSlot.reset();
        boxes.shown.clear();
        std::unique_ptr<px::TableLock> held;
        if (missing) {
            ASSERT_TRUE(QFile::remove(file));
        } else {
            Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(file);
            ASSERT_TRUE(lock.ok());
            held = std::move(lock.value());
        }
        gWarnings.clear();
        const QtMessageHandler old = qInstallMessageHandler(keepWarnings);
        restart();
        qInstallMessageHandler(old);
        ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
        ASSERT_EQ(gWarnings.size(), 1u);
        EXPECT_TRUE(gWarnings[0].contains(boxes.shown[0].text)) << gWarnings[0].toStdString();
        if (!missing) {
            EXPECT_TRUE(gWarnings[0].contains("in use by another program"));
        }
        win.show();
        QApplication::processEvents();
        EXPECT_TRUE(win.isVisible());
        EXPECT_FALSE(live().isOpen());
        EXPECT_FALSE(find<QCheckBox>("RepeatSet")->isChecked());
        EXPECT_FALSE(control().repeat());

        auto* history = find<QListWidget>("HistoryListBox");
        const int before = history->count();
        QSignalSpy failed(&session, &AppSession::recordingFailed);
        feed(frameFor("1"));
        feed(frameFor("2"));
        EXPECT_EQ(control().NextRecordNo, 1);
        ASSERT_EQ(failed.count(), 1);
        EXPECT_EQ(failed[0][0].toString(), ReadingsTable::closedMessage());
        ASSERT_EQ(history->count(), before + 1);
        EXPECT_EQ(history->currentItem()->text(), ReadingsTable::closedMessage());
        EXPECT_EQ(boxes.shown.size(), 1u);
    }
}

// The first reading after a stretch the link was down in has a red line across its top.
TEST_F(RecordingWindow, TheReadingAfterALinkGapIsMarked) {
    win.show();
    std::int32_t now = QTime(10, 0).msecsSinceStartOfDay();
    control().setTimeOfDay([&now] { return now; });
    const QDate today = QDate::currentDate();
    for (int i = 0; i < 8; ++i) {
        if (i == 5) {
            session.onLinkLost(QDateTime(today, QTime(10, 0, 4, 500)), QStringLiteral("silent"));
            session.onLinkRestored(QDateTime(today, QTime(10, 0, 30)));
            now = QTime(10, 0, 30, 200).msecsSinceStartOfDay();
        }
        feed(frameFor(std::to_string(100 + i)));
        now += 1000;
    }
    QApplication::processEvents();
    ReadingsGrid* g = grid();
    EXPECT_EQ(g->linkGapRows().rows(), std::vector<std::int64_t>{5});

    const QImage shot = g->viewport()->grab().toImage();
    auto redAtTop = [&](int row) {
        const QRect r = g->visualRect(g->model()->index(row, 2));
        return shot.pixel(r.center().x(), r.top()) == ReadingsGrid::kGapMarkColor;
    };
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(redAtTop(row), row == 5) << "row " << row;
}
