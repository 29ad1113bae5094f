// The time-to-first-fix stopwatch as a function of its calls and the times they bring.

#include "receiver/FixStopwatch.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = CFixStopwatch::Clock;

TEST(FixStopwatch, FixesInFlightDoNotStopItButALossThenAFixDoes) {
    const Clock::time_point t0{};
    CFixStopwatch w;
    EXPECT_EQ(w.Text(t0), "");
    w.Start(RestartKind::Cold, t0);
    // The cycle already on its way still has the old fix.
    w.OnFixReport(true, t0 + 300ms);
    EXPECT_TRUE(w.Running());
    EXPECT_EQ(w.Text(t0 + 12900ms), "cold start, 12 s");
    w.OnFixReport(false, t0 + 1s);
    w.OnFixReport(true, t0 + 31400ms);
    EXPECT_FALSE(w.Running());
    ASSERT_TRUE(w.Result().has_value());
    EXPECT_DOUBLE_EQ(*w.Result(), 31.4);
    w.OnFixReport(false, t0 + 32s); // later losses change nothing
    EXPECT_EQ(w.Text(t0 + 32s), "cold start: fix in 31.4 s");
    EXPECT_EQ(w.Text(t0 + 31400ms + 59s), "cold start: fix in 31.4 s");
    EXPECT_EQ(w.Text(t0 + 31400ms + 60s), "");
}

TEST(FixStopwatch, EachKindCancelAndAnIgnoredRestart) {
    const Clock::time_point t0{};
    const struct {
        RestartKind kind;
        const char *running;
    } rows[] = {{RestartKind::Cold, "cold start, 0 s"},
                {RestartKind::Warm, "warm start, 0 s"},
                {RestartKind::Hot, "hot start, 0 s"}};
    for (const auto &row : rows) {
        CFixStopwatch w;
        w.Start(row.kind, t0);
        EXPECT_EQ(w.Text(t0 + 999ms), row.running);
        w.Cancel();
        EXPECT_EQ(w.Text(t0 + 1s), "");
        w.OnFixReport(false, t0 + 1s);
        w.OnFixReport(true, t0 + 2s);
        EXPECT_FALSE(w.Result().has_value()) << "a cancelled watch takes no fix";
    }
    // A receiver still reporting its fix after the time in flight ignored the command.
    CFixStopwatch w;
    w.Start(RestartKind::Warm, t0);
    w.OnFixReport(true, t0 + CFixStopwatch::kInFlight - 1ms);
    EXPECT_TRUE(w.Running());
    w.OnFixReport(true, t0 + CFixStopwatch::kInFlight);
    EXPECT_TRUE(w.FixNeverLost());
    EXPECT_FALSE(w.Result().has_value());
    EXPECT_EQ(w.Text(t0 + 3s), "warm start: fix never lost");
    // A new start forgets all of that.
    w.Start(RestartKind::Hot, t0 + 10s);
    w.OnFixReport(false, t0 + 10s);
    w.OnFixReport(true, t0 + 12s);
    EXPECT_EQ(w.Text(t0 + 12s), "hot start: fix in 2.0 s");
}

} // namespace
