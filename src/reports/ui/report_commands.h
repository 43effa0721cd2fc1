#pragma once

#include "analysis/ui/results_report_requests.h"
#include "reports/report_state.h"
#include "reports/ui/report_preview.h"

#include <QDate>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace kx {

class ReadingsTable;
class TestResults;
struct ResultsReportData;

// The commands that preview a report: the data report ("Print Data" and Print Style), the
// stored-data report (the store's print) and the two graph reports (Print Style). Each
// computes what its report needs (the page total immediately before the preview), shows the
// preview and returns when it closes. A table whose fields are not those of a readings
// table is refused with the reason in the error box, and nothing is previewed. Only one preview is
// open at a time: a request while one is open does nothing, and leaves the open one's page total
// alone.
class ReportCommands : public QObject, public ResultsReportRequests {
    Q_OBJECT
public:
    ReportCommands(ReadingsTable& live, ReadingsTable& store, ReportState& state,
                   ReportServices services, QObject* parent = nullptr);

    ReportState& state() { return state_; }
    bool previewOpen() const { return !preview_.isNull(); }

    // `owner` is the window the request came from; the preview stays above it.
    void previewData(QWidget* owner);
    void previewStore(QWidget* owner);
    // On GraphPicturePath: none chosen gives " Warning:Please select graph to print! ", a
    // picture that does not load gives the loader's reason; neither previews anything.
    void previewGraph(QWidget* owner);
    void previewDataGraph(QWidget* owner);

    // The insulation test report of `results` (resultsReportOf): its preview, or printed
    // through the printer dialog, or saved as PDF under a name the save dialog gives.
    void previewResults(QWidget* owner, std::shared_ptr<const ResultsReportData> results);
    void printResults(QWidget* owner, std::shared_ptr<const ResultsReportData> results);
    void saveResultsPdf(QWidget* owner, std::shared_ptr<const ResultsReportData> results);
    // The same for the Test Results window's tests.
    void previewTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) override;
    void printTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) override;
    void saveTestReportPdf(QWidget* owner, TestResults& results, ReadingsTable& live) override;

    // The report date; today's unless a test fixes it.
    void setClock(std::function<QDate()> today) { today_ = std::move(today); }

Q_SIGNALS:
    // The preview is on screen; it closes when the user (or a test) closes it.
    void previewOpened(ReportPreview* preview);

private:
    // The report command (prepareDrawableReport) for `kind`, its refusal told in a box.
    void preview(ReportKind kind, QWidget* owner);
    void show(ReportDocument doc, QImage picture, QWidget* owner);

    ReadingsTable& live_;
    ReadingsTable& store_;
    ReportState& state_;
    ReportServices services_;
    QPointer<ReportPreview> preview_;
    std::function<QDate()> today_;
};

} // namespace kx
