// When an epoch is complete: a new time of fix after unreported sentences, or a quiet line; and
// the port's parts after the decoder, which read the decoder's own split of each sentence.
#include "analysis/EpochTracker.h"
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "TestPaths.h"
#include "analysis/FixTrack.h"
#include "analysis/SignalHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// A stream through a port's reader path, and through the same parts wired as the port once wired
// them, each splitting the sentences itself: the same epochs, signal history and fixes. The
// number of samples and fixes is added to the counts.
void ExpectPortPartsAsTheirOwn(const std::string &stream, std::size_t &samples, std::size_t &points,
                               bool bySentence = false) {
    CGpsPort port(0);
    CNmeaDecoder decoder(0);
    CEpochTracker epoch;
    CSignalHistory signals;
    CFixHistory fixes;
    decoder.SetHooks({nullptr,
                      [&](const char *s, std::size_t len) {
                          epoch.OnSentence(s, len);
                          fixes.OnSentence(s, len);
                          signals.OnSentence(s, len);
                      },
                      nullptr,
                      [&](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
                          epoch.OnFrame(protocol, frame, len);
                          signals.OnFrame(protocol, frame, len);
                      },
                      {},
                      [&](const NavReport &report) { fixes.OnReport(report); }});
    std::size_t ourEpochs = 0, theirEpochs = 0;
    port.SetEpochListener([&] { ++ourEpochs; });
    std::size_t n = 0;
    for (std::size_t at = 0; at < stream.size(); at += n) {
        // Reads of every size, so sentences also come whole from the decoder's carried tail; or
        // a sentence a read, so each may end an epoch.
        n = bySentence ? stream.find('\n', at) + 1 - at
                       : std::min<std::size_t>(at % 3 == 0   ? 1024
                                               : at % 3 == 1 ? 64
                                                             : 7,
                                               stream.size() - at);
        port.DecodeBlock(stream.data() + at, n, std::chrono::steady_clock::now());
        decoder.ParseBuffer(stream.data() + at, static_cast<int>(n));
        if (epoch.BlockDone()) {
            signals.OnEpoch(decoder, true);
            ++theirEpochs;
        }
    }
    EXPECT_EQ(ourEpochs, theirEpochs);
    const SignalHistoryCopy ours = port.Signals().Copy(), theirs = signals.Copy();
    ASSERT_EQ(ours.samples.size(), theirs.samples.size());
    for (std::size_t i = 0; i < ours.samples.size(); ++i) {
        const HistorySample &a = ours.samples[i], &b = theirs.samples[i];
        EXPECT_EQ(a.time, b.time) << i;
        EXPECT_EQ(a.hdop, b.hdop) << i;
        EXPECT_EQ(a.count, b.count) << i;
        EXPECT_TRUE(std::equal(a.inView, a.inView + kGnssCount, b.inView)) << i;
        EXPECT_TRUE(std::equal(a.used, a.used + kGnssCount, b.used)) << i;
    }
    const std::vector<GeoPoint> track = port.History().CopyPoints(), expected = fixes.CopyPoints();
    ASSERT_EQ(track.size(), expected.size());
    for (std::size_t i = 0; i < track.size(); ++i) {
        EXPECT_EQ(track[i].lat, expected[i].lat) << i;
        EXPECT_EQ(track[i].lon, expected[i].lon) << i;
        EXPECT_EQ(track[i].alt, expected[i].alt) << i;
    }
    samples += theirs.samples.size();
    points += expected.size();
}

// Every capture, and sentences with a "*" inside a field or an overlong time, whose reading the
// sentences' own split decides.
TEST(EpochTracker, PortPartsReadTheDecodersFieldsAsTheirOwn) {
    std::vector<std::filesystem::path> files;
    for (const auto &dir : {NmeaDir(), NmeaDir() + "/hostile"})
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".log" || entry.path().extension() == ".nmea")
                files.push_back(entry.path());
    ASSERT_GT(files.size(), 20u);
    std::size_t samples = 0, points = 0;
    for (const auto &f : files) {
        SCOPED_TRACE(f.filename().string());
        std::ifstream in(f, std::ios::binary);
        ExpectPortPartsAsTheirOwn(
            {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, samples,
            points);
    }
    std::string odd;
    for (const char *body : {
             "$GPRMC,123520,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
             "$GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
             "$GPRMC,123521*,A,4807.038,N,01131.000,E,022.4,084.4,010194,003.1,W",
             "$GPGGA,123521*,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
             "$GPGGA,123522*9,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
             "$GPRMC,123522,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
             "$GNRMC,123523.000000000000000000,A,4807.038,N,01131.000,E,022.4,084.4,230394,,",
             "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1",
             "$GPGGA,123524,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
             "$GPGNS,123525*,4807.038,N",
             "$GPRMC,123526,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
         })
        odd += Sentence(body);
    ExpectPortPartsAsTheirOwn(odd, samples, points, true);
    EXPECT_GT(samples, 900u);
    EXPECT_GT(points, 900u);
}

} // namespace
