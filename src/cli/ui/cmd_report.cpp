// Writes a printed report headless, through the report command the window's previews run and
// the page painter they draw with.
#include "cli/asset_options.h"
#include "cli/command_line.h"
#include "cli/result_options.h"
#include "cli/table_reading.h"

#include "analysis/details_file.h"
#include "readings/readings_table.h"
#include "reports/report_document.h"
#include "reports/results_report.h"
#include "reports/ui/asset_report_pdf.h"
#include "reports/ui/report_painter.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

namespace kx::cli {
namespace {

// The insulation test report of an open table: its tests judged by the details beside it and
// the options given.
int writeResultsReport(const ReadingsTable& source, const ResultOverrides& overrides,
                       const QString& out, ReportFileKind fileKind) {
    TestDetailsRead details = readTestDetails(source.filePath());
    if (!details.problem.isEmpty())
        printError(details.problem);
    applyOverrides(details.details.settings, overrides);
    Result<std::shared_ptr<const ResultsReportData>> data =
        resultsReportOf(source, details.details);
    if (!data) {
        printError(data.error());
        return 1;
    }
    const qint64 tests = static_cast<qint64>(data.value()->tests.size());
    const ReportDocument doc = prepareResultsReport(data.take(), QDate::currentDate());
    const Result<SaveOutcome> saved = ReportPainter(doc).save(out, fileKind);
    if (!saved) {
        printError(saved.error());
        return 1;
    }
    printJson({{"pages", doc.pageCount()},
               {"records", source.rowCount()},
               {"tests", tests},
               {"path", QDir::toNativeSeparators(out)}});
    return 0;
}

// The history report of an asset of the register.
int writeAssetReport(const CommandLine& line, const QString& out) {
    if (!line.isSet(QStringLiteral("asset")))
        return line.usageError(QStringLiteral("--kind asset needs --asset TAG"));
    const std::optional<AssetReportFormat> format = assetReportFormatFor(out);
    if (!format)
        return line.usageError(
            QStringLiteral("--kind asset writes a name ending in .pdf, .csv, .html or .htm"));
    const QString target = QFileInfo(out).absoluteFilePath();
    if (const Status s = checkReportTarget(target); !s) {
        printError(s.error());
        return 1;
    }
    std::optional<int> bad;
    Result<std::unique_ptr<AssetRegister>> reg = openRegisterOf(line, bad);
    if (bad)
        return *bad;
    if (!reg) {
        printError(reg.error());
        return 1;
    }
    const Result<AssetReportData> data =
        assetReportOf(*reg.value(), line.value(QStringLiteral("asset")).trimmed());
    if (!data) {
        printError(data.error());
        return 1;
    }
    if (const Status s = saveAssetReport(data.value(), target, *format); !s) {
        printError(s.error());
        return 1;
    }
    printJson({{"tests", static_cast<qint64>(data.value().tests.size())},
               {"path", QDir::toNativeSeparators(target)}});
    return 0;
}

} // namespace

int runReport(const QStringList& args) {
    CommandLine line("report");
    line.flag(QStringLiteral("store"),
              QStringLiteral("The stored-data report instead of the data report."));
    line.option(QStringLiteral("kind"), QStringLiteral("data|graph|data+graph|results|asset"),
                QStringLiteral("The report: the data report (the default), the graph report of "
                               "a picture, the data followed by a picture, the insulation "
                               "test report of the table's tests, or the history of an asset "
                               "of the register."));
    line.option(QStringLiteral("asset"), QStringLiteral("TAG"),
                QStringLiteral("--kind asset: the asset's tag."));
    addDatabaseOption(line);
    line.option(QStringLiteral("picture"), QStringLiteral("FILE"),
                QStringLiteral("The picture of the graph reports."));
    line.option(QStringLiteral("out"), QStringLiteral("OUT"),
                QStringLiteral("The file to write; its extension gives its kind: .pdf, .txt, "
                               ".csv, .html or .htm."));
    addResultOptions(line);
    line.positional(QStringLiteral("FILE.db"),
                    QStringLiteral("The readings table file (not needed by --kind graph)."), true);
    if (const std::optional<int> done = line.parse(args))
        return *done;

    const QString kindName = line.isSet(QStringLiteral("kind")) ? line.value(QStringLiteral("kind"))
                                                                : QStringLiteral("data");
    const bool store = line.isSet(QStringLiteral("store"));
    const bool asset = kindName == QLatin1String("asset");
    if (!asset && (line.isSet(QStringLiteral("asset")) || line.isSet(QStringLiteral("database"))))
        return line.usageError(QStringLiteral("--asset and --database go with --kind asset only"));
    if (asset) {
        if (store || resultOptionsGiven(line) || line.isSet(QStringLiteral("picture")) ||
            !line.positional().isEmpty())
            return line.usageError(
                QStringLiteral("--kind asset takes --asset, --database and --out only"));
        return writeAssetReport(line, line.value(QStringLiteral("out")));
    }
    ReportKind kind = store ? ReportKind::Store : ReportKind::Data;
    if (kindName == QLatin1String("graph"))
        kind = ReportKind::Graph;
    else if (kindName == QLatin1String("data+graph"))
        kind = ReportKind::DataGraph;
    else if (kindName == QLatin1String("results"))
        kind = ReportKind::Results;
    else if (kindName != QLatin1String("data"))
        return line.usageError(QStringLiteral("unknown report kind '%1'").arg(kindName));
    if (store && kindName != QLatin1String("data"))
        return line.usageError(QStringLiteral("--store prints the stored-data report only"));
    ResultOverrides overrides;
    if (kind != ReportKind::Results && resultOptionsGiven(line))
        return line.usageError(QStringLiteral("only --kind results takes --temperature, --base, "
                                              "--minimum and --pi-minimum"));
    if (const std::optional<int> bad = readResultOptions(line, overrides))
        return *bad;
    const QString picture = line.value(QStringLiteral("picture"));
    if (reportNeedsPicture(kind) == picture.isEmpty())
        return line.usageError(reportNeedsPicture(kind)
                                   ? QStringLiteral("this report needs --picture")
                                   : QStringLiteral("only the graph reports take --picture"));
    const QString table = line.positional().value(0);
    if (kind != ReportKind::Graph && table.isEmpty())
        return line.usageError(QStringLiteral("a table file is needed"));
    const std::optional<ReportFileKind> fileKind =
        reportFileKindFor(line.value(QStringLiteral("out")));
    if (!fileKind)
        return line.usageError(QStringLiteral("--out needs a name ending in .pdf, .txt, .csv, "
                                              ".html or .htm"));

    // The target is checked before any reading, so a bad one fails at once.
    const QString out = QFileInfo(line.value(QStringLiteral("out"))).absoluteFilePath();
    if (const Status s = checkReportTarget(out); !s) {
        printError(s.error());
        return 1;
    }
    ReadingsTable source;
    if (kind != ReportKind::Graph) {
        if (!openTableForReading(source, table))
            return 1;
    }
    if (kind == ReportKind::Results)
        return writeResultsReport(source, overrides, out, *fileKind);
    ReportState state;
    if (!picture.isEmpty())
        state.GraphPicturePath = QFileInfo(picture).absoluteFilePath();
    const Result<DrawableReport> report = prepareDrawableReport(
        kind, kind == ReportKind::Graph ? nullptr : &source, state, QDate::currentDate());
    if (!report) {
        printError(report.error());
        return 1;
    }
    const ReportDocument& doc = report.value().document;
    const Result<SaveOutcome> saved =
        ReportPainter(doc, report.value().picture).save(out, *fileKind);
    if (!saved) {
        printError(saved.error());
        return 1;
    }
    printJson({{"pages", doc.pageCount()},
               {"records", doc.recordCount()},
               {"path", QDir::toNativeSeparators(out)}});
    return 0;
}

} // namespace kx::cli
