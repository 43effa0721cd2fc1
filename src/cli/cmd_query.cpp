#include "cli/command_line.h"

#include "reports/local_query.h"

namespace kx::cli {

int runQuery(const QStringList& args) {
    CommandLine line("query");
    line.positional(QStringLiteral("STATEMENT"),
                    QStringLiteral("select * from \"FILE.db\", with at most one condition "
                                   "where FIELD=\"TEXT\"."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    Result<QueryStatement> statement = parseQueryStatement(line.positional().front());
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
        names.append(jsonText(f.name));
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
    printJson({{"rows", rows}});
    return 0;
}

} // namespace kx::cli
