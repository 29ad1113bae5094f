// skywatch-sim run for real: the device it prints, what a reader decodes from it, its pace,
// restart commands, the link, unplugging, replay and refused options.

#include "SimProcess.h"

#include "GpsFix.h"
#include "NmeaDecoder.h"
#include "ScanCounters.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

// A reader of the simulated device, raw like the program's own serial port.
class Reader {
public:
    explicit Reader(const std::string &path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Reader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    // Reads for up to ms into text; false once the device hung up or failed.
    bool ReadFor(int ms, std::string &text) {
        const auto until = Steady::now() + std::chrono::milliseconds(ms);
        while (Steady::now() < until) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                char buf[1024];
                const ssize_t n = ::read(m_fd, buf, sizeof buf);
                if (n > 0)
                    text.append(buf, static_cast<std::size_t>(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    return false;
                else if (pfd.revents & POLLHUP)
                    return false;
            }
        }
        return true;
    }

    void Write(const std::string &text) {
        ASSERT_EQ(::write(m_fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

private:
    int m_fd = -1;
};

// Decodes text and reports the fix and the counters.
struct Decoded {
    GpsFix fix{};
    ScanCounters counters;
    SkyView sky;
};

Decoded Decode(const std::string &text) {
    CNmeaDecoder port(0);
    port.ParseBuffer(text.data(), static_cast<int>(text.size()));
    Decoded d;
    port.CopyFix(d.fix);
    d.counters = port.CopyCounters();
    port.CopySky(d.sky);
    return d;
}

int SatsInView(const GpsFix &fix) {
    int n = 0;
    for (const SatInfo &s : fix.sat)
        n += s.bPrn != 0;
    return n;
}

// The last whole cycle (from the last RMC on) of text.
std::string LastCycle(const std::string &text) {
    const std::size_t at = text.rfind("$GPRMC");
    return at == std::string::npos ? std::string() : text.substr(at);
}

std::string TempPath(const char *name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("skywatch-sim-") + std::to_string(::getpid()) + "-" + name))
        .string();
}

#define REQUIRE_SIM()                                                                              \
    if (!CSimProcess::Built())                                                                     \
    GTEST_SKIP() << CSimProcess::Binary() << " missing (build the target skywatch-sim)"

TEST(Simulator, ReaderDecodesAFixWithinTwoSecondsWithoutBadChecksums) {
    REQUIRE_SIM();
    CSimProcess sim({"--chip", "sirf", "--gnss", "gps"});
    const std::string path = sim.SlavePath();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    Reader reader(path);
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(2000, text));
    // Skip a possibly partial first line.
    text.erase(0, text.find('$'));
    const Decoded all = Decode(text);
    EXPECT_EQ(all.counters.nBadChecksum, 0u) << text;
    // Nothing unknown but the receiver's banner lines that arrived whole.
    std::uint32_t banner = 0;
    for (std::size_t at = text.find("$PSRFTXT,"); at != std::string::npos;
         at = text.find("$PSRFTXT,", at + 1))
        banner += text.find('\n', at) != std::string::npos ? 1 : 0;
    EXPECT_EQ(all.counters.nUnknown, banner);
    EXPECT_GE(all.counters.nRmc, 1u);
    EXPECT_GE(all.counters.nGga, 1u);
    EXPECT_GE(all.counters.nGsa, 1u);
    EXPECT_GE(all.counters.nGsv, 2u);
    EXPECT_EQ(all.fix.bValid, 1) << text;
    EXPECT_EQ(all.fix.cFixMode, 3);
    EXPECT_GE(SatsInView(all.fix), 8);
    EXPECT_LE(SatsInView(all.fix), 12);
    EXPECT_GT(all.fix.cSatsUsed, 3);
    EXPECT_LT(all.fix.cSatsUsed, SatsInView(all.fix)); // some tracked but not used
    int silent = 0;
    for (const SatInfo &s : all.fix.sat)
        silent += s.bPrn != 0 && s.bSnr == 0;
    EXPECT_GE(silent, 1);
    EXPECT_NE(all.fix.lLatitude, 0);
    EXPECT_GT(all.fix.wSpeed, 0);
    // Every line ends in CR LF.
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        EXPECT_EQ(text[at - 1], '\r');
}

// By default it talks like a modern receiver: a GN fix, one GSA per system with its id, and
// GPS, GLONASS, Galileo and BeiDou satellites in view, all of them in the table.
// The default sends one signal per satellite; --bands 2 two, each with its signal id.
class ModernReceiver : public ::testing::TestWithParam<int> {};

TEST_P(ModernReceiver, SendsEverySystemOnItsBands) {
    REQUIRE_SIM();
    const int bands = GetParam();
    CSimProcess sim;
    sim.Start(bands == 1 ? std::vector<std::string>{}
                         : std::vector<std::string>{"--bands", std::to_string(bands)});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(3000, text));
    // The last whole cycle: from the last but one RMC to the last.
    const std::size_t last = text.rfind("$GNRMC");
    ASSERT_NE(last, std::string::npos) << text;
    const std::size_t first = text.rfind("$GNRMC", last - 1);
    ASSERT_NE(first, std::string::npos) << text;
    const std::string cycle = text.substr(first, last - first);
    const Decoded d = Decode(cycle);
    EXPECT_EQ(d.counters.nBadChecksum, 0u) << cycle;
    EXPECT_EQ(d.counters.nGsa, 4u) << cycle;
    EXPECT_EQ(d.fix.bValid, 1) << cycle;
    for (const char *s : {"$GNRMC,", "$GNGGA,", "$GPGSV,", "$GLGSV,", "$GAGSV,", "$GBGSV,"})
        EXPECT_NE(cycle.find(s), std::string::npos) << s;
    for (const char *id : {",1*", ",2*", ",3*", ",4*"})
        EXPECT_NE(cycle.find(id), std::string::npos) << "GSA with system id" << id;
    EXPECT_GE(d.sky.count, 20u);
    EXPECT_LE(d.sky.count, 30u);
    for (Gnss g : {Gnss::GPS, Gnss::GLONASS, Gnss::Galileo, Gnss::BeiDou}) {
        EXPECT_GT(d.sky.inView[static_cast<int>(g)], 0u) << GnssName(g);
        EXPECT_GT(d.sky.usedBy[static_cast<int>(g)], 0u) << GnssName(g);
    }
    EXPECT_EQ(d.sky.used, static_cast<std::size_t>(d.fix.cSatsUsed));
    for (std::size_t i = 0; i < d.sky.count; ++i) {
        const SkySat &sat = d.sky.sats[i];
        ASSERT_EQ(sat.nSigs, bands) << GnssName(sat.gnss) << sat.sv;
        for (std::size_t k = 0; k < sat.nSigs && bands > 1; ++k)
            EXPECT_STRNE(BandName(sat.gnss, sat.sigs[k].id), "unknown") << sat.sv;
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, ModernReceiver, ::testing::Values(1, 2));

// At two cycles a second the sentences outgrow 4800 baud, so the line runs at its full pace.
TEST(Simulator, PacesAtTheBaudRate) {
    REQUIRE_SIM();
    CSimProcess sim({"--baud", "4800", "--rate", "2"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(300, text)); // whatever was buffered before we opened
    text.clear();
    const auto start = Steady::now();
    ASSERT_TRUE(reader.ReadFor(2000, text));
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    const double rate = static_cast<double>(text.size()) / seconds;
    EXPECT_GT(rate, 480.0 * 0.7);
    EXPECT_LT(rate, 480.0 * 1.3);
    EXPECT_NE(sim.Errors().find("does not fit"), std::string::npos) << sim.Errors();
}

TEST(Simulator, ColdStartLosesTheFixAndFastReacquires) {
    REQUIRE_SIM();
    CSimProcess sim({"--chip", "sirf", "--fast", "--baud", "9600", "--gnss", "gps"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(1200, text));
    ASSERT_EQ(Decode(LastCycle(text)).fix.bValid, 1);

    const std::string cold = "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n";
    reader.Write(cold);
    text.clear();
    ASSERT_TRUE(reader.ReadFor(1500, text));
    EXPECT_NE(sim.Errors().find("received cold start: $PSRF104,0,0,0,96000,237759,922,12,4*2E"),
              std::string::npos)
        << sim.Errors();
    const std::string lost = LastCycle(text);
    EXPECT_NE(lost.find(",V,,,,,"), std::string::npos) << lost;
    EXPECT_NE(lost.find(",0,00,"), std::string::npos) << lost;
    EXPECT_NE(lost.find("$GPGSA,A,1,,"), std::string::npos) << lost;
    EXPECT_EQ(Decode(lost).fix.bValid, 0);

    // Satellites come back before the fix; the fix within about 3.5 s.
    bool bSatsWithoutFix = false;
    bool bFix = false;
    for (int i = 0; i < 8 && !bFix; ++i) {
        std::string more;
        ASSERT_TRUE(reader.ReadFor(1000, more));
        const std::string cycle = LastCycle(more);
        const Decoded d = Decode(cycle);
        bSatsWithoutFix = bSatsWithoutFix ||
                          (d.fix.bValid == 0 && cycle.find("$GPGSV,1,1,00") == std::string::npos);
        bFix = d.fix.bValid == 1;
    }
    EXPECT_TRUE(bSatsWithoutFix);
    EXPECT_TRUE(bFix);
}

TEST(Simulator, RestartWithABadChecksumIsIgnored) {
    REQUIRE_SIM();
    CSimProcess sim({"--chip", "sirf", "--baud", "9600", "--gnss", "gps"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    reader.Write("$PSRF104,0,0,0,96000,237759,922,12,4*2F\r\n");
    std::string text;
    ASSERT_TRUE(reader.ReadFor(1500, text));
    EXPECT_EQ(Decode(LastCycle(text)).fix.bValid, 1);
    EXPECT_NE(sim.Errors().find("ignored"), std::string::npos) << sim.Errors();
    EXPECT_EQ(sim.Errors().find("received"), std::string::npos) << sim.Errors();
}

TEST(Simulator, LinkIsCreatedReplacedAndRemoved) {
    REQUIRE_SIM();
    const std::string link = TempPath("link");
    std::filesystem::remove(link);
    ASSERT_EQ(::symlink("/nonexistent", link.c_str()), 0);
    {
        CSimProcess sim({"--link", link});
        const std::string path = sim.SlavePath();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);
        Reader reader(link);
        EXPECT_TRUE(reader.IsOpen());
        sim.Stop();
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);
}

TEST(Simulator, UnplugHangsUpTheReaderAndTheLinkComesBack) {
    REQUIRE_SIM();
    const std::string link = TempPath("unplug");
    CSimProcess sim({"--link", link, "--unplug-after", "1", "--unplug-pause", "0.5"});
    const std::string first = sim.SlavePath();
    Reader reader(link);
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    EXPECT_FALSE(reader.ReadFor(4000, text)) << "no hang-up seen";
    EXPECT_FALSE(std::filesystem::exists(link)) << "the link outlived the device";
    const std::string second = sim.NextPath(3000);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), second);
    Reader again(link);
    ASSERT_TRUE(again.IsOpen());
    std::string more;
    again.ReadFor(1500, more);
    EXPECT_GE(Decode(more).counters.nRmc, 1u);
    (void)first;
}

TEST(Simulator, ReplayLoopsAFile) {
    REQUIRE_SIM();
    const std::string file = TempPath("replay.nmea");
    {
        std::ofstream out(file, std::ios::binary);
        out << "# a comment the simulator skips\n"
               "$GPRMC,120000.000,A,4807.0380,N,01131.0000,E,0.0,0.0,010120,,,A*6D\n"
               "$GPGGA,120000.000,4807.0380,N,01131.0000,E,1,04,1.0,500.0,M,47.6,M,,0000*58\r\n";
    }
    CSimProcess sim({"--replay", file, "--rate", "5", "--baud", "9600"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(1500, text));
    text.erase(0, text.find('$'));
    const Decoded d = Decode(text);
    EXPECT_GE(d.counters.nRmc, 3u) << text;
    EXPECT_EQ(text.find('#'), std::string::npos);
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
    std::filesystem::remove(file);
}

// The log is streamed: an endless source neither exhausts memory nor holds up the start.
TEST(Simulator, ReplayStreamsTheLog) {
    REQUIRE_SIM();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const std::size_t limit = 0; // the sanitizers reserve terabytes of address space up front
#else
    const std::size_t limit = std::size_t{256} << 20;
#endif
    CSimProcess zeros({"--replay", "/dev/zero"}, limit);
    EXPECT_EQ(zeros.Wait(5000), 2);
    EXPECT_EQ(zeros.Errors(), "skywatch-sim: /dev/zero holds no NMEA lines in its first 1 MiB\n");

    // A pipe that never ends: the first lines go out while the writer still holds it open.
    const std::string fifo = TempPath("replay.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    std::string lines;
    for (int i = 0; i < 4; ++i)
        lines += "$GPRMC,120000.000,A,4807.0380,N,01131.0000,E,0.0,0.0,010120,,,A*6D\r\n";
    ASSERT_EQ(::write(writer, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    CSimProcess sim({"--replay", fifo, "--rate", "5", "--baud", "9600"}, limit);
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen()) << sim.Errors();
    std::string text;
    ASSERT_TRUE(reader.ReadFor(1000, text));
    EXPECT_GE(Decode(text).counters.nRmc, 2u) << text;
    ::close(writer);
    std::filesystem::remove(fifo);
}

TEST(Simulator, BadOptionsExitTwoWithOneLine) {
    REQUIRE_SIM();
    const std::vector<std::vector<std::string>> cases = {
        {"--baud", "4801"},
        {"--baud", "300"},
        {"--baud", "230400"},
        {"--baud"},
        {"--rate", "0"},
        {"--rate", "11"},
        {"--rate", "x"},
        {"--bogus"},
        {"--replay", "/nonexistent/log.nmea"},
        {"--unplug-after", "-1"},
        {"--chip", "garmin"},
        {"--chip"},
        {"--gnss", "glonass"},
        {"--gnss"},
        {"--bands", "3"},
    };
    for (const auto &args : cases) {
        CSimProcess sim(args);
        EXPECT_EQ(sim.Wait(3000), 2) << args[0];
        const std::string err = sim.Errors();
        EXPECT_FALSE(err.empty()) << args[0];
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        EXPECT_TRUE(sim.SlavePath().empty());
    }
}

} // namespace
