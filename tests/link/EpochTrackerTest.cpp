// When an epoch is complete: a new time of fix after unreported sentences, or a quiet line.
#include "EpochTracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(EpochTracker, NewTimeOrQuietEndsAnEpochOnce) {
    // Each step is a block of sentences ("" is a quiet line) and what the tracker says after it.
    const struct {
        std::vector<std::string> block;
        bool ended; // BlockDone after the block, or Quiet for a quiet line
    } steps[] = {
        {{"$GNRMC,120000.00,A,", "$GNGGA,120000.00,4807", "$GPGSV,3,1,11"}, false},
        {{}, true},  // quiet after the first epoch
        {{}, false}, // and only once
        {{"$GNRMC,120001.00,A,", "$GPGSV,3,1,11"}, false},
        // The next second's first sentence ends the epoch before it, in the same block or not.
        {{"$GPGSV,3,2,11", "$GNGGA,120002.00,48"}, true},
        {{"$GNGLL,4807.038,N,01131.000,E,120002.00,A"}, false},
        {{"$GNGLL,4807.038,N,01131.000,E,120002.10,A", "$GNGNS,120002.20,48"}, true},
        {{}, true},
        // Sentences without a time of fix, and ones whose time field is empty or cut, never end
        // one (a proprietary sentence is no RMC): after a quiet line they open the next epoch.
        {{"$GNRMC,,V,", "$PUBX,00,120003.00", "$GNRMC,1200"}, false},
        {{"$GNGSA,A,3,", "$GNRMC,120004.00,A,"}, false},
        {{"$GPGSV,3,1,11"}, false},
        {{"$GNRMC,120005.00,A,"}, true},
    };
    CEpochTracker t;
    int i = 0;
    for (const auto &step : steps) {
        for (const std::string &s : step.block)
            t.OnSentence(s.data(), s.size());
        EXPECT_EQ(step.block.empty() ? t.Quiet() : t.BlockDone(), step.ended) << "step " << i;
        ++i;
    }
    t.Reset();
    EXPECT_FALSE(t.Pending());
    const std::string rmc = "$GNRMC,120005.00,A,";
    t.OnSentence(rmc.data(), rmc.size());
    EXPECT_FALSE(t.BlockDone()) << "the first time after a reset ends nothing";
}

} // namespace
