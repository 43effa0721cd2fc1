#include "link/frame_throttle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kx;

namespace {
struct Throttle : ::testing::Test {
    std::int64_t now = 1000;
    std::vector<std::pair<std::int64_t, std::string>> decoded;
    FrameThrottle throttle{
        [this](std::string_view f) { decoded.emplace_back(now, std::string(f)); }};
    void SetUp() override {
        throttle.setClock([this] { return now; });
    }
};
} // namespace

TEST_F(Throttle, FirstFrameAtOnceThenHeldUntilHalfASecond) {
    throttle.offer("A");
    ASSERT_EQ(decoded.size(), 1u);
    now += 90;
    throttle.offer("B");
    now += 90;
    throttle.offer("C");
    EXPECT_EQ(decoded.size(), 1u);
    EXPECT_TRUE(throttle.hasHeldFrame());
    throttle.release(); // too early: stays held
    EXPECT_EQ(decoded.size(), 1u);
    now = 1500;
    throttle.release();
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[1].second, "C") << "the newest frame supersedes older held ones";
    EXPECT_FALSE(throttle.hasHeldFrame());
}

TEST_F(Throttle, SteadyStreamIsDecodedTwiceASecondAndEndsOnTheNewest) {
    // Eleven frames a second for ten seconds, the timer firing whenever it is due.
    for (int i = 0; i < 110; ++i) {
        now = 1000 + i * 91;
        throttle.release();
        throttle.offer(std::to_string(i));
    }
    now += 500;
    throttle.release();
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.back().second, "109");
    for (std::size_t i = 1; i < decoded.size(); ++i)
        EXPECT_GE(decoded[i].first - decoded[i - 1].first, FrameThrottle::kIntervalMs);
    EXPECT_LE(decoded.size(), 22u);
    EXPECT_GE(decoded.size(), 19u);
}

TEST_F(Throttle, SlowFramesPassStraightThroughAndDiscardDropsHeld) {
    throttle.offer("A");
    now += 600;
    throttle.offer("B");
    EXPECT_EQ(decoded.size(), 2u);
    now += 10;
    throttle.offer("C");
    throttle.discard();
    now += 1000;
    throttle.release();
    EXPECT_EQ(decoded.size(), 2u);
}
