#include "cli/cli_commands.h"

#include "common/cp936.h"
#include "reports/local_query.h"

#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace kx::cli {

namespace {

constexpr const char* kUsage = "query 'select * from \"FILE.db\" [where FIELD=\"TEXT\"]'";

QString text(const QByteArray& cp936) {
    return fromCp936(cp936);
}

// Numbers stay numbers and blanks are null; every other value is its text form.
QJsonValue jsonValue(const px::Value& v) {
    using K = px::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return QJsonValue::Null;
    case K::Integer:
        return static_cast<qint64>(v.toInt());
    case K::Number:
        return std::isfinite(v.toNumber()) ? QJsonValue(v.toNumber()) : QJsonValue::Null;
    case K::Logical:
        return v.toBool();
    default:
        return text(v.toText());
    }
}

} // namespace

int runQuery(const QStringList& args) {
    if (args.size() != 1)
        return usageError(QLatin1String(kUsage));
    Result<QueryStatement> statement = parseQueryStatement(args[0]);
    if (!statement) {
        printError(statement.error());
        return 1;
    }
    Result<TableQuery> query = TableQuery::prepare(statement.value());
    if (!query) {
        printError(query.error());
        return 1;
    }
    QStringList names;
    for (const px::FieldDef& f : query.value().fields())
        names.append(text(f.name));
    qint64 rows = 0;
    const Status s = query.value().forEachRow([&](const px::Record& r) {
        QJsonObject o;
        for (std::size_t i = 0; i < r.size() && i < static_cast<std::size_t>(names.size()); ++i)
            o.insert(names[static_cast<qsizetype>(i)], jsonValue(r[i]));
        printJson(o);
        ++rows;
        return true;
    });
    if (!s) {
        printError(s.error());
        return 1;
    }
    QJsonObject summary;
    summary.insert("rows", rows);
    printJson(summary);
    return 0;
}

} // namespace kx::cli
