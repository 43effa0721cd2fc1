#include "chart/chart_model.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>

using namespace kx;
using kxtest::failsWith;

namespace {

const std::string kOhm = "\xA6\xB8";

struct Chart : ::testing::Test {
    ReadingsTable table;
    ChartModel chart{table};
    int changes = 0;

    Chart() {
        table.openScratch(readingsFields());
        QObject::connect(&chart, &ChartModel::changed, [this] { ++changes; });
    }

    void add(int no, const std::string& value, const std::string& unit = "M" + kOhm) {
        kxtest::addRow(table, {no, -1, value, unit, "", ""});
    }
    // Records numbered from table's next row, each reading its own number.
    void addCounting(int n) {
        for (int i = 0; i < n; ++i) {
            const int no = static_cast<int>(table.rowCount()) + 1;
            add(no, std::to_string(no), "V");
        }
    }
    QList<QPointF> allPoints(const ChartTrace& t) {
        QList<QPointF> out;
        for (const QList<QPointF>& r : t.runs)
            out += r;
        return out;
    }
};

} // namespace

TEST(ChartPages, CountRoundsUpAndNeverFallsBelowOne) {
    EXPECT_EQ(chartPageCount(1, 100), 1);
    EXPECT_EQ(chartPageCount(100, 100), 1);
    EXPECT_EQ(chartPageCount(101, 100), 2);
    EXPECT_EQ(chartPageCount(250, 100), 3);
    EXPECT_EQ(chartPageCount(0, 100), 1);
    EXPECT_EQ(chartPageCount(1000, 0), 1) << "0 puts every point on one page";
    EXPECT_EQ(chartPageCount(1000, -3), 1);
    EXPECT_EQ(chartPageCount(10'000'000, 1), 10'000'000);
}

// Each row of the page buttons' table, and on the only page every button stays on page 1.
TEST(ChartPages, ButtonTable) {
    using B = PageButton;
    const struct {
        B button;
        PageButtons from;
        qint64 pages;
        PageButtons to;
    } cases[] = {
        {B::First, {2, true, false}, 3, {1, false, true}},
        {B::Previous, {1, true, false}, 3, {1, false, true}},
        {B::Previous, {3, false, false}, 3, {2, false, true}}, // First/Previous unchanged
        {B::Previous, {2, true, false}, 3, {1, true, true}},
        {B::Next, {3, false, true}, 3, {3, true, false}},
        {B::Next, {1, false, false}, 3, {2, true, false}}, // Next/Last unchanged
        {B::Next, {2, false, true}, 3, {3, true, true}},
        {B::Last, {1, false, true}, 3, {3, true, false}},
        {B::Last, {1, false, true}, 1, {1, true, false}},
        {B::Next, {1, false, true}, 1, {1, true, false}},
        {B::First, {1, true, false}, 1, {1, false, true}},
        {B::Previous, {1, true, false}, 1, {1, false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.button) << " from page "
                                        << c.from.page << " of " << c.pages);
        const PageButtons s = pressPageButton(c.button, c.from, c.pages);
        EXPECT_EQ(s.page, c.to.page);
        EXPECT_EQ(s.firstPreviousEnabled, c.to.firstPreviousEnabled);
        EXPECT_EQ(s.nextLastEnabled, c.to.nextLastEnabled);
    }
}

TEST(ChartPages, PointsPerPageText) {
    EXPECT_EQ(pointsPerPageFromText("250").value(), 250);
    EXPECT_EQ(pointsPerPageFromText("0").value(), 0);
    EXPECT_EQ(pointsPerPageFromText("-5").value(), -5) << "the chart refuses it, not the box";
    EXPECT_EQ(pointsPerPageFromText("2147483647").value(), 2147483647);
    for (const char* bad : {"", "2147483648", "99999999999", "12x", "1.5", "--1"}) {
        const Result<int> r = pointsPerPageFromText(QString::fromLatin1(bad));
        EXPECT_EQ(r.error(), QStringLiteral("'%1' is not a valid integer value").arg(bad));
    }
    EXPECT_TRUE(isPointsPerPageKey(QLatin1Char('0')));
    EXPECT_TRUE(isPointsPerPageKey(QLatin1Char('9')));
    EXPECT_TRUE(isPointsPerPageKey(QChar(8)));
    for (char c : {'-', '+', 'a', ' ', '.'})
        EXPECT_FALSE(isPointsPerPageKey(QLatin1Char(c))) << c;
}

TEST(ChartPicture, NameFromMinuteAndLabel) {
    const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 59));
    EXPECT_EQ(chartPictureName(when, "1"), "2403070905page1.bmp");
    EXPECT_EQ(chartPictureName(when.addSecs(-59), "12"), "2403070905page12.bmp")
        << "the same minute gives the same name";
    EXPECT_EQ(chartPictureName(QDateTime(QDate(2031, 12, 31), QTime(23, 59)), "3"),
              "3112312359page3.bmp");
}

// Pictures follow the rules of every file (what each refusal says is the writer's own test):
// written through a temporary that replaces the old picture; a missing folder, a pipe or a
// folder in its place refused and left as they were; a full disk told with its reason; each
// told the picture's way.
TEST(ChartPicture, WritesThroughATemporaryOrTellsWhyNot) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.bmp");
    ASSERT_TRUE(writePictureFile(path, "first").ok());
    ASSERT_TRUE(writePictureFile(path, "second").ok());
    EXPECT_EQ(fileBytes(path), "second");

    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("c.bmp"));
    for (const QString& target : {dir.filePath("gone/b.bmp"), fifo, dir.filePath("c.bmp")}) {
        const QString told = "Cannot create file \"" + target + "\". ";
        EXPECT_TRUE(failsWith(checkPictureTarget(target), told)) << target.toStdString();
        const Status s = writePictureFile(target, "x");
        EXPECT_TRUE(failsWith(s, told));
        EXPECT_GT(s.error().size(), told.size()) << "and the reason";
    }
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    EXPECT_TRUE(QFileInfo(dir.filePath("c.bmp")).isDir());
    {
        kxtest::FileSizeLimit limit(1024);
        const Status s = writePictureFile(path, QByteArray(8192, 'p'));
        EXPECT_EQ(s.error(), "Cannot create file \"" + path + "\". File too large");
    }
    EXPECT_EQ(fileBytes(path), "second");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.bmp"}) << "no temporary";
}

TEST(ChartEnlarge, EnlargesBelowFiftyAndRestoresExactly) {
    const QRect home(18, 612, 361, 209);
    QRect normal;
    const QSize window(637, 570);
    // Scrolled down by 300: the chart's top is at 312 of the visible part.
    const ChartPlacement big = enlargeOrRestore(home, false, {0, 300}, window, normal);
    EXPECT_TRUE(big.enlarged);
    EXPECT_EQ(big.geometry, QRect(2, 330, 625, 480));
    EXPECT_EQ(normal, home);
    // Scrolling in between: the enlarged chart is now far below the top, and still restores.
    const ChartPlacement back = enlargeOrRestore(big.geometry, true, {0, 100}, window, normal);
    EXPECT_FALSE(back.enlarged);
    EXPECT_EQ(back.geometry, home);
    EXPECT_EQ(normal, home);
    // Close to the top and not enlarged: it stays rather than going to bounds never kept.
    QRect never;
    const ChartPlacement stay = enlargeOrRestore(QRect(2, 40, 100, 100), false, {}, window, never);
    EXPECT_FALSE(stay.enlarged);
    EXPECT_EQ(stay.geometry, QRect(2, 40, 100, 100));
    EXPECT_TRUE(never.isNull());
}

TEST_F(Chart, StartsWithTheSamplePointOnOnePage) {
    EXPECT_TRUE(chart.showsSample());
    EXPECT_EQ(chart.pointCount(), 1);
    EXPECT_EQ(chart.pageCount(), 1);
    EXPECT_EQ(chart.page(), 1);
    EXPECT_EQ(chart.pageLabel(), "1");
    EXPECT_EQ(chart.pointsPerPage(), 100);
    EXPECT_EQ(chart.activeSeries(), ChartModel::kAreaSeries);
    const ChartTrace t = chart.trace(300);
    EXPECT_TRUE(t.sample);
    EXPECT_FALSE(t.anyValue);
    ASSERT_EQ(t.runs.size(), 1);
    EXPECT_EQ(t.runs[0], QList<QPointF>{ChartModel::kSamplePoint});
}

TEST_F(Chart, OnePointPerRecordInBaseUnits) {
    add(1, "950");
    add(2, "1.20", "G" + kOhm);
    add(3, "----");
    add(4, "0L");
    add(5, "500", "k" + kOhm);
    EXPECT_FALSE(chart.showsSample());
    EXPECT_EQ(chart.pointCount(), 5) << "gaps count as points";
    const ChartTrace t = chart.trace(300);
    ASSERT_EQ(t.runs.size(), 2) << "the unconvertible readings break the line";
    EXPECT_EQ(t.runs[0], (QList<QPointF>{{1, 950e6}, {2, 1.2e9}}));
    EXPECT_EQ(t.runs[1], (QList<QPointF>{{5, 500e3}}));
    EXPECT_TRUE(t.anyValue);
    EXPECT_EQ(t.yMin, 500e3);
    EXPECT_EQ(t.yMax, 1.2e9);
    EXPECT_EQ(t.xLo, 1);
    EXPECT_EQ(t.xHi, 100) << "the last page keeps a full page's span";
}

TEST_F(Chart, PagesShowTheirPointsAndTheLastKeepsItsSpan) {
    addCounting(250);
    EXPECT_EQ(chart.pageCount(), 3);
    chart.setPage(2);
    EXPECT_EQ(chart.pageRows(), std::make_pair(qint64{100}, qint64{200}));
    ChartTrace t = chart.trace(1000);
    QList<QPointF> pts = allPoints(t);
    ASSERT_EQ(pts.size(), 100);
    EXPECT_EQ(pts.front(), QPointF(101, 101));
    EXPECT_EQ(pts.back(), QPointF(200, 200));
    chart.setPage(99);
    EXPECT_EQ(chart.page(), 3) << "limited to the page count";
    t = chart.trace(1000);
    pts = allPoints(t);
    ASSERT_EQ(pts.size(), 50);
    EXPECT_EQ(t.xLo, 201);
    EXPECT_EQ(t.xHi, 300);
    chart.setPage(0);
    EXPECT_EQ(chart.page(), 1);
}

TEST_F(Chart, PointsPerPageAndItsMessages) {
    addCounting(250);
    chart.setPage(3);
    changes = 0;
    EXPECT_TRUE(chart.MaxrecordChange("0").ok());
    EXPECT_EQ(chart.pageCount(), 1);
    EXPECT_EQ(chart.page(), 1) << "beyond the page count: the last page";
    EXPECT_EQ(allPoints(chart.trace(1000)).size(), 250);
    EXPECT_EQ(chart.pageLabel(), "3") << "the label keeps the page the chart followed to";

    Status s = chart.MaxrecordChange("-5");
    EXPECT_EQ(s.error(), "MaxPointsPerPage must be >= 0");
    EXPECT_EQ(chart.pointsPerPage(), 0);
    s = chart.MaxrecordChange("");
    EXPECT_EQ(s.error(), "'' is not a valid integer value");
    EXPECT_EQ(chart.pointsPerPage(), 0);
    EXPECT_TRUE(chart.MaxrecordChange("40").ok());
    EXPECT_EQ(chart.pageCount(), 7);
    EXPECT_EQ(changes, 2) << "only the accepted counts change the chart";
}

TEST_F(Chart, LabelIsWrittenOnlyByThePageButtons) {
    addCounting(250);
    chart.pressPageButton(PageButton::Last);
    EXPECT_EQ(chart.page(), 3);
    EXPECT_EQ(chart.pageLabel(), "3");
    EXPECT_FALSE(chart.nextLastEnabled());
    ASSERT_TRUE(chart.setPointsPerPage(200).ok());
    EXPECT_EQ(chart.page(), 2);
    EXPECT_EQ(chart.pageLabel(), "3") << "the label keeps the page the buttons left";
    QTemporaryDir dir;
    chart.setPicturesDir(dir.path());
    const QDateTime when(QDate(2024, 1, 2), QTime(3, 4));
    EXPECT_EQ(chart.picturePath(when), dir.path() + "/2401020304page3.bmp");
    chart.pressPageButton(PageButton::Previous);
    EXPECT_EQ(chart.pageLabel(), "1");
    EXPECT_TRUE(chart.nextLastEnabled());
}

TEST_F(Chart, SeriesAndFillSwitch) {
    int told = 0;
    QObject::connect(&chart, &ChartModel::settingsChanged, [&] { ++told; });
    EXPECT_TRUE(chart.fillTicked()) << "ticked at start";
    chart.BtFillClick(false);
    EXPECT_FALSE(chart.fillTicked());
    EXPECT_EQ(chart.activeSeries(), ChartModel::kLineSeries);
    chart.BtFillClick(false);
    EXPECT_EQ(told, 1) << "views hear of a change, not of the same setting again";
    chart.BtFillClick(true);
    EXPECT_EQ(chart.activeSeries(), ChartModel::kAreaSeries);
    addCounting(250);
    chart.setPage(3);
    chart.ShowSeries(7);
    EXPECT_EQ(chart.activeSeries(), -1);
    EXPECT_EQ(chart.pageCount(), 1) << "no active series: one page";
    EXPECT_EQ(chart.page(), 1);
    chart.ShowSeries(ChartModel::kLineSeries);
    EXPECT_EQ(chart.pageCount(), 3);
    ASSERT_TRUE(chart.setPointsPerPage(7).ok());
    EXPECT_EQ(told, 3);
}

TEST_F(Chart, ClearShowsOnlyTheRecordsAfterIt) {
    addCounting(250);
    chart.pressPageButton(PageButton::Last);
    ASSERT_EQ(chart.page(), 3);
    ASSERT_FALSE(chart.nextLastEnabled());
    chart.BtFillClick(false);
    chart.BtNewClick();
    EXPECT_TRUE(chart.showsSample());
    EXPECT_EQ(chart.activeSeries(), ChartModel::kLineSeries) << "Fill unticked: the line";
    // Page, label and buttons are left as they are, though one page is left.
    EXPECT_EQ(chart.pageCount(), 1);
    EXPECT_EQ(chart.page(), 3);
    EXPECT_EQ(chart.pageLabel(), "3");
    EXPECT_TRUE(chart.firstPreviousEnabled());
    EXPECT_FALSE(chart.nextLastEnabled());
    EXPECT_EQ(chart.pointsPerPage(), 100);
    EXPECT_TRUE(chart.trace(300).sample);
    // The chart was on its last page: it follows the new readings to theirs.
    add(251, "7", "V");
    add(252, "8", "V");
    EXPECT_EQ(chart.readingCount(), 2);
    EXPECT_EQ(chart.page(), 1);
    EXPECT_EQ(chart.pageLabel(), "1");
    EXPECT_EQ(allPoints(chart.trace(300)), (QList<QPointF>{{251, 7}, {252, 8}}));

    // Paged back, it stays on a page past the new readings until the page buttons move.
    addCounting(250);
    chart.pressPageButton(PageButton::First);
    ASSERT_FALSE(chart.following());
    chart.pressPageButton(PageButton::Last);
    chart.pressPageButton(PageButton::Previous);
    ASSERT_EQ(chart.page(), 2);
    chart.BtFillClick(true);
    chart.BtNewClick();
    EXPECT_EQ(chart.activeSeries(), ChartModel::kAreaSeries);
    EXPECT_TRUE(chart.firstPreviousEnabled()) << "Previous's states stay after the Clear";
    add(600, "7", "V");
    EXPECT_EQ(chart.page(), 2);
    EXPECT_TRUE(chart.trace(300).sample) << "page 2 of the new readings holds none of them";
    chart.pressPageButton(PageButton::First);
    EXPECT_EQ(allPoints(chart.trace(300)), (QList<QPointF>{{600, 7}}));
}

TEST_F(Chart, FollowsTheNewestPageUnlessPagedBack) {
    int paging = 0;
    QObject::connect(&chart, &ChartModel::pagingChanged, [&] { ++paging; });
    changes = 0;
    addCounting(100);
    EXPECT_EQ(changes, 100) << "each record on page 1 changes the page shown";
    EXPECT_EQ(paging, 0);
    EXPECT_TRUE(chart.firstPreviousEnabled() && chart.nextLastEnabled()) << "as at start";
    addCounting(1); // starts page 2: the chart goes there as Last would
    EXPECT_EQ(chart.page(), 2);
    EXPECT_EQ(chart.pageLabel(), "2");
    EXPECT_TRUE(chart.firstPreviousEnabled());
    EXPECT_FALSE(chart.nextLastEnabled());
    EXPECT_EQ(paging, 1);

    // Paged back: the page, its label and its buttons stay, and so does the picture.
    chart.pressPageButton(PageButton::Previous);
    EXPECT_FALSE(chart.following());
    changes = 0;
    paging = 0;
    addCounting(150);
    EXPECT_EQ(chart.page(), 1);
    EXPECT_EQ(chart.pageLabel(), "1");
    EXPECT_EQ(changes, 0) << "records beyond the page shown do not change it";
    EXPECT_EQ(paging, 0);
    chart.pressPageButton(PageButton::Next); // page 2 of 3 is not the newest
    EXPECT_FALSE(chart.following());
    addCounting(50); // page 4 begins
    EXPECT_EQ(chart.page(), 2);

    // Back on the last page, it follows again.
    chart.pressPageButton(PageButton::Last);
    ASSERT_EQ(chart.page(), 4);
    EXPECT_TRUE(chart.following());
    changes = 0;
    addCounting(99);
    EXPECT_EQ(changes, 99);
    EXPECT_EQ(chart.page(), 4);
    addCounting(1);
    EXPECT_EQ(chart.page(), 5);
    EXPECT_EQ(chart.pageLabel(), "5");
    EXPECT_EQ(allPoints(chart.trace(300)), (QList<QPointF>{{401, 401}}));

    // One page for all: nothing to follow, every record changes it.
    ASSERT_TRUE(chart.setPointsPerPage(0).ok());
    changes = 0;
    addCounting(3);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(chart.page(), 1);
}

TEST_F(Chart, FollowsResetsAndRemovals) {
    addCounting(150);
    chart.BtNewClick(); // shows nothing until new records come
    addCounting(30);
    // A record removed below the first shown keeps the same records shown.
    ASSERT_TRUE(table.deleteRecord(5).ok());
    EXPECT_EQ(chart.readingCount(), 30);
    EXPECT_EQ(allPoints(chart.trace(300)).front().x(), 151);
    // Clear All, New and Open reset the table: its records are shown from the start.
    table.close();
    EXPECT_TRUE(chart.showsSample());
    table.openScratch(readingsFields());
    addCounting(3);
    EXPECT_EQ(chart.readingCount(), 3);
    EXPECT_EQ(allPoints(chart.trace(300)).front(), QPointF(1, 1));
}

TEST_F(Chart, FollowsATableFileOpened) {
    QTemporaryDir dir;
    const QString path = dir.filePath("r.db");
    std::vector<px::Record> rows;
    for (int i = 1; i <= 120; ++i)
        rows.push_back({px::Value(std::int32_t(i)), px::Value::timeOfDay(1000 * i),
                        px::Value(QByteArray::number(i * 10)), px::Value("V"),
                        px::Value("DCV  600V"), px::Value("Continuous")});
    ASSERT_TRUE(px::writeTable(path, readingsFields(), rows).ok());
    // The chart was on page 5 of another table, with Next and Last disabled.
    addCounting(450);
    chart.pressPageButton(PageButton::Last);
    ASSERT_EQ(chart.pageLabel(), "5");
    int paging = 0;
    QObject::connect(&chart, &ChartModel::pagingChanged, [&] { ++paging; });
    table.close();
    table.setTableName(path);
    changes = 0;
    ASSERT_TRUE(table.open().ok());
    EXPECT_GE(changes, 1);
    EXPECT_GE(paging, 1);
    EXPECT_EQ(chart.readingCount(), 120);
    EXPECT_EQ(chart.pageCount(), 2);
    // Its first page, and the label and the buttons say so.
    EXPECT_EQ(chart.page(), 1);
    EXPECT_EQ(chart.pageLabel(), "1");
    EXPECT_TRUE(chart.firstPreviousEnabled());
    EXPECT_TRUE(chart.nextLastEnabled());
    EXPECT_EQ(allPoints(chart.trace(300)).back(), QPointF(100, 1000));
    // Recording into it brings the chart to the newest page.
    add(121, "5", "V");
    EXPECT_EQ(chart.page(), 2);
    EXPECT_EQ(chart.pageLabel(), "2");
}

TEST_F(Chart, EnvelopeKeepsEveryColumnsExtremes) {
    // A saw tooth with spikes and a run of overloads: the envelope must show each column's
    // smallest and largest reading and the gap.
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        std::string v = std::to_string((i * 37) % 1000);
        if (i == 12345)
            v = "99999";
        if (i == 777)
            v = "-500";
        if (i >= 15000 && i < 15500)
            v = "0L";
        add(i + 1, v, "V");
    }
    ASSERT_TRUE(chart.setPointsPerPage(0).ok());
    const int columns = 300;
    // The area is filled from below: one point a column, its largest reading; the axis still
    // spans the smallest.
    const ChartTrace area = chart.trace(columns);
    EXPECT_EQ(area.yMin, -500);
    EXPECT_EQ(area.yMax, 99999);
    EXPECT_LE(allPoints(area).size(), columns);
    EXPECT_TRUE(allPoints(area).contains(QPointF(12346, 99999)));
    EXPECT_FALSE(allPoints(area).contains(QPointF(778, -500)));

    chart.ShowSeries(ChartModel::kLineSeries);
    const ChartTrace t = chart.trace(columns);
    EXPECT_EQ(t.yMax, 99999);
    EXPECT_EQ(t.yMin, -500);
    EXPECT_EQ(t.runs.size(), 2) << "the overloads span whole columns";
    const QList<QPointF> pts = allPoints(t);
    EXPECT_LE(pts.size(), 2 * columns);
    EXPECT_TRUE(pts.contains(QPointF(12346, 99999)));
    EXPECT_TRUE(pts.contains(QPointF(778, -500)));
    // Each column's extremes, computed the slow way.
    for (int c = 0; c < columns; c += 7) {
        const qint64 a = qint64(n) * c / columns, b = qint64(n) * (c + 1) / columns;
        double lo = 1e300, hi = -1e300;
        for (qint64 r = a; r < b; ++r) {
            if (const auto v = chart.valueAt(r)) {
                lo = std::min(lo, *v);
                hi = std::max(hi, *v);
            }
        }
        if (lo > hi)
            continue;
        bool sawLo = false, sawHi = false;
        for (const QPointF& p : pts) {
            if (p.x() > a && p.x() <= b) {
                sawLo |= p.y() == lo;
                sawHi |= p.y() == hi;
            }
        }
        EXPECT_TRUE(sawLo && sawHi) << "column " << c;
    }
    // Points come in record order.
    EXPECT_TRUE(std::is_sorted(pts.begin(), pts.end(),
                               [](const QPointF& l, const QPointF& r) { return l.x() < r.x(); }));
    // Removing a record shifts the rows: the summaries follow.
    ASSERT_TRUE(table.deleteRecord(12345).ok());
    EXPECT_EQ(chart.trace(columns).yMax, 999);
    EXPECT_LT(chart.memoryUsage(), std::size_t(n));
}

TEST_F(Chart, LongColumnsDrawExactReadingsFromTheSummaries) {
    // Hundreds of records a column: the columns are read through the row summaries, whose
    // single precision must not leak into what is drawn.
    const int n = 64 * 1000 + 17;
    for (int i = 0; i < n; ++i)
        add(i + 1, std::to_string(1234567 + (i * 7919) % 1000) + ".891", "V");
    add(n + 1, "1299999.999", "V");
    ASSERT_TRUE(chart.setPointsPerPage(0).ok());
    chart.ShowSeries(ChartModel::kLineSeries);
    const int columns = 40;
    const ChartTrace t = chart.trace(columns);
    const QList<QPointF> pts = allPoints(t);
    EXPECT_LE(pts.size(), 2 * columns);
    EXPECT_EQ(t.yMin, 1234567.891);
    EXPECT_EQ(t.yMax, 1299999.999);
    EXPECT_EQ(pts.back(), QPointF(n + 1, 1299999.999)) << "the last, partial summary too";
    for (const QPointF& p : pts)
        EXPECT_EQ(p.y(), chart.valueAt(qint64(p.x()) - 1).value()) << "record " << p.x();
    EXPECT_TRUE(std::is_sorted(pts.begin(), pts.end(),
                               [](const QPointF& l, const QPointF& r) { return l.x() < r.x(); }));
    // Every column shows the range its records cover.
    int lowest = 0;
    for (const QPointF& p : pts)
        lowest += p.y() == 1234567.891;
    EXPECT_GE(lowest, columns - 1);
}

// An insulation tester's table holds resistance readings and voltage checks: the chart plots
// the resistance and leaves the voltages out as gaps, as it does non-numbers.
TEST_F(Chart, MixedTablesPlotTheResistanceReadings) {
    add(1, "950");
    add(2, "500", "V");
    add(3, "1.20", "G" + kOhm);
    add(4, "230", "V");
    add(5, "");
    add(6, "----");
    add(7, "0L");
    add(8, "7", "");
    add(9, "12.5", "k" + kOhm);
    add(10, "0.00");
    EXPECT_EQ(chart.quantity(), ChartQuantity::Resistance);
    chart.ShowSeries(ChartModel::kLineSeries);
    const ChartTrace t = chart.trace(300);
    EXPECT_EQ(t.quantity, ChartQuantity::Resistance);
    ASSERT_EQ(t.runs.size(), 3);
    EXPECT_EQ(t.runs[0], (QList<QPointF>{{1, 950e6}}));
    EXPECT_EQ(t.runs[1], (QList<QPointF>{{3, 1.2e9}}));
    EXPECT_EQ(t.runs[2], (QList<QPointF>{{9, 12.5e3}, {10, 0}}));
    EXPECT_EQ(t.yMin, 0);
    EXPECT_EQ(t.yMax, 1.2e9);
    EXPECT_EQ(t.yLeast, 12.5e3) << "the smallest above zero, for the logarithmic axis";
    EXPECT_FALSE(chart.valueAt(1).has_value());
    const ChartAxis axis = chartAxis(t);
    EXPECT_TRUE(axis.logarithmic);
    EXPECT_EQ(axis.unit, "G\u03A9");

    // Summarised columns leave the voltages out too: a thousand readings of 1 GΩ with a
    // voltage check of 500 V between every two.
    table.openScratch(readingsFields());
    for (int i = 1; i <= 3000; ++i)
        add(i, i % 3 == 0 ? "500" : "1.00", i % 3 == 0 ? "V" : "G" + kOhm);
    ASSERT_TRUE(chart.setPointsPerPage(0).ok());
    for (int series : {ChartModel::kAreaSeries, ChartModel::kLineSeries}) {
        chart.ShowSeries(series);
        const ChartTrace big = chart.trace(100);
        EXPECT_EQ(big.yMin, 1e9);
        EXPECT_EQ(big.yMax, 1e9);
        for (const QPointF& p : allPoints(big))
            EXPECT_EQ(p.y(), 1e9);
    }
}

TEST_F(Chart, VoltageOnlyTablesPlotTheirVolts) {
    add(1, "230", "V");
    add(2, "----", "V");
    add(3, "7", "");
    add(4, "-12", "V");
    EXPECT_EQ(chart.quantity(), ChartQuantity::Voltage);
    ChartTrace t = chart.trace(300);
    EXPECT_EQ(allPoints(t), (QList<QPointF>{{1, 230}, {4, -12}}))
        << "a reading without a unit is no voltage";
    EXPECT_EQ(chartAxis(t).unit, "V");
    EXPECT_FALSE(chartAxis(t).logarithmic);

    // The first resistance reading turns the chart into a resistance chart at once.
    changes = 0;
    chart.pressPageButton(PageButton::Previous); // even on a page it does not land on
    add(5, "300");
    EXPECT_GE(changes, 1);
    EXPECT_EQ(chart.quantity(), ChartQuantity::Resistance);
    t = chart.trace(300);
    EXPECT_EQ(allPoints(t), (QList<QPointF>{{5, 300e6}}));
    EXPECT_EQ(chartAxis(t).unit, "M\u03A9");

    // Removed again, the voltages come back.
    ASSERT_TRUE(table.deleteRecord(4).ok());
    EXPECT_EQ(chart.quantity(), ChartQuantity::Voltage);
    EXPECT_EQ(allPoints(chart.trace(300)), (QList<QPointF>{{1, 230}, {4, -12}}));
    // A record removed before the first voltage keeps the chart a voltage chart.
    add(5, "1", "V");
    ASSERT_TRUE(table.deleteRecord(2).ok());
    EXPECT_EQ(chart.quantity(), ChartQuantity::Voltage);

    // Clear: the readings after it decide.
    add(6, "2.5", "G" + kOhm);
    EXPECT_EQ(chart.quantity(), ChartQuantity::Resistance);
    chart.BtNewClick();
    add(7, "400", "V");
    EXPECT_EQ(chart.quantity(), ChartQuantity::Voltage);
    chart.pressPageButton(PageButton::First);
    EXPECT_EQ(allPoints(chart.trace(300)), (QList<QPointF>{{7, 400}}));
}

// Tables of other programs: fields of other names are read by position and kind, a value may
// be kept as a number with its unit beside it, and without a number field X is the point's
// number; without a value field nothing is drawn.
TEST_F(Chart, TablesOfOtherShapes) {
    using T = px::FieldType;
    using Texts = std::vector<std::pair<const char*, std::string>>;
    const struct {
        const char* what;
        std::vector<px::FieldDef> fields;
        std::vector<Texts> rows;
        QList<QList<QPointF>> runs;
    } cases[] = {
        {"other names",
         {{"Nr", T::Long, 4},
          {"Uhrzeit", T::Time, 4},
          {"Wert", T::Alpha, 8},
          {"Einheit", T::Alpha, 4},
          {"Bereich", T::Alpha, 20},
          {"Notiz", T::Alpha, 20}},
         {{{"Nr", "10"}, {"Wert", "1"}, {"Einheit", "k" + kOhm}},
          {{"Nr", "20"}, {"Wert", "2"}, {"Einheit", "k" + kOhm}},
          {{"Nr", "30"}, {"Wert", "3"}, {"Einheit", "k" + kOhm}}},
         {{{10, 1000}, {20, 2000}, {30, 3000}}}},
        {"numeric values",
         {{"No", T::Long, 4}, {"Value", T::Long, 4}, {"Unit", T::Alpha, 4}},
         {{{"No", "1"}, {"Value", "950"}, {"Unit", "M" + kOhm}},
          {{"No", "2"}, {"Value", "500"}, {"Unit", "V"}},
          {{"No", "3"}, {"Value", "2"}, {"Unit", "G" + kOhm}},
          {{"No", "4"}, {"Value", "0"}, {"Unit", "T" + kOhm}}},
         {{{1, 950e6}}, {{3, 2e9}, {4, 0}}}},
        {"no number field", {{"Value", T::Alpha, 16}}, {{{"Value", "5"}}}, {{{1, 5}}}},
        {"no value field", {{"SNo", T::Long, 4}, {"Other", T::Alpha, 8}}, {{{"SNo", "3"}}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        table.openScratch(c.fields);
        for (const Texts& row : c.rows) {
            table.append();
            for (const auto& [field, text] : row)
                ASSERT_TRUE(table.setFieldText(field, text).ok()) << field;
            ASSERT_TRUE(table.post().ok());
        }
        const ChartTrace t = chart.trace(300);
        EXPECT_EQ(t.runs, c.runs);
        EXPECT_FALSE(t.sample);
        EXPECT_EQ(t.anyValue, !c.runs.isEmpty());
    }
}

// The line is not drawn across a stretch the link was down in, on pages of a point a reading
// and on pages drawn a column at a time.
TEST_F(Chart, ALinkGapBreaksTheLine) {
    const std::int64_t t0 = 36'000'000; // 10:00
    // 300 readings a second apart; the link down for 20 s before reading 151.
    for (int no = 1; no <= 300; ++no)
        kxtest::addRow(table, {no, t0 + (no - 1) * 1000 + (no > 150 ? 20'000 : 0),
                               std::to_string(no), "M" + kOhm, "", ""});
    const std::vector<LinkGap> down = {{QTime(10, 2, 29, 500), QTime(10, 2, 49), {}}};
    struct Case {
        const char* what;
        int perPage;
        std::vector<LinkGap> gaps;
        int columns;
        qsizetype runs;
        double lastOfFirstRun; // its X
    };
    const std::vector<Case> cases = {
        {"no gap kept", 0, {}, 400, 1, 300},
        {"a point a reading", 0, down, 400, 2, 150},
        // Columns of rows [85, 128) and [128, 171): the one the link was down in starts anew.
        {"a column of several readings", 0, down, 7, 2, 128},
        {"a page without the gap", 100, down, 400, 1, 100},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(chart.setPointsPerPage(c.perPage).ok());
        chart.setPage(1);
        chart.setLinkGaps(c.gaps);
        const ChartTrace t = chart.trace(c.columns);
        ASSERT_EQ(t.runs.size(), c.runs) << c.what;
        EXPECT_EQ(t.runs[0].back().x(), c.lastOfFirstRun) << c.what;
        EXPECT_EQ(allPoints(t).back().x(), c.perPage ? 100 : 300) << c.what;
    }
    const int before = changes;
    chart.setLinkGaps({});
    EXPECT_GT(changes, before) << "views redraw when the gaps change";
}
