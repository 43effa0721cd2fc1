// The insulation test report's commands, run from the results window: preview, print and PDF.
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "reports/results_report.h"
#include "reports/ui/printer_dialogs.h"
#include "reports/ui/report_commands.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>

namespace kx {

void ReportCommands::previewResults(QWidget* owner,
                                    std::shared_ptr<const ResultsReportData> results) {
    if (previewOpen())
        return;
    show(prepareResultsReport(std::move(results), today_()), QImage(), owner);
}

void ReportCommands::printResults(QWidget* owner,
                                  std::shared_ptr<const ResultsReportData> results) {
    if (!services_.printers)
        return;
    const ReportDocument doc = prepareResultsReport(std::move(results), today_());
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Insulation test report"));
    if (!services_.printers->setUpPrinter(owner, printer, doc.pageCount()))
        return;
    const Result<SaveOutcome> r = ReportPainter(doc).print(printer);
    if (!r && services_.boxes)
        services_.boxes->error(owner, r.error());
}

void ReportCommands::saveResultsPdf(QWidget* owner,
                                    std::shared_ptr<const ResultsReportData> results) {
    if (!services_.dialogs)
        return;
    FileDialogRequest request;
    request.title = QStringLiteral("Save Insulation Test Report");
    // Beside the table, under its name, unless the user goes elsewhere.
    const QFileInfo table(results ? results->tableName : QString());
    request.directory =
        results && !results->tableName.isEmpty()
            ? table.dir().filePath(table.completeBaseName() + QStringLiteral("-results.pdf"))
            : QDir::homePath();
    request.filters << QStringLiteral("PDF document (*.pdf)");
    request.defaultSuffix = QStringLiteral("pdf");
    const std::optional<FileDialogAnswer> answer = services_.dialogs->saveFile(owner, request);
    if (!answer)
        return;
    const ReportDocument doc = prepareResultsReport(std::move(results), today_());
    const Result<SaveOutcome> r = ReportPainter(doc).savePdf(answer->path);
    if (!r && services_.boxes)
        services_.boxes->error(owner, r.error());
}

void ReportCommands::previewTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) {
    previewResults(owner, resultsReportOf(results, live));
}

void ReportCommands::printTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) {
    printResults(owner, resultsReportOf(results, live));
}

void ReportCommands::saveTestReportPdf(QWidget* owner, TestResults& results, ReadingsTable& live) {
    saveResultsPdf(owner, resultsReportOf(results, live));
}

} // namespace kx
