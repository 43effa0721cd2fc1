#include "cli/command_line.h"
#include "cli/table_reading.h"

#include "reports/local_query.h"

#include <optional>

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
    std::optional<TableQuery> query;
    const Result<JournalledReadings> journal = streamWithJournal(
        queryTablePath(statement.value().table), [&](const JournalledReadings&) -> Result<qint64> {
            Result<TableQuery> prepared = TableQuery::prepare(statement.value());
            if (!prepared)
                return fail(prepared.error());
            query.emplace(prepared.take());
            return query->fileRecords();
        });
    if (!journal) {
        printError(journal.error());
        return 1;
    }
    // The readings of a recording that are not in the file yet are found as if they were.
    if (const std::vector<Reading>& shown = journal.value().shown; !shown.empty()) {
        Result<std::vector<px::Record>> added = readingsAsRecords(query->fields(), shown);
        const Status s = added ? query->addRecords(added.value()) : added.status();
        if (!s) {
            printError(s.error());
            return 1;
        }
    }
    QStringList names;
    for (const px::FieldDef& f : query->fields())
        names.append(jsonText(f.name));
    qint64 rows = 0;
    const Status s = query->forEachRow([&](const px::Record& r) {
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
