// The window's ways of opening a table file (File > Open, a recent entry, the store's Open)
// give the journal of a recording into it its due, as the command line's readers do.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/session_fixture.h"
#include "app/store_commands.h"
#include "support/journal_scene.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kx;
using namespace kxtest;

TEST(OpenWithJournal, EveryOpenShowsTheReadingsAndSaysWhereTheyAre) {
    struct Opener {
        const char* name;
        Status (*open)(AppSession&, const QString&);
        ReadingsTable& (*table)(AppSession&);
    };
    const Opener openers[] = {
        {"File > Open", [](AppSession& s, const QString& p) { return s.files().openDataFile(p); },
         [](AppSession& s) -> ReadingsTable& { return s.liveTable(); }},
        {"recent entry",
         [](AppSession& s, const QString& p) {
             if (Status listed = s.files().listFirst(p); !listed)
                 return listed;
             return s.files().openRecent(1);
         },
         [](AppSession& s) -> ReadingsTable& { return s.liveTable(); }},
        {"store's Open", [](AppSession& s, const QString& p) { return StoreCommands(s).open(p); },
         [](AppSession& s) -> ReadingsTable& { return s.storeTable(); }},
    };
    struct Case {
        const char* name;
        Journal kind;
        const char* says;
        bool fileGetsThem;
        qint64 unsaved; // the live table's readings that are in no file
    };
    const Case cases[] = {
        {"left over", Journal::LeftOver, "were added to it", true, 0},
        {"left over, table read-only", Journal::ReadOnly, "are shown, but not yet in the file",
         false, kJournalled},
        {"recording runs", Journal::Running,
         "is in progress: 3 readings after its last checkpoint are shown", false, 0},
    };
    for (const Case& c : cases) {
        for (const Opener& opener : openers) {
            SCOPED_TRACE(std::string(c.name) + ": " + opener.name);
            JournalScene scene(c.kind);
            TableFolder tables;
            AppSession session(tables.setup());
            ASSERT_TRUE(session.openLiveTableAtStart().ok());
            QSignalSpy notes(&session, &AppSession::journalNote);

            const Status s = opener.open(session, scene.table);
            ASSERT_TRUE(s.ok()) << s.error().toStdString();
            ReadingsTable& table = opener.table(session);
            EXPECT_EQ(table.rowCount(), kInFile + kJournalled);
            ASSERT_EQ(notes.size(), 1);
            EXPECT_TRUE(notes[0][0].toString().contains(c.says))
                << notes[0][0].toString().toStdString();
            if (&table == &session.liveTable()) {
                EXPECT_EQ(session.unsavedReadings(), c.unsaved);
            }
            EXPECT_EQ(numbersIn(scene.table), oneTo(kInFile + (c.fileGetsThem ? kJournalled : 0)));
            EXPECT_EQ(QFile::exists(scene.journal()), !c.fileGetsThem);
            if (c.kind == Journal::Running) {
                // The recorder keeps its file: emptying it from here is refused.
                table.close();
                EXPECT_FALSE(table.emptyTable().ok());
                EXPECT_EQ(numbersIn(scene.table), oneTo(kInFile));
            }
        }
    }
}
