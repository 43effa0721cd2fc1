#include "cli/command_line.h"
#include "cli/table_reading.h"

#include "analysis/details_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/table_file_io.h"
#include "readings/table_salvage.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <optional>
#include <string_view>

namespace kx::cli {

namespace {

int info(const QString& path) {
    std::optional<px::TableInfo> read;
    const Result<JournalledReadings> journal =
        streamWithJournal(path, [&](const JournalledReadings&) -> Result<qint64> {
            Result<px::TableInfo> r = px::readTableInfo(path);
            if (!r)
                return fail(r.error());
            read = r.take();
            return read->recordCount;
        });
    if (!journal) {
        printError(journal.error());
        return 1;
    }
    const px::TableInfo& i = *read;
    QJsonArray fields;
    for (const px::FieldDef& f : i.fields)
        fields.append(QJsonObject{
            {"name", jsonText(f.name)}, {"type", px::typeName(f.type)}, {"size", f.size}});
    // Readings of a recording that are not in the file yet count with its records.
    const auto pending = static_cast<qint64>(journal.value().shown.size());
    QJsonObject o{{"file", path},
                  {"version", i.version},
                  {"fileVersionId", i.fileVersionId},
                  {"blockSize", i.blockSize},
                  {"recordSize", i.recordSize},
                  {"recordCount", static_cast<qint64>(i.recordCount) + pending},
                  {"keyFields", i.keyFieldCount},
                  {"codePage", i.codePage},
                  {"fields", fields}};
    if (pending > 0)
        o.insert(QStringLiteral("notInFile"), pending);
    // Where the link was down while the readings were recorded.
    const TestDetailsRead details = readTestDetails(path);
    if (!details.details.linkGaps.empty())
        o.insert(QStringLiteral("linkGaps"), linkGapsJson(details.details.linkGaps));
    printJson(o);
    return 0;
}

// The lock on a table file that exists (none for a new one).
Result<std::unique_ptr<px::TableLock>> lockExisting(const QString& path) {
    if (!QFileInfo::exists(path))
        return std::unique_ptr<px::TableLock>();
    return px::TableLock::acquire(path);
}

// Tabs and line ends inside values would break the columns.
QByteArray cell(QByteArray v) {
    for (char& c : v) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return v;
}

int dump(const QString& path, bool raw) {
    std::optional<px::TableReader> reader;
    const Result<JournalledReadings> journal =
        streamWithJournal(path, [&](const JournalledReadings&) -> Result<qint64> {
            Result<px::TableReader> r = px::TableReader::open(path);
            if (!r)
                return fail(r.error());
            reader.emplace(r.take());
            return reader->info().recordCount;
        });
    if (!journal) {
        printError(journal.error());
        return 1;
    }
    auto put = [&](const QByteArray& line) {
        QByteArray out = raw ? line : jsonText(line).toUtf8();
        out += '\n';
        writeOutput(out.constData(), static_cast<std::size_t>(out.size()));
        return !outputFailed();
    };
    QByteArray head;
    const std::vector<px::FieldDef>& fields = reader->info().fields;
    for (std::size_t i = 0; i < fields.size(); ++i)
        head += (i ? "\t" : "") + cell(fields[i].name);
    put(head);
    auto putRecord = [&](const px::Record& rec) {
        QByteArray line;
        for (std::size_t i = 0; i < rec.size(); ++i) {
            if (i)
                line += '\t';
            line += cell(rec[i].toText());
        }
        return put(line);
    };
    Status s = reader->forEach(putRecord);
    // Then the readings of a recording that are not in the file yet.
    if (s && !journal.value().shown.empty()) {
        Result<std::vector<px::Record>> added = readingsAsRecords(fields, journal.value().shown);
        s = added.status();
        for (std::size_t k = 0; added && k < added.value().size(); ++k) {
            if (!putRecord(added.value()[k]))
                break;
        }
    }
    if (!s) {
        printError(s.error());
        return 1;
    }
    return 0;
}

int create(const QString& path, bool store, bool replace) {
    const std::vector<px::FieldDef> fields = readingsFields(store);
    // A pipe, a folder or a read-only file is refused as every write refuses it; a new empty
    // table in place of an existing one loses its records, so only when asked.
    const Result<WriteTarget> target = checkWriteTarget(path);
    if (!target) {
        printError(target.error());
        return 1;
    }
    if (!replace && target.value().exists) {
        printError(QStringLiteral("Table file %1 already exists; give --replace to replace it "
                                  "with an empty table")
                       .arg(QDir::toNativeSeparators(path)));
        return 1;
    }
    // A table another program has open is not replaced under it.
    Result<std::unique_ptr<px::TableLock>> lock = lockExisting(path);
    if (!lock) {
        printError(lock.error());
        return 1;
    }
    Status s = createEmptyTable(path, fields);
    if (!s) {
        printError(s.error());
        return 1;
    }
    return 0;
}

int repair(const QString& path) {
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
    if (!lock) {
        printError(lock.error());
        return 1;
    }
    Result<px::IndexRebuild> r = px::rebuildPrimaryIndex(path);
    if (!r) {
        printError(r.error());
        return 1;
    }
    // Then the readings a recording into the table left in its journal go in too; the lock is
    // taken again on the file the rebuild may have replaced.
    lock.value().reset();
    lock = px::TableLock::acquire(path);
    Result<JournalledReadings> folded =
        lock ? foldJournal(path, lock.value(), QDateTime::currentDateTime())
             : Result<JournalledReadings>(fail(lock.error()));
    if (!folded) {
        printError(folded.error());
        return 1;
    }
    if (!folded.value().message.isEmpty())
        printError(folded.value().message);
    const qint64 added =
        folded.value().state == JournalledReadings::State::Added ? folded.value().readings : 0;
    printJson({{"file", path},
               {"records", static_cast<qint64>(r.value().records) + added},
               {"keyed", r.value().keyed},
               {"reordered", r.value().reordered},
               {"removedIndex", r.value().removedIndex}});
    return 0;
}

// Every record that can still be read goes to NAME-salvaged.db; one line for each stretch of
// records left out and each fault of the header, then what was kept.
int salvage(const QString& path, bool replace) {
    Result<px::SalvageReport> r = salvageTableFile(path, replace);
    if (!r) {
        printError(r.error());
        return 1;
    }
    const px::SalvageReport& report = r.value();
    for (const QString& repair : report.repairs)
        printJson({{"damage", repair}});
    for (const px::SalvageLoss& l : report.lost) {
        QJsonObject left{{"first", static_cast<qint64>(l.first)},
                         {"last", static_cast<qint64>(l.last)},
                         {"why", l.why}};
        if (l.block > 0)
            left.insert(QStringLiteral("block"), l.block);
        printJson({{"leftOut", left}});
    }
    printJson({{"file", path},
               {"salvaged", report.target},
               {"records", static_cast<qint64>(report.kept)},
               {"leftOut", static_cast<qint64>(report.leftOut)}});
    return 0;
}

} // namespace

int runTable(const QStringList& args) {
    CommandLine line("table");
    line.flag(QStringLiteral("raw"), QStringLiteral("dump: keep the table's bytes (code page "
                                                    "936) instead of UTF-8."));
    line.flag(QStringLiteral("readings"), QStringLiteral("create: a live readings table (No, "
                                                         "Time, Value, Unit, V_Range, I_Range)."));
    line.flag(QStringLiteral("store"), QStringLiteral("create: a stored readings table (SNo, "
                                                      "STime, ...)."));
    line.flag(QStringLiteral("replace"),
              QStringLiteral("create: replace an existing table, whose records are lost; "
                             "repair --salvage: replace an earlier salvaged table."));
    line.flag(QStringLiteral("salvage"),
              QStringLiteral("repair: copy every record of a damaged table that can still be "
                             "read into NAME-salvaged.db beside it, and say which were left "
                             "out; the table stays as it is."));
    line.positional(QStringLiteral("ACTION"), QStringLiteral("info, dump, create or repair."));
    line.positional(QStringLiteral("FILE"), QStringLiteral("The table file."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString action = line.positional().at(0);
    const QString path = line.positional().at(1);
    // Each option belongs to one action; anywhere else it is a mistake worth telling.
    auto onlyFor = [&](const char* option, const char* owner) {
        return !line.isSet(QLatin1String(option)) || action == QLatin1String(owner);
    };
    const bool salvaging = line.isSet(QStringLiteral("salvage"));
    if (!onlyFor("raw", "dump") || !onlyFor("readings", "create") || !onlyFor("store", "create") ||
        !onlyFor("salvage", "repair") ||
        (!onlyFor("replace", "create") && !(salvaging && action == QLatin1String("repair"))))
        return line.usageError();
    if (action == QLatin1String("info"))
        return info(path);
    if (action == QLatin1String("dump"))
        return dump(path, line.isSet(QStringLiteral("raw")));
    if (action == QLatin1String("repair"))
        return salvaging ? salvage(path, line.isSet(QStringLiteral("replace"))) : repair(path);
    if (action == QLatin1String("create")) {
        const bool store = line.isSet(QStringLiteral("store"));
        if (store == line.isSet(QStringLiteral("readings")))
            return line.usageError(QStringLiteral("create needs --readings or --store"));
        return create(path, store, line.isSet(QStringLiteral("replace")));
    }
    return line.usageError(QStringLiteral("unknown action '%1'").arg(action));
}

} // namespace kx::cli
