// The main window never loses a user's readings on one click: destructive commands ask,
// New leaves an opened file alone, leaving asks to save, a continued recording saves, and
// the status line says when nothing is recorded.
#include "app/file_commands.h"
#include "app/recording_status.h"
#include "app/ui/main_window.h"
#include "app/ui/status_line.h"
#include "app/window_fixture.h"
#include "link/meter_simulator.h"
#include "paradox/paradox_reader.h"
#include "support/table_files.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QStatusBar>

#include <gtest/gtest.h>

using namespace kx;
using Answer = MessageBoxes::SaveAnswer;

namespace {

qint64 recordsOnDisk(const QString& path) {
    const Result<px::TableReader> r = px::TableReader::open(path);
    EXPECT_TRUE(r.ok()) << r.error().toStdString();
    return r.ok() ? r.value().info().recordCount : -1;
}

struct SessionSafety : kxtest::WindowTest {
    void record(int n, int first = 100) {
        for (int i = 0; i < n; ++i) {
            MeterDisplay d;
            d.reading = std::to_string(first + i);
            session.decodeFrame(frameHex(encodeFrame(d)));
        }
    }
    // A recording of `n` readings saved by Save As, then opened by File > Open.
    QString openSaved(const char* name, int n) {
        record(n);
        const QString path = tables.path(name);
        EXPECT_TRUE(session.files().saveAs(path, ExportKind::Live).saved());
        dialogs.answers.push_back(FileDialogAnswer{path, 0});
        win.OpenClick();
        EXPECT_EQ(session.liveTable().filePath(), path);
        return path;
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> out;
        for (const auto& s : boxes.shown)
            out.push_back(s.kind);
        return out;
    }
    bool journalKept() const { return QFileInfo::exists(journal); }
    QString journal = session.journalPath();
};

} // namespace

TEST_F(SessionSafety, NewAfterOpenLeavesTheOpenedFileIntact) {
    const QString mine = openSaved("mine.db", 4);
    record(2, 300);
    ASSERT_EQ(session.liveTable().rowCount(), 6);
    boxes.shown.clear();

    // Cancel: nothing changes.
    boxes.deleteAnswer = false;
    win.NewClick();
    ASSERT_EQ(kinds(), std::vector<std::string>{"delete"});
    EXPECT_EQ(boxes.shown[0].file, mine);
    EXPECT_TRUE(boxes.shown[0].text.contains("keeps its records"));
    EXPECT_TRUE(boxes.shown[0].text.contains("The 2 readings recorded since the last save"));
    EXPECT_EQ(session.liveTable().filePath(), mine);
    EXPECT_EQ(session.liveTable().rowCount(), 6);

    // OK: back to the emptied scratch table, numbered from 1; the file keeps its records.
    boxes.deleteAnswer = true;
    win.NewClick();
    EXPECT_TRUE(session.liveIsScratch());
    EXPECT_TRUE(session.liveTable().isOpen());
    EXPECT_EQ(session.liveTable().rowCount(), 0);
    EXPECT_EQ(session.recording().NextRecordNo, 1);
    EXPECT_EQ(recordsOnDisk(mine), 4);
    EXPECT_EQ(recordsOnDisk(tables.path("Pw60bdb.DB")), 0);
    record(1, 500);
    EXPECT_EQ(session.liveTable().fieldText(0, "No"), "1");
    EXPECT_EQ(kinds(), (std::vector<std::string>{"delete", "delete"}));
}

TEST_F(SessionSafety, ClearAllEmptiesAnOpenedFileOnlyOnceConfirmed) {
    const QString mine = openSaved("mine.db", 3);
    boxes.shown.clear();
    boxes.deleteAnswer = false;
    win.ClearRClick();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, " Warning:all Records will be deleted! ");
    EXPECT_EQ(boxes.shown[0].file, mine);
    EXPECT_EQ(session.liveTable().rowCount(), 3);
    EXPECT_EQ(recordsOnDisk(mine), 3);

    boxes.deleteAnswer = true;
    win.ClearRClick();
    EXPECT_EQ(session.liveTable().rowCount(), 0);
    EXPECT_EQ(recordsOnDisk(mine), 0);
}

TEST_F(SessionSafety, AContinuedRecordingSavesAsAKeyedTable) {
    const QString mine = openSaved("mine.db", 4);
    win.Panel3Click(); // the recent list is kept

    // The next run numbers from 1 until the file is opened from the recent list.
    window.reset();
    ownSession.reset(); // one device controller at a time
    ownSession = makeSession();
    AppSession& next = *ownSession;
    TFrmTest again(next, UiServices{&boxes, &dialogs, &progress});
    EXPECT_EQ(next.recording().NextRecordNo, 1);
    dialogs.answers.push_back(FileDialogAnswer{mine, 0});
    again.OpenClick();
    ASSERT_EQ(next.liveTable().filePath(), mine);
    EXPECT_EQ(next.recording().NextRecordNo, 5);
    again.NewClick();
    EXPECT_EQ(next.recording().NextRecordNo, 1);
    again.filename1Click();
    ASSERT_EQ(next.liveTable().filePath(), mine);
    EXPECT_EQ(next.recording().NextRecordNo, 5);
    for (int i = 0; i < 3; ++i) {
        MeterDisplay d;
        d.reading = std::to_string(700 + i);
        next.decodeFrame(frameHex(encodeFrame(d)));
    }
    EXPECT_EQ(next.liveTable().fieldText(4, "No"), "5");
    EXPECT_EQ(next.liveTable().fieldText(6, "No"), "7");

    const QString copy = tables.path("continued.db");
    boxes.shown.clear();
    dialogs.answers.push_back(FileDialogAnswer{copy, 0});
    again.Save_asClick();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown[0].text.toStdString();
    EXPECT_EQ(recordsOnDisk(copy), 7);
    again.Panel3Click();
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
    window.reset();
    std::unique_ptr<TFrmTest> w;
    // A new run with three readings recorded.
    auto run = [&] {
        w.reset();
        ownSession.reset(); // one device controller at a time
        ownSession = makeSession();
        w = std::make_unique<TFrmTest>(*ownSession, UiServices{&boxes, &dialogs, &progress});
        w->show();
        for (int i = 0; i < 3; ++i) {
            MeterDisplay d;
            d.reading = std::to_string(100 + i);
            ownSession->decodeFrame(frameHex(encodeFrame(d)));
        }
        boxes.shown.clear();
    };
    for (const auto& e : exits) {
        SCOPED_TRACE(e.exit);
        run();
        // Cancel: the program stays, with its readings and their journal.
        boxes.saveAnswer = Answer::Cancel;
        e.leave(*w);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].kind, "save");
        EXPECT_EQ(boxes.shown[0].text, "Save the 3 readings recorded since the last save?");
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(ownSession->liveTable().rowCount(), 3);
        EXPECT_TRUE(QFileInfo::exists(ownSession->journalPath()));

        // Save, then the Save As dialog cancelled: still open.
        boxes.saveAnswer = Answer::Save;
        e.leave(*w);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(ownSession->unsavedReadings(), 3);

        // Save into a folder that is not there: the save fails, still open.
        dialogs.answers.push_back(FileDialogAnswer{tables.path("gone/x.db"), 0});
        e.leave(*w);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(boxes.shown.back().kind, "error");

        // Discard leaves as before.
        boxes.saveAnswer = Answer::Discard;
        e.leave(*w);
        EXPECT_FALSE(w->isVisible());

        // Save with a name: written, then the program ends.
        run();
        boxes.saveAnswer = Answer::Save;
        const QString saved = tables.path("left.db");
        QFile::remove(saved);
        QFile::remove(tables.path("left.PX"));
        dialogs.answers.push_back(FileDialogAnswer{saved, 0});
        e.leave(*w);
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(recordsOnDisk(saved), 3);
        EXPECT_EQ(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                                [](const auto& b) { return b.kind == "save"; }),
                  1)
            << "asked once";
    }
}

TEST_F(SessionSafety, NothingUnsavedAsksNothing) {
    win.show();
    record(2);
    EXPECT_EQ(session.unsavedReadings(), 2);
    dialogs.answers.push_back(FileDialogAnswer{tables.path("all.txt"), 1});
    win.Save_asClick();
    EXPECT_EQ(session.unsavedReadings(), 0);
    // A reading deleted from the grid is one fewer to save; a saved one changes nothing.
    record(2, 300);
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
    record(2);
    boxes.saveAnswer = Answer::Cancel;
    // What the program's stop-signal handler does.
    session.keepJournal();
    win.endBySignal();
    EXPECT_FALSE(win.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(journalKept());
}

TEST_F(SessionSafety, OpeningAnotherFileAsksToSaveFirst) {
    record(3);
    const QString other = tables.path("other.db");
    ASSERT_TRUE(px::writeKeyedTable(other, readingsLikeFields(), {}).ok());
    boxes.saveAnswer = Answer::Cancel;
    dialogs.answers.push_back(FileDialogAnswer{other, 0});
    win.OpenClick();
    EXPECT_EQ(kinds(), std::vector<std::string>{"save"});
    EXPECT_TRUE(session.liveIsScratch());
    EXPECT_EQ(session.liveTable().rowCount(), 3);

    boxes.saveAnswer = Answer::Discard;
    dialogs.answers.push_back(FileDialogAnswer{other, 0});
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
    dialogs.answers.push_back(FileDialogAnswer{junk, 0});
    win.OpenClick();
    const QString expected = "Not recording: " + junk + " could not be opened (";
    EXPECT_TRUE(kxtest::waitUntil([&] { return line->fullText().startsWith(expected); }))
        << line->fullText().toStdString();
    EXPECT_EQ(line->toolTip(), line->fullText());
    // The line is as wide as the window; a long text is shortened, not cut at the end.
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->contentsRect().width());
    EXPECT_TRUE(line->text().endsWith(line->fullText().right(3)));
}
