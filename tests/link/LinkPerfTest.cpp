// Figures for the receiver link: the reader's CPU use on a live stream, Close latency, and
// repeated restarts timed by the decode tool.
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kPort = 4;

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Prints the median and the longest of the samples; returns the longest.
double Summarise(const char *what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s over %zu tries: median %.3f ms, max %.3f ms\n", what, ms.size(),
                ms[ms.size() / 2], ms.back());
    return ms.back();
}

struct Stream {
    const char *name;
    int nBaud;
    int nRate;
};

class ReaderCpu : public ::testing::TestWithParam<Stream> {};

TEST_P(ReaderCpu, UnderOnePercentOfACore) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    const Stream stream = GetParam();
    CSimProcess sim;
    ASSERT_TRUE(
        sim.Start({"--baud", std::to_string(stream.nBaud), "--rate", std::to_string(stream.nRate)}))
        << sim.Errors();
    platform::BindPort(kPort, sim.SlavePath());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, stream.nBaud));
    ASSERT_TRUE(WaitUntil([&] { return port.CopyCounters().Decoded() > 0; }, 3s));

    // This thread sleeps, so the process's CPU time is the reader's.
    const std::uint32_t decoded0 = port.CopyCounters().Decoded();
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(5s);
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const std::uint32_t decoded = port.CopyCounters().Decoded() - decoded0;
    port.Close();
    platform::UnbindAllPorts();

    const double percent = 100.0 * cpu / wall;
    std::printf("reader CPU at %d baud, %d Hz: %.3f%% of a core (%.1f ms in %.1f s, %u "
                "sentences)\n",
                stream.nBaud, stream.nRate, percent, cpu * 1000, wall, decoded);
    RecordProperty("cpu_percent", std::to_string(percent));
    EXPECT_GT(decoded, 0u);
    EXPECT_LT(percent, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Simulator, ReaderCpu,
                         ::testing::Values(Stream{"b4800", 4800, 1}, Stream{"b115200", 115200, 10}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(CloseLatency, UnderFiftyMilliseconds) {
    CPtyPair pty;
    ASSERT_TRUE(pty.Valid());
    platform::BindPort(kPort, pty.SlavePath());
    const std::string cycle =
        Sentence("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
        Sentence("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    std::vector<double> ms;
    CGpsPort port(0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(port.Open(kPort, 4800));
        // Half the rounds close a reader that is taking data, half an idle one.
        if (i % 2 == 0)
            pty.Write(cycle);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + 13 * i));
        const auto start = std::chrono::steady_clock::now();
        port.Close();
        ms.push_back(MsSince(start));
    }
    platform::UnbindAllPorts();
    EXPECT_LT(Summarise("Close latency", ms), 50.0);
}

// What Re-set with unchanged settings costs: Open closes the port and opens it again. Run as a
// normal user this also proves the device is not left in exclusive mode.
TEST(ReopenLatency, UnderFiftyMilliseconds) {
    CPtyPair pty;
    ASSERT_TRUE(pty.Valid());
    platform::BindPort(kPort, pty.SlavePath());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(port.Open(kPort, 4800)) << "round " << i;
        ms.push_back(MsSince(start));
    }
    port.Close();
    platform::UnbindAllPorts();
    EXPECT_LT(Summarise("reopen latency", ms), 50.0);
}

// The reader waiting for a receiver that went away: one look at the name a second.
TEST(UnpluggedWait, UnderOnePercentOfACore) {
    CDeviceLink device;
    CPtyPair pty;
    ASSERT_TRUE(pty.Valid() && device.PointTo(pty.SlavePath()));
    platform::BindPort(kPort, device.Path());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 2s));
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(5s);
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_TRUE(port.CopyLinkState().bReconnecting);
    port.Close();
    platform::UnbindAllPorts();
    const double percent = 100.0 * cpu / wall;
    std::printf("CPU waiting for an unplugged receiver: %.4f%% of a core (%.2f ms in %.1f s)\n",
                percent, cpu * 1000, wall);
    EXPECT_LT(percent, 1.0);
}

// The decode tool's repeated cold starts against a simulator whose times to fix are spread: its
// median agrees with the simulator's own.
TEST(RepeatedRestarts, MedianAgreesWithTheSimulatorsOwn) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    constexpr int kRuns = 3;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--chip", "ublox", "--fast", "--ttff-spread", "2", "--seed", "19"}))
        << sim.Errors();
    const std::string cmd = std::string(SKYWATCH_BINARY_DIR) + "/tools/skywatch-decode --device " +
                            sim.SlavePath() + " --baud 9600 --send cold --repeat " +
                            std::to_string(kRuns) + " --seconds 20 --json 2>/dev/null";
    FILE *pipe = ::popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string json;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        json += buf;
    EXPECT_EQ(::pclose(pipe), 0) << json;
    const auto number = [&](const char *key) {
        const std::size_t at = json.find(std::string("\"") + key + "\": ");
        return at == std::string::npos ? -1.0 : std::atof(json.c_str() + at + std::strlen(key) + 4);
    };
    ASSERT_NE(json.find("{\"kind\": \"cold\", \"runs\": ["), std::string::npos) << json;
    EXPECT_EQ(number("failures"), 0.0) << json;
    // The simulator says "fix after 3.62 s (cold start)" for each run.
    std::vector<double> own;
    const std::string errors = sim.Errors();
    for (std::size_t at = errors.find("fix after "); at != std::string::npos;
         at = errors.find("fix after ", at + 1))
        own.push_back(std::atof(errors.c_str() + at + 10));
    ASSERT_EQ(own.size(), static_cast<std::size_t>(kRuns)) << errors;
    std::sort(own.begin(), own.end());
    std::printf("%d cold starts, spread 2 s: median %.2f s, the simulator's own %.2f s (%s)\n",
                kRuns, number("median"), own[kRuns / 2], json.substr(0, json.size() - 1).c_str());
    EXPECT_NEAR(number("median"), own[kRuns / 2], 0.2) << json;
    EXPECT_LE(number("min"), number("median"));
    EXPECT_LE(number("median"), number("p95"));
    EXPECT_EQ(number("p95"), number("max")) << "the 95th percentile of three runs is the longest";
}

} // namespace
