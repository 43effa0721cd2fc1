#include "common/stop_signals.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

using namespace kx;

TEST(StopSignals, EachSignalReachesTheEventLoopAndTheOldHandlersComeBack) {
    ::signal(SIGHUP, SIG_IGN);
    {
        std::vector<int> seen;
        StopSignals stop([&](int sig) { seen.push_back(sig); });
        ASSERT_TRUE(stop.armed());
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        ::raise(SIGINT);
        EXPECT_TRUE(test::waitUntil([&] { return seen.size() == 3; }));
        EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
    }
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::signal(SIGHUP, SIG_DFL);
}
