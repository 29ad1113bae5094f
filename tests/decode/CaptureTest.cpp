#include "DecodeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
                                    "ublox-zed-f9r.log",
                                    "ublox-zed-f9t-ubx_nmea_l5.log",
                                    "ublox-f9p-hpnmea.log",
                                    "quectel-eg25-g.log"};

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
                         [](const auto &param) {
                             std::string n = param.param;
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

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
                         [](const auto &param) {
                             std::string n = param.param;
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

} // namespace
