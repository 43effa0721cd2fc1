// The main window never loses a user's readings on one click: destructive commands ask,
// New leaves an opened file alone, leaving asks to save, a continued recording saves, and
// the status line says when nothing is recorded.
#include "app/file_commands.h"
#include "app/ui/status_line.h"
#include "app/window_fixture.h"

#include <QAction>
#include <QFileInfo>
#include <QStatusBar>
#include <QToolButton>

#include <algorithm>

using namespace kx;
using Answer = MessageBoxes::SaveAnswer;
using kxtest::recordsOnDisk;

namespace {

struct SessionSafety : kxtest::WindowTest {
    // A recording of `n` readings saved by Save As, then opened by File > Open.
    QString openSaved(const char* name, int n) {
        showReadings(n);
        const QString path = tables.path(name);
        EXPECT_TRUE(session.files().saveAs(path, ExportKind::Live).saved());
        answer(path);
        win.OpenClick();
        EXPECT_EQ(session.liveTable().filePath(), path);
        return path;
    }
};

} // namespace

// New and Clear All, on the scratch table and on a user's file: Cancel changes nothing; OK
// empties the recording and numbers from 1 again, and only Clear All empties the file.
TEST_F(SessionSafety, DestructiveCommandsAskFirst) {
    const QString clearWarning = QStringLiteral(" Warning:all Records will be deleted! ");
    const struct {
        const char* name;
        std::function<void(SessionSafety&)> command;
        bool isNew;
        bool onFile; // on a user's file of 4 readings opened by File > Open
        int unsaved; // readings recorded then
    } cases[] = {
        {"New", [](SessionSafety& t) { t.find<QAction>("New")->trigger(); }, true, false, 2},
        {"Clear All", [](SessionSafety& t) { t.find<QToolButton>("SpeedButton2")->click(); }, false,
         false, 3},
        {"Clear All on a file", [](SessionSafety& t) { t.win.ClearRClick(); }, false, true, 0},
        {"New on a file", [](SessionSafety& t) { t.win.NewClick(); }, true, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        const QString file = c.onFile ? openSaved("mine.db", 4) : tables.path("Pw60bdb.DB");
        showReadings(c.unsaved, 300);
        const qint64 rows = session.liveTable().rowCount();
        const std::int32_t next = session.recording().NextRecordNo;
        boxes.shown.clear();

        boxes.deleteAnswer = false;
        c.command(*this);
        ASSERT_EQ(kinds(), std::vector<std::string>{"delete"});
        EXPECT_EQ(boxes.shown[0].file, file);
        const QString& said = boxes.shown[0].text;
        if (c.isNew && c.onFile) {
            EXPECT_TRUE(said.contains("keeps its records")) << said.toStdString();
            EXPECT_TRUE(said.contains(
                QStringLiteral("The %1 readings recorded since the last save").arg(c.unsaved)));
        } else {
            EXPECT_EQ(said, clearWarning);
        }
        EXPECT_EQ(session.liveTable().filePath(), file);
        EXPECT_EQ(session.liveTable().rowCount(), rows);
        EXPECT_EQ(session.recording().NextRecordNo, next);
        EXPECT_EQ(recordsOnDisk(file), c.onFile ? 4 : 0);

        boxes.deleteAnswer = true;
        c.command(*this);
        EXPECT_EQ(kinds(), (std::vector<std::string>{"delete", "delete"}));
        EXPECT_TRUE(session.liveTable().isOpen());
        EXPECT_EQ(session.liveTable().rowCount(), 0);
        EXPECT_EQ(session.recording().NextRecordNo, 1);
        EXPECT_EQ(recordsOnDisk(file), c.onFile && c.isNew ? 4 : 0);
        if (c.isNew) {
            // Back to the emptied scratch table.
            EXPECT_TRUE(session.liveIsScratch());
            EXPECT_EQ(session.unsavedReadings(), 0);
            EXPECT_EQ(recordsOnDisk(tables.path("Pw60bdb.DB")), 0);
        }
        show("500");
        EXPECT_EQ(session.liveTable().fieldText(0, "No"), "1");
    }
}

TEST_F(SessionSafety, AContinuedRecordingSavesAsAKeyedTable) {
    const QString mine = openSaved("mine.db", 4);
    win.Panel3Click(); // the recent list is kept

    // The next run numbers from 1 until the file is opened from the recent list.
    restart();
    EXPECT_EQ(session.recording().NextRecordNo, 1);
    answer(mine);
    win.OpenClick();
    ASSERT_EQ(session.liveTable().filePath(), mine);
    EXPECT_EQ(session.recording().NextRecordNo, 5);
    win.NewClick();
    EXPECT_EQ(session.recording().NextRecordNo, 1);
    win.filename1Click();
    ASSERT_EQ(session.liveTable().filePath(), mine);
    EXPECT_EQ(session.recording().NextRecordNo, 5);
    showReadings(3, 700);
    EXPECT_EQ(session.liveTable().fieldText(4, "No"), "5");
    EXPECT_EQ(session.liveTable().fieldText(6, "No"), "7");

    const QString copy = tables.path("continued.db");
    boxes.shown.clear();
    answer(copy);
    win.Save_asClick();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown[0].text.toStdString();
    EXPECT_EQ(recordsOnDisk(copy), 7);
}

TEST_F(SessionSafety, LeavingWithUnsavedReadingsAsksToSaveThem) {
    const struct {
        const char* exit;
        std::function<void(TFrmTest&)> leave;
    } exits[] = {
        {"close box", [](TFrmTest& w) { w.close(); }},
        {"File > Exit", [](TFrmTest& w) { w.ExitClick(); }},
        {"EXIT panel", [](TFrmTest& w) { w.Panel3Click(); }},
    };
    // A new run with three readings recorded.
    auto run = [&] {
        restart();
        win.show();
        showReadings(3);
        boxes.shown.clear();
    };
    for (const auto& e : exits) {
        SCOPED_TRACE(e.exit);
        run();
        // Cancel: the program stays, with its readings and their journal.
        boxes.saveAnswer = Answer::Cancel;
        e.leave(win);
        ASSERT_EQ(kinds(), std::vector<std::string>{"save"});
        EXPECT_EQ(boxes.shown[0].text, "Save the 3 readings recorded since the last save?");
        EXPECT_TRUE(win.isVisible());
        EXPECT_EQ(session.liveTable().rowCount(), 3);
        const QString journal = session.journalPath();
        EXPECT_TRUE(QFileInfo::exists(journal));

        // Save, then the Save As dialog cancelled: still open.
        boxes.saveAnswer = Answer::Save;
        e.leave(win);
        EXPECT_TRUE(win.isVisible());
        EXPECT_EQ(session.unsavedReadings(), 3);

        // Save into a folder that is not there: the save fails, still open.
        answer(tables.path("gone/x.db"));
        e.leave(win);
        EXPECT_TRUE(win.isVisible());
        EXPECT_EQ(boxes.shown.back().kind, "error");

        // Discard leaves as before, and the journal goes with a normal ending.
        boxes.saveAnswer = Answer::Discard;
        e.leave(win);
        EXPECT_FALSE(win.isVisible());
        EXPECT_FALSE(QFileInfo::exists(journal));

        // Save with a name: written, then the program ends.
        run();
        boxes.saveAnswer = Answer::Save;
        const QString saved = tables.path("left.db");
        QFile::remove(saved);
        QFile::remove(tables.path("left.PX"));
        answer(saved);
        e.leave(win);
        EXPECT_FALSE(win.isVisible());
        EXPECT_EQ(recordsOnDisk(saved), 3);
        const std::vector<std::string> asked = kinds();
        EXPECT_EQ(std::count(asked.begin(), asked.end(), "save"), 1) << "asked once";
    }
}

TEST_F(SessionSafety, NothingUnsavedAsksNothing) {
    win.show();
    showReadings(2);
    EXPECT_EQ(session.unsavedReadings(), 2);
    answer(tables.path("all.txt"), 1);
    win.Save_asClick();
    EXPECT_EQ(session.unsavedReadings(), 0);
    // A reading deleted from the grid is one fewer to save; a saved one changes nothing.
    showReadings(2, 300);
    ASSERT_TRUE(session.liveTable().deleteRecord(0).ok());
    EXPECT_EQ(session.unsavedReadings(), 2);
    ASSERT_TRUE(session.liveTable().deleteRecord(2).ok());
    EXPECT_EQ(session.unsavedReadings(), 1);
    ASSERT_TRUE(session.liveTable().deleteRecord(1).ok());
    EXPECT_EQ(session.unsavedReadings(), 0);
    boxes.shown.clear();
    win.close();
    EXPECT_FALSE(win.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SessionSafety, AStopSignalNeverAsksAndKeepsTheJournal) {
    win.show();
    showReadings(2);
    boxes.saveAnswer = Answer::Cancel;
    const QString journal = session.journalPath();
    // What the program's stop-signal handler does.
    session.keepJournal();
    win.endBySignal();
    EXPECT_FALSE(win.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(QFileInfo::exists(journal));
}

TEST_F(SessionSafety, OpeningAnotherFileAsksToSaveFirst) {
    showReadings(3);
    const QString other = tables.path("other.db");
    ASSERT_TRUE(px::writeKeyedTable(other, readingsLikeFields(), {}).ok());
    boxes.saveAnswer = Answer::Cancel;
    answer(other);
    win.OpenClick();
    EXPECT_EQ(kinds(), std::vector<std::string>{"save"});
    EXPECT_TRUE(session.liveIsScratch());
    EXPECT_EQ(session.liveTable().rowCount(), 3);

    boxes.saveAnswer = Answer::Discard;
    answer(other);
    win.OpenClick();
    EXPECT_EQ(session.liveTable().filePath(), other);
    EXPECT_EQ(session.unsavedReadings(), 0);
}

TEST_F(SessionSafety, StatusLineSaysWhyNothingIsRecorded) {
    win.show();
    auto* line = win.statusLine();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->parentWidget(), win.statusBar());
    EXPECT_TRUE(kxtest::waitUntil([&] { return line->fullText() == "Not connected"; }))
        << line->fullText().toStdString();

    const QString junk = tables.path("junk.db");
    ASSERT_TRUE(putFile(junk, "junk"));
    answer(junk);
    win.OpenClick();
    const QString expected = "Not recording: " + junk + " could not be opened: ";
    EXPECT_TRUE(kxtest::waitUntil([&] { return line->fullText().startsWith(expected); }))
        << line->fullText().toStdString();
    EXPECT_EQ(line->toolTip(), line->fullText());
    // The line is as wide as the window; a long text is shortened, not cut at the end.
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->contentsRect().width());
    EXPECT_TRUE(line->text().endsWith(line->fullText().right(3)));
}
