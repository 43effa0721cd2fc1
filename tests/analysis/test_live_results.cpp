#include "analysis/insulation_curve.h"
#include "analysis/live_results.h"
#include "analysis/results_model.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/wait_for.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace kx;
using kxtest::absorption;
using kxtest::addRow;
using kxtest::curveRows;
using kxtest::everyMs;
using kxtest::kIr500;
using kxtest::Row;

namespace {

// A PI test of 10 min 3 s, then after a pause a 70 s timed test at 500 V: what a technician
// records in a morning.
std::vector<Row> morning() {
    std::vector<Row> rows = curveRows(everyMs(500, 603000), absorption);
    const std::int64_t next = rows.back().ms + 30000;
    const auto dar = curveRows(
        everyMs(1000, 70000), [](double s) { return 300e6 + 2e6 * s; }, next, rows.back().no + 1,
        "Timed", kIr500);
    rows.insert(rows.end(), dar.begin(), dar.end());
    return rows;
}

std::vector<InsulationResult> wholeTable(const ReadingsTable& t, const ResultSettings& s = {}) {
    Result<std::vector<InsulationResult>> r = findInsulationTests(t.records(), s);
    EXPECT_TRUE(r.ok());
    return r.ok() ? r.take() : std::vector<InsulationResult>{};
}

void expectSameTests(TestResults& live, const std::vector<InsulationResult>& whole) {
    ASSERT_EQ(live.count(), static_cast<int>(whole.size()));
    for (int i = 0; i < live.count(); ++i)
        EXPECT_EQ(insulationResultJson(live.test(i)),
                  insulationResultJson(whole[static_cast<std::size_t>(i)]))
            << i;
}

// Counts a signal's emissions and keeps the last one's text argument.
struct Spy {
    template <typename Sender, typename Signal> Spy(Sender* sender, Signal signal) {
        QObject::connect(sender, signal, &context, [this](auto... args) {
            ++n;
            ((last = QVariant::fromValue(args)), ...);
        });
    }
    int count() const { return n; }
    void clear() { n = 0; }
    int n = 0;
    QVariant last;
    QObject context; // the connection goes with the spy
};

struct LiveTable : ::testing::Test {
    ReadingsTable table;
    TestResults results{table, QString()};

    LiveTable() { table.openScratch(readingsFields()); }
};

} // namespace

TEST_F(LiveTable, ReadingsAsTheyComeGiveTheWholeTablesTests) {
    const std::vector<Row> rows = morning();
    std::size_t i = 0;
    auto feedTo = [&](double seconds) {
        while (i < rows.size() && rows[i].ms - rows[0].ms <= seconds * 1000)
            addRow(table, rows[i++]);
        results.flush();
    };
    // Before 10 s the run is not a test yet; its figures are there all the same.
    feedTo(8);
    EXPECT_EQ(results.count(), 0);
    ASSERT_TRUE(results.current());
    EXPECT_NEAR(results.current()->duration, 8, 0.01);
    feedTo(14);
    ASSERT_EQ(results.count(), 1);
    EXPECT_TRUE(results.isRunning(0));
    EXPECT_FALSE(results.test(0).r15) << "not known before 15 s";
    feedTo(16);
    EXPECT_TRUE(results.test(0).r15);
    EXPECT_FALSE(results.test(0).r60);
    feedTo(61);
    EXPECT_TRUE(results.test(0).r60 && results.test(0).dar);
    EXPECT_FALSE(results.test(0).pi);
    feedTo(601);
    ASSERT_TRUE(results.test(0).pi);
    EXPECT_NEAR(*results.test(0).pi, absorption(600) / absorption(60), 0.01);
    EXPECT_TRUE(results.isRunning(0));

    feedTo(1e9);
    // The second test is the one in progress: the meter may still add to it.
    ASSERT_EQ(results.count(), 2);
    EXPECT_FALSE(results.isRunning(0));
    EXPECT_TRUE(results.isRunning(1));
    expectSameTests(results, wholeTable(table));
}

TEST_F(LiveTable, ViewsHearOfABurstOnce) {
    Spy tests(&results, &TestResults::testsChanged);
    Spy figures(&results, &TestResults::figuresChanged);
    results.flush();
    tests.clear();
    figures.clear();
    for (const Row& r : curveRows(everyMs(500, 30000), absorption))
        addRow(table, r);
    EXPECT_EQ(figures.count(), 0) << "nothing is signalled while readings come";
    ASSERT_TRUE(kx::test::waitUntil([&] { return figures.count() > 0; }));
    EXPECT_EQ(figures.count(), 1);
    EXPECT_EQ(tests.count(), 1);
    EXPECT_EQ(results.count(), 1);
}

TEST_F(LiveTable, ARemovedRecordOrOneOutOfOrderMeansAWholeWalk) {
    for (const Row& r : curveRows(everyMs(500, 90000), absorption))
        addRow(table, r);
    results.flush();
    ASSERT_EQ(results.count(), 1);
    const std::uint64_t generation = results.generation();

    // Twelve records gone from the middle: a gap of 6.5 s splits the test in two.
    for (int k = 0; k < 12; ++k)
        ASSERT_TRUE(table.deleteRecord(80).ok());
    results.flush();
    EXPECT_NE(results.generation(), generation);
    expectSameTests(results, wholeTable(table));
    EXPECT_EQ(results.count(), 2);

    // A record numbered below the last: the table is taken in `No` order.
    Row early = {50, table.records().intValue(49, 1) + 100, "1.000", kxtest::kGOhm};
    addRow(table, early);
    results.flush();
    expectSameTests(results, wholeTable(table));
}

TEST_F(LiveTable, NewSettingsJudgeEveryTestAgain) {
    for (const Row& r : curveRows(everyMs(500, 90000), absorption))
        addRow(table, r);
    results.flush();
    ASSERT_EQ(results.test(0).verdict, Verdict::Pass);
    Spy figures(&results, &TestResults::figuresChanged);
    ResultSettings s;
    s.minimumOhms = 100e9;
    ASSERT_TRUE(results.setSettings(s).ok());
    EXPECT_EQ(figures.count(), 1);
    EXPECT_EQ(results.test(0).verdict, Verdict::Fail);
    expectSameTests(results, wholeTable(table, s));
    // A table with no file keeps its details in memory only.
    EXPECT_TRUE(results.scratch());
    // Settings out of their limits are refused and change nothing.
    s.baseTemperature = 30;
    EXPECT_FALSE(results.setSettings(s).ok());
    EXPECT_EQ(results.settings().baseTemperature, 40);
}

TEST(TestResultsFiles, AUsersTableBringsItsDetailsAndKeepsThemCurrent) {
    QTemporaryDir dir;
    const QString scratchPath = dir.filePath(QStringLiteral("Pw60bdb.DB"));
    const QString user = dir.filePath(QStringLiteral("motor.db"));
    {
        ReadingsTable t;
        t.openScratch(readingsFields());
        for (const Row& r : curveRows(everyMs(500, 90000), absorption))
            addRow(t, r);
        ASSERT_TRUE(SaveToDB(t, user, ExportKind::Live).ok());
        ReadingsTable empty;
        empty.openScratch(readingsFields());
        ASSERT_TRUE(SaveToDB(empty, scratchPath, ExportKind::Live).ok());
    }
    TestDetails stored;
    stored.asset = QStringLiteral("Pump motor 3");
    stored.settings.minimumOhms = 100e9; // the motor's own minimum: it fails
    ASSERT_TRUE(writeTestDetails(user, stored).ok());

    ReadingsTable table;
    TestResults results(table, scratchPath);
    Spy details(&results, &TestResults::detailsChanged);
    table.setTableName(user);
    ASSERT_TRUE(table.open().ok());
    // Opened records arrive without a signal each; the next turn of the loop analyses them.
    ASSERT_TRUE(kx::test::waitUntil([&] { return results.count() == 1; }));
    EXPECT_EQ(results.details().asset, QStringLiteral("Pump motor 3"));
    EXPECT_EQ(results.test(0).verdict, Verdict::Fail);
    EXPECT_GE(details.count(), 1);

    // A change goes to the table's file at once.
    TestDetails changed = results.details();
    changed.operatorName = QStringLiteral("J. Doe");
    ASSERT_TRUE(results.setDetails(changed).ok());
    EXPECT_EQ(readTestDetails(user).details.operatorName, QStringLiteral("J. Doe"));

    // Back on the scratch table: the fields go, the settings stay, nothing is written there.
    table.close();
    table.setTableName(scratchPath);
    ASSERT_TRUE(table.open().ok());
    results.flush();
    EXPECT_TRUE(results.details().asset.isEmpty());
    EXPECT_EQ(results.settings().minimumOhms, 100e9);
    changed = results.details();
    changed.asset = QStringLiteral("Feeder 7");
    ASSERT_TRUE(results.setDetails(changed).ok());
    EXPECT_FALSE(QFile::exists(testDetailsPath(scratchPath)));
    EXPECT_TRUE(results.scratch());
}

TEST(TestResultsFiles, ADamagedDetailsFileIsToldOnce) {
    QTemporaryDir dir;
    const QString user = dir.filePath(QStringLiteral("motor.db"));
    {
        ReadingsTable t;
        t.openScratch(readingsFields());
        ASSERT_TRUE(SaveToDB(t, user, ExportKind::Live).ok());
    }
    ASSERT_TRUE(putFile(testDetailsPath(user), "{\"asset\": "));
    ReadingsTable table;
    TestResults results(table, QString());
    Spy problems(&results, &TestResults::detailsProblemFound);
    table.setTableName(user);
    ASSERT_TRUE(table.open().ok());
    results.flush();
    ASSERT_EQ(problems.count(), 1);
    EXPECT_TRUE(problems.last.toString().contains(QLatin1String("damaged")));
    EXPECT_FALSE(results.detailsProblem().isEmpty());
    results.flush();
    EXPECT_EQ(problems.count(), 1);
}

TEST(TestResultsFiles, ATableWithoutReadingsFieldsHasNoTestsAndSaysWhy) {
    ReadingsTable table;
    TestResults results(table, QString());
    table.openScratch({{"Id", px::FieldType::Long, 4}});
    results.flush();
    EXPECT_EQ(results.count(), 0);
    EXPECT_TRUE(results.tableProblem().contains(QLatin1String("No")))
        << results.tableProblem().toStdString();
    table.append();
    ASSERT_TRUE(table.setFieldInt("Id", 1).ok());
    ASSERT_TRUE(table.post().ok());
    results.flush();
    EXPECT_EQ(results.count(), 0);
}

TEST_F(LiveTable, TheListFollowsWithoutStartingOver) {
    TestResultsModel model(results);
    Spy resets(&model, &QAbstractItemModel::modelReset);
    Spy inserts(&model, &QAbstractItemModel::rowsInserted);
    results.flush();
    resets.clear();
    const std::vector<Row> rows = morning();
    for (const Row& r : rows) {
        addRow(table, r);
        if (r.no % 7 == 0)
            results.flush();
    }
    results.flush();
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserts.count(), 2);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(0, TestResultsModel::Mode).data().toString(), QStringLiteral("PI"));
    EXPECT_EQ(model.index(0, TestResultsModel::VerdictColumn).data().toString(),
              QStringLiteral("pass"));
    EXPECT_EQ(model.index(1, TestResultsModel::VerdictColumn).data().toString(),
              QStringLiteral("running"));
    EXPECT_EQ(model.index(0, TestResultsModel::Pi).data().toString(),
              ratioText(*results.test(0).pi));
    EXPECT_EQ(model.index(0, TestResultsModel::Duration).data().toString(),
              QStringLiteral("10:03"));
}

TEST_F(LiveTable, TheCurveOfTheRunningTestGrowsWithIt) {
    const std::vector<Row> rows = curveRows(everyMs(500, 120000), absorption);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        addRow(table, rows[i]);
        if (i % 25 == 24) {
            results.flush();
            if (results.count() == 1) {
                EXPECT_EQ(results.curve(0).size(), i + 1);
            }
        }
    }
    results.flush();
    const std::vector<CurvePoint>& live = results.curve(0);
    const std::vector<CurvePoint> whole =
        testCurve(table.records(), *results.columns(), results.test(0));
    ASSERT_EQ(live.size(), whole.size());
    for (std::size_t i = 0; i < live.size(); ++i) {
        EXPECT_DOUBLE_EQ(live[i].seconds, whole[i].seconds);
        EXPECT_DOUBLE_EQ(live[i].ohms, whole[i].ohms);
    }
    EXPECT_DOUBLE_EQ(live.back().seconds, 120);
}

TEST(TestCurve, OnlyTheTestsOwnReadingsAcrossMidnight) {
    // A test that starts before midnight, with a blank left out, and a voltage check after
    // it that is no part of it.
    std::vector<Row> rows = curveRows(
        everyMs(1000, 40000), [](double s) { return 1e8 + 1e6 * s; }, 86'380'000);
    for (Row& r : rows)
        r.ms %= 86'400'000;
    rows[5].value = "----";
    rows.push_back({rows.back().no + 1, rows.back().ms + 1000, "230.4", "V", "ACV  600V", "PI"});
    const RecordStore store = kxtest::storeOf(rows);
    const auto tests = findInsulationTests(store).value();
    ASSERT_EQ(tests.size(), 1u);
    const auto cols = ReadingsColumns::find(store.fields()).value();
    const std::vector<CurvePoint> c = testCurve(store, cols, tests[0]);
    ASSERT_EQ(c.size(), rows.size() - 2);
    EXPECT_DOUBLE_EQ(c.back().seconds, 40);
    EXPECT_DOUBLE_EQ(c[5].seconds, 6);
}

TEST(TestCurve, LayoutOfAPiTest) {
    std::vector<CurvePoint> points;
    for (int s = 1; s <= 603; ++s)
        points.push_back({double(s), absorption(s)});
    InsulationResult t;
    t.mode = "PI";
    t.duration = 603;
    t.r15 = absorption(15);
    t.r60 = absorption(60);
    t.r600 = absorption(600);
    const TestCurveLayout l = layoutTestCurve(points, t, 300);
    // 0.28 GΩ to 3.8 GΩ: labelled in GΩ from 0.1 to 10, a decade a tick.
    EXPECT_EQ(l.unit, QStringLiteral("G\u03A9"));
    ASSERT_EQ(l.yTicks.size(), 3u);
    EXPECT_EQ(l.yTicks[0].label, QStringLiteral("0.1"));
    EXPECT_EQ(l.yTicks[2].label, QStringLiteral("10"));
    // The axis holds the whole test: 11 minutes, in 2-minute ticks.
    EXPECT_EQ(l.seconds, 660);
    EXPECT_EQ(l.xTicks.back().label, QStringLiteral("10 min"));
    // Every mark is on the axis; the 30 s mark's value is not known.
    ASSERT_EQ(l.marks.size(), 4u);
    EXPECT_FALSE(l.marks[1].y);
    EXPECT_NEAR(l.marks[3].x, 600.0 / 660, 1e-9);
    EXPECT_NEAR(*l.marks[2].y, (std::log10(absorption(60)) - 8) / 2, 1e-9);
    // No more than two points a column.
    EXPECT_LE(l.line.size(), 2u * 300 + 2);
    EXPECT_GE(l.line.size(), 200u);

    // A test in megohms keeps megohms.
    points = {{0, 2e6}, {10, 40e6}, {20, 90e6}};
    t = InsulationResult{};
    t.duration = 20;
    const TestCurveLayout m = layoutTestCurve(points, t, 300);
    EXPECT_EQ(m.unit, QStringLiteral("M\u03A9"));
    EXPECT_EQ(m.yTicks.front().label, QStringLiteral("1"));
    EXPECT_EQ(m.yTicks.back().label, QStringLiteral("100"));
    EXPECT_EQ(m.seconds, 30);
    ASSERT_EQ(m.marks.size(), 2u); // 15 s and 30 s
}

TEST(ResultTexts, AsTheTechnicianReadsThem) {
    EXPECT_EQ(ohmsText(545e6), QString::fromUtf8("545.0 MΩ"));
    EXPECT_EQ(ohmsText(1.23441e9), QString::fromUtf8("1.234 GΩ")); // four figures
    EXPECT_EQ(ohmsText(999.96e6), QString::fromUtf8("1.000 GΩ"));
    EXPECT_EQ(ohmsText(12e3), QString::fromUtf8("12.00 kΩ"));
    EXPECT_EQ(elapsedText(603.4), QStringLiteral("10:03"));
    EXPECT_EQ(elapsedText(3723), QStringLiteral("1:02:03"));
    EXPECT_EQ(celsiusText(31.5), QString::fromUtf8("31.5 °C"));
}

// The live analysis works by the rules the readings are recorded under, and finds the tests
// again when they change while recording: a pause of 12 s ends a test at the meter's pace,
// not at a sampling interval of 10 s.
TEST_F(LiveTable, TheRulesInForceFindTheTestsAgain) {
    const auto flat = [](double) { return 300e6; };
    std::vector<Row> rows = curveRows(everyMs(1000, 30000), flat);
    const auto after = curveRows(everyMs(1000, 30000), flat, rows.back().ms + 12000, 32);
    rows.insert(rows.end(), after.begin(), after.end());
    const QDateTime began(QDate(2026, 12, 10), QTime(9, 0));
    for (const Row& r : rows) {
        addRow(table, r);
        results.recordedWith(RecordingRules{}, began.addSecs(60));
    }
    results.flush();
    EXPECT_EQ(results.count(), 2);
    ASSERT_TRUE(results.details().recording.has_value());
    EXPECT_EQ(results.details().recording->began, began.addSecs(60));

    results.rulesChanged({10, true});
    results.flush();
    EXPECT_EQ(results.count(), 1);
    EXPECT_EQ(results.details().recording->rules, (RecordingRules{10, true}));
    EXPECT_EQ(results.details().recording->began, began.addSecs(60)) << "the same recording";

    // A table emptied and recorded into again is a new recording; its rules come with its
    // first reading, not before.
    table.close();
    table.openScratch(readingsFields());
    results.rulesChanged({60, false});
    results.flush();
    EXPECT_EQ(results.details().recording->rules, (RecordingRules{10, true}));
    addRow(table, rows[0]);
    results.recordedWith({60, false}, began);
    EXPECT_EQ(results.details().recording->rules, (RecordingRules{60, false}));
    EXPECT_EQ(results.details().recording->began, began);
}
