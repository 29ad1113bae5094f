#include "DecodeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Captures of sentences only; those with binary frames are in kFramed below.
const char *const kAllCaptures[] = {"bu353s4.log",
                                    "haicom-305N.log",
                                    "pharos-360.log",
                                    "gpslim236.log",
                                    "blumax-gps009.log",
                                    "tn200-all.log",
                                    "holux-gm-210.log",
                                    "bu353-glonass.log",
                                    "myguide-3100.log",
                                    "mt3339.log",
                                    "telit-he910.log",
                                    "vespucci-2020_03_27.nmea",
                                    "pynmeagps-pygpsdata-nmea2.log",
                                    "neo-m8n.log",
                                    "ublox-neo-m9n-nmea.log",
                                    "quectel-l76k-nmea.log",
                                    "st-teseo-liv3f.log",
                                    "beidou-gb.log",
                                    "furuno_gl_ga.log",
                                    "ublox-f9p-hpnmea.log",
                                    "quectel-eg25-g.log",
                                    "quectelLC79D.log"};

// Captures with GPS talkers only and another decoder's output beside them.
const char *const kGpsOnlyWithChk[] = {
    "bu353s4.log",   "haicom-305N.log",  "pharos-360.log",   "gpslim236.log", "blumax-gps009.log",
    "tn200-all.log", "holux-gm-210.log", "myguide-3100.log", "mt3339.log",    "telit-he910.log"};

bool LoadCapture(const std::string &name, std::string &bytes) {
    return decodetest::ReadFile(std::string(SKYWATCH_NMEA_DIR) + "/" + name, bytes);
}

// The captures are part of the tree: a missing one is a failure, not a skip.
#define SKIP_WITHOUT_CAPTURES()                                                                    \
    ASSERT_TRUE(fs::is_directory(SKYWATCH_NMEA_DIR)) << "captures missing at " SKYWATCH_NMEA_DIR

// What must hold whatever the input: reserved bytes 0, used PRNs 0 or 1-32.
::testing::AssertionResult KeepsInvariants(const GpsFix &fix) {
    if (fix.bReserved1 || fix.bReserved2[0] || fix.bReserved2[1] || fix.bReserved2[2] ||
        fix.bReserved3 || fix.bReserved4)
        return ::testing::AssertionFailure() << "a reserved byte was written";
    for (const SatInfo &s : fix.sat)
        if (s.bReserved)
            return ::testing::AssertionFailure() << "a satellite's reserved byte was written";
    for (std::int8_t prn : fix.cUsedPrn)
        if (prn < 0 || prn > 32)
            return ::testing::AssertionFailure() << "used PRN " << int{prn};
    return ::testing::AssertionSuccess();
}

GpsFix DecodeInBlocks(const std::string &bytes, std::size_t blockSize, bool checkEachBlock) {
    CNmeaDecoder port(0);
    GpsFix fix{};
    for (std::size_t at = 0; at < bytes.size(); at += blockSize) {
        const std::size_t n = std::min(blockSize, bytes.size() - at);
        port.ParseBuffer(bytes.data() + at, static_cast<int>(n));
        if (checkEachBlock) {
            port.CopyFix(fix);
            EXPECT_TRUE(KeepsInvariants(fix)) << "after the block at " << at;
        }
    }
    port.CopyFix(fix);
    return fix;
}

class EveryCapture : public ::testing::TestWithParam<const char *> {};

// Every block size gives the record of the whole stream. Records between blocks may differ (a
// sentence completes at different times); only the end result must agree.
TEST_P(EveryCapture, AnyBlockSizeGivesTheRecordOfTheWholeStream) {
    SKIP_WITHOUT_CAPTURES();
    std::string bytes;
    ASSERT_TRUE(LoadCapture(GetParam(), bytes));
    const GpsFix whole = DecodeInBlocks(bytes, bytes.size(), false);
    EXPECT_TRUE(KeepsInvariants(whole));
    EXPECT_TRUE(DecodeInBlocks(bytes, 1, true).bValid == whole.bValid);
    // The long captures take every size up to 64 and a spread beyond it, to keep the run short.
    const std::size_t step = bytes.size() > 30000 ? 37 : 1;
    for (std::size_t size = 1; size <= 1024; size += (size < 64 ? 1 : step)) {
        const GpsFix split = DecodeInBlocks(bytes, size, false);
        ASSERT_TRUE(decodetest::SameRecord(split, whole)) << "block size " << size;
    }
}

TEST_P(EveryCapture, DecodesSomethingAndCountsEveryDrop) {
    SKIP_WITHOUT_CAPTURES();
    std::string bytes;
    ASSERT_TRUE(LoadCapture(GetParam(), bytes));
    CNmeaDecoder port(0);
    decodetest::Feed(port, bytes);
    const ScanCounters c = port.CopyCounters();
    EXPECT_GT(c.Decoded(), 0u);
    // Every line that starts with "$" ends up counted exactly once, decoded or dropped, unless it
    // is the unfinished last line.
    std::size_t dollars = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '$'));
    EXPECT_LE(c.Decoded() + c.Dropped(), dollars);
    EXPECT_GE(c.Decoded() + c.Dropped() + 1, dollars);
}

// The stream with each line end (CR LF or LF) replaced by eol, cut after each line end.
std::vector<std::string> WithLineEnds(const std::string &bytes, const std::string &eol) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        if (crlf || bytes[i] == '\n') {
            i += crlf ? 1 : 0;
            lines.back() += eol;
            lines.emplace_back();
        } else {
            lines.back() += bytes[i];
        }
    }
    return lines;
}

// Every line end receivers, loggers and bridges use gives the same records after every line
// (record and what is kept beside it) and the same counters.
TEST_P(EveryCapture, EveryLineEndGivesTheSameRecordsAndCounters) {
    SKIP_WITHOUT_CAPTURES();
    std::string bytes;
    ASSERT_TRUE(LoadCapture(GetParam(), bytes));
    struct Trail {
        std::uint64_t fnv = 0xcbf29ce484222325ull;
        ScanCounters counters;
    };
    const auto trailOf = [](const std::vector<std::string> &lines) {
        Trail t;
        CNmeaDecoder decoder(0);
        for (const std::string &line : lines) {
            decodetest::Feed(decoder, line);
            GpsFix fix;
            FixExtra extra;
            // Their padding is hashed too: cleared first, as assignment leaves it.
            std::memset(static_cast<void *>(&fix), 0, sizeof fix);
            std::memset(static_cast<void *>(&extra), 0, sizeof extra);
            decoder.CopyFix(fix, extra);
            unsigned char raw[sizeof fix + sizeof extra];
            std::memcpy(raw, &fix, sizeof fix);
            std::memcpy(raw + sizeof fix, &extra, sizeof extra);
            for (unsigned char b : raw) {
                t.fnv ^= b;
                t.fnv *= 0x100000001b3ull;
            }
        }
        t.counters = decoder.CopyCounters();
        return t;
    };
    const Trail want = trailOf(WithLineEnds(bytes, "\r\n"));
    EXPECT_GT(want.counters.Decoded(), 0u);
    for (const char *eol : {"\r\r\n", "\n", "\r", "  \r\n"}) {
        const Trail t = trailOf(WithLineEnds(bytes, eol));
        const ScanCounters &a = t.counters, &b = want.counters;
        EXPECT_EQ(t.fnv, want.fnv) << decodetest::Escaped(eol);
        EXPECT_TRUE(a.nGga == b.nGga && a.nGsa == b.nGsa && a.nGsv == b.nGsv && a.nRmc == b.nRmc &&
                    a.nGns == b.nGns && a.nBadChecksum == b.nBadChecksum && a.nCut == b.nCut &&
                    a.nTooLong == b.nTooLong && a.nUnknown == b.nUnknown &&
                    a.nBadByte == b.nBadByte)
            << decodetest::Escaped(eol) << ": " << a.Decoded() << " decoded, " << a.Dropped()
            << " dropped; with CR LF " << b.Decoded() << ", " << b.Dropped();
    }
}

// The records after every line of the GPS-only captures, as the decoder gave them before it read
// fields in place and learnt other constellations: line count and FNV-1a of all records in turn.
struct RecordTrail {
    const char *name;
    std::size_t lines;
    std::uint64_t fnv;
};
const RecordTrail kTrails[] = {
    {"bu353s4.log", 96, 0x88915381cf7c4a4aull},
    {"haicom-305N.log", 335, 0x9ff22fbb93511365ull},
    {"pharos-360.log", 105, 0x39b3e904dfc3725cull},
    {"gpslim236.log", 84, 0xa8855eda918a5e90ull},
    {"blumax-gps009.log", 83, 0xb9f262eacdbfcfadull},
    {"tn200-all.log", 77, 0x922a5562c30990f0ull},
    {"holux-gm-210.log", 50, 0x66837d144a160e5dull},
    {"myguide-3100.log", 113, 0xb066a49532a61a5bull},
    {"mt3339.log", 145, 0x57d777a7fa3b1962ull},
    {"telit-he910.log", 1568, 0xa5607b5e1cc4e50full},
    {"pynmeagps-pygpsdata-nmea2.log", 17, 0xfb918537da96665aull},
};

TEST(GpsOnlyRecords, ByteIdenticalAfterEveryLine) {
    for (const RecordTrail &t : kTrails) {
        std::string bytes;
        ASSERT_TRUE(LoadCapture(t.name, bytes)) << t.name;
        CNmeaDecoder decoder(0);
        std::uint64_t fnv = 0xcbf29ce484222325ull;
        std::size_t lines = 0;
        for (std::size_t at = 0; at < bytes.size(); ++lines) {
            const std::size_t lf = bytes.find('\n', at);
            const std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
            decoder.ParseBuffer(bytes.data() + at, static_cast<int>(end - at));
            GpsFix fix;
            decoder.CopyFix(fix);
            for (std::size_t i = 0; i < sizeof fix; ++i) {
                fnv ^= reinterpret_cast<const unsigned char *>(&fix)[i];
                fnv *= 0x100000001b3ull;
            }
            at = end;
        }
        EXPECT_EQ(lines, t.lines) << t.name;
        EXPECT_EQ(fnv, t.fnv) << t.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Captures, EveryCapture, ::testing::ValuesIn(kAllCaptures),
                         [](const auto &param) { return decodetest::TestName(param.param); });

// ---- Comparison with the other decoder's reports -------------------------------------------

bool JsonNumber(const std::string &line, const std::string &key, double &value) {
    const std::string tag = "\"" + key + "\":";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos)
        return false;
    value = std::strtod(line.c_str() + at + tag.size(), nullptr);
    return true;
}

struct GpsdSat {
    int prn = 0;
    bool hasElAz = false, hasSs = false, used = false;
    double el = 0, az = 0, ss = 0;
};

std::vector<GpsdSat> JsonSatellites(const std::string &line) {
    std::vector<GpsdSat> sats;
    std::size_t at = line.find("\"satellites\":[");
    if (at == std::string::npos)
        return sats;
    while ((at = line.find('{', at)) != std::string::npos) {
        const std::size_t close = line.find('}', at);
        const std::string obj = line.substr(at, close - at + 1);
        GpsdSat s;
        double v = 0;
        if (JsonNumber(obj, "PRN", v)) {
            s.prn = static_cast<int>(v);
        }
        s.hasElAz = JsonNumber(obj, "el", s.el) && JsonNumber(obj, "az", s.az);
        s.hasSs = JsonNumber(obj, "ss", s.ss);
        s.used = obj.find("\"used\":true") != std::string::npos;
        sats.push_back(s);
        at = close;
    }
    return sats;
}

// Field n (1-based, after the type) of a sentence, up to the next comma or "*".
std::string SentenceField(const std::string &s, int n) {
    std::size_t at = s.find(',');
    for (int i = 1; i < n && at != std::string::npos; ++i)
        at = s.find(',', at + 1);
    if (at == std::string::npos)
        return "";
    const std::size_t end = s.find_first_of(",*", at + 1);
    return s.substr(at + 1, end - at - 1);
}

class GpsOnlyCapture : public ::testing::TestWithParam<const char *> {};

// The other decoder echoes every sentence it accepted, then reports what it knows. We feed the
// echoed sentences one at a time and compare our record with the reports that follow each one,
// field by field for the fields that sentence type carries.
TEST_P(GpsOnlyCapture, AgreesWithTheOtherDecodersReports) {
    SKIP_WITHOUT_CAPTURES();
    std::string chk;
    ASSERT_TRUE(LoadCapture(std::string(GetParam()) + ".chk", chk));
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < chk.size();) {
        std::size_t lf = chk.find('\n', at);
        if (lf == std::string::npos)
            lf = chk.size();
        lines.push_back(chk.substr(at, lf - at + 1));
        at = lf + 1;
    }
    CNmeaDecoder port(0);
    int compared = 0;
    std::string type;
    std::string sentence;
    bool fresh = false;    // the first report after the sentence
    unsigned gsvSeen = 0u; // bit m: message m of the current GSV cycle was fed
    for (const std::string &line : lines) {
        if (line.starts_with("$")) {
            sentence = line;
            decodetest::Feed(port, line);
            type = line.size() > 6 ? line.substr(3, 3) : "";
            if (type == "GSV") {
                const int m = std::atoi(SentenceField(line, 2).c_str());
                if (m == 1)
                    gsvSeen = 0;
                if (m >= 1 && m <= 3)
                    gsvSeen |= 1u << m;
            }
            fresh = true;
            continue;
        }
        if (!fresh || sentence.empty())
            continue;
        GpsFix fix;
        port.CopyFix(fix);
        ASSERT_TRUE(KeepsInvariants(fix));
        const std::string where = "after " + sentence;
        double v = 0;
        const bool tpv = line.find("\"class\":\"TPV\"") != std::string::npos;
        const bool sky = line.find("\"class\":\"SKY\"") != std::string::npos;
        if (tpv && type == "RMC") {
            fresh = false;
            const std::size_t t = line.find("\"time\":\"");
            if (t != std::string::npos) {
                int y, mo, d, h, mi, s;
                ASSERT_EQ(std::sscanf(line.c_str() + t + 8, "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h,
                                      &mi, &s),
                          6);
                EXPECT_EQ(fix.nYear, y) << where;
                EXPECT_EQ(fix.bMonth, mo) << where;
                EXPECT_EQ(fix.bDay, d) << where;
                EXPECT_EQ(fix.bHour, h) << where;
                EXPECT_EQ(fix.bMinute, mi) << where;
                EXPECT_EQ(fix.bSecond, s) << where;
                ++compared;
            }
            if (fix.bValid && JsonNumber(line, "lat", v)) {
                EXPECT_NEAR(fix.lLatitude, v * 1e6, 1.001) << where;
                ASSERT_TRUE(JsonNumber(line, "lon", v));
                EXPECT_NEAR(fix.lLongitude, v * 1e6, 1.001) << where;
            }
            if (JsonNumber(line, "speed", v)) {
                EXPECT_NEAR(fix.wSpeed, v * 360.0, 1.2) << where; // m/s to hundredths of km/h
            }
            if (JsonNumber(line, "track", v)) {
                EXPECT_EQ(fix.nCourse, static_cast<int>(v)) << where;
            }
        } else if (tpv && type == "GGA") {
            fresh = false;
            if (JsonNumber(line, "alt", v)) {
                EXPECT_EQ(fix.wAltitude, static_cast<std::uint16_t>(static_cast<int>(v))) << where;
            }
        } else if (tpv && type == "GSA") {
            // The other decoder promotes a 2D fix to 3D once GGA has given an altitude; we keep
            // the mode as the receiver sent it.
            if (JsonNumber(line, "mode", v) && !(fix.cFixMode == 2 && v == 3.0)) {
                EXPECT_EQ(fix.cFixMode, static_cast<int>(v)) << where;
            }
        } else if (sky && type == "GSA") {
            fresh = false;
            ++compared;
            if (JsonNumber(line, "pdop", v)) {
                EXPECT_NEAR(fix.nPdop, std::trunc(v * 10.0), 1.0) << where;
            }
            if (JsonNumber(line, "hdop", v)) {
                EXPECT_NEAR(fix.nHdop, std::trunc(v * 10.0), 1.0) << where;
            }
            if (JsonNumber(line, "vdop", v)) {
                EXPECT_NEAR(fix.nVdop, std::trunc(v * 10.0), 1.0) << where;
            }
        } else if (sky && type == "GSV") {
            fresh = false;
            const std::vector<GpsdSat> sats = JsonSatellites(line);
            const int inView = std::min(12, std::atoi(SentenceField(sentence, 3).c_str()));
            for (int s = 0; s < inView; ++s) {
                // A capture may start in the middle of a cycle: compare the messages we saw.
                if (!(gsvSeen & (1u << (s / 4 + 1))))
                    continue;
                const SatInfo &ours = fix.sat[s];
                const auto it = std::find_if(sats.begin(), sats.end(),
                                             [&](const GpsdSat &g) { return g.prn == ours.bPrn; });
                ASSERT_NE(it, sats.end()) << where << " slot " << s << " PRN " << int{ours.bPrn};
                if (it->hasElAz) {
                    EXPECT_EQ(ours.bElevation, static_cast<int>(it->el)) << where << " slot " << s;
                    EXPECT_EQ(ours.nAzimuth, static_cast<int>(it->az)) << where << " slot " << s;
                }
                EXPECT_EQ(ours.bSnr, it->hasSs ? static_cast<int>(it->ss) : 0) << where;
                const bool usedHere = std::find(std::begin(fix.cUsedPrn), std::end(fix.cUsedPrn),
                                                ours.bPrn) != std::end(fix.cUsedPrn);
                // The other decoder marks a satellite used only while it has a signal.
                if (it->used || it->hasSs) {
                    EXPECT_EQ(usedHere, it->used) << where << " PRN " << int{ours.bPrn};
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Captures, GpsOnlyCapture, ::testing::ValuesIn(kGpsOnlyWithChk),
                         [](const auto &param) { return decodetest::TestName(param.param); });

// GST's errors, the DOPs and a sentence's position at the digits sent, against the other
// decoder's reports (position only where no binary message overrules the sentences).
struct ErrorCapture {
    const char *name;
    bool sentencesPosition;
};
class GstCapture : public ::testing::TestWithParam<ErrorCapture> {};

TEST_P(GstCapture, ErrorsAndDigitsAgreeWithTheOtherDecoder) {
    SKIP_WITHOUT_CAPTURES();
    std::string chk;
    ASSERT_TRUE(LoadCapture(std::string(GetParam().name) + ".chk", chk));
    CNmeaDecoder port(0);
    std::string type;
    int errors = 0, positions = 0, dops = 0;
    for (std::size_t at = 0; at < chk.size();) {
        std::size_t lf = chk.find('\n', at);
        if (lf == std::string::npos)
            lf = chk.size();
        const std::string line = chk.substr(at, lf - at + 1);
        at = lf + 1;
        if (line.starts_with("$")) {
            decodetest::Feed(port, line);
            type = line.size() > 6 ? line.substr(3, 3) : "";
            continue;
        }
        GpsFix fix;
        FixExtra extra;
        port.CopyFix(fix, extra);
        double v = 0;
        if (type == "GST" && line.find("\"class\":\"GST\"") != std::string::npos) {
            type.clear();
            ++errors;
            for (const auto &[key, ours] :
                 {std::pair{"lat", extra.errLatM}, {"lon", extra.errLonM}, {"alt", extra.errAltM}})
                if (JsonNumber(line, key, v)) {
                    EXPECT_NEAR(ours, v, 5e-4) << key << " " << line;
                }
        } else if (type == "GSA" && line.find("\"class\":\"SKY\"") != std::string::npos &&
                   JsonNumber(line, "hdop", v)) {
            type.clear();
            ++dops;
            EXPECT_NEAR(extra.hdop, v, 5e-3) << line;
        } else if (GetParam().sentencesPosition && type == "RMC" && fix.bValid != 0 &&
                   line.find("\"class\":\"TPV\"") != std::string::npos &&
                   JsonNumber(line, "lat", v)) {
            type.clear();
            ++positions;
            EXPECT_NEAR(extra.fineLat, v, 1.5e-9) << line;
            ASSERT_TRUE(JsonNumber(line, "lon", v));
            EXPECT_NEAR(extra.fineLon, v, 1.5e-9) << line;
        }
    }
    EXPECT_GT(errors, 0);
    EXPECT_GT(dops + positions, 0);
    EXPECT_TRUE(positions > 0 || !GetParam().sentencesPosition);
}

INSTANTIATE_TEST_SUITE_P(Captures, GstCapture,
                         ::testing::Values(ErrorCapture{"ublox-neo-m9n-nmea.log", true},
                                           ErrorCapture{"ublox-zed-f9r.log", false}),
                         [](const auto &param) { return decodetest::TestName(param.param.name); });

} // namespace

namespace {

// ---- Captures with binary frames -----------------------------------------------------------

// The frames of each capture as a separate checksum-verifying scan counted them. framesFrom:
// where the recording's frames begin (rtcm3.2.log opens in the middle of one).
struct FramedCapture {
    const char *name;
    std::uint32_t nmea, ubx, rtcm;
    std::size_t framesFrom;
    // UBX only: the other decoder reports a sky after each NAV-SAT, NAV-SIG and NAV-SVINFO.
    bool skyPerFrame;
};
const FramedCapture kFramed[] = {
    {"ublox-glo.log", 0, 2982, 0, 0, true},
    {"ublox-zed-f9p-hp.log", 0, 293, 0, 0, true},
    {"ublox8-uniqid-monhw.log", 52, 100, 0, 0, false},
    {"ublox-neo-m8t.log", 0, 242, 0, 0, true},
    {"u-blox-m8t-time.log", 0, 1511, 0, 0, true},
    {"ublox-f9p-rtcm.log", 0, 16, 15, 0, true},
    {"rtcm3.2.log", 0, 0, 192, 594, false},
    {"ublox-zed-f9r.log", 871, 277, 224, 0, false},
    {"ublox-zed-f9t-ubx_nmea_l5.log", 252, 83, 0, 0, false},
};

std::string NameOf(const FramedCapture &c) {
    return decodetest::TestName(c.name);
}

std::int64_t FixedClock() {
    return 1000;
}

std::string StateInBlocks(const std::string &bytes, const std::vector<std::size_t> &cuts) {
    CNmeaDecoder decoder(0);
    decoder.SetClock(FixedClock);
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        decoder.ParseBuffer(bytes.data() + at, static_cast<int>(cut - at));
        at = cut;
    }
    decoder.ParseBuffer(bytes.data() + at, static_cast<int>(bytes.size() - at));
    return decodetest::StateOf(decoder);
}

class Framed : public ::testing::TestWithParam<FramedCapture> {};

// Every frame whose checksum holds is counted once, whichever protocol; none is lost to another's
// scanner, and a clean stretch of frames has no faults at all.
TEST_P(Framed, CountsEveryFrameOfEveryProtocol) {
    SKIP_WITHOUT_CAPTURES();
    const FramedCapture &row = GetParam();
    std::string bytes;
    ASSERT_TRUE(LoadCapture(row.name, bytes));
    for (std::size_t from : {std::size_t{0}, row.framesFrom}) {
        CNmeaDecoder decoder(0);
        decoder.ParseBuffer(bytes.data() + from, static_cast<int>(bytes.size() - from));
        const ScanCounters c = decoder.CopyCounters();
        EXPECT_EQ(c.NmeaGood(), row.nmea) << "from " << from;
        EXPECT_EQ(c.nUbx, row.ubx) << "from " << from;
        EXPECT_EQ(c.nRtcm, row.rtcm) << "from " << from;
        if (from == row.framesFrom) {
            EXPECT_EQ(c.NmeaBad(), 0u) << "from " << from;
            EXPECT_EQ(c.nUbxBad, 0u) << "from " << from;
            EXPECT_EQ(c.nRtcmBad, 0u) << "from " << from;
        }
    }
}

// Every block size gives the record, table and counters of the whole stream.
TEST_P(Framed, AnyBlockSizeGivesTheStateOfTheWholeStream) {
    SKIP_WITHOUT_CAPTURES();
    std::string bytes;
    ASSERT_TRUE(LoadCapture(GetParam().name, bytes));
    const std::string whole = StateInBlocks(bytes, {});
    for (std::size_t size = 1; size <= 1024; size += (size < 64 ? 1 : 37)) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = size; at < bytes.size(); at += size)
            cuts.push_back(at);
        ASSERT_TRUE(StateInBlocks(bytes, cuts) == whole) << "block size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Captures, Framed, ::testing::ValuesIn(kFramed),
                         [](const auto &param) { return NameOf(param.param); });

// NMEA, UBX and RTCM 3 back to back, a frame cut short among them: wherever the stream is cut in
// two, the record, the table and the counters are those of the whole.
TEST(FramedStream, AnyCutInTwoGivesTheStateOfTheWholeStream) {
    SKIP_WITHOUT_CAPTURES();
    std::string monhw, rtcm, f9t;
    ASSERT_TRUE(LoadCapture("ublox8-uniqid-monhw.log", monhw));
    ASSERT_TRUE(LoadCapture("ublox-f9p-rtcm.log", rtcm));
    ASSERT_TRUE(LoadCapture("ublox-zed-f9t-ubx_nmea_l5.log", f9t));
    // monhw ends in the middle of a frame; the first 4204 bytes of f9t are a whole epoch of
    // sentences and frames.
    const std::string bytes = monhw.substr(monhw.size() - 1500) + rtcm + f9t.substr(0, 4204);
    const std::string whole = StateInBlocks(bytes, {});
    for (std::size_t k = 1; k < bytes.size(); ++k)
        ASSERT_TRUE(StateInBlocks(bytes, {k}) == whole) << "cut at " << k;
}

// ---- Comparison with the other decoder's reports on binary captures --------------------------

// The second of the GPS week of a report's "time"; -1 without one. GPS time has run 18 s ahead
// of UTC since 2017, before every capture here.
long long SecondOfWeek(const std::string &line) {
    const std::size_t at = line.find("\"time\":\"");
    std::tm tm{};
    double sec = 0;
    if (at == std::string::npos ||
        std::sscanf(line.c_str() + at + 8, "%d-%d-%dT%d:%d:%lf", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const long long utc = static_cast<long long>(timegm(&tm)) + std::llround(sec);
    return (utc - 315964800 + 18) % 604800;
}

// NAV messages whose payload opens with the epoch's time of week.
bool OpensWithTimeOfWeek(unsigned id) {
    for (unsigned nav : {0x01u, 0x02u, 0x03u, 0x04u, 0x06u, 0x07u, 0x11u, 0x12u, 0x20u, 0x21u,
                         0x22u, 0x26u, 0x30u, 0x35u, 0x43u, 0x61u})
        if (id == nav)
            return true;
    return false;
}

// A satellite as the other decoder names it (gnssid, svid) in our systems; false for none.
bool OurSatellite(int gnssid, int svid, Gnss &gnss) {
    static const int kSystems[] = {static_cast<int>(Gnss::GPS),
                                   static_cast<int>(Gnss::SBAS),
                                   static_cast<int>(Gnss::Galileo),
                                   static_cast<int>(Gnss::BeiDou),
                                   -1,
                                   static_cast<int>(Gnss::QZSS),
                                   static_cast<int>(Gnss::GLONASS),
                                   static_cast<int>(Gnss::NavIC)};
    if (gnssid < 0 || gnssid > 7 || kSystems[gnssid] < 0 || svid <= 0 || svid == 255)
        return false;
    gnss = static_cast<Gnss>(kSystems[gnssid]);
    return true;
}

// The NMEA signal id of a UBX signal (gnssId, sigId), as u-blox's NMEA output numbers it; 0 for
// one without a table row here.
int NmeaSignalId(int gnssid, int sigid) {
    struct Row {
        int gnssid, sigid, nmea;
    };
    static const Row kRows[] = {{0, 0, 1}, {0, 3, 6}, {0, 4, 5},  {0, 6, 7},  {0, 7, 8}, {1, 0, 1},
                                {2, 0, 7}, {2, 1, 7}, {2, 3, 1},  {2, 4, 1},  {2, 5, 2}, {2, 6, 2},
                                {3, 0, 1}, {3, 1, 1}, {3, 2, 11}, {3, 3, 11}, {3, 5, 3}, {3, 6, 3},
                                {3, 7, 5}, {3, 8, 5}, {5, 0, 1},  {5, 1, 4},  {5, 4, 5}, {5, 5, 6},
                                {5, 8, 7}, {5, 9, 8}, {6, 0, 1},  {6, 2, 3},  {7, 0, 1}};
    for (const Row &r : kRows)
        if (r.gnssid == gnssid && r.sigid == sigid)
            return r.nmea;
    return 0;
}

const SkySat *FindSat(const SkyView &sky, Gnss gnss, int sv) {
    for (std::size_t i = 0; i < sky.count; ++i)
        if (sky.sats[i].gnss == gnss && sky.sats[i].sv == sv)
            return &sky.sats[i];
    return nullptr;
}

// One sky report against our table after the frame it followed: after NAV-SAT or NAV-SVINFO the
// satellites (position, use, and strength until signal lists come: ours is then the strongest
// signal's, the report's the list's own), after NAV-SIG every signal of every satellite.
void CompareSky(const std::string &report, const SkyView &sky, bool signals, bool satelliteSnr,
                const std::string &where) {
    double v = 0;
    std::map<std::pair<int, int>, int> signalsOf;
    std::size_t listed = 0;
    for (std::size_t at = report.find("\"satellites\":["); at != std::string::npos;) {
        at = report.find('{', at);
        if (at == std::string::npos)
            break;
        const std::size_t close = report.find('}', at);
        const std::string obj = report.substr(at, close - at + 1);
        at = close;
        int gnssid = -1, svid = 0, sigid = 0;
        if (JsonNumber(obj, "gnssid", v))
            gnssid = static_cast<int>(v);
        if (JsonNumber(obj, "svid", v))
            svid = static_cast<int>(v);
        if (JsonNumber(obj, "sigid", v))
            sigid = static_cast<int>(v);
        Gnss gnss{};
        if (!OurSatellite(gnssid, svid, gnss))
            continue;
        const SkySat *ours = FindSat(sky, gnss, svid);
        ASSERT_NE(ours, nullptr) << where << ": " << obj;
        double ss = 0;
        const bool hasSs = JsonNumber(obj, "ss", ss);
        if (signals) {
            ++signalsOf[{gnssid, svid}];
            const int id = NmeaSignalId(gnssid, sigid);
            const auto sig = std::find_if(ours->sigs, ours->sigs + ours->nSigs,
                                          [&](const SkySignal &g) { return g.id == id; });
            ASSERT_NE(sig, ours->sigs + ours->nSigs) << where << ": " << obj;
            EXPECT_EQ(sig->snr, hasSs ? static_cast<int>(ss) : 0) << where << ": " << obj;
            continue;
        }
        ++listed;
        double el = 0, az = 0;
        const bool hasEl = JsonNumber(obj, "el", el) && JsonNumber(obj, "az", az);
        EXPECT_EQ(ours->hasPosition, hasEl) << where << ": " << obj;
        if (hasEl && ours->hasPosition) {
            EXPECT_EQ(ours->el, static_cast<int>(el)) << where << ": " << obj;
            EXPECT_EQ(ours->az, static_cast<int>(az)) << where << ": " << obj;
        }
        if (satelliteSnr) {
            EXPECT_EQ(ours->snr, hasSs ? static_cast<int>(ss) : 0) << where << ": " << obj;
        }
        EXPECT_EQ(ours->used, obj.find("\"used\":true") != std::string::npos)
            << where << ": " << obj;
    }
    if (signals) {
        for (const auto &[sat, n] : signalsOf) {
            Gnss gnss{};
            ASSERT_TRUE(OurSatellite(sat.first, sat.second, gnss));
            EXPECT_EQ(FindSat(sky, gnss, sat.second)->nSigs, n)
                << where << ": signals of " << sat.first << "/" << sat.second;
        }
    } else {
        EXPECT_EQ(sky.count, listed) << where;
    }
}

// One fix report against our record at the end of its epoch: position, mode, altitude, speed
// and the jamming indicator where the report has them. The mode is the solution's type, as the
// other decoder keeps it; a fix the receiver did not vouch for (gnssFixOK clear) is not valid.
void CompareFix(const std::string &report, const GpsFix &fix, const FixExtra &extra, bool fixOk,
                const std::string &where) {
    double v = 0;
    if (JsonNumber(report, "mode", v)) {
        EXPECT_EQ(fix.cFixMode, static_cast<int>(v)) << where;
        EXPECT_EQ(fix.bValid, fixOk && v >= 2 ? 1 : 0) << where;
    }
    // Differential and RTK solutions as GGA's quality (2 DGPS, 4 RTK fixed, 5 RTK float),
    // whether a GGA or NAV-PVT gave it.
    if (JsonNumber(report, "status", v) && v >= 2 && v <= 4) {
        EXPECT_EQ(extra.quality, v == 2 ? 2 : v == 3 ? 4 : 5) << where;
    }
    if (JsonNumber(report, "lat", v)) {
        const double lat = extra.hasPrecise ? extra.preciseLat : fix.lLatitude * 1e-6;
        EXPECT_NEAR(lat, v, 1.001e-6) << where;
        ASSERT_TRUE(JsonNumber(report, "lon", v));
        const double lon = extra.hasPrecise ? extra.preciseLon : fix.lLongitude * 1e-6;
        EXPECT_NEAR(lon, v, 1.001e-6) << where;
    }
    // Altitude above mean sea level in whole metres, speed in hundredths of km/h, where ours set;
    // with sentences beside the frames the report may hold the sentences' rounded values.
    if ((extra.sent & kSentAltitude) != 0 && JsonNumber(report, "altMSL", v)) {
        EXPECT_NEAR(static_cast<std::int16_t>(fix.wAltitude), v, 1.0) << where;
    }
    if ((extra.sent & kSentSpeed) != 0 && JsonNumber(report, "speed", v)) {
        EXPECT_NEAR(fix.wSpeed, v * 360.0, 2.0) << where;
    }
    // The corrections' age and station, as GGA fields 13 and 14 give them.
    if (JsonNumber(report, "dgpsAge", v)) {
        EXPECT_NEAR(extra.diffAgeS, v, 0.01) << where;
        ASSERT_TRUE(JsonNumber(report, "dgpsSta", v)) << where;
        EXPECT_EQ(extra.diffStation, static_cast<int>(v)) << where;
    } else {
        EXPECT_LT(extra.diffAgeS, 0.0f) << where;
    }
    if (JsonNumber(report, "jam", v)) {
        ASSERT_GE(extra.integrity.nBlocks, 1) << where;
        EXPECT_EQ(extra.integrity.blocks[0].jamInd, static_cast<int>(v)) << where;
    }
}

class FramedWithChk : public ::testing::TestWithParam<FramedCapture> {};

// The other decoder reads the same frames and reports each epoch's fix (TPV) and, on the
// binary-only captures, a sky after each satellite or signal list. We feed the capture a byte at
// a time and compare, epoch by epoch (the time of week the NAV frames carry), and frame by frame.
TEST_P(FramedWithChk, AgreesWithTheOtherDecodersReports) {
    SKIP_WITHOUT_CAPTURES();
    const FramedCapture &row = GetParam();
    std::string bytes, chk;
    ASSERT_TRUE(LoadCapture(row.name, bytes));
    ASSERT_TRUE(LoadCapture(std::string(row.name) + ".chk", chk));
    std::map<long long, std::string> fixAt; // the last fix report of each second of the week
    std::vector<std::string> skies;
    bool anyJam = false;
    for (std::size_t at = 0; at < chk.size();) {
        std::size_t lf = chk.find('\n', at);
        if (lf == std::string::npos)
            lf = chk.size();
        const std::string line = chk.substr(at, lf - at);
        at = lf + 1;
        if (line.find("\"class\":\"TPV\"") != std::string::npos && SecondOfWeek(line) >= 0) {
            fixAt[SecondOfWeek(line)] = line;
            anyJam = anyJam || line.find("\"jam\":") != std::string::npos;
        } else if (line.find("\"class\":\"SKY\"") != std::string::npos &&
                   line.find("\"satellites\":[") != std::string::npos) {
            skies.push_back(line);
        }
    }
    ASSERT_FALSE(fixAt.empty());

    CNmeaDecoder decoder(0);
    decoder.SetClock(FixedClock);
    GpsFix fix{};
    FixExtra extra{};
    auto sky = std::make_unique<SkyView>();
    long long epoch = -1;
    bool fixOk = true;        // the epoch's latest NAV-PVT, NAV-SOL or NAV-STATUS vouched
    bool signalLists = false; // a NAV-SIG was read
    std::size_t pendingSatellites = skies.size(); // a NAV-SAT report waiting for its NAV-SIG
    std::size_t fixes = 0, skiesSeen = 0;
    int skyFrame = 0; // the id of the satellite or signal list just read, 0 none
    const auto finish = [&](long long second) {
        const auto it = fixAt.find(second);
        if (it == fixAt.end())
            return;
        ++fixes;
        CompareFix(it->second, fix, extra, fixOk, std::string(row.name) + " " + it->second);
    };
    NmeaHooks hooks;
    hooks.onFrame = [&](FrameProtocol protocol, const unsigned char *frame, std::size_t n) {
        if (protocol != FrameProtocol::Ubx || frame[2] != 0x01 || n < 10)
            return;
        if (OpensWithTimeOfWeek(frame[3])) {
            const long long tow =
                frame[6] | frame[7] << 8 | frame[8] << 16 | static_cast<long long>(frame[9]) << 24;
            const long long second = (tow + 500) / 1000 % 604800;
            // The record as the epoch before left it: this frame is not decoded yet.
            if (second != epoch && epoch >= 0)
                finish(epoch);
            epoch = second;
        }
        // gnssFixOK: flags of NAV-PVT (payload byte 21), NAV-SOL (11) and NAV-STATUS (5), bit 0.
        const std::size_t flags = frame[3] == 0x07   ? 21
                                  : frame[3] == 0x06 ? 11
                                  : frame[3] == 0x03 ? 5
                                                     : 0;
        if (flags != 0 && n > 6 + flags + 2)
            fixOk = (frame[6 + flags] & 1) != 0;
        if (frame[3] == 0x35 || frame[3] == 0x30 || frame[3] == 0x43)
            skyFrame = frame[3];
    };
    decoder.SetHooks(std::move(hooks));
    for (char byte : bytes) {
        decoder.ParseBuffer(&byte, 1);
        decoder.CopyFix(fix, extra);
        if (skyFrame != 0 && row.skyPerFrame) {
            ASSERT_LT(skiesSeen, skies.size()) << "more satellite lists than sky reports";
            const std::string where =
                std::string(row.name) + " sky report " + std::to_string(skiesSeen + 1);
            // Once signal lists come, the table shows an epoch's satellites with its signals.
            if (skyFrame == 0x35 && signalLists) {
                pendingSatellites = skiesSeen++;
            } else {
                decoder.CopySky(*sky);
                if (skyFrame == 0x43 && pendingSatellites < skies.size())
                    CompareSky(skies[pendingSatellites], *sky, false, false, where);
                pendingSatellites = skies.size();
                signalLists = signalLists || skyFrame == 0x43;
                CompareSky(skies[skiesSeen++], *sky, skyFrame == 0x43, !signalLists, where);
            }
        }
        skyFrame = 0;
    }
    finish(epoch);
    // A report may fall in an epoch whose frames the capture cut off.
    EXPECT_GE(fixes + 2, fixAt.size());
    EXPECT_GT(fixes, 0u);
    if (row.skyPerFrame) {
        EXPECT_EQ(skiesSeen, skies.size());
    }
    if (!anyJam) {
        for (std::size_t b = 0; b < extra.integrity.nBlocks; ++b)
            EXPECT_EQ(extra.integrity.blocks[b].jamInd, -1) << "block " << b;
    }
}

std::vector<FramedCapture> WithUbx() {
    std::vector<FramedCapture> rows;
    for (const FramedCapture &c : kFramed)
        if (c.ubx > 0)
            rows.push_back(c);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Captures, FramedWithChk, ::testing::ValuesIn(WithUbx()),
                         [](const auto &param) { return NameOf(param.param); });

} // namespace
