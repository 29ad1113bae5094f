// Sentences with right checksums and wrong contents, and a foreign number locale, through the
// parts that come after the decoder: the decode tool's fix track and exports, the port's signal
// history on a replay, and the reference point.
#include "GpsPort.h"
#include "PortTable.h"
#include "SessionRecorder.h"
#include "TestPaths.h"
#include "Wait.h"
#include "analysis/FixTrack.h"
#include "protocol/UbxMessages.h"
#include "receiver/FixStopwatch.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace {

using namespace std::chrono_literals;

std::string Hostile(const std::string &name) {
    return NmeaDir() + "/hostile/" + name;
}

std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Run {
    bool ended = false; // within the deadline
    int exitCode = -1;
    std::string out;
};

// The decode tool on args, killed when it outlives the deadline; standard output kept.
Run Decode(std::vector<std::string> args, std::chrono::milliseconds deadline) {
    const std::string out = ::testing::TempDir() + "/hostile_" + std::to_string(getpid()) + ".out";
    args.insert(args.begin(), BinaryDir() + "/tools/skywatch-decode");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Run r;
    const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        return r;
    int status = 0;
    r.ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline);
    if (!r.ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    std::remove(out.c_str());
    return r;
}

double JsonNumber(const std::string &json, const std::string &key) {
    const std::size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1.0 : std::atof(json.c_str() + at + key.size() + 3);
}

std::string WithoutLine(const std::string &text, std::size_t lineNumber) {
    std::size_t at = 0;
    for (std::size_t n = 1; n < lineNumber && at != std::string::npos; ++n)
        at = text.find('\n', at) + 1;
    const std::size_t end = text.find('\n', at);
    return text.substr(0, at) + (end == std::string::npos ? "" : text.substr(end + 1));
}

// Seconds the signal history holds after the port replayed the file as fast as it goes, and
// again from its start as many times as asked.
std::size_t HistoryOfReplay(const std::string &path, int again = 0) {
    platform::BindPort(7, path);
    CGpsPort port(0);
    if (!port.Open(7, 4800) || port.Replay() == nullptr)
        return 0;
    port.Replay()->SetSpeed(platform::CFileSource::kFastest);
    for (int run = 0; run <= again; ++run) {
        if (run > 0)
            port.Replay()->JumpTo(0.0);
        WaitUntil([&] { return !port.Replay()->Ended(); }, 2s);
        WaitUntil([&] { return port.Replay()->Ended(); }, 10s);
        // The last epoch ends when the line goes quiet after it.
        std::size_t seen = 0;
        WaitUntil([&] { return std::exchange(seen, port.Signals().Size()) == seen && seen != 0; },
                  2s, [] { usleep(100'000); });
    }
    return port.Signals().Size();
}

// A locale with a decimal comma, made in a folder of the test's own (no system locale is touched).
std::string LocaleDir() {
    return ::testing::TempDir() + "/hostile_locales_" + std::to_string(getpid());
}

bool UseCommaLocale() {
    const std::string dir = LocaleDir();
    const std::string make = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                             "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        std::filesystem::remove_all(dir);
        return false;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr &&
           std::localeconv()->decimal_point[0] == ',';
}

struct HostileCase {
    const char *name;
    std::function<void()> check;
};

// One row per way the world has broken the track, the history or the reference.
const HostileCase kCases[] = {
    {"a 24-digit longitude ends at once and gives no fix",
     [] {
         const Run r = Decode({"--summary", Hostile("hang.nmea")}, 1000ms);
         ASSERT_TRUE(r.ended);
         EXPECT_EQ(r.exitCode, 0);
         EXPECT_EQ(JsonNumber(r.out, "fixes"), 1.0) << r.out;
         EXPECT_EQ(JsonNumber(r.out, "rejected"), 1.0) << r.out;
     }},
    {"a UBX fix claimed at latitude 95 gives none and is counted",
     [] {
         std::string log = Slurp(std::string(SKYWATCH_NMEA_DIR) + "/ublox-zed-f9p-hp.log");
         const std::size_t at = log.find("\xB5\x62\x01\x07\x5C\x00");
         ASSERT_NE(at, std::string::npos);
         // NAV-PVT's lat (1e-7 degree) at payload offset 28, then its checksum again.
         const std::int32_t lat = 950000000;
         std::memcpy(&log[at + 6 + 28], &lat, sizeof lat);
         std::uint8_t a = 0, b = 0;
         ubx::Checksum(reinterpret_cast<const std::uint8_t *>(log.data()) + at + 2, 4 + 92, a, b);
         log[at + 6 + 92] = static_cast<char>(a);
         log[at + 7 + 92] = static_cast<char>(b);
         const std::string path =
             ::testing::TempDir() + "/hostile_ubx_" + std::to_string(getpid()) + ".ubx";
         std::ofstream(path, std::ios::binary) << log;
         const Run good = Decode(
             {"--summary", std::string(SKYWATCH_NMEA_DIR) + "/ublox-zed-f9p-hp.log"}, 5000ms);
         const Run bad = Decode({"--summary", path}, 5000ms);
         std::remove(path.c_str());
         EXPECT_EQ(JsonNumber(bad.out, "fixes"), JsonNumber(good.out, "fixes") - 1) << bad.out;
         EXPECT_EQ(JsonNumber(bad.out, "rejected"), 1.0) << bad.out;
         EXPECT_EQ(JsonNumber(good.out, "rejected"), 0.0) << good.out;
     }},
    {"a spliced RMC with a right checksum does not move CEP95",
     [] {
         const std::string clean =
             ::testing::TempDir() + "/hostile_clean_" + std::to_string(getpid()) + ".nmea";
         std::ofstream(clean, std::ios::binary) << WithoutLine(Slurp(Hostile("splice.nmea")), 280);
         const Run spliced = Decode({"--summary", Hostile("splice.nmea")}, 5000ms);
         const Run without = Decode({"--summary", clean}, 5000ms);
         std::remove(clean.c_str());
         ASSERT_GT(JsonNumber(without.out, "cep95_m"), 0.0) << without.out;
         EXPECT_NEAR(JsonNumber(spliced.out, "cep95_m"), JsonNumber(without.out, "cep95_m"), 1.0)
             << spliced.out;
         EXPECT_EQ(JsonNumber(spliced.out, "rejected"), 1.0) << spliced.out;
     }},
    {"nan and huge numbers never reach JSON, GPX or CSV",
     [] {
         const std::string dir = ::testing::TempDir() + "/hostile_" + std::to_string(getpid());
         const Run r = Decode(
             {"--summary", "--gpx", dir + ".gpx", "--csv", dir + ".csv", Hostile("nan.nmea")},
             5000ms);
         EXPECT_EQ(r.exitCode, 0);
         for (const std::string &text : {r.out, Slurp(dir + ".gpx"), Slurp(dir + ".csv")}) {
             EXPECT_EQ(text.find("nan"), std::string::npos) << text;
             EXPECT_EQ(text.find("inf"), std::string::npos) << text;
         }
         EXPECT_EQ(JsonNumber(r.out, "fixes"), 1.0) << r.out;
         std::remove((dir + ".gpx").c_str());
         std::remove((dir + ".csv").c_str());
     }},
    {"a GGA and an RMC per system make one point of the scatter per epoch",
     [] {
         // Ten epochs, each a $GPGGA, $GAGGA, $GPRMC and $GARMC of one time.
         platform::BindPort(7, std::string(SKYWATCH_NMEA_DIR) + "/telit-pls83-w.log");
         CGpsPort port(0);
         ASSERT_TRUE(port.Open(7, 4800) && port.Replay() != nullptr);
         port.Replay()->SetSpeed(platform::CFileSource::kFastest);
         WaitUntil([&] { return port.Replay()->Ended(); }, 10s);
         std::size_t points = 0;
         WaitUntil(
             [&] {
                 const std::size_t now = port.History().CopyPoints().size();
                 return std::exchange(points, now) == now && now != 0;
             },
             2s, [] { usleep(100'000); });
         EXPECT_EQ(points, 10u);
     }},
    {"one RMC dated 1980 keeps the signal history",
     [] {
         const std::size_t good = HistoryOfReplay(Hostile("hist_good.nmea"));
         ASSERT_GT(good, 10u); // a sample per block read, at the fastest pace
         EXPECT_EQ(HistoryOfReplay(Hostile("hist_bad.nmea")), good);
         // A replay's jump back is the one reason to cut: played twice, it holds each second once.
         EXPECT_EQ(HistoryOfReplay(Hostile("hist_good.nmea"), 1), good);
     }},
    {"a decimal-comma locale keeps the reference point",
     [] {
         if (!UseCommaLocale())
             GTEST_SKIP() << "needs localedef and the de_DE locale source";
         GeoPoint p;
         const bool read = ParseReference("50.8402,4.3471,100", p);
         const TrackFix fix{.lat = 50.5, .lon = 4.25, .alt = 1.5, .hasAlt = true};
         const std::string csv = TrackToCsv({&fix, 1});
         // What the window shows from the platform's texts has the same point as the rest.
         const std::string size = platform::ByteCountText(1400);
         CFixStopwatch watch;
         const auto t0 = CFixStopwatch::Clock::now();
         watch.Start(RestartKind::Hot, t0);
         watch.OnFixReport(false, t0 + 100ms);
         watch.OnFixReport(true, t0 + 1500ms);
         const std::string ttff = watch.Text(t0 + 1600ms);
         std::setlocale(LC_NUMERIC, "C");
         std::filesystem::remove_all(LocaleDir());
         EXPECT_EQ(size, "1.4 kB");
         EXPECT_NE(ttff.find("fix in 1.5 s"), std::string::npos) << ttff;
         ASSERT_TRUE(read);
         EXPECT_DOUBLE_EQ(p.lat, 50.8402);
         EXPECT_DOUBLE_EQ(p.alt, 100.0);
         EXPECT_NE(csv.find(",50.500000000,4.250000000,1.500,"), std::string::npos) << csv;
     }},
};

TEST(HostileInput, NoHangNoLieNoLostHistory) {
    for (const HostileCase &c : kCases) {
        SCOPED_TRACE(c.name);
        c.check();
    }
}

} // namespace
