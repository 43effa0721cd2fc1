// The session's recording journal without any window: what the main window and the
// command-line front end both rely on.
#include "app/app_session.h"
#include "app/recording_status.h"
#include "app/session_fixture.h"
#include "recording/recording_journal.h"
#include "support/write_faults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kx;
using kxtest::frameShowing;

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

// A session whose live table is open, recording what it is shown.
AppSession& started(AppSession& s) {
    EXPECT_TRUE(s.openLiveTableAtStart().ok());
    EXPECT_TRUE(s.startJournal().ok());
    return s;
}

} // namespace

TEST(SessionJournal, ReadingsAreJournalledUntilANormalEnding) {
    kxtest::TableFolder tables;
    AppSession session(tables.setup());
    started(session);
    const QString path = session.journalPath();
    ASSERT_TRUE(QFileInfo::exists(path));
    for (const char* v : {"1.5", "2.5", "3.5"})
        session.decodeFrame(frameShowing(v));
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
    session.decodeFrame(frameShowing("4.5"));
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
        started(crashed);
        crashed.decodeFrame(frameShowing("10.1"));
        crashed.decodeFrame(frameShowing("20.2"));
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
    started(cli);
    EXPECT_FALSE(cli.journaling());
    EXPECT_TRUE(cli.recoverJournals(QDateTime::currentDateTime()).tables.isEmpty());
}

// A journal that cannot be written: recording goes on, the status line says the readings are
// not kept safe until the journal works again, and a recovery brings back what the journal
// kept and names what it could not.
TEST(SessionJournal, AJournalThatCannotBeWrittenIsToldAndItsGapNamed) {
    const struct {
        const char* name;
        int before;        // readings recorded before the disk fills; -1: full at the start
        int whileFull;     // readings recorded while it is full
        bool spaceReturns; // then the journal is tried again and two more are recorded
        int recovered;     // readings the next start brings back
        const char* note;  // in what it says
        int unstarted;
    } cases[] = {
        {"full at start", -1, 5, false, 0, "", 1},
        {"fills while recording", 3, 7, false, 3, "Not recovered: the readings from No. 4 on", 0},
        {"space comes back", 3, 7, true, 12, "12 readings (No. 1\u201312)", 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        kxtest::TableFolder tables;
        {
            AppSession session(tables.setup());
            QSignalSpy told(&session, &AppSession::keepingChanged);
            std::optional<kxtest::FileSizeLimit> full;
            ASSERT_TRUE(session.openLiveTableAtStart().ok());
            if (k.before < 0)
                full.emplace(0);
            EXPECT_EQ(session.startJournal().ok(), k.before >= 0);
            for (int i = 0; i < k.before; ++i)
                session.decodeFrame(frameShowing(std::to_string(10 + i)));
            if (k.before >= 0)
                full.emplace(QFileInfo(session.journalPath()).size() + 10);
            for (int i = 0; i < k.whileFull; ++i)
                session.decodeFrame(frameShowing(std::to_string(50 + i)));
            EXPECT_EQ(session.liveTable().rowCount(), std::max(k.before, 0) + k.whileFull)
                << "recording goes on";
            session.recordingStatus().refresh();
            const RecordingState unsafe = session.recordingStatus().state();
            EXPECT_TRUE(unsafe.text().contains("NOT KEPT SAFE")) << unsafe.text().toStdString();
            ASSERT_EQ(told.count(), 1) << "told once";
            EXPECT_FALSE(told[0][0].toString().isEmpty());
            if (k.spaceReturns) {
                full.reset();
                session.keeper().retryJournal();
                for (int i = 0; i < 2; ++i)
                    session.decodeFrame(frameShowing(std::to_string(90 + i)));
                session.recordingStatus().refresh();
                EXPECT_FALSE(session.recordingStatus().state().text().contains("NOT KEPT SAFE"));
                ASSERT_EQ(told.count(), 2);
                EXPECT_TRUE(told[1][0].toString().isEmpty()) << "safe again";
            }
            full.reset();
            session.keepJournal(); // killed
        }
        AppSession next(tables.setup());
        const JournalRecovery found = next.recoverJournals(QDateTime::currentDateTime());
        EXPECT_EQ(found.unstarted, k.unstarted);
        ASSERT_EQ(found.tables.size(), k.recovered > 0 ? 1 : 0);
        if (k.recovered > 0) {
            EXPECT_EQ(kxtest::recordsOnDisk(found.tables[0]), k.recovered);
            EXPECT_TRUE(found.notes[0].contains(QString::fromUtf8(k.note)))
                << found.notes[0].toStdString();
            EXPECT_EQ(found.notes[0].contains("Not recovered"), !k.spaceReturns);
        }
        EXPECT_TRUE(journalsIn(tables.path("journal")).isEmpty());
    }
}
