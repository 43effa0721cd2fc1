// The main window on a bad day: a journal that cannot be written, readings recovered after a
// kill that continue a file, a settings file that cannot be written back, readings arriving
// while the exit question is open, a second start of the program.
#include "app/file_commands.h"
#include "app/ui/instance_guard.h"
#include "app/ui/status_line.h"
#include "app/window_fixture.h"
#include "exports/table_export.h"
#include "support/write_faults.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace kx;
using kxtest::RecordedBoxes;
using kxtest::recordsOnDisk;
using kxtest::waitUntil;

namespace {

struct KeepingWindow : kxtest::WindowTest {
    StatusLine* statusLine() { return find<StatusLine>("StatusLine"); }
    int shownOf(const std::string& kind) const {
        return static_cast<int>(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                                              [&](const auto& s) { return s.kind == kind; }));
    }
};

} // namespace

TEST_F(KeepingWindow, AJournalThatCannotBeWrittenIsToldOnceAndUntilItWorks) {
    win.show();
    ASSERT_TRUE(session.journaling());
    showReadings(2);
    std::optional<kxtest::FileSizeLimit> full;
    full.emplace(QFileInfo(session.journalPath()).size() + 10);
    showReadings(3, 300);
    ASSERT_TRUE(waitUntil([&] { return shownOf("warning") == 1; }));
    const QString box = boxes.shown.back().text;
    EXPECT_TRUE(box.contains("no longer kept safe")) << box.toStdString();
    EXPECT_TRUE(box.contains("File too large")) << "the reason";
    ASSERT_TRUE(waitUntil([&] { return statusLine()->fullText().contains("NOT KEPT SAFE"); }));
    EXPECT_TRUE(statusLine()->fullText().endsWith("Not connected"))
        << "what the line said before stays";
    EXPECT_TRUE(statusLine()->text().startsWith("READINGS NOT KEPT SAFE (journal: File too large)"))
        << "never cut: " << statusLine()->text().toStdString();
    EXPECT_EQ(session.liveTable().rowCount(), 5) << "recording goes on";
    showReadings(3, 400);
    kxtest::waitUntil([] { return false; }, 100);
    EXPECT_EQ(shownOf("warning"), 1) << "one box";

    // The disk takes writes again: the journal is written afresh with every reading.
    full.reset();
    session.keeper().retryJournal();
    ASSERT_TRUE(waitUntil([&] { return !statusLine()->fullText().contains("NOT KEPT SAFE"); }));
    QFile j(session.journalPath());
    ASSERT_TRUE(j.open(QIODevice::ReadOnly));
    EXPECT_EQ(parseJournal(j.readAll()).readings.size(), 8u);
}

// Readings recorded on a file the user opened continue it: after a kill the next start says
// so and offers to append them to it; either way they stay listed for good.
TEST_F(KeepingWindow, RecoveredReadingsThatContinueAFileAreOfferedToIt) {
    const struct {
        const char* name;
        bool append;
        qint64 inOldFile; // records of the opened file after the recovery
    } cases[] = {
        {"appended", true, 8},
        {"kept on their own", false, 5},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const QString old = tables.path(k.append ? "old-a.db" : "old-b.db");
        showReadings(5, 200);
        ASSERT_TRUE(session.files().saveAs(old, ExportKind::Live).saved());
        ASSERT_TRUE(session.files().newRecording().ok());
        ASSERT_TRUE(session.files().openDataFile(old).ok());
        showReadings(3, 600);  // numbered 6 to 8
        session.keepJournal(); // killed
        boxes.shown.clear();
        boxes.confirmAnswer = k.append;
        restart();

        ASSERT_EQ(kinds(), (std::vector<std::string>{"confirm", "information"}));
        const QString question = boxes.shown[0].text;
        EXPECT_TRUE(question.contains(QString::fromUtf8("3 readings (No. 6\u20138)")))
            << question.toStdString();
        EXPECT_TRUE(question.contains(old + ", which holds 5 records"));
        const QString told = boxes.shown[1].text;
        EXPECT_EQ(recordsOnDisk(old), k.inOldFile) << told.toStdString();
        const QString listed = session.files().recent().path(1);
        if (k.append) {
            EXPECT_EQ(listed, old);
            EXPECT_TRUE(told.startsWith(QString::fromUtf8("3 readings (No. 6\u20138) of a "
                                                          "recording that did not end normally "
                                                          "were added to ") +
                                        old + "."))
                << told.toStdString();
        } else {
            EXPECT_TRUE(QFileInfo(listed).fileName().startsWith("recovered-"));
            EXPECT_EQ(recordsOnDisk(listed), 3);
            EXPECT_TRUE(told.contains("They continue " + old + " (5 records)"))
                << told.toStdString();
        }
        // Listed in the settings file at once, whichever way the program ends.
        EXPECT_TRUE(fileBytes(tables.settingsPath()).contains(("&1   " + listed).toUtf8()));
        ASSERT_TRUE(session.files().newRecording().ok());
    }
}

TEST_F(KeepingWindow, ASettingsEntryThatCannotBeWrittenBackIsDroppedAndSaidOnce) {
    boxes.shown.clear();
    restart("[Historyfile]\nNo1=&1   /tmp/a" + QByteArray(1, '\0') +
            "b.db\nNo2=&2   /tmp/good.db\n");
    ASSERT_EQ(kinds(), std::vector<std::string>{"warning"});
    EXPECT_TRUE(boxes.shown[0].text.contains("dropped")) << boxes.shown[0].text.toStdString();
    EXPECT_TRUE(boxes.shown[0].text.contains(tables.settingsPath()));
    win.Panel3Click();
    EXPECT_EQ(kinds(), std::vector<std::string>{"warning"}) << "EXIT writes the list";
    EXPECT_TRUE(fileBytes(tables.settingsPath()).contains("/tmp/good.db"));
    EXPECT_FALSE(fileBytes(tables.settingsPath()).contains(QByteArray("a\0b", 3)));
}

// The exit question's answer is about the readings it names; those recorded while it was
// open get a question of their own.
TEST_F(KeepingWindow, TheExitQuestionAnswersForTheReadingsItNames) {
    win.show();
    showReadings(3);
    boxes.saveAnswer = RecordedBoxes::SaveAnswer::Discard;
    boxes.whileAsking = [&] { showReadings(2, 200); };
    win.Panel3Click();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"save", "save"}));
    EXPECT_EQ(boxes.shown[0].text, "Save the 3 readings recorded since the last save?");
    EXPECT_EQ(boxes.shown[1].text, "Save the 2 readings recorded since the last save?");
    EXPECT_FALSE(win.isVisible());

    // Cancel on the second question keeps the program and the readings it names.
    restart();
    win.show();
    boxes.shown.clear();
    showReadings(3);
    boxes.whileAsking = [&] {
        showReadings(2, 200);
        boxes.saveAnswer = RecordedBoxes::SaveAnswer::Cancel; // for the second question
    };
    boxes.saveAnswer = RecordedBoxes::SaveAnswer::Discard;
    win.Panel3Click();
    EXPECT_EQ(kinds(), (std::vector<std::string>{"save", "save"}));
    EXPECT_TRUE(win.isVisible());
    EXPECT_EQ(session.unsavedReadings(), 2);
}

// After a failed Open the status line names the file once and keeps the reason whole, the
// path shortened when the line is too narrow.
TEST_F(KeepingWindow, AFailedOpenNamesThePathOnceAndKeepsTheReason) {
    win.show();
    const QString deep = tables.path("a-rather-long-folder-name/and-another-rather-long-one/"
                                     "and-a-third-one-that-is-long-as-well/and-a-fourth-one");
    ASSERT_TRUE(QDir().mkpath(deep));
    const struct {
        const char* name;
        QString file;
        QString reason;
    } cases[] = {
        {"missing", deep + "/nosuch.db", "No such file or directory"},
        {"no table", deep + "/junk.db", ""},
    };
    ASSERT_TRUE(putFile(deep + "/junk.db", "junk"));
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        answer(k.file);
        win.OpenClick();
        ASSERT_TRUE(waitUntil([&] { return statusLine()->fullText().contains(k.file); }));
        const QString full = statusLine()->fullText();
        EXPECT_EQ(full.count(k.file), 1) << full.toStdString() << " / " << k.file.toStdString();
        EXPECT_TRUE(full.startsWith("Not recording: " + k.file + " could not be opened: "));
        if (!k.reason.isEmpty()) {
            EXPECT_TRUE(full.endsWith(k.reason)) << full.toStdString();
        }
        const QString reason = full.mid(full.indexOf(" could not be opened: "));
        EXPECT_TRUE(statusLine()->text().endsWith(reason))
            << "shown: " << statusLine()->text().toStdString();
        EXPECT_NE(statusLine()->text(), full) << "the line is too narrow for all of it";
        ASSERT_TRUE(session.files().newRecording().ok());
    }
}

// One window a program folder: a second start finds the first and can bring it forward.
TEST(InstanceGuardTest, ASecondStartOnTheSameFolderFindsTheFirst) {
    QTemporaryDir one, two;
    const struct {
        const char* name;
        QString secondFolder;
        bool secondClaims;
    } cases[] = {
        {"same folder", one.path(), false},
        {"another folder", two.path(), true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        InstanceGuard first(one.path());
        ASSERT_TRUE(first.claim());
        QSignalSpy forward(&first, &InstanceGuard::forwardRequested);
        InstanceGuard second(k.secondFolder);
        EXPECT_EQ(second.claim(), k.secondClaims);
        if (!k.secondClaims) {
            EXPECT_TRUE(second.bringOtherForward());
            EXPECT_TRUE(kxtest::waitUntil([&] { return forward.count() == 1; }));
            EXPECT_TRUE(InstanceGuard::runningMessage(one.path()).contains("already running"));
        }
    }
}
