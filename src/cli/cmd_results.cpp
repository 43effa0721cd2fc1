// The insulation tests of a readings table file, as the results window works them out.
#include "cli/command_line.h"
#include "cli/result_options.h"

#include "analysis/live_results.h"

#include <QJsonObject>

namespace kx::cli {

int runResults(const QStringList& args) {
    CommandLine line("results");
    line.flag(QStringLiteral("store"),
              QStringLiteral("Look for the stored table's field names (SNo, STime, ...) first."));
    addResultOptions(line);
    line.positional(QStringLiteral("FILE.db"), QStringLiteral("The readings table file."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    ResultOverrides overrides;
    if (const std::optional<int> bad = readResultOptions(line, overrides))
        return *bad;
    overrides.storeNamesFirst = line.isSet(QStringLiteral("store"));

    const Result<TableResults> found = resultsOfTableFile(line.positional().at(0), overrides);
    if (!found) {
        printError(found.error());
        return 1;
    }
    const TableResults& r = found.value();
    if (!r.journalNote.isEmpty())
        printError(r.journalNote);
    // A damaged details file is told; the tests are judged by the defaults instead.
    if (!r.detailsProblem.isEmpty())
        printError(r.detailsProblem);
    for (const InsulationResult& t : r.tests) {
        if (outputFailed())
            break;
        printJson(insulationResultJson(t));
    }
    QJsonObject last{{"tests", static_cast<qint64>(r.tests.size())}};
    if (r.detailsFound) {
        const TestDetails& d = r.details;
        last.insert(QStringLiteral("asset"), QJsonObject{{"asset", d.asset},
                                                         {"location", d.location},
                                                         {"operator", d.operatorName},
                                                         {"humidity", d.humidity},
                                                         {"notes", d.notes}});
        if (!d.linkGaps.empty())
            last.insert(QStringLiteral("linkGaps"), linkGapsJson(d.linkGaps));
    }
    printJson(last);
    return 0;
}

} // namespace kx::cli
