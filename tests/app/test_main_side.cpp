// The side windows the main window opens: the manual on F1, the About box and the search.
#include "app/window_fixture.h"
#include "reports/ui/about_box.h"
#include "reports/ui/help_window.h"
#include "reports/ui/search_dialog.h"

#include <QAction>
#include <QDir>
#include <QTest>
#include <QTimer>

using namespace kx;
using kxtest::WindowTest;

namespace {

struct SideWindows : WindowTest {
    QTemporaryDir appDir;

    void SetUp() override {
        session.AppDir = appDir.path() + QLatin1Char('/');
        win.show();
        win.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    }
    void TearDown() override {
        if (win.helpWindow())
            win.helpWindow()->close();
    }

    QAction* action(const char* name) { return win.findChild<QAction*>(name); }
    void pressF1() { QTest::keyClick(&win, Qt::Key_F1); }
    QString helpText() const { return win.helpWindow()->browser()->toPlainText(); }

    // Runs `command`, which shows a modal window, and answers it from inside its loop.
    QWidget* modalShownBy(const std::function<void()>& command) {
        QWidget* seen = nullptr;
        QTimer::singleShot(0, &win, [&] {
            seen = QApplication::activeModalWidget();
            if (auto* d = qobject_cast<QDialog*>(seen))
                d->reject();
        });
        command();
        return seen;
    }
};

} // namespace

TEST_F(SideWindows, F1OpensTheManualThoughItsMenuIsHidden) {
    EXPECT_FALSE(action("About1Item")->isVisible());
    EXPECT_FALSE(action("About2")->isVisible());
    EXPECT_EQ(win.helpWindow(), nullptr);

    // No manual yet: said in the help window, not in a box.
    pressF1();
    ASSERT_NE(win.helpWindow(), nullptr);
    EXPECT_TRUE(win.helpWindow()->isVisible());
    EXPECT_FALSE(win.helpWindow()->isModal()) << "the program does not wait for the help";
    EXPECT_TRUE(helpText().contains(HelpWindow::unreadableTitle()));
    EXPECT_TRUE(helpText().contains(appDir.filePath("help/index.html")));
    EXPECT_TRUE(boxes.shown.empty());

    // Once the manual is there, the next F1 brings back the same window at its contents.
    ASSERT_TRUE(QDir(appDir.path()).mkpath("help"));
    ASSERT_TRUE(putFile(appDir.filePath("help/index.html"),
                        "<html><head><title>kxlink manual</title></head>"
                        "<body><h1>Using the program</h1></body></html>"));
    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    HelpWindow* first = win.helpWindow();
    pressF1();
    EXPECT_EQ(win.helpWindow(), first);
    EXPECT_EQ(win.helpWindow()->browser()->source(),
              QUrl::fromLocalFile(appDir.filePath("help/index.html")));
    EXPECT_TRUE(helpText().contains("Using the program"));
}

TEST_F(SideWindows, TheHiddenItemsShowTheirWindowsModally) {
    EXPECT_FALSE(action("SearchR")->isVisible());
    // Without the windows made at program start, the commands do nothing.
    win.SearchRClick();
    win.About2Click();

    auto* about = new TFrmAbout(&win);
    auto* search = new TFrmsearch(session.liveTable(), session.AppDir, boxes, &win);
    win.setAboutBox(about);
    win.setSearchDialog(search);
    EXPECT_EQ(modalShownBy([&] { win.About2Click(); }), about);
    EXPECT_EQ(modalShownBy([&] { action("SearchR")->trigger(); }), search);
    // The live table's file came up in the dialog, by its full path.
    EXPECT_EQ(search->control().texts().tablePath, session.liveTable().tableName());
    EXPECT_TRUE(search->query().isOpen());
}
