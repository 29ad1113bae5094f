#include "GpsFix.h"
#include "GpsPort.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const char kColdStart[] = "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n";

int OpenSlave(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

struct Decoded {
    GpsFix fix{};
    ScanCounters counters{};
    int nSatsInView = 0;
};

Decoded Decode(const std::string& data)
{
    Decoded d;
    CGpsPort port(0);
    port.ParseBuffer(data.data(), static_cast<int>(data.size()));
    port.CopyFix(d.fix);
    d.counters = port.CopyCounters();
    for (const SatInfo& s : d.fix.sat)
        d.nSatsInView += s.bPrn != 0 ? 1 : 0;
    return d;
}

bool HasFix(const std::string& data)
{
    // The last RMC decides.
    const std::size_t rmc = data.rfind("$GPRMC,");
    return rmc != std::string::npos && data.compare(rmc + 17, 3, ",A,") == 0;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(CSimProcess::Binary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "needs skywatch-sim built in " << SKYWATCH_BINARY_DIR << "/tools";
    }
};

TEST_F(SimTest, FirstTwoSecondsGiveAFixWithGoodChecksums)
{
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    const int fd = OpenSlave(sim.SlavePath());
    ASSERT_GE(fd, 0);
    const std::string data = ReadFor(fd, 2000ms);
    ::close(fd);
    const Decoded d = Decode(data);
    EXPECT_EQ(d.counters.nBadChecksum, 0u);
    EXPECT_EQ(d.counters.nUnknown, 0u);
    EXPECT_GE(d.counters.nRmc, 1u);
    EXPECT_GE(d.counters.nGsv, 2u);
    EXPECT_TRUE(d.fix.bValid);
    EXPECT_EQ(d.fix.cFixMode, 3);
    EXPECT_GE(d.nSatsInView, 8);
    EXPECT_LE(d.nSatsInView, 12);
    EXPECT_GT(d.fix.cSatsUsed, 3);
    EXPECT_LT(d.fix.cSatsUsed, d.nSatsInView); // some tracked but not used
    EXPECT_NE(d.fix.lLatitude, 0);
    // Every line ends in CR LF.
    for (std::size_t at = data.find('\n'); at != std::string::npos; at = data.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && data[at - 1] == '\r');
    // One or two without signal: an empty SNR field before the "*" or a ",".
    EXPECT_NE(data.find(",*"), std::string::npos);
}

struct PaceRow {
    const char* baud;
    const char* rate;
    double cps;
    bool bTooFast;
};

TEST_F(SimTest, PaceFollowsTheBaudRate)
{
    const PaceRow rows[] = {{"4800", "1", 480.0, false}, {"1200", "1", 120.0, true},
                            {"9600", "3", 960.0, true}};
    for (const PaceRow& row : rows) {
        SCOPED_TRACE(row.baud);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--baud", row.baud, "--rate", row.rate}));
        const int fd = OpenSlave(sim.SlavePath());
        ASSERT_GE(fd, 0);
        ReadFor(fd, 300ms); // skip what queued before the open
        const auto begin = std::chrono::steady_clock::now();
        const std::string data = ReadFor(fd, 2500ms);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ::close(fd);
        const double cps = static_cast<double>(data.size()) / seconds;
        if (row.bTooFast) {
            EXPECT_NEAR(cps, row.cps, row.cps * 0.3);
            EXPECT_NE(sim.Errors().find("takes longer"), std::string::npos) << sim.Errors();
        } else {
            // A cycle of about 450 characters fills most of a second at 480 a second.
            EXPECT_GT(cps, row.cps * 0.7);
            EXPECT_LT(cps, row.cps * 1.3);
        }
        EXPECT_EQ(Decode(data).counters.nBadChecksum, 0u);
    }
}

TEST_F(SimTest, ColdStartLosesTheFixAndFastGetsItBack)
{
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    const int fd = OpenSlave(sim.SlavePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(HasFix(ReadFor(fd, 1500ms)));
    ASSERT_EQ(::write(fd, kColdStart, sizeof kColdStart - 1),
              static_cast<ssize_t>(sizeof kColdStart - 1));
    const std::string lost = ReadFor(fd, 1500ms);
    EXPECT_NE(lost.find(",V,,,,,,,"), std::string::npos);
    EXPECT_NE(lost.find(",0,00,"), std::string::npos);
    EXPECT_NE(lost.find("$GPGSV,1,1,00*"), std::string::npos);
    const Decoded d = Decode(lost);
    EXPECT_EQ(d.counters.nBadChecksum, 0u);
    EXPECT_EQ(d.fix.cFixMode, 1);
    // About 3.5 s after the command the fix is back.
    std::string back;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!HasFix(back) && std::chrono::steady_clock::now() < until)
        back += ReadFor(fd, 200ms);
    ::close(fd);
    EXPECT_TRUE(HasFix(back));
    EXPECT_NE(sim.Errors().find(std::string("received cold start: ") +
                                std::string(kColdStart, sizeof kColdStart - 3)),
              std::string::npos)
        << sim.Errors();
}

TEST_F(SimTest, CommandsWithABadChecksumOrUnknownResetAreIgnored)
{
    const char* commands[] = {"$PSRF104,0,0,0,96000,237759,922,12,4*2F\r\n",
                              "$PSRF104,0,0,0,96000,237759,922,12,4\r\n",
                              "$PSRF104,0,0,0,96000,237759,922,12,7*2B\r\n"};
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    const int fd = OpenSlave(sim.SlavePath());
    ASSERT_GE(fd, 0);
    for (const char* c : commands)
        ASSERT_GT(::write(fd, c, std::strlen(c)), 0);
    ReadFor(fd, 1200ms);
    const std::string after = ReadFor(fd, 1200ms);
    ::close(fd);
    EXPECT_EQ(after.find(",V,"), std::string::npos);
    EXPECT_TRUE(HasFix(after));
    const std::string errors = sim.Errors();
    EXPECT_EQ(errors.find("received"), std::string::npos) << errors;
    int nIgnored = 0;
    for (std::size_t at = errors.find("ignored"); at != std::string::npos;
         at = errors.find("ignored", at + 1))
        ++nIgnored;
    EXPECT_EQ(nIgnored, 3) << errors;
}

std::string TempDir()
{
    char name[] = "/tmp/skywatch-simtest-XXXXXX";
    return ::mkdtemp(name) ? std::string(name) : std::string();
}

std::string LinkTarget(const std::string& link)
{
    char buf[256];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

TEST_F(SimTest, LinkReplacesAnOldOneAndGoesAtExit)
{
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/gps";
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
    {
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--link", link}));
        EXPECT_EQ(LinkTarget(link), sim.SlavePath());
        const int fd = OpenSlave(link);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(HasFix(ReadFor(fd, 1500ms)));
        ::close(fd);
        EXPECT_EQ(sim.Stop(), 0);
    }
    EXPECT_NE(::access(link.c_str(), F_OK), 0);
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
}

TEST_F(SimTest, UnplugHangsUpAndTheLinkComesBack)
{
    const std::string dir = TempDir();
    const std::string link = dir + "/gps";
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--link", link, "--unplug-after", "1", "--unplug-pause", "1"}));
    const std::string first = sim.SlavePath();
    int fd = OpenSlave(link);
    ASSERT_GE(fd, 0);
    bool bHangUp = false;
    ReadFor(fd, 3000ms, &bHangUp);
    ::close(fd);
    EXPECT_TRUE(bHangUp);
    // The second line is the new device, and the link points at it.
    std::string out;
    const auto until = std::chrono::steady_clock::now() + 4s;
    while (std::count(out.begin(), out.end(), '\n') < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(50ms);
        out = sim.Output();
    }
    const std::size_t eol = out.find('\n');
    ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    const std::string second = out.substr(eol + 1, out.size() - eol - 2);
    EXPECT_EQ(LinkTarget(link), second);
    fd = OpenSlave(link);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(HasFix(ReadFor(fd, 1500ms)));
    ::close(fd);
    sim.Stop();
    ::rmdir(dir.c_str());
}

TEST_F(SimTest, ReplayLoopsOverTheLogWithoutComments)
{
    char name[] = "/tmp/skywatch-simtest-replay-XXXXXX";
    const int tmp = ::mkstemp(name);
    ASSERT_GE(tmp, 0);
    ::close(tmp);
    {
        std::ofstream log(name);
        log << "# recorded for the test\n"
               "$GPRMC,120000.000,A,4807.0380,N,01131.0020,E,3.0,45.0,081226,,,A*54\n"
               "$GPGGA,120000.000,4807.0380,N,01131.0020,E,1,06,1.7,520.0,M,47.6,M,,0000*59\r\n"
               "$GPRMC,120001.000,A,4807.0386,N,01131.0029,E,3.0,45.1,081226,,,A*5B\n";
    }
    const std::string logPath = name;
    const std::string files[] = {logPath, std::string(SKYWATCH_SOURCE_DIR) + "/res/sample.nmea"};
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--replay", file, "--baud", "38400", "--rate", "10"}));
        const int fd = OpenSlave(sim.SlavePath());
        ASSERT_GE(fd, 0);
        const std::string data = ReadFor(fd, 2500ms);
        ::close(fd);
        EXPECT_EQ(data.find('#'), std::string::npos);
        for (std::size_t at = data.find('\n'); at != std::string::npos; at = data.find('\n', at + 1))
            ASSERT_TRUE(at > 0 && data[at - 1] == '\r');
        if (file == logPath) {
            // Two epochs a tenth of a second each: both RMC come round many times.
            const std::size_t first = data.find("$GPRMC,120001.000");
            ASSERT_NE(first, std::string::npos);
            EXPECT_NE(data.find("$GPRMC,120001.000", first + 1), std::string::npos);
            EXPECT_EQ(Decode(data).counters.nBadChecksum, 0u);
        } else {
            EXPECT_GT(Decode(data).counters.Decoded(), 0u);
        }
    }
    ::unlink(name);
}

TEST_F(SimTest, BadOptionsExitTwoWithOneLine)
{
    const std::vector<std::vector<std::string>> rows = {
        {"--baud", "300"},       {"--baud", "4801"},     {"--baud", "abc"},
        {"--rate", "0"},         {"--rate", "11"},       {"--rate"},
        {"--replay", "/nonexistent/log.nmea"},           {"--unplug-after", "-1"},
        {"--bogus"},             {"extra"}};
    for (const auto& args : rows) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : std::string()));
        CSimProcess sim;
        EXPECT_EQ(sim.RunToEnd(args), 2);
        const std::string errors = sim.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_TRUE(sim.Output().empty());
    }
    CSimProcess help;
    EXPECT_EQ(help.RunToEnd({"--help"}), 0);
    EXPECT_NE(help.Output().find("--unplug-after"), std::string::npos);
}

} // namespace
