// The register on both databases: the same cases on a temporary SQLite file and on a
// PostgreSQL server the test program starts itself (one for the whole run).
#include "assets/asset_register.h"
#include "assets/postgres_server.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace kx {
namespace {

constexpr double M = 1e6;

// The one server of the run, started when a test first needs it, stopped at the end.
class PostgresEnvironment : public ::testing::Environment {
public:
    static PostgresEnvironment* instance;
    Status ensureStarted() {
        if (!started_) {
            started_ = true;
            status_ = server_.start();
        }
        if (status_ && !server_.running())
            status_ = server_.start();
        return status_;
    }
    test::PostgresServer& server() { return server_; }
    void TearDown() override { (void)server_.stop(); }

private:
    test::PostgresServer server_;
    bool started_ = false;
    Status status_;
};
PostgresEnvironment* PostgresEnvironment::instance =
    static_cast<PostgresEnvironment*>(::testing::AddGlobalTestEnvironment(new PostgresEnvironment));

enum class Backend { Sqlite, Postgresql };

FiledTest makeTest(const QString& hash, int number, QDate day, std::optional<double> r60,
                   std::optional<double> temperature = {}, std::optional<double> pi = {}) {
    FiledTest t;
    t.testedAt = QDateTime(day, QTime(10, 30, 15, 250));
    InsulationResult& r = t.result;
    r.test = number;
    r.mode = "IR";
    r.function = "IR:5000 1T\xa6\xb8"; // code page 936 bytes stay bytes
    r.testVoltage = 5000;
    r.first = 100 * number;
    r.last = 100 * number + 59;
    r.startMs = 37815250;
    r.duration = 600.5;
    r.r15 = 1.5e9;
    r.r30 = 2.25e9;
    r.r60 = r60;
    r.r600 = r60 && pi ? std::optional<double>(*r60 * *pi) : std::nullopt;
    r.dar = 1.333;
    r.pi = pi;
    r.temperature = temperature;
    t.humidity = QStringLiteral("45 %");
    t.operatorName = QStringLiteral("Ann");
    t.notes = QStringLiteral("after overhaul");
    t.sourcePath = QStringLiteral("/data/tests/%1.db").arg(hash);
    t.sourceHash = hash;
    t.sourceTest = number;
    t.readings = {{0, 1e9}, {1.5, std::nullopt}, {60, 3.5e9}, {600.25, 7.125e9}};
    return t;
}

Asset makeAsset(const QString& tag, AssetKind kind = AssetKind::FormWound) {
    Asset a;
    a.tag = tag;
    a.name = QStringLiteral("Motor ") + tag;
    a.kind = kind;
    a.location = QStringLiteral("Hall 1");
    a.ratedVoltage = 6600;
    a.thermalClass = QStringLiteral("F");
    return a;
}

class RegisterTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Sqlite) {
            ASSERT_TRUE(folder_.isValid());
            url_ = QStringLiteral("sqlite:") + folder_.filePath(QStringLiteral("assets.sqlite"));
        } else {
            const Status started = PostgresEnvironment::instance->ensureStarted();
            ASSERT_TRUE(started.ok()) << started.error().toStdString();
            Result<QString> url = PostgresEnvironment::instance->server().newDatabase();
            ASSERT_TRUE(url.ok()) << url.error().toStdString();
            url_ = url.value();
        }
    }

    std::unique_ptr<AssetRegister> openRegister() {
        const Result<DatabaseLocation> l = parseDatabaseUrl(url_);
        EXPECT_TRUE(l.ok()) << l.error().toStdString();
        if (!l)
            return {};
        Result<std::unique_ptr<AssetRegister>> r = AssetRegister::open(l.value());
        EXPECT_TRUE(r.ok()) << r.error().toStdString();
        return r ? r.take() : nullptr;
    }

    // A statement on a connection of the test's own, past the register.
    void execDirect(const QString& sql) {
        const DatabaseLocation l = parseDatabaseUrl(url_).value();
        {
            QSqlDatabase db;
            if (l.driver == DatabaseLocation::Driver::Sqlite) {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("direct"));
                db.setDatabaseName(l.path);
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("direct"));
                db.setHostName(l.host);
                db.setUserName(l.user);
                db.setDatabaseName(l.database);
            }
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("direct"));
    }

    QTemporaryDir folder_;
    QString url_;
};

TEST_P(RegisterTest, AssetsAreAddedEditedRetiredAndKeptWhileTestsReferToThem) {
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    EXPECT_FALSE(reg->readOnly());
    ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("M-1"))).ok());
    ASSERT_TRUE(reg->fileTests(QStringLiteral("M-1"),
                               {makeTest(QStringLiteral("h1"), 1, QDate(2024, 1, 5), 500 * M)})
                    .ok());
    struct Step {
        const char* name;
        std::function<Status(AssetRegister&)> run;
        const char* error; // empty: succeeds
    };
    const Step steps[] = {
        {"add",
         [](AssetRegister& r) { return r.addAsset(makeAsset(QStringLiteral("M-2"))).status(); },
         ""},
        {"add a taken tag",
         [](AssetRegister& r) { return r.addAsset(makeAsset(QStringLiteral("M-1"))).status(); },
         "already"},
        {"add without a tag",
         [](AssetRegister& r) { return r.addAsset(makeAsset(QStringLiteral(" "))).status(); },
         "needs a tag"},
        {"edit by tag",
         [](AssetRegister& r) {
             Asset a = makeAsset(QStringLiteral("M-2"), AssetKind::Cable);
             a.name = QStringLiteral("Feeder");
             a.minimumOhms = 20 * M;
             return r.editAsset(a);
         },
         ""},
        {"edit onto another's tag",
         [](AssetRegister& r) {
             Asset a = r.asset(QStringLiteral("M-2")).value().value();
             a.tag = QStringLiteral("M-1");
             return r.editAsset(a);
         },
         "another asset"},
        {"edit an unknown tag",
         [](AssetRegister& r) { return r.editAsset(makeAsset(QStringLiteral("nope"))); },
         "no asset"},
        {"remove with tests", [](AssetRegister& r) { return r.removeAsset(QStringLiteral("M-1")); },
         "retire it"},
        {"retire", [](AssetRegister& r) { return r.retireAsset(QStringLiteral("M-1")); }, ""},
        {"retire an unknown tag",
         [](AssetRegister& r) { return r.retireAsset(QStringLiteral("nope")); }, "no asset"},
        {"add M-3",
         [](AssetRegister& r) { return r.addAsset(makeAsset(QStringLiteral("M-3"))).status(); },
         ""},
        {"remove without tests",
         [](AssetRegister& r) { return r.removeAsset(QStringLiteral("M-3")); }, ""},
        {"file under an unknown tag",
         [](AssetRegister& r) {
             return r
                 .fileTests(QStringLiteral("nope"),
                            {makeTest(QStringLiteral("h9"), 1, QDate(2024, 1, 5), 5 * M)})
                 .status();
         },
         "no asset"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const Status st = s.run(*reg);
        if (*s.error == 0)
            EXPECT_TRUE(st.ok()) << st.error().toStdString();
        else
            EXPECT_TRUE(!st.ok() && st.error().contains(QString::fromUtf8(s.error)))
                << st.error().toStdString();
    }
    const auto m2 = reg->asset(QStringLiteral("M-2")).value();
    ASSERT_TRUE(m2);
    EXPECT_EQ(m2->name, QStringLiteral("Feeder"));
    EXPECT_EQ(m2->kind, AssetKind::Cable);
    EXPECT_EQ(m2->minimumOhms, 20 * M);
    EXPECT_FALSE(reg->asset(QStringLiteral("M-3")).value());
    ASSERT_EQ(reg->list().value().size(), 1u); // the retired one left out
    const auto all = reg->list({QString(), true}).value();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[0].asset.retired);
    EXPECT_EQ(all[0].tests, 1);
}

TEST_P(RegisterTest, FilingKeepsEveryFigureOnceAndJudgesWithTheAssetsMinimums) {
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("P-1"))).ok());
    ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("P-2"))).ok());
    const QString p1 = QStringLiteral("P-1");
    // 400 MΩ at 20 °C is 100 MΩ at 40 °C; 160 MΩ at 20 °C is 40 MΩ: below the 100 MΩ.
    const std::vector<FiledTest> year1 = {
        makeTest(QStringLiteral("aa"), 1, QDate(2021, 3, 1), 800 * M, 20.0, 3.0),
        makeTest(QStringLiteral("aa"), 2, QDate(2021, 3, 1), 400 * M, 20.0, 2.5)};
    struct Filing {
        const char* tag;
        std::vector<FiledTest> tests;
        int filed;
        int already;
    };
    const Filing filings[] = {
        {"P-1", year1, 2, 0},
        {"P-1", year1, 0, 2},      // the same again
        {"P-2", {year1[1]}, 0, 1}, // the same test under another asset
        {"P-1",
         {makeTest(QStringLiteral("bb"), 1, QDate(2023, 3, 1), 160 * M, 20.0, 1.2), year1[0]},
         1,
         1},
    };
    for (const Filing& f : filings) {
        const Result<FilingOutcome> r = reg->fileTests(QString::fromUtf8(f.tag), f.tests);
        ASSERT_TRUE(r.ok()) << r.error().toStdString();
        EXPECT_EQ(r.value().filed, f.filed) << f.tag;
        EXPECT_EQ(r.value().already, f.already) << f.tag;
    }
    const auto tests = reg->tests(p1).value();
    ASSERT_EQ(tests.size(), 3u);
    EXPECT_TRUE(reg->tests(QStringLiteral("P-2")).value().empty());
    const std::vector<Verdict> verdicts = {Verdict::Pass, Verdict::Pass, Verdict::Fail};
    for (std::size_t i = 0; i < tests.size(); ++i)
        EXPECT_EQ(tests[i].result.verdict, verdicts[i]) << i;
    EXPECT_TRUE(tests[0].readings.empty());

    // Every figure read back as filed, the readings with it.
    const Result<FiledTest> one = reg->test(tests[1].id);
    ASSERT_TRUE(one.ok()) << one.error().toStdString();
    const FiledTest& t = one.value();
    const FiledTest& w = year1[1];
    EXPECT_EQ(t.testedAt, w.testedAt);
    EXPECT_EQ(t.result.mode, w.result.mode);
    EXPECT_EQ(t.result.function, w.result.function);
    EXPECT_EQ(t.result.testVoltage, w.result.testVoltage);
    EXPECT_EQ(t.result.first, w.result.first);
    EXPECT_EQ(t.result.last, w.result.last);
    EXPECT_EQ(t.result.startMs, w.result.startMs);
    EXPECT_EQ(t.result.duration, w.result.duration);
    EXPECT_EQ(t.result.r15, w.result.r15);
    EXPECT_EQ(t.result.r30, w.result.r30);
    EXPECT_EQ(t.result.r60, w.result.r60);
    EXPECT_EQ(t.result.r600, w.result.r600);
    EXPECT_EQ(t.result.dar, w.result.dar);
    EXPECT_EQ(t.result.dar15, std::nullopt);
    EXPECT_EQ(t.result.pi, w.result.pi);
    EXPECT_EQ(t.result.temperature, w.result.temperature);
    EXPECT_EQ(t.result.r60Corrected, 100 * M);
    EXPECT_EQ(t.humidity, w.humidity);
    EXPECT_EQ(t.operatorName, w.operatorName);
    EXPECT_EQ(t.notes, w.notes);
    EXPECT_EQ(t.sourcePath, w.sourcePath);
    EXPECT_EQ(t.sourceTest, 2);
    ASSERT_EQ(t.readings.size(), w.readings.size());
    for (std::size_t i = 0; i < t.readings.size(); ++i) {
        EXPECT_EQ(t.readings[i].elapsed, w.readings[i].elapsed);
        EXPECT_EQ(t.readings[i].ohms, w.readings[i].ohms);
    }

    // The list's summary follows the filings, and the minimums when they are edited.
    auto summary = reg->list({QStringLiteral("p-1")}).value();
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0].tests, 3);
    EXPECT_EQ(summary[0].lastTest, tests[2].testedAt);
    EXPECT_EQ(summary[0].lastVerdict, Verdict::Fail);
    ASSERT_TRUE(summary[0].slopePerYear);
    EXPECT_LT(*summary[0].slopePerYear, -30);
    EXPECT_TRUE(summary[0].crossing);
    Asset edited = reg->asset(p1).value().value();
    edited.minimumOhms = 10 * M;
    edited.piMinimum = 1.0;
    ASSERT_TRUE(reg->editAsset(edited).ok());
    summary = reg->list({QStringLiteral("P-1")}).value();
    EXPECT_EQ(summary[0].lastVerdict, Verdict::Pass);
    const Trend trend = reg->trend(p1).value();
    ASSERT_EQ(trend.points.size(), 3u);
    EXPECT_EQ(trend.points[1].r60Corrected40, 100 * M);
    EXPECT_EQ(trend.minimumOhms, 10 * M);
    EXPECT_EQ(trend.slopePerYear, summary[0].slopePerYear);
    EXPECT_EQ(trend.crossing, summary[0].crossing);

    ASSERT_TRUE(reg->fileTests(QStringLiteral("P-0"), {}).status().error().contains("P-0"));
    ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("P-0"))).ok());
    ASSERT_TRUE(reg->fileTests(QStringLiteral("P-0"),
                               {makeTest(QStringLiteral("cc"), 1, QDate(2025, 1, 1), 5 * M)})
                    .ok());
    const auto all = reg->allTests().value();
    ASSERT_EQ(all.size(), 4u);
    const char* const order[] = {"P-0", "P-1", "P-1", "P-1"};
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i].first.toStdString(), order[i]) << i;
    EXPECT_LT(all[1].second.testedAt, all[3].second.testedAt);
}

TEST_P(RegisterTest, AFailedFilingLeavesNothingFiled) {
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("R-1"))).ok());
    struct Case {
        const char* name;
        std::vector<FiledTest> tests;
    };
    FiledTest undated = makeTest(QStringLiteral("c"), 3, QDate(2024, 1, 1), 5 * M);
    undated.testedAt = QDateTime();
    FiledTest unhashed = makeTest(QString(), 3, QDate(2024, 1, 1), 5 * M);
    const Case cases[] = {
        // The database refuses the third (a test numbered 0), after two went in.
        {"refused by the database",
         {makeTest(QStringLiteral("c"), 1, QDate(2024, 1, 1), 5 * M),
          makeTest(QStringLiteral("c"), 2, QDate(2024, 1, 1), 5 * M),
          makeTest(QStringLiteral("c"), 0, QDate(2024, 1, 1), 5 * M)}},
        {"a test without a date",
         {makeTest(QStringLiteral("c"), 1, QDate(2024, 1, 1), 5 * M), undated}},
        {"a test without a hash",
         {makeTest(QStringLiteral("c"), 1, QDate(2024, 1, 1), 5 * M), unhashed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<FilingOutcome> r = reg->fileTests(QStringLiteral("R-1"), c.tests);
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.error().isEmpty());
        EXPECT_TRUE(reg->tests(QStringLiteral("R-1")).value().empty());
        EXPECT_EQ(reg->list().value().at(0).tests, 0);
    }
    // The register still works after the failures.
    EXPECT_EQ(reg->fileTests(QStringLiteral("R-1"),
                             {makeTest(QStringLiteral("c"), 1, QDate(2024, 1, 1), 5 * M)})
                  .value()
                  .filed,
              1);
}

TEST_P(RegisterTest, TextsWithQuotesSemicolonsAndOtherScriptsAreKeptAsGiven) {
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    const QString texts[] = {
        QStringLiteral("O'Brien's \"pump\""),  QStringLiteral("x'); DROP TABLE assets; --"),
        QStringLiteral("泵房 2 号电机"),       QStringLiteral("Насос; «главный»"),
        QStringLiteral("50% _under_ \\ back"),
    };
    int n = 0;
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        Asset a = makeAsset(text);
        a.name = text + QStringLiteral(" name");
        a.location = text;
        a.notes = text;
        ASSERT_TRUE(reg->addAsset(a).ok());
        FiledTest t = makeTest(text, 1, QDate(2024, 2, 1), 5 * M);
        t.operatorName = text;
        t.sourcePath = QStringLiteral("/data/") + text + QStringLiteral(".db");
        ASSERT_TRUE(reg->fileTests(text, {t}).ok());
        const Asset back = reg->asset(text).value().value();
        EXPECT_EQ(back.name, a.name);
        EXPECT_EQ(back.location, text);
        EXPECT_EQ(back.notes, text);
        const FiledTest tb = reg->tests(text).value().at(0);
        EXPECT_EQ(tb.operatorName, text);
        EXPECT_EQ(tb.sourcePath, t.sourcePath);
        EXPECT_EQ(tb.sourceHash, text);
        ++n;
        EXPECT_EQ(reg->list().value().size(), std::size_t(n));
    }
    // The filter matches in every script, whatever the case.
    EXPECT_EQ(reg->list({QStringLiteral("o'BRIEN")}).value().size(), 1u);
    EXPECT_EQ(reg->list({QStringLiteral("电机")}).value().size(), 1u);
    EXPECT_EQ(reg->list({QStringLiteral("НАСОС")}).value().size(), 1u);
    EXPECT_EQ(reg->list({QStringLiteral("50%")}).value().size(), 1u);
    EXPECT_EQ(reg->list({QStringLiteral("form-wound")}).value().size(), 5u);
    EXPECT_EQ(reg->list({QStringLiteral("hall 1")}).value().size(), 0u);
}

TEST_P(RegisterTest, ANewerSchemaOpensForReadingOnly) {
    {
        auto reg = openRegister();
        ASSERT_TRUE(reg);
        ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("N-1"))).ok());
    }
    execDirect(QStringLiteral("UPDATE kx_meta SET value = '%1' WHERE name = 'schema_version'")
                   .arg(AssetRegister::schemaVersion() + 1));
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    EXPECT_TRUE(reg->readOnly());
    EXPECT_TRUE(reg->readOnlyReason().contains(QStringLiteral("newer")));
    EXPECT_EQ(reg->list().value().size(), 1u);
    const QString tag = QStringLiteral("N-1");
    const Status writes[] = {
        reg->addAsset(makeAsset(QStringLiteral("N-2"))).status(),
        reg->editAsset(makeAsset(tag)),
        reg->retireAsset(tag),
        reg->removeAsset(tag),
        reg->fileTests(tag, {makeTest(QStringLiteral("n"), 1, QDate(2024, 1, 1), 5 * M)}).status(),
    };
    for (const Status& s : writes)
        EXPECT_EQ(s.error(), reg->readOnlyReason());
}

TEST_P(RegisterTest, AForeignDatabaseIsNoRegister) {
    execDirect(QStringLiteral("CREATE TABLE invoices (id INTEGER, total INTEGER)"));
    const Result<std::unique_ptr<AssetRegister>> r =
        AssetRegister::open(parseDatabaseUrl(url_).value());
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains(QStringLiteral("not an asset register")));
    EXPECT_TRUE(r.error().contains(QStringLiteral("invoices")));
}

TEST_P(RegisterTest, TwoRegistersFilingAtOnceLoseNothing) {
    {
        auto reg = openRegister();
        ASSERT_TRUE(reg);
        ASSERT_TRUE(reg->addAsset(makeAsset(QStringLiteral("C-1"))).ok());
    }
    constexpr int kFilings = 40;
    const DatabaseLocation location = parseDatabaseUrl(url_).value();
    std::vector<QString> errors(2);
    auto filer = [&](int who) {
        Result<std::unique_ptr<AssetRegister>> reg = AssetRegister::open(location);
        if (!reg) {
            errors[who] = reg.error();
            return;
        }
        for (int i = 0; i < kFilings; ++i) {
            const QString hash = QStringLiteral("w%1-%2").arg(who).arg(i);
            const Result<FilingOutcome> r = reg.value()->fileTests(
                QStringLiteral("C-1"),
                {makeTest(hash, 1, QDate(2020, 1, 1).addDays(i), 5 * M),
                 makeTest(QStringLiteral("shared"), i + 1, QDate(2020, 1, 1), 5 * M)});
            if (!r) {
                errors[who] = r.error();
                return;
            }
        }
    };
    std::thread a(filer, 0), b(filer, 1);
    a.join();
    b.join();
    EXPECT_TRUE(errors[0].isEmpty()) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].isEmpty()) << errors[1].toStdString();
    auto reg = openRegister();
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->tests(QStringLiteral("C-1")).value().size(), std::size_t(3 * kFilings));
    EXPECT_EQ(reg->list().value().at(0).tests, 3 * kFilings);
}

INSTANTIATE_TEST_SUITE_P(Both, RegisterTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::Sqlite ? std::string("Sqlite")
                                                                  : std::string("Postgresql");
                         });

TEST(RegisterFaults, ADamagedOrMissingDatabaseGivesAMessageNamingIt) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString garbage = folder.filePath(QStringLiteral("garbage.sqlite"));
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, '\x5a'));
    }
    const QString truncated = folder.filePath(QStringLiteral("cut.sqlite"));
    {
        // A register's first page, cut off and overwritten half way.
        auto reg = AssetRegister::open(parseDatabaseUrl(truncated).value());
        ASSERT_TRUE(reg.ok());
        ASSERT_TRUE(reg.value()->addAsset(makeAsset(QStringLiteral("T"))).ok());
    }
    {
        QFile f(truncated);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(16);
        f.write(QByteArray(200, '\xff'));
    }
    struct Case {
        QString url;
        const char* part;
    };
    const Case cases[] = {
        {garbage, "garbage.sqlite"},
        {truncated, "cut.sqlite"},
        {folder.path(), "folder"},
        {QStringLiteral("postgresql://nobody@/none?host=") + folder.path(), "Cannot reach"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const Result<std::unique_ptr<AssetRegister>> r =
            AssetRegister::open(parseDatabaseUrl(c.url).value());
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(r.error().contains(QString::fromUtf8(c.part))) << r.error().toStdString();
    }
}

TEST(RegisterFaults, ALockedFileGivesAMessageAfterTheWaitAndWorksAfterwards) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("locked.sqlite"));
    auto reg = AssetRegister::open(parseDatabaseUrl(path).value());
    ASSERT_TRUE(reg.ok()) << reg.error().toStdString();
    {
        // Another program in the middle of a long change.
        QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery q(other);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        const Result<Asset> blocked = reg.value()->addAsset(makeAsset(QStringLiteral("L-1")));
        ASSERT_FALSE(blocked.ok());
        EXPECT_TRUE(blocked.error().contains(path)) << blocked.error().toStdString();
        EXPECT_TRUE(blocked.error().contains(QStringLiteral("locked")))
            << blocked.error().toStdString();
        EXPECT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    EXPECT_TRUE(reg.value()->addAsset(makeAsset(QStringLiteral("L-1"))).ok());
}

TEST(RegisterFaults, AServerThatGoesAwayLeavesNothingHalfFiled) {
    ASSERT_TRUE(PostgresEnvironment::instance->ensureStarted().ok());
    test::PostgresServer& server = PostgresEnvironment::instance->server();
    const Result<QString> url = server.newDatabase();
    ASSERT_TRUE(url.ok()) << url.error().toStdString();
    const DatabaseLocation location = parseDatabaseUrl(url.value()).value();
    auto reg = AssetRegister::open(location);
    ASSERT_TRUE(reg.ok()) << reg.error().toStdString();
    ASSERT_TRUE(reg.value()->addAsset(makeAsset(QStringLiteral("G-1"))).ok());
    ASSERT_TRUE(server.stop().ok());
    const Result<FilingOutcome> r = reg.value()->fileTests(
        QStringLiteral("G-1"), {makeTest(QStringLiteral("g"), 1, QDate(2024, 1, 1), 5 * M),
                                makeTest(QStringLiteral("g"), 2, QDate(2024, 1, 1), 5 * M)});
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains(location.shown())) << r.error().toStdString();
    const Result<std::unique_ptr<AssetRegister>> closed = AssetRegister::open(location);
    ASSERT_FALSE(closed.ok());
    EXPECT_TRUE(closed.error().contains(QStringLiteral("Cannot reach")));

    ASSERT_TRUE(PostgresEnvironment::instance->ensureStarted().ok());
    auto again = AssetRegister::open(location);
    ASSERT_TRUE(again.ok()) << again.error().toStdString();
    EXPECT_TRUE(again.value()->tests(QStringLiteral("G-1")).value().empty());
}

} // namespace
} // namespace kx
