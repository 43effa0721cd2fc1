// The demonstration meter's tests, recorded the way the program records them (frame encoder,
// decoder, reading texts), give the figures the demo is meant to show.
#include "analysis/insulation_analyser.h"
#include "display/frame_decoder.h"
#include "link/meter_simulator.h"
#include "support/reading_rows.h"

#include <gtest/gtest.h>

#include <random>

using namespace kx;

namespace {

// One cycle of the demo, a frame every half second, each recorded reading a row whose time
// drifts by up to a quarter second as the computer's clock takes it.
std::vector<kxtest::Row> recordedCycle(const DemoScript& script) {
    FrameDecoder dec;
    std::vector<kxtest::Row> rows;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> jitter(0, 250);
    const std::int64_t startMs = 9 * 3'600'000;
    for (std::int64_t t = 0; t < script.cycleUs(); t += 500000) {
        const auto frame = script.frameAt(t);
        if (!frame || !dec.ShowDataKx30(frameHex(*frame)).record)
            continue;
        const ReadingTexts& x = dec.readingTexts();
        rows.push_back({static_cast<std::int64_t>(rows.size()) + 1,
                        startMs + t / 1000 + jitter(rng), x.ReadingValue, x.UnitText,
                        x.FunctionText, x.ModeText});
    }
    return rows;
}

} // namespace

TEST(DemoResults, ThePiTestGivesAboutTwoAndAHalf) {
    const DemoScript script;
    const auto found = findInsulationTests(kxtest::storeOf(recordedCycle(script)));
    ASSERT_TRUE(found.ok()) << found.error().toStdString();
    const std::vector<InsulationResult>& tests = found.value();
    // The 500 V test, the PI test, the 1-minute test and the timed 1000 V test; the COMP
    // readings and the PI result are too short to be tests, the voltages are not tests.
    ASSERT_EQ(tests.size(), 4u);
    EXPECT_EQ(tests[0].mode, "Continuous");

    const InsulationResult& pi = tests[1];
    EXPECT_EQ(pi.mode, "PI");
    EXPECT_EQ(pi.testVoltage, 2500);
    EXPECT_GE(pi.duration, 600);
    ASSERT_TRUE(pi.pi && pi.dar && pi.dar15 && pi.r600);
    const double expectedPi = DemoScript::piTestOhms(600) / DemoScript::piTestOhms(60);
    EXPECT_NEAR(expectedPi, 2.5, 0.05);
    EXPECT_NEAR(*pi.pi, expectedPi, 0.02);
    EXPECT_NEAR(*pi.dar, DemoScript::piTestOhms(60) / DemoScript::piTestOhms(30), 0.02);
    EXPECT_GT(*pi.dar, 1.2);
    EXPECT_LT(*pi.dar, 1.6);
    EXPECT_LT(*pi.r15, 1e9) << "still in MΩ at 15 s";
    EXPECT_GT(*pi.r60, 1e9) << "in GΩ by 1 min";
    EXPECT_LT(*pi.r60, 5000e6) << "low enough for PI to count";
    EXPECT_EQ(pi.verdict, Verdict::Pass);

    const InsulationResult& dar = tests[2];
    EXPECT_EQ(dar.mode, "Timed");
    EXPECT_EQ(dar.testVoltage, 500);
    EXPECT_GE(dar.duration, 60);
    ASSERT_TRUE(dar.dar.has_value());
    EXPECT_NEAR(*dar.dar, DemoScript::darTestOhms(60) / DemoScript::darTestOhms(30), 0.02);
    EXPECT_FALSE(dar.pi.has_value());
    EXPECT_EQ(dar.verdict, Verdict::Pass);

    EXPECT_EQ(tests[3].testVoltage, 1000);
}
