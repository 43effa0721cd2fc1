#include "cli/cli_commands.h"

#include "recording/readings_table.h"
#include "reports/report_document.h"
#include "reports/ui/report_painter.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

namespace kx::cli {

namespace {

constexpr const char* kUsage =
    "report FILE.db [--store] [--kind data|graph|data+graph] [--picture FILE] "
    "--out OUT.pdf|.txt|.csv|.html";

struct Options {
    QString table;
    QString picture;
    QString out;
    QString kind = QStringLiteral("data");
    bool store = false;
};

std::optional<Options> parse(const QStringList& args) {
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        if (a == QLatin1String("--store")) {
            o.store = true;
        } else if (a == QLatin1String("--kind")) {
            if (!value(o.kind))
                return std::nullopt;
        } else if (a == QLatin1String("--picture")) {
            if (!value(o.picture))
                return std::nullopt;
        } else if (a == QLatin1String("--out")) {
            if (!value(o.out))
                return std::nullopt;
        } else if (a.startsWith(QLatin1String("--")) || !o.table.isEmpty()) {
            return std::nullopt;
        } else {
            o.table = a;
        }
    }
    const bool graph = o.kind == QLatin1String("graph");
    const bool dataGraph = o.kind == QLatin1String("data+graph");
    if (!graph && !dataGraph && o.kind != QLatin1String("data"))
        return std::nullopt;
    if (o.out.isEmpty() || (o.store && o.kind != QLatin1String("data")))
        return std::nullopt;
    if ((graph || dataGraph) == o.picture.isEmpty())
        return std::nullopt;
    if (!graph && o.table.isEmpty())
        return std::nullopt;
    return o;
}

} // namespace

int runReport(const QStringList& args) {
    const std::optional<Options> o = parse(args);
    if (!o)
        return usageError(QLatin1String(kUsage));
    const std::optional<ReportFileKind> fileKind = reportFileKindFor(o->out);
    if (!fileKind)
        return usageError(QLatin1String(kUsage));
    const QString out = QFileInfo(o->out).absoluteFilePath();
    // The target is checked before any reading, so a bad one fails at once.
    if (const Status s = checkReportTarget(out); !s) {
        printError(s.error());
        return 1;
    }

    ReadingsTable table;
    const bool graph = o->kind == QLatin1String("graph");
    if (!graph) {
        table.setTableName(QFileInfo(o->table).absoluteFilePath());
        if (const Status s = table.open(); !s) {
            printError(s.error());
            return 1;
        }
        const ReportKind kind = o->kind == QLatin1String("data+graph") ? ReportKind::DataGraph
                                : o->store                             ? ReportKind::Store
                                                                       : ReportKind::Data;
        if (const Status s = checkReportTable(kind, table); !s) {
            printError(s.error());
            return 1;
        }
    }
    QImage picture;
    QString picturePath;
    if (!o->picture.isEmpty()) {
        picturePath = QFileInfo(o->picture).absoluteFilePath();
        Result<QImage> loaded = loadReportPicture(picturePath);
        if (!loaded) {
            printError(loaded.error());
            return 1;
        }
        picture = loaded.take();
    }

    ReportState state;
    const QDate today = QDate::currentDate();
    const ReportDocument doc = graph ? prepareGraphReport(picturePath, today)
                               : o->kind == QLatin1String("data+graph")
                                   ? prepareDataGraphReport(table, picturePath, today)
                                   : (o->store ? prepareStoreReport(state, table, today)
                                               : prepareDataReport(state, table, today));
    const Result<SaveOutcome> saved = ReportPainter(doc, picture).save(out, *fileKind);
    if (!saved) {
        printError(saved.error());
        return 1;
    }
    QJsonObject j;
    j.insert("pages", doc.pageCount());
    j.insert("records", doc.recordCount());
    j.insert("path", QDir::toNativeSeparators(out));
    printJson(j);
    return 0;
}

} // namespace kx::cli
