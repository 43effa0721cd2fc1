#pragma once

#include "common/result.h"

#include <QString>

namespace kx {

class AppSession;
struct DeletionQuestion;

// The commands on the stored-readings table. The main window's store row and the
// stored-readings window both run these, so they behave the same from either place; the
// windows show the dialogs and messages around them. Saving it is Save As's command
// (FileCommands::saveAs with ExportKind::Store).
class StoreCommands {
public:
    explicit StoreCommands(AppSession& session) : session_(session) {}

    // Opens a table file into the stored table. The chosen file is opened first; only then
    // does the stored table leave the file it held, emptying it when that is its default
    // file (a data file the user opened into it earlier keeps its records, and so does the
    // default file when it is the one chosen). A file that cannot be opened, or whose fields
    // are not those of a readings table, leaves the stored table as it was, with the reason.
    // The live table's own file is refused while the live table is open on it.
    Status open(const QString& path);
    static QString liveTableMessage(const QString& path);

    // What Delete all asks first: the program's warning and the stored table's file.
    DeletionQuestion deleteAllQuestion() const;
    // Whether Delete all has anything to remove; fails on a closed table.
    Result<bool> hasRecords() const;
    // Removes every stored record: the table is closed, its file emptied and opened again. A
    // table without records is left as it is; a closed one fails.
    Status deleteAll();

private:
    AppSession& session_;
};

} // namespace kx
