// Recording through the real port: the bytes as the pseudo-terminal delivered them, a full disk
// (a file size limit), a removed file, and the targets that are refused.
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "SessionRecorder.h"
#include "TestPaths.h"
#include "WakeEvent.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kPort = 4;

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One second of a receiver, with a binary frame (zeros included) between the sentences.
std::string Cycle(int second) {
    char rmc[96];
    std::snprintf(rmc, sizeof rmc, "$GPRMC,1235%02d,A,4807.038,N,01131.000,E,022.4,084.4,230394,,",
                  second % 60);
    return Sentence(rmc) + std::string("\xb5\x62\x01\x07\x00\x00\x08\x19", 8) +
           Sentence("$GPGGA,1235,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/skywatch-record-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
        ASSERT_TRUE(m_pty.Valid());
        platform::BindPort(kPort, m_pty.SlavePath());
    }
    void TearDown() override {
        platform::UnbindAllPorts();
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }
    std::string m_dir;
    CPtyPair m_pty;
};

TEST_F(Recorder, KeepsTheBytesExactlyAsReceivedAndSaysHowMany) {
    const std::string path = m_dir + "/session.nmea";
    CGpsPort port(0);
    std::string why;
    ASSERT_TRUE(port.Recorder().Start(path, false, why)) << why;
    ASSERT_TRUE(port.Open(kPort, 115200));
    std::string sent;
    for (int s = 0; s < 20; ++s) {
        sent += Cycle(s);
        ASSERT_TRUE(m_pty.Write(Cycle(s)));
    }
    // Out within the flush interval without a stop: another program may read it meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return port.Recorder().CopyStatus().written == sent.size(); }, 2s))
        << port.Recorder().CopyStatus().written << " of " << sent.size();
    EXPECT_EQ(ReadAll(path), sent);
    port.Close();
    port.Recorder().Stop();
    EXPECT_EQ(ReadAll(path), sent);
    EXPECT_FALSE(port.Recorder().CopyStatus().recording);
    EXPECT_EQ(port.Recorder().CopyStatus().stopped, "");
}

TEST_F(Recorder, RefusesWhatIsNoNewRegularFileUnlessAskedToOverwrite) {
    const std::string existing = m_dir + "/old.nmea", fifo = m_dir + "/fifo";
    { std::ofstream(existing) << "old"; }
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        bool overwrite;
        const char *says; // "" when it may record
    } rows[] = {
        {existing, false, "exists"},
        {m_dir, true, "folder"},
        {fifo, true, "not a regular file"},
        {"/dev/null", true, "not a regular file"},
        {m_dir + "/missing/x.nmea", false, "No such file"},
        {existing, true, ""},
        {m_dir + "/new.nmea", false, ""},
    };
    for (const auto &row : rows) {
        platform::CSessionRecorder recorder;
        std::string why;
        EXPECT_EQ(recorder.Start(row.path, row.overwrite, why), row.says[0] == '\0') << row.path;
        EXPECT_NE(why.find(row.says), std::string::npos) << row.path << ": " << why;
    }
    EXPECT_EQ(ReadAll(existing), ""); // replaced, as asked
}

// The file size limit stands in for a full disk; it is set in a child so nothing else feels it.
TEST_F(Recorder, AFullDiskEndsTheRecordingKeepsWhatWasWrittenAndMonitoringGoesOn) {
    const std::string path = m_dir + "/full.nmea";
    constexpr rlim_t kLimit = 1500;
    std::string sent;
    for (int s = 0; s < 30; ++s)
        sent += Cycle(s);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{kLimit, kLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        // The port and its recorder end their threads before the child exits.
        const int code = [&] {
            CGpsPort port(0);
            std::string why;
            if (!port.Recorder().Start(path, false, why) || !port.Open(kPort, 115200))
                return 10;
            for (int s = 0; s < 30; ++s)
                m_pty.Write(Cycle(s));
            if (!WaitUntil([&] { return !port.Recorder().CopyStatus().recording; }, 3s))
                return 11;
            const auto status = port.Recorder().CopyStatus();
            if (status.stopped.find("File too large") == std::string::npos ||
                status.stopped.find("1.5 kB kept") == std::string::npos || status.written != kLimit)
                return 12;
            const std::uint32_t decoded = port.CopyCounters().Decoded();
            m_pty.Write(Cycle(31));
            return WaitUntil([&] { return port.CopyCounters().Decoded() > decoded; }, 2s) ? 0 : 13;
        }();
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 no start, 11 not stopped, 12 wrong message or count, "
                                         "13 monitoring stopped";
    EXPECT_EQ(ReadAll(path), sent.substr(0, kLimit));
}

TEST_F(Recorder, ARemovedFileEndsTheRecordingWithTheReason) {
    const std::string path = m_dir + "/gone.nmea";
    platform::CSessionRecorder recorder;
    std::string why;
    ASSERT_TRUE(recorder.Start(path, false, why)) << why;
    recorder.OnBlock("$GP", 3);
    ASSERT_TRUE(WaitUntil([&] { return recorder.CopyStatus().written == 3; }, 2s));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return !recorder.CopyStatus().recording; }, 2s));
    EXPECT_NE(recorder.CopyStatus().stopped.find("was removed"), std::string::npos)
        << recorder.CopyStatus().stopped;
}

} // namespace

namespace {

ScanCounters Settled(const CGpsPort &port) {
    ScanCounters last = port.CopyCounters();
    for (int still = 0; still < 5;) {
        std::this_thread::sleep_for(100ms);
        const ScanCounters now = port.CopyCounters();
        still = std::memcmp(&now, &last, sizeof now) == 0 ? still + 1 : 0;
        last = now;
    }
    return last;
}

// The live run through the pseudo-terminal is recorded; the recording, played as fast as it
// goes, must leave the decoder where the live run left it.
TEST_F(Recorder, ReplayOfTheRecordingGivesTheLiveRunsRecords) {
    const std::string capture = ReadAll(std::string(SKYWATCH_NMEA_DIR) + "/mt3339.log");
    ASSERT_FALSE(capture.empty());
    const std::string path = m_dir + "/live.nmea";
    GpsFix live{};
    ScanCounters liveCounts;
    {
        CGpsPort port(0);
        std::string why;
        ASSERT_TRUE(port.Recorder().Start(path, false, why)) << why;
        ASSERT_TRUE(port.Open(kPort, 115200));
        ASSERT_TRUE(m_pty.Write(capture));
        ASSERT_TRUE(
            WaitUntil([&] { return port.Recorder().CopyStatus().written == capture.size(); }, 4s));
        liveCounts = Settled(port);
        port.CopyFix(live);
        port.Close();
    }
    ASSERT_EQ(ReadAll(path), capture);
    ASSERT_EQ(std::system(("gzip -k '" + path + "'").c_str()), 0);
    for (const std::string &name : {"file://" + path, path + ".gz"}) {
        SCOPED_TRACE(name);
        platform::BindPort(5, name);
        CGpsPort port(0);
        ASSERT_TRUE(port.Open(5, 4800)) << port.LastOpenMessage();
        ASSERT_NE(port.Replay(), nullptr);
        port.Replay()->SetSpeed(platform::CFileSource::kFastest);
        ASSERT_TRUE(WaitUntil([&] { return port.Replay()->Ended(); }, 5s));
        const ScanCounters counts = Settled(port);
        EXPECT_EQ(std::memcmp(&counts, &liveCounts, sizeof counts), 0)
            << counts.Decoded() << " decoded, live " << liveCounts.Decoded();
        GpsFix replayed{};
        port.CopyFix(replayed);
        EXPECT_EQ(std::memcmp(&replayed, &live, sizeof live), 0);
        EXPECT_DOUBLE_EQ(port.Replay()->Position(), 1.0);
        // Restart commands have nowhere to go.
        port.Send("$PMTK103*30\r\n");
        EXPECT_NE(port.LastSendFailure().find("a replay takes no commands"), std::string::npos);
    }
}

// Six epochs a second apart, of sentences or of a UBX-only receiver's frames: x10 plays them in
// about half a second, as fast as possible at once, and a paused replay gives nothing.
TEST_F(Recorder, ReplayKeepsThePaceOfTheSentencesTimes) {
    std::string six;
    for (int s = 0; s < 6; ++s)
        six += Cycle(s);
    const std::string path = m_dir + "/six.nmea";
    { std::ofstream(path, std::ios::binary) << six; }
    // The capture's first six epochs end at byte 2668, with its sixth NAV-EOE.
    std::ifstream capture(NmeaDir() + "/ublox-zed-f9p-hp.log", std::ios::binary);
    const std::string sixUbx =
        std::string(std::istreambuf_iterator<char>(capture), {}).substr(0, 2668);
    ASSERT_EQ(sixUbx.size(), 2668u);
    const std::string ubxPath = m_dir + "/six.ubx";
    { std::ofstream(ubxPath, std::ios::binary) << sixUbx; }
    const struct {
        const std::string *path, *bytes;
        int speed;
        double fromS, toS;
    } rows[] = {{&path, &six, 10, 0.4, 1.5},
                {&path, &six, platform::CFileSource::kFastest, 0.0, 0.3},
                {&ubxPath, &sixUbx, 10, 0.4, 1.5}};
    for (const auto &row : rows) {
        SCOPED_TRACE(*row.path + " at " + std::to_string(row.speed));
        platform::CFileSource source(*row.path);
        std::string why;
        ASSERT_TRUE(source.Open(why)) << why;
        source.SetSpeed(row.speed);
        platform::CWakeEvent wake;
        std::string got;
        const auto started = std::chrono::steady_clock::now();
        char buf[1024];
        while (!source.Ended()) {
            const platform::SerialRead r = source.Read(buf, sizeof buf, 1000, wake);
            got.append(buf, r.count);
        }
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(got, *row.bytes);
        EXPECT_GE(took, row.fromS);
        EXPECT_LE(took, row.toS);
    }
    platform::CFileSource paused(path);
    std::string why;
    ASSERT_TRUE(paused.Open(why));
    paused.SetSpeed(platform::CFileSource::kPaused);
    platform::CWakeEvent wake;
    char buf[64];
    EXPECT_EQ(paused.Read(buf, sizeof buf, 300, wake).count, 0u);
    // A jump lands on a whole line.
    paused.SetSpeed(platform::CFileSource::kFastest);
    paused.JumpTo(0.5);
    const platform::SerialRead r = paused.Read(buf, sizeof buf, 300, wake);
    ASSERT_GT(r.count, 0u);
    EXPECT_TRUE(buf[0] == '$' || buf[0] == '\xb5') << std::string(buf, r.count);
}

} // namespace
