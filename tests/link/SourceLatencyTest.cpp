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
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPort = 1;
constexpr int kSamples = 8;

// A client of the simulator's TCP server that notes when each RMC time stamp went out: the
// simulator writes every chunk to its network clients just before the pseudo-terminal.
class CDepartures {
public:
    explicit CDepartures(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
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
            // The time stamp is the first field; its six digits have arrived with this read.
            for (std::size_t at = text.find("RMC,");
                 at != std::string::npos && at + 10 <= text.size(); at = text.find("RMC,")) {
                std::lock_guard lock(m_lock);
                m_sent.emplace(text.substr(at + 4, 6), now);
                text.erase(0, at + 10);
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

// Latencies in ms of kSamples RMC sentences from leaving the simulator to the record.
std::vector<double> Measure(CGpsPort &port, CDepartures &departures) {
    std::vector<double> ms;
    std::uint32_t seen = port.CopyCounters().nRmc;
    const auto give_up = Clock::now() + std::chrono::seconds(kSamples * 3);
    while (ms.size() < kSamples && Clock::now() < give_up) {
        std::this_thread::sleep_for(1ms);
        const std::uint32_t now = port.CopyCounters().nRmc;
        if (now == seen)
            continue;
        const auto arrived = Clock::now();
        seen = now;
        GpsFix fix{};
        port.CopyFix(fix);
        char stamp[8];
        std::snprintf(stamp, sizeof stamp, "%02u%02u%02u", fix.bHour % 100u, fix.bMinute % 100u,
                      fix.bSecond % 100u);
        Clock::time_point left;
        if (departures.When(stamp, left))
            ms.push_back(std::chrono::duration<double, std::milli>(arrived - left).count());
    }
    return ms;
}

void Report(const char *source, std::vector<double> ms) {
    ASSERT_EQ(ms.size(), static_cast<std::size_t>(kSamples)) << source;
    std::sort(ms.begin(), ms.end());
    std::printf("RMC to record via %s: median %.0f ms, min %.0f ms, max %.0f ms (%d sentences)\n",
                source, ms[ms.size() / 2], ms.front(), ms.back(), kSamples);
    // A read lasts at most its one-second time-out; what it holds is decoded at once.
    EXPECT_LT(ms.back(), 1200.0) << source;
}

} // namespace

TEST(SourceLatency, SerialGpsdAndTcp) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    const int tcp = FreePort(SOCK_STREAM);
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--tcp", std::to_string(tcp)}));
    CDepartures departures(tcp);
    {
        platform::BindPort(kPort, sim.SlavePath());
        CGpsPort port(0);
        ASSERT_TRUE(port.Open(kPort, 4800));
        Report("serial", Measure(port, departures));
    }
    {
        platform::BindPort(kPort, "tcp://127.0.0.1:" + std::to_string(tcp));
        CGpsPort port(0);
        ASSERT_TRUE(port.Open(kPort, 4800));
        Report("tcp", Measure(port, departures));
    }
    if (CGpsd::BinaryPath().empty()) {
        platform::UnbindAllPorts();
        GTEST_SKIP() << "gpsd is not installed: no figure for it";
    }
    CGpsd gpsd;
    ASSERT_TRUE(gpsd.Start(sim.SlavePath()));
    platform::BindPort(kPort, gpsd.Url());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    Report("gpsd", Measure(port, departures));
    platform::UnbindAllPorts();
}
