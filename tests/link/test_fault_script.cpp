// The demo's fault script as the window and the command line take it, and what its faults do
// to the cable's reports.
#include "link/demo_faults.h"
#include "link/fault_script.h"

#include <gtest/gtest.h>

using namespace kx;
using Kind = LinkFault::Kind;

TEST(FaultScript, ParsesStrictly) {
    const struct {
        const char* text;
        std::vector<LinkFault> faults; // when it parses
        const char* error;             // part of the message when it does not
    } cases[] = {
        {"unplug@5+3,silent@20+30",
         {{Kind::Unplug, 5000000, 3000000}, {Kind::Silent, 20000000, 30000000}},
         nullptr},
        {"damaged@0.5+0.25", {{Kind::Damaged, 500000, 250000}}, nullptr},
        {" silent@1+1 , unplug@1.5+2",
         {{Kind::Silent, 1000000, 1000000}, {Kind::Unplug, 1500000, 2000000}},
         nullptr},
        {"silent@0+0.000001", {{Kind::Silent, 0, 1}}, nullptr},
        {"silent@5+10,unplug@8+1",
         {{Kind::Silent, 5000000, 10000000}, {Kind::Unplug, 8000000, 1000000}},
         nullptr},
        {"silent@5+5,silent@10+1",
         {{Kind::Silent, 5000000, 5000000}, {Kind::Silent, 10000000, 1000000}},
         nullptr},
        {"", {}, "The fault script is empty"},
        {"  ", {}, "The fault script is empty"},
        {"silent@5+10,silent@8+1", {}, "Bad fault 'silent@8+1': it overlaps another silent"},
        {"unplug@5+3,", {}, "Bad fault '': an empty item"},
        {"Silent@1+1", {}, "Bad fault 'Silent@1+1': unknown kind 'Silent'"},
        {"quiet@1+1", {}, "unknown kind 'quiet'"},
        {"silent@1", {}, "Bad fault 'silent@1': it lacks '@' or '+'"},
        {"silent+1@1", {}, "it lacks '@' or '+'"},
        {"silent@-1+1", {}, "the start is not a number of seconds"},
        {"silent@1e3+1", {}, "the start is not a number of seconds"},
        {"silent@.5+1", {}, "the start is not a number of seconds"},
        {"silent@1.+1", {}, "the start is not a number of seconds"},
        {"silent@1+0", {}, "the length must be above 0"},
        {"silent@1+0.0000001", {}, "the length is not a number of seconds"},
        {"silent@1+2+3", {}, "the length is not a number of seconds"},
        {"silent@999999999+1", {}, "the start is not a number of seconds"},
        {"silent@315360000+1", {}, "it ends too late"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Result<FaultScript> r = FaultScript::parse(QString::fromLatin1(c.text));
        if (c.error) {
            ASSERT_FALSE(r.ok());
            EXPECT_TRUE(r.error().contains(QLatin1String(c.error))) << r.error().toStdString();
            EXPECT_TRUE(r.error().contains(QLatin1String("KIND@START+LENGTH")));
        } else {
            ASSERT_TRUE(r.ok()) << r.error().toStdString();
            EXPECT_EQ(r.value().faults(), c.faults);
        }
    }
}

// Silence holds back whole frames; damage garbles the meter's bytes but not the reports'
// headers, so the watchdog still sees bytes arrive.
TEST(FaultScript, FaultsChangeWhatTheCableCarries) {
    MeterDisplay shown;
    shown.reading = "12.5";
    const MeterFrame frame = encodeFrame(shown);
    const struct {
        const char* faults;
        int payloadBytes; // meter bytes delivered in the first second
        int intactBytes;  // of them, as the meter sent them
    } cases[] = {
        {"silent@100+1", 44, 44}, {"silent@0+1", 0, 0},   {"silent@0.2+0.5", 22, 22},
        {"damaged@0+1", 44, 0},   {"unplug@0+1", 44, 44}, // unplugging is the bus's business
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        auto faults = std::make_shared<FaultScript>(
            FaultScript::parse(QString::fromLatin1(c.faults)).value());
        const std::unique_ptr<InputReportSource> meter =
            faultyMeter([&](std::int64_t) { return std::optional(frame); }, faults);
        int payload = 0, intact = 0;
        std::size_t at = 0;
        for (std::int64_t t = 12000; t <= 1000000; t += 12000) {
            const InputReportSource::Report r = meter->nextReport(t);
            const int n = r[0] & 0x0F;
            for (int i = 1; i <= n; ++i, ++at) {
                ++payload;
                intact += r[static_cast<std::size_t>(i)] == frame[at % frame.size()];
            }
        }
        EXPECT_EQ(payload, c.payloadBytes);
        EXPECT_EQ(intact, c.intactBytes);
    }
}
