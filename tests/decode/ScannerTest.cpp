#include "DecodeTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using decodetest::Feed;
using decodetest::Sentence;

namespace {

const std::string kGga = Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kRmc =
    Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
const std::string kGsa = Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
const std::string kGsv = Sentence("GPGSV,1,1,02,07,40,283,46,08,10,100,");

struct Outcome {
    ScanCounters counters;
    GpsFix fix;
};

Outcome Scan(const std::vector<std::string> &blocks) {
    CNmeaDecoder port(0);
    for (const std::string &b : blocks)
        Feed(port, b);
    Outcome o{port.CopyCounters(), {}};
    port.CopyFix(o.fix);
    return o;
}

struct ScanCase {
    const char *name;
    std::vector<std::string> blocks;
    unsigned gga, gsa, gsv, rmc, badChecksum, cut, tooLong, unknown;
};

class ScannerCases : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScannerCases, CountsWhatItDecodedAndDropped) {
    const ScanCase &c = GetParam();
    const ScanCounters n = Scan(c.blocks).counters;
    EXPECT_EQ(n.nGga, c.gga);
    EXPECT_EQ(n.nGsa, c.gsa);
    EXPECT_EQ(n.nGsv, c.gsv);
    EXPECT_EQ(n.nRmc, c.rmc);
    EXPECT_EQ(n.nBadChecksum, c.badChecksum);
    EXPECT_EQ(n.nCut, c.cut);
    EXPECT_EQ(n.nTooLong, c.tooLong);
    EXPECT_EQ(n.nUnknown, c.unknown);
}

std::string Replace(std::string s, const std::string &from, const std::string &to) {
    s.replace(s.find(from), from.size(), to);
    return s;
}

std::string LowerHex(std::string s) {
    for (std::size_t i = s.find('*'); i < s.size(); ++i)
        if (s[i] >= 'A' && s[i] <= 'F')
            s[i] = static_cast<char>(s[i] - 'A' + 'a');
    return s;
}

const std::string kLowerHexRmc = Sentence("GPRMC,000009,A,,,,,,,,,");

INSTANTIATE_TEST_SUITE_P(
    Framing, ScannerCases,
    ::testing::Values(
        ScanCase{"LastSentenceDecodedAtItsLineFeed", {kGga + kRmc}, 1, 0, 0, 1, 0, 0, 0, 0},
        ScanCase{
            "FourTypesBackToBack", {kGga + kGsa + kGsv + kRmc + "$GP"}, 1, 1, 1, 1, 0, 0, 0, 0},
        ScanCase{"ExtraLineEndsBetween", {kGga + "\r\n\r\n" + kRmc + "\n"}, 1, 0, 0, 1, 0, 0, 0, 0},
        ScanCase{"UnixLineEnds",
                 {Sentence("GPGGA,1,,,,,1,08,,545.4,M,,M,,", "\n") +
                  Sentence("GPRMC,123519,A,,,,,,,230394,,", "\n")},
                 1,
                 0,
                 0,
                 1,
                 0,
                 0,
                 0,
                 0},
        ScanCase{
            "BytesBeforeFirstDollarSkipped", {"4.038,N,*1F\r\n" + kGga}, 1, 0, 0, 0, 0, 0, 0, 0},
        ScanCase{"CutSentenceDroppedWhenDollarComesFirst",
                 {kGga.substr(0, 30) + kRmc},
                 0,
                 0,
                 0,
                 1,
                 0,
                 1,
                 0,
                 0},
        ScanCase{"SentenceCarriedAcrossBlocks",
                 {kGga.substr(0, 10), kGga.substr(10, 20), kGga.substr(30)},
                 1,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0},
        ScanCase{"WrongChecksum", {Replace(kGga, "*", "*0")}, 0, 0, 0, 0, 1, 0, 0, 0},
        ScanCase{
            "NoChecksum", {"$GPGGA,1,2,N,3,E,1,08,0.9,545.4,M,,M,,\r\n"}, 0, 0, 0, 0, 1, 0, 0, 0},
        ScanCase{"NonHexChecksum", {"$GPGGA,,*G0\r\n"}, 0, 0, 0, 0, 1, 0, 0, 0},
        ScanCase{"LowerCaseHexAccepted", {LowerHex(kLowerHexRmc)}, 0, 0, 0, 1, 0, 0, 0, 0},
        ScanCase{"OtherTypesCounted",
                 {Sentence("GPGLL,4916.45,N,12311.12,W,225444,A") +
                  Sentence("PSRF104,0,0,0,0,0,0,12,1") + Sentence("GP") + kGga},
                 1,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 3},
        ScanCase{"OverlongSentenceDropped",
                 {Sentence("GPGGA," + std::string(520, '1')) + kGsa},
                 0,
                 1,
                 0,
                 0,
                 0,
                 0,
                 1,
                 0},
        ScanCase{"OverlongAcrossBlocks",
                 {"$GPGGA," + std::string(400, '1'), std::string(400, '2'), "*00\r\n" + kGsa},
                 0,
                 1,
                 0,
                 0,
                 0,
                 0,
                 1,
                 0},
        ScanCase{"OverlongCutByDollar",
                 {"$GPGGA," + std::string(600, '1') + kGsa},
                 0,
                 1,
                 0,
                 0,
                 0,
                 0,
                 1,
                 0},
        ScanCase{"UnfinishedAtEndNotCounted", {kGga + kRmc.substr(0, 40)}, 1, 0, 0, 0, 0, 0, 0, 0}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(Scanner, LowerCaseCaseReallyHasLowerCaseHex) {
    EXPECT_NE(LowerHex(kLowerHexRmc), kLowerHexRmc);
}

TEST(Scanner, LongestSentenceThatFitsIsDecoded) {
    // "$" + body + "*hh\r\n" is exactly 511 bytes.
    std::string body = "GPGGA,1,2,N,3,E,1,08,0.9,545.4,M,,M,,";
    body += std::string(511 - 6 - body.size(), '0');
    const std::string s = Sentence(body);
    ASSERT_EQ(s.size(), 511u);
    const ScanCounters fits = Scan({s}).counters;
    EXPECT_EQ(fits.nGga, 1u);
    const ScanCounters over = Scan({Sentence(body + "0")}).counters;
    EXPECT_EQ(over.nGga, 0u);
    EXPECT_EQ(over.nTooLong, 1u);
}

TEST(Scanner, BadChecksumLeavesTheRecordUntouched) {
    CNmeaDecoder port(0);
    Feed(port, kRmc + kGga + kGsa + kGsv);
    GpsFix before;
    port.CopyFix(before);
    // Same fields with other values and the old checksums: line noise must not reach the record.
    for (std::string s : {kRmc, kGga, kGsa, kGsv}) {
        s[s.find(',') + 1] = s[s.find(',') + 1] == '1' ? '2' : '1';
        Feed(port, s);
    }
    Feed(port, "$GPRMC,000000,A,0000.000,N,00000.000,E,0,0,010100,,*ZZ\r\n");
    GpsFix after;
    port.CopyFix(after);
    EXPECT_TRUE(decodetest::SameRecord(before, after));
    EXPECT_EQ(port.CopyCounters().nBadChecksum, 5u);
}

TEST(Scanner, GnAndGlTalkersDecodeLikeGp) {
    const GpsFix gp = decodetest::Decode(kGga + kRmc + kGsa + kGsv);
    const GpsFix gn = decodetest::Decode(
        Sentence("GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
        Sentence("GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
        Sentence("GNGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
        Sentence("GLGSV,1,1,02,07,40,283,46,08,10,100,"));
    EXPECT_TRUE(decodetest::SameRecord(gp, gn));
}

TEST(Scanner, ResetScannerForgetsTheCarriedHead) {
    CNmeaDecoder port(0);
    Feed(port, kGga.substr(0, 20));
    port.ResetScanner();
    Feed(port, kGga.substr(20)); // the rest alone is not a sentence
    EXPECT_EQ(port.CopyCounters().nGga, 0u);
    Feed(port, kGga);
    EXPECT_EQ(port.CopyCounters().nGga, 1u);
}

// A block whose last byte is the "$" of the next sentence: nothing is read past the block (the
// exact-size heap copies let the sanitizer see it), and the sentence completes in the next block.
TEST(Scanner, BlockEndingInADollarIsReadNoFurther) {
    CNmeaDecoder port(0);
    const std::string first = kGga + "$";
    const auto exact = [&](const std::string &bytes) {
        const std::vector<char> copy(bytes.begin(), bytes.end());
        port.ParseBuffer(copy.data(), static_cast<int>(copy.size()));
    };
    exact(first);
    exact("$");
    exact(kGga.substr(1));
    EXPECT_EQ(port.CopyCounters().nGga, 2u);
}

TEST(Scanner, EmptyAndNullBlocksAreHarmless) {
    CNmeaDecoder port(0);
    port.ParseBuffer(nullptr, 10);
    port.ParseBuffer(kGga.data(), 0);
    port.ParseBuffer(kGga.data(), -5);
    EXPECT_EQ(port.CopyCounters().Decoded() + port.CopyCounters().Dropped(), 0u);
}

} // namespace

namespace {

// The hooks other parts rely on: every block, every good sentence of any type, every fix report.
TEST(Scanner, HooksSeeBlocksGoodSentencesAndValidFixes) {
    CNmeaDecoder decoder(0);
    std::vector<std::string> sentences;
    std::size_t blockBytes = 0;
    std::string reports;
    decoder.SetHooks({[&](const char *, std::size_t n) { blockBytes += n; },
                      [&](const char *s, std::size_t len) { sentences.emplace_back(s, len); },
                      [&](bool valid) { reports += valid ? 'A' : 'V'; },
                      {}});
    const std::string pubx = Sentence("PUBX,00,081350.00,4717.113210,N");
    const std::string noFix = Sentence("GPRMC,123519,V,,,,,,,230394,,");
    const std::string stream = pubx + Replace(kGga, "*", "0*") + noFix + kGsa + kRmc +
                               Sentence("GPGGA,123519,,,,,0,00,,,M,,M,,") + "\xB5\x62\x01\x07";
    Feed(decoder, stream.substr(0, 100));
    EXPECT_EQ(decoder.ValidFixes(), 0u);
    Feed(decoder, stream.substr(100));
    EXPECT_EQ(blockBytes, stream.size());
    ASSERT_EQ(sentences.size(), 5u); // the GGA with a bad checksum is not shown
    // Each as far as its checksum: the line end is not part of it.
    EXPECT_EQ(sentences[0], pubx.substr(0, pubx.size() - 2));
    EXPECT_EQ(sentences[1], noFix.substr(0, noFix.size() - 2));
    EXPECT_EQ(reports, "VAAV"); // RMC V, GSA mode 3, RMC A, GGA quality 0
    EXPECT_EQ(decoder.ValidFixes(), 2u);
}

} // namespace

// Binary frames between and around sentences: each row's counts hold for the stream whole and cut
// at every byte into two blocks.
struct FrameCase {
    const char *name;
    std::string stream;
    unsigned gga, rmc, ubx, ubxBad, rtcm, rtcmBad, badChecksum, cut;
};

class FrameCases : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameCases, CountsHoldWhereverTheBlocksEnd) {
    const FrameCase &c = GetParam();
    for (std::size_t at = 0; at <= c.stream.size(); ++at) {
        const ScanCounters n = at == c.stream.size()
                                   ? Scan({c.stream}).counters
                                   : Scan({c.stream.substr(0, at), c.stream.substr(at)}).counters;
        SCOPED_TRACE("cut at " + std::to_string(at));
        EXPECT_EQ(n.nGga, c.gga);
        EXPECT_EQ(n.nRmc, c.rmc);
        EXPECT_EQ(n.nUbx, c.ubx);
        EXPECT_EQ(n.nUbxBad, c.ubxBad);
        EXPECT_EQ(n.nRtcm, c.rtcm);
        EXPECT_EQ(n.nRtcmBad, c.rtcmBad);
        EXPECT_EQ(n.nBadChecksum, c.badChecksum);
        EXPECT_EQ(n.nCut, c.cut);
        if (HasFailure())
            return;
    }
}

// UBX-ACK-ACK for a CFG-MSG, and an RTCM 3 message 1007 from a reference station's feed.
const std::string kAck("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);
const std::string kRtcm("\xD3\x00\x05\x3E\xF2\x79\x00\x00\xDE\x08\xA8", 11);
// A NAV-PVT header whose 92 bytes never come: the sentences after it must still be read.
const std::string kPvtHead("\xB5\x62\x01\x07\x5C\x00", 6);

std::string Flip(std::string s, std::size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x01);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Binary, FrameCases,
    ::testing::Values(
        FrameCase{"UbxBetweenSentences", kGga + kAck + kRmc, 1, 1, 1, 0, 0, 0, 0, 0},
        FrameCase{"RtcmBetweenSentences", kGga + kRtcm + kRmc, 1, 1, 0, 0, 1, 0, 0, 0},
        FrameCase{"FramesBackToBack", kAck + kRtcm + kAck + kRtcm, 0, 0, 2, 0, 2, 0, 0, 0},
        FrameCase{"UbxChecksumWrong", kGga + Flip(kAck, 9) + kRmc, 1, 1, 0, 1, 0, 0, 0, 0},
        FrameCase{"RtcmCrcWrong", kGga + Flip(kRtcm, 5) + kRmc, 1, 1, 0, 0, 0, 1, 0, 0},
        FrameCase{"FalseHeaderGivesBackTheSentencesItTook", kPvtHead + kRmc + kGga + kGga, 2, 1, 0,
                  1, 0, 0, 0, 0},
        FrameCase{"FalseFrameOverATrueOne", kPvtHead + kAck + kRmc + kGga + kGga, 2, 1, 1, 1, 0, 0,
                  0, 0},
        FrameCase{"SentenceCutByAFrame", kGga.substr(0, 30) + kAck + kRmc, 0, 1, 1, 0, 0, 0, 0, 1},
        FrameCase{"PreambleWithoutZeroBitsIsNoise", "\xD3\xFF" + kGga, 1, 0, 0, 0, 0, 0, 0, 0},
        FrameCase{"SyncPairWithoutAClassIsNoise", "\xB5\x62\x99" + kGga, 1, 0, 0, 0, 0, 0, 0, 0}),
    [](const auto &param) { return std::string(param.param.name); });
