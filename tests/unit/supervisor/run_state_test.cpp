// The supervisor's state file: round trip, unknown and broken lines, the one-hour window of restarts.
#include "supervisor/run_state.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(RunState, RoundTripAndBrokenInput) {
    RunState state;
    state.supervisorPid = 412;
    state.connectorPid = 3080;
    state.connectorStarted = 133780000000000000ULL;
    state.readyConnections = 4;
    state.hasExit = true;
    state.lastExitCode = 0xC0000005u;
    state.restarts = {133779990000000000ULL, 133779999000000000ULL};
    const std::string text = FormatRunState(state);
    EXPECT_EQ(text.substr(0, 20), "supervisor_pid=412\r\n");
    RunState back;
    ASSERT_TRUE(ParseRunState("junk\r\nfuture_key=1\r\n" + text, &back));
    EXPECT_EQ(FormatRunState(back), text);

    RunState fresh;
    fresh.supervisorPid = 9;
    ASSERT_TRUE(ParseRunState(FormatRunState(fresh), &back));
    EXPECT_EQ(back.readyConnections, -1);
    EXPECT_FALSE(back.hasExit);
    EXPECT_TRUE(back.restarts.empty());

    EXPECT_FALSE(ParseRunState("", &back));
    EXPECT_FALSE(ParseRunState("supervisor_pid=-3\r\n", &back));
    ASSERT_TRUE(ParseRunState("supervisor_pid=1\nrestarts=5,x,,99999999999999999999999,7\n", &back));
    EXPECT_EQ(back.restarts, (std::vector<uint64_t>{5, 7}));
}

TEST(RunState, OnlyRestartsOfTheLastHourCount) {
    RunState state;
    const uint64_t now = 10 * kFileTimeHour;
    state.restarts = {now - kFileTimeHour, now - kFileTimeHour + 1, now - 1, now, now + 5};
    DropOldRestarts(state, now);
    EXPECT_EQ(state.restarts, (std::vector<uint64_t>{now - kFileTimeHour + 1, now - 1, now}));
}

}  // namespace
}  // namespace mw
