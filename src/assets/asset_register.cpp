// The asset register on Qt SQL: one connection per register, every change one transaction,
// every text a bound value.
#include "assets/asset_register.h"
#include "assets/asset_schema.h"
#include "common/replacing_file.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace kx {

namespace {

const QString kDateTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// The stored texts "yyyy-MM-ddTHH:mm:ss.zzz" and "yyyy-MM-dd", read by hand: the list reads
// one of each per asset, and Qt's reading by format costs tens of microseconds a time.
int digitsAt(QStringView text, qsizetype from, qsizetype count) {
    if (from + count > text.size())
        return -1;
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

QDate storedDate(QStringView text) {
    if (text.size() < 10 || text[4] != u'-' || text[7] != u'-')
        return {};
    return QDate(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
}

QDateTime storedDateTime(QStringView text) {
    const QDate date = storedDate(text);
    if (!date.isValid() || text.size() != 23 || text[10] != u'T' || text[13] != u':' ||
        text[16] != u':' || text[19] != u'.')
        return {};
    const QTime time(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2),
                     digitsAt(text, 20, 3));
    return time.isValid() ? QDateTime(date, time) : QDateTime();
}

QString sqlErrorText(const QSqlError& e) {
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    else if (!e.driverText().isEmpty() && !text.contains(e.driverText()))
        text = e.driverText().trimmed() + QStringLiteral(": ") + text;
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

// Never a null QString: a null one is bound as SQL NULL.
QVariant textValue(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QVariant numberValue(std::optional<double> v) {
    if (!v || !std::isfinite(*v))
        return QVariant(QMetaType::fromType<double>());
    return QVariant(*v);
}

QVariant intValue(std::optional<int> v) {
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<int>());
}

QVariant bytesValue(const std::string& s) {
    return QVariant(QByteArray(s.data(), qsizetype(s.size())));
}

std::optional<double> optionalNumber(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

std::string bytesOf(const QVariant& v) {
    const QByteArray b = v.toByteArray();
    return std::string(b.constData(), std::size_t(b.size()));
}

std::optional<Verdict> verdictFromText(const QString& text) {
    for (Verdict v : {Verdict::Pass, Verdict::Fail, Verdict::Inconclusive}) {
        if (text == verdictText(v))
            return v;
    }
    return std::nullopt;
}

// Readings are kept as one value of little-endian pairs (elapsed s, ohms; NaN for none):
// a test's few hundred readings cost one row, not a few hundred.
QByteArray packReadings(const std::vector<FiledReading>& readings) {
    QByteArray bytes(qsizetype(readings.size() * 16), Qt::Uninitialized);
    char* out = bytes.data();
    for (const FiledReading& r : readings) {
        const double pair[2] = {r.elapsed, r.ohms ? *r.ohms : std::nan("")};
        for (double d : pair) {
            quint64 bits = 0;
            std::memcpy(&bits, &d, sizeof bits);
            qToLittleEndian(bits, out);
            out += 8;
        }
    }
    return bytes;
}

std::vector<FiledReading> unpackReadings(const QByteArray& bytes) {
    std::vector<FiledReading> readings;
    readings.reserve(std::size_t(bytes.size() / 16));
    const char* in = bytes.constData();
    for (qsizetype i = 0; i + 16 <= bytes.size(); i += 16) {
        double pair[2];
        for (int k = 0; k < 2; ++k) {
            const quint64 bits = qFromLittleEndian<quint64>(in + i + 8 * k);
            std::memcpy(&pair[k], &bits, sizeof bits);
        }
        FiledReading r;
        r.elapsed = pair[0];
        if (!std::isnan(pair[1]))
            r.ohms = pair[1];
        readings.push_back(r);
    }
    return readings;
}

const QString kTestColumns =
    QStringLiteral("id, asset_id, tested_at, test_no, mode, function, test_voltage, first_no, "
                   "last_no, start_ms, duration, r15, r30, r60, r600, dar, dar15, pi, "
                   "temperature, humidity, operator_name, notes, source_path, source_hash, "
                   "source_test");
const QString kAssetColumns =
    QStringLiteral("id, tag, name, kind, location, rated_voltage, thermal_class, notes, "
                   "minimum_ohms, pi_minimum, retired");

FiledTest testFrom(const QSqlQuery& q) {
    FiledTest t;
    t.id = q.value(0).toLongLong();
    t.assetId = q.value(1).toLongLong();
    t.testedAt = storedDateTime(q.value(2).toString());
    InsulationResult& r = t.result;
    r.test = q.value(3).toInt();
    r.mode = bytesOf(q.value(4));
    r.function = bytesOf(q.value(5));
    if (!q.value(6).isNull())
        r.testVoltage = q.value(6).toInt();
    r.first = q.value(7).toLongLong();
    r.last = q.value(8).toLongLong();
    r.startMs = q.value(9).toInt();
    r.duration = q.value(10).toDouble();
    r.r15 = optionalNumber(q.value(11));
    r.r30 = optionalNumber(q.value(12));
    r.r60 = optionalNumber(q.value(13));
    r.r600 = optionalNumber(q.value(14));
    r.dar = optionalNumber(q.value(15));
    r.dar15 = optionalNumber(q.value(16));
    r.pi = optionalNumber(q.value(17));
    r.temperature = optionalNumber(q.value(18));
    t.humidity = q.value(19).toString();
    t.operatorName = q.value(20).toString();
    t.notes = q.value(21).toString();
    t.sourcePath = q.value(22).toString();
    t.sourceHash = q.value(23).toString();
    t.sourceTest = q.value(24).toInt();
    return t;
}

Asset assetFrom(const QSqlQuery& q) {
    Asset a;
    a.id = q.value(0).toLongLong();
    a.tag = q.value(1).toString();
    a.name = q.value(2).toString();
    a.kind = assetKindFromText(q.value(3).toString()).value_or(AssetKind::Other);
    a.location = q.value(4).toString();
    a.ratedVoltage = optionalNumber(q.value(5));
    a.thermalClass = q.value(6).toString();
    a.notes = q.value(7).toString();
    a.minimumOhms = optionalNumber(q.value(8));
    a.piMinimum = optionalNumber(q.value(9));
    a.retired = q.value(10).toLongLong() != 0;
    return a;
}

// The test judged with the asset's minimums, at its own winding temperature.
void judgeUnder(FiledTest& t, const Asset& asset) {
    judge(t.result, assetSettings(asset, t.result.temperature));
}

TrendPoint pointOf(const FiledTest& t) {
    TrendPoint p;
    p.testId = t.id;
    p.testedAt = t.testedAt;
    // judge() under the asset's settings corrects to 40 °C; without a temperature the
    // measured value stands.
    p.r60Corrected40 = t.result.r60Corrected ? t.result.r60Corrected : t.result.r60;
    p.pi = t.result.pi;
    p.verdict = t.result.verdict;
    return p;
}

std::atomic<quint64> connectionCounter{0};

} // namespace

struct AssetRegister::Impl {
    DatabaseLocation location;
    QString connection;
    QSqlDatabase db;
    bool sqlite = true;
    QString readOnlyReason;
    bool transactionOpen = false;

    ~Impl() {
        if (db.isValid())
            db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
    }

    Failure failure(const QString& what, const QSqlError& e) const {
        return fail(QStringLiteral("The asset register %1 could not %2: %3")
                        .arg(location.shown(), what, sqlErrorText(e)));
    }

    // Runs one statement with its values bound in order.
    Result<QSqlQuery> run(const QString& what, const QString& sql,
                          const QVariantList& values = {}) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            return failure(what, q.lastError());
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec()) {
            // Ended while the statement lives: PostgreSQL frees it only outside a failed
            // transaction.
            const Failure f = failure(what, q.lastError());
            rollback();
            return f;
        }
        return q;
    }

    Status writable() const {
        if (!readOnlyReason.isEmpty())
            return fail(readOnlyReason);
        return {};
    }

    // Rolls back the open transaction, if any.
    void rollback() {
        if (!transactionOpen)
            return;
        transactionOpen = false;
        QSqlQuery q(db);
        (void)q.exec(QStringLiteral("ROLLBACK"));
    }

    // SQLite takes the write lock at the start, so that two programs filing at once wait
    // for each other (the busy timeout) instead of failing when a reader turns writer.
    Status begin(const QString& what) {
        QSqlQuery q(db);
        if (!q.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
            return failure(what, q.lastError());
        transactionOpen = true;
        return {};
    }
    Status commit(const QString& what) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("COMMIT"))) {
            const Failure f = failure(what, q.lastError());
            rollback();
            return f;
        }
        transactionOpen = false;
        return {};
    }
    // Runs `work` in one transaction: committed when it succeeds, rolled back otherwise.
    template <typename T, typename Work> Result<T> inTransaction(const QString& what, Work work) {
        if (Status s = writable(); !s)
            return fail(s.error());
        if (Status s = begin(what); !s)
            return fail(s.error());
        Result<T> r = work();
        if (!r) {
            rollback();
            return r;
        }
        if (Status s = commit(what); !s)
            return fail(s.error());
        return r;
    }

    Result<std::optional<Asset>> findAsset(const QString& what, const QString& tag,
                                           bool forUpdate = false) {
        QString sql = QStringLiteral("SELECT %1 FROM assets WHERE tag = ?").arg(kAssetColumns);
        if (forUpdate && !sqlite)
            sql += QStringLiteral(" FOR UPDATE");
        Result<QSqlQuery> q = run(what, sql, {textValue(tag)});
        if (!q)
            return fail(q.error());
        if (!q.value().next())
            return std::optional<Asset>();
        return std::optional<Asset>(assetFrom(q.value()));
    }

    Result<Asset> existingAsset(const QString& what, const QString& tag, bool forUpdate = false) {
        Result<std::optional<Asset>> a = findAsset(what, tag, forUpdate);
        if (!a)
            return fail(a.error());
        if (!a.value())
            return fail(QStringLiteral("The asset register %1 has no asset with the tag \"%2\"")
                            .arg(location.shown(), tag));
        return *a.value();
    }

    // The asset's tests in date order, judged with its minimums, without readings.
    Result<std::vector<FiledTest>> testsOf(const QString& what, const Asset& asset) {
        Result<QSqlQuery> q = run(what,
                                  QStringLiteral("SELECT %1 FROM tests WHERE asset_id = ? "
                                                 "ORDER BY tested_at, id")
                                      .arg(kTestColumns),
                                  {asset.id});
        if (!q)
            return fail(q.error());
        std::vector<FiledTest> tests;
        while (q.value().next()) {
            tests.push_back(testFrom(q.value()));
            judgeUnder(tests.back(), asset);
        }
        return tests;
    }

    static Trend trendOf(const Asset& asset, const std::vector<FiledTest>& tests,
                         const TrendSettings& settings) {
        std::vector<TrendPoint> points;
        points.reserve(tests.size());
        for (const FiledTest& t : tests)
            points.push_back(pointOf(t));
        return computeTrend(std::move(points), minimumOhmsOf(asset), piMinimumOf(asset), settings);
    }

    // What the list shows of the asset, worked out again from its tests; run inside the
    // transaction that changed them.
    Status refreshSummary(const QString& what, const Asset& asset) {
        Result<std::vector<FiledTest>> tests = testsOf(what, asset);
        if (!tests)
            return fail(tests.error());
        const Trend trend = trendOf(asset, tests.value(), {});
        QVariant lastTest(QMetaType::fromType<QString>());
        QVariant lastVerdict(QMetaType::fromType<QString>());
        if (!tests.value().empty()) {
            const FiledTest& last = tests.value().back();
            lastTest = last.testedAt.toString(kDateTimeFormat);
            lastVerdict = verdictText(last.result.verdict);
        }
        const QVariant crossing = trend.crossing ? QVariant(trend.crossing->toString(kDateFormat))
                                                 : QVariant(QMetaType::fromType<QString>());
        Result<QSqlQuery> q = run(what,
                                  QStringLiteral("UPDATE assets SET tests = ?, last_test = ?, "
                                                 "last_verdict = ?, slope_per_year = ?, "
                                                 "crossing = ? WHERE id = ?"),
                                  {qint64(tests.value().size()), lastTest, lastVerdict,
                                   numberValue(trend.slopePerYear), crossing, asset.id});
        return q ? Status() : Status(fail(q.error()));
    }

    Status openSqlite();
    Status openPostgresql();
    Result<int> storedVersion();
    Status migrate();
};

AssetRegister::AssetRegister(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}
AssetRegister::~AssetRegister() = default;

const DatabaseLocation& AssetRegister::location() const {
    return d->location;
}
bool AssetRegister::readOnly() const {
    return !d->readOnlyReason.isEmpty();
}
QString AssetRegister::readOnlyReason() const {
    return d->readOnlyReason;
}
int AssetRegister::schemaVersion() {
    return kAssetSchemaVersion;
}

Status AssetRegister::Impl::openSqlite() {
    const QString& path = location.path;
    const QFileInfo info(path);
    if (!info.exists())
        QDir().mkpath(info.absolutePath());
    if (Result<WriteTarget> t = checkWriteTarget(path); !t)
        return fail(QStringLiteral("Cannot open the asset register %1: %2").arg(path, t.error()));
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!db.isValid())
        return fail(QStringLiteral("Cannot open the asset register %1: the SQLite driver of Qt "
                                   "is not installed (libqt6sql6-sqlite)")
                        .arg(path));
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(QStringLiteral("Cannot open the asset register %1: %2")
                        .arg(path, sqlErrorText(db.lastError())));
    // The first statements read the file: a damaged one or one that is no database fails here.
    for (const QString& pragma :
         {QStringLiteral("PRAGMA foreign_keys = ON"), QStringLiteral("PRAGMA journal_mode = WAL"),
          QStringLiteral("PRAGMA synchronous = NORMAL")}) {
        QSqlQuery q(db);
        if (!q.exec(pragma))
            return fail(QStringLiteral("Cannot open the asset register %1 (is it damaged, or no "
                                       "database?): %2")
                            .arg(path, sqlErrorText(q.lastError())));
    }
    return {};
}

Status AssetRegister::Impl::openPostgresql() {
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    if (!db.isValid())
        return fail(QStringLiteral("Cannot open the asset register %1: the PostgreSQL driver of "
                                   "Qt is not installed (libqt6sql6-psql)")
                        .arg(location.shown()));
    if (!location.host.isEmpty())
        db.setHostName(location.host);
    if (location.port > 0)
        db.setPort(location.port);
    db.setUserName(location.user);
    db.setPassword(location.password);
    db.setDatabaseName(location.database);
    db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    if (!db.open())
        return fail(QStringLiteral("Cannot reach the asset register %1: %2")
                        .arg(location.shown(), sqlErrorText(db.lastError())));
    QSqlQuery q(db);
    (void)q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    return {};
}

// The schema version the database keeps: 0 for an empty database; fails for one that holds
// other tables or no version.
Result<int> AssetRegister::Impl::storedVersion() {
    const QString what = QStringLiteral("read the schema version");
    // db.tables() says nothing of a failure: a file that is no database was found out by
    // openSqlite() already.
    QStringList tables = db.tables(QSql::Tables);
    tables.removeAll(QStringLiteral("sqlite_sequence"));
    if (!tables.contains(QStringLiteral("kx_meta"), Qt::CaseInsensitive)) {
        if (tables.isEmpty())
            return 0;
        tables.sort();
        return fail(QStringLiteral("The database %1 is not an asset register (it holds other "
                                   "tables: %2)")
                        .arg(location.shown(), tables.mid(0, 5).join(QStringLiteral(", "))));
    }
    Result<QSqlQuery> q = run(what, QStringLiteral("SELECT value FROM kx_meta WHERE name = ?"),
                              {QStringLiteral("schema_version")});
    if (!q)
        return fail(q.error());
    bool ok = false;
    const int version = q.value().next() ? q.value().value(0).toString().toInt(&ok) : 0;
    if (!ok || version < 1)
        return fail(QStringLiteral("The database %1 is not an asset register (it keeps no "
                                   "schema version)")
                        .arg(location.shown()));
    return version;
}

// Creates the schema in an empty database, or brings an older one forward, in one
// transaction. A database of a newer schema is left alone and opened for reading only. A
// register that is up to date is only read, so opening it takes no write lock.
Status AssetRegister::Impl::migrate() {
    const QString what = QStringLiteral("prepare its tables");
    Result<int> version = storedVersion();
    if (version && version.value() == kAssetSchemaVersion)
        return {};
    if (version && version.value() > kAssetSchemaVersion) {
        readOnlyReason = QStringLiteral("The asset register %1 was written by a newer version "
                                        "of the program (schema %2; this one knows up to %3): "
                                        "it is open for reading only")
                             .arg(location.shown())
                             .arg(version.value())
                             .arg(kAssetSchemaVersion);
        return {};
    }
    if (!version)
        return version.status();
    if (Status s = begin(what); !s)
        return s;
    // Two clients making the tables of one new database at once: the second waits here and
    // then finds them made. (SQLite's write lock, taken by begin(), does the same.)
    if (!sqlite) {
        if (Result<QSqlQuery> q = run(what, QStringLiteral("SELECT pg_advisory_xact_lock(?)"),
                                      {qint64(0x6b78617373)});
            !q)
            return q.status();
    }
    version = storedVersion();
    if (!version || version.value() >= kAssetSchemaVersion) {
        rollback();
        return version ? migrate() : version.status();
    }
    for (const QString& statement :
         assetSchemaSteps(version.value(), sqlite ? SqlDialect::Sqlite : SqlDialect::Postgresql)) {
        QSqlQuery q(db);
        if (!q.exec(statement)) {
            const Failure f = failure(what, q.lastError());
            rollback();
            return Status(f);
        }
    }
    const QString upsert = version.value() == 0
                               ? QStringLiteral("INSERT INTO kx_meta (value, name) VALUES (?, ?)")
                               : QStringLiteral("UPDATE kx_meta SET value = ? WHERE name = ?");
    if (Result<QSqlQuery> q = run(
            what, upsert, {QString::number(kAssetSchemaVersion), QStringLiteral("schema_version")});
        !q)
        return q.status();
    return commit(what);
}

Result<std::unique_ptr<AssetRegister>> AssetRegister::open(const DatabaseLocation& location) {
    auto impl = std::make_unique<Impl>();
    impl->location = location;
    impl->sqlite = location.driver == DatabaseLocation::Driver::Sqlite;
    impl->connection = QStringLiteral("kx.assets.%1").arg(++connectionCounter);
    Status s = impl->sqlite ? impl->openSqlite() : impl->openPostgresql();
    if (s)
        s = impl->migrate();
    if (!s)
        return fail(s.error());
    return std::unique_ptr<AssetRegister>(new AssetRegister(std::move(impl)));
}

namespace {

QVariantList assetValues(const Asset& a) {
    return {textValue(a.name),           assetKindText(a.kind),     textValue(a.location),
            numberValue(a.ratedVoltage), textValue(a.thermalClass), textValue(a.notes),
            numberValue(a.minimumOhms),  numberValue(a.piMinimum),  a.retired ? 1 : 0};
}

Status checkedTag(const QString& tag) {
    if (tag.trimmed().isEmpty())
        return fail(QStringLiteral("An asset needs a tag"));
    return {};
}

} // namespace

Result<Asset> AssetRegister::addAsset(const Asset& asset) {
    const QString what = QStringLiteral("add the asset \"%1\"").arg(asset.tag);
    if (Status s = checkedTag(asset.tag); !s)
        return fail(s.error());
    return d->inTransaction<Asset>(what, [&]() -> Result<Asset> {
        Result<std::optional<Asset>> existing = d->findAsset(what, asset.tag);
        if (!existing)
            return fail(existing.error());
        if (existing.value())
            return fail(QStringLiteral("The asset register %1 has an asset with the tag \"%2\" "
                                       "already")
                            .arg(d->location.shown(), asset.tag));
        QVariantList values = assetValues(asset);
        values.prepend(asset.tag);
        if (Result<QSqlQuery> q =
                d->run(what,
                       QStringLiteral("INSERT INTO assets (tag, name, kind, location, "
                                      "rated_voltage, thermal_class, notes, minimum_ohms, "
                                      "pi_minimum, retired) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                       values);
            !q)
            return fail(q.error());
        return d->existingAsset(what, asset.tag);
    });
}

Status AssetRegister::editAsset(const Asset& asset) {
    const QString what = QStringLiteral("change the asset \"%1\"").arg(asset.tag);
    if (Status s = checkedTag(asset.tag); !s)
        return s;
    Result<bool> r = d->inTransaction<bool>(what, [&]() -> Result<bool> {
        qint64 id = asset.id;
        if (id == 0) {
            Result<Asset> found = d->existingAsset(what, asset.tag, true);
            if (!found)
                return fail(found.error());
            id = found.value().id;
        } else {
            Result<std::optional<Asset>> other = d->findAsset(what, asset.tag);
            if (!other)
                return fail(other.error());
            if (other.value() && other.value()->id != id)
                return fail(QStringLiteral("The asset register %1 has another asset with the "
                                           "tag \"%2\"")
                                .arg(d->location.shown(), asset.tag));
        }
        QVariantList values = assetValues(asset);
        values.prepend(asset.tag);
        values.append(id);
        Result<QSqlQuery> q =
            d->run(what,
                   QStringLiteral("UPDATE assets SET tag = ?, name = ?, kind = ?, location = ?, "
                                  "rated_voltage = ?, thermal_class = ?, notes = ?, "
                                  "minimum_ohms = ?, pi_minimum = ?, retired = ? WHERE id = ?"),
                   values);
        if (!q)
            return fail(q.error());
        if (q.value().numRowsAffected() == 0)
            return fail(QStringLiteral("The asset register %1 has no asset \"%2\" (number %3)")
                            .arg(d->location.shown(), asset.tag)
                            .arg(id));
        // The minimums may have changed: the verdicts and the crossing with them.
        Asset stored = asset;
        stored.id = id;
        if (Status s = d->refreshSummary(what, stored); !s)
            return fail(s.error());
        return true;
    });
    return r.status();
}

Status AssetRegister::retireAsset(const QString& tag) {
    const QString what = QStringLiteral("retire the asset \"%1\"").arg(tag);
    Result<bool> r = d->inTransaction<bool>(what, [&]() -> Result<bool> {
        Result<Asset> found = d->existingAsset(what, tag, true);
        if (!found)
            return fail(found.error());
        Result<QSqlQuery> q = d->run(
            what, QStringLiteral("UPDATE assets SET retired = 1 WHERE id = ?"), {found.value().id});
        if (!q)
            return fail(q.error());
        return true;
    });
    return r.status();
}

Status AssetRegister::removeAsset(const QString& tag) {
    const QString what = QStringLiteral("remove the asset \"%1\"").arg(tag);
    Result<bool> r = d->inTransaction<bool>(what, [&]() -> Result<bool> {
        Result<Asset> found = d->existingAsset(what, tag, true);
        if (!found)
            return fail(found.error());
        Result<QSqlQuery> count =
            d->run(what, QStringLiteral("SELECT COUNT(*) FROM tests WHERE asset_id = ?"),
                   {found.value().id});
        if (!count)
            return fail(count.error());
        const qint64 tests = count.value().next() ? count.value().value(0).toLongLong() : 0;
        if (tests > 0)
            return fail(QStringLiteral("The asset \"%1\" has %2 filed tests and is kept; retire "
                                       "it instead")
                            .arg(tag)
                            .arg(tests));
        Result<QSqlQuery> q =
            d->run(what, QStringLiteral("DELETE FROM assets WHERE id = ?"), {found.value().id});
        if (!q)
            return fail(q.error());
        return true;
    });
    return r.status();
}

Result<std::optional<Asset>> AssetRegister::asset(const QString& tag) {
    return d->findAsset(QStringLiteral("read the asset \"%1\"").arg(tag), tag);
}

Result<std::vector<AssetSummary>> AssetRegister::list(const AssetFilter& filter) {
    const QString what = QStringLiteral("list the assets");
    Result<QSqlQuery> q =
        d->run(what, QStringLiteral("SELECT %1, tests, last_test, last_verdict, slope_per_year, "
                                    "crossing FROM assets ORDER BY tag")
                         .arg(kAssetColumns));
    if (!q)
        return fail(q.error());
    // Matched here rather than in SQL, so that case folds the same way for every text and
    // on every database.
    const QString text = filter.text.trimmed();
    std::vector<AssetSummary> assets;
    QSqlQuery& rows = q.value();
    while (rows.next()) {
        AssetSummary s;
        s.asset = assetFrom(rows);
        if (s.asset.retired && !filter.includeRetired)
            continue;
        if (!text.isEmpty() && !s.asset.tag.contains(text, Qt::CaseInsensitive) &&
            !s.asset.name.contains(text, Qt::CaseInsensitive) &&
            !s.asset.location.contains(text, Qt::CaseInsensitive) &&
            !assetKindText(s.asset.kind).contains(text, Qt::CaseInsensitive))
            continue;
        s.tests = rows.value(11).toInt();
        if (!rows.value(12).isNull())
            s.lastTest = storedDateTime(rows.value(12).toString());
        if (!rows.value(13).isNull())
            s.lastVerdict = verdictFromText(rows.value(13).toString());
        s.slopePerYear = optionalNumber(rows.value(14));
        if (!rows.value(15).isNull())
            s.crossing = storedDate(rows.value(15).toString());
        assets.push_back(std::move(s));
    }
    return assets;
}

Result<FilingOutcome> AssetRegister::fileTests(const QString& tag,
                                               const std::vector<FiledTest>& tests) {
    const QString what = QStringLiteral("file tests under the asset \"%1\"").arg(tag);
    for (const FiledTest& t : tests) {
        if (!t.testedAt.isValid())
            return fail(QStringLiteral("Test %1 of %2 has no date: nothing was filed")
                            .arg(t.sourceTest)
                            .arg(t.sourcePath));
        if (t.sourceHash.isEmpty())
            return fail(QStringLiteral("Test %1 of %2 has no content hash: nothing was filed")
                            .arg(t.sourceTest)
                            .arg(t.sourcePath));
    }
    return d->inTransaction<FilingOutcome>(what, [&]() -> Result<FilingOutcome> {
        Result<Asset> found = d->existingAsset(what, tag, true);
        if (!found)
            return fail(found.error());
        const Asset& asset = found.value();
        QSqlQuery q(d->db);
        // The same test of the same file contents is filed once, whoever files it first.
        if (!q.prepare(QStringLiteral(
                "INSERT INTO tests (asset_id, tested_at, test_no, mode, function, test_voltage, "
                "first_no, last_no, start_ms, duration, r15, r30, r60, r600, dar, dar15, pi, "
                "temperature, humidity, operator_name, notes, source_path, source_hash, "
                "source_test, readings) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                "?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (source_hash, source_test) DO NOTHING")))
            return d->failure(what, q.lastError());
        FilingOutcome outcome;
        for (const FiledTest& t : tests) {
            const InsulationResult& r = t.result;
            const QVariantList values = {
                asset.id,
                t.testedAt.toString(kDateTimeFormat),
                r.test,
                bytesValue(r.mode),
                bytesValue(r.function),
                intValue(r.testVoltage),
                qint64(r.first),
                qint64(r.last),
                r.startMs,
                numberValue(r.duration),
                numberValue(r.r15),
                numberValue(r.r30),
                numberValue(r.r60),
                numberValue(r.r600),
                numberValue(r.dar),
                numberValue(r.dar15),
                numberValue(r.pi),
                numberValue(r.temperature),
                textValue(t.humidity),
                textValue(t.operatorName),
                textValue(t.notes),
                textValue(t.sourcePath),
                textValue(t.sourceHash),
                t.sourceTest,
                packReadings(t.readings),
            };
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, values[i]);
            if (!q.exec()) {
                const Failure f = d->failure(what, q.lastError());
                d->rollback();
                return f;
            }
            if (q.numRowsAffected() > 0)
                ++outcome.filed;
            else
                ++outcome.already;
        }
        if (outcome.filed > 0) {
            if (Status s = d->refreshSummary(what, asset); !s)
                return fail(s.error());
        }
        return outcome;
    });
}

Result<std::vector<FiledTest>> AssetRegister::tests(const QString& tag) {
    const QString what = QStringLiteral("read the tests of the asset \"%1\"").arg(tag);
    Result<Asset> asset = d->existingAsset(what, tag);
    if (!asset)
        return fail(asset.error());
    return d->testsOf(what, asset.value());
}

Result<FiledTest> AssetRegister::test(qint64 testId) {
    const QString what = QStringLiteral("read the test number %1").arg(testId);
    Result<QSqlQuery> q = d->run(
        what, QStringLiteral("SELECT %1, readings FROM tests WHERE id = ?").arg(kTestColumns),
        {testId});
    if (!q)
        return fail(q.error());
    if (!q.value().next())
        return fail(QStringLiteral("The asset register %1 has no test number %2")
                        .arg(d->location.shown())
                        .arg(testId));
    FiledTest t = testFrom(q.value());
    t.readings = unpackReadings(q.value().value(25).toByteArray());
    Result<QSqlQuery> a = d->run(
        what, QStringLiteral("SELECT %1 FROM assets WHERE id = ?").arg(kAssetColumns), {t.assetId});
    if (!a)
        return fail(a.error());
    if (a.value().next())
        judgeUnder(t, assetFrom(a.value()));
    return t;
}

Result<Trend> AssetRegister::trend(const QString& tag, const TrendSettings& settings) {
    const QString what = QStringLiteral("read the trend of the asset \"%1\"").arg(tag);
    Result<Asset> asset = d->existingAsset(what, tag);
    if (!asset)
        return fail(asset.error());
    Result<std::vector<FiledTest>> tests = d->testsOf(what, asset.value());
    if (!tests)
        return fail(tests.error());
    return Impl::trendOf(asset.value(), tests.value(), settings);
}

Result<std::vector<std::pair<QString, FiledTest>>> AssetRegister::allTests() {
    const QString what = QStringLiteral("read the tests");
    Result<QSqlQuery> a = d->run(what, QStringLiteral("SELECT %1 FROM assets").arg(kAssetColumns));
    if (!a)
        return fail(a.error());
    QHash<qint64, Asset> assets;
    while (a.value().next()) {
        Asset asset = assetFrom(a.value());
        assets.insert(asset.id, std::move(asset));
    }
    Result<QSqlQuery> q = d->run(
        what,
        QStringLiteral("SELECT %1 FROM tests ORDER BY asset_id, tested_at, id").arg(kTestColumns));
    if (!q)
        return fail(q.error());
    std::vector<std::pair<QString, FiledTest>> tests;
    while (q.value().next()) {
        FiledTest t = testFrom(q.value());
        const auto it = assets.constFind(t.assetId);
        if (it == assets.constEnd())
            continue;
        judgeUnder(t, *it);
        tests.emplace_back(it->tag, std::move(t));
    }
    // In tag order, each asset's tests in date order (as read).
    std::stable_sort(tests.begin(), tests.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return tests;
}

} // namespace kx
