// Saving a table file under another name with the window's Save As command.
#include "cli/command_line.h"

#include "exports/table_export.h"

#include <QFileInfo>

namespace kx::cli {

int runExport(const QStringList& args) {
    CommandLine line("export");
    line.flag(QStringLiteral("store"),
              QStringLiteral("Look for the stored table's field names (SNo, STime, ...) first."));
    line.option(QStringLiteral("delimiter"), QStringLiteral("CHAR"),
                QStringLiteral("The field separator of a .csv file: ',' (the default) or ';'."));
    line.flag(QStringLiteral("decimal-comma"),
              QStringLiteral("Numbers in a .csv file with a decimal comma, as spreadsheets set "
                             "to a comma decimal mark read them (commonly with --delimiter ';')."));
    line.positional(QStringLiteral("SRC"), QStringLiteral("The readings table file to save."));
    line.positional(QStringLiteral("DEST"),
                    QStringLiteral("Where to save it: a name ending exactly in .db gives a keyed "
                                   "Paradox copy; .csv, .jsonl and .xlsx (in any case) give UTF-8 "
                                   "CSV, JSON lines and a workbook; any other name the "
                                   "tab-separated text."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    // Names are the user's, relative to the working folder, not the program's.
    const QString target = QFileInfo(line.positional().at(1)).absoluteFilePath();

    ExportOptions options;
    const bool delimiterSet = line.isSet(QStringLiteral("delimiter"));
    const bool decimalComma = line.isSet(QStringLiteral("decimal-comma"));
    if (delimiterSet) {
        const QString d = line.value(QStringLiteral("delimiter"));
        if (d != QLatin1String(",") && d != QLatin1String(";"))
            return line.usageError(QStringLiteral("--delimiter is ',' or ';', not '%1'").arg(d));
        options.csv.delimiter = d.at(0).toLatin1();
    }
    options.csv.decimalComma = decimalComma;
    if ((delimiterSet || decimalComma) && exportFormatFor(target) != ExportFormat::Csv)
        return line.usageError(
            QStringLiteral("--delimiter and --decimal-comma are for a .csv file"));

    const SaveAsOutcome o = saveTableFileAs(
        line.positional().at(0), target,
        line.isSet(QStringLiteral("store")) ? ExportKind::Store : ExportKind::Live, options);
    if (!o.sourceNote.isEmpty())
        printError(o.sourceNote);
    if (!o.saved()) {
        printError(o.error);
        return 1;
    }
    printJson({{"records", o.records},
               {"format", QLatin1String(exportFormatName(o.format))},
               {"path", target}});
    return 0;
}

} // namespace kx::cli
