// The main window's frame, menus, control row and panel as the user first sees them.
#include "app/window_fixture.h"
#include "display/ui/bar_graph_strip.h"
#include "display/ui/panel_elements.h"
#include "display/ui/virtual_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

using namespace kx;

namespace {

// Each window works on its own copies of the tables, with boxes the test answers.
struct Window : kxtest::WindowTest {
    // A menu's entries as "caption|visible", separators as "-" (named ones by their name).
    static std::vector<std::string> entries(const QMenu* m) {
        std::vector<std::string> out;
        for (const QAction* a : m->actions()) {
            std::string e =
                a->isSeparator()
                    ? (a->objectName().isEmpty() ? std::string("-") : a->objectName().toStdString())
                    : a->text().toStdString();
            if (!a->isVisible())
                e += "|hidden";
            out.push_back(e);
        }
        return out;
    }
    // The part of the client area the window's scroll box shows.
    QRect visibleArea() {
        auto* scroll = find<QScrollArea>("ScrollBox");
        return {
            QPoint(scroll->horizontalScrollBar()->value(), scroll->verticalScrollBar()->value()),
            scroll->viewport()->size()};
    }
};

} // namespace

TEST_F(Window, FrameCaptionAndFixedClientArea) {
    EXPECT_EQ(win.windowTitle(), "KX20_30 Interface Program ver:1.00");
    EXPECT_EQ(win.minimumSize(), win.maximumSize());
    EXPECT_FALSE(win.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(win.windowFlags() & Qt::WindowMinimizeButtonHint);
    auto* scroll = find<QScrollArea>("ScrollBox");
    // The chart and the stored grid lie below the visible area and are reached by scrolling.
    auto* grid2 = find<QTableView>("DBGrid2");
    EXPECT_EQ(grid2->geometry(), QRect(340, 714, 341, 49));
    EXPECT_EQ(find("Chtshow")->geometry(), QRect(18, 612, 361, 209));
    EXPECT_EQ(find("DBGrid1")->geometry(), QRect(0, 348, 617, 177));
    win.show();
    QApplication::processEvents();
    EXPECT_EQ(scroll->viewport()->size(), QSize(621, 528));
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    scroll->ensureWidgetVisible(grid2, 0, 0);
    EXPECT_TRUE(visibleArea().contains(grid2->geometry()));
    EXPECT_EQ(win.panel()->geometry(), QRect(2, 30, 615, 289));
}

TEST_F(Window, MenuBarHoldsEveryMenuAndItem) {
    auto* bar = find<QMenuBar>("MainMenu1");
    std::vector<std::string> top;
    for (const QAction* a : bar->actions())
        top.push_back(a->text().toStdString() + (a->isVisible() ? "" : "|hidden"));
    EXPECT_EQ(top, (std::vector<std::string>{"File", "ComSet|hidden", "Graph|hidden", "Record",
                                             "About|hidden", "Connection"}));
    EXPECT_EQ(entries(find<QMenu>("ConnectionMenu")),
              (std::vector<std::string>{"  Reconnect automatically"}));
    EXPECT_FALSE(find<QAction>("AutoReconnect")->isChecked()) << "off unless chosen";

    EXPECT_EQ(entries(find<QMenu>("FileSet1")),
              (std::vector<std::string>{"  New", "  Open", "  Save As...", "-", "  Print|hidden",
                                        "-", "   Exit", "FileSep|hidden", "|hidden", "|hidden",
                                        "|hidden", "|hidden", "|hidden"}));
    EXPECT_EQ(entries(find<QMenu>("Comset")), (std::vector<std::string>{" COM", "-", " USB"}));
    EXPECT_EQ(entries(find<QMenu>("COM")),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
    EXPECT_EQ(entries(find<QMenu>("Grap")),
              (std::vector<std::string>{" Save Whole", " GoTo", " Fill", " Clear"}));
    EXPECT_EQ(entries(find<QMenu>("GoTo1")),
              (std::vector<std::string>{"First", "Next", "Last", "Privous"}));
    EXPECT_TRUE(find<QAction>("Fill1")->isChecked());
    EXPECT_EQ(entries(find<QMenu>("Rec")),
              (std::vector<std::string>{" Save", " RecordSet", " Clear All", " Test Results",
                                        " Assets", " Search|hidden"}));
    EXPECT_EQ(entries(find<QMenu>("RecSet")),
              (std::vector<std::string>{"1000", "5000", "10000", "50000", "100000", "Limitless"}));
    EXPECT_EQ(entries(find<QMenu>("About1")),
              (std::vector<std::string>{"  Help     ", "-", "  About...|hidden"}));
    EXPECT_EQ(find<QAction>("HELP1")->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(win.actions().contains(find<QAction>("HELP1"))) << "F1 works with the menu hidden";
    EXPECT_TRUE(find<QAction>("COM1")->isChecked());

    // Each item runs its command on the shown window, which stays open: Open and Save As ask
    // for a file (the test cancels), nothing fails.
    win.show();
    for (const char* n : {"New", "Open", "Save_as", "SaveR", "USB", "Clear1"})
        find<QAction>(n)->trigger();
    EXPECT_TRUE(win.isVisible());
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_FALSE(dialogs.asked[0].confirmOverwrite) << "Open's dialog first";
    EXPECT_TRUE(dialogs.asked[1].confirmOverwrite) << "then Save As's";
    for (const auto& b : boxes.shown)
        EXPECT_NE(b.kind, "error") << b.text.toStdString();
}

TEST_F(Window, FileMenuShowsBothSeparatorsAroundTheHiddenPrint) {
    auto* file = find<QMenu>("FileSet1");
    std::vector<QAction*> separators;
    for (QAction* a : file->actions()) {
        if (a->isSeparator() && a->objectName().isEmpty())
            separators.push_back(a);
    }
    ASSERT_EQ(separators.size(), 2u);
    file->popup(QPoint(0, 0));
    ASSERT_TRUE(kxtest::waitUntil([&] { return file->isVisible(); }));
    // Shown one above the other, where Print would be, and Exit below them.
    const QRect first = file->actionGeometry(separators[0]);
    const QRect second = file->actionGeometry(separators[1]);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_FALSE(second.isEmpty());
    EXPECT_GT(second.top(), first.top());
    EXPECT_GT(file->actionGeometry(find<QAction>("Exit")).top(), second.top());
    EXPECT_TRUE(file->actionGeometry(find<QAction>("FileSep")).isEmpty());
    file->hide();
}

TEST_F(Window, StoreRowsSecondButtonSizesTheWindowAndTheChart) {
    win.show();
    auto* chart = find("Chtshow");
    find<QToolButton>("SpeedButton6")->click();
    QApplication::processEvents();
    EXPECT_EQ(win.frameGeometry().size(), QSize(755, 538));
    EXPECT_EQ(chart->geometry(), QRect(18, 612, 361, 278));
    // The window's client area grows with it, and the taller chart can be scrolled to whole.
    auto* scroll = find<QScrollArea>("ScrollBox");
    EXPECT_EQ(scroll->geometry().bottom() + 1, win.statusBar()->geometry().top());
    EXPECT_EQ(win.statusBar()->geometry().bottom(), win.height() - 1);
    EXPECT_GT(scroll->width(), 621);
    scroll->horizontalScrollBar()->setValue(0);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    EXPECT_TRUE(visibleArea().contains(chart->geometry()));
}

TEST_F(Window, ToolStripAndCaptionPanels) {
    // The control row, widened for the Test Results and Assets buttons.
    EXPECT_EQ(find("Panel7")->pos(), QPoint(2, 320));
    EXPECT_EQ(find("Panel7")->height(), 25);
    auto* repeat = find<QCheckBox>("RepeatSet");
    EXPECT_EQ(repeat->text(), "Repeat");
    EXPECT_EQ(repeat->pos(), QPoint(5, 5));
    auto* si = find<QCheckBox>("RecordSI");
    EXPECT_EQ(si->text(), "Sampling Interval              'S");
    EXPECT_EQ(si->geometry(), QRect(60, 4, 167, 19));
    EXPECT_FALSE(si->isChecked());
    auto* box = find<QLineEdit>("RecordSITime");
    EXPECT_EQ(box->text(), "10");
    EXPECT_EQ(box->geometry(), QRect(166, 0, 29, 22));
    const std::pair<const char*, const char*> hints[] = {
        {"SpeedButton1", "Save Data"},  {"SpeedButton2", "Delete Data"},
        {"SpeedButton3", "Open Data"},  {"MajPrint", "Print Data"},
        {"SpeedButton5", "Store Data"}, {"SpeedButton10", "Test Results"},
        {"SpeedButton11", "Assets"}};
    for (const auto& [name, hint] : hints) {
        auto* b = find<QToolButton>(name);
        EXPECT_EQ(b->toolTip(), hint);
        EXPECT_FALSE(b->icon().isNull()) << name;
        EXPECT_FALSE(b->isHidden()) << name;
    }
    EXPECT_EQ(find("SpeedButton2")->geometry(), QRect(266, 2, 25, 21));

    auto* connect = find<QLabel>("Panel2");
    EXPECT_EQ(connect->text(), "CONNECT");
    EXPECT_TRUE(connect->font().bold());
    EXPECT_EQ(connect->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(find<QLabel>("Panel3")->text(), "EXIT");

    // A click on the EXIT panel closes the window.
    win.show();
    QApplication::processEvents();
    ASSERT_TRUE(win.isVisible());
    click(find<QLabel>("Panel3"));
    EXPECT_FALSE(win.isVisible());
}

TEST_F(Window, FramesFromTheReceiverReachThePanel) {
    feed("FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A");
    VirtualPanel* p = win.panel();
    EXPECT_EQ(p->digit(Digit::LabelA)->text(), "1");
    EXPECT_EQ(p->digit(Digit::LabelD)->text(), "4");
    EXPECT_FALSE(p->conOk()->isHidden());
    EXPECT_TRUE(p->conOkN()->isHidden());
    EXPECT_TRUE(p->element(Element::bar18)->isHidden());
    EXPECT_EQ(session.decoder().readingTexts().ReadingValue, "1.234");
}

TEST_F(Window, DispInitSwitchesTheAnnunciatorsOnly) {
    VirtualPanel* p = win.panel();
    win.DispInit(0);
    for (std::size_t i = 0; i < kElementCount; ++i)
        EXPECT_TRUE(p->element(static_cast<Element>(i))->isHidden()) << kElementNames[i];
    EXPECT_FALSE(p->digit(Digit::LabelA)->isHidden());
    EXPECT_FALSE(p->strip()->isHidden());
    EXPECT_FALSE(p->conOkN()->isHidden());
    EXPECT_FALSE(p->rsUSB()->isHidden());
    win.DispInit(2);
    EXPECT_TRUE(p->element(Element::labp1)->isHidden());
    win.DispInit(1);
    for (std::size_t i = 0; i < kElementCount; ++i)
        EXPECT_FALSE(p->element(static_cast<Element>(i))->isHidden()) << kElementNames[i];
    EXPECT_TRUE(p->conOk()->isHidden());
}
