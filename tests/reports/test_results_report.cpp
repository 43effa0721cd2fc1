#include "analysis/live_results.h"
#include "common/cp936.h"
#include "reports/report_document.h"
#include "reports/report_export.h"
#include "reports/report_fixtures.h"
#include "reports/results_report.h"
#include "reports/ui/report_painter.h"
#include "support/csv_reader.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

using namespace kx;

namespace {

TestDetails pumpDetails() {
    TestDetails d;
    d.asset = QStringLiteral("Pump motor 3");
    d.location = QStringLiteral("Hall B");
    d.operatorName = QStringLiteral("J. Doe");
    d.humidity = QStringLiteral("55 %");
    d.notes = QStringLiteral("Terminals cleaned.\nWinding warm after run.");
    d.settings.temperature = 30;
    return d;
}

ReportDocument reportOf(const ReadingsTable& t, const TestDetails& d) {
    auto data = resultsReportOf(t, d);
    EXPECT_TRUE(data.ok()) << data.error().toStdString();
    return prepareResultsReport(data.take(), QDate(2025, 3, 14));
}

QString textOf(const ReportDocument& doc, ReportFileKind kind = ReportFileKind::Text) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const Result<SaveOutcome> r = writeReportText(doc, kind, buffer);
    EXPECT_TRUE(r.ok()) << r.error().toStdString();
    return kind == ReportFileKind::Html ? QString::fromUtf8(buffer.data())
                                        : fromCp936(buffer.data());
}

} // namespace

TEST(ResultsReport, TextOfEveryEntry) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t);
    const ReportDocument doc = reportOf(t, pumpDetails());
    ASSERT_EQ(doc.pageCount(), 1);
    ASSERT_EQ(doc.recordCount(), 2);
    // R15, R30 and R60 are readings taken at the marks: 330, 360 and 420 MΩ; DAR 420 / 360,
    // DAR15 420 / 330; at 30 °C the 1-minute resistance is half at 40 °C.
    const QString expected =
        QString::fromUtf8(
            "                          INSULATION TEST REPORT               Print Date: %1\r\n"
            "Table:     (no file)\r\n"
            "Asset:     Pump motor 3                Location:  Hall B\r\n"
            "Operator:  J. Doe                      Humidity:  55 %\r\n"
            "Winding temperature: 30 °C            Base temperature: 40 °C\r\n"
            "Minimum R60:    100.0 MΩ              PI minimum:   2.0\r\n"
            "Notes:     Terminals cleaned.\r\n"
            "           Winding warm after run.\r\n"
            "2 tests: 1 passed, 0 failed, 1 inconclusive.\r\n"
            "Test 1   Timed     IR:500V 20GΩ       Start 09:00:00.000 Duration 1:10\r\n"
            "PASS\r\n"
            "Test voltage  500 V\r\n"
            "R15           330.0 MΩ\r\n"
            "R30           360.0 MΩ\r\n"
            "R60           420.0 MΩ\r\n"
            "R600          not available\r\n"
            "DAR           1.17\r\n"
            "DAR15         1.27\r\n"
            "PI            not available\r\n"
            "R60 at 40 °C 210.0 MΩ\r\n" // ° is two columns wide in code page 936
            // Code page 936 has no bullet: the reasons start with its middle dot.
            "· 1-minute resistance 420 MΩ at 30 °C, corrected to 40 °C: 210 MΩ meets the minimum "
            "of 100 MΩ.\r\n"
            "· No polarization index: the test lasted 1 min 10 s, less than the 10 minutes it "
            "needs.\r\n"
            "Test 2   Continuous IR:2500 100GΩ     Start 09:15:00.000 Duration 0:12\r\n"
            "INCONCLUSIVE\r\n"
            "Test voltage  2500 V\r\n"
            "R15           not available\r\n"
            "R30           not available\r\n"
            "R60           not available\r\n"
            "R600          not available\r\n"
            "DAR           not available\r\n"
            "DAR15         not available\r\n"
            "PI            not available\r\n"
            "R60 at 40 °C not available\r\n"
            "· No 1-minute resistance: the test ended after 12 s, before the 1-minute mark.\r\n"
            "   The Page 1 Of 1\r\n")
            .arg(doc.dateText());
    EXPECT_EQ(textOf(doc).toStdString(), expected.toStdString());
}

TEST(ResultsReport, NoTestsSaySoOnOnePage) {
    ReadingsTable t;
    t.openScratch(readingsFields());
    kxtest::addReading(t, 1, 36'000'000, "230.4", "V", "ACV  600V", "Continuous");
    const ReportDocument doc = reportOf(t, TestDetails{});
    EXPECT_EQ(doc.pageCount(), 1);
    const QString text = textOf(doc);
    EXPECT_TRUE(text.contains(QLatin1String("No insulation tests were found in this table.")));
    EXPECT_TRUE(text.contains(QLatin1String("Winding temperature: not given")));
    EXPECT_FALSE(text.contains(QLatin1String("Test 1")));
    EXPECT_TRUE(text.endsWith(QLatin1String("The Page 1 Of 1\r\n")));
}

TEST(ResultsReport, TwoTestsAPageAndTheTotalInEveryFooter) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t, 4); // five tests
    const ReportDocument doc = reportOf(t, TestDetails{});
    ASSERT_EQ(doc.recordCount(), 5);
    EXPECT_EQ(doc.pageCount(), 3);
    const QStringList pages = textOf(doc).split(QLatin1Char('\f'));
    ASSERT_EQ(pages.size(), 3);
    EXPECT_TRUE(pages[0].contains(QLatin1String("Test 2")));
    EXPECT_TRUE(pages[1].contains(QLatin1String("Test 3")) &&
                pages[1].contains(QLatin1String("Test 4")));
    EXPECT_FALSE(pages[1].contains(QLatin1String("Asset:")))
        << "the details on the first page only";
    EXPECT_TRUE(pages[2].contains(QLatin1String("The Page 3 Of 3")));
}

TEST(ResultsReport, HtmlDrawsEachCurveWithItsMarks) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t);
    const QString html = textOf(reportOf(t, pumpDetails()), ReportFileKind::Html);
    EXPECT_EQ(html.count(QLatin1String("<svg")), 2);
    // The first test has R15, R30 and R60; the second, of 12 s, none.
    EXPECT_EQ(html.count(QLatin1String("<circle")), 3);
    EXPECT_TRUE(html.contains(QLatin1String(">1 min</text>")));
    EXPECT_TRUE(html.contains(QLatin1String("style=\"color:#080\">PASS<")));
    EXPECT_TRUE(html.contains(QLatin1String("style=\"color:#808080\">INCONCLUSIVE<")));
}

TEST(ResultsReport, ThePagePainterDrawsTheCurveWhereItsBoxIs) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t);
    const ReportDocument doc = reportOf(t, pumpDetails());
    constexpr double dotsPerMm = 8;
    const QImage page = ReportPainter(doc).renderPage(0, dotsPerMm);
    // The curve's box of the first test, from the layout: the first detail band follows the
    // page header (10.6 mm) and the details (44 mm).
    const ReportBand* band = doc.layout().band(BandKind::Detail);
    ASSERT_TRUE(band && band->picture);
    const ReportPictureBox& b = *band->picture;
    const QRectF box((kMarginMm + b.left) * dotsPerMm,
                     (kMarginMm + 10.6 + 44.0 + b.top) * dotsPerMm, b.width * dotsPerMm,
                     b.height * dotsPerMm);
    // Where the layout puts the 1-minute mark's dot, in the box's plot area.
    const TestCurveLayout l = layoutTestCurve(resultsReportOf(t, pumpDetails()).value()->curve(0),
                                              doc.results()->tests[0], int(box.width()));
    QFont labels(QStringLiteral("Arial"));
    labels.setPointSizeF(7);
    QImage probe(1, 1, QImage::Format_RGB32);
    probe.setDotsPerMeterX(page.dotsPerMeterX());
    probe.setDotsPerMeterY(page.dotsPerMeterY());
    const double h = QFontMetricsF(labels, &probe).height();
    const QRectF plot = curvePlotArea(box, h);
    ASSERT_EQ(l.marks.size(), 3u); // 15 s, 30 s and 1 min on a 2-minute axis
    const QPointF expected = curvePlotPoint(plot, {l.marks[2].x, *l.marks[2].y});
    // The mark's orange dot is found there, within a pixel or two.
    const kxtest::Ink dot = kxtest::inkIn(
        page, QRectF(expected - QPointF(12, 12), QSizeF(24, 24)).toRect(),
        [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 70 && qGreen(c) < 120 && qBlue(c) < 40; });
    ASSERT_GT(dot.count, 10);
    EXPECT_NEAR(dot.centre.x(), expected.x(), 2.0);
    EXPECT_NEAR(dot.centre.y(), expected.y(), 2.0);
    // The verdict in green at its place.
    const QRectF verdict(kMarginMm, kMarginMm + 54.6 + 8, 30, 7);
    EXPECT_GT(kxtest::inkIn(
                  page, QRectF(verdict.topLeft() * dotsPerMm, verdict.size() * dotsPerMm).toRect(),
                  [](QRgb c) { return qGreen(c) > 100 && qRed(c) < 80 && qBlue(c) < 80; })
                  .count,
              100);
}

// The comma-separated report as a spreadsheet reads it: durations in seconds under a heading
// that says so (a spreadsheet reads "1:10" as ten past one), and no line that starts with a
// character the formula guard would have to escape, such as a bullet "- ".
TEST(ResultsReport, CsvGivesSecondsAndNothingTheFormulaGuardEscapes) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(writeReportText(reportOf(t, pumpDetails()), ReportFileKind::Csv, buffer).ok());
    const QByteArray bytes = buffer.data();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const auto rows =
        kxtest::readStrictCsv(std::string_view(bytes.constData() + 3, bytes.size() - 3), ',');
    ASSERT_TRUE(rows.has_value());
    struct Expected {
        std::string test;
        std::string seconds;
    };
    const Expected tests[] = {{"Test 1", "70"}, {"Test 2", "12"}};
    for (const Expected& e : tests) {
        bool found = false;
        for (const auto& row : *rows) {
            if (row.empty() || row.front() != e.test)
                continue;
            found = true;
            ASSERT_GE(row.size(), 2u);
            EXPECT_EQ(row[row.size() - 2], "Duration (s)") << e.test;
            EXPECT_EQ(row.back(), e.seconds) << e.test;
        }
        EXPECT_TRUE(found) << e.test;
    }
    int reasons = 0;
    for (const auto& row : *rows) {
        for (const std::string& cell : row) {
            EXPECT_TRUE(cell.empty() ||
                        std::string("'=+-@").find(cell.front()) == std::string::npos)
                << cell;
            reasons += cell.starts_with("\u2022 ");
        }
    }
    EXPECT_EQ(reasons, 3);
    EXPECT_FALSE(bytes.contains("Duration,")) << "the printed form stays on paper";
}

// Every text of each curve's picture lies inside it, however its letters are set: the last
// time mark ("2 min") and the last mark's name end at the right edge at the latest.
TEST(ResultsReport, HtmlCurveTextsStayInsideTheirPicture) {
    ReadingsTable t;
    kxtest::fillInsulationTests(t);
    const auto data = resultsReportOf(t, pumpDetails()).value();
    // A ten-minute PI test: its last time mark and its last mark's name sit on the plot's
    // right edge.
    InsulationResult pi = data->tests[0];
    pi.mode = "PI";
    pi.duration = 600;
    pi.r600 = 4e9;
    std::vector<CurvePoint> piCurve;
    for (int s = 0; s <= 600; s += 5)
        piCurve.push_back({double(s), 1e9 + 5e6 * s});
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(100);
    const QFontMetricsF fm(font);
    const QRegularExpression svgSize(QStringLiteral("viewBox=\"0 0 ([0-9.]+) ([0-9.]+)\""));
    const QRegularExpression texts(QStringLiteral(
        "<text x=\"([-0-9.]+)\" y=\"[-0-9.]+\" text-anchor=\"(\\w+)\"[^>]*>([^<]*)</text>"));
    struct Case {
        const InsulationResult& test;
        std::vector<CurvePoint> curve;
        double widthMm;
        double heightMm;
    };
    const Case cases[] = {{data->tests[0], data->curve(0), 116, 56},
                          {data->tests[0], data->curve(0), 60, 40},
                          {pi, piCurve, 116, 56},
                          {pi, piCurve, 181.2, 151.6}};
    for (const Case& c : cases) {
        const QString svg = testCurveSvg(layoutTestCurve(c.curve, c.test, int(c.widthMm * 4)),
                                         c.widthMm, c.heightMm);
        const QRegularExpressionMatch size = svgSize.match(svg);
        ASSERT_TRUE(size.hasMatch());
        const double width = size.captured(1).toDouble();
        int seen = 0;
        for (auto it = texts.globalMatch(svg); it.hasNext(); ++seen) {
            const QRegularExpressionMatch m = it.next();
            const double x = m.captured(1).toDouble();
            const double w = fm.horizontalAdvance(m.captured(3)) * 2.6 / 100;
            const QString anchor = m.captured(2);
            const double left = anchor == QLatin1String("end")      ? x - w
                                : anchor == QLatin1String("middle") ? x - w / 2
                                                                    : x;
            EXPECT_GE(left, -0.01) << m.captured(3).toStdString() << " in " << c.widthMm;
            EXPECT_LE(left + w, width + 0.01) << m.captured(3).toStdString() << " in " << c.widthMm;
        }
        EXPECT_GT(seen, 8) << c.widthMm;
    }
}
