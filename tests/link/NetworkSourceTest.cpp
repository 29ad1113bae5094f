#include "GpsPort.h"
#include "GpsdSource.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "Resolve.h"
#include "SourceUrl.h"
#include "TestPaths.h"
#include "ToolRecords.h"
#include "receiver/RestartCommands.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::SourceUrl;

namespace {

constexpr int kNetPort = 1;
const std::string kDecode = BinaryDir() + "/tools/skywatch-decode";
const std::string kSample = SourceDir() + "/res/sample.nmea";

std::uint32_t Decoded(const CGpsPort &port) {
    return port.CopyCounters().Decoded();
}

// Output lines of a shell command (stderr joined to stdout when asked).
std::vector<std::string> RunLines(const std::string &command) {
    std::vector<std::string> lines;
    FILE *p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return lines;
    char buf[8192];
    while (std::fgets(buf, sizeof buf, p) != nullptr) {
        std::string line = buf;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
    }
    ::pclose(p);
    return lines;
}

// Every record the decode tool prints for the sample log read three times over, from the second
// pass on: what a reader that joined the looping stream anywhere can show once it has seen a loop.
std::set<std::string> SteadyRecords() {
    std::vector<std::string> all =
        RunLines("cat '" + kSample + "' '" + kSample + "' '" + kSample + "' | " + kDecode + " -");
    std::string table;
    for (std::string &record : all)
        record = WithTable(record, table);
    return {all.begin() + static_cast<std::ptrdiff_t>(all.size() / 3), all.end()};
}

// A loopback listener that sends "x" without end to everyone who connects: a look-alike that
// never ends a line.
class CFloodingPeer {
public:
    CFloodingPeer() {
        m_listener = BindLoopback(SOCK_STREAM, m_port, 4);
        m_thread = std::thread([this] {
            const std::string junk(4096, 'x');
            std::vector<int> peers;
            while (!m_stop) {
                pollfd p{m_listener, POLLIN, 0};
                if (::poll(&p, 1, 5) == 1)
                    peers.push_back(::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK));
                for (int fd : peers)
                    ::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
            }
            for (int fd : peers)
                ::close(fd);
        });
    }
    ~CFloodingPeer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int Port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class NetworkSource : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CSimProcess::Built())
            GTEST_SKIP() << "needs the skywatch-sim simulator in the build tree";
    }
    void TearDown() override { platform::UnbindAllPorts(); }
    CSimProcess m_sim;
};

class GpsdSource : public NetworkSource {
protected:
    void StartOn(const std::vector<std::string> &simArgs) {
        ASSERT_TRUE(m_sim.Start(simArgs));
        ASSERT_TRUE(m_gpsd.Start(m_sim.SlavePath()));
        ::setenv("GPSD_SOCKET", m_gpsd.ControlSocket().c_str(), 1);
    }
    void SetUp() override {
        NetworkSource::SetUp();
        if (CGpsd::BinaryPath().empty())
            GTEST_SKIP() << "needs gpsd (Debian's gpsd package)";
    }
    void TearDown() override {
        ::unsetenv("GPSD_SOCKET");
        NetworkSource::TearDown();
    }
    CGpsd m_gpsd;
};

} // namespace

TEST(SourceUrlTest, ParsesEveryForm) {
    using K = SourceUrl::Kind;
    const struct {
        const char *text;
        K kind;
        const char *host;
        int port;
        const char *device;
    } rows[] = {
        {"/dev/ttyUSB0", K::Serial, "", 0, "/dev/ttyUSB0"},
        {"gpsd://", K::Gpsd, "localhost", 2947, ""},
        {"gpsd://pi.local", K::Gpsd, "pi.local", 2947, ""},
        {"gpsd://127.0.0.1:3000/dev/ttyACM0", K::Gpsd, "127.0.0.1", 3000, "/dev/ttyACM0"},
        {"gpsd:///dev/ttyUSB1", K::Gpsd, "localhost", 2947, "/dev/ttyUSB1"},
        {"GPSD://[::1]:2948", K::Gpsd, "::1", 2948, ""},
        {"gpsd://[fe80::1%eth0]", K::Gpsd, "fe80::1%eth0", 2947, ""},
        {"tcp://192.168.4.1:10110", K::Tcp, "192.168.4.1", 10110, ""},
        {"tcp://[::1]:1/", K::Tcp, "::1", 1, ""},
        {"udp://:10110", K::Udp, "", 10110, ""},
        {"udp://127.0.0.1:65535", K::Udp, "127.0.0.1", 65535, ""},
    };
    for (const auto &row : rows) {
        SourceUrl url;
        std::string error;
        ASSERT_TRUE(platform::ParseSourceUrl(row.text, url, error)) << row.text << ": " << error;
        EXPECT_EQ(url.kind, row.kind) << row.text;
        EXPECT_EQ(url.host, row.host) << row.text;
        EXPECT_EQ(url.port, row.port) << row.text;
        EXPECT_EQ(url.device, row.device) << row.text;
    }
}

TEST(SourceUrlTest, BadAddressesGetOneClearLine) {
    const struct {
        const char *text;
        const char *says;
    } rows[] = {
        {"tcp://localhost", "no port"},
        {"udp://", "no port"},
        {"tcp://localhost:0", "out of range"},
        {"tcp://localhost:65536", "out of range"},
        {"gpsd://localhost:99999", "out of range"},
        {"tcp://localhost:12ab", "number"},
        {"tcp://:4000", "no host"},
        {"ftp://localhost:21", "unknown scheme \"ftp\""},
        {"gpsd://[::1:2947", "unclosed"},
        {"tcp://::1:80", "brackets"},
        {"tcp://h:1/path", "no path"},
        {"gpsd://[[{]:20", "the host may hold only"},
        {"gpsd://[ds%1]:4", "the host may hold only"},
        {"tcp://my host:10110", "the host may hold only"},
        {"", "empty"},
    };
    for (const auto &row : rows) {
        SourceUrl url;
        std::string error;
        EXPECT_FALSE(platform::ParseSourceUrl(row.text, url, error)) << row.text;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.text << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST_F(NetworkSource, OpenFailsAtOnceWithTheReasonWhenTheAddressCannotWork) {
    const int udp = FreePort(SOCK_DGRAM);
    platform::BindPort(2, "udp://127.0.0.1:" + std::to_string(udp));
    CGpsPort first;
    ASSERT_TRUE(first.Open(2, 4800)) << first.LastOpenMessage();
    const struct {
        std::string url;
        const char *says;
    } rows[] = {
        {"udp://127.0.0.1:" + std::to_string(udp), "port in use"},
        {"tcp://no-such-host.invalid:5000", "not found"},
        {"tcp://localhost:0", "out of range"},
    };
    for (const auto &row : rows) {
        platform::BindPort(kNetPort, row.url);
        CGpsPort port;
        EXPECT_FALSE(port.Open(kNetPort, 4800)) << row.url;
        EXPECT_NE(port.LastOpenMessage().find(row.says), std::string::npos)
            << row.url << ": " << port.LastOpenMessage();
        EXPECT_EQ(port.m_hPort, -1);
        EXPECT_EQ(port.m_hThread, -1);
    }
}

// A peer that is down at start is retried as one that went away, and says why meanwhile.
TEST_F(NetworkSource, SourceDownAtStartIsRetriedUntilItComesUp) {
    const int tcp = FreePort(SOCK_STREAM);
    platform::BindPort(kNetPort, "tcp://127.0.0.1:" + std::to_string(tcp));
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    EXPECT_NE(port.SourceWarning().find("Connection refused"), std::string::npos)
        << port.SourceWarning();
    EXPECT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 1s));
    ASSERT_TRUE(m_sim.Start({"--fast", "--tcp", std::to_string(tcp)}));
    EXPECT_TRUE(WaitUntil([&] { return Decoded(port) > 0; }, 4s));
    EXPECT_EQ(port.SourceWarning(), "");
}

// A restart that cannot go is not timed: the tool says why and exits 1, at once, even when the
// peer floods without a line end.
TEST_F(NetworkSource, RestartThatCannotGoIsNotTimed) {
    CFloodingPeer flood;
    const struct {
        std::string url;
        const char *says;
    } rows[] = {{"udp://127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM)), "UDP"},
                {"gpsd://127.0.0.1:" + std::to_string(flood.Port()), "commands cannot be sent"}};
    for (const auto &row : rows) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<std::string> got =
            RunLines(kDecode + " --device " + row.url + " --send cold --seconds 5 2>&1; echo $?");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << row.url;
        ASSERT_GE(got.size(), 2u) << row.url;
        EXPECT_NE(got[0].find("cold start not sent"), std::string::npos) << got[0];
        EXPECT_NE(got[0].find(row.says), std::string::npos) << got[0];
        EXPECT_EQ(got.back(), "1") << row.url;
        // Settings neither: each line says why, none waits for a reply.
        const std::vector<std::string> set =
            RunLines(kDecode + " --device " + row.url + " --set rate=5 --save 2>&1; echo $?");
        ASSERT_EQ(set.size(), 3u) << row.url;
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_NE(set[i].find("\"result\":\"refused\""), std::string::npos) << set[i];
            EXPECT_NE(set[i].find(row.says), std::string::npos) << set[i];
        }
        EXPECT_EQ(set.back(), "1") << row.url;
    }
    // The device query gives up at its deadline, however the look-alike sends.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(platform::CGpsdSource::QueryDevices("127.0.0.1", flood.Port(), 300).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
}

TEST_F(NetworkSource, TcpReadsTakesCommandsAndComesBackAfterThePeerCloses) {
    const int tcp = FreePort(SOCK_STREAM);
    ASSERT_TRUE(m_sim.Start({"--fast", "--chip", "sirf", "--tcp", std::to_string(tcp),
                             "--unplug-after", "3", "--unplug-pause", "2"}));
    platform::BindPort(kNetPort, "tcp://localhost:" + std::to_string(tcp));
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    EXPECT_TRUE(port.IsNetworkSource());
    ASSERT_TRUE(WaitUntil([&] { return Decoded(port) > 0; }, 3s));

    char line[kSentenceBufferSize];
    port.Send(ComposeColdStart(line));
    EXPECT_EQ(port.LastSendFailure(), "");
    EXPECT_TRUE(WaitUntil(
        [&] { return m_sim.Errors().find("received cold start") != std::string::npos; }, 2s))
        << m_sim.Errors();

    ASSERT_TRUE(
        WaitUntil([&] { return m_sim.Errors().find("unplugged") != std::string::npos; }, 5s));
    const std::uint32_t before = Decoded(port);
    // Back after the 2 s pause; the reader retries once a second and reads within another.
    EXPECT_TRUE(WaitUntil([&] { return Decoded(port) > before + 3; }, 5s)) << m_sim.Errors();
    EXPECT_NE(port.m_hThread, -1);
}

TEST_F(NetworkSource, UdpReadsDatagramsAndSaysWhyNoCommandGoesBack) {
    const int udp = FreePort(SOCK_DGRAM);
    platform::BindPort(kNetPort, "udp://127.0.0.1:" + std::to_string(udp));
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    ASSERT_TRUE(m_sim.Start({"--fast", "--udp", "127.0.0.1:" + std::to_string(udp)}));
    ASSERT_TRUE(WaitUntil([&] { return Decoded(port) >= 4; }, 3s));
    char line[kSentenceBufferSize];
    port.Send(ComposeColdStart(line));
    EXPECT_NE(port.LastSendFailure().find("UDP"), std::string::npos) << port.LastSendFailure();
    EXPECT_EQ(port.CopyCounters().nBadChecksum, 0u);
}

// A bridge that sends one epoch a datagram: every sentence of a datagram far over the read
// size is decoded, none cut.
TEST_F(NetworkSource, UdpDatagramsOverTheReadSizeAreReadWhole) {
    const int udp = FreePort(SOCK_DGRAM);
    platform::BindPort(kNetPort, "udp://127.0.0.1:" + std::to_string(udp));
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(udp);
    const struct { int sentences; } rows[] = {{15}, {60}, {800}};
    std::uint32_t want = 0;
    for (const auto &row : rows) {
        std::string datagram;
        for (int i = 0; i < row.sentences; ++i)
            datagram += Sentence("$GPGSV,1,1,01," + std::to_string(10 + i % 80) + ",45,120,40");
        ASSERT_EQ(::sendto(fd, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<const sockaddr *>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
        want += static_cast<std::uint32_t>(row.sentences);
        EXPECT_TRUE(WaitUntil([&] { return port.CopyCounters().nGsv == want; }, 2s))
            << datagram.size() << " bytes: " << port.CopyCounters().nGsv << " of " << want;
    }
    ::close(fd);
    EXPECT_EQ(port.CopyCounters().Dropped(), 0u);
}

TEST_F(NetworkSource, CloseIsQuickWhileAConnectHangs) {
    // A loopback listener that never accepts, with its one-entry backlog taken: the kernel
    // drops further handshakes, so the next connect stays pending.
    int listenerPort = 0;
    const int listener = BindLoopback(SOCK_STREAM, listenerPort, 0);
    ASSERT_GE(listener, 0);
    const sockaddr_in addr = LoopbackAddress(listenerPort);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    }
    platform::BindPort(kNetPort, "tcp://127.0.0.1:" + std::to_string(listenerPort));
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_EQ(Decoded(port), 0u);
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

TEST_F(GpsdSource, DecodeToolThroughGpsdAgreesWithTheLogReadDirectly) {
    // The three-epoch sample, looped twice a second, so a loop passes within a second or two.
    StartOn({"--replay", kSample, "--baud", "9600", "--rate", "2"});
    const std::set<std::string> steady = SteadyRecords();
    ASSERT_FALSE(steady.empty());
    const std::vector<std::string> got =
        RunLines(kDecode + " --device " + m_gpsd.Url() + " --seconds 4 --last --stats 2>&1");
    ASSERT_EQ(got.size(), 2u);
    // The record, then the counters: standard output goes out before standard error.
    EXPECT_TRUE(steady.count(got[0])) << got[0];
    EXPECT_NE(got[1].find("\"RMC\":"), std::string::npos) << got[1];
    EXPECT_EQ(got[1].find("\"RMC\":0"), std::string::npos) << got[1];
    EXPECT_NE(got[1].find("\"badChecksum\":0,\"cut\":0,\"tooLong\":0"), std::string::npos)
        << got[1];
}

TEST_F(GpsdSource, RestartCommandReachesTheReceiverThroughGpsd) {
    StartOn({"--fast", "--chip", "sirf"});
    const struct {
        std::string url;
        const char *kind;
    } rows[] = {{m_gpsd.Url(m_sim.SlavePath()), "cold"}, {m_gpsd.Url(), "warm"}};
    for (const auto &row : rows) {
        platform::BindPort(kNetPort, row.url);
        CGpsPort port;
        ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
        ASSERT_TRUE(WaitUntil([&] { return Decoded(port) > 0; }, 4s)) << row.url;
        char line[kSentenceBufferSize];
        port.Send(std::string(row.kind) == "cold" ? ComposeColdStart(line)
                                                  : ComposeWarmStart(line));
        EXPECT_EQ(port.LastSendFailure(), "") << row.url;
        const std::string said = std::string("received ") + row.kind + " start";
        EXPECT_TRUE(WaitUntil([&] { return m_sim.Errors().find(said) != std::string::npos; }, 2s))
            << row.url << ": " << m_sim.Errors();
    }
    // Without the control socket the command cannot go, and the port says why.
    ::setenv("GPSD_SOCKET", "/nonexistent/gpsd.sock", 1);
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800));
    ASSERT_TRUE(WaitUntil([&] { return Decoded(port) > 0; }, 4s));
    char line[kSentenceBufferSize];
    port.Send(ComposeHotStart(line));
    EXPECT_NE(port.LastSendFailure().find("control socket"), std::string::npos)
        << port.LastSendFailure();
}

TEST_F(GpsdSource, DeviceBusyUnderGpsdOpensThroughGpsd) {
    StartOn({"--fast"});
    // gpsd has the device; a hold with TIOCEXCL makes every later open by a program without
    // CAP_SYS_ADMIN fail as busy, as with a USB receiver gpsd holds exclusively.
    const int hold = ::open(m_sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(hold, 0);
    ASSERT_EQ(::ioctl(hold, TIOCEXCL), 0);
    const std::string asUser =
        ::geteuid() == 0 ? "setpriv --bounding-set=-sys_admin --inh-caps=-sys_admin " : "";
    const std::string run =
        asUser + kDecode + " --device " + m_sim.SlavePath() + " --seconds 3 --last --stats 2>&1";

    const std::vector<std::string> busy =
        RunLines("SKYWATCH_GPSD=localhost:" + std::to_string(FreePort(SOCK_STREAM)) + " " + run);
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_NE(busy[0].find("busy"), std::string::npos) << busy[0];

    const std::vector<std::string> viaGpsd =
        RunLines("SKYWATCH_GPSD=localhost:" + std::to_string(m_gpsd.Port()) + " " + run);
    ASSERT_EQ(viaGpsd.size(), 3u) << viaGpsd[0];
    // gpsd lists the pty, so it is watched through gpsd before the busy open is even tried.
    EXPECT_NE(viaGpsd[0].find("by gpsd"), std::string::npos) << viaGpsd[0];
    EXPECT_NE(viaGpsd[0].find("so it is watched through gpsd"), std::string::npos) << viaGpsd[0];
    EXPECT_NE(viaGpsd[1].find("\"bValid\":1"), std::string::npos) << viaGpsd[1];
    EXPECT_EQ(viaGpsd[2].find("\"RMC\":0"), std::string::npos) << viaGpsd[2];
    ::close(hold);
}

// gpsd serving two receivers: without a device named, one is watched, never a mix of both.
TEST_F(GpsdSource, WithoutADeviceOneOfTwoReceiversIsWatched) {
    CSimProcess other;
    ASSERT_TRUE(m_sim.Start({"--fast", "--baud", "38400", "--rate", "2"}));
    ASSERT_TRUE(
        other.Start({"--replay", NmeaDir() + "/neo-m8n.log", "--baud", "38400", "--rate", "2"}));
    ASSERT_TRUE(m_gpsd.Start(std::vector<std::string>{m_sim.SlavePath(), other.SlavePath()}));
    platform::BindPort(kNetPort, m_gpsd.Url());
    CGpsPort port;
    ASSERT_TRUE(port.Open(kNetPort, 4800)) << port.LastOpenMessage();
    std::set<long> latitudes; // tenths of a degree of every valid record seen
    WaitUntil(
        [&] {
            GpsFix fix{};
            port.CopyFix(fix);
            if (fix.bValid == 1)
                latitudes.insert(fix.lLatitude / 100000);
            return false;
        },
        3500ms);
    EXPECT_EQ(latitudes.size(), 1u);
    const std::string tip = port.SourceDescription();
    EXPECT_NE(tip.find("watching /dev/"), std::string::npos) << tip;
    EXPECT_NE(tip.find("the first of the 2 devices"), std::string::npos) << tip;
}

// gpsd's own error reaches the user, and a pty gpsd reads is read through gpsd, not beside it.
TEST_F(GpsdSource, ErrorShowsAndAPtyGpsdReadsIsWatchedThroughIt) {
    StartOn({"--fast", "--baud", "38400", "--rate", "2"});
    const std::vector<std::string> got = RunLines(
        kDecode + " --device " + m_gpsd.Url("/dev/nonexistent") + " --seconds 1 2>&1 >/dev/null");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "skywatch-decode: gpsd: No such device as /dev/nonexistent");

    ::setenv("SKYWATCH_GPSD", ("localhost:" + std::to_string(m_gpsd.Port())).c_str(), 1);
    platform::BindPort(kNetPort, m_sim.SlavePath());
    CGpsPort port;
    const bool opened = port.Open(kNetPort, 38400);
    ::unsetenv("SKYWATCH_GPSD");
    ASSERT_TRUE(opened) << port.LastOpenMessage();
    EXPECT_TRUE(port.IsNetworkSource());
    EXPECT_NE(port.SourceDescription().find("is read by gpsd too"), std::string::npos)
        << port.SourceDescription();
    ASSERT_TRUE(WaitUntil([&] { return Decoded(port) > 8; }, 4s));
    EXPECT_EQ(port.CopyCounters().nBadChecksum, 0u);
}

namespace {

// A name server that takes two seconds to answer.
int SlowLookup(const char *host, const char *service, const addrinfo *hints, addrinfo **list) {
    std::this_thread::sleep_for(2s);
    return ::getaddrinfo(host, service, hints, list);
}

} // namespace

// A slow name server costs the caller the time limit, not its own time; a quick one answers.
TEST(NameLookup, EndsAtItsTimeLimit) {
    struct Row {
        platform::LookupFn lookup;
        int rc;
        bool addresses;
    };
    for (const Row &row :
         {Row{SlowLookup, platform::kResolveTimedOut, false}, Row{::getaddrinfo, 0, true}}) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        std::vector<platform::ResolvedAddress> found;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::ResolveWithin("127.0.0.1", "2947", hints, 150, found, row.lookup),
                  row.rc);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
        EXPECT_EQ(!found.empty(), row.addresses);
    }
    EXPECT_EQ(platform::ResolveError(platform::kResolveTimedOut, 150),
              "no answer from the name server within 150 ms");
}
