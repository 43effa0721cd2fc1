#pragma once

#include "analysis/details_file.h"
#include "analysis/insulation_analyser.h"
#include "analysis/insulation_curve.h"
#include "common/result.h"
#include "reports/report_layout.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace kx {

class ReadingsTable;
class TestResults;

// What the insulation test report prints: the table's name and its test details, then each
// test with its figures, verdict and R(t) curve.
//
// The curves are either copied in (a report of the live table, whose records go on changing
// while its preview is open) or read from `table` as each page is drawn (a table file the
// command line opened for the report, which then must outlive it).
struct ResultsReportData {
    QString tableName; // the table file's name as shown
    TestDetails details;
    std::vector<InsulationResult> tests;
    int runningIndex = -1; // a test still in progress when the report was made
    std::vector<std::vector<CurvePoint>> curves;
    const ReadingsTable* table = nullptr;
    std::optional<ReadingsColumns> columns;

    std::vector<CurvePoint> curve(std::size_t test) const;
};

// The live table's tests as the results window shows them, the one in progress included,
// with copies of their curves.
std::shared_ptr<const ResultsReportData> resultsReportOf(TestResults& results,
                                                         const ReadingsTable& table);
// The tests of an open table judged under `details`; the curves are read from the table.
Result<std::shared_ptr<const ResultsReportData>> resultsReportOf(const ReadingsTable& table,
                                                                 const TestDetails& details,
                                                                 bool storeNamesFirst = false);

// The text of an entry of the report: `key` names a figure of test `test` (Source::Result) or
// an entry of the details (Source::Detail, `test` unused). Empty for a key it does not know.
QString resultsReportText(const ResultsReportData& data, ReportText::Source source, qint64 test,
                          const QByteArray& key);
// The verdict's colour of test `test`.
ReportColor resultsVerdictColor(const ResultsReportData& data, qint64 test);

// The curve as an SVG picture `widthMm` by `heightMm`, for the HTML report: the same parts as
// the page painter draws.
QString testCurveSvg(const TestCurveLayout& layout, double widthMm, double heightMm);

} // namespace kx
