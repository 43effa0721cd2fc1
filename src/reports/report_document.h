// Room reports: report layouts, pages, their exports, the test report and the search. Uses
// the rooms up to exports; ui/ the preview, printing and the side windows.
#pragma once

#include "common/result.h"
#include "readings/readings_schema.h"
#include "reports/report_layout.h"
#include "reports/report_state.h"

#include <QDate>
#include <QString>

#include <memory>
#include <vector>

namespace kx {

class ReadingsTable;
struct ResultsReportData;

// The page total a data or stored-data report prints in its footers: 37 records a page, and
// one page for up to 37 records (an empty table included).
int reportPageTotal(qint64 records);

// A band placed on a page.
struct PlacedBand {
    const ReportBand* band = nullptr;
    double top = 0;     // mm from the top of the printable area
    qint64 record = -1; // detail bands: the record shown; -1 for the empty band of no records
};

struct ReportPage {
    int number = 1; // from 1
    std::vector<PlacedBand> bands;
};

// Where every band of a report falls, page by page. The page header and the column header
// start every page, the title band the first one only, the footer sits at the foot of every
// page, the last one included. A report bound to a table prints one detail band per record,
// or a single empty one when there are none; the summary follows the last record, on a page
// of its own when it does not fit below it. Any page is laid out without walking the ones
// before it, so a report of millions of records opens at once.
class ReportPagination {
public:
    ReportPagination(const ReportLayout& layout, qint64 records);

    int pageCount() const { return pageCount_; }
    int rowsOnFirstPage() const { return first_; }
    int rowsOnLaterPages() const { return later_; }
    // `index` from 0 to pageCount() - 1; other values give a page with no bands.
    ReportPage page(int index) const;

private:
    const ReportLayout* layout_;
    qint64 records_;
    qint64 details_; // detail bands printed
    int first_ = 1;
    int later_ = 1;
    int detailPages_ = 1;
    bool summaryOwnPage_ = false;
    int pageCount_ = 1;
};

// A report ready to be drawn or saved: its layout, the table its records come from, the page
// total and date it prints, and the picture file of the graph reports.
//
// The records are those the table held when the report was made: readings recorded while
// its preview is open do not move its pages. Field texts are read from the table as each page
// is drawn, so the table must outlive the document; records it no longer has print empty.
// The columns are the table's six readings fields, found by name or else by position and kind
// (matchReadingsFields), so either report prints a table of either kind.
class ReportDocument {
public:
    ReportDocument(ReportKind kind, const ReadingsTable* table, int pageTotal, QDate date,
                   QString picturePath = {});
    // The insulation test report: a block per test of `results`, its page total its pages.
    ReportDocument(std::shared_ptr<const ResultsReportData> results, QDate date);

    ReportKind kind() const { return layout_->kind; }
    const ReportLayout& layout() const { return *layout_; }
    int pageCount() const { return pagination_.pageCount(); }
    ReportPage page(int index) const { return pagination_.page(index); }
    qint64 recordCount() const { return records_; }
    int pageTotal() const { return pageTotal_; }
    QDate date() const { return date_; }
    QString dateText() const;
    const QString& picturePath() const { return picturePath_; }

    // The text an item shows in a placed band on page `pageNumber`.
    QString text(const ReportText& item, const PlacedBand& placed, int pageNumber) const;
    // The colour it shows in: its own, or for ByVerdict that of its band's test's verdict.
    ReportColor colorOf(const ReportText& item, const PlacedBand& placed) const;
    // The tests of the insulation test report; null for the other reports.
    const ResultsReportData* results() const { return results_.get(); }

private:
    const ReportLayout* layout_;
    const ReadingsTable* table_;
    ReadingsFieldMap fields_; // -1 where a field is missing
    qint64 records_;
    ReportPagination pagination_;
    int pageTotal_;
    QDate date_;
    QString picturePath_;
    std::shared_ptr<const ResultsReportData> results_;
};

// Whether a report of this kind can print `table`: an open table whose fields cannot be
// matched to the readings fields would print blank pages, so it is refused with the reason.
// A closed or empty table prints its one empty band.
Status checkReportTable(ReportKind kind, const ReadingsTable& table);

// Whether a report prints the picture chosen in Print Style (the two graph reports).
bool reportNeedsPicture(ReportKind kind);
// What a graph report without a picture says instead of printing.
QString noPictureMessage();

// The report commands' first step, the same for the window's previews and the command line:
// the report of `kind` over `table` (the live table for the data and data-and-graph reports,
// the stored table for the stored-data report, any readings table for the insulation test
// report, judged by the test details beside it; the graph report takes none) with the picture
// state.GraphPicturePath and the date it prints. Refused, with nothing changed: a graph report
// whose picture was never chosen (noPictureMessage), a table whose fields are not a readings
// table's (checkReportTable). The data and stored-data reports compute their page totals into
// `state` here, immediately before each preview. The picture itself is loaded by whoever draws.
Result<ReportDocument> prepareReport(ReportKind kind, const ReadingsTable* table,
                                     ReportState& state, QDate date);

// The report commands' building blocks, without those checks. The data and stored-data
// reports compute their page totals here (a closed table counts as one record).
ReportDocument prepareDataReport(ReportState& state, const ReadingsTable& live, QDate date);
ReportDocument prepareStoreReport(ReportState& state, const ReadingsTable& store, QDate date);
ReportDocument prepareGraphReport(const QString& picture, QDate date);
ReportDocument prepareDataGraphReport(const ReadingsTable& live, const QString& picture,
                                      QDate date);
ReportDocument prepareResultsReport(std::shared_ptr<const ResultsReportData> results, QDate date);

} // namespace kx
