#include "app/window_fixture.h"
#include "recording/readings_table.h"
#include "reports/report_fixtures.h"
#include "reports/ui/about_box.h"
#include "reports/ui/clickable_label.h"
#include "reports/ui/help_window.h"
#include "reports/ui/search_dialog.h"
#include "support/table_files.h"

#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kx;
using kxtest::RecordedBoxes;

namespace {

struct SearchDialogTest : ::testing::Test {
    QTemporaryDir dir;
    QString file = dir.filePath("Data.DB");
    ReadingsTable live;
    RecordedBoxes boxes;
    std::unique_ptr<TFrmsearch> dialog;

    void SetUp() override {
        kxtest::writeReadings(file,
                              {{"500", "V"}, {"0.12", "A"}, {"99", "M\xA6\xB8"}, {"250", "V"}});
        live.setTableName(file);
        ASSERT_TRUE(live.open().ok());
        dialog = std::make_unique<TFrmsearch>(live, dir.path() + "/", boxes);
    }
    void TearDown() override { dialog->hide(); }

    QTableView* grid() const { return dialog->findChild<QTableView*>("DBGrid1"); }
    void press(const char* name) { dialog->findChild<QPushButton*>(name)->click(); }
    void choose(int i) { dialog->radioButton(i)->setChecked(true); }
    int rows() const { return grid()->model()->rowCount(); }
};

} // namespace

TEST_F(SearchDialogTest, LaidOutWithItsSevenQuantities) {
    EXPECT_EQ(dialog->windowTitle(), "Search");
    EXPECT_EQ(dialog->size(), QSize(541, 363));
    EXPECT_EQ(grid()->size(), QSize(535, 250));
    const char* captions[] = {"Voltage",      "Current",       "Active_Power", "Apparent_Power",
                              "Power_Factor", "Active_Energy", "Tempe"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(dialog->radioButton(i)->text(), captions[i]);
        EXPECT_EQ(dialog->radioButton(i)->objectName(), QStringLiteral("RadioButton%1").arg(i + 1));
    }
    // Every caption shows whole, in one row inside the frame.
    dialog->show();
    for (int i = 0; i < 7; ++i) {
        QRadioButton* b = dialog->radioButton(i);
        EXPECT_GE(b->width(), b->sizeHint().width()) << i;
        EXPECT_EQ(b->y(), dialog->radioButton(0)->y());
        EXPECT_LE(b->geometry().right(), b->parentWidget()->width());
    }
    auto* search = dialog->findChild<QPushButton*>("BitBtn1");
    EXPECT_EQ(search->text(), "&Search");
    EXPECT_TRUE(search->isDefault());
    // The grid shows the query's own rows.
    EXPECT_EQ(grid()->model(), &dialog->query());
}

TEST_F(SearchDialogTest, EachShowingListsEverythingAndChecksVoltage) {
    dialog->show();
    EXPECT_EQ(rows(), 4);
    EXPECT_TRUE(dialog->radioButton(0)->isChecked());

    choose(1);
    press("BitBtn1");
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(grid()->model()->index(0, 2).data().toString(), "0.12");
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open after a search";

    choose(6);
    press("BitBtn2"); // Cancel
    EXPECT_FALSE(dialog->isVisible());
    dialog->show();
    EXPECT_TRUE(dialog->radioButton(0)->isChecked());
    EXPECT_EQ(rows(), 4);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SearchDialogTest, TempeWithoutMatchSaysSoCurrentDoesNot) {
    kxtest::writeReadings(file, {{"500", "V"}, {"250", "V"}});
    dialog->show();
    choose(6);
    press("BitBtn1");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_EQ(boxes.shown[0].text, " No records for you searching ! ");
    EXPECT_EQ(rows(), 0);

    choose(1);
    press("BitBtn1");
    EXPECT_EQ(boxes.shown.size(), 1u) << "an empty result for Current shows no message";
    EXPECT_EQ(rows(), 0);
}

TEST_F(SearchDialogTest, AnEmptyLiveTableIsReportedWhateverIsChecked) {
    dialog->show();
    live.close();
    for (int i : {0, 3, 6}) {
        choose(i);
        press("BitBtn1");
    }
    ASSERT_EQ(boxes.shown.size(), 3u);
    for (const auto& b : boxes.shown) {
        EXPECT_EQ(b.kind, "information");
        EXPECT_EQ(b.text, "no records in database!");
    }
    EXPECT_EQ(rows(), 4) << "the grid keeps its previous result";
}

TEST_F(SearchDialogTest, AnUnreadableFileGoesToTheErrorBox) {
    live.close();
    live.setTableName(dir.filePath("Missing.DB"));
    dialog->show();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("Missing.DB"));
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(grid()->model()->columnCount(), 0);
}

namespace {

struct AboutBoxTest : ::testing::Test {
    TFrmAbout box;

    // Shows the box, clicks `target` (the box itself for its background) at `at` and says
    // whether the box is still open.
    bool openAfterClick(QWidget* target, QPoint at = {}) {
        box.show();
        EXPECT_TRUE(box.isVisible());
        QTest::mouseClick(target, Qt::LeftButton, {}, at.isNull() ? target->rect().center() : at);
        const bool open = box.isVisible();
        box.hide();
        return open;
    }
};

} // namespace

TEST_F(AboutBoxTest, ShowsTheBrandAndTheProgramsVersion) {
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.size(), QSize(421, 228));
    EXPECT_NEAR(box.windowOpacity(), 230.0 / 255.0, 0.01);
    EXPECT_EQ(box.Label1->text(), "Varnex ");
    EXPECT_EQ(box.Label1->font().pixelSize(), 96);
    EXPECT_TRUE(box.Label1->font().bold());
    EXPECT_EQ(box.Label1->palette().color(QPalette::WindowText), QColor(255, 0, 255));
    EXPECT_EQ(TFrmAbout::version(), "1.0.0");
    EXPECT_TRUE(box.StaticText1->text().startsWith("Version No. :1.0.0"));
    EXPECT_EQ(box.Image2->size(), QSize(141, 101));
    EXPECT_EQ(box.Image1->size(), QSize(29, 29));
    EXPECT_FALSE(box.Image2->pixmap().isNull());
    EXPECT_TRUE(box.StaticText3->font().underline());
    EXPECT_EQ(box.StaticText3->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutBoxTest, ClicksCloseItExceptOnTheWebAddressAndTheSmallPicture) {
    for (QWidget* w : std::initializer_list<QWidget*>{box.Label1, box.Label2, box.StaticText1,
                                                      box.StaticText2, box.Image2})
        EXPECT_FALSE(openAfterClick(w)) << w->objectName().toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{box.Image1, box.StaticText3, box.StaticText4})
        EXPECT_TRUE(openAfterClick(w)) << w->objectName().toStdString();

    // The background: a point no control covers.
    const QPoint free(box.width() - 3, box.height() - 3);
    ASSERT_EQ(box.childAt(free), nullptr);
    EXPECT_FALSE(openAfterClick(&box, free));
}

namespace {

struct HelpTest : ::testing::Test {
    QTemporaryDir dir;
    HelpWindow help;

    QString page(const char* name, const QByteArray& html) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(putFile(path, html));
        return path;
    }
    QString shown() const { return help.browser()->toPlainText(); }
    QToolButton* tool(const char* name) const { return help.findChild<QToolButton*>(name); }
};

} // namespace

TEST_F(HelpTest, BrowsesTheManualWithBackForwardAndContents) {
    const QString index = page("index.html", "<html><head><title>Manual</title></head><body>"
                                             "<h1>Contents</h1><a href=\"cable.html\">Cable</a>"
                                             "</body></html>");
    page("cable.html", "<html><body><h1>Connecting the cable</h1></body></html>");
    help.showContents(index);
    EXPECT_TRUE(help.isVisible());
    EXPECT_TRUE(shown().contains("Contents"));
    EXPECT_EQ(help.windowTitle(), "Manual");
    EXPECT_FALSE(tool("Back")->isEnabled());

    help.browser()->setSource(QUrl(QStringLiteral("cable.html")));
    EXPECT_TRUE(shown().contains("Connecting the cable"));
    EXPECT_TRUE(tool("Back")->isEnabled());
    tool("Back")->click();
    EXPECT_TRUE(shown().contains("Contents"));
    EXPECT_TRUE(tool("Forward")->isEnabled());
    tool("Forward")->click();
    EXPECT_TRUE(shown().contains("Connecting the cable"));
    tool("Contents")->click();
    EXPECT_TRUE(shown().contains("Contents"));
}

TEST_F(HelpTest, AMissingOrUnreadableManualIsReportedInTheWindow) {
    const QString missing = dir.filePath("help/index.html");
    help.showContents(missing);
    EXPECT_TRUE(help.isVisible());
    EXPECT_TRUE(shown().contains(HelpWindow::unreadableTitle()));
    EXPECT_TRUE(shown().contains(missing));
    EXPECT_TRUE(shown().contains("does not exist"));

    // A folder where the file should be.
    ASSERT_TRUE(QDir(dir.path()).mkpath("help/index.html"));
    help.showContents(missing);
    EXPECT_TRUE(shown().contains("it is a folder"));

    // Put back, it is read afresh at the next showing.
    ASSERT_TRUE(QDir(missing).removeRecursively());
    page("help/index.html", "<html><body><h1>Welcome</h1></body></html>");
    help.showContents(missing);
    EXPECT_TRUE(shown().contains("Welcome"));

    // A link to a page that is missing is reported the same way.
    help.browser()->setSource(QUrl(QStringLiteral("nowhere.html")));
    EXPECT_TRUE(shown().contains(HelpWindow::unreadableTitle()));
    EXPECT_TRUE(shown().contains("nowhere.html"));
}
