// The recording state the status line shows, worked out by the session for any front end.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/recording_status.h"
#include "app/session_fixture.h"
#include "link/sim_usb_serial_cable.h"
#include "readings/readings_schema.h"
#include "support/table_files.h"
#include "support/wait_for.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kx;
using Kind = RecordingState::Kind;

namespace {

struct StatusLineState : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    kxtest::TableFolder tables;
    std::unique_ptr<AppSession> session = std::make_unique<AppSession>(tables.setup(bus));
    RecordingStatus& status = session->recordingStatus();

    const RecordingState& now() {
        status.refresh();
        return status.state();
    }
    QString scratch() const { return QDir::toNativeSeparators(tables.path("Pw60bdb.DB")); }

    // A cable with a silent meter; readings are shown by the test.
    void plugCable() {
        bus->plug(std::make_shared<SimUsbSerialCable>(
            std::make_unique<SimulatedCable>([](std::int64_t) { return std::nullopt; }),
            CableClock::Virtual));
    }
    void connectCable() {
        plugCable();
        ASSERT_TRUE(session->connectLink());
    }
    void show(const std::string& value) { session->decodeFrame(kxtest::frameShowing(value)); }
};

} // namespace

TEST_F(StatusLineState, TellsWhetherReadingsAreRecordedAndWhyNot) {
    EXPECT_EQ(now().kind, Kind::TableClosed);
    EXPECT_EQ(now().text(), "Not recording: " + scratch() + " is closed");
    ASSERT_TRUE(session->openLiveTableAtStart().ok());
    EXPECT_EQ(now().text(), "Not connected");

    connectCable();
    EXPECT_EQ(now().text(), "Connected: waiting for readings to record to " + scratch());
    show("1.5");
    EXPECT_EQ(now().text(), "Recording to " + scratch() + ": 1 reading");
    show("2.5");
    EXPECT_EQ(now().text(), "Recording to " + scratch() + ": 2 readings");

    // The limit reached: the meter goes on, nothing is recorded.
    session->recording().setRecordLimit(2);
    EXPECT_EQ(now().text(), "Recording stopped: record limit of 2 reached");
    show("3.5");
    EXPECT_EQ(session->liveTable().rowCount(), 2);
    EXPECT_EQ(now().kind, Kind::LimitReached);
    session->recording().setRecordLimit(10000);
    EXPECT_EQ(now().kind, Kind::Recording);

    // The watchdog drops the link; the user's CONNECT clears it.
    kxtest::silenceMeter(*session);
    EXPECT_EQ(now().kind, Kind::LinkDropped);
    EXPECT_TRUE(now().text().startsWith("Link dropped: the meter sent no readings"))
        << now().text().toStdString();
    session->link().Panel2Click();
    EXPECT_EQ(now().kind, Kind::Waiting);

    // Any device change stops the reading while connected.
    plugCable();
    ASSERT_TRUE(kx::test::waitUntil([&] { return session->link().DevListBox().size() == 2; }));
    EXPECT_TRUE(now().text().startsWith("Link dropped: a USB device was plugged in or removed"))
        << now().text().toStdString();
    session->link().Panel2Click(); // DISCONNECT
    EXPECT_EQ(now().text(), "Not connected");
}

TEST_F(StatusLineState, SaysWhyTheOpenedFileRecordsNothing) {
    ASSERT_TRUE(session->openLiveTableAtStart().ok());
    connectCable();

    // A file that is no table: the live table stays closed, the status line says why.
    const QString junk = tables.path("junk.db");
    ASSERT_TRUE(putFile(junk, "junk"));
    const Status opened = session->files().openDataFile(junk);
    ASSERT_FALSE(opened.ok());
    show("4.5");
    EXPECT_EQ(session->liveTable().rowCount(), 0);
    const RecordingState failed = now();
    EXPECT_EQ(failed.kind, Kind::OpenFailed);
    EXPECT_TRUE(failed.text().startsWith("Not recording: " + QDir::toNativeSeparators(junk) +
                                         " could not be opened: "))
        << failed.text().toStdString();
    EXPECT_FALSE(failed.reason.isEmpty());
    EXPECT_FALSE(failed.reason.contains('\n'));

    // A table without the fields a reading needs opens, but every append fails.
    const QString store = tables.path("stored.db");
    ASSERT_TRUE(px::writeKeyedTable(store, readingsFields(true), {}).ok());
    ASSERT_TRUE(session->files().openDataFile(store).ok());
    show("5.5");
    EXPECT_EQ(now().kind, Kind::RecordingFailed);
    EXPECT_EQ(now().text(), "Not recording: Field 'Value' not found");

    // A readings table records again.
    ASSERT_TRUE(session->files().newRecording().ok());
    show("6.5");
    EXPECT_EQ(now().text(), "Recording to " + scratch() + ": 1 reading");
}

TEST_F(StatusLineState, ChangesAreGatheredBeforeTheyAreTold) {
    ASSERT_TRUE(session->openLiveTableAtStart().ok());
    connectCable();
    QSignalSpy told(&status, &RecordingStatus::recordingStateChanged);
    now();
    told.clear();
    for (int i = 0; i < 50; ++i)
        show(std::to_string(100 + i));
    EXPECT_EQ(told.count(), 0) << "nothing is told at once";
    ASSERT_TRUE(kx::test::waitUntil([&] { return told.count() > 0; }));
    // Let any further timer run out: one change told for fifty readings.
    kx::test::waitUntil([] { return false; }, 3 * RecordingStatus::kCoalesceMs);
    ASSERT_EQ(told.count(), 1);
    EXPECT_EQ(told[0][0].value<RecordingState>().readings, 50);
}
