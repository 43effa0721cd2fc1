#include "cli/cli_commands.h"

#include "common/cp936.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <string_view>

namespace kx::cli {

namespace {

constexpr const char* kUsage = "table info FILE | table dump [--raw] FILE | "
                               "table create FILE --readings|--store [--replace] | "
                               "table repair FILE";

QString text(const QByteArray& cp936) {
    return fromCp936(std::string_view(cp936.constData(), static_cast<std::size_t>(cp936.size())));
}

int info(const QString& path) {
    Result<px::TableInfo> r = px::readTableInfo(path);
    if (!r) {
        printError(r.error());
        return 1;
    }
    const px::TableInfo& i = r.value();
    QJsonArray fields;
    for (const px::FieldDef& f : i.fields) {
        QJsonObject o;
        o.insert("name", text(f.name));
        o.insert("type", px::typeName(f.type));
        o.insert("size", f.size);
        fields.append(o);
    }
    QJsonObject o;
    o.insert("file", path);
    o.insert("version", i.version);
    o.insert("fileVersionId", i.fileVersionId);
    o.insert("blockSize", i.blockSize);
    o.insert("recordSize", i.recordSize);
    o.insert("recordCount", static_cast<qint64>(i.recordCount));
    o.insert("keyFields", i.keyFieldCount);
    o.insert("codePage", i.codePage);
    o.insert("fields", fields);
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
    Result<px::TableReader> r = px::TableReader::open(path);
    if (!r) {
        printError(r.error());
        return 1;
    }
    auto put = [&](const QByteArray& line) {
        QByteArray out = raw ? line : text(line).toUtf8();
        out += '\n';
        writeOutput(out.constData(), static_cast<std::size_t>(out.size()));
        return !outputFailed();
    };
    QByteArray head;
    const std::vector<px::FieldDef>& fields = r.value().info().fields;
    for (std::size_t i = 0; i < fields.size(); ++i)
        head += (i ? "\t" : "") + cell(fields[i].name);
    put(head);
    Status s = r.value().forEach([&](const px::Record& rec) {
        QByteArray line;
        for (std::size_t i = 0; i < rec.size(); ++i) {
            if (i)
                line += '\t';
            line += cell(rec[i].toText());
        }
        return put(line);
    });
    if (!s) {
        printError(s.error());
        return 1;
    }
    return 0;
}

int create(const QString& path, const QString& kind, bool replace) {
    std::vector<px::FieldDef> fields;
    if (kind == QLatin1String("--readings"))
        fields = readingsFields();
    else if (kind == QLatin1String("--store"))
        fields = readingsFields(true);
    else
        return usageError(QLatin1String(kUsage));
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
    Status s = px::createTable(path, fields);
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
    QJsonObject o;
    o.insert("file", path);
    o.insert("records", static_cast<qint64>(r.value().records));
    o.insert("keyed", r.value().keyed);
    o.insert("reordered", r.value().reordered);
    o.insert("removedIndex", r.value().removedIndex);
    printJson(o);
    return 0;
}

} // namespace

int runTable(const QStringList& argsIn) {
    QStringList args = argsIn;
    if (args.isEmpty())
        return usageError(QLatin1String(kUsage));
    const QString sub = args.takeFirst();
    if (sub == QLatin1String("info") && args.size() == 1)
        return info(args[0]);
    if (sub == QLatin1String("dump")) {
        const bool raw = args.removeAll(QStringLiteral("--raw")) > 0;
        if (args.size() == 1)
            return dump(args[0], raw);
    }
    if (sub == QLatin1String("repair") && args.size() == 1)
        return repair(args[0]);
    if (sub == QLatin1String("create")) {
        const bool replace = args.removeAll(QStringLiteral("--replace")) > 0;
        if (args.size() == 2) {
            const int k = args[0].startsWith(QLatin1String("--")) ? 0 : 1;
            return create(args[1 - k], args[k], replace);
        }
    }
    return usageError(QLatin1String(kUsage));
}

} // namespace kx::cli
