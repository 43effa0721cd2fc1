#include "app/store_commands.h"

#include "app/app_session.h"
#include "readings/readings_schema.h"

#include <QDir>
#include <QFileInfo>

namespace kx {

namespace {

bool sameFile(const QString& a, const QString& b) {
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

// Opens the stored table again after a step that failed with `failed`. When even that fails the
// user hears it too: the table is closed now, and its grid empty.
Status reopenAfter(ReadingsTable& store, const Status& failed) {
    if (Status s = store.open(); !s)
        return fail(failed.error() +
                    QStringLiteral("\nThe stored table could not be opened again: ") + s.error());
    return failed;
}

} // namespace

QString StoreCommands::liveTableMessage(const QString& path) {
    return QStringLiteral("%1 is the live readings table, open in the readings grid: it cannot "
                          "be opened into the stored table as well. Save it under another name "
                          "(File > Save As) and open that copy.")
        .arg(QDir::toNativeSeparators(path));
}

Status StoreCommands::open(const QString& path) {
    ReadingsTable& store = session_.storeTable();
    const ReadingsTable& live = session_.liveTable();
    if (live.isOpen() && sameFile(path, live.filePath()))
        return fail(liveTableMessage(path));
    // The file the stored table holds already is read again from disk; its own lock must go
    // first.
    const bool again = sameFile(path, store.filePath());
    if (again)
        store.close();

    // The chosen file opens on the side: until it has, the stored table keeps what it holds.
    ReadingsTable incoming;
    if (const Result<JournalledReadings> j = session_.openTable(incoming, path); !j)
        return j.status();
    if (Result<ReadingsFieldMap> m = readingsFieldMap(incoming.fields(), path, true); !m)
        return m.status();

    const bool wasOpen = store.isOpen();
    store.close();
    if (session_.storeIsDefault() && !again) {
        if (Status s = store.emptyTable(); !s)
            return wasOpen ? reopenAfter(store, s) : s;
    }
    store.takeOver(incoming);
    return {};
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
        return reopenAfter(store, s);
    }
    return store.open();
}

} // namespace kx
