#include "../support/ToolRecords.h"
#include "DecodeTestSupport.h"
#include "protocol/UbxMessages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using decodetest::Sentence;

namespace {

const std::string kTool = std::string(SKYWATCH_BINARY_DIR) + "/tools/skywatch-decode";

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs the tool through the shell: args are pasted as they are, so quote what needs it. Its
// standard output is kept unless stdoutTo names where it goes instead.
ToolRun RunTool(const std::string &args, const std::string &env = "TZ=UTC",
                const std::string &stdoutTo = "") {
    const std::string dir = ::testing::TempDir();
    // CTest runs these tests in parallel processes: each run gets files of its own.
    static int runs = 0;
    const std::string tag = std::to_string(getpid()) + "_" + std::to_string(++runs);
    const std::string out = dir + "/decode_tool_out_" + tag + ".txt";
    const std::string err = dir + "/decode_tool_err_" + tag + ".txt";
    const std::string cmd = env + " '" + kTool + "' " + args + " >'" +
                            (stdoutTo.empty() ? out : stdoutTo) + "' 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    ToolRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    decodetest::ReadFile(out, r.out);
    decodetest::ReadFile(err, r.err);
    return r;
}

std::string WriteTemp(const std::string &name, const std::string &bytes) {
    const std::string path = ::testing::TempDir() + "/" + std::to_string(getpid()) + "_" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1)
        lines.push_back(text.substr(at, lf - at));
    if (at < text.size())
        lines.push_back(text.substr(at));
    return lines;
}

// The last record with the satellite table the records before it gave, where it left it out.
std::string WithLastTable(const std::vector<std::string> &lines) {
    std::string table, last;
    for (const std::string &line : lines)
        last = WithTable(line, table);
    return last;
}

const std::string kStream =
    Sentence("GPRMC,104500,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
    "garbage line\r\n" + Sentence("GPGLL,4916.45,N,12311.12,W,225444,A") +
    Sentence("GPGGA,104500,4807.038,N,01131.000,E,1,08,0.9,-12.6,M,46.9,M,,") +
    "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*00\r\n" +
    Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") + Sentence("GPGSV,1,1,01,07,40,283,46");

class DecodeTool : public ::testing::Test {
protected:
    // The tool is a build dependency of this test, so a missing binary is a failure.
    void SetUp() override {
        ASSERT_EQ(std::system(("test -x '" + kTool + "'").c_str()), 0) << kTool << " not built";
    }
};

TEST_F(DecodeTool, PrintsOneRecordPerDecodedSentence) {
    const std::string path = WriteTemp("tool_stream.nmea", kStream);
    const ToolRun r = RunTool("'" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out; // RMC, GGA, the good GSA, GSV
    EXPECT_NE(lines[0].find("\"bHour\":10,\"bMinute\":45"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"lLatitude\":48117300,\"lLongitude\":11516666"), std::string::npos);
    EXPECT_NE(lines[0].find("\"wAltitude\":0,"), std::string::npos); // GGA not yet decoded
    EXPECT_NE(lines[1].find("\"cSatsUsed\":8,\"wAltitude\":65524"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"cUsedPrn\":[4,5,0,9,12,0,0,24,0,0,0,0]"), std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find("{\"bPrn\":7,\"bElevation\":40,\"bSnr\":46,\"nAzimuth\":283}"),
              std::string::npos)
        << lines[3];
    for (const std::string &line : lines) {
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
    }
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(DecodeTool, LastStatsBlockSizeAndStandardInputAgree) {
    const std::string path = WriteTemp("tool_stream.nmea", kStream);
    const ToolRun whole = RunTool("--last --stats '" + path + "'");
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    ASSERT_EQ(Lines(whole.out).size(), 1u);
    const std::vector<std::string> every = Lines(RunTool("'" + path + "'").out);
    ASSERT_FALSE(every.empty());
    EXPECT_EQ(Lines(whole.out)[0], every.back());
    EXPECT_NE(whole.err.find("\"GGA\":1,\"GSA\":1,\"GSV\":1,\"RMC\":1,\"badChecksum\":1"),
              std::string::npos)
        << whole.err;
    EXPECT_NE(whole.err.find("\"unknownType\":1"), std::string::npos) << whole.err;

    const ToolRun bytewise = RunTool("--block-size 1 --last '" + path + "'");
    EXPECT_EQ(bytewise.out, whole.out);
    const ToolRun piped = RunTool("--last - <'" + path + "'");
    EXPECT_EQ(piped.out, whole.out);
    const ToolRun implicitStdin = RunTool("--last <'" + path + "'");
    EXPECT_EQ(implicitStdin.out, whole.out);
}

// Sentences, UBX and RTCM 3 frames mixed: every record and the counters are the same whatever
// the block size, and every frame is counted by its protocol (as a separate scan counted them).
TEST_F(DecodeTool, MixedCapturesGiveTheSameRecordsAtEveryBlockSize) {
    const struct {
        const char *capture, *protocols;
    } kMixed[] = {
        {"ublox-zed-f9r.log", "\"protocols\":{\"NMEA\":{\"ok\":871,\"bad\":0},\"UBX\":{\"ok\":277,"
                              "\"bad\":0},\"RTCM3\":{\"ok\":224,\"bad\":0}}"},
        {"ublox8-uniqid-monhw.log", "\"protocols\":{\"NMEA\":{\"ok\":52,\"bad\":0},\"UBX\":{"
                                    "\"ok\":100,\"bad\":0},\"RTCM3\":{\"ok\":0,\"bad\":0}}"},
        {"ublox-f9p-rtcm.log", "\"protocols\":{\"NMEA\":{\"ok\":0,\"bad\":0},\"UBX\":{\"ok\":16,"
                               "\"bad\":0},\"RTCM3\":{\"ok\":15,\"bad\":0}}"},
    };
    for (const auto &c : kMixed) {
        const std::string path = std::string(SKYWATCH_NMEA_DIR) + "/" + c.capture;
        const ToolRun whole = RunTool("--stats '" + path + "'");
        ASSERT_EQ(whole.exitCode, 0) << whole.err;
        const std::vector<std::string> lines = Lines(whole.out);
        EXPECT_GE(lines.size(), 8u) << c.capture; // a record per message read
        EXPECT_NE(whole.err.find(c.protocols), std::string::npos) << c.capture << ": " << whole.err;
        // The table goes out only when it changed; the last one given is the last record's.
        const auto withTable = std::count_if(lines.begin(), lines.end(), [](const auto &line) {
            return line.find(",\"sky\":[") != std::string::npos;
        });
        EXPECT_GT(withTable, 0) << c.capture;
        EXPECT_EQ(WithLastTable(lines), Lines(RunTool("--last '" + path + "'").out).at(0))
            << c.capture;
        const std::string gz = WriteTemp("capture.gz", "");
        ASSERT_EQ(std::system(("gzip -c '" + path + "' >'" + gz + "'").c_str()), 0);
        for (const std::string &args :
             {"--block-size 1 '" + path + "'", "--block-size 7 '" + path + "'",
              "--block-size 100 '" + path + "'", "--block-size 4096 '" + path + "'",
              // zlib reads a gzip recording as the replay does.
              "'" + gz + "'", "- <'" + gz + "'"}) {
            const ToolRun other = RunTool("--stats " + args);
            EXPECT_TRUE(other.out == whole.out) << c.capture << " " << args;
            EXPECT_EQ(other.err, whole.err) << c.capture << " " << args;
        }
        // Records and counters in one pipe: each stream's lines stay whole.
        for (const auto &[args, records] :
             {std::pair<std::string, std::size_t>{"--last --stats", 1},
              {"--stats", lines.size()}}) {
            const ToolRun shared = RunTool(args + " '" + path + "' 2>&1 | cat");
            const std::vector<std::string> sharedLines = Lines(shared.out);
            EXPECT_EQ(sharedLines.size(), records + 1) << args;
            for (const std::string &line : sharedLines)
                EXPECT_TRUE(nlohmann::json::accept(line))
                    << c.capture << " " << args << ": " << line;
        }
    }
}

TEST_F(DecodeTool, TimeZoneFromTheEnvironmentShiftsHourAndMinute) {
    const std::string path = WriteTemp("tool_stream.nmea", kStream);
    const ToolRun india = RunTool("--last '" + path + "'", "TZ=IST-5:30");
    ASSERT_EQ(india.exitCode, 0) << india.err;
    EXPECT_NE(india.out.find("\"bHour\":16,\"bMinute\":15"), std::string::npos) << india.out;
}

TEST_F(DecodeTool, UnreadableFileGivesOneLineAndExitTwo) {
    const std::string missing = ::testing::TempDir() + "/no such capture.nmea";
    const ToolRun r = RunTool("'" + missing + "'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
    ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;

    const ToolRun dir = RunTool("'" + ::testing::TempDir() + "'");
    EXPECT_EQ(dir.exitCode, 2);
    EXPECT_EQ(Lines(dir.err).size(), 1u) << dir.err;

    // No sentence and no frame: not a receiver's recording, so no zero record either.
    std::string capture;
    ASSERT_TRUE(decodetest::ReadFile(std::string(SKYWATCH_NMEA_DIR) + "/LICENSES/gpsd-COPYING.txt",
                                     capture));
    const std::string gz = WriteTemp("cut.gz", "");
    ASSERT_EQ(std::system(("gzip -c '" + std::string(SKYWATCH_NMEA_DIR) +
                           "/telit-he910.log' | head -c 3000 >'" + gz + "'")
                              .c_str()),
              0);
    for (const auto &[args, says] :
         {std::pair<std::string, std::string>{"--last '" + WriteTemp("licence.txt", capture) + "'",
                                              "holds no NMEA sentence, UBX or RTCM 3 frame"},
          {"--summary - </dev/null", "holds no NMEA sentence"},
          {"--last '" + gz + "'", "cannot read " + gz}}) {
        const ToolRun none = RunTool(args);
        EXPECT_EQ(none.exitCode, 2) << args;
        EXPECT_TRUE(none.out.empty()) << args << ": " << none.out;
        EXPECT_NE(none.err.find(says), std::string::npos) << args << ": " << none.err;
    }
}

TEST_F(DecodeTool, BadOptionsExitTwo) {
    EXPECT_EQ(RunTool("--block-size 0 -").exitCode, 2);
    EXPECT_EQ(RunTool("--block-size x -").exitCode, 2);
    const ToolRun bad = RunTool("--frobnicate -");
    EXPECT_EQ(bad.exitCode, 2);
    // The usage a mistake prints is the one the help opens with.
    const ToolRun help = RunTool("--help");
    EXPECT_EQ(help.exitCode, 0);
    const std::size_t at = bad.err.find("usage:");
    ASSERT_NE(at, std::string::npos) << bad.err;
    EXPECT_EQ(help.out.rfind(bad.err.substr(at), 0), 0u) << help.out;
}

} // namespace

namespace {

// The table and GGA's quality reach the JSON: every satellite with its system and signals, the
// counts per system, the quality as a word and a number.
struct JsonCase {
    const char *name;
    std::string stream;
    std::vector<std::string> want; // pieces of the last record, each found as it is
    const char *capture = nullptr; // a capture read instead of the stream
};

const JsonCase kJsonCases[] = {
    {"SatellitesAndCountsPerSystem",
     Sentence("GPGSV,1,1,02,05,40,083,46,44,10,100,") + Sentence("GLGSV,1,1,01,66,37,078,27") +
         Sentence("GNGSA,A,3,05,,,,,,,,,,,,2.0,1.0,1.7,1") +
         Sentence("GNGSA,A,3,66,,,,,,,,,,,,2.0,1.0,1.7,2"),
     {"\"sky\":[{\"gnss\":\"GPS\",\"sv\":5,\"el\":40,\"az\":83,\"snr\":46,\"used\":true,"
      "\"signals\":[{\"id\":0,\"band\":\"\",\"snr\":46}]},{\"gnss\":\"SBAS\",\"sv\":131,"
      "\"el\":10,\"az\":100,\"snr\":0,\"used\":false,\"signals\":[{\"id\":0,\"band\":\"\","
      "\"snr\":0}]},{\"gnss\":\"GLONASS\",\"sv\":2,\"el\":37,\"az\":78,\"snr\":27,\"used\":true,",
      "\"inView\":3,\"used\":2,\"signalsTracked\":2,\"leftOut\":0,\"systems\":{\"GPS\":{"
      "\"inView\":1,\"used\":1,\"signalsTracked\":1,\"leftOut\":0},\"SBAS\":{\"inView\":1,"
      "\"used\":0,\"signalsTracked\":0,\"leftOut\":0},\"GLONASS\":{",
      "\"quality\":null"}},
    {"TwoBandsOfOneSatellite",
     Sentence("GPGSV,1,1,01,05,40,083,30,1") + Sentence("GPGSV,1,1,01,05,40,083,41,8") +
         Sentence("GAGSV,1,1,01,11,20,200,,7") + Sentence("GBGSV,1,1,01,09,22,048,26,B"),
     {"\"sv\":5,\"el\":40,\"az\":83,\"snr\":41,\"used\":false,\"signals\":[{\"id\":1,\"band\":"
      "\"L1 C/A\",\"snr\":30},{\"id\":8,\"band\":\"L5 Q\",\"snr\":41}]}",
      "\"signals\":[{\"id\":7,\"band\":\"E1\",\"snr\":0}]",
      "\"signals\":[{\"id\":11,\"band\":\"B2I\",\"snr\":26}]", "\"signalsTracked\":3,"}},
    {"QualityDgps",
     Sentence("GPGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,"),
     {"\"quality\":{\"value\":2,\"name\":\"DGPS\"}"}},
    {"QualityRtkFixed",
     Sentence("GNGGA,123519,4807.038,N,01131.000,E,4,12,0.9,545.4,M,46.9,M,1.0,0041"),
     {"\"quality\":{\"value\":4,\"name\":\"RTK fixed\"}"}},
    // The record keeps whole metres modulo 65536; altitude_m says them signed, as sent.
    {"NegativeAltitude",
     Sentence("GPGGA,093000,3130.000,N,03530.000,E,1,07,1.1,-412.3,M,20.1,M,,"),
     {"\"wAltitude\":65124,\"altitude_m\":-412.3,"}},
    {"QualityRtkFloatAndGnsMode",
     Sentence("GNGGA,123519,4807.038,N,01131.000,E,5,12,0.9,545.4,M,46.9,M,1.0,0041") +
         Sentence("GNGNS,123519,4807.038,N,01131.000,E,FFRN,12,0.9,545.4,46.9,1.0,0041,V"),
     {"\"quality\":{\"value\":5,\"name\":\"RTK float\"},\"gnsMode\":\"FFRN\",\"carrier\":null,"
      "\"accuracy\":{},\"precise\":null,\"integrity\":{\"jamInd\":[],\"agcPct\":[],\"jamming\":"
      "\"unknown\",\"spoofing\":\"unknown\",\"antenna\":\"unknown\",\"antPower\":\"unknown\"}",
      // The receiver's own word on its corrections: GGA fields 13 and 14.
      "\"rxAge_s\":1.0,\"rxStation\":41,"}},
    // The receivers' binary messages, values as a separate scan of the frames read them: MON-RF
    // (jamInd, agcCnt of 8191, antenna), NAV-PVT (carrSoln, hAcc, vAcc, sAcc in mm and mm/s),
    // NAV-HPPOSLLH (lat + latHp, ...), NAV-SIG (sigId, cno, qualityInd).
    {"MonRfTwoBlocks",
     "",
     {"\"carrier\":\"none\",\"accuracy\":{\"h_m\":1.578,\"v_m\":2.333,\"speed_mps\":0.018},",
      "\"integrity\":{\"jamInd\":[31,12],\"agcPct\":[60.0,51.4],\"jamming\":\"unknown\","
      "\"spoofing\":\"unknown\",\"antenna\":\"ok\",\"antPower\":\"on\"}"},
     "ublox-zed-f9t-ubx_nmea_l5.log"},
    {"CompactMonRfHasNoJammingIndicator",
     "",
     {"\"carrier\":\"float\",\"accuracy\":{\"h_m\":0.080,\"v_m\":0.084,\"speed_mps\":0.191}",
      "\"jamInd\":[null,null]"},
     "ublox-zed-f9r.log"},
    {"HighPrecisionPosition",
     "",
     {"\"precise\":{\"lat\":-45.877542968,\"lon\":170.500099387,\"height_m\":26.2553,"
      "\"msl_m\":24.4647}",
      "\"accuracy\":{\"h_m\":14.922,\"v_m\":12.457,"},
     "ublox-zed-f9p-hp.log"},
    {"SignalsWithTheirQuality",
     "",
     {"\"gnss\":\"GPS\",\"sv\":15,",
      "\"signals\":[{\"id\":1,\"band\":\"L1 C/A\",\"snr\":48,"
      "\"quality\":\"carrier lock\"},{\"id\":6,\"band\":\"L2 CL\",\"snr\":25,\"quality\":"
      "\"code lock\"}]",
      "{\"id\":2,\"band\":\"E5b\",\"snr\":17,\"quality\":\"unusable\"}"},
     "ublox-f9p-rtcm.log"},
};

class DecodeToolJson : public DecodeTool, public ::testing::WithParamInterface<JsonCase> {};

TEST_P(DecodeToolJson, LastRecordHolds) {
    const std::string path = GetParam().capture != nullptr
                                 ? std::string(SKYWATCH_NMEA_DIR) + "/" + GetParam().capture
                                 : WriteTemp("json.nmea", GetParam().stream);
    const ToolRun r = RunTool("--last '" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string &piece : GetParam().want)
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Json, DecodeToolJson, ::testing::ValuesIn(kJsonCases),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace

namespace {

double JsonField(const std::string &json, const std::string &key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1.0
                                   : std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

// Figures computed beside the tool by a separate script over the same sentences (numpy's
// percentile, WGS84 radii); the tool must agree within a centimetre.
struct SummaryCase {
    const char *capture;
    const char *reference;
    double fixes, cep50, cep95, drms2, vertical95, east, north, up;
};
const SummaryCase kSummaries[] = {
    {"telit-he910.log", "", 187, 1.3805, 2.2733, 2.9641, 4.0339, 0, 0, 0},
    {"quectel-l76k-nmea.log", "", 151, 0.1234, 0.1945, 0.2573, 0.0, 0, 0, 0},
    {"vespucci-2020_03_27.nmea", "", 216, 157.9538, 235.0850, 326.5664, 14.1468, 0, 0, 0},
    {"telit-he910.log", "--reference 50.8402,4.3471,100", 187, 1.6728, 3.5285, 4.2952, 4.0339,
     -1.5362, -0.2360, 6.3339},
};

TEST_F(DecodeTool, SummaryMatchesFiguresComputedIndependently) {
    for (const SummaryCase &c : kSummaries) {
        SCOPED_TRACE(std::string(c.capture) + " " + c.reference);
        const ToolRun r = RunTool(std::string("--summary ") + c.reference + " '" +
                                  SKYWATCH_NMEA_DIR + "/" + c.capture + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonField(r.out, "fixes"), c.fixes) << r.out;
        EXPECT_NEAR(JsonField(r.out, "cep50_m"), c.cep50, 0.01) << r.out;
        EXPECT_NEAR(JsonField(r.out, "cep95_m"), c.cep95, 0.01);
        EXPECT_NEAR(JsonField(r.out, "drms2_m"), c.drms2, 0.01);
        EXPECT_NEAR(JsonField(r.out, "vertical95_m"), c.vertical95, 0.01);
        if (c.reference[0] != '\0') {
            EXPECT_NEAR(JsonField(r.out, "east"), c.east, 0.01) << r.out;
            EXPECT_NEAR(JsonField(r.out, "north"), c.north, 0.01);
            EXPECT_NEAR(JsonField(r.out, "up"), c.up, 0.01);
        }
    }
    // A stream without a fix has no figures; a bad reference is a usage error.
    EXPECT_NE(RunTool("--summary '" +
                      WriteTemp("nofix.nmea", Sentence("GPGSV,1,1,01,07,40,283,46")) + "'")
                  .out.find("{\"fixes\": 0, \"mean\": null"),
              std::string::npos);
    EXPECT_EQ(RunTool("--summary --reference 91,0 -").exitCode, 2);
    EXPECT_EQ(RunTool("--summary --reference 1,2,3,4 -").exitCode, 2);
}

// The epochs a capture gives a fix for, walked here frame by frame and line by line: UBX times
// of week whose fullest solution message (NAV-PVT, else NAV-SOL, else NAV-STATUS) says gnssFixOK
// with a 2D, 3D, GNSS+DR or time-only fix, and the times ("hh:mm:ss") of those and of the
// sentences with a fix (RMC status A, GGA quality above 0).
struct FixEpochs {
    std::size_t ubxValid = 0, ubxTimed = 0;
    std::set<std::string> times;
    // Each time once: the UBX epochs and the sentences' epochs of other times.
    std::size_t Count() const { return ubxTimed == ubxValid ? times.size() : ubxValid; }
};

FixEpochs ValidEpochs(const std::string &log) {
    std::map<std::uint32_t, std::pair<int, bool>> epochs; // rank of the message, valid
    std::map<std::uint32_t, std::string> pvtTimes;
    FixEpochs out;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(log.data());
    for (std::size_t i = 0; i + 8 <= log.size(); ++i) {
        const std::uint8_t *f = bytes + i;
        const std::size_t n = f[4] | static_cast<std::size_t>(f[5]) << 8;
        std::uint8_t a = 0, b = 0;
        if (f[0] == '$' &&
            (log.compare(i + 3, 4, "RMC,") == 0 || log.compare(i + 3, 4, "GGA,") == 0)) {
            std::vector<std::string> fields;
            std::istringstream line(log.substr(i, log.find_first_of("*\r\n", i) - i));
            for (std::string field; std::getline(line, field, ',');)
                fields.push_back(field);
            const bool rmc = log.compare(i + 3, 3, "RMC") == 0;
            if (fields.size() > 6 && fields[1].size() >= 6 &&
                (rmc ? fields[2] == "A" : std::atoi(fields[6].c_str()) > 0))
                out.times.insert(fields[1].substr(0, 2) + ":" + fields[1].substr(2, 2) + ":" +
                                 fields[1].substr(4, 2));
            continue;
        }
        if (f[0] != 0xB5 || f[1] != 0x62 || i + 8 + n > log.size())
            continue;
        ubx::Checksum(f + 2, n + 4, a, b);
        if (a != f[6 + n] || b != f[7 + n])
            continue;
        const auto mark = [&](std::uint32_t iTow, int rank, int fixType, bool ok) {
            auto &e = epochs[iTow];
            if (rank >= e.first)
                e = {rank, ok && fixType >= 2 && fixType <= 5};
        };
        ubx::NavPvt pvt;
        ubx::NavSol sol;
        ubx::NavStatus status;
        const ubx::Msg msg = ubx::Identify(f[2], f[3]);
        if (msg == ubx::Msg::NavPvt && ubx::Read(f + 6, n, pvt) == ubx::Result::Ok) {
            mark(pvt.iTow, 3, pvt.fixType, pvt.gnssFixOk);
            char hms[16];
            std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", pvt.hour, pvt.min, pvt.sec);
            pvtTimes[pvt.iTow] = hms;
        } else if (msg == ubx::Msg::NavSol && ubx::Read(f + 6, n, sol) == ubx::Result::Ok) {
            mark(sol.iTow, 2, sol.gpsFix, sol.gpsFixOk);
        } else if (msg == ubx::Msg::NavStatus && ubx::Read(f + 6, n, status) == ubx::Result::Ok) {
            mark(status.iTow, 1, status.gpsFix, status.gpsFixOk);
        }
        i += n + 7;
    }
    for (const auto &[iTow, e] : epochs) {
        if (!e.second)
            continue;
        ++out.ubxValid;
        if (pvtTimes.count(iTow) != 0) {
            ++out.ubxTimed;
            out.times.insert(pvtTimes[iTow]);
        }
    }
    return out;
}

// A number after "key": in the other decoder's compact JSON; NaN when absent.
double ChkNumber(const std::string &line, const std::string &key) {
    const std::size_t at = line.find("\"" + key + "\":");
    return at == std::string::npos ? std::nan("")
                                   : std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

// UBX alone, UBX beside sentences of the same epochs, or a GGA and an RMC per system: one fix
// per epoch, never two, at the mean the other decoder reports for those epochs (all its fixes
// where no epoch has a time); the GPX and CSV exports hold the same fixes, each time once.
TEST_F(DecodeTool, SummaryHasOneFixPerValidEpoch) {
    for (const char *capture :
         {"ublox-glo.log", "ublox-zed-f9p-hp.log", "ublox-neo-m8t.log", "u-blox-m8t-time.log",
          "ublox-zed-f9r.log", "ublox8-uniqid-monhw.log", "ublox-zed-f9t-ubx_nmea_l5.log",
          "telit-pls83-w.log"}) {
        SCOPED_TRACE(capture);
        const std::string path = std::string(SKYWATCH_NMEA_DIR) + "/" + capture;
        std::string log, chk;
        ASSERT_TRUE(decodetest::ReadFile(path, log) && decodetest::ReadFile(path + ".chk", chk));
        const FixEpochs epochs = ValidEpochs(log);
        // The other decoder's last report of each second (it reports an epoch as each protocol
        // speaks of it); all of them where the epochs have no time.
        std::map<std::string, std::pair<double, double>> reported;
        std::istringstream in(chk);
        for (std::string line; std::getline(in, line);) {
            const std::size_t time = line.find("\"time\":\"");
            if (line.find("\"class\":\"TPV\"") == std::string::npos ||
                ChkNumber(line, "mode") < 2 || time == std::string::npos ||
                (!epochs.times.empty() && epochs.times.count(line.substr(time + 19, 8)) == 0))
                continue;
            const std::string key =
                epochs.times.empty() ? std::to_string(reported.size()) : line.substr(time + 8, 19);
            reported[key] = {ChkNumber(line, "lat"), ChkNumber(line, "lon")};
        }
        double sumLat = 0.0, sumLon = 0.0;
        for (const auto &[time, latLon] : reported) {
            sumLat += latLon.first;
            sumLon += latLon.second;
        }
        const auto reports = static_cast<double>(reported.size());
        ASSERT_GT(reports, 0.0);
        const ToolRun r = RunTool("--summary '" + path + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonField(r.out, "fixes"), static_cast<double>(epochs.Count())) << r.out;
        EXPECT_NEAR(JsonField(r.out, "lat"), sumLat / reports, 1e-6) << r.out;
        EXPECT_NEAR(JsonField(r.out, "lon"), sumLon / reports, 1e-6) << r.out;
        EXPECT_EQ(JsonField(r.out, "rejected"), 0.0);
        // Every fix with a time has its date, the first too.
        for (const char *key : {"\"first_fix\": \"", "\"last_fix\": \""}) {
            const std::size_t at = r.out.find(key);
            if (at != std::string::npos)
                EXPECT_EQ(r.out.compare(at + std::strlen(key) + 10, 1, "T"), 0) << r.out;
            else
                EXPECT_NE(r.out.find("\"first_fix\": null, \"last_fix\": null"), std::string::npos);
        }
        const std::string gpx = WriteTemp("epochs.gpx", ""), csv = WriteTemp("epochs.csv", "");
        const ToolRun exports =
            RunTool("--summary --gpx '" + gpx + "' --csv '" + csv + "' '" + path + "'");
        EXPECT_EQ(exports.out, r.out);
        std::string track, rows;
        ASSERT_TRUE(decodetest::ReadFile(gpx, track) && decodetest::ReadFile(csv, rows));
        std::vector<std::string> csvRows = Lines(rows);
        csvRows.erase(csvRows.begin());
        EXPECT_EQ(csvRows.size(), epochs.Count());
        if (epochs.ubxTimed != epochs.ubxValid)
            continue;
        std::set<std::string> times;
        for (std::size_t at = 0; (at = track.find("<time>", at)) != std::string::npos; ++at)
            times.insert(track.substr(at, track.find("</time>", at) - at));
        EXPECT_EQ(times.size(), epochs.Count());
        times.clear();
        for (const std::string &row : csvRows)
            times.insert(row.substr(0, row.find(',')));
        EXPECT_EQ(times.size(), epochs.Count());
    }
}

// A record per epoch, as the epoch left it: each carries its epoch's time of fix.
TEST_F(DecodeTool, EveryEpochPrintsTheRecordOfEachEpoch) {
    // A GGA of each system before the RMCs; RMC first, of the new second.
    for (const char *capture : {"telit-pls83-w.log", "ublox-neo-m9n-nmea.log"}) {
        SCOPED_TRACE(capture);
        const std::string path = std::string(SKYWATCH_NMEA_DIR) + "/" + capture;
        std::string log;
        ASSERT_TRUE(decodetest::ReadFile(path, log));
        // The epochs' times of fix in order, as the GGA, RMC and GNS sentences give them, and the
        // time of day the record has at each one's end: the latest RMC's.
        std::vector<std::string> epochs, recordTimes;
        std::string rmcTime;
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);) {
            const std::string type = line.size() > 7 ? line.substr(3, 4) : "";
            if (line[0] != '$' || (type != "GGA," && type != "RMC," && type != "GNS,"))
                continue;
            const std::string t = line.substr(7, line.find(',', 7) - 7);
            if (epochs.empty() || epochs.back() != t) {
                epochs.push_back(t);
                recordTimes.emplace_back();
            }
            if (type == "RMC,")
                rmcTime = t;
            recordTimes.back() = rmcTime;
        }
        const ToolRun r = RunTool("--every epoch '" + path + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> records = Lines(r.out);
        ASSERT_EQ(records.size(), epochs.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const std::string &t = recordTimes[i];
            EXPECT_NE(records[i].find("\"bMinute\":" + std::to_string(std::stoi(t.substr(2, 2))) +
                                      ",\"bSecond\":" + std::to_string(std::stoi(t.substr(4, 2))) +
                                      ","),
                      std::string::npos)
                << "epoch " << i << " at " << epochs[i] << ": " << records[i].substr(0, 120);
        }
    }
}

// The export is read back by a GPX reader, one track point per fix, and the CSV has a row each.
TEST_F(DecodeTool, GpxIsReadByAGpxReaderAndCsvHasARowPerFix) {
    ASSERT_EQ(std::system("command -v gpsbabel >/dev/null"), 0) << "gpsbabel is a test package";
    const std::string gpx = WriteTemp("track.gpx", ""), csv = WriteTemp("track.csv", "");
    const std::string capture = std::string(SKYWATCH_NMEA_DIR) + "/telit-he910.log";
    const ToolRun r = RunTool("--gpx '" + gpx + "' --csv '" + csv + "' '" + capture + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string back = WriteTemp("track.txt", "");
    ASSERT_EQ(
        std::system(("gpsbabel -t -i gpx -f '" + gpx + "' -o unicsv -F '" + back + "'").c_str()),
        0);
    std::string text, rows;
    decodetest::ReadFile(back, text);
    decodetest::ReadFile(csv, rows);
    EXPECT_EQ(Lines(text).size(), 188u) << text.substr(0, 400); // a header and 187 points
    EXPECT_NE(text.find("50.840203"), std::string::npos) << text.substr(0, 400);
    EXPECT_NE(text.find("2019/03/12"), std::string::npos) << text.substr(0, 400);
    ASSERT_EQ(Lines(rows).size(), 188u);
    EXPECT_EQ(Lines(rows)[1], "2019-03-12T10:51:53.71Z,50.840203333,4.347110000,109.440,0.259,"
                              "303.60,3,4,2.25");
    // A file that cannot be written is an error, after the others were written.
    EXPECT_EQ(RunTool("--gpx /nonexistent/dir/x.gpx '" + capture + "'").exitCode, 2);
}

} // namespace

namespace {

// Outputs never land on the input or on each other, a failed export leaves the file it would
// have replaced, and output that cannot be written is an error. Each row runs in a folder of
// its own holding in.nmea (a capture), old.gpx and sub/.
struct OutputCase {
    const char *name;
    const char *args;
    int exitCode;
    const char *says;          // a piece of standard error
    const char *shell = "";    // before the tool, in the same shell
    const char *stdoutTo = ""; // where standard output goes instead of a file
};

const OutputCase kOutputCases[] = {
    {"GpxIsTheInput", "--gpx in.nmea in.nmea", 2, "--gpx in.nmea is the file being read"},
    {"CsvIsTheInputByAnotherPath", "--csv sub/../in.nmea in.nmea", 2, "is the file being read"},
    {"GpxIsStandardInput", "--gpx in.nmea - <in.nmea", 2, "is the file being read"},
    {"GpxAndCsvAreOneFile", "--gpx old.gpx --csv old.gpx in.nmea", 2, "are the same file"},
    {"DotSlashIsTheSameFile", "--gpx ./old.gpx --csv old.gpx in.nmea", 2, "are the same file"},
    {"NewFileNamedTwoWays", "--gpx new.gpx --csv sub/../new.gpx in.nmea", 2, "are the same file"},
    {"TwoFilesAreFine", "--gpx old.gpx --csv new.csv in.nmea", 0, ""},
    {"FullStandardOutput", "--summary in.nmea", 1,
     "skywatch-decode: standard output: No space left on device", "", "/dev/full"},
    {"FullDevice", "--gpx /dev/full in.nmea", 2, "cannot write /dev/full: No space left"},
    // A file size limit stops the export part way: old.gpx must stay as it was.
    {"FailedWriteKeepsTheOldFile", "--gpx old.gpx in.nmea", 2, "cannot write old.gpx: File too",
     "trap '' XFSZ; ulimit -f 8;"},
    {"CompareHasNoEpochsToPrint", "--compare in.nmea old.gpx --every epoch", 2,
     "--compare goes with"},
    // Corrections go to a receiver; a refused address quotes itself without the password.
    {"NtripWithoutDevice", "--ntrip ntrip://127.0.0.1/M in.nmea", 2, "it goes with --device"},
    {"NtripWithoutMount", "--device in.nmea --ntrip ntrip://127.0.0.1", 2, "needs a mount point"},
    {"NtripBadPortKeepsPasswordSecret", "--device in.nmea --ntrip ntrip://me:hunter2@h:99999/M", 2,
     "\"ntrip://me:***@h:99999/M\": port 99999 is out of range"},
    // A user with an escaped '@' is quoted escaped: the quote names the same user.
    {"NtripEscapedUserStaysEscaped", "--device in.nmea --ntrip ntrip://me%40home:hunter2@h:99999/M",
     2, "\"ntrip://me%40home:***@h:99999/M\": port 99999"},
};

class DecodeToolOutput : public DecodeTool, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(DecodeToolOutput, NeverOverwritesWhatItShouldNot) {
    const OutputCase &c = GetParam();
    std::string dir = ::testing::TempDir() + "/outputs.XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    std::string capture, unwritten;
    ASSERT_TRUE(decodetest::ReadFile(std::string(SKYWATCH_NMEA_DIR) + "/telit-he910.log", capture));
    const std::string old = "<gpx>the export of yesterday</gpx>\n";
    for (const auto &[name, bytes] :
         {std::pair<std::string, std::string>{"in.nmea", capture}, {"old.gpx", old}}) {
        FILE *f = std::fopen((dir + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755), 0);

    const ToolRun r =
        RunTool(c.args, std::string(c.shell) + " cd '" + dir + "' && TZ=UTC", c.stdoutTo);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    std::string in, gpx;
    ASSERT_TRUE(decodetest::ReadFile(dir + "/in.nmea", in));
    EXPECT_TRUE(in == capture) << "the input changed";
    ASSERT_TRUE(decodetest::ReadFile(dir + "/old.gpx", gpx));
    if (c.exitCode != 0) {
        EXPECT_EQ(gpx, old);
        EXPECT_FALSE(decodetest::ReadFile(dir + "/new.gpx", unwritten))
            << "written before refusing";
    } else {
        EXPECT_NE(gpx.find("<trkpt"), std::string::npos);
    }
    // No temporary file is left behind, whatever happened.
    const std::string list = dir + "/list.txt";
    ASSERT_EQ(std::system(("ls -A '" + dir + "' >'" + list + "'").c_str()), 0);
    std::string names;
    decodetest::ReadFile(list, names);
    for (const std::string &name : Lines(names))
        EXPECT_TRUE(name == "in.nmea" || name == "old.gpx" || name == "sub" || name == "new.csv" ||
                    name == "list.txt")
            << name;
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Outputs, DecodeToolOutput, ::testing::ValuesIn(kOutputCases),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace

namespace {

// The RTCM 3 frames of a recording per message number, as the other decoder reported them, and
// the base station position of its last 1005/1006 report ("" when none).
std::map<int, int> ChkTypes(const std::string &chk, std::string &station) {
    std::map<int, int> types;
    std::istringstream in(chk);
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find("\"class\":\"RTCM3\",\"type\":");
        if (at == std::string::npos)
            continue;
        const int type = std::atoi(line.c_str() + at + 23);
        ++types[type];
        if (type == 1005 || type == 1006) {
            const auto number = [&](const char *key) {
                const std::size_t k = line.find(key);
                return k == std::string::npos
                           ? std::string()
                           : line.substr(k + std::strlen(key),
                                         line.find_first_of(",}", k) - k - std::strlen(key));
            };
            station = number("\"station_id\":") + ", \"ecef_m\": [" + number("\"x\":") + ", " +
                      number("\"y\":") + ", " + number("\"z\":") + "]";
        }
    }
    return types;
}

struct RtcmFile {
    const char *name;
    bool typesAsChk; // every frame the other decoder reported has a good CRC here
    std::uint32_t frames, nmea, ubx;
};

const RtcmFile kRtcmFiles[] = {
    {"rtcm3.2.log", true, 192, 0, 0},
    {"rtcm3.bndm.log", true, 100, 0, 0},
    // Mixed streams: the sentences and UBX frames between the RTCM 3 frames are counted apart.
    {"ublox-zed-f9r.log", false, 224, 871, 277},
    {"ublox-f9p-rtcm.log", false, 15, 0, 16},
};

void PrintTo(const RtcmFile &c, std::ostream *os) {
    *os << c.name;
}

class RtcmTool : public ::testing::TestWithParam<RtcmFile> {};

// --rtcm counts every frame per message number as the other decoder does, and reads the base
// station's position from 1005/1006 to the tenth of a millimetre.
TEST_P(RtcmTool, CountsFramesPerTypeAndReadsTheBase) {
    const RtcmFile &c = GetParam();
    const std::string path = std::string(SKYWATCH_NMEA_DIR) + "/" + c.name;
    const ToolRun r = RunTool("--rtcm '" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("{\"frames\": " + std::to_string(c.frames) + ", \"badCrc\": 0, "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"skipped\": {\"nmea\": " + std::to_string(c.nmea) +
                         ", \"ubx\": " + std::to_string(c.ubx) + "}"),
              std::string::npos)
        << r.out;
    std::string chk, station;
    ASSERT_TRUE(decodetest::ReadFile(path + ".chk", chk));
    const std::map<int, int> types = ChkTypes(chk, station);
    if (c.typesAsChk) {
        std::string expected = "\"types\": {";
        for (const auto &[type, n] : types)
            expected += (expected.back() == '{' ? "\"" : ", \"") + std::to_string(type) +
                        "\": " + std::to_string(n);
        EXPECT_NE(r.out.find(expected + "}"), std::string::npos) << r.out << "\n" << expected;
    }
    if (!station.empty())
        EXPECT_NE(r.out.find("\"base\": {\"station\": " + station), std::string::npos)
            << r.out << "\n"
            << station;
    else
        EXPECT_EQ(r.out.find("\"base\""), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Captures, RtcmTool, ::testing::ValuesIn(kRtcmFiles),
                         [](const auto &row) { return decodetest::TestName(row.param.name); });

} // namespace
