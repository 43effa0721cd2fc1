// The main window's start-up with the settings file, its recent-file entries, Open, Save As,
// the three ways out and the readings a crashed run left.
#include "app/file_commands.h"
#include "app/window_fixture.h"
#include "exports/table_export.h"
#include "readings/readings_table_model.h"
#include "readings/ui/readings_grid.h"
#include "support/journal_scene.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

using namespace kx;
using kxtest::recordsOnDisk;

namespace {

struct FilesWindow : kxtest::WindowTest {
    QAction* action(const char* name) { return find<QAction>(name); }
    // The File menu after Exit, as "text|hidden".
    std::vector<std::string> tail() {
        std::vector<std::string> out;
        bool after = false;
        for (const QAction* a : find<QMenu>("FileSet1")->actions()) {
            after = after || a->objectName() == "Exit";
            if (!after || a->objectName() == "Exit")
                continue;
            out.push_back((a->isSeparator() ? std::string("-") : a->text().toStdString()) +
                          (a->isVisible() ? "" : "|hidden"));
        }
        return out;
    }
    // A recording saved as the user saves it.
    QString usersFile(const char* name, int n) {
        showReadings(n, 200);
        const QString path = tables.path(name);
        EXPECT_TRUE(session.files().saveAs(path, ExportKind::Live).saved());
        return path;
    }
    QByteArray settings() const { return fileBytes(tables.settingsPath()); }
};

} // namespace

TEST_F(FilesWindow, StoredEntriesShowByTheirLength) {
    using Tail = std::vector<std::string>;
    const struct {
        QByteArray settings;
        Tail tail;
    } cases[] = {
        {"[Historyfile]\n", {"-|hidden", "|hidden", "|hidden", "|hidden", "|hidden", "|hidden"}},
        {"[Historyfile]\nNo1=abcd\nNo2=&2   \nNo3=&3   /data/three.db\nNo5=&5   /x\n",
         {"-|hidden", "abcd|hidden", "&2|hidden", "&3   /data/three.db", "|hidden", "&5   /x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings.constData());
        restart(c.settings);
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_FALSE(win.startUpEnded());
        EXPECT_TRUE(session.files().settingsLoaded());
        EXPECT_EQ(session.files().settingsPath(), tables.settingsPath()) << "the program folder's";
        EXPECT_EQ(session.link().LinkPort, 5);
        EXPECT_EQ(tail(), c.tail);
    }
}

TEST_F(FilesWindow, MissingSettingsFileWarnsAndEndsWithNoWindow) {
    ASSERT_TRUE(QFile::remove(tables.settingsPath()));
    restart();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "warning");
    EXPECT_EQ(boxes.shown[0].text,
              " Warning:some component or files had been deleted,please setup again! ");
    EXPECT_TRUE(win.startUpEnded());
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(session.samplingTimer().isActive()) << "nothing runs for a program that ends";
    EXPECT_NE(session.link().LinkPort, 5);
    EXPECT_FALSE(action("FileSep")->isVisible());
    // Ending then writes nothing and creates no file.
    win.Panel3Click();
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(tables.settingsPath()));
}

TEST_F(FilesWindow, OpenShowsTheFileAndListsIt) {
    const QString mine = usersFile("mine.db", 4);
    // Cancelled: nothing changes.
    const qint64 rows = session.liveTable().rowCount();
    win.OpenClick();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].filters.front(), "access data files (*.DB *.db)");
    EXPECT_EQ(session.liveTable().rowCount(), rows);
    EXPECT_FALSE(action("FileSep")->isVisible());

    answer(mine);
    find<QToolButton>("SpeedButton3")->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(session.liveTable().filePath(), mine);
    EXPECT_FALSE(session.liveIsScratch());
    EXPECT_EQ(session.liveTable().rowCount(), 4);
    EXPECT_EQ(session.recording().NextRecordNo, 5) << "numbering goes on where it was";
    EXPECT_EQ(tail(), (std::vector<std::string>{"-", ("&1   " + mine).toStdString(), "&2   |hidden",
                                                "&3   |hidden", "&4   |hidden", "&5   |hidden"}));

    // A damaged file: the engine's message, the list stays.
    const QString junk = tables.path("junk.db");
    ASSERT_TRUE(putFile(junk, "junk"));
    answer(junk);
    action("Open")->trigger();
    ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_TRUE(boxes.shown[0].text.contains("junk.db"));
    EXPECT_FALSE(session.liveTable().isOpen());
    EXPECT_EQ(action("filename1")->text(), "&1   " + mine);
    EXPECT_FALSE(action("filename2")->isVisible());
}

TEST_F(FilesWindow, OpenOffersToSalvageADamagedTable) {
    const QString dam = usersFile("dam.db", 6);
    QByteArray b = fileBytes(dam);
    b[6] = static_cast<char>(b[6] + 1); // the header counts one record more
    ASSERT_TRUE(putFile(dam, b));
    const QString salvaged = tables.path("dam-salvaged.db");

    answer(dam);
    win.OpenClick(); // Cancel
    ASSERT_EQ(kinds(), std::vector<std::string>{"confirm"});
    EXPECT_TRUE(boxes.shown[0].text.contains("the header counts 7 records"));
    EXPECT_TRUE(boxes.shown[0].text.contains("Salvage the 6 records"));
    EXPECT_FALSE(QFileInfo::exists(salvaged));
    EXPECT_FALSE(session.liveTable().isOpen());

    boxes.shown.clear();
    boxes.confirmAnswer = true;
    answer(dam);
    win.OpenClick();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"confirm", "information"}));
    EXPECT_TRUE(boxes.shown[1].text.contains("6 records of")) << boxes.shown[1].text.toStdString();
    EXPECT_TRUE(boxes.shown[1].text.contains("No record was left out"));
    EXPECT_EQ(session.liveTable().filePath(), salvaged);
    EXPECT_EQ(session.liveTable().rowCount(), 6);
    EXPECT_EQ(action("filename1")->text(), "&1   " + salvaged);
    EXPECT_EQ(fileBytes(dam), b);
}

TEST_F(FilesWindow, PathWithAmpersandShowsAndOpens) {
    const QString odd = usersFile("R&D.db", 2);
    answer(odd);
    win.OpenClick();
    QAction* entry = action("filename1");
    EXPECT_EQ(entry->text(), "&1   " + QString(odd).replace("&", "&&"));
    EXPECT_EQ(session.files().recent().caption(1), "&1   " + odd);
    win.ExitClick(); // closes the table; the user's file keeps its records
    ASSERT_FALSE(session.liveTable().isOpen());
    entry->trigger();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(session.liveTable().filePath(), odd);
    EXPECT_EQ(session.liveTable().rowCount(), 2);
}

TEST_F(FilesWindow, RecentEntryThatCannotOpenGivesTheEnginesMessage) {
    restart("[Historyfile]\nNo1=&1   " + tables.path("gone.db").toUtf8() + "\n");
    EXPECT_TRUE(action("FileSep")->isVisible());
    action("filename1")->trigger();
    ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_TRUE(boxes.shown[0].text.contains("gone.db"));
    EXPECT_FALSE(session.liveTable().isOpen());
}

TEST_F(FilesWindow, SaveAsAsksWithItsFiltersAndTellsTheOutcome) {
    showReadings(2);
    // Cancelled: no file, no box.
    win.Save_asClick();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    const FileDialogRequest& r = dialogs.asked[0];
    EXPECT_EQ(r.filters.mid(0, 4), (QStringList{"DB File(*.db *.DB)", "Txt File(*.txt *.TXT)",
                                                "Excel File(*.xls *.XLS)", "All File(*)"}));
    EXPECT_EQ(r.filters.mid(4),
              (QStringList{"Excel Workbook(*.xlsx *.XLSX)", "CSV UTF-8(*.csv *.CSV)",
                           "CSV UTF-8 (semicolon, decimal comma)(*.csv *.CSV)",
                           "JSON Lines(*.jsonl *.JSONL)"}));
    EXPECT_EQ(r.filter, 0);
    EXPECT_EQ(r.defaultSuffix, "xls");
    EXPECT_EQ(r.filterSuffixes,
              (QStringList{"xls", "xls", "xls", "xls", "xlsx", "csv", "csv", "jsonl"}));
    EXPECT_TRUE(r.confirmOverwrite);
    EXPECT_TRUE(boxes.shown.empty());

    const QString text = tables.path("saved.xls");
    answer(text, 2);
    find<QToolButton>("SpeedButton1")->click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"plain"});
    EXPECT_EQ(boxes.shown[0].text, "save table to specified file: " + text + " Scuss!");
    EXPECT_TRUE(fileBytes(text).startsWith(textExportHeader()));
    ASSERT_FALSE(progress.updates.empty());
    EXPECT_EQ(progress.updates.back(), (std::pair<qint64, qint64>{2, 2}));

    // The filter chosen is offered first next time; a keyed copy says nothing.
    const QString db = tables.path("saved.db");
    answer(db);
    action("Save_as")->trigger();
    EXPECT_EQ(dialogs.asked.back().filter, 2);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(recordsOnDisk(db), 2);

    // A duplicate number: the engine's message in the error box, the old copy kept.
    session.recording().NextRecordNo = 1;
    show("3");
    const QByteArray before = fileBytes(db);
    answer(db);
    win.Save_asClick();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"plain", "error"}));
    EXPECT_EQ(boxes.shown[1].text, "Key violation: No 1 appears twice");
    EXPECT_EQ(fileBytes(db), before);
}

TEST_F(FilesWindow, TextSaveAsLeavesTheGridOnTheLastRecord) {
    showReadings(4);
    auto* grid = find<ReadingsGrid>("DBGrid1");
    grid->setCurrentIndex(grid->tableModel()->index(1, 2));
    // A keyed copy does not walk the table: the grid stays.
    answer(tables.path("copy.db"));
    win.Save_asClick();
    EXPECT_EQ(grid->currentRecord(), 1);
    // The text export walks to the end, and the grid with it (in the same column).
    answer(tables.path("copy.txt"), 1);
    win.Save_asClick();
    EXPECT_EQ(grid->currentRecord(), 3);
    EXPECT_EQ(grid->currentIndex().column(), 2);
    EXPECT_EQ(session.liveTable().cursor(), 3);
}

TEST_F(FilesWindow, CancelledSaveLeavesTheTargetAndSaysNothing) {
    session.recording().setRecordLimit(RecordingControl::kLimitless);
    for (int i = 0; i < 20000; ++i) {
        session.liveTable().append();
        ASSERT_TRUE(session.liveTable().setFieldInt("No", i + 1).ok());
        ASSERT_TRUE(session.liveTable().post().ok());
    }
    const QString out = tables.path("big.txt");
    ASSERT_TRUE(putFile(out, "previous"));
    progress.cancelAt = 10000;
    answer(out, 1);
    win.Save_asClick();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(fileBytes(out), "previous");
    ASSERT_EQ(progress.labels.size(), 1u);
    EXPECT_TRUE(progress.labels[0].contains("big.txt"));
}

TEST_F(FilesWindow, ExitPanelKeepsTheListTheOtherExitsDoNot) {
    const QString mine = usersFile("mine.db", 1);
    const QByteArray initial = settings();

    // The close box.
    answer(mine);
    win.OpenClick();
    win.show();
    win.close();
    EXPECT_EQ(settings(), initial);
    EXPECT_TRUE(session.liveTable().isOpen()) << "the close box closes no table";

    // File > Exit.
    win.show();
    action("Exit")->trigger();
    EXPECT_FALSE(win.isVisible());
    EXPECT_EQ(settings(), initial);

    // The EXIT panel closes both tables and writes every entry.
    ASSERT_TRUE(session.storeTable().open().ok());
    win.show();
    win.Panel3Click();
    EXPECT_FALSE(win.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(session.liveTable().isOpen());
    EXPECT_FALSE(session.storeTable().isOpen());
    EXPECT_EQ(settings(), "[Historyfile]\nNo1=&1   " + mine.toUtf8() +
                              "\nNo2=&2   \nNo3=&3   \nNo4=&4   \nNo5=&5   \n");
    EXPECT_EQ(recordsOnDisk(mine), 1);

    // At the next start, the entry is there.
    restart();
    EXPECT_TRUE(action("FileSep")->isVisible());
    EXPECT_EQ(action("filename1")->text(), "&1   " + mine);
    EXPECT_FALSE(action("filename2")->isVisible());
}

TEST_F(FilesWindow, ExitPanelEndsEvenWhenTheListCannotBeWritten) {
    ASSERT_TRUE(session.files().openDataFile(tables.path("pw60SD.DB")).ok());
    ASSERT_TRUE(QFile::setPermissions(tables.settingsPath(), QFile::ReadOwner));
    const QByteArray before = settings();
    win.show();
    win.Panel3Click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(boxes.shown[0].text, "Unable to write to " + tables.settingsPath());
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(session.liveTable().isOpen()) << "the tables are closed all the same";
}

TEST_F(FilesWindow, ReadingsOfACrashedRunAreSavedListedAndTold) {
    const QString journals = tables.path("journal");
    auto journalFiles = [&] {
        return QDir(journals).entryList({QStringLiteral("*.journal")}, QDir::Files);
    };
    ASSERT_TRUE(session.journaling());
    showReadings(2);
    // Killed: nothing ends the journal.
    session.keepJournal();
    restart();
    ASSERT_EQ(kinds(), std::vector<std::string>{"information"});
    EXPECT_TRUE(boxes.shown[0].text.contains("recovered-")) << boxes.shown[0].text.toStdString();
    const QString recovered = session.files().recent().path(1);
    EXPECT_TRUE(boxes.shown[0].text.contains(recovered));
    EXPECT_TRUE(action("filename1")->isVisible());
    EXPECT_EQ(recordsOnDisk(recovered), 2);
    // The old journal is gone; this run keeps one of its own.
    ASSERT_EQ(journalFiles().size(), 1);
    EXPECT_EQ(QDir(journals).filePath(journalFiles()[0]), session.journalPath());

    // The recovered file opens from the list like any other.
    win.filename1Click();
    EXPECT_EQ(session.liveTable().filePath(), recovered);
    EXPECT_EQ(session.liveTable().rowCount(), 2);

    // A normal ending removes the journal.
    win.Panel3Click();
    EXPECT_TRUE(journalFiles().isEmpty());
}

// Open of a table a command-line recording journalled beside says what became of its readings.
TEST_F(FilesWindow, OpenTellsWhatARecordingBesideTheFileLeft) {
    using kxtest::Journal;
    const struct {
        Journal kind;
        const char* says;
    } cases[] = {{Journal::LeftOver, "were added to it"},
                 {Journal::Running, "is in progress: 3 readings after its last checkpoint"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        kxtest::JournalScene scene(c.kind);
        boxes.shown.clear();
        answer(scene.table);
        win.OpenClick();
        ASSERT_EQ(kinds(), std::vector<std::string>{"information"});
        EXPECT_TRUE(boxes.shown[0].text.contains(c.says)) << boxes.shown[0].text.toStdString();
        EXPECT_EQ(session.liveTable().rowCount(), kxtest::kInFile + kxtest::kJournalled);
        // The window lets go of the file before the scene's folder goes.
        ASSERT_TRUE(session.files().newRecording().ok());
    }
}
