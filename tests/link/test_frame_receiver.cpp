#include "link/frame_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kx;

namespace {

// A 22-byte meter frame ending CR LF.
std::vector<std::uint8_t> meterFrame(std::uint8_t fill = 0x11) {
    std::vector<std::uint8_t> f(22, fill);
    f[20] = 0x0D;
    f[21] = 0x0A;
    return f;
}

struct Receiver : ::testing::Test {
    FrameReceiver rx;
    std::vector<std::string> frames;
    int reports = 0;

    void SetUp() override {
        rx.setFrameHandler([this](std::string_view hex) { frames.emplace_back(hex); });
        rx.setReportHandler([this] { ++reports; });
    }

    void report(std::vector<std::uint8_t> data) {
        rx.ReadPw60(0x00, data.data(), static_cast<std::uint16_t>(data.size()));
    }
    // Sends bytes in reports of `per` payload bytes with the given header high nibble.
    void sendPayload(const std::vector<std::uint8_t>& bytes, std::size_t per,
                     std::uint8_t high = 0xF0) {
        for (std::size_t i = 0; i < bytes.size(); i += per) {
            const std::size_t n = std::min(per, bytes.size() - i);
            std::vector<std::uint8_t> r{static_cast<std::uint8_t>(high | n)};
            r.insert(r.end(), bytes.begin() + static_cast<long>(i),
                     bytes.begin() + static_cast<long>(i + n));
            r.resize(8, 0x00); // the cable's reports are 8 bytes; the rest is ignored
            report(r);
        }
    }
    void idle(std::uint8_t header = 0xF0) { report({header, 0, 0, 0, 0, 0, 0, 0}); }
};

} // namespace

TEST_F(Receiver, FrameInSevenReportsOfThreeAndOneOfOne) {
    sendPayload(meterFrame(0xAB), 3);
    EXPECT_TRUE(frames.empty())
        << "a frame is handed on only when a report without payload ends it";
    EXPECT_TRUE(rx.FrameInProgress());
    idle();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 44u);
    EXPECT_EQ(frames[0].substr(0, 4), "ABAB");
    EXPECT_EQ(frames[0].substr(40), "0D0A");
    EXPECT_TRUE(rx.FrameHex().empty());
    EXPECT_FALSE(rx.FrameInProgress());
    EXPECT_EQ(rx.IdleReportCount(), 1);
    EXPECT_EQ(reports, 9);
}

TEST_F(Receiver, HeaderHighNibbleIsIgnored) {
    sendPayload(meterFrame(), 3, 0x00);
    idle(0x00);
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(Receiver, IdleCountingAndCountsTenToFifteen) {
    idle();
    EXPECT_EQ(rx.IdleReportCount(), 1);
    EXPECT_TRUE(frames.empty());
    EXPECT_TRUE(rx.FrameHex().empty());

    sendPayload(meterFrame(), 7);
    EXPECT_EQ(rx.IdleReportCount(), 0);
    idle(0xFA);
    EXPECT_EQ(frames.size(), 1u) << "count 10 ends a frame like 0";
    for (std::uint8_t h = 0xFB; h != 0x00; ++h)
        idle(h);
    EXPECT_EQ(rx.IdleReportCount(), 6);
}

TEST_F(Receiver, ReportWithoutDataBytesEndsFrameWithoutCounting) {
    sendPayload(meterFrame(), 5);
    rx.ReadPw60(0x00, nullptr, 0);
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(rx.IdleReportCount(), 0);
    EXPECT_EQ(reports, 6);
    std::uint8_t dummy = 0;
    rx.ReadPw60(0x07, &dummy, 0);
    EXPECT_EQ(rx.IdleReportCount(), 0);
}

TEST_F(Receiver, CountLargerThanBytesPresentTakesWhatIsThere) {
    report({0xF5, 0x01, 0x02, 0x03});
    EXPECT_EQ(rx.FrameHex(), "010203");
    report({0xF9});
    EXPECT_EQ(rx.FrameHex(), "010203")
        << "a header alone carries no bytes but keeps the frame open";
    EXPECT_TRUE(rx.FrameInProgress());
    EXPECT_EQ(rx.IdleReportCount(), 0);
}

TEST_F(Receiver, FramesRunTogetherAreHandedOnWhole) {
    auto two = meterFrame(0x22);
    const auto second = meterFrame(0x33);
    two.insert(two.end(), second.begin(), second.end());
    sendPayload(two, 7);
    idle();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 88u);
    EXPECT_EQ(frames[0].substr(40, 4), "0D0A");
}

TEST_F(Receiver, ShortOrDamagedFramesAreDropped) {
    auto f = meterFrame();
    f.pop_back();
    sendPayload(f, 7);
    idle();
    EXPECT_TRUE(frames.empty());
    EXPECT_TRUE(rx.FrameHex().empty());

    auto g = meterFrame();
    g[21] = 0x0B;
    sendPayload(g, 7);
    idle();
    EXPECT_TRUE(frames.empty());

    // Reception that began mid-frame: the tail is dropped, the next whole frame goes through.
    sendPayload({0x44, 0x0D, 0x0A}, 3);
    idle();
    sendPayload(meterFrame(), 7);
    idle();
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(Receiver, OpenFrameSurvivesUntilNextEnd) {
    auto f = meterFrame();
    sendPayload({f.begin(), f.begin() + 10}, 5);
    rx.setIdleReportCount(0); // a reconnect resets only the counter
    sendPayload({f.begin() + 10, f.end()}, 6);
    idle();
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(Receiver, EndlessFrameIsBounded) {
    std::vector<std::uint8_t> r{0xF7, 1, 2, 3, 4, 5, 6, 7};
    for (std::size_t i = 0; i < FrameReceiver::kMaxFrameBytes / 7 + 100; ++i)
        report(r);
    EXPECT_EQ(rx.FrameHex().size(), 2 * FrameReceiver::kMaxFrameBytes);
    idle();
    EXPECT_TRUE(rx.FrameHex().empty());
}
