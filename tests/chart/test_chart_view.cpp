#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "common/ui/message_boxes.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/wait_for.h"

#include <QApplication>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QValueAxis>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kx;
using kx::test::waitUntil;

namespace {

const QColor kArea(255, 255, 128);
const QColor kAreaLine(0, 128, 255);
const QColor kLine(128, 255, 0);

struct Boxes : MessageBoxes {
    std::vector<std::pair<std::string, QString>> shown;
    void information(QWidget*, const QString& t) override { shown.push_back({"information", t}); }
    void warning(QWidget*, const QString& t) override { shown.push_back({"warning", t}); }
    void error(QWidget*, const QString& t) override { shown.push_back({"error", t}); }
    bool confirm(QWidget*, const QString& t) override {
        shown.push_back({"confirm", t});
        return false;
    }
};

struct ChartViewTest : ::testing::Test {
    ReadingsTable table;
    ChartModel model{table};
    Boxes boxes;
    std::unique_ptr<ChartView> view;

    ChartViewTest() {
        table.openScratch(readingsFields());
        view = std::make_unique<ChartView>(model, boxes);
        view->prepareAtStart();
        view->show();
        QApplication::processEvents();
    }

    void add(int no, const std::string& value, const std::string& unit = "V") {
        kxtest::addRow(table, {no, -1, value, unit, "", ""});
    }
    // Lays out and draws what the model holds now.
    QImage draw() {
        view->refresh(false);
        QApplication::processEvents();
        return view->picture();
    }
    // Whether each tick of the value axis has its label drawn beside it: dark text left of
    // the plot within a few rows of the tick, and none halfway between ticks that are far
    // enough apart.
    void expectTickLabelsDrawn(const QImage& img) {
        const int left = view->viewport()->geometry().left();
        const int right = static_cast<int>(view->chart()->plotArea().left()) + left - 2;
        auto textNear = [&](int y, int rows) {
            for (int dy = -rows; dy <= rows; ++dy)
                for (int x = left; x < right; ++x)
                    if (img.rect().contains(x, y + dy) && qGray(img.pixel(x, y + dy)) < 128)
                        return true;
            return false;
        };
        int previous = -1;
        for (const ChartTick& t : view->valueAxis().ticks) {
            const int y = view->chart()
                              ->mapToPosition(QPointF(view->AxisX->min(), t.at), view->Series1)
                              .toPoint()
                              .y() +
                          view->viewport()->geometry().top();
            EXPECT_TRUE(textNear(y, 3)) << t.label.toStdString();
            if (previous >= 0 && previous - y > 24) {
                EXPECT_FALSE(textNear((previous + y) / 2, 2)) << t.label.toStdString();
            }
            previous = y;
        }
    }
    static int count(const QImage& img, const QColor& c) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == c;
        return n;
    }
    // Whether colour c is within a pixel or two of where the reading (x, value in base units)
    // is drawn.
    bool colourNear(const QImage& img, double x, double base, const QColor& c) {
        const QPoint at = view->pictureAt(x, base);
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const QPoint p = at + QPoint(dx, dy);
                if (img.rect().contains(p) && img.pixelColor(p) == c)
                    return true;
            }
        return false;
    }
};

} // namespace

TEST_F(ChartViewTest, StartsWithTheSamplePointAndTheToolbarInItsDesignState) {
    EXPECT_EQ(view->objectName(), "Chtshow");
    EXPECT_EQ(view->geometry(), QRect(18, 612, 361, 209));
    EXPECT_TRUE(view->BtFill->isChecked());
    EXPECT_EQ(view->BtFill->text(), "Fill");
    // The Fill switch lies in its bevel frame and is drawn over it.
    EXPECT_EQ(view->BtFill->geometry(), QRect(1, 5, 36, 17));
    auto* bevel = view->findChild<QFrame*>("Bevel1");
    ASSERT_NE(bevel, nullptr);
    EXPECT_EQ(bevel->geometry(), QRect(2, 2, 40, 20));
    EXPECT_GT(view->children().indexOf(view->BtFill), view->children().indexOf(bevel));
    EXPECT_EQ(view->Maxrecord->text(), "100");
    EXPECT_EQ(view->Bt10->text(), "1");
    for (QWidget* b :
         {static_cast<QWidget*>(view->BtFirst), static_cast<QWidget*>(view->BTPrevious),
          static_cast<QWidget*>(view->BtNext), static_cast<QWidget*>(view->BTlast)})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(view->BtSave->toolTip(), "Save  Active Graphic");
    EXPECT_EQ(view->BtNew->toolTip(), "Delete Graphic");
    EXPECT_EQ(view->BTlast->toolTip(), "last");
    EXPECT_TRUE(view->TbFd->isVisible());
    EXPECT_FALSE(view->TbSx->isVisible());
    EXPECT_EQ(view->series(0), view->Series2);
    EXPECT_EQ(view->series(1), view->Series1);
    EXPECT_TRUE(view->Series2->isVisible());
    EXPECT_FALSE(view->Series1->isVisible());
    EXPECT_EQ(view->drawnPoints(0), QList<QPointF>{ChartModel::kSamplePoint});
    EXPECT_EQ(view->AxisY->min(), -11000);
    EXPECT_EQ(view->AxisY->max(), 11000);
    EXPECT_EQ(view->AxisY->minorTickCount(), 4);
    EXPECT_EQ(count(draw(), kArea), 0) << "a single point draws no area";
}

TEST_F(ChartViewTest, RendersTheReadingsInTheSeriesColours) {
    for (int i = 1; i <= 60; ++i)
        add(i, std::to_string(100 + (i % 10) * 10), "M\xA6\xB8");
    QImage img = draw();
    EXPECT_GT(count(img, kArea), 1000) << "the area fills under the readings";
    EXPECT_GT(count(img, kAreaLine), 50);
    EXPECT_EQ(count(img, kLine), 0) << "the line series is not drawn";
    // Readings in MΩ, axis in MΩ: the reading of record 25 (150 MΩ) sits on the area's line.
    EXPECT_EQ(
        view->AxisY->categoriesLabels(),
        (QStringList{"100 M\u03A9", "125 M\u03A9", "150 M\u03A9", "175 M\u03A9", "200 M\u03A9"}));
    EXPECT_TRUE(colourNear(img, 25, 150e6, kAreaLine));
    EXPECT_TRUE(colourNear(img, 30, 100e6, kAreaLine));
    EXPECT_EQ(img.pixelColor(view->pictureAt(25, 120e6)), kArea);

    view->BtFill->setChecked(false);
    img = draw();
    EXPECT_EQ(count(img, kArea), 0);
    EXPECT_GT(count(img, kLine), 50);
    EXPECT_TRUE(colourNear(img, 25, 150e6, kLine));
    EXPECT_TRUE(colourNear(img, 41, 110e6, kLine));
}

// The settings are the chart's: set on the model (the Graph menu, the command line), the
// controls show them; set on the controls, the model holds them. The Fill switch shows one
// series and hides the other.
TEST_F(ChartViewTest, ControlsShowTheChartsSettings) {
    for (int i = 1; i <= 30; ++i)
        add(i, std::to_string(i));
    model.BtFillClick(false);
    EXPECT_FALSE(view->BtFill->isChecked());
    ASSERT_TRUE(model.setPointsPerPage(10).ok());
    EXPECT_EQ(view->Maxrecord->text(), "10");
    view->refresh();
    EXPECT_TRUE(view->Series1->isVisible());
    EXPECT_FALSE(view->Series2->isVisible());
    EXPECT_EQ(view->drawnPoints(1).size(), 10);
    EXPECT_TRUE(view->drawnPoints(0).isEmpty());
    // Clear keeps the switch the model holds.
    view->BtNewClick();
    EXPECT_EQ(model.activeSeries(), ChartModel::kLineSeries);
    add(31, "31");
    view->BtFill->setChecked(true);
    EXPECT_EQ(model.activeSeries(), ChartModel::kAreaSeries);
    EXPECT_TRUE(view->Series2->isVisible());
    EXPECT_FALSE(view->Series1->isVisible());
    EXPECT_EQ(view->drawnPoints(0), (QList<QPointF>{{31, 31}}));
    EXPECT_TRUE(view->drawnPoints(1).isEmpty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ChartViewTest, PointsPerPageBoxTakesDigitsAndReportsBadTexts) {
    view->Maxrecord->setFocus();
    view->Maxrecord->end(false);
    for (const QString& t : {QString("a"), QString("-"), QString("5"), QString(" ")}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, t);
        QApplication::sendEvent(view->Maxrecord, &press);
    }
    EXPECT_EQ(view->Maxrecord->text(), "1005");
    EXPECT_EQ(model.pointsPerPage(), 1005);
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QString(QChar(8)));
    QApplication::sendEvent(view->Maxrecord, &back);
    EXPECT_EQ(model.pointsPerPage(), 100);
    EXPECT_TRUE(boxes.shown.empty());

    view->Maxrecord->setText("");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].second, "'' is not a valid integer value");
    view->Maxrecord->setText("-3"); // pasted
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].second, "MaxPointsPerPage must be >= 0");
    EXPECT_EQ(model.pointsPerPage(), 100) << "the count stays";
    view->Maxrecord->setText("0");
    EXPECT_EQ(model.pointsPerPage(), 0);
}

TEST_F(ChartViewTest, PageButtonsMoveThroughTheReadings) {
    for (int i = 1; i <= 250; ++i)
        add(i, std::to_string(i));
    view->BTlastClick();
    EXPECT_EQ(view->Bt10->text(), "3");
    EXPECT_FALSE(view->BtNext->isEnabled());
    EXPECT_FALSE(view->BTlast->isEnabled());
    EXPECT_TRUE(view->BtFirst->isEnabled());
    QList<QPointF> pts = view->drawnPoints(0);
    ASSERT_EQ(pts.size(), 50);
    EXPECT_EQ(pts.front().x(), 201);
    EXPECT_EQ(view->AxisX->min(), 201);
    EXPECT_EQ(view->AxisX->max(), 300);
    view->BTPreviousClick();
    EXPECT_EQ(view->Bt10->text(), "2");
    EXPECT_TRUE(view->BtNext->isEnabled());
    EXPECT_EQ(view->drawnPoints(0).front().x(), 101);
    view->BtFirstClick();
    EXPECT_EQ(view->Bt10->text(), "1");
    EXPECT_FALSE(view->BtFirst->isEnabled());
    EXPECT_FALSE(view->BTPrevious->isEnabled());
    view->BtNextClick();
    EXPECT_EQ(view->Bt10->text(), "2");
    EXPECT_TRUE(view->BTPrevious->isEnabled());
}

// The page label shows its whole number, however many pages there are: from page 10000 on it
// widens, and the buttons after it move along, still inside the chart.
TEST_F(ChartViewTest, PageLabelShowsItsWholeNumber) {
    view->Maxrecord->setText(QStringLiteral("1"));
    struct Case {
        int pages;
        bool designWidth;
    };
    for (const Case& c : {Case{9, true}, {9999, false}, {10000, false}, {100000, false}}) {
        const QString number = QString::number(c.pages);
        while (table.rowCount() < c.pages)
            add(static_cast<int>(table.rowCount()) + 1, "5");
        view->BTlastClick();
        QApplication::processEvents();
        ASSERT_EQ(view->Bt10->text(), number);
        const QRect label = view->Bt10->geometry();
        if (c.designWidth) {
            EXPECT_EQ(label, QRect(211, 3, 25, 21));
            EXPECT_EQ(view->BtNext->geometry(), QRect(235, 3, 25, 21));
        }
        // The digits as drawn: blue ink from the first digit's left edge to the last one's
        // right, none of it cut off by the button's edges.
        const QImage img = view->Bt10->grab().toImage();
        int first = -1, last = -1;
        for (int x = 0; x < img.width(); ++x) {
            for (int y = 0; y < img.height(); ++y) {
                const QRgb p = img.pixel(x, y);
                if (qBlue(p) > 150 && qRed(p) < 110 && qGreen(p) < 110) {
                    first = first < 0 ? x : first;
                    last = x;
                }
            }
        }
        const int advance = view->Bt10->fontMetrics().horizontalAdvance(number);
        EXPECT_GE(last - first + 1, advance - 3) << number.toStdString();
        EXPECT_GE(first, 2) << number.toStdString();
        EXPECT_LE(last, img.width() - 3) << number.toStdString();
        // The buttons after the label keep their order and stay on the chart.
        EXPECT_GE(view->BtNext->x(), label.right()) << number.toStdString();
        EXPECT_GE(view->BTlast->x(), view->BtNext->geometry().right()) << number.toStdString();
        EXPECT_GE(view->TbFd->x(), view->BTlast->geometry().right()) << number.toStdString();
        EXPECT_LE(view->TbFd->geometry().right(), view->width()) << number.toStdString();
    }
}

TEST_F(ChartViewTest, ClearGoesBackToTheSamplePoint) {
    for (int i = 1; i <= 5; ++i)
        add(i, "100");
    view->BtFill->setChecked(false);
    view->BtNewClick();
    EXPECT_EQ(view->drawnPoints(1), QList<QPointF>{ChartModel::kSamplePoint});
    EXPECT_TRUE(view->Series1->isVisible()) << "Fill unticked: the line series";
    EXPECT_EQ(view->AxisY->min(), -11000);
    add(6, "300");
    add(7, "400");
    ASSERT_TRUE(waitUntil([&] { return view->drawnPoints(1).size() == 2; }));
    EXPECT_EQ(view->drawnPoints(1).front(), QPointF(6, 300));
}

TEST_F(ChartViewTest, BurstsOfRecordsAreDrawnInFewRedraws) {
    view->Maxrecord->setText("0");
    const int before = view->redrawCount();
    for (int i = 1; i <= 2000; ++i)
        add(i, std::to_string(i % 97));
    EXPECT_EQ(view->redrawCount(), before) << "nothing is drawn while records arrive";
    EXPECT_TRUE(view->redrawPending());
    ASSERT_TRUE(waitUntil([&] { return !view->redrawPending(); }));
    EXPECT_LE(view->redrawCount(), before + 2);
    const QList<QPointF> pts = view->drawnPoints(0);
    EXPECT_LE(pts.size(), 2 * view->chart()->plotArea().width() + 2);
    EXPECT_EQ(pts.back().x(), 2000);
}

TEST_F(ChartViewTest, FarApartRecordNumbersKeepTheAxisToAFewTicks) {
    // Record numbers ten million apart on one page, then a page of a hundred again: each
    // change of the horizontal axis must not lay out ticks for the other one's interval.
    add(1, "1");
    add(10'000'000, "2");
    view->Maxrecord->setText("0");
    EXPECT_EQ(view->AxisX->max(), 10'000'000);
    EXPECT_GE(view->AxisX->tickInterval(), 1'000'000);
    view->Maxrecord->setText("1");
    view->BTlastClick();
    EXPECT_EQ(view->AxisX->min(), 10'000'000);
    EXPECT_LE(view->AxisX->tickInterval(), 1);
    view->Maxrecord->setText("0");
    EXPECT_EQ(view->AxisX->min(), 1);
}

TEST_F(ChartViewTest, RightClickGoesBackToTheWholePage) {
    for (int i = 1; i <= 50; ++i)
        add(i, std::to_string(i));
    view->refresh();
    const QRectF plot = view->chart()->plotArea();
    view->chart()->zoomIn(QRectF(plot.topLeft(), plot.size() / 2));
    ASSERT_TRUE(view->chart()->isZoomed());
    EXPECT_LT(view->AxisX->max(), 60);
    add(51, "51"); // records arriving keep the zoom
    ASSERT_TRUE(waitUntil([&] { return !view->redrawPending(); }));
    EXPECT_TRUE(view->chart()->isZoomed());
    const QPointF at = plot.center();
    QMouseEvent release(QEvent::MouseButtonRelease, at, view->mapToGlobal(at.toPoint()),
                        Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &release);
    EXPECT_FALSE(view->chart()->isZoomed());
    EXPECT_EQ(view->AxisX->min(), 1);
    EXPECT_EQ(view->AxisX->max(), 100);
}

TEST_F(ChartViewTest, SavesTheChartAsAPictureAfterTheMessage) {
    QTemporaryDir dir;
    model.setPicturesDir(dir.path());
    view->setClock([] { return QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)); });
    for (int i = 1; i <= 20; ++i)
        add(i, std::to_string(i * 3));
    const QString path = dir.path() + "/2405060708page1.bmp";
    view->BtSaveClick();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0],
              (std::pair<std::string, QString>{"information", "graphic has saved on " + path}));
    const QByteArray first = fileBytes(path);
    ASSERT_TRUE(first.startsWith("BM"));
    QImage saved;
    ASSERT_TRUE(saved.loadFromData(first, "BMP"));
    EXPECT_EQ(saved.size(), QSize(361, 209));
    EXPECT_GT(count(saved, kArea), 100);
    EXPECT_EQ(saved.pixelColor(0, 0), QColor(Qt::white)) << "on white";

    view->BtFill->setChecked(false); // a second save in the same minute replaces the first
    view->BtSaveClick();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"2405060708page1.bmp"});
    EXPECT_NE(fileBytes(path), first);

    model.setPicturesDir(dir.filePath("missing"));
    boxes.shown.clear();
    view->BtSaveClick();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].first, "information") << "the message comes first";
    EXPECT_EQ(boxes.shown[1].first, "error");
    EXPECT_TRUE(boxes.shown[1].second.startsWith("Cannot create file \"" + dir.filePath("missing") +
                                                 "/2405060708page1.bmp\". "));
    EXPECT_FALSE(QDir(dir.filePath("missing")).exists());
}

// The voltage checks between insulation readings are left out as gaps, like blanks and
// overloads: the picture is the same as that of a table with dashes in their place, and no
// line runs down from the readings towards the floor.
TEST_F(ChartViewTest, VoltageChecksAreGapsNotSpikes) {
    const std::string mega = "M\xA6\xB8";
    auto reading = [&](int i, bool voltage) -> std::pair<std::string, std::string> {
        if (i % 3 == 0)
            return voltage ? std::pair{std::string("500"), std::string("V")}
                           : std::pair{std::string("----"), mega};
        if (i % 17 == 0)
            return {"", mega};
        return {std::to_string(i == 1 ? 100 : 800 + i), mega};
    };
    ReadingsTable dashes;
    dashes.openScratch(readingsFields());
    ChartModel dashesModel(dashes);
    for (int i = 1; i <= 100; ++i) {
        const auto [v, u] = reading(i, true);
        add(i, v, u);
        const auto [dv, du] = reading(i, false);
        kxtest::addRow(dashes, {i, -1, dv, du, "", ""});
    }
    for (bool fill : {false, true}) {
        view->BtFill->setChecked(fill);
        dashesModel.BtFillClick(fill);
        const QImage mixed = draw();
        ChartView other(dashesModel, boxes);
        other.show();
        QApplication::processEvents();
        other.refresh();
        QApplication::processEvents();
        EXPECT_EQ(mixed, other.picture()) << (fill ? "area" : "line");
    }
    view->BtFill->setChecked(false);
    const QImage img = draw();
    EXPECT_EQ(view->valueAxis().unit, "M\u03A9");
    EXPECT_TRUE(colourNear(img, 10, 810e6, kLine));
    EXPECT_TRUE(colourNear(img, 1, 100e6, kLine));
    // Between the first reading (100 MΩ) and the others (800 MΩ and more) the plot holds no
    // line after the first few records.
    const QPoint from = view->pictureAt(4, 700e6);
    const QPoint to = view->pictureAt(100, 150e6);
    ASSERT_GT(to.y() - from.y(), 30);
    for (int y = from.y(); y <= to.y(); ++y)
        for (int x = from.x(); x <= to.x(); ++x)
            ASSERT_NE(img.pixelColor(x, y), kLine) << x << "," << y;
}

// Each page gets the unit its largest reading needs: a test that climbs from hundreds of MΩ
// into GΩ is labelled in MΩ on its first page and in GΩ on its second.
TEST_F(ChartViewTest, ResistanceAxisRangesFromMegaToGigaOhms) {
    view->BtFill->setChecked(false);
    for (int i = 1; i <= 200; ++i) {
        if (i <= 100)
            add(i, std::to_string(i * 9), "M\xA6\xB8"); // 9 .. 900 MΩ
        else
            add(i, QString::number(1 + (i - 100) * 0.02, 'f', 2).toStdString(), "G\xA6\xB8");
    }
    view->BtFirstClick();
    QImage img = draw();
    EXPECT_EQ(view->AxisY->categoriesLabels().join(' '),
              "1 M\u03A9 10 M\u03A9 100 M\u03A9 1 G\u03A9");
    EXPECT_TRUE(view->valueAxis().logarithmic);
    // Logarithmic: 9 MΩ is drawn well above the floor, not squeezed onto it beside 900 MΩ.
    const QRect plot = view->chart()->plotArea().toRect();
    EXPECT_LT(view->pictureAt(1, 9e6).y() - view->viewport()->geometry().top(),
              plot.bottom() - plot.height() / 4);
    for (const auto& [x, ohms] : {std::pair{1, 9e6}, {11, 99e6}, {50, 450e6}, {100, 900e6}})
        EXPECT_TRUE(colourNear(img, x, ohms, kLine)) << x;
    expectTickLabelsDrawn(img);

    view->BtNextClick();
    img = draw();
    EXPECT_EQ(view->Bt10->text(), "2");
    EXPECT_EQ(view->AxisY->categoriesLabels().join(' '),
              "1.0 G\u03A9 1.5 G\u03A9 2.0 G\u03A9 2.5 G\u03A9 3.0 G\u03A9");
    for (const auto& [x, ohms] : {std::pair{101, 1.02e9}, {150, 2e9}, {200, 3e9}})
        EXPECT_TRUE(colourNear(img, x, ohms, kLine)) << x;
    expectTickLabelsDrawn(img);
}

TEST_F(ChartViewTest, VoltageOnlyTablesGetAVoltAxis) {
    view->BtFill->setChecked(false);
    for (int i = 1; i <= 50; ++i)
        add(i, i == 20 ? "" : std::to_string(200 + i % 40), "V");
    const QImage img = draw();
    EXPECT_EQ(view->AxisY->categoriesLabels().join(' '), "200V 210V 220V 230V 240V");
    expectTickLabelsDrawn(img);
    EXPECT_FALSE(view->valueAxis().logarithmic);
    EXPECT_TRUE(colourNear(img, 10, 210, kLine));
    EXPECT_TRUE(colourNear(img, 39, 239, kLine));
    for (int dy = -3; dy <= 3; ++dy)
        EXPECT_NE(img.pixelColor(view->pictureAt(20, 220) + QPoint(0, dy)), kLine) << "a blank";
}

// While records arrive the chart goes to each new page, and its label and buttons with it,
// unless the user has paged back.
TEST_F(ChartViewTest, FollowsTheNewestPageUnlessPagedBack) {
    for (int i = 1; i <= 100; ++i)
        add(i, "100", "M\xA6\xB8");
    EXPECT_EQ(view->Bt10->text(), "1");
    add(101, "200", "M\xA6\xB8");
    EXPECT_EQ(view->Bt10->text(), "2");
    EXPECT_FALSE(view->BtNext->isEnabled());
    EXPECT_FALSE(view->BTlast->isEnabled());
    EXPECT_TRUE(view->BtFirst->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !view->redrawPending(); }));
    EXPECT_EQ(view->drawnPoints(0).size(), 1);
    EXPECT_EQ(view->drawnPoints(0).front().x(), 101);

    view->BTPreviousClick();
    for (int i = 102; i <= 250; ++i)
        add(i, "300", "M\xA6\xB8");
    ASSERT_TRUE(waitUntil([&] { return !view->redrawPending(); }));
    EXPECT_EQ(view->Bt10->text(), "1");
    EXPECT_EQ(view->drawnPoints(0).front().x(), 1);
    EXPECT_TRUE(view->BtNext->isEnabled());
}
