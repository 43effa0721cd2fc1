#include "reports/ui/about_box.h"
#include "reports/ui/clickable_label.h"
#include "reports/ui/help_window.h"
#include "support/table_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kx;

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
