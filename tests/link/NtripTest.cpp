#include "LinkTestSupport.h"
#include "NtripCaster.h"
#include "NtripClient.h"
#include "NtripSource.h"
#include "Str2Str.h"
#include "TestPaths.h"
#include "model/NmeaDecoder.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Mode = CTestCaster::Mode;

extern char **environ;

namespace {

constexpr const char *kPassword = "pw-Zq81";
// Where the simulated rover stands: millionths of a degree, whole metres.
constexpr std::int32_t kLat = 45123456, kLon = -122654321;
constexpr std::uint16_t kAlt = 87;

std::string Capture(const std::string &name) {
    return ReadWholeFile(NmeaDir() + "/" + name);
}

// A client whose sink collects the frames and whose receiver has a fix once told so.
struct CRover {
    explicit CRover(NtripOptions options)
        : client(
              std::move(options),
              [this](const unsigned char *frame, std::size_t n, std::string &) {
                  std::lock_guard<std::mutex> lock(m_lock);
                  m_frames.emplace_back(reinterpret_cast<const char *>(frame), n);
                  return true;
              },
              [this](GpsFix &fix, FixExtra &extra) {
                  fix = GpsFix{};
                  extra = FixExtra{};
                  if (!hasFix)
                      return;
                  fix.bValid = 1;
                  fix.cFixMode = 3;
                  fix.lLatitude = kLat;
                  fix.lLongitude = kLon;
                  fix.wAltitude = kAlt;
                  fix.cSatsUsed = 9;
                  extra.sent = kSentPosition;
                  extra.quality = 1;
              }) {}
    std::vector<std::string> Frames() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frames;
    }
    // Waits until the status satisfies done; the last status seen.
    template <typename F> CorrectionStatus Await(F done, std::chrono::milliseconds timeout) {
        CorrectionStatus status;
        WaitUntil(
            [&] {
                status = client.Status();
                return done(status);
            },
            timeout);
        return status;
    }

    std::atomic<bool> hasFix{false};
    mutable std::mutex m_lock;
    std::vector<std::string> m_frames;
    CNtripClient client;
};

NtripOptions Options(const std::string &url, int stallS = 15) {
    NtripOptions options;
    std::string error;
    EXPECT_TRUE(platform::ntrip::ParseNtripUrl(url, options.url, error)) << url << ": " << error;
    options.stallS = stallS;
    return options;
}

// No text the client shows may carry the password it was given.
void ExpectNoPassword(const CorrectionStatus &status, const std::string &password) {
    for (const std::string &text : {status.url, status.state, status.notForwarded})
        EXPECT_EQ(text.find(password), std::string::npos) << text;
}

// The GGA sentences in bytes whose checksum holds, as our own decoder reads them: the last one,
// the record it left and how many it read or refused.
struct Uploaded {
    std::string gga;
    GpsFix fix{};
    ScanCounters counters;
};
Uploaded DecodeUpload(const std::string &bytes) {
    CNmeaDecoder decoder(0);
    Uploaded out;
    NmeaHooks hooks;
    hooks.onSentence = [&](const char *sentence, std::size_t len) {
        if (len > 6 && std::string_view(sentence + 3, 3) == "GGA")
            out.gga.assign(sentence, len);
    };
    decoder.SetHooks(hooks);
    decoder.ParseBuffer(bytes.data(), static_cast<int>(bytes.size()));
    decoder.CopyFix(out.fix);
    out.counters = decoder.CopyCounters();
    return out;
}

// Degrees of a GGA coordinate: fields "DDMM.MMMMM" (or "DDDMM...") and "N"/"S" ("E"/"W").
double Degrees(const std::vector<std::string> &fields, std::size_t at, std::size_t degDigits) {
    if (fields.size() <= at + 1 || fields[at].size() < degDigits)
        return 0.0;
    const double deg =
        std::stod(fields[at].substr(0, degDigits)) + std::stod(fields[at].substr(degDigits)) / 60.0;
    return fields[at + 1] == "S" || fields[at + 1] == "W" ? -deg : deg;
}

void ExpectRoverPosition(const std::string &upload) {
    const Uploaded up = DecodeUpload(upload);
    ASSERT_GE(up.counters.nGga, 1u) << upload;
    EXPECT_EQ(up.counters.nBadChecksum, 0u) << upload;
    std::vector<std::string> fields;
    std::stringstream split(up.gga);
    for (std::string field; std::getline(split, field, ',');)
        fields.push_back(field);
    // Five decimals of a minute: well within a millionth of a degree.
    EXPECT_NEAR(Degrees(fields, 2, 2), kLat / 1e6, 1e-6) << up.gga;
    EXPECT_NEAR(Degrees(fields, 4, 3), kLon / 1e6, 1e-6) << up.gga;
    EXPECT_EQ(up.fix.wAltitude, kAlt) << up.gga;
}

// Damaged: every fifth frame of the capture with a byte flipped and noise between others;
// Broken: every frame, then the state's words once the chunked transfer broke.
enum class Expect { AllFrames, Damaged, Broken, Refused, Stall, Reconnects };

// The capture with every fifth frame's middle byte flipped and a sentence of noise before every
// fifth other one; how many frames were damaged.
std::string Damage(const std::string &capture, std::size_t &damaged) {
    std::string out;
    std::size_t at = 0, n = 0;
    for (const std::string &frame : Rtcm3Frames(capture)) {
        const std::size_t pos = capture.find(frame, at);
        out += capture.substr(at, pos - at);
        std::string copy = frame;
        if (++n % 5 == 0) {
            copy[copy.size() / 2] = static_cast<char>(copy[copy.size() / 2] ^ 0x5A);
            ++damaged;
        } else if (n % 5 == 2) {
            out += "$GPTXT,01,01,02,noise*00\r\n";
        }
        out += copy;
        at = pos + frame.size();
    }
    return out + capture.substr(at);
}

struct CasterRow {
    const char *name;
    Mode mode;
    const char *capture;
    std::size_t framesPerTick;
    bool chunkExtensions;
    const char *icyHead;
    std::string userInfo;
    const char *mount;
    bool tableForUnknown;
    Expect expect;
    const char *state; // the state's words, or their start for a stall
};

const std::string kRight = std::string("rover:") + kPassword;

const CasterRow kCasterRows[] = {
    {"chunked_at_once", Mode::Chunked, "rtcm3.2.log", 0, false, "", kRight, "MOUNT", false,
     Expect::AllFrames, "receiving"},
    {"chunked_paced_extensions", Mode::Chunked, "rtcm3.bndm.log", 7, true, "", kRight, "MOUNT",
     false, Expect::AllFrames, "receiving"},
    {"icy", Mode::Icy, "rtcm3.2.log", 3, false, "ICY 200 OK\r\n", kRight, "MOUNT", false,
     Expect::AllFrames, "receiving"},
    {"icy_blank_line", Mode::Icy, "rtcm3.bndm.log", 0, false, "ICY 200 OK\r\n\r\n", kRight, "MOUNT",
     false, Expect::AllFrames, "receiving"},
    {"wrong_password", Mode::Chunked, "rtcm3.2.log", 0, false, "", "rover:pw-Wrong", "MOUNT", false,
     Expect::Refused, "wrong user or password"},
    {"no_credentials", Mode::Chunked, "rtcm3.2.log", 0, false, "", "", "MOUNT", false,
     Expect::Refused, "wrong user or password"},
    {"unknown_mount_404", Mode::Chunked, "rtcm3.2.log", 0, false, "", kRight, "NOPE", false,
     Expect::Refused, "no such mount point"},
    {"unknown_mount_table", Mode::Chunked, "rtcm3.2.log", 0, false, "", kRight, "NOPE", true,
     Expect::Refused, "no such mount point"},
    {"damaged_frames", Mode::Chunked, "rtcm3.2.log", 4, false, "", kRight, "MOUNT", false,
     Expect::Damaged, "receiving"},
    {"broken_chunks", Mode::Broken, "rtcm3.bndm.log", 0, false, "", kRight, "MOUNT", false,
     Expect::Broken, "the caster's chunked transfer is broken"},
    {"silent", Mode::Silent, "rtcm3.2.log", 0, false, "", kRight, "MOUNT", false, Expect::Stall,
     "no corrections for "},
    {"closes_after_head", Mode::Close, "rtcm3.2.log", 0, false, "", kRight, "MOUNT", false,
     Expect::Reconnects, ""},
};

void PrintTo(const CasterRow &row, std::ostream *os) {
    *os << row.name;
}

class NtripCasterTest : public ::testing::TestWithParam<CasterRow> {};

TEST_P(NtripCasterTest, StatusAndFramesFollowTheCaster) {
    const CasterRow &row = GetParam();
    CTestCaster::Options options;
    options.user = "rover";
    options.password = kPassword;
    options.table = {"STR;MOUNT;Test;RTCM 3.2;1077(1);2;GPS;TEST;USA;45.12;-122.65;0;0;test;none;B;"
                     "N;0;"};
    options.tableForUnknown = row.tableForUnknown;
    options.mode = row.mode;
    options.icyHead = row.icyHead;
    options.chunkExtensions = row.chunkExtensions;
    options.payload = Capture(row.capture);
    const std::size_t intact = Rtcm3Frames(options.payload).size();
    std::size_t damaged = 0;
    if (row.expect == Expect::Damaged)
        options.payload = Damage(options.payload, damaged);
    options.framesPerTick = row.framesPerTick;
    options.tickMs = 50;
    ASSERT_FALSE(options.payload.empty()) << row.capture;
    CTestCaster caster(options);
    ASSERT_TRUE(caster.Start());
    const std::string url = LoopbackNtripUrl(row.userInfo, caster.Port(), row.mount);
    const int stallS = 2;
    CRover rover(Options(url, stallS));
    rover.client.Start();

    const std::vector<std::string> expected = Rtcm3Frames(options.payload);
    rtcm3::CFramer framer;
    framer.Feed(reinterpret_cast<const unsigned char *>(options.payload.data()),
                options.payload.size(), [](const unsigned char *, std::size_t) {});
    CorrectionStatus status;
    switch (row.expect) {
    case Expect::AllFrames:
    case Expect::Damaged: {
        // A damaged frame costs itself only.
        ASSERT_EQ(expected.size(), intact - damaged);
        ASSERT_EQ(damaged > 0, row.expect == Expect::Damaged);
        ASSERT_GE(framer.BadCrc(), damaged);
        status = rover.Await(
            [&](const CorrectionStatus &s) {
                return s.frames >= expected.size() && s.bytes >= options.payload.size();
            },
            15s);
        EXPECT_EQ(rover.Frames(), expected);
        EXPECT_EQ(status.frames, expected.size());
        EXPECT_EQ(status.badCrc, framer.BadCrc());
        EXPECT_EQ(status.forwarded, expected.size());
        // Head and chunking taken off: what is left is the capture, byte for byte.
        EXPECT_EQ(status.bytes, options.payload.size());
        rtcm3::Tally tally;
        for (const std::string &frame : expected)
            tally.Add(reinterpret_cast<const unsigned char *>(frame.data()), frame.size());
        EXPECT_EQ(status.types, tally.types);
        EXPECT_TRUE(status.receiving);
        EXPECT_EQ(status.state, row.state);
        break;
    }
    case Expect::Broken: {
        status = rover.Await([&](const CorrectionStatus &s) { return s.state == row.state; }, 10s);
        EXPECT_EQ(status.state, row.state);
        // The frames before the break, in the same read as it or not, all arrived.
        const std::vector<std::string> frames = rover.Frames();
        ASSERT_GE(frames.size(), expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frames.begin()));
        break;
    }
    case Expect::Refused:
        status = rover.Await([&](const CorrectionStatus &s) { return s.state == row.state; }, 10s);
        EXPECT_EQ(status.state, row.state);
        EXPECT_EQ(status.frames, 0u);
        EXPECT_FALSE(status.receiving);
        break;
    case Expect::Stall:
        status =
            rover.Await([&](const CorrectionStatus &s) { return s.state.starts_with(row.state); },
                        std::chrono::seconds(stallS + 5));
        EXPECT_TRUE(status.state.starts_with(row.state)) << status.state;
        EXPECT_FALSE(status.receiving);
        break;
    case Expect::Reconnects:
        status = rover.Await([](const CorrectionStatus &s) { return s.reconnects >= 2; }, 15s);
        EXPECT_GE(status.reconnects, 2);
        EXPECT_GE(caster.Connections(), status.reconnects);
        EXPECT_EQ(status.frames, 0u);
        break;
    }
    EXPECT_TRUE(status.on);
    EXPECT_EQ(status.mount, row.mount);
    const platform::ntrip::NtripUrl given = Options(url).url;
    if (!given.password.empty()) {
        ExpectNoPassword(status, given.password);
        EXPECT_NE(status.url.find("***"), std::string::npos) << status.url;
    }
    // Every request named the client and, given a user, carried the credentials.
    for (const std::string &head : caster.Heads()) {
        if (!head.starts_with("GET /" + given.mount + " "))
            continue;
        EXPECT_NE(head.find("User-Agent: NTRIP "), std::string::npos) << head;
        EXPECT_EQ(head.find("Authorization: Basic ") != std::string::npos, !given.user.empty())
            << head;
    }
    rover.client.Stop();
    EXPECT_FALSE(rover.client.Status().on);
}

INSTANTIATE_TEST_SUITE_P(Casters, NtripCasterTest, ::testing::ValuesIn(kCasterRows),
                         [](const auto &row) { return std::string(row.param.name); });

// GGA goes up when the user asks for it or the mount's STR line does (nmea = 1), never before
// the receiver has a fix.
struct GgaRow {
    const char *name;
    bool ggaUpload;
    const char *nmeaField; // the STR line's field 12
    bool tableV1;          // the table as "SOURCETABLE 200 OK"
    bool expectGga;
};

const GgaRow kGgaRows[] = {
    {"asked_by_user", true, "0", false, true},
    {"asked_by_source_table", false, "1", false, true},
    {"asked_by_v1_source_table", false, "1", true, true},
    {"not_asked", false, "0", false, false},
};

void PrintTo(const GgaRow &row, std::ostream *os) {
    *os << row.name;
}

class NtripGgaTest : public ::testing::TestWithParam<GgaRow> {};

TEST_P(NtripGgaTest, UploadsTheFixOnlyOnceThereIsOne) {
    const GgaRow &row = GetParam();
    CTestCaster::Options options;
    options.table = {std::string("STR;MOUNT;Test;RTCM 3.2;1077(1);2;GPS;TEST;USA;45.12;-122.65;") +
                     row.nmeaField + ";0;test;none;N;N;0;"};
    options.tableV1 = row.tableV1;
    options.payload = Capture("rtcm3.bndm.log");
    options.framesPerTick = 1;
    CTestCaster caster(options);
    ASSERT_TRUE(caster.Start());
    NtripOptions ntrip = Options(LoopbackNtripUrl("", caster.Port(), "MOUNT"));
    ntrip.ggaUpload = row.ggaUpload;
    ntrip.ggaIntervalS = 1;
    CRover rover(ntrip);
    rover.client.Start();
    // Receiving, and more than a GGA interval without a fix: nothing may go up.
    rover.Await([](const CorrectionStatus &s) { return s.frames > 0; }, 5s);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(caster.Uploaded(), "");
    EXPECT_EQ(rover.client.Status().ggaSent, 0u);
    for (const std::string &head : caster.Heads())
        EXPECT_EQ(head.find("Ntrip-GGA"), std::string::npos) << head;

    rover.hasFix = true;
    const bool sent = WaitUntil([&] { return DecodeUpload(caster.Uploaded()).counters.nGga > 0; },
                                row.expectGga ? 5s : 2500ms);
    EXPECT_EQ(sent, row.expectGga) << caster.Uploaded();
    const CorrectionStatus status = rover.client.Status();
    EXPECT_EQ(status.ggaOn, row.expectGga);
    EXPECT_EQ(status.ggaSent > 0, row.expectGga);
    if (row.expectGga)
        ExpectRoverPosition(caster.Uploaded());
}

INSTANTIATE_TEST_SUITE_P(Gga, NtripGgaTest, ::testing::ValuesIn(kGgaRows),
                         [](const auto &row) { return std::string(row.param.name); });

// Debian's str2str as the caster: an NTRIP 1.0 caster the client did not grow up with.
class NtripStr2StrTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (CStr2Str::BinaryPath().empty())
            GTEST_SKIP() << "needs /usr/bin/str2str (Debian's rtklib package)";
        CStr2Str::Options options;
        options.password = kPassword;
        options.payload = Capture("rtcm3.2.log");
        ASSERT_TRUE(m_str2str.Start(options));
    }
    std::string Url(const std::string &userInfo, const std::string &mount) const {
        return LoopbackNtripUrl(userInfo, m_str2str.Port(), mount);
    }
    CStr2Str m_str2str;
};

TEST_F(NtripStr2StrTest, SourceTableNamesTheMount) {
    std::string why;
    const auto table =
        platform::CNtripSource::FetchSourceTable(Options(Url("", "")).url, 5000, why);
    ASSERT_EQ(table.size(), 1u) << why;
    EXPECT_EQ(table[0].mount, m_str2str.Settings().mount);
    EXPECT_EQ(table[0].format, "RTCM 3.2");
    EXPECT_TRUE(table[0].hasPosition);
    EXPECT_DOUBLE_EQ(table[0].lat, 45.0);
    EXPECT_DOUBLE_EQ(table[0].lon, -122.0);
    EXPECT_FALSE(table[0].wantsGga);
}

struct Str2StrRow {
    const char *name;
    std::string userInfo;
    const char *mount; // "" for the caster's
    const char *state;
};

const Str2StrRow kStr2StrRows[] = {
    {"right_password", std::string("rover:") + kPassword, "", "receiving"},
    {"wrong_password", "rover:pw-Wrong", "", "wrong user or password"},
    {"unknown_mount", std::string("rover:") + kPassword, "NOPE", "no such mount point"},
};

TEST_F(NtripStr2StrTest, ClientReadsItsAnswers) {
    const std::vector<std::string> frames = Rtcm3Frames(m_str2str.Settings().payload);
    const std::set<std::string> known(frames.begin(), frames.end());
    for (const Str2StrRow &row : kStr2StrRows) {
        SCOPED_TRACE(row.name);
        const std::string mount = *row.mount != '\0' ? row.mount : m_str2str.Settings().mount;
        NtripOptions options = Options(Url(row.userInfo, mount));
        options.ggaUpload = true; // and no source table asked first
        CRover rover(options);
        rover.client.Start();
        const CorrectionStatus status = rover.Await(
            [&](const CorrectionStatus &s) {
                return s.state == row.state && (s.state != "receiving" || s.frames >= 20);
            },
            row.state == std::string("receiving") ? 10s : 5s);
        EXPECT_EQ(status.state, row.state);
        ExpectNoPassword(status, kPassword);
        if (status.frames == 0)
            continue;
        // The stream is joined anywhere: every frame must be one of the capture's, whole.
        EXPECT_EQ(status.badCrc, 0u);
        for (const std::string &frame : rover.Frames())
            EXPECT_TRUE(known.count(frame) == 1) << frame.size() << " bytes";
    }
}

TEST_F(NtripStr2StrTest, GgaReachesTheCastersInput) {
    NtripOptions options =
        Options(Url(std::string("rover:") + kPassword, m_str2str.Settings().mount));
    options.ggaUpload = true;
    options.ggaIntervalS = 1;
    CRover rover(options);
    rover.hasFix = true;
    rover.client.Start();
    // str2str relays what the caster's clients send to its input ("-b 1"): our server.
    EXPECT_TRUE(
        WaitUntil([&] { return DecodeUpload(m_str2str.RelayedBack()).counters.nGga >= 2; }, 8s))
        << m_str2str.RelayedBack();
    ExpectRoverPosition(m_str2str.RelayedBack());
}

// The simulated rover on a pseudo-terminal, corrected through skywatch-decode --ntrip from
// str2str: its GGA quality goes to RTK float (5), then to RTK fixed (4); nothing the tool prints
// shows the password.
// The simulated rover through skywatch-decode --ntrip: with the right password it goes to RTK
// float, then fixed; with a wrong one the tool says so and the fix stays the receiver's own.
TEST_F(NtripStr2StrTest, SimulatedRoverReachesRtkFixed) {
    const std::string decode = BinaryDir() + "/tools/skywatch-decode";
    if (!CSimProcess::Built() || ::access(decode.c_str(), X_OK) != 0)
        GTEST_SKIP() << "needs skywatch-sim and skywatch-decode built";
    struct RoverCase {
        const char *password;
        const char *seconds; // how long the tool runs
        bool corrected;
        const char *says;
    };
    const RoverCase cases[] = {
        {kPassword, "40", true, "corrections from"},
        {"not-the-password", "6", false, "wrong user or password"},
    };
    for (const RoverCase &c : cases) {
        SCOPED_TRACE(c.says);
        // The rover's float and fixed solutions come on its own clock, sped up.
        CSimProcess sim({"--speed", std::to_string(kSimSpeed)});
        ASSERT_FALSE(sim.SlavePath().empty()) << sim.Errors();
        const std::string url = Url(std::string("rover:") + c.password, m_str2str.Settings().mount);
        std::vector<const char *> argv = {decode.c_str(), "--device",  sim.SlavePath().c_str(),
                                          "--ntrip",      url.c_str(), "--seconds",
                                          c.seconds,      nullptr};
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        pid_t pid = -1;
        const auto start = std::chrono::steady_clock::now();
        const int rc = ::posix_spawn(&pid, decode.c_str(), &actions, nullptr,
                                     const_cast<char *const *>(argv.data()), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ASSERT_EQ(rc, 0);
        // Seconds from the start to the first record of each quality.
        std::map<int, double> firstSeen;
        std::string lines, all;
        const std::string key = "\"quality\":{\"value\":";
        while (firstSeen.count(4) == 0 && std::chrono::steady_clock::now() - start < 35s) {
            pollfd fd{out[0], POLLIN, 0};
            if (::poll(&fd, 1, 500) != 1)
                continue;
            char buf[4096];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            lines.append(buf, static_cast<std::size_t>(n));
            all.append(buf, static_cast<std::size_t>(n));
            for (std::size_t end; (end = lines.find('\n')) != std::string::npos;
                 lines.erase(0, end + 1)) {
                const std::size_t at = lines.find(key);
                if (at >= end)
                    continue;
                const int quality = std::atoi(lines.c_str() + at + key.size());
                firstSeen.emplace(
                    quality, std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                                 .count());
            }
        }
        if (c.corrected)
            ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(out[0]);
        EXPECT_EQ(all.find(c.password), std::string::npos);
        EXPECT_NE(all.find(c.says), std::string::npos) << all.substr(0, 2000);
        if (!c.corrected) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "none arrived: exit 1";
            EXPECT_EQ(firstSeen.count(5) + firstSeen.count(4), 0u) << "corrected without data";
            EXPECT_EQ(firstSeen.count(1), 1u) << "the receiver's own fix went on";
            continue;
        }
        ASSERT_EQ(firstSeen.count(5), 1u) << "no RTK float";
        ASSERT_EQ(firstSeen.count(4), 1u) << "no RTK fixed";
        EXPECT_LT(firstSeen[5], firstSeen[4]);
        std::printf("RTK float after %.1f s, RTK fixed after %.1f s\n", firstSeen[5], firstSeen[4]);
    }
}

} // namespace
