// Saving a table file under another name with the window's Save As command.
#include "cli/command_line.h"

#include "recording/table_export.h"

#include <QFileInfo>

namespace kx::cli {

int runExport(const QStringList& args) {
    CommandLine line("export");
    line.flag(QStringLiteral("store"),
              QStringLiteral("Look for the stored table's field names (SNo, STime, ...) first."));
    line.positional(QStringLiteral("SRC"), QStringLiteral("The readings table file to save."));
    line.positional(QStringLiteral("DEST"),
                    QStringLiteral("Where to save it: a name ending exactly in .db gives a keyed "
                                   "Paradox copy, any other the tab-separated text."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    // Names are the user's, relative to the working folder, not the program's.
    const QString target = QFileInfo(line.positional().at(1)).absoluteFilePath();
    const SaveAsOutcome o =
        saveTableFileAs(line.positional().at(0), target,
                        line.isSet(QStringLiteral("store")) ? ExportKind::Store : ExportKind::Live);
    if (!o.saved()) {
        printError(o.error);
        return 1;
    }
    if (!o.warning.isEmpty())
        printError(o.warning);
    printJson({{"records", o.records},
               {"format", QLatin1String(exportFormatName(o.format))},
               {"path", target}});
    return 0;
}

} // namespace kx::cli
