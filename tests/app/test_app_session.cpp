// The session's commands without any window: what the main window and the command-line
// front end both rely on.
#include "app/app_session.h"
#include "app/session_fixture.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "paradox/paradox_reader.h"
#include "recording/table_file_io.h"

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
        session.decoder().ShowDataKx30(frameHex(encodeFrame(d)));
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
