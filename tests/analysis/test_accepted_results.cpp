// The insulation tests a technician relies on at every recording setting. Each case is what
// the meter sends, recorded under the window's rules (sampling interval, repeat) the way the
// program records it; its tests are worked out from the saved table and its details as
// `results` does, and live as the session and the window do. The two agree, and the figures
// are those expected.
#include "analysis/live_results.h"
#include "display/frame_decoder.h"
#include "link/meter_simulator.h"
#include "paradox/px_oracle.h"
#include "readings/reading_quantity.h"
#include "recording/recording_control.h"
#include "support/reading_rows.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using namespace kx;
using kxtest::absorption;
using kxtest::kIr2500;
using kxtest::kIr500;

namespace {

constexpr std::int64_t kDayMs = 86'400'000;

// One reading as the meter sends it; `ms` counts from the midnight the recording starts after.
struct Frame {
    std::int64_t ms;
    std::string value, unit, function = kIr2500, mode = "PI";
};

// The demo's cycle from its PI test on (or from `fromUs` into it), from 9:00, a frame every
// half second, each taken by the computer's clock up to a quarter second late.
std::vector<Frame> demoFrames(std::optional<std::int64_t> fromUs = std::nullopt) {
    const DemoScript script;
    FrameDecoder dec;
    std::vector<Frame> frames;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> jitter(0, 250);
    for (std::int64_t t = fromUs.value_or(script.stretches().at(1).startUs); t < script.cycleUs();
         t += 500000) {
        const auto frame = script.frameAt(t);
        if (!frame || !dec.ShowDataKx30(frameHex(*frame)).record)
            continue;
        const ReadingTexts& x = dec.readingTexts();
        frames.push_back({9 * 3'600'000 + t / 1000 + jitter(rng), x.ReadingValue, x.UnitText,
                          x.FunctionText, x.ModeText});
    }
    return frames;
}

// A frame every half second from `fromS` to `toS` seconds after `startMs`, showing `ohmsAt`
// the seconds since `zeroS` (before it: dashes).
std::vector<Frame> curveFrames(std::int64_t startMs, double fromS, double toS,
                               const std::function<double(double)>& ohmsAt, double zeroS = 0,
                               const std::string& function = kIr2500,
                               const std::string& mode = "PI") {
    std::vector<Frame> out;
    for (double s = fromS; s <= toS + 1e-9; s += 0.5) {
        const std::int64_t ms = startMs + std::llround(s * 1000);
        if (s < zeroS) {
            out.push_back({ms, "----", kxtest::kGOhm, function, mode});
            continue;
        }
        auto [value, unit] = kxtest::meterText(ohmsAt(s - zeroS));
        out.push_back({ms, value, unit, function, mode});
    }
    return out;
}

std::vector<Frame> joined(std::vector<std::vector<Frame>> parts) {
    std::vector<Frame> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Every `seconds`-th second of the frames from the first on: a recording whose sampling
// interval ran out as the test began.
std::vector<Frame> sampled(const std::vector<Frame>& frames, int seconds) {
    std::vector<Frame> out;
    for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(seconds) * 2)
        out.push_back(frames[i]);
    return out;
}

// Records the frames into `table` as the session does, under the repeat rule, telling `live`
// of each reading and of the rules it came under. Without `tickMs` an interval samples the
// frames (sampled()); with it the interval box is ticked and the one-second timer ticks at
// `tickMs` past each second of the frames' clock, between the frames as they fall due.
void record(const std::vector<Frame>& frames, const RecordingRules& rules, ReadingsTable& table,
            TestResults& live, std::optional<int> tickMs = std::nullopt) {
    ReadingTexts texts;
    RecordingControl control(texts, table);
    control.setRepeat(rules.repeat);
    if (tickMs) {
        control.setIntervalEnabled(true);
        ASSERT_TRUE(control.RecordSITimeChange(QString::number(rules.interval.value_or(0))).ok());
    }
    std::int64_t now = 0;
    control.setTimeOfDay([&] { return static_cast<std::int32_t>(now % kDayMs); });
    const QDateTime began(QDate(2026, 12, 10), QTime(9, 0));
    std::int64_t nextTick =
        frames.empty() ? 0 : frames.front().ms / 1000 * 1000 + tickMs.value_or(0);
    for (const Frame& f : rules.interval && !tickMs ? sampled(frames, *rules.interval) : frames) {
        for (; tickMs && nextTick <= f.ms; nextTick += 1000)
            control.SampInterTimeTimer();
        now = f.ms;
        texts.ReadingValue = f.value;
        texts.UnitText = f.unit;
        texts.FunctionText = f.function;
        texts.ModeText = f.mode;
        if (control.INDataToTable(1))
            live.recordedWith(rules, began);
        else
            live.readingHeld();
    }
    live.flush();
}

std::optional<double> shownOhms(double ohms) {
    auto [value, unit] = kxtest::meterText(ohms);
    return readingQuantity(value, unit).base;
}

std::string jsonText(const InsulationResult& r) {
    return QJsonDocument(insulationResultJson(r)).toJson(QJsonDocument::Compact).toStdString();
}

const InsulationResult* onlyPiTest(const std::vector<InsulationResult>& tests) {
    const InsulationResult* found = nullptr;
    for (const InsulationResult& t : tests) {
        if (t.mode == "PI" && t.duration >= 600) {
            if (found)
                return nullptr;
            found = &t;
        }
    }
    return found;
}

// A curve whose R60 is 3 GΩ and whose PI is 1.5.
double lowPi(double s) {
    return 3e9 * std::pow(std::max(s, 0.5) / 60, std::log10(1.5));
}

// A rise that the meter shows steady from 6 min on, as four digits do on a slow absorption.
double steadyFromSixMinutes(double s) {
    return absorption(std::min(s, 360.0));
}

// A ramp of 10 MΩ a second from 200 MΩ.
double ramp(double s) {
    return 200e6 + 10e6 * s;
}

} // namespace

TEST(AcceptedResults, EveryRecordingSettingAndEveryRuleOfATestsExtent) {
    const std::vector<Frame> demo = demoFrames();
    const std::int64_t nine = 9 * 3'600'000;
    // A timed 500 V test, then at once dashes under PI at 2500 V that lead into a ramp.
    const std::vector<Frame> blankAfterTest =
        joined({curveFrames(nine, 0, 30, ramp, 0, kIr500, "Timed"),
                curveFrames(nine + 30'500, 0, 70, ramp, 1.5)});
    const std::vector<Frame> blankAlone = curveFrames(nine, 0, 70, ramp, 1.5);
    // A PI test at 1000 V with one dashed reading of the 250 V range in its middle.
    const std::string ir1000 = "IR:1000V 40G" + kxtest::kOhmSign;
    const std::string ir250 = "IR:250V 10G" + kxtest::kOhmSign;
    const std::vector<Frame> dialMoved =
        joined({curveFrames(nine, 0, 300, absorption, 0, ir1000),
                {{nine + 300'500, "----", kxtest::kGOhm, ir250, "PI"}},
                curveFrames(nine + 301'000, 0, 342, absorption, 0, ir1000)});
    // What follows a PI test: the meter leaves the PI mode.
    const std::vector<Frame> after = curveFrames(nine + 606'000, 0, 20, ramp, 30, kIr500, "Timed");
    const std::vector<Frame> steadyLog =
        joined({curveFrames(nine, 0, 605, steadyFromSixMinutes), after});

    ResultSettings base20;
    base20.temperature = 40;
    base20.baseTemperature = 20;

    using Check = std::function<void(const std::vector<InsulationResult>&)>;
    auto piWithin1Percent = [](double fullPi) -> Check {
        return [fullPi](const std::vector<InsulationResult>& tests) {
            const InsulationResult* pi = onlyPiTest(tests);
            ASSERT_NE(pi, nullptr) << "one PI test";
            ASSERT_TRUE(pi->pi.has_value());
            EXPECT_NEAR(*pi->pi / fullPi, 1, 0.01) << *pi->pi << " against " << fullPi;
        };
    };
    // The PI of each curve as every reading records it.
    auto fullPi = [](const std::vector<Frame>& frames) {
        ReadingsTable t;
        t.openScratch(readingsFields());
        TestResults live(t, QString());
        record(frames, {}, t, live);
        const auto tests = findInsulationTests(t.records()).value();
        const InsulationResult* pi = onlyPiTest(tests);
        return pi && pi->pi ? *pi->pi : std::nan("");
    };
    const double demoPi = fullPi(demo);
    const double steadyPi = fullPi(steadyLog);
    ASSERT_NEAR(demoPi, 2.5, 0.1);
    ASSERT_NEAR(steadyPi, absorption(360) / absorption(60), 0.01);

    auto leadingBlankBelongs = [](std::size_t index, std::int64_t firstNo) -> Check {
        return [=](const std::vector<InsulationResult>& tests) {
            ASSERT_EQ(tests.size(), index + 1);
            const InsulationResult& t = tests[index];
            EXPECT_EQ(t.first, firstNo) << "the dashes lead into the test";
            EXPECT_EQ(t.r15, shownOhms(ramp(15 - 1.5)));
            EXPECT_EQ(t.r30, shownOhms(ramp(30 - 1.5)));
            EXPECT_EQ(t.r60, shownOhms(ramp(60 - 1.5)));
        };
    };

    struct Case {
        const char* what;
        std::vector<Frame> frames;
        RecordingRules rules;
        ResultSettings settings;
        bool paceAlone; // the readings' own pace gives the same tests without the details
        Check check;
    };
    const std::vector<Case> cases = {
        {"the demo at the meter's pace", demo, {}, {}, true, piWithin1Percent(demoPi)},
        {"the demo every 10 s", demo, {10, true}, {}, true, piWithin1Percent(demoPi)},
        {"the demo every 60 s", demo, {60, true}, {}, true, piWithin1Percent(demoPi)},
        {"the demo with Repeat unticked",
         demo,
         {std::nullopt, false},
         {},
         false,
         piWithin1Percent(demoPi)},
        {"steady readings with Repeat unticked",
         steadyLog,
         {std::nullopt, false},
         {},
         false,
         piWithin1Percent(steadyPi)},
        {"steady readings every 10 s with Repeat unticked",
         steadyLog,
         {10, false},
         {},
         false,
         piWithin1Percent(steadyPi)},
        {"R60 3 GΩ and PI 1.5 at 40 °C judged at base 20",
         joined({curveFrames(nine, 0, 605, lowPi), after}),
         {},
         base20,
         true,
         [](const std::vector<InsulationResult>& tests) {
             ASSERT_EQ(tests.size(), 1u);
             EXPECT_EQ(tests[0].verdict, Verdict::Fail);
             EXPECT_TRUE(tests[0].reasons.join('|').contains(
                 QStringLiteral("Polarization index 1.50 is below the minimum")))
                 << tests[0].reasons.join('|').toStdString();
         }},
        {"a dashed reading of another function splits the test",
         dialMoved,
         {},
         {},
         true,
         [](const std::vector<InsulationResult>& tests) {
             ASSERT_EQ(tests.size(), 2u);
             EXPECT_EQ(tests[0].last, 601);
             EXPECT_EQ(tests[1].first, 603);
             EXPECT_NEAR(*tests[0].dar, absorption(60) / absorption(30), 0.01);
             EXPECT_NEAR(*tests[1].dar, absorption(60) / absorption(30), 0.01);
         }},
        {"dashes lead into the first test", blankAlone, {}, {}, true, leadingBlankBelongs(0, 1)},
        {"dashes lead into a test right after another",
         blankAfterTest,
         {},
         {},
         true,
         leadingBlankBelongs(1, 62)},
        {"a PI test from 23:55",
         joined({curveFrames(kDayMs - 300'000, 0, 605, absorption)}),
         {},
         {},
         true,
         [](const std::vector<InsulationResult>& tests) {
             ASSERT_EQ(tests.size(), 1u);
             EXPECT_EQ(startText(tests[0].startMs), "23:55:00.000");
             EXPECT_DOUBLE_EQ(tests[0].duration, 605);
             ASSERT_TRUE(tests[0].pi.has_value());
             EXPECT_NEAR(*tests[0].pi, absorption(600) / absorption(60), 0.01);
         }},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ReadingsTable table;
        table.openScratch(readingsFields());
        TestResults live(table, QString());
        ASSERT_TRUE(live.setSettings(c.settings).ok());
        record(c.frames, c.rules, table, live);
        ASSERT_TRUE(live.details().recording.has_value());
        EXPECT_EQ(live.details().recording->rules, c.rules);

        // Saved with its details, as Save As does, and worked out as `results` does.
        const QString path = dir.filePath(QStringLiteral("accepted.db"));
        ASSERT_TRUE(SaveToDB(table, path, ExportKind::Live).ok());
        ASSERT_TRUE(writeTestDetails(path, live.details()).ok());
        const Result<TableResults> saved = resultsOfTableFile(path);
        ASSERT_TRUE(saved.ok()) << saved.error().toStdString();
        const std::vector<InsulationResult>& tests = saved.value().tests;
        c.check(tests);

        ASSERT_EQ(live.count(), static_cast<int>(tests.size()));
        for (int i = 0; i < live.count(); ++i)
            EXPECT_EQ(jsonText(live.test(i)), jsonText(tests[static_cast<std::size_t>(i)]))
                << "test " << i + 1;

        if (c.paceAlone) {
            const auto bare = findInsulationTests(table.records(), c.settings).value();
            ASSERT_EQ(bare.size(), tests.size());
            for (std::size_t i = 0; i < bare.size(); ++i)
                EXPECT_EQ(jsonText(bare[i]), jsonText(tests[i]))
                    << "without details, test " << i + 1;
        }
    }
}

// The demo's PI test as another engine writes the table, with a details file that says it was
// recorded every 10 s: the figures lie within 0.5 % of the curve's own.
TEST(AcceptedResults, APiTableWrittenByAnotherEngine) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bypxlib.db"));
    const double startS = 9 * 3600;
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i * 10 <= 610; ++i) {
        const double s = i * 10 + (i % 4) * 0.3; // the computer's clock is a little late
        auto [value, unit] = kxtest::meterText(DemoScript::piTestOhms(std::min(s, 600.0)));
        rows.push_back({std::to_string(i + 1), std::to_string(std::llround((startS + s) * 1000)),
                        value, unit, kIr2500, "PI"});
    }
    std::string error;
    ASSERT_TRUE(pxoracle::write(path, readingsFields(), rows, &error)) << error;
    TestDetails details;
    details.recording = RecordingDetails{{10, true}, {}};
    ASSERT_TRUE(writeTestDetails(path, details).ok());

    const Result<TableResults> found = resultsOfTableFile(path);
    ASSERT_TRUE(found.ok()) << found.error().toStdString();
    ASSERT_EQ(found.value().tests.size(), 1u);
    const InsulationResult& t = found.value().tests[0];
    for (auto [got, mark] : {std::pair{t.r30, 30}, {t.r60, 60}, {t.r600, 600}}) {
        ASSERT_TRUE(got.has_value()) << mark;
        EXPECT_NEAR(*got / DemoScript::piTestOhms(mark), 1, 0.005) << mark;
    }
    ASSERT_TRUE(t.pi.has_value());
    EXPECT_NEAR(*t.pi / (DemoScript::piTestOhms(600) / DemoScript::piTestOhms(60)), 1, 0.005);
}

// The demo's cycle recorded by the real countdown, the recording begun somewhere in the 500 V
// test before the PI test, so that the countdown runs on when the PI test begins: the PI test
// keeps its first and last reading, and its figures are those of every reading recorded.
TEST(AcceptedResults, ThePiTestThroughTheSamplingCountdown) {
    struct Case {
        int interval;
        bool repeat;
        std::int64_t fromMs; // where in the 500 V test the recording begins
        int tickMs;          // the timer's phase against the meter's frames
    };
    const std::vector<Case> cases = {
        {10, true, 0, 0},        {10, true, 3'200, 370},  {10, true, 9'500, 880},
        {60, true, 0, 120},      {60, true, 5'000, 640},  {60, true, 14'000, 990},
        {10, false, 2'000, 450}, {60, false, 7'500, 260},
    };

    auto piTest = [](const ReadingsTable& table, const std::optional<RecordingRules>& rules) {
        const auto tests = findInsulationTests(table.records(), {}, false, rules).value();
        const InsulationResult* pi = onlyPiTest(tests);
        return pi ? std::optional<InsulationResult>(*pi) : std::nullopt;
    };

    for (const Case& c : cases)
        [&] {
            SCOPED_TRACE(testing::Message()
                         << "every " << c.interval << " s, repeat " << c.repeat << ", from "
                         << c.fromMs << " ms, ticks at " << c.tickMs);
            const std::vector<Frame> frames = demoFrames(c.fromMs * 1000);
            ReadingsTable full;
            full.openScratch(readingsFields());
            TestResults fullLive(full, QString());
            record(frames, {}, full, fullLive);
            const std::optional<InsulationResult> truth = piTest(full, std::nullopt);
            ASSERT_TRUE(truth && truth->pi && truth->r60);

            const RecordingRules rules{c.interval, c.repeat};
            ReadingsTable table;
            table.openScratch(readingsFields());
            TestResults live(table, QString());
            record(frames, rules, table, live, c.tickMs);
            const std::optional<InsulationResult> got = piTest(table, rules);
            ASSERT_TRUE(got.has_value()) << "one PI test";
            EXPECT_EQ(got->startMs, truth->startMs) << "the PI test's first reading is recorded";
            EXPECT_GE(got->duration, 600) << "and its last";
            ASSERT_TRUE(got->r60 && got->pi);
            EXPECT_NEAR(*got->r60 / *truth->r60, 1, 0.01)
                << *got->r60 << " against " << *truth->r60;
            EXPECT_NEAR(*got->pi / *truth->pi, 1, 0.01) << *got->pi << " against " << *truth->pi;
            // R15 and R30 are given only where the readings lie close enough to read them off
            // (not on a line from the test's first reading a minute back): a DAR given is right.
            for (auto [mine, true_] :
                 {std::pair{got->dar, truth->dar}, {got->dar15, truth->dar15}}) {
                if (mine) {
                    EXPECT_NEAR(*mine / *true_, 1, 0.02) << *mine << " against " << *true_;
                }
            }

            // Numbered without a gap, each at the time it was shown, in order.
            for (qint64 row = 0; row < table.rowCount(); ++row) {
                ASSERT_EQ(table.readingAt(row)->no, row + 1);
                if (row > 0) {
                    ASSERT_GE(table.readingAt(row)->msOfDay, table.readingAt(row - 1)->msOfDay);
                }
            }
            // The window's live analysis finds the same test.
            ASSERT_GE(live.count(), 1);
            bool same = false;
            for (int i = 0; i < live.count(); ++i)
                same = same || jsonText(live.test(i)) == jsonText(*got);
            EXPECT_TRUE(same) << jsonText(*got);
        }();
}
