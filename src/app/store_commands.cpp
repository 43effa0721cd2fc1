#include "app/store_commands.h"

#include "app/app_session.h"
#include "common/cp936.h"
#include "recording/table_file_io.h"
#include "reports/report_export.h"

#include <QDir>
#include <QFileDevice>

namespace kx {
namespace {

// A keyed copy of the stored table; a closed table is read from its file for the copy.
Status saveStoreCopy(const ReadingsTable& store, const QString& path) {
    if (store.isOpen())
        return saveKeyedCopy(store, path);
    ReadingsTable file;
    file.setTableName(store.filePath());
    if (Status s = file.open(); !s)
        return s;
    return saveKeyedCopy(file, path);
}

// The tab-separated text of the stored table: the header line, then one line per record,
// CR LF after each, code page 936 bytes.
Result<QString> saveStoreText(const ReadingsTable& store, const QString& path) {
    if (!store.isOpen())
        return fail(ReadingsTable::closedMessage());
    const QString failed = QStringLiteral("Could not save table to specified file: ") + path;
    Result<std::unique_ptr<ReportFile>> file = ReportFile::begin(path);
    if (!file)
        return fail(failed);
    QFileDevice& out = file.value()->device();
    static const char* const fields[] = {"SNo", "STime", "SValue", "SUnit", "SV_Range", "SI_Range"};
    int index[6];
    for (int f = 0; f < 6; ++f)
        index[f] = store.fieldIndex(fields[f]);
    bool ok = out.write("No\tTime\tValue\tUnit\tFunction\tRemark\r\n") > 0;
    std::string line;
    for (qint64 row = 0; ok && row < store.rowCount(); ++row) {
        line.clear();
        for (int f = 0; f < 6; ++f) {
            if (f)
                line += '\t';
            line += store.fieldText(row, index[f]);
        }
        line += "\r\n";
        ok = out.write(line.data(), static_cast<qint64>(line.size())) ==
             static_cast<qint64>(line.size());
    }
    if (!ok || !file.value()->finish())
        return fail(failed);
    return QStringLiteral("save table to specified file: ") + path + QStringLiteral(" Scuss!");
}

} // namespace

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

Result<QString> StoreCommands::save(const QString& path) {
    const ReadingsTable& store = session_.storeTable();
    // Only exactly ".db" after the last dot makes a table; ".DB" is text like any other name.
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && name.mid(dot) == QLatin1String(".db")) {
        if (Status s = saveStoreCopy(store, path); !s)
            return fail(s.error());
        return QString();
    }
    return saveStoreText(store, path);
}

} // namespace kx
