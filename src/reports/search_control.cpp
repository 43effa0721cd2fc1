#include "reports/search_control.h"

#include "readings/readings_table.h"
#include "reports/table_query_model.h"

#include <QLoggingCategory>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcSearch, "kx.search")
}

SearchTexts buildSearchTexts(const QString& liveTableName, const QString& appDir) {
    SearchTexts t;
    t.tablePath =
        liveTableName == QLatin1String("Pw60bdb") ? appDir + liveTableName : liveTableName;
    // A quote inside the path is doubled, so that a file named with one is still found.
    QString quoted = t.tablePath;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    t.base = QStringLiteral("select * from\"") + quoted + QLatin1Char('"');
    for (std::size_t i = 0; i < kSearchChoices.size(); ++i) {
        t.conditions[i] = t.base + QStringLiteral("where Unit=\"") +
                          QLatin1String(kSearchChoices[i].unit) + QLatin1Char('"');
    }
    return t;
}

SearchControl::SearchControl(ReadingsTable& live, TableQueryModel& query, QString appDir)
    : live_(live), query_(query), appDir_(std::move(appDir)) {}

Status SearchControl::run(const QString& statement) {
    query_.close();
    query_.setText(statement);
    const Status opened = query_.open();
    if (opened)
        return {};
    // What cannot be opened as a query is run once more as a statement; only that run's
    // error reaches the user.
    qCDebug(lcSearch).noquote() << "query not opened:" << opened.error();
    return query_.execute();
}

Status SearchControl::activate() {
    texts_ = buildSearchTexts(live_.tableName(), appDir_);
    return run(texts_.base);
}

Result<SearchControl::Outcome> SearchControl::search(int choice) {
    if (live_.isEmpty())
        return Outcome::EmptyDatabase;
    if (choice < 0 || choice >= static_cast<int>(kSearchChoices.size()))
        return Outcome::Listed; // no quantity chosen: nothing runs
    if (texts_.tablePath.isEmpty())
        texts_ = buildSearchTexts(live_.tableName(), appDir_);
    if (Status s = run(texts_.conditions[static_cast<std::size_t>(choice)]); !s)
        return fail(s.error());
    if (choice == kTempeChoice && query_.recordCount() == 0)
        return Outcome::NoMatch;
    return Outcome::Listed;
}

} // namespace kx
