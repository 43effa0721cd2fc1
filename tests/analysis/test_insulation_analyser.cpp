#include "analysis/insulation_analyser.h"
#include "readings/reading_quantity.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"
#include "support/table_files.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace kx;
using kxtest::absorption;
using kxtest::curveRows;
using kxtest::everyMs;
using kxtest::failsWith;
using kxtest::kGOhm;
using kxtest::kIr2500;
using kxtest::kIr500;
using kxtest::kMOhm;
using kxtest::kOhmSign;
using kxtest::Row;
using kxtest::storeOf;

namespace {

std::vector<InsulationResult> testsOf(const std::vector<Row>& rows, const ResultSettings& s = {}) {
    Result<std::vector<InsulationResult>> r = findInsulationTests(storeOf(rows), s);
    EXPECT_TRUE(r.ok()) << r.error().toStdString();
    return r.ok() ? r.take() : std::vector<InsulationResult>{};
}

// The value the meter showed for the reading at `s` seconds, as a number.
double shown(double s) {
    auto [value, unit] = kxtest::meterText(absorption(s));
    return *readingQuantity(value, unit).base;
}

std::vector<Row> appended(std::vector<Row> a, const std::vector<Row>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A steady reading of `ohms` every second for `seconds`.
std::vector<Row> steady(double ohms, int seconds, std::int64_t startMs, std::int64_t firstNo,
                        const std::string& mode = "Timed", const std::string& function = kIr500) {
    return curveRows(
        everyMs(1000, seconds * 1000LL), [&](double) { return ohms; }, startMs, firstNo, mode,
        function);
}

} // namespace

// A scaled reading is the binary number nearest to the decimal the meter showed, so that
// exports print 1001 for "1.001" kΩ, not 1000.9999999999999: `base` is that number written out
// in base units and compared exactly.
TEST(ReadingQuantity, ValuesAndUnitsAsNumbers) {
    using K = QuantityKind;
    const std::string kOhm = "k" + kOhmSign, tOhm = "T" + kOhmSign;
    const struct {
        std::string value, unit;
        QuantityKind kind;
        const char* base; // nullptr: no number
    } cases[] = {
        {"941.5", kMOhm, K::Resistance, "9.415e8"},
        {"1.234", kGOhm, K::Resistance, "1.234e9"},
        {"12.5", kOhm, K::Resistance, "12.5e3"},
        {"3.2", tOhm, K::Resistance, "3.2e12"},
        {"0.500", kOhmSign, K::Resistance, "0.5"},
        {" 42 ", " M" + kOhmSign + " ", K::Resistance, "42e6"},
        {"7", "M\xCE\xA9", K::Resistance, "7e6"}, // typed in UTF-8
        {"-1.0", kMOhm, K::Resistance, "-1e6"},
        {"1.001", kOhm, K::Resistance, "1.001e3"},
        {"1.001", kMOhm, K::Resistance, "1.001e6"},
        {"1.001", kGOhm, K::Resistance, "1.001e9"},
        {"4.35", tOhm, K::Resistance, "4.35e12"},
        {"+1.001", kOhm, K::Resistance, "1001"},
        {"-1.001", kMOhm, K::Resistance, "-1001000"},
        {" 0.07 ", kGOhm, K::Resistance, "7e7"},
        {".5", kMOhm, K::Resistance, "5e5"},
        {"5.", kGOhm, K::Resistance, "5e9"},
        {"230.4", "V", K::Voltage, "230.4"},
        {"-10", "V", K::Voltage, "-10"},
        {"12", "mV", K::Voltage, "12"}, // as it stands
        {"3.5", "A", K::Other, "3.5"},
        {"3.5", "", K::Other, "3.5"},
        {"3.5", "X" + kOhmSign, K::Other, "3.5"},
        {"", kMOhm, K::Resistance, nullptr},
        {"----", kGOhm, K::Resistance, nullptr},
        {"L0.20", kGOhm, K::Resistance, nullptr},
        {"0L", kMOhm, K::Resistance, nullptr},
        {"L", "V", K::Voltage, nullptr},
        {"1.2.3", kMOhm, K::Resistance, nullptr},
        {std::string(299, '9'), tOhm, K::Resistance, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value + ' ' + c.unit);
        const ReadingQuantity q = readingQuantity(c.value, c.unit);
        EXPECT_EQ(q.kind, c.kind);
        ASSERT_EQ(q.base.has_value(), c.base != nullptr);
        if (c.base) {
            EXPECT_EQ(*q.base, std::strtod(c.base, nullptr));
        }
    }
}

TEST(InsulationResults, TestVoltageFromTheFunction) {
    EXPECT_EQ(testVoltageOf(kIr2500), 2500);
    EXPECT_EQ(testVoltageOf(kIr500), 500);
    EXPECT_EQ(testVoltageOf("IR:5000V 1000G" + kOhmSign), 5000);
    EXPECT_EQ(testVoltageOf("DCV  600V"), std::nullopt);
    EXPECT_EQ(testVoltageOf("IR:"), std::nullopt);
    EXPECT_EQ(testVoltageOf("IR:V"), std::nullopt);
    EXPECT_EQ(testVoltageOf("IR:99999999999"), std::nullopt);
}

TEST(InsulationResults, KnownCurveWithExactSamples) {
    const auto tests = testsOf(curveRows(everyMs(500, 602'000), absorption));
    ASSERT_EQ(tests.size(), 1u);
    const InsulationResult& t = tests[0];
    EXPECT_EQ(t.test, 1);
    EXPECT_EQ(t.mode, "PI");
    EXPECT_EQ(t.function, kIr2500);
    EXPECT_EQ(t.testVoltage, 2500);
    EXPECT_EQ(t.first, 1);
    EXPECT_EQ(t.last, 1205);
    EXPECT_EQ(t.startMs, 36'000'000);
    EXPECT_DOUBLE_EQ(t.duration, 602);
    // Readings exactly at the marks are used as they are.
    EXPECT_DOUBLE_EQ(*t.r15, shown(15));
    EXPECT_DOUBLE_EQ(*t.r30, shown(30));
    EXPECT_DOUBLE_EQ(*t.r60, shown(60));
    EXPECT_DOUBLE_EQ(*t.r600, shown(600));
    EXPECT_DOUBLE_EQ(*t.dar, shown(60) / shown(30));
    EXPECT_DOUBLE_EQ(*t.dar15, shown(60) / shown(15));
    EXPECT_DOUBLE_EQ(*t.pi, shown(600) / shown(60));
    EXPECT_NEAR(*t.pi, 2.49, 0.02);
    EXPECT_EQ(t.verdict, Verdict::Pass);
}

TEST(InsulationResults, KnownCurveWithJitteredTimes) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(-180, 180);
    std::vector<std::int64_t> times;
    for (std::int64_t t = 0; t <= 603'000; t += 500)
        times.push_back(t == 0 ? 0 : t + jitter(rng));
    const auto tests = testsOf(curveRows(times, absorption));
    ASSERT_EQ(tests.size(), 1u);
    const InsulationResult& t = tests[0];
    for (auto [got, mark] : {std::pair{t.r15, 15}, {t.r30, 30}, {t.r60, 60}, {t.r600, 600}}) {
        ASSERT_TRUE(got.has_value()) << mark;
        EXPECT_NEAR(*got / absorption(mark), 1.0, 0.003) << mark;
    }
    EXPECT_NEAR(*t.pi, absorption(600) / absorption(60), 0.01);
    EXPECT_NEAR(*t.dar, absorption(60) / absorption(30), 0.01);
}

TEST(InsulationResults, InterpolatesOnlyWithinTwoSecondsOfTheMark) {
    const auto ramp = [](double s) { return (100 + s) * 1e6; }; // 1 MΩ a second
    // Readings every 4 s at the meter's pace (the meter paused, nothing was left out), none at
    // 30 s: 28 and 32 are 2 s away, so R30 is their midpoint.
    auto t1 = findInsulationTests(storeOf(curveRows(everyMs(4000, 64'000), ramp)), {}, false,
                                  RecordingRules{})
                  .value();
    ASSERT_EQ(t1.size(), 1u);
    EXPECT_DOUBLE_EQ(*t1[0].r30, 130e6);
    EXPECT_DOUBLE_EQ(*t1[0].r60, 160e6); // 60 is a sample
    EXPECT_FALSE(t1[0].r15.has_value()) << "the reading before 15 s is 3 s away";
    // Numbers only at 12.5, 17.5, 27.5 and 32.5 s, dashes between: the marks are 2.5 s from
    // the nearest numbers on each side.
    std::vector<Row> rows = curveRows(everyMs(500, 40'000), ramp);
    for (Row& r : rows) {
        const std::int64_t ms = r.ms - rows[0].ms;
        if (ms != 0 && ms != 12'500 && ms != 17'500 && ms != 27'500 && ms != 32'500)
            r.value = "----";
    }
    auto t2 = testsOf(rows);
    ASSERT_EQ(t2.size(), 1u);
    EXPECT_FALSE(t2[0].r15.has_value());
    EXPECT_FALSE(t2[0].r30.has_value());
}

TEST(InsulationResults, AutoRangingFromMegohmsToGigohmsStaysOneTest) {
    std::vector<Row> rows =
        curveRows(everyMs(1000, 70'000), [](double s) { return 700e6 + 10e6 * s; });
    // The meter changes range at 1000 MΩ: 29 s shows MΩ, 31 s shows GΩ.
    ASSERT_EQ(rows[29].unit, kMOhm);
    ASSERT_EQ(rows[31].unit, kGOhm);
    rows.erase(rows.begin() + 30); // no sample at 30 s
    const auto tests = testsOf(rows);
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_DOUBLE_EQ(*tests[0].r30, 1.0e9);
    EXPECT_DOUBLE_EQ(*tests[0].r60, 1.3e9);
    EXPECT_DOUBLE_EQ(*tests[0].dar, 1.3);
}

TEST(InsulationResults, BlankReadingsInsideATestBelongToIt) {
    std::vector<Row> rows = curveRows(everyMs(500, 70'000), absorption);
    // Dashes, an overload and empty values inside the run.
    rows[20].value = "----";
    rows[40].value = "L0.20";
    rows[41].value = "";
    rows[42].value = "";
    rows[120].value = "----"; // exactly at 60 s: R60 comes from 59.5 s and 60.5 s
    const auto tests = testsOf(rows);
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0].first, 1);
    EXPECT_EQ(tests[0].last, 141);
    EXPECT_DOUBLE_EQ(*tests[0].r60, (shown(59.5) + shown(60.5)) / 2);

    // A blank record of another mode is the dial moved: it ends the run.
    std::vector<Row> moved = rows;
    moved[42].mode = "Continuous";
    const auto split = testsOf(moved);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0].last, 42);
    EXPECT_EQ(split[1].first, 44);

    // Blanks across the whole window around 60 s: no R60, and so no verdict.
    for (int i = 115; i <= 125; ++i)
        rows[static_cast<std::size_t>(i)].value = "----";
    const auto gap = testsOf(rows);
    ASSERT_EQ(gap.size(), 1u);
    EXPECT_FALSE(gap[0].r60.has_value());
    EXPECT_FALSE(gap[0].dar.has_value());
    EXPECT_EQ(gap[0].verdict, Verdict::Inconclusive);
    EXPECT_TRUE(gap[0].reasons.join(' ').contains("within 2 s"));
}

TEST(InsulationResults, TestsAreSplitByGapsTimeModeFunctionAndVoltageChecks) {
    const std::int64_t t0 = 36'000'000;
    struct Case {
        const char* what;
        std::vector<Row> rows;
        std::size_t tests;
    };
    std::vector<Row> gapOver =
        appended(steady(200e6, 20, t0, 1), steady(200e6, 20, t0 + 25'001, 22));
    std::vector<Row> gapOf5 =
        appended(steady(200e6, 20, t0, 1), steady(200e6, 20, t0 + 25'000, 22));
    std::vector<Row> back = appended(steady(200e6, 20, t0, 1), steady(200e6, 20, t0 + 19'000, 22));
    std::vector<Row> mode =
        appended(steady(200e6, 20, t0, 1), steady(200e6, 20, t0 + 21'000, 22, "Continuous"));
    std::vector<Row> function =
        appended(steady(200e6, 20, t0, 1), steady(200e6, 20, t0 + 21'000, 22, "Timed", kIr2500));
    std::vector<Row> voltage = steady(200e6, 40, t0, 1);
    voltage[20].value = "12.6";
    voltage[20].unit = "V";
    std::vector<Row> noTime = steady(200e6, 40, t0, 1);
    noTime[20].ms = -1;
    const std::vector<Case> cases = {
        {"a gap over 5 s", gapOver, 2},         {"a gap of exactly 5 s", gapOf5, 1},
        {"time going back", back, 2},           {"another mode", mode, 2},
        {"another function", function, 2},      {"a voltage check between", voltage, 2},
        {"a record without a time", noTime, 2},
    };
    for (const Case& c : cases) {
        const auto tests = testsOf(c.rows);
        EXPECT_EQ(tests.size(), c.tests) << c.what;
        if (tests.size() == 2) {
            EXPECT_EQ(tests[1].test, 2) << c.what;
            EXPECT_GT(tests[1].first, tests[0].last) << c.what;
        }
    }
}

// The pause that ends a test follows the recording's rules: the interval plus 5 s, the
// readings' own pace when the rules are not known, no pause at all under Repeat unticked.
TEST(InsulationResults, PausesUnderTheRecordingRules) {
    const std::int64_t t0 = 36'000'000;
    // Readings every `stepMs` for 100 s, a pause of `pauseMs`, and 100 s more.
    auto paused = [&](std::int64_t stepMs, std::int64_t pauseMs) {
        auto first = curveRows(
            everyMs(stepMs, 100'000), [](double) { return 200e6; }, t0);
        auto second = curveRows(
            everyMs(stepMs, 100'000), [](double) { return 300e6; }, t0 + 100'000 + pauseMs,
            first.back().no + 1);
        return appended(first, second);
    };
    const RecordingRules every10{10, true};
    const RecordingRules noRepeat{std::nullopt, false};
    struct Case {
        const char* what;
        std::vector<Row> rows;
        std::optional<RecordingRules> rules;
        std::size_t tests;
        std::optional<double> r60; // of the first test
    };
    const std::vector<Case> cases = {
        {"every 10 s, a pause of 15 s", paused(10'000, 15'000), every10, 1, 200e6},
        {"every 10 s, a pause of 15.001 s", paused(10'000, 15'001), every10, 2, std::nullopt},
        {"10 s apart without rules", paused(10'000, 15'000), std::nullopt, 1, 200e6},
        {"10 s apart without rules, 15.001 s", paused(10'000, 15'001), std::nullopt, 2,
         std::nullopt},
        // Held from 50 s to 140 s: R60 is the value recorded before the pause.
        {"Repeat unticked, held across 1 min", paused(50'000, 40'000), noRepeat, 1, 200e6},
        {"time going back under Repeat unticked", paused(500, -150'000), noRepeat, 2, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto found = findInsulationTests(storeOf(c.rows), {}, false, c.rules).value();
        EXPECT_EQ(found.size(), c.tests) << c.what;
        if (c.r60 && !found.empty()) {
            EXPECT_EQ(found[0].r60, c.r60) << c.what;
            EXPECT_EQ(found[0].first, 1) << c.what;
        }
    }
}

TEST(InsulationResults, ShortRunsAndTestsCutShort) {
    const std::int64_t t0 = 36'000'000;
    EXPECT_TRUE(testsOf(steady(200e6, 9, t0, 1)).empty()) << "9 s is not a test";
    EXPECT_EQ(testsOf(steady(200e6, 10, t0, 1)).size(), 1u) << "10 s is";

    const auto cut = testsOf(steady(200e6, 45, t0, 1));
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_DOUBLE_EQ(*cut[0].r15, 200e6);
    EXPECT_DOUBLE_EQ(*cut[0].r30, 200e6);
    EXPECT_FALSE(cut[0].r60.has_value());
    EXPECT_FALSE(cut[0].r600.has_value());
    EXPECT_FALSE(cut[0].pi.has_value());
    EXPECT_EQ(cut[0].verdict, Verdict::Inconclusive);
    EXPECT_TRUE(cut[0].reasons.join(' ').contains("ended after 45 s"))
        << cut[0].reasons.join('|').toStdString();
}

TEST(InsulationResults, VoltageReadingsAloneMakeNoTests) {
    std::vector<Row> rows;
    for (int i = 0; i < 200; ++i)
        rows.push_back({i + 1, 36'000'000 + i * 500, "230.4", "V", "ACV  600V", "Continuous"});
    EXPECT_TRUE(testsOf(rows).empty());
    EXPECT_TRUE(testsOf({}).empty());
}

TEST(InsulationResults, TemperatureCorrectionAtBothBases) {
    const auto rows = steady(1e9, 70, 36'000'000, 1);
    struct Case {
        double temperature, base, corrected;
    };
    for (const Case& c :
         {Case{20, 40, 250e6}, Case{40, 40, 1e9}, Case{50, 40, 2e9}, Case{30, 20, 2e9},
          Case{20, 20, 1e9}, Case{15, 20, 1e9 * std::sqrt(0.5)}}) {
        ResultSettings s;
        s.temperature = c.temperature;
        s.baseTemperature = c.base;
        const auto tests = testsOf(rows, s);
        ASSERT_EQ(tests.size(), 1u);
        ASSERT_TRUE(tests[0].r60Corrected.has_value());
        EXPECT_NEAR(*tests[0].r60Corrected, c.corrected, 1) << c.temperature << " to " << c.base;
        EXPECT_EQ(tests[0].temperature, c.temperature);
        EXPECT_EQ(tests[0].baseTemperature, c.base);
    }
    const auto plain = testsOf(rows);
    EXPECT_FALSE(plain[0].r60Corrected.has_value());
    EXPECT_FALSE(plain[0].temperature.has_value());
    EXPECT_EQ(plain[0].baseTemperature, 40);
}

TEST(InsulationResults, EachVerdictRule) {
    struct Case {
        const char* what;
        std::optional<double> r60, pi, temperature;
        double minimum, piMinimum;
        Verdict verdict;
        const char* reason; // words one reason must hold
        double base = 40;
    };
    const double d = 100e6;
    const std::vector<Case> cases = {
        {"no R60", std::nullopt, std::nullopt, std::nullopt, d, 2, Verdict::Inconclusive,
         "No 1-minute resistance"},
        {"R60 below the minimum", 90e6, std::nullopt, std::nullopt, d, 2, Verdict::Fail,
         "below the minimum of 100 M\u03A9"},
        {"R60 at the minimum", 100e6, std::nullopt, std::nullopt, d, 2, Verdict::Pass,
         "meets the minimum of 100 M\u03A9"},
        {"a minimum set higher", 900e6, std::nullopt, std::nullopt, 1e9, 2, Verdict::Fail,
         "below the minimum of 1 G\u03A9"},
        {"corrected below the minimum", 300e6, std::nullopt, 15.0, d, 2, Verdict::Fail,
         "corrected to 40 \u00B0C: 53.03 M\u03A9"},
        {"PI below its minimum", 2e9, 1.5, std::nullopt, d, 2, Verdict::Fail,
         "Polarization index 1.50 is below the minimum of 2.0"},
        {"PI at a minimum set lower", 2e9, 1.5, std::nullopt, d, 1.5, Verdict::Pass,
         "Polarization index 1.50 meets the minimum of 1.5"},
        {"PI not meaningful above 5000 MΩ", 6e9, 1.2, std::nullopt, d, 2, Verdict::Pass,
         "PI not meaningful above 5000 M\u03A9"},
        {"PI judged at exactly 5000 MΩ", 5000e6, 1.2, std::nullopt, d, 2, Verdict::Fail,
         "Polarization index 1.20 is below the minimum of 2.0"},
        {"PI not meaningful above 5000 MΩ at 40 °C", 3e9, 1.2, 50.0, d, 2, Verdict::Pass,
         "(the 1-minute resistance at 40 \u00B0C is 6 G\u03A9)"},
        {"PI judged at 40 °C whatever the base", 3e9, 1.5, 40.0, d, 2, Verdict::Fail,
         "Polarization index 1.50 is below the minimum of 2.0", 20},
        {"PI judged on R60 as measured without a temperature", 3e9, 1.5, std::nullopt, d, 2,
         Verdict::Fail, "Polarization index 1.50 is below", 20},
        {"PI and R60 good", 2e9, 2.5, std::nullopt, d, 2, Verdict::Pass,
         "Polarization index 2.50 meets"},
        {"no PI in a short test", 2e9, std::nullopt, std::nullopt, d, 2, Verdict::Pass,
         "less than the 10 minutes"},
    };
    for (const Case& c : cases) {
        InsulationResult r;
        r.r60 = c.r60;
        r.pi = c.pi;
        r.duration = c.pi ? 605 : 65;
        ResultSettings s;
        s.temperature = c.temperature;
        s.minimumOhms = c.minimum;
        s.piMinimum = c.piMinimum;
        s.baseTemperature = c.base;
        judge(r, s);
        EXPECT_EQ(r.verdict, c.verdict) << c.what;
        EXPECT_EQ(r.minimum, c.minimum) << c.what;
        EXPECT_TRUE(r.reasons.join('|').contains(QString::fromUtf8(c.reason)))
            << c.what << ": " << r.reasons.join('|').toStdString();
    }
}

TEST(InsulationResults, LiveAnalysisShowsEachFigureAsSoonAsItIsKnown) {
    const std::vector<Row> rows = curveRows(everyMs(500, 602'000), absorption);
    const RecordStore store = storeOf(rows);
    const ReadingsColumns cols = ReadingsColumns::find(store.fields()).value();
    InsulationAnalyser live;
    EXPECT_FALSE(live.current().has_value());
    for (std::size_t row = 0; row < store.rowCount(); ++row) {
        EXPECT_FALSE(live.add(readingAt(store, cols, row)));
        const std::optional<InsulationResult> now = live.current();
        ASSERT_TRUE(now.has_value());
        const double elapsed = static_cast<double>(row) * 0.5;
        ASSERT_DOUBLE_EQ(now->duration, elapsed);
        ASSERT_EQ(now->r15.has_value(), elapsed >= 15) << elapsed;
        ASSERT_EQ(now->r60.has_value(), elapsed >= 60) << elapsed;
        ASSERT_EQ(now->dar.has_value(), elapsed >= 60) << elapsed;
        ASSERT_EQ(now->pi.has_value(), elapsed >= 600) << elapsed;
    }
    EXPECT_TRUE(live.tests().empty()) << "the test is still running";
    EXPECT_TRUE(live.finish());
    ASSERT_EQ(live.tests().size(), 1u);
    const auto batch = findInsulationTests(store).value();
    EXPECT_EQ(insulationResultJson(live.tests()[0]), insulationResultJson(batch[0]));

    // New settings re-judge what is known.
    ResultSettings strict;
    strict.piMinimum = 3;
    live.setSettings(strict);
    EXPECT_EQ(live.tests()[0].verdict, Verdict::Fail);
}

TEST(InsulationResults, ATestGoesOnPastMidnight) {
    std::vector<Row> rows = steady(200e6, 70, 86'400'000 - 30'000, 1);
    for (Row& r : rows)
        r.ms %= 86'400'000;
    const auto tests = testsOf(rows);
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_DOUBLE_EQ(tests[0].duration, 70);
    EXPECT_DOUBLE_EQ(*tests[0].r60, 200e6);
    EXPECT_EQ(startText(tests[0].startMs), "23:59:30.000");
}

TEST(InsulationResults, RecordsAreTakenInNumberOrder) {
    std::vector<Row> rows = curveRows(everyMs(500, 70'000), absorption);
    const QJsonObject ordered = insulationResultJson(testsOf(rows).at(0));
    std::mt19937 rng(3);
    std::shuffle(rows.begin(), rows.end(), rng);
    const auto shuffled = testsOf(rows);
    ASSERT_EQ(shuffled.size(), 1u);
    EXPECT_EQ(insulationResultJson(shuffled[0]), ordered);
}

TEST(InsulationResults, JsonHasEveryFieldAndNulls) {
    ResultSettings s;
    s.temperature = 25;
    auto tests = testsOf(steady(200e6, 45, 45'296'789, 7), s);
    ASSERT_EQ(tests.size(), 1u);
    const QJsonObject o = insulationResultJson(tests[0]);
    const QStringList keys =
        QStringLiteral("test mode function testVoltage first last start duration r15 r30 r60 "
                       "r600 dar dar15 pi temperature baseTemperature r60Corrected minimum "
                       "verdict reasons")
            .split(QLatin1Char(' '));
    QStringList sortedKeys = keys;
    sortedKeys.sort();
    EXPECT_EQ(o.keys(), sortedKeys);
    EXPECT_EQ(o["test"].toInt(), 1);
    EXPECT_EQ(o["mode"].toString(), "Timed");
    EXPECT_EQ(o["function"].toString(), QString::fromUtf8("IR:500V 20G\u03A9"));
    EXPECT_EQ(o["testVoltage"].toInt(), 500);
    EXPECT_EQ(o["first"].toInt(), 7);
    EXPECT_EQ(o["last"].toInt(), 52);
    EXPECT_EQ(o["start"].toString(), "12:34:56.789");
    EXPECT_EQ(o["duration"].toDouble(), 45);
    EXPECT_EQ(o["r15"].toDouble(), 200e6);
    for (const char* k : {"r60", "r600", "dar", "pi", "r60Corrected"})
        EXPECT_TRUE(o[k].isNull()) << k;
    EXPECT_EQ(o["temperature"].toDouble(), 25);
    EXPECT_EQ(o["baseTemperature"].toDouble(), 40);
    EXPECT_EQ(o["minimum"].toDouble(), 100e6);
    EXPECT_EQ(o["verdict"].toString(), "inconclusive");
    EXPECT_FALSE(o["reasons"].toArray().isEmpty());
}

TEST(InsulationResults, FieldsOfBothTablesAndOfOtherTables) {
    EXPECT_TRUE(ReadingsColumns::find(readingsFields()).ok());
    const auto stored = ReadingsColumns::find(readingsFields(true));
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value().no, 0);
    auto noUnit = readingsFields();
    noUnit.erase(noUnit.begin() + 3);
    const auto missing = ReadingsColumns::find(noUnit);
    ASSERT_TRUE(failsWith(missing, "\"Unit\""));
    auto longTime = readingsFields();
    longTime[1].type = px::FieldType::Long;
    EXPECT_FALSE(ReadingsColumns::find(longTime).ok());
}

TEST(InsulationResults, TablesOfOtherProgramsAreNoReadingsTables) {
    KX_NEED_FIXTURES();
    // Copies: opening a table locks it, and the fixtures may be read-only.
    QTemporaryDir dir;
    QDirIterator it(fixturesDir(), {QStringLiteral("*.db")}, QDir::Files);
    int opened = 0;
    while (it.hasNext()) {
        const QString copy = dir.filePath(QFileInfo(it.next()).fileName());
        ASSERT_TRUE(QFile::copy(it.filePath(), copy));
        ReadingsTable t;
        t.setTableName(copy);
        if (!t.open())
            continue;
        ++opened;
        const auto r = findInsulationTests(t.records());
        EXPECT_FALSE(r.ok()) << "not a readings table";
        EXPECT_FALSE(r.error().isEmpty());
    }
    EXPECT_GT(opened, 0);
}

TEST(InsulationResults, DamagedValuesDoNotHurt) {
    // Every field of a readings table holding what damage leaves.
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<Row> rows;
    const std::vector<std::string> texts = {
        "",    "----",         "L",   "9999", "1e308", "-0",   "0.0", "nan", kMOhm,
        kGOhm, "T" + kOhmSign, "IR:", "PI",   "V",     kIr2500};
    for (int i = 0; i < 5000; ++i) {
        Row r;
        r.no = byte(rng) < 16 ? -byte(rng) : i;
        r.ms = byte(rng) < 8 ? -1 : (i * 500 + byte(rng) * 97) % 90'000'000;
        auto pick = [&] {
            if (byte(rng) < 40) {
                std::string junk(static_cast<std::size_t>(byte(rng) % 12), '\0');
                for (char& c : junk)
                    c = static_cast<char>(byte(rng));
                return junk;
            }
            return texts[static_cast<std::size_t>(byte(rng)) % texts.size()];
        };
        r.value = pick();
        r.unit = pick();
        r.function = pick();
        r.mode = pick();
        rows.push_back(r);
    }
    const auto tests = testsOf(rows);
    for (const InsulationResult& t : tests) {
        EXPECT_GE(t.duration, 10);
        for (const auto& v : {t.r15, t.r30, t.r60, t.r600, t.dar, t.dar15, t.pi})
            EXPECT_TRUE(!v || std::isfinite(*v));
        EXPECT_FALSE(t.reasons.isEmpty());
    }
}

TEST(InsulationResults, FieldsOfOtherTypes) {
    using T = px::FieldType;
    // Times as timestamps (a date and a time) and numbers as Number fields: read alike.
    std::vector<px::FieldDef> fields = {{"No", T::Number, 8},      {"Time", T::Timestamp, 8},
                                        {"Value", T::Alpha, 16},   {"Unit", T::Alpha, 8},
                                        {"V_Range", T::Alpha, 24}, {"I_Range", T::Alpha, 16}};
    RecordStore s;
    s.reset(fields);
    const double day = 739'000.0 * px::kMsPerDay; // some day in the 2020s
    for (int i = 0; i <= 140; ++i) {
        auto [value, unit] = kxtest::meterText(absorption(i * 0.5));
        s.append({{true, 0, static_cast<double>(i + 1), {}},
                  {true, 0, day + 3'600'000 + i * 500.0, {}},
                  {true, 0, 0, value},
                  {true, 0, 0, unit},
                  {true, 0, 0, kIr2500},
                  {true, 0, 0, "PI"}});
    }
    const auto tests = findInsulationTests(s).value();
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0].last, 141);
    EXPECT_EQ(startText(tests[0].startMs), "01:00:00.000");
    EXPECT_DOUBLE_EQ(*tests[0].r60, shown(60));

    // Fields of types no readings table has, holding anything: no tests, no harm.
    fields = {{"No", T::Number, 8},   {"Time", T::Timestamp, 8}, {"Value", T::Long, 4},
              {"Unit", T::Number, 8}, {"V_Range", T::Date, 4},   {"I_Range", T::Logical, 1}};
    s.reset(fields);
    const double odd[] = {std::nan(""), 1e300, -1e300, -5, 0, 1e18};
    for (int i = 0; i < 60; ++i) {
        const double x = odd[i % 6];
        s.append({{i % 7 != 0, i, x, {}},
                  {true, 0, i % 2 ? x : day + i * 500.0, {}},
                  {true, i * 1000, 0, {}},
                  {true, 0, x, {}},
                  {true, i, 0, {}},
                  {true, i % 2, 0, {}}});
    }
    const auto none = findInsulationTests(s);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().empty());
}

// A stretch the link was down in ends a test when it is longer than the pause that ends one,
// also where the readings' times alone would not (Repeat unticked records no repeats).
TEST(InsulationResults, LinkGapsEndTests) {
    const std::int64_t t0 = 36'000'000; // 10:00
    // A reading every second for 100 s, none for `pauseMs`, 100 s more.
    auto paused = [&](std::int64_t pauseMs) {
        auto first = steady(200e6, 100, t0, 1);
        return appended(first, steady(300e6, 100, t0 + 100'000 + pauseMs, first.back().no + 1));
    };
    // The link down from `afterMs` past the last reading until half a second before the next.
    auto downFor = [&](std::int64_t pauseMs, std::int64_t afterMs = 500) {
        return std::vector<LinkGap>{
            {QTime::fromMSecsSinceStartOfDay(static_cast<int>(t0 + 100'000 + afterMs)),
             QTime::fromMSecsSinceStartOfDay(static_cast<int>(t0 + 99'500 + pauseMs)),
             QStringLiteral("silent")}};
    };
    const RecordingRules noRepeat{std::nullopt, false};
    const RecordingRules every10{10, true};
    struct Case {
        const char* what;
        std::int64_t pauseMs;
        std::optional<RecordingRules> rules;
        std::vector<LinkGap> gaps;
        std::size_t tests;
        double firstDuration; // s
    };
    const std::vector<Case> cases = {
        {"Repeat unticked, no gap kept: one test", 30'000, noRepeat, {}, 1, 230},
        // The value held until the link went down.
        {"Repeat unticked, the link down 29 s", 30'000, noRepeat, downFor(30'000), 2, 100.5},
        {"Repeat unticked, lost a moment before the last reading", 30'000, noRepeat,
         downFor(30'000, -500), 2, 100},
        {"Repeat unticked, the link down 3 s", 4'000, noRepeat, downFor(4'000), 1, 204},
        {"every 10 s, the link down 13 s", 14'000, every10, downFor(14'000), 1, 214},
        {"every 10 s, the link down 16 s", 17'000, every10, downFor(17'000), 2, 100},
        {"no rules, the link down 3 s", 4'000, std::nullopt, downFor(4'000), 1, 204},
        {"a gap elsewhere", 30'000, noRepeat,
         std::vector<LinkGap>{{QTime(12, 0), QTime(12, 5), {}}}, 1, 230},
    };
    for (const Case& c : cases) {
        const auto found =
            findInsulationTests(storeOf(paused(c.pauseMs)), {}, false, c.rules, c.gaps).value();
        ASSERT_EQ(found.size(), c.tests) << c.what;
        EXPECT_DOUBLE_EQ(found[0].duration, c.firstDuration) << c.what;
        if (c.tests == 2) {
            EXPECT_EQ(found[1].first, 102) << c.what;
        }
    }
}
