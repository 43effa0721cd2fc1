// The chart below the grid: fed by the recording, worked by its toolbar and the hidden Graph
// menu, enlarged and restored, and paged when a table is opened.
#include "app/window_fixture.h"
#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include <cmath>

using namespace kx;

namespace {

std::string frameFor(const std::string& reading) {
    return kxtest::frameShowing(reading, MeterUnit::MOhm);
}

struct ChartWindow : kxtest::WindowTest {
    ChartView& chart() { return *win.chart(); }
    ChartModel& model() { return session.chart(); }
    QScrollBar* vbar() { return find<QScrollArea>("ScrollBox")->verticalScrollBar(); }
    bool redrawn() {
        return kxtest::waitUntil([&] { return !chart().redrawPending(); });
    }
};

} // namespace

TEST_F(ChartWindow, StartsWithItsSamplePointAndGrowsWithTheRecordedReadings) {
    ASSERT_NE(win.chart(), nullptr);
    EXPECT_EQ(find("Chtshow"), win.chart());
    EXPECT_EQ(chart().parentWidget()->objectName(), "ClientArea");
    EXPECT_EQ(&chart().model(), &model());
    EXPECT_EQ(model().activeSeries(), ChartModel::kAreaSeries);
    EXPECT_EQ(model().pointsPerPage(), 100);
    EXPECT_TRUE(model().showsSample());
    EXPECT_EQ(chart().Bt10->text(), "1");
    EXPECT_TRUE(boxes.shown.empty());

    for (int i = 0; i < 30; ++i)
        feed(frameFor(std::to_string(100 + i)));
    ASSERT_EQ(session.liveTable().rowCount(), 30);
    ASSERT_TRUE(kxtest::waitUntil([&] { return chart().drawnPoints(0).size() == 30; }));
    // Drawn on the resistance axis, whose coordinates are the logarithms of the MΩ.
    EXPECT_EQ(chart().valueAxis().unit, "M\u03A9");
    EXPECT_EQ(chart().drawnPoints(0).front(), QPointF(1, std::log10(100)));
    EXPECT_EQ(chart().drawnPoints(0).back(), QPointF(30, std::log10(129)));

    win.ClearRClick(); // Clear All empties the table: the chart goes back to its sample point
    EXPECT_TRUE(model().showsSample());
    ASSERT_TRUE(redrawn());
    EXPECT_EQ(chart().drawnPoints(0), QList<QPointF>{ChartModel::kSamplePoint});
    feed(frameFor("555"));
    ASSERT_TRUE(redrawn());
    EXPECT_EQ(chart().drawnPoints(0), QList<QPointF>{QPointF(1, std::log10(555))});
}

TEST_F(ChartWindow, HiddenGraphMenuWorksTheChartsToolbar) {
    for (int i = 0; i < 350; ++i)
        feed(frameFor(std::to_string(1000 + i)));
    // Each GoTo item pages as its button does, from a page where any other item would land
    // elsewhere; the page label and the buttons follow.
    const struct {
        const char* item;
        int page;
        QToolButton* ChartView::*disabled;
    } steps[] = {{"First1", 1, &ChartView::BtFirst},
                 {"Last1", 4, &ChartView::BtNext},
                 {"Privous1", 3, nullptr},
                 {"First1", 1, &ChartView::BtFirst},
                 {"Next1", 2, nullptr}};
    for (const auto& s : steps) {
        find<QAction>(s.item)->trigger();
        EXPECT_EQ(model().page(), s.page) << s.item;
        EXPECT_EQ(chart().Bt10->text(), QString::number(s.page)) << s.item;
        if (s.disabled) {
            EXPECT_FALSE((chart().*s.disabled)->isEnabled()) << s.item;
        }
    }

    find<QAction>("Fill1")->trigger();
    EXPECT_FALSE(chart().BtFill->isChecked());
    EXPECT_EQ(model().activeSeries(), ChartModel::kLineSeries);
    chart().BtFill->setChecked(true);
    EXPECT_TRUE(find<QAction>("Fill1")->isChecked()) << "one switch";

    find<QAction>("Clear1")->trigger();
    EXPECT_TRUE(model().showsSample());

    QTemporaryDir dir;
    model().setPicturesDir(dir.path());
    find<QAction>("SaveWhole1")->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("graphic has saved on " + dir.path() + "/"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(ChartWindow, EnlargeAndRestorePutTheChartBackExactly) {
    win.show();
    QApplication::processEvents();
    vbar()->setValue(vbar()->maximum());
    const int scroll = vbar()->value();
    ASSERT_GT(scroll, 0);
    click(chart().TbFd);
    const QSize outer = win.frameGeometry().size();
    EXPECT_EQ(chart().geometry(), QRect(2, 30 + scroll, outer.width() - 12, outer.height() - 90));
    EXPECT_FALSE(chart().TbFd->isVisible());
    EXPECT_TRUE(chart().TbSx->isVisible());
    // The enlarged chart draws more columns.
    ASSERT_TRUE(redrawn());

    vbar()->setValue(scroll / 2); // scrolling in between does not matter
    click(chart().TbSx);
    EXPECT_EQ(chart().geometry(), QRect(18, 612, 361, 209));
    EXPECT_TRUE(chart().TbFd->isVisible());
    EXPECT_FALSE(chart().TbSx->isVisible());

    click(chart().TbFd); // and again, without scrolling
    click(chart().TbSx);
    EXPECT_EQ(chart().geometry(), QRect(18, 612, 361, 209));
}

// Recording follows the newest page; a table opened afterwards, from the Open dialog or a
// recent entry, is shown from its first page, and the label and the buttons say so.
TEST_F(ChartWindow, OpenShowsTheFirstPageWithItsLabel) {
    for (int i = 0; i < 250; ++i)
        feed(frameFor(std::to_string(100 + i % 50)));
    ASSERT_EQ(session.liveTable().rowCount(), 250);
    EXPECT_EQ(model().page(), 3);
    EXPECT_EQ(chart().Bt10->text(), "3") << "the chart followed the readings";
    EXPECT_FALSE(chart().BtNext->isEnabled());
    EXPECT_FALSE(chart().BTlast->isEnabled());

    const QString path = tables.path("two pages.db");
    std::vector<px::Record> rows;
    for (int i = 1; i <= 150; ++i)
        rows.push_back({px::Value(std::int32_t(i)), px::Value::timeOfDay(1000 * i),
                        px::Value(QByteArray::number(i)), px::Value("M\xA6\xB8"),
                        px::Value("IR:500V 20G\xA6\xB8"), px::Value("Continuous")});
    ASSERT_TRUE(px::writeTable(path, readingsFields(), rows).ok());
    boxes.saveAnswer = MessageBoxes::SaveAnswer::Discard;
    answer(path);
    win.OpenClick();
    ASSERT_EQ(session.liveTable().rowCount(), 150);
    auto expectFirstPage = [&] {
        EXPECT_EQ(model().page(), 1);
        EXPECT_EQ(chart().Bt10->text(), "1");
        for (QWidget* b :
             {static_cast<QWidget*>(chart().BtFirst), static_cast<QWidget*>(chart().BTPrevious),
              static_cast<QWidget*>(chart().BtNext), static_cast<QWidget*>(chart().BTlast)})
            EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        ASSERT_TRUE(redrawn());
        EXPECT_EQ(chart().drawnPoints(0).size(), 100);
        EXPECT_EQ(chart().drawnPoints(0).front().x(), 1);
    };
    expectFirstPage();

    // Paged to the last page, then the recent entry opens it again.
    chart().BTlastClick();
    ASSERT_EQ(chart().Bt10->text(), "2");
    ASSERT_EQ(find<QAction>("filename1")->text(), "&1   " + path);
    find<QAction>("filename1")->trigger();
    ASSERT_EQ(session.liveTable().rowCount(), 150);
    expectFirstPage();

    // Recording into it brings the chart to its newest page.
    feed(frameFor("333"));
    EXPECT_EQ(chart().Bt10->text(), "2");
    EXPECT_FALSE(chart().BtNext->isEnabled());
}
