// The session's commands without any window: what the main window and the command-line
// front end both rely on.
#include "app/app_session.h"
#include "app/session_fixture.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "paradox/paradox_reader.h"
#include "recording/recording_journal.h"
#include "recording/table_file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct Session : ::testing::Test {
    kxtest::TableFolder tables;
    AppSession session{tables.setup()};

    qint64 recordsOnDisk(const QString& path) {
        const Result<px::TableReader> r = px::TableReader::open(path);
        return r.ok() ? r.value().info().recordCount : -1;
    }
    // A decoded frame showing `value`: the session records it as the window would.
    void show(const char* value) {
        MeterDisplay d;
        d.reading = value;
        session.decodeFrame(frameHex(encodeFrame(d)));
    }
    void record(const char* value) {
        const std::int32_t next = session.recording().NextRecordNo;
        show(value);
        ASSERT_EQ(session.recording().NextRecordNo, next + 1) << value;
    }
};

} // namespace

TEST_F(Session, StartUpEmptiesAndOpensTheScratchTable) {
    EXPECT_FALSE(session.liveTable().isOpen());
    ASSERT_TRUE(session.openLiveTableAtStart().ok());
    EXPECT_TRUE(session.liveTable().isOpen());
    EXPECT_TRUE(session.liveIsScratch());
    EXPECT_FALSE(session.storeTable().isOpen());
    EXPECT_FALSE(session.AppDir.isEmpty());
    EXPECT_TRUE(session.AppDir.endsWith('/'));
}

TEST_F(Session, FileExitEmptiesOnlyTheScratchFile) {
    ASSERT_TRUE(session.openLiveTableAtStart().ok());
    record("1");
    record("2");
    const QString users = tables.path("mine.db");
    ASSERT_TRUE(saveKeyedCopy(session.liveTable(), users).ok());

    // On a user's file: the records stay.
    session.liveTable().close();
    session.liveTable().setTableName(users);
    ASSERT_TRUE(session.liveTable().open().ok());
    EXPECT_FALSE(session.liveIsScratch());
    ASSERT_TRUE(session.exitWithoutSaving().ok());
    EXPECT_FALSE(session.liveTable().isOpen());
    EXPECT_EQ(recordsOnDisk(users), 2);
}

TEST_F(Session, RecordingErrorsReachTheHistoryOnce) {
    QStringList failures;
    QObject::connect(&session, &AppSession::recordingFailed,
                     [&](const QString& m) { failures << m; });
    // The live table is closed: every offer fails, the first one is told.
    show("5");
    show("6");
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0], ReadingsTable::closedMessage());
    EXPECT_EQ(session.link().HistoryListBox().back(), ReadingsTable::closedMessage());
}

TEST_F(Session, ExitPanelClosesBothTablesAndKeepsTheFiles) {
    ASSERT_TRUE(session.openLiveTableAtStart().ok());
    ASSERT_TRUE(session.storeTable().open().ok());
    record("9");
    session.closeTablesForExit();
    EXPECT_FALSE(session.liveTable().isOpen());
    EXPECT_FALSE(session.storeTable().isOpen());
    EXPECT_EQ(recordsOnDisk(tables.path("Pw60bdb.DB")), 0) << "pending records never reach it";
}

namespace {

// The journal files a folder holds, whatever state they are in.
QStringList journalsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.journal")}, QDir::Files);
}

std::vector<RecordingJournal::Reading> journalled(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return parseJournal(f.readAll()).readings;
}

} // namespace

TEST_F(Session, ReadingsAreJournalledUntilANormalEnding) {
    ASSERT_TRUE(session.openLiveTableAtStart().ok());
    ASSERT_TRUE(session.startJournal().ok());
    const QString path = session.journalPath();
    ASSERT_TRUE(QFileInfo::exists(path));
    record("1.5");
    record("2.5");
    record("3.5");
    // A record deleted from the grid is gone from a recovery too.
    ASSERT_TRUE(session.liveTable().deleteRecord(1).ok());
    const auto readings = journalled(path);
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].no, 1);
    EXPECT_EQ(readings[0].value, session.liveTable().fieldText(0, "Value"));
    EXPECT_EQ(readings[1].no, 3);
    EXPECT_EQ(readings[1].unit, session.liveTable().fieldText(1, "Unit"));
    EXPECT_TRUE(readings[1].msOfDay.has_value());

    // Clear All drops the readings on purpose: the journal starts again.
    ASSERT_TRUE(session.recording().clearAll().ok());
    EXPECT_TRUE(journalled(path).empty());
    record("4.5");
    EXPECT_EQ(journalled(path).size(), 1u);

    ASSERT_TRUE(session.finishRecording().ok());
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(session.journaling());
}

// Only one session may run at a time: these make their own, one after the other.
TEST(SessionJournal, AJournalLeftByACrashIsRecoveredAtTheNextStartOnly) {
    kxtest::TableFolder tables;
    const QString folder = tables.path("journal");
    {
        AppSession crashed(tables.setup());
        ASSERT_TRUE(crashed.openLiveTableAtStart().ok());
        ASSERT_TRUE(crashed.startJournal().ok());
        MeterDisplay d;
        for (const char* v : {"10.1", "20.2"}) {
            d.reading = v;
            crashed.decodeFrame(frameHex(encodeFrame(d)));
        }
        ASSERT_EQ(crashed.liveTable().rowCount(), 2);
        // While its program runs, a journal is nobody's to recover.
        EXPECT_TRUE(leftOverJournals(folder).isEmpty());
        crashed.keepJournal();
    }
    ASSERT_EQ(journalsIn(folder).size(), 1);
    AppSession session(tables.setup());

    const QDateTime now(QDate(2026, 12, 9), QTime(17, 42));
    const JournalRecovery found = session.recoverJournals(now);
    EXPECT_TRUE(found.errors.isEmpty()) << found.errors.join('\n').toStdString();
    ASSERT_EQ(found.tables.size(), 1);
    EXPECT_EQ(found.tables[0], tables.path("recovered-2612091742.db"));
    const Result<px::TableReader> r = px::TableReader::open(found.tables[0]);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().info().recordCount, 2);
    EXPECT_TRUE(r.value().info().keyed);
    EXPECT_TRUE(journalsIn(folder).isEmpty());
    // Nothing is left for a second start.
    EXPECT_TRUE(session.recoverJournals(now).tables.isEmpty());
}

TEST(SessionJournal, WithoutAJournalFolderNothingIsJournalled) {
    kxtest::TableFolder tables;
    kx::SessionSetup setup = tables.setup();
    setup.journalFolder.clear();
    AppSession cli(setup);
    ASSERT_TRUE(cli.openLiveTableAtStart().ok());
    ASSERT_TRUE(cli.startJournal().ok());
    EXPECT_FALSE(cli.journaling());
    EXPECT_TRUE(cli.recoverJournals(QDateTime::currentDateTime()).tables.isEmpty());
}
