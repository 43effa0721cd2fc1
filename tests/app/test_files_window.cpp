// The main window's start-up with the settings file, its recent-file entries, New, Open,
// Save As and the three ways out.
#include "app/file_commands.h"
#include "app/ui/main_window.h"
#include "app/window_fixture.h"
#include "link/meter_simulator.h"
#include "paradox/paradox_reader.h"
#include "recording/readings_table_model.h"
#include "recording/table_export.h"
#include "recording/ui/readings_grid.h"
#include "support/table_files.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kx;
using kxtest::RecordedBoxes;

namespace {

// The stored list a window starts with, then the window.
struct FilesWindow : ::testing::Test {
    kxtest::TableFolder tables;
    RecordedBoxes boxes;
    kxtest::ScriptedDialogs dialogs;
    kxtest::ScriptedProgress progress;
    std::unique_ptr<AppSession> session;
    std::unique_ptr<TFrmTest> win;

    void start(const QByteArray& settings = "[Historyfile]\n") {
        ASSERT_TRUE(putFile(tables.settingsPath(), settings));
        session = std::make_unique<AppSession>(tables.setup());
        win = std::make_unique<TFrmTest>(*session, UiServices{&boxes, &dialogs, &progress});
    }
    QAction* action(const char* name) {
        auto* a = win->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    // The File menu from Exit down, as "text|hidden".
    std::vector<std::string> tail() {
        std::vector<std::string> out;
        bool after = false;
        for (const QAction* a : win->findChild<QMenu*>("FileSet1")->actions()) {
            after = after || a->objectName() == "Exit";
            if (!after || a->objectName() == "Exit")
                continue;
            out.push_back((a->isSeparator() ? std::string("-") : a->text().toStdString()) +
                          (a->isVisible() ? "" : "|hidden"));
        }
        return out;
    }
    void record(const char* value) {
        MeterDisplay d;
        d.reading = value;
        session->decodeFrame(frameHex(encodeFrame(d)));
    }
    // A recording saved as the user saves it.
    QString usersFile(const char* name, int n) {
        for (int i = 0; i < n; ++i)
            record(std::to_string(200 + i).c_str());
        const QString path = tables.path(name);
        EXPECT_TRUE(session->files().saveAs(path, ExportKind::Live).saved());
        return path;
    }
};

} // namespace

TEST_F(FilesWindow, NoStoredFilesEndTheMenuAtExit) {
    start();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(win->startUpEnded());
    EXPECT_EQ(session->link().LinkPort, 5);
    EXPECT_EQ(tail(), (std::vector<std::string>{"-|hidden", "|hidden", "|hidden", "|hidden",
                                                "|hidden", "|hidden"}));
}

TEST_F(FilesWindow, StoredEntriesShowByTheirLength) {
    start("[Historyfile]\nNo1=abcd\nNo2=&2   \nNo3=&3   /data/three.db\nNo5=&5   /x\n");
    EXPECT_EQ(tail(), (std::vector<std::string>{"-|hidden", "abcd|hidden", "&2|hidden",
                                                "&3   /data/three.db", "|hidden", "&5   /x"}));
}

TEST_F(FilesWindow, MissingSettingsFileWarnsAndEndsWithNoWindow) {
    kxtest::TableFolder bare;
    ASSERT_TRUE(QFile::remove(bare.settingsPath()));
    AppSession s(bare.setup());
    TFrmTest w(s, UiServices{&boxes, &dialogs, &progress});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "warning");
    EXPECT_EQ(boxes.shown[0].text,
              " Warning:some component or files had been deleted,please setup again! ");
    EXPECT_TRUE(w.startUpEnded());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(s.samplingTimer().isActive()) << "nothing runs for a program that ends";
    EXPECT_NE(s.link().LinkPort, 5);
    EXPECT_FALSE(w.findChild<QAction*>("FileSep")->isVisible());
}

TEST_F(FilesWindow, OpenShowsTheFileAndListsIt) {
    start();
    const QString mine = usersFile("mine.db", 4);
    // Cancelled: nothing changes.
    const qint64 rows = session->liveTable().rowCount();
    win->OpenClick();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].filters.front(), "access data files (*.DB *.db)");
    EXPECT_EQ(session->liveTable().rowCount(), rows);
    EXPECT_FALSE(action("FileSep")->isVisible());

    dialogs.answers.push_back(FileDialogAnswer{mine, 0});
    win->findChild<QToolButton*>("SpeedButton3")->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(session->liveTable().filePath(), mine);
    EXPECT_EQ(session->liveTable().rowCount(), 4);
    EXPECT_EQ(tail(), (std::vector<std::string>{"-", ("&1   " + mine).toStdString(), "&2   |hidden",
                                                "&3   |hidden", "&4   |hidden", "&5   |hidden"}));

    // A damaged file: the engine's message, the list stays.
    const QString junk = tables.path("junk.db");
    ASSERT_TRUE(putFile(junk, "junk"));
    dialogs.answers.push_back(FileDialogAnswer{junk, 0});
    action("Open")->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("junk.db"));
    EXPECT_FALSE(session->liveTable().isOpen());
    EXPECT_EQ(action("filename1")->text(), "&1   " + mine);
    EXPECT_FALSE(action("filename2")->isVisible());
}

TEST_F(FilesWindow, PathWithAmpersandShowsAndOpens) {
    start();
    const QString odd = usersFile("R&D.db", 2);
    dialogs.answers.push_back(FileDialogAnswer{odd, 0});
    win->OpenClick();
    QAction* entry = action("filename1");
    EXPECT_EQ(entry->text(), "&1   " + QString(odd).replace("&", "&&"));
    EXPECT_EQ(session->files().recent().caption(1), "&1   " + odd);
    win->ExitClick(); // closes the table; the user's file keeps its records
    ASSERT_FALSE(session->liveTable().isOpen());
    entry->trigger();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(session->liveTable().isOpen());
    EXPECT_EQ(session->liveTable().filePath(), odd);
    EXPECT_EQ(session->liveTable().rowCount(), 2);
}

TEST_F(FilesWindow, RecentEntryThatCannotOpenGivesTheEnginesMessage) {
    start("[Historyfile]\nNo1=&1   " + tables.path("gone.db").toUtf8() + "\n");
    EXPECT_TRUE(action("FileSep")->isVisible());
    action("filename1")->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("gone.db"));
    EXPECT_FALSE(session->liveTable().isOpen());
}

TEST_F(FilesWindow, SaveAsAsksWithItsFiltersAndTellsTheOutcome) {
    start();
    record("1");
    record("2");
    // Cancelled: no file, no box.
    win->Save_asClick();
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
    dialogs.answers.push_back(FileDialogAnswer{text, 2});
    win->findChild<QToolButton*>("SpeedButton1")->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "plain");
    EXPECT_EQ(boxes.shown[0].text, "save table to specified file: " + text + " Scuss!");
    EXPECT_TRUE(fileBytes(text).startsWith(textExportHeader()));
    EXPECT_FALSE(progress.updates.empty());
    EXPECT_EQ(progress.updates.back(), (std::pair<qint64, qint64>{2, 2}));

    // The filter chosen is offered first next time; a keyed copy says nothing.
    const QString db = tables.path("saved.db");
    dialogs.answers.push_back(FileDialogAnswer{db, 0});
    action("Save_as")->trigger();
    EXPECT_EQ(dialogs.asked.back().filter, 2);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(px::readTableInfo(db).value().recordCount, 2);

    // A duplicate number: the engine's message in the error box, the old copy kept.
    session->recording().NextRecordNo = 1;
    record("3");
    const QByteArray before = fileBytes(db);
    dialogs.answers.push_back(FileDialogAnswer{db, 0});
    win->Save_asClick();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].kind, "error");
    EXPECT_EQ(boxes.shown[1].text, "Key violation: No 1 appears twice");
    EXPECT_EQ(fileBytes(db), before);
}

TEST_F(FilesWindow, TextSaveAsLeavesTheGridOnTheLastRecord) {
    start();
    for (const char* v : {"1", "2", "3", "4"})
        record(v);
    auto* grid = win->findChild<ReadingsGrid*>("DBGrid1");
    ASSERT_NE(grid, nullptr);
    grid->setCurrentIndex(grid->tableModel()->index(1, 2));
    // A keyed copy does not walk the table: the grid stays.
    dialogs.answers.push_back(FileDialogAnswer{tables.path("copy.db"), 0});
    win->Save_asClick();
    EXPECT_EQ(grid->currentRecord(), 1);
    // The text export walks to the end, and the grid with it (in the same column).
    dialogs.answers.push_back(FileDialogAnswer{tables.path("copy.txt"), 1});
    win->Save_asClick();
    EXPECT_EQ(grid->currentRecord(), 3);
    EXPECT_EQ(grid->currentIndex().column(), 2);
    EXPECT_EQ(session->liveTable().cursor(), 3);
}

TEST_F(FilesWindow, CancelledSaveLeavesTheTargetAndSaysNothing) {
    start();
    session->recording().setRecordLimit(RecordingControl::kLimitless);
    for (int i = 0; i < 20000; ++i) {
        session->liveTable().append();
        ASSERT_TRUE(session->liveTable().setFieldInt("No", i + 1).ok());
        ASSERT_TRUE(session->liveTable().post().ok());
    }
    const QString out = tables.path("big.txt");
    ASSERT_TRUE(putFile(out, "previous"));
    progress.cancelAt = 10000;
    dialogs.answers.push_back(FileDialogAnswer{out, 1});
    win->Save_asClick();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(fileBytes(out), "previous");
    ASSERT_EQ(progress.labels.size(), 1u);
    EXPECT_TRUE(progress.labels[0].contains("big.txt"));
}

TEST_F(FilesWindow, NewAsksThenEmptiesTheRecording) {
    start();
    record("1");
    record("2");
    boxes.deleteAnswer = false;
    action("New")->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "delete");
    EXPECT_EQ(boxes.shown[0].text, " Warning:all Records will be deleted! ");
    EXPECT_EQ(boxes.shown[0].file, tables.path("Pw60bdb.DB"));
    EXPECT_EQ(session->liveTable().rowCount(), 2) << "Cancel keeps the recording";
    EXPECT_EQ(session->recording().NextRecordNo, 3);

    boxes.deleteAnswer = true;
    action("New")->trigger();
    EXPECT_EQ(session->liveTable().rowCount(), 0);
    EXPECT_EQ(session->recording().NextRecordNo, 1);
    EXPECT_EQ(session->unsavedReadings(), 0);
}

TEST_F(FilesWindow, ExitPanelKeepsTheListTheOtherExitsDoNot) {
    start();
    const QString mine = usersFile("mine.db", 1);
    const QByteArray initial = fileBytes(tables.settingsPath());

    // The close box.
    dialogs.answers.push_back(FileDialogAnswer{mine, 0});
    win->OpenClick();
    win->show();
    win->close();
    EXPECT_EQ(fileBytes(tables.settingsPath()), initial);
    EXPECT_TRUE(session->liveTable().isOpen()) << "the close box closes no table";

    // File > Exit.
    win->show();
    action("Exit")->trigger();
    EXPECT_FALSE(win->isVisible());
    EXPECT_EQ(fileBytes(tables.settingsPath()), initial);

    // The EXIT panel.
    win->show();
    win->Panel3Click();
    EXPECT_FALSE(win->isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(fileBytes(tables.settingsPath()).contains("No1=&1   " + mine.toUtf8() + "\n"));
    EXPECT_EQ(px::TableReader::open(mine).value().info().recordCount, 1);

    // At the next start, the entry is there.
    win.reset();
    session.reset();
    session = std::make_unique<AppSession>(tables.setup());
    win = std::make_unique<TFrmTest>(*session, UiServices{&boxes, &dialogs, &progress});
    EXPECT_TRUE(action("FileSep")->isVisible());
    EXPECT_EQ(action("filename1")->text(), "&1   " + mine);
}

TEST_F(FilesWindow, ExitPanelEndsEvenWhenTheListCannotBeWritten) {
    start();
    ASSERT_TRUE(QFile::setPermissions(tables.settingsPath(), QFile::ReadOwner));
    win->show();
    win->Panel3Click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_EQ(boxes.shown[0].text, "Unable to write to " + tables.settingsPath());
    EXPECT_FALSE(win->isVisible());
}

TEST_F(FilesWindow, ReadingsOfACrashedRunAreSavedListedAndTold) {
    const QString journals = tables.path("journal");
    auto journalFiles = [&] {
        return QDir(journals).entryList({QStringLiteral("*.journal")}, QDir::Files);
    };
    start();
    ASSERT_TRUE(session->journaling());
    record("31.5");
    record("32.5");
    // Killed: nothing ends the journal.
    session->keepJournal();
    win.reset();
    session.reset();
    ASSERT_EQ(journalFiles().size(), 1);

    boxes.shown.clear();
    start();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_TRUE(boxes.shown[0].text.contains("recovered-")) << boxes.shown[0].text.toStdString();
    const QString recovered = session->files().recent().path(1);
    EXPECT_TRUE(boxes.shown[0].text.contains(recovered));
    EXPECT_TRUE(action("filename1")->isVisible());
    const Result<px::TableReader> r = px::TableReader::open(recovered);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().info().recordCount, 2);
    // The old journal is gone; this run keeps one of its own.
    ASSERT_EQ(journalFiles().size(), 1);
    EXPECT_EQ(QDir(journals).filePath(journalFiles()[0]), session->journalPath());

    // The recovered file opens from the list like any other.
    win->filename1Click();
    EXPECT_EQ(session->liveTable().filePath(), recovered);
    EXPECT_EQ(session->liveTable().rowCount(), 2);

    // A normal ending removes the journal.
    win->Panel3Click();
    EXPECT_TRUE(journalFiles().isEmpty());
}

TEST_F(FilesWindow, TheCloseBoxEndsTheJournalAStopSignalKeepsIt) {
    start();
    record("1");
    const QString first = session->journalPath();
    win->close();
    EXPECT_FALSE(QFileInfo::exists(first));

    win.reset();
    session.reset();
    start();
    record("2");
    const QString second = session->journalPath();
    // What the program's stop-signal handler does.
    session->keepJournal();
    win->endBySignal();
    EXPECT_TRUE(QFileInfo::exists(second));
}
