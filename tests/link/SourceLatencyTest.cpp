// Figures for the byte sources: how long after an RMC sentence leaves the simulator it reaches
// the record, read from the serial device, through gpsd, and over TCP.
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPort = 1;
constexpr int kSamples = 10;

// A client of the simulator's TCP server that notes when each RMC's last byte went out: the
// simulator writes every chunk to its network clients just before the pseudo-terminal.
class CDepartures {
public:
    explicit CDepartures(int port) {
        m_fd = ConnectLoopback(port);
        if (m_fd < 0)
            return;
        timeval tv{0, 100'000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        m_thread = std::thread([this] { Run(); });
    }
    ~CDepartures() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    // When the RMC stamped hhmmss went out, if it did.
    bool When(const std::string &hhmmss, Clock::time_point &at) {
        std::lock_guard lock(m_lock);
        const auto it = m_sent.find(hhmmss);
        if (it == m_sent.end())
            return false;
        at = it->second;
        return true;
    }

private:
    void Run() {
        std::string text;
        char buf[512];
        while (!m_stop) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            const auto now = Clock::now();
            if (n <= 0)
                continue;
            text.append(buf, static_cast<std::size_t>(n));
            // The time stamp is the first field; the sentence has left once its line end did.
            for (std::size_t at = text.find("RMC,"), lf = text.find('\n', at);
                 at != std::string::npos && lf != std::string::npos && at + 10 <= lf;
                 at = text.find("RMC,"), lf = text.find('\n', at)) {
                std::lock_guard lock(m_lock);
                m_sent.emplace(text.substr(at + 4, 6), now);
                text.erase(0, lf + 1);
            }
            if (text.size() > 4096)
                text.erase(0, text.size() - 16);
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_lock;
    std::map<std::string, Clock::time_point> m_sent;
};

// Latencies in ms of kSamples RMC sentences from leaving the simulator to the record, for each
// of the ports, read side by side.
std::vector<std::vector<double>> Measure(const std::vector<CGpsPort *> &ports,
                                         CDepartures &departures) {
    std::vector<std::vector<double>> ms(ports.size());
    std::vector<std::uint32_t> seen;
    for (CGpsPort *port : ports)
        seen.push_back(port->CopyCounters().nRmc);
    // The counter moves as the RMC is decoded, the record at the end of its block: a sample is
    // taken once the record shows a time it did not show at the last one.
    const auto stampOf = [](const CGpsPort &port) {
        GpsFix fix{};
        port.CopyFix(fix);
        char stamp[8];
        std::snprintf(stamp, sizeof stamp, "%02u%02u%02u", fix.bHour % 100u, fix.bMinute % 100u,
                      fix.bSecond % 100u);
        return std::string(stamp);
    };
    std::vector<std::string> lastStamp;
    for (CGpsPort *port : ports)
        lastStamp.push_back(stampOf(*port));
    const auto done = [&] {
        return std::all_of(ms.begin(), ms.end(),
                           [](const auto &m) { return m.size() >= kSamples; });
    };
    const auto give_up = Clock::now() + std::chrono::seconds(kSamples * 3);
    while (!done() && Clock::now() < give_up) {
        std::this_thread::sleep_for(1ms);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const std::uint32_t now = ports[i]->CopyCounters().nRmc;
            if (now == seen[i] || ms[i].size() >= kSamples)
                continue;
            const auto arrived = Clock::now();
            const std::string stamp = stampOf(*ports[i]);
            if (stamp == lastStamp[i])
                continue;
            lastStamp[i] = stamp;
            seen[i] = now;
            Clock::time_point left;
            if (departures.When(stamp, left))
                ms[i].push_back(std::chrono::duration<double, std::milli>(arrived - left).count());
        }
    }
    return ms;
}

void Report(const std::string &source, int baud, std::vector<double> ms) {
    ASSERT_EQ(ms.size(), static_cast<std::size_t>(kSamples)) << source;
    std::sort(ms.begin(), ms.end());
    const double p95 = ms[(ms.size() * 95 + 99) / 100 - 1];
    std::printf("RMC to record via %s at %d baud: median %.0f ms, p95 %.0f ms, min %.0f ms, "
                "max %.0f ms (%d sentences)\n",
                source.c_str(), baud, ms[ms.size() / 2], p95, ms.front(), ms.back(), kSamples);
    // A line is handed over once complete: a gap, the decode and the look every millisecond.
    EXPECT_LT(ms[ms.size() / 2], 100.0) << source << " at " << baud;
    EXPECT_LT(ms.back(), 500.0) << source << " at " << baud;
}

class SourceLatency : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(SourceLatency, SerialTcpAndGpsd) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    const int baud = GetParam();
    const int tcp = FreePort(SOCK_STREAM);
    CSimProcess sim;
    // A 4800-baud receiver talks GPS only: the four-system epoch would not fit its second.
    std::vector<std::string> args = {"--tcp", std::to_string(tcp), "--baud", std::to_string(baud)};
    if (baud == 4800)
        args.insert(args.end(), {"--gnss", "gps"});
    ASSERT_TRUE(sim.Start(args)) << sim.Errors();
    CDepartures departures(tcp);
    {
        platform::BindPort(kPort, sim.SlavePath());
        platform::BindPort(kPort + 1, "tcp://127.0.0.1:" + std::to_string(tcp));
        CGpsPort serial(0);
        CGpsPort net(0);
        ASSERT_TRUE(serial.Open(kPort, baud));
        ASSERT_TRUE(net.Open(kPort + 1, baud));
        const auto ms = Measure({&serial, &net}, departures);
        Report("serial", baud, ms[0]);
        Report("tcp", baud, ms[1]);
    }
    if (CGpsd::BinaryPath().empty()) {
        platform::UnbindAllPorts();
        GTEST_SKIP() << "gpsd is not installed: no figure for it";
    }
    CGpsd gpsd;
    ASSERT_TRUE(gpsd.Start(sim.SlavePath()));
    platform::BindPort(kPort, gpsd.Url());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, baud));
    Report("gpsd", baud, Measure({&port}, departures)[0]);
    platform::UnbindAllPorts();
}

INSTANTIATE_TEST_SUITE_P(Bauds, SourceLatency, ::testing::Values(4800, 9600, 115200));
