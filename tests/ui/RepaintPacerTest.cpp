// When the window repaints: on each complete epoch, at most ten times a second, and on the
// once-a-second tick only while no epochs arrive.
#include "EpochRepaint.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = CRepaintPacer::Clock;

TEST(RepaintPacer, EpochsPaintAtOnceButTenASecondAtMostAndTakeTheTicksPlace) {
    const Clock::time_point t0 = Clock::time_point{} + 100s;
    CRepaintPacer p;
    // No epochs yet: every tick paints.
    EXPECT_TRUE(p.TickPaints(t0));
    p.Painted(t0);
    const struct {
        Clock::duration at;
        bool epoch;   // an epoch (else a tick) at t0 + at
        long long ms; // epoch: the wait before its paint; tick: 1 when it paints
    } steps[] = {
        {1000ms, true, 0},  // a 1 Hz receiver's epoch paints at once
        {1500ms, false, 0}, // and the tick half a second later does not
        {2000ms, true, 0},           {2990ms, true, 0},
        {2500ms + 1000ms, false, 0}, {3040ms, true, 50}, // 10 Hz and faster: 100 ms apart
        {4300ms, false, 1}, // 1.21 s since the last paint: the tick paints anyway
        {4500ms, true, 0},  //
        {5000ms, false, 0}, //
        {7000ms, false, 1}, // epochs stopped: the tick takes over
        {7400ms, false, 1}, // (ticks come once a second; this one checks the rule alone)
    };
    for (const auto &step : steps) {
        const Clock::time_point now = t0 + step.at;
        if (step.epoch) {
            const auto wait = p.OnEpoch(now);
            EXPECT_EQ(wait.count(), step.ms) << step.at.count();
            p.Painted(now + wait);
        } else {
            const bool paints = p.TickPaints(now);
            EXPECT_EQ(paints, step.ms == 1) << step.at.count();
            if (paints)
                p.Painted(now);
        }
    }
}

} // namespace
