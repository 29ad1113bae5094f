#include "analysis/IntegrityWatch.h"
#include "DecodeTestSupport.h"
#include "model/NmeaDecoder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kDecode = std::string(SKYWATCH_BINARY_DIR) + "/tools/skywatch-decode";
const std::string kSim = std::string(SKYWATCH_BINARY_DIR) + "/tools/skywatch-sim";

struct ShellRun {
    int exitCode = -1;
    std::string out, err;
};

// A command through the shell, its output and errors kept in files of this process's own.
ShellRun Shell(const std::string &command) {
    static int runs = 0;
    const std::string base =
        ::testing::TempDir() + "/watch_" + std::to_string(getpid()) + "_" + std::to_string(++runs);
    const int status =
        std::system(("(" + command + ") >'" + base + ".out' 2>'" + base + ".err'").c_str());
    ShellRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    decodetest::ReadFile(base + ".out", r.out);
    decodetest::ReadFile(base + ".err", r.err);
    return r;
}

// What a test may know of an event line without a JSON parser: its fields as printed.
struct Event {
    std::string threat, state, signs;
    std::time_t time = 0;
};

std::string Field(const std::string &line, const std::string &name) {
    const std::string key = "\"" + name + "\": ";
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + key.size();
    if (line[from] == '"')
        return line.substr(from + 1, line.find('"', from + 1) - from - 1);
    if (line[from] == '[')
        return line.substr(from, line.find(']', from) - from + 1);
    return line.substr(from, line.find_first_of(",}", from) - from);
}

std::vector<Event> Events(const std::string &out) {
    std::vector<Event> events;
    std::size_t at = 0;
    for (std::size_t lf; (lf = out.find('\n', at)) != std::string::npos; at = lf + 1) {
        const std::string line = out.substr(at, lf - at);
        Event e;
        e.threat = Field(line, "event");
        e.state = Field(line, "state");
        e.signs = Field(line, "signs");
        std::tm tm{};
        if (strptime(Field(line, "time").c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm) != nullptr)
            e.time = timegm(&tm);
        events.push_back(e);
    }
    return events;
}

// The fix time of a stream's first epoch, as the watch sees it.
std::time_t FirstFixTime(const std::string &bytes) {
    CNmeaDecoder decoder(0);
    auto sky = std::make_unique<SkyView>();
    Integrity integrity;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        decoder.ParseBuffer(bytes.data() + at,
                            static_cast<int>(std::min<std::size_t>(16, bytes.size() - at)));
        const WatchEpoch e = EpochOf(decoder, *sky, integrity, -1);
        if (e.timeMs >= 0 && e.hasDate)
            return static_cast<std::time_t>(e.timeMs / 1000);
    }
    return 0;
}

// Settings of a test's own, never the user's: XDG folders inside the test's temporary folder.
std::string OwnHome(const std::string &name, const std::string &thresholds = "") {
    const std::string home =
        ::testing::TempDir() + "/watch_home_" + std::to_string(getpid()) + "_" + name;
    fs::remove_all(home);
    fs::create_directories(home + "/config/skywatch");
    if (!thresholds.empty()) {
        FILE *f = std::fopen((home + "/config/skywatch/integrity.conf").c_str(), "wb");
        if (f != nullptr) {
            std::fputs(thresholds.c_str(), f);
            std::fclose(f);
        }
    }
    return "XDG_CONFIG_HOME='" + home + "/config' XDG_STATE_HOME='" + home + "/state' ";
}

// One injection into the simulated receiver and when its alarm must come and go: seconds after
// the first epoch. Its fix time runs ahead by shiftS while spoofed; a recording has no clock but
// that one, so the alarm's stamps go on from the time it had when the alarm started.
struct Injection {
    const char *name;
    const char *args;
    const char *threat;
    double onsetS, endS, shiftS;
    const char *sign;  // one sign the start must name
    int seconds = 200; // of the stream
    double startWithinS = 5;
};

const Injection kInjections[] = {
    {"Jam10Nmea", "--jam 60,10,40", "jamming", 60, 100, 0, "cn0_drop"},
    {"Jam15Ubx", "--protocol ubx --jam 60,15,40", "jamming", 60, 100, 0, "jamming_indicator"},
    // The indicator up 30 by the jam, its threshold, and wandering by 6 around it: one alarm,
    // held to the jam's end, raised when the wander first takes it over. Two phases of the
    // wander: over at once, and under for its first 40 s.
    {"Jam6UbxHoversAtItsThreshold", "--protocol ubx --jam 60,6,120 --write-from 1796947245",
     "jamming", 60, 180, 0, "jamming_indicator", 260},
    {"Jam6UbxUnderItsThresholdAtFirst", "--protocol ubx --jam 60,6,120 --write-from 1796947272",
     "jamming", 60, 180, 0, "jamming_indicator", 260, 45},
    // On before the first epoch: nothing to compare with but the family's limits.
    {"Jam15UbxFromTheStart", "--protocol ubx --jam 0,15,60", "jamming", 0, 60, 0,
     "jamming_indicator_high"},
    {"Jam10TwoBandsBoth", "--protocol both --bands 2 --jam 60,10,40", "jamming", 60, 100, 0,
     "agc_drop"},
    {"Jam15Mediatek", "--chip mtk --jam 60,15,40", "jamming", 60, 100, 0, "cn0_drop"},
    // Longer than the reference window: the reference is held while its samples age out.
    {"Jam10LongerThanItsReference", "--jam 60,10,150", "jamming", 60, 210, 0, "cn0_drop", 300},
    {"SpoofNmea", "--spoof 60,40", "spoofing", 60, 100, 7200, "cn0_uniform"},
    {"SpoofUbx", "--protocol ubx --spoof 60,40", "spoofing", 60, 100, 7200, "cn0_uniform"},
};

void PrintTo(const Injection &c, std::ostream *os) {
    *os << c.args;
}

class Injected : public ::testing::TestWithParam<Injection> {};

// The alarm starts within 5 s of the onset and ends within 15 s of the end, and nothing is said
// before the onset nor of the other threat.
TEST_P(Injected, StartsAndEndsOnTime) {
    const Injection &c = GetParam();
    const std::string file =
        ::testing::TempDir() + "/watch_" + std::to_string(getpid()) + "_" + c.name + ".bin";
    ASSERT_EQ(Shell("'" + kSim + "' --write " + std::to_string(c.seconds) + " --seed 1 " + c.args +
                    " >'" + file + "'")
                  .exitCode,
              0);
    std::string bytes;
    ASSERT_TRUE(decodetest::ReadFile(file, bytes));
    const std::time_t first = FirstFixTime(bytes);
    ASSERT_NE(first, 0);
    const ShellRun r = Shell(OwnHome(c.name) + "'" + kDecode + "' --events '" + file + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<Event> events = Events(r.out);
    ASSERT_EQ(events.size(), 2u) << r.out;
    const Event &start = events[0], &end = events[1];
    EXPECT_EQ(start.threat, c.threat);
    EXPECT_EQ(start.state, "start");
    EXPECT_NE(start.signs.find(c.sign), std::string::npos) << start.signs;
    const double startDelay = static_cast<double>(start.time - first) - c.onsetS - c.shiftS;
    EXPECT_GE(startDelay, 0.0);
    EXPECT_LE(startDelay, c.startWithinS);
    EXPECT_EQ(end.threat, c.threat);
    EXPECT_EQ(end.state, "end");
    EXPECT_GE(end.time, start.time);
    const double endDelay = static_cast<double>(end.time - first) - c.endS - c.shiftS;
    EXPECT_GE(endDelay, 0.0);
    EXPECT_LE(endDelay, 15.0);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Simulator, Injected, ::testing::ValuesIn(kInjections),
                         [](const auto &row) { return std::string(row.param.name); });

// Ten minutes of a receiver at rest whose satellites are lost one by one as they go behind a
// building or set, each still listed without a strength, as receivers list them: single losses
// of a normal day, never a jam, however many pile up. Or, fading, whose whole sky weakens by
// 1 dB every 20 s, as under falling snow: never more than a minute ago by the drop threshold.
std::string SlowLosses(bool fading = false) {
    std::string out;
    char body[160];
    for (int t = 0; t < 600; ++t) {
        const int hh = 12, mm = t / 60, ss = t % 60;
        std::string used, gsv[3];
        for (int k = 0; k < 10; ++k) {
            const bool tracked = fading || t < 60 + 50 * k;
            if (tracked)
                used += "," + std::to_string(k + 1);
            std::snprintf(body, sizeof body, ",%02d,%02d,%03d,", k + 1, 20 + 6 * k, 36 * k);
            const int strength = fading ? 45 + 3 * (k % 4) - t / 20 : 38 + k % 4;
            gsv[k / 4] += body + (tracked ? std::to_string(strength) : std::string());
        }
        std::snprintf(body, sizeof body,
                      "GPRMC,%02d%02d%02d,A,4807.038,N,01131.000,E,0.0,0.0,101226,,", hh, mm, ss);
        out += decodetest::Sentence(body);
        std::snprintf(body, sizeof body,
                      "GPGGA,%02d%02d%02d,4807.038,N,01131.000,E,1,04,1.2,545.4,M,46.9,M,,", hh, mm,
                      ss);
        out += decodetest::Sentence(body);
        out += decodetest::Sentence("GPGSA,A,3" + used + ",2.0,1.2,1.6");
        for (int m = 0; m < 3; ++m)
            out += decodetest::Sentence("GPGSV,3," + std::to_string(m + 1) + ",10" + gsv[m]);
    }
    return out;
}

// No receiver of a normal day cries wolf: not one event from any capture in the tree, nor from
// one corrupt sentence with a right checksum in one (a spliced line, a wrong date).
TEST(QuietDay, NoCaptureRaisesAnAlarm) {
    std::size_t n = 0;
    for (const auto &entry : fs::recursive_directory_iterator(SKYWATCH_NMEA_DIR)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".log" && ext != ".nmea"))
            continue;
        ++n;
        const ShellRun r = Shell(OwnHome("captures") + "'" + kDecode + "' --events '" +
                                 entry.path().string() + "'");
        EXPECT_EQ(r.exitCode, 0) << entry.path();
        EXPECT_EQ(r.out, "") << entry.path();
    }
    EXPECT_GE(n, 30u);
    // The fade is measured against a minute ago only: a baseline, learnt from its start, would
    // rightly see it.
    for (const bool fading : {false, true}) {
        const std::string name = fading ? "fading" : "slow_losses";
        const std::string file =
            ::testing::TempDir() + "/watch_" + std::to_string(getpid()) + "_" + name + ".nmea";
        FILE *f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string day = SlowLosses(fading);
        std::fwrite(day.data(), 1, day.size(), f);
        std::fclose(f);
        const ShellRun r = Shell(OwnHome(name, fading ? "baseline_min_epochs = 100000\n" : "") +
                                 "'" + kDecode + "' --events '" + file + "'");
        EXPECT_EQ(r.exitCode, 0) << name;
        EXPECT_EQ(r.out, "") << name;
        fs::remove(file);
    }
}

// The shipped file sets every threshold, and a user's copy replaces what it names and says
// which of its lines it could not take.
TEST(Thresholds, ShippedFileSetsEveryOneAndAUsersCopyOverrides) {
    WatchThresholds t;
    std::vector<std::string> problems;
    EXPECT_TRUE(ParseThresholds(DefaultThresholdsText(), t, problems));
    EXPECT_TRUE(problems.empty()) << problems.front();
    const double values[] = {t.referenceFromS,
                             t.referenceToS,
                             t.cn0DropDb,
                             t.cn0DropShare,
                             double(t.minSatellites),
                             t.lostShare,
                             t.baselineDropDb,
                             double(t.jamIndRise),
                             double(t.agcDropPermil),
                             double(t.jamIndLimit),
                             double(t.jamIndRelease),
                             double(t.agcMinPermil),
                             double(t.agcReleasePermil),
                             t.releaseShare,
                             t.uniformSpreadDb,
                             t.uniformMinCn0,
                             double(t.uniformMinSatellites),
                             t.positionWindowS,
                             t.positionSlackM,
                             t.fixSettleS,
                             t.speedMarginMps,
                             t.rangeErrorM,
                             t.timeSlackS,
                             t.maxEpochGapS,
                             t.startHoldS,
                             t.endHoldS,
                             t.shownAfterS,
                             double(t.baselineMinEpochs),
                             double(t.saveEveryEpochs)};
    for (const double v : values)
        EXPECT_GT(v, 0.0);

    const std::string file =
        ::testing::TempDir() + "/watch_" + std::to_string(getpid()) + "_override.bin";
    ASSERT_EQ(Shell("'" + kSim + "' --write 120 --seed 1 --jam 60,10,40 >'" + file + "'").exitCode,
              0);
    const ShellRun shipped =
        Shell(OwnHome("shipped") + "'" + kDecode + "' --events '" + file + "'");
    EXPECT_NE(shipped.out, "");
    const ShellRun own =
        Shell(OwnHome("own", "cn0_drop_db = 30\nlost_share = 2\nbogus = 1\nend_hold_s = soon\n") +
              "'" + kDecode + "' --events '" + file + "'");
    EXPECT_EQ(own.exitCode, 0);
    EXPECT_EQ(own.out, "");
    EXPECT_NE(own.err.find("line 3: unknown name \"bogus\""), std::string::npos) << own.err;
    EXPECT_NE(own.err.find("line 4: end_hold_s"), std::string::npos) << own.err;
    // A settings file that is a pipe nobody writes to is refused, not waited on.
    const std::string env = OwnHome("fifo");
    const std::size_t quote = env.find('\'') + 1;
    const std::string home = env.substr(quote, env.find("/config'") - quote);
    ASSERT_EQ(mkfifo((home + "/config/skywatch/integrity.conf").c_str(), 0600), 0);
    const ShellRun fifo = Shell(env + "timeout 10 '" + kDecode + "' --events '" + file + "'");
    EXPECT_EQ(fifo.exitCode, 0);
    EXPECT_NE(fifo.err.find("integrity.conf: not a regular file"), std::string::npos) << fifo.err;
    fs::remove(file);
}

// Two ports watching receivers of one model (a comparison) save one baseline file at once:
// every save goes through and no half-written file is left.
TEST(Baseline, TwoWatchesOfOneModelSaveAtOnce) {
    const std::string dir = ::testing::TempDir() + "/watch_state_" + std::to_string(getpid());
    fs::remove_all(dir);
    std::ifstream in(std::string(SKYWATCH_NMEA_DIR) + "/ublox-neo-m9n-nmea.log", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CNmeaDecoder decoder(0);
    auto sky = std::make_unique<SkyView>();
    Integrity integrity;
    std::vector<WatchEpoch> epochs;
    for (std::size_t at = 0; at < bytes.size(); at += 512) {
        decoder.ParseBuffer(bytes.data() + at,
                            static_cast<int>(std::min<std::size_t>(512, bytes.size() - at)));
        epochs.push_back(EpochOf(decoder, *sky, integrity, -1));
    }
    std::vector<std::string> problems;
    WatchThresholds t = LoadThresholds(problems);
    t.baselineMinEpochs = 1, t.saveEveryEpochs = 1;
    const auto watch = [&](std::string &failure) {
        CIntegrityWatch w(t);
        w.SetReceiver("u-blox NEO-M9N", dir);
        for (int round = 0; round < 10 && failure.empty(); ++round)
            for (const WatchEpoch &e : epochs)
                if (w.OnEpoch(e); !w.SaveBaseline(failure))
                    break;
    };
    std::string a, b;
    std::thread other(watch, std::ref(b));
    watch(a);
    other.join();
    EXPECT_EQ(a + b, "");
    std::size_t files = 0;
    for (const auto &entry : fs::directory_iterator(dir))
        files += entry.path().filename().string().rfind("baseline-", 0) == 0 ? 1 : 0;
    EXPECT_EQ(files, 1u) << "a new file left beside the baseline";
    fs::remove_all(dir);
}

} // namespace
