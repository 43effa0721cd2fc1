#include "reports/report_document.h"
#include "reports/report_fixtures.h"

#include <gtest/gtest.h>

using namespace kx;

namespace {

// The detail bands of a page, as the records they show.
std::vector<qint64> detailRecords(const ReportPage& p) {
    std::vector<qint64> rows;
    for (const PlacedBand& b : p.bands) {
        if (b.band->kind == BandKind::Detail)
            rows.push_back(b.record);
    }
    return rows;
}

const PlacedBand* placed(const ReportPage& p, BandKind kind) {
    for (const PlacedBand& b : p.bands) {
        if (b.band->kind == kind)
            return &b;
    }
    return nullptr;
}

bool hasSummary(const ReportPage& p) {
    return placed(p, BandKind::Summary) != nullptr;
}

// The texts printed in the first band of `kind` on page `index` (for a detail band, the one
// of `record` when given).
QStringList texts(const ReportDocument& doc, int index, BandKind kind, qint64 record = -2) {
    const ReportPage page = doc.page(index);
    QStringList out;
    for (const PlacedBand& b : page.bands) {
        if (b.band->kind == kind && (record == -2 || b.record == record)) {
            for (const ReportText& t : b.band->texts)
                out << doc.text(t, b, page.number);
            break;
        }
    }
    return out;
}

} // namespace

TEST(ReportPageTotal, ThirtySevenRecordsAPage) {
    EXPECT_EQ(reportPageTotal(0), 1);
    EXPECT_EQ(reportPageTotal(1), 1);
    EXPECT_EQ(reportPageTotal(37), 1);
    EXPECT_EQ(reportPageTotal(38), 2);
    EXPECT_EQ(reportPageTotal(74), 2);
    EXPECT_EQ(reportPageTotal(75), 3);
    EXPECT_EQ(reportPageTotal(10'000'000), 270'271);
}

TEST(ReportPageTotal, ComputedBeforeEachReportFromItsOwnTable) {
    ReadingsTable live, store;
    ReportState state;
    // Closed tables count as one record.
    prepareDataReport(state, live, {});
    prepareStoreReport(state, store, {});
    EXPECT_EQ(state.DataReportPages, 1);
    EXPECT_EQ(state.StoreReportPages, 1);

    kxtest::fillReadings(live, 75);
    kxtest::fillReadings(store, 38, true);
    const ReportDocument data = prepareDataReport(state, live, {});
    EXPECT_EQ(state.DataReportPages, 3);
    EXPECT_EQ(state.StoreReportPages, 1); // untouched until its own report
    const ReportDocument stored = prepareStoreReport(state, store, {});
    EXPECT_EQ(state.StoreReportPages, 2);
    EXPECT_EQ(data.pageTotal(), 3);
    EXPECT_EQ(stored.pageTotal(), 2);
    // The pages laid out agree with the totals printed.
    EXPECT_EQ(data.pageCount(), 3);
    EXPECT_EQ(stored.pageCount(), 2);
}

TEST(ReportPagination, DataReportBandsInMillimetres) {
    const ReportLayout& l = reportLayout(ReportKind::Data);
    ReportPagination p(l, 38);
    ASSERT_EQ(p.pageCount(), 2);
    EXPECT_EQ(p.rowsOnFirstPage(), 37);
    EXPECT_EQ(p.rowsOnLaterPages(), 37);

    const ReportPage first = p.page(0);
    ASSERT_NE(placed(first, BandKind::PageHeader), nullptr);
    EXPECT_DOUBLE_EQ(placed(first, BandKind::PageHeader)->top, 0.0);
    EXPECT_NEAR(placed(first, BandKind::ColumnHeader)->top, 10.6, 1e-9);
    EXPECT_NEAR(placed(first, BandKind::Detail)->top, 21.2, 1e-9);
    // The footer sits at the foot of the printable area, below the 37th row.
    const PlacedBand* footer = placed(first, BandKind::PageFooter);
    ASSERT_NE(footer, nullptr);
    EXPECT_NEAR(footer->top, 266.4, 1e-9);
    const PlacedBand& last = first.bands[first.bands.size() - 2];
    EXPECT_EQ(last.record, 36);
    EXPECT_LE(last.top + 6.6, footer->top + 1e-9);

    // Page 2: header and column header again, the 38th record, the footer on the last page.
    const ReportPage second = p.page(1);
    EXPECT_EQ(second.number, 2);
    EXPECT_EQ(detailRecords(second), std::vector<qint64>{37});
    EXPECT_NE(placed(second, BandKind::PageHeader), nullptr);
    EXPECT_NE(placed(second, BandKind::ColumnHeader), nullptr);
    EXPECT_NE(placed(second, BandKind::PageFooter), nullptr);
    EXPECT_TRUE(p.page(2).bands.empty());
    EXPECT_TRUE(p.page(-1).bands.empty());
}

TEST(ReportPagination, EmptyOrClosedTableGivesOnePageWithOneEmptyDetailBand) {
    for (ReportKind kind : {ReportKind::Data, ReportKind::Store, ReportKind::DataGraph}) {
        ReportPagination p(reportLayout(kind), 0);
        ASSERT_EQ(p.pageCount(), 1);
        EXPECT_EQ(detailRecords(p.page(0)), std::vector<qint64>{-1});
    }
    ReadingsTable closed;
    ReportState state;
    const ReportDocument doc = prepareDataReport(state, closed, QDate(2024, 5, 6));
    ASSERT_EQ(doc.pageCount(), 1);
    EXPECT_EQ(texts(doc, 0, BandKind::Detail), QStringList(6, QString()));
    EXPECT_EQ(texts(doc, 0, BandKind::PageFooter), (QStringList{"The Page", "1", "Of", "1"}));
}

TEST(ReportPagination, TheSummaryFollowsTheLastRecordOrTakesANewPage) {
    const ReportLayout& l = reportLayout(ReportKind::DataGraph);
    // The title band takes 0.3 mm of the first page only; 37 rows fit either way.
    EXPECT_EQ(ReportPagination(l, 1).rowsOnFirstPage(), 37);
    EXPECT_EQ(ReportPagination(l, 1).rowsOnLaterPages(), 37);
    EXPECT_NEAR(placed(ReportPagination(l, 1).page(0), BandKind::ColumnHeader)->top, 10.9, 1e-9);

    // 91.3 mm of summary fits under 23 rows, not under 24.
    ReportPagination fits(l, 23);
    ASSERT_EQ(fits.pageCount(), 1);
    const ReportPage fitting = fits.page(0);
    EXPECT_TRUE(hasSummary(fitting));
    const PlacedBand* summary = placed(fitting, BandKind::Summary);
    EXPECT_NEAR(summary->top, 10.6 + 0.3 + 10.6 + 23 * 6.6, 1e-9);

    ReportPagination spills(l, 24);
    ASSERT_EQ(spills.pageCount(), 2);
    EXPECT_FALSE(hasSummary(spills.page(0)));
    EXPECT_TRUE(detailRecords(spills.page(1)).empty());
    EXPECT_TRUE(hasSummary(spills.page(1)));
    EXPECT_NEAR(placed(spills.page(1), BandKind::Summary)->top, 21.2, 1e-9);
    EXPECT_EQ(placed(spills.page(1), BandKind::Title), nullptr);

    // On a later page the same rule: 37 + 23 rows keep the summary on page 2.
    EXPECT_EQ(ReportPagination(l, 60).pageCount(), 2);
    EXPECT_EQ(ReportPagination(l, 61).pageCount(), 3);
    EXPECT_TRUE(hasSummary(ReportPagination(l, 74).page(2)));
    // Its footer carries no page numbers.
    EXPECT_TRUE(l.band(BandKind::PageFooter)->texts.empty());
    EXPECT_NEAR(l.band(BandKind::PageFooter)->height, 9.8, 1e-9);
}

TEST(ReportPagination, GraphReportPrintsItsPictureOnce) {
    // Even when it is handed a table of 200 records, the graph report is one page with its
    // picture printed once.
    ReadingsTable live;
    kxtest::fillReadings(live, 200);
    const ReportDocument doc(ReportKind::Graph, &live, 1, {}, QStringLiteral("/tmp/x.png"));
    EXPECT_EQ(doc.picturePath(), "/tmp/x.png");
    ASSERT_EQ(doc.pageCount(), 1);
    EXPECT_EQ(doc.recordCount(), 0);
    const ReportPage page = doc.page(0);
    EXPECT_EQ(detailRecords(page), std::vector<qint64>{-1});
    const PlacedBand* detail = placed(page, BandKind::Detail);
    ASSERT_TRUE(detail->band->picture.has_value());
    EXPECT_NEAR(detail->top, 15.6, 1e-9);
    EXPECT_NEAR(detail->band->picture->width, 181.2, 1e-9);
    EXPECT_EQ(placed(page, BandKind::PageFooter), nullptr);
}

TEST(ReportPagination, AnyPageOfAHugeReportIsLaidOutDirectly) {
    ReportPagination p(reportLayout(ReportKind::Data), 10'000'000);
    EXPECT_EQ(p.pageCount(), 270'271);
    const ReportPage last = p.page(p.pageCount() - 1);
    const std::vector<qint64> lastRows = detailRecords(last);
    ASSERT_EQ(lastRows.size(), 10u);
    EXPECT_EQ(lastRows.front(), 9'999'990);
    EXPECT_EQ(lastRows.back(), 9'999'999);
    const ReportPage middle = p.page(135'000);
    const std::vector<qint64> rows = detailRecords(middle);
    ASSERT_EQ(rows.size(), 37u);
    EXPECT_EQ(rows.front(), 135'000LL * 37);
}

TEST(ReportDocument, TextsComeFromTheTableAndTheReport) {
    ReadingsTable live;
    kxtest::fillReadings(live, 40);
    ReportState state;
    const ReportDocument doc = prepareDataReport(state, live, QDate(2024, 5, 6));
    EXPECT_EQ(texts(doc, 1, BandKind::Detail),
              (QStringList{"38", "10:00:37", "1.037", QStringLiteral("M\u03A9"),
                           QStringLiteral("IR:500V 20G\u03A9"), "Continuous"}));
    // The report's date in the short date form of the tests' locale.
    EXPECT_EQ(texts(doc, 1, BandKind::PageHeader),
              (QStringList{" TEST DATA REPORT", "Print Date:", "6 May 2024"}));
    EXPECT_EQ(texts(doc, 1, BandKind::PageFooter), (QStringList{"The Page", "2", "Of", "2"}));
}

TEST(ReportDocument, EitherReportPrintsATableOfEitherKind) {
    // The stored-data report of a recording and the data report of stored readings print the
    // same six fields.
    ReadingsTable live, store;
    kxtest::fillReadings(live, 3);
    kxtest::fillReadings(store, 3, true);
    ReportState state;
    const QStringList second{"2",
                             "10:00:01",
                             "1.001",
                             QStringLiteral("M\u03A9"),
                             QStringLiteral("IR:500V 20G\u03A9"),
                             "Continuous"};
    EXPECT_EQ(texts(prepareStoreReport(state, live, {}), 0, BandKind::Detail, 1), second);
    EXPECT_EQ(texts(prepareDataReport(state, store, {}), 0, BandKind::Detail, 1), second);
    EXPECT_EQ(texts(prepareDataGraphReport(store, {}, {}), 0, BandKind::Detail, 1), second);
}

// The report command both front ends run: a table of other fields prints nothing and is
// refused beforehand; what it refuses leaves the page totals alone.
TEST(ReportCommand, RefusesWhatWouldPrintNothingAndCountsTheRest) {
    ReadingsTable live, other;
    kxtest::fillReadings(live, 40);
    other.openScratch({{"Id", px::FieldType::Long, 4}});
    other.append();
    ASSERT_TRUE(other.setFieldInt("Id", 5).ok());
    ASSERT_TRUE(other.post().ok());
    ReportState state;
    const QDate day(2024, 5, 6);

    for (ReportKind k : {ReportKind::Graph, ReportKind::DataGraph}) {
        const Result<ReportDocument> r = prepareReport(k, &live, state, day);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), " Warning:Please select graph to print! ");
    }
    for (ReportKind k : {ReportKind::Data, ReportKind::Store}) {
        const Result<ReportDocument> r = prepareReport(k, &other, state, day);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(r.error().contains("does not hold readings")) << r.error().toStdString();
    }
    EXPECT_EQ(state.DataReportPages, 1);
    EXPECT_EQ(state.StoreReportPages, 1);

    Result<ReportDocument> r = prepareReport(ReportKind::Store, &live, state, day);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().kind(), ReportKind::Store);
    EXPECT_EQ(state.StoreReportPages, 2);
    EXPECT_EQ(state.DataReportPages, 1);
    EXPECT_EQ(r.value().date(), day);

    state.GraphPicturePath = QStringLiteral("/pictures/g.png");
    r = prepareReport(ReportKind::Graph, nullptr, state, day);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().picturePath(), state.GraphPicturePath);
    EXPECT_EQ(r.value().recordCount(), 0);
    r = prepareReport(ReportKind::DataGraph, &live, state, day);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().recordCount(), 40);
    EXPECT_FALSE(prepareReport(ReportKind::DataGraph, &other, state, day).ok());
    // A closed table prints one empty band.
    other.close();
    EXPECT_TRUE(prepareReport(ReportKind::Store, &other, state, day).ok());
}

TEST(ReportDocument, KeepsItsRecordsWhileTheTableChanges) {
    ReadingsTable live;
    kxtest::fillReadings(live, 37);
    ReportState state;
    const ReportDocument doc = prepareDataReport(state, live, {});
    // Readings recorded while the preview is open do not move its pages.
    live.append();
    (void)live.setFieldInt("No", 99);
    ASSERT_TRUE(live.post());
    EXPECT_EQ(doc.pageCount(), 1);
    EXPECT_EQ(doc.recordCount(), 37);
    // A table closed under it prints empty fields instead of failing.
    live.close();
    EXPECT_EQ(texts(doc, 0, BandKind::Detail).value(0, "?"), QString());
}

TEST(ReportLayouts, TitlesAndColumns) {
    auto titleOf = [](ReportKind k) {
        const ReportText& t = reportLayout(k).band(BandKind::PageHeader)->texts.front();
        EXPECT_TRUE(t.bold && t.underline && t.centred) << t.text.toStdString();
        EXPECT_EQ(t.color, ReportColor::Blue);
        EXPECT_EQ(t.points, 14);
        return t.text;
    };
    EXPECT_EQ(titleOf(ReportKind::Data), " TEST DATA REPORT");
    EXPECT_EQ(titleOf(ReportKind::Store), "PW60 STORE DATA REPORT");
    EXPECT_EQ(titleOf(ReportKind::Graph), "PW60 GRAPH REPORT");
    EXPECT_EQ(titleOf(ReportKind::DataGraph), "PW60 TEST DATA+GRAPH  REPORT");

    QStringList storeFields;
    for (const ReportText& t : reportLayout(ReportKind::Store).band(BandKind::Detail)->texts)
        storeFields << QString::fromLatin1(t.field);
    EXPECT_EQ(storeFields,
              (QStringList{"SNo", "STime", "SValue", "SUnit", "SV_Range", "SI_Range"}));
    const ReportBand* columns = reportLayout(ReportKind::Data).band(BandKind::ColumnHeader);
    EXPECT_EQ(columns->texts[4].text, "Function");
    EXPECT_NEAR(columns->texts[4].left, 123.8, 1e-9);
    EXPECT_EQ(columns->texts[5].text, "Remark");
}
