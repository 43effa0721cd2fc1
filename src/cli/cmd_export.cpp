// Saving a table file under another name by the Save As rule: a keyed Paradox copy for a name
// ending exactly in ".db", the tab-separated text export for any other.
#include "cli/cli_commands.h"

#include "recording/readings_table.h"
#include "recording/table_export.h"

#include <QFileInfo>
#include <QJsonObject>

namespace kx::cli {

int runExport(const QStringList& args) {
    QStringList paths;
    int exportKind = 1;
    for (const QString& a : args) {
        if (a == QLatin1String("--store"))
            exportKind = 2;
        else if (a.startsWith(QLatin1String("--")))
            return usageError(QStringLiteral("kxlink-cli export SRC DEST [--store]"));
        else
            paths << a;
    }
    if (paths.size() != 2)
        return usageError(QStringLiteral("kxlink-cli export SRC DEST [--store]"));
    // Names are the user's, relative to the working folder, not the program's.
    const QString source = QFileInfo(paths[0]).absoluteFilePath();
    const QString target = QFileInfo(paths[1]).absoluteFilePath();

    // A target that cannot take the save is refused before the table is read.
    if (const Status s = checkExportTarget(target); !s) {
        printError(s.error());
        return 1;
    }
    ReadingsTable table;
    table.setTableName(source);
    if (const Status s = table.open(); !s) {
        printError(s.error());
        return 1;
    }
    const ExportFormat format = exportFormatFor(target);
    const Status s = format == ExportFormat::Paradox ? SaveToDB(table, target, exportKind)
                                                     : SaveToText(table, target, exportKind);
    if (!s) {
        printError(s.error());
        return 1;
    }
    QJsonObject o;
    o.insert("records", table.rowCount());
    o.insert("format", QLatin1String(exportFormatName(format)));
    o.insert("path", target);
    printJson(o);
    return 0;
}

} // namespace kx::cli
