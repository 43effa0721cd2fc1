// The register's tables. Both databases get the same tables and take the same queries; only
// the key columns and the byte columns are spelt their own way.
#include "assets/asset_schema.h"

namespace kx {

namespace {

// Version 1: the assets with the summary the list shows, and the filed tests with their
// readings packed in one value.
const char* const kVersion1[] = {
    "CREATE TABLE kx_meta (name VARCHAR(64) PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE assets ("
    " id %ID%,"
    " tag TEXT NOT NULL UNIQUE,"
    " name TEXT, kind TEXT NOT NULL, location TEXT,"
    " rated_voltage DOUBLE PRECISION, thermal_class TEXT, notes TEXT,"
    " minimum_ohms DOUBLE PRECISION, pi_minimum DOUBLE PRECISION,"
    " retired INTEGER NOT NULL DEFAULT 0,"
    " tests INTEGER NOT NULL DEFAULT 0, last_test TEXT, last_verdict TEXT,"
    " slope_per_year DOUBLE PRECISION, crossing TEXT)",
    "CREATE TABLE tests ("
    " id %ID%,"
    " asset_id BIGINT NOT NULL REFERENCES assets (id),"
    " tested_at TEXT NOT NULL,"
    " test_no INTEGER NOT NULL,"
    " mode %BYTES%, function %BYTES%, test_voltage INTEGER,"
    " first_no BIGINT NOT NULL, last_no BIGINT NOT NULL,"
    " start_ms INTEGER NOT NULL, duration DOUBLE PRECISION,"
    " r15 DOUBLE PRECISION, r30 DOUBLE PRECISION, r60 DOUBLE PRECISION,"
    " r600 DOUBLE PRECISION, dar DOUBLE PRECISION, dar15 DOUBLE PRECISION,"
    " pi DOUBLE PRECISION, temperature DOUBLE PRECISION,"
    " humidity TEXT, operator_name TEXT, notes TEXT,"
    " source_path TEXT NOT NULL, source_hash TEXT NOT NULL,"
    " source_test INTEGER NOT NULL CHECK (source_test > 0),"
    " readings %BYTES%,"
    " UNIQUE (source_hash, source_test))",
    "CREATE INDEX tests_by_asset ON tests (asset_id, tested_at)",
};

QString spelt(const char* statement, SqlDialect dialect) {
    QString s = QString::fromLatin1(statement);
    const bool sqlite = dialect == SqlDialect::Sqlite;
    s.replace(QLatin1String("%ID%"), sqlite ? QLatin1String("INTEGER PRIMARY KEY AUTOINCREMENT")
                                            : QLatin1String("BIGSERIAL PRIMARY KEY"));
    s.replace(QLatin1String("%BYTES%"), sqlite ? QLatin1String("BLOB") : QLatin1String("BYTEA"));
    return s;
}

} // namespace

QStringList assetSchemaSteps(int from, SqlDialect dialect) {
    QStringList steps;
    if (from < 1) {
        for (const char* statement : kVersion1)
            steps << spelt(statement, dialect);
    }
    return steps;
}

} // namespace kx
