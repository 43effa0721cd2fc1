#include "app/store_commands.h"

#include "app/app_session.h"

namespace kx {

Status StoreCommands::open(const QString& path) {
    ReadingsTable& store = session_.storeTable();
    store.close();
    if (session_.storeIsDefault()) {
        if (Status s = store.emptyTable(); !s)
            return s;
    }
    store.setTableName(path);
    return store.open();
}

DeletionQuestion StoreCommands::deleteAllQuestion() const {
    return {QStringLiteral(" Warning:all Store Records will be deleted! "),
            session_.storeTable().filePath()};
}

Result<bool> StoreCommands::hasRecords() const {
    Result<qint64> n = session_.storeTable().recordCount();
    if (!n)
        return fail(n.error());
    return n.value() > 0;
}

Status StoreCommands::deleteAll() {
    Result<bool> any = hasRecords();
    if (!any)
        return any.status();
    if (!any.value())
        return {};
    ReadingsTable& store = session_.storeTable();
    store.close();
    if (Status s = store.emptyTable(); !s) {
        // The records stay where they were, in the file and on screen.
        (void)store.open();
        return s;
    }
    return store.open();
}

void StoreCommands::beginSave() {
    session_.ExportKind = 2;
}

SaveAsOutcome StoreCommands::save(const QString& path, const ExportProgress& progress) {
    return saveTableAs(session_.storeTable(), path, session_.ExportKind, progress);
}

} // namespace kx
