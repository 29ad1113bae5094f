#include "SimReceiver.h"

#include "NmeaLine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

// Sleeps until 'until' or until the master has input, in short steps so a stop is seen quickly.
void WaitFor(int fd, Steady::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now());
    const int ms = static_cast<int>(std::min<long long>(std::max<long long>(left.count(), 0), 20));
    if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, ms);
}

} // namespace

bool CSimReceiver::Plug(std::string& error)
{
    if (!m_pty.Open(error))
        return false;
    if (!m_options.strLink.empty() && !m_pty.PointLink(m_options.strLink, error))
        return false;
    std::printf("%s\n", m_pty.SlavePath().c_str());
    std::fflush(stdout);
    return true;
}

void CSimReceiver::HandleLine(const std::string& line)
{
    if (line.rfind("$PSRF104,", 0) != 0)
        return;
    if (!NmeaChecksumOk(line)) {
        std::fprintf(stderr, "ignored (bad checksum): %s\n", line.c_str());
        return;
    }
    const std::size_t star = line.rfind('*');
    const std::size_t comma = line.rfind(',', star);
    const std::string cfg = line.substr(comma + 1, star - comma - 1);
    const int nCfg = cfg.size() == 1 ? cfg[0] - '0' : -1;
    const char* name = nCfg == 4 ? "cold start" : nCfg == 2 ? "warm start" : nCfg == 1 ? "hot start"
                                                                                        : nullptr;
    if (name == nullptr || !m_sky.Restart(nCfg, std::chrono::system_clock::now())) {
        std::fprintf(stderr, "ignored (reset configuration \"%s\"): %s\n", cfg.c_str(),
                     line.c_str());
        return;
    }
    std::fprintf(stderr, "received %s: %s\n", name, line.c_str());
}

void CSimReceiver::ReadCommands()
{
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_pty.Master(), buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == '\r' || c == '\n') {
                if (!m_input.empty())
                    HandleLine(m_input);
                m_input.clear();
            } else if (c == '$') {
                m_input.assign(1, c); // a "$" always starts a new sentence
            } else if (!m_input.empty() && m_input.size() < 256) {
                m_input += c;
            }
        }
    }
}

int CSimReceiver::Run(const std::atomic<bool>& stop)
{
    const double cps = m_options.nBaud / 10.0; // 8N1: ten bits a character
    const auto period = std::chrono::duration_cast<Steady::duration>(
        std::chrono::duration<double>(1.0 / m_options.nRate));
    std::string error;
    if (!m_options.strReplay.empty() &&
        !m_replay.Load(m_options.strReplay, static_cast<std::size_t>(cps / m_options.nRate),
                       error)) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return 2;
    }
    if (!Plug(error)) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return 1;
    }

    const auto start = Steady::now();
    bool bUnplugged = m_options.dUnplugAfter < 0.0; // true: no unplug left to play
    bool bWarned = false;
    auto cycleStart = start;
    auto lastEpoch = std::chrono::system_clock::now();
    while (!stop) {
        const auto now = std::chrono::system_clock::now();
        const std::string epoch =
            m_options.strReplay.empty()
                ? m_sky.Epoch(now, std::chrono::duration<double>(now - lastEpoch).count())
                : m_replay.Next();
        lastEpoch = now;
        // Pace: by t seconds into the cycle, t * cps characters may have gone out.
        std::size_t sent = 0;
        while (!stop && sent < epoch.size()) {
            const double elapsed = std::chrono::duration<double>(Steady::now() - cycleStart).count();
            const auto allowed = static_cast<std::size_t>(elapsed * cps) + 1;
            if (allowed > sent) {
                const std::size_t n = std::min(allowed, epoch.size()) - sent;
                const ssize_t w = m_pty.Master() < 0 ? static_cast<ssize_t>(n)
                                                     : ::write(m_pty.Master(), epoch.data() + sent, n);
                // Nobody reading and the buffer full: those bytes are lost, as on a real line.
                sent += w > 0 ? static_cast<std::size_t>(w) : n;
            }
            if (m_pty.Master() >= 0)
                ReadCommands();
            const auto next = cycleStart + std::chrono::duration_cast<Steady::duration>(
                                               std::chrono::duration<double>(static_cast<double>(sent + 1) / cps));
            WaitFor(m_pty.Master(), next);
        }
        auto nextCycle = cycleStart + period;
        if (Steady::now() > nextCycle + std::chrono::milliseconds(5)) {
            if (!bWarned)
                std::fprintf(stderr,
                             "skywatch-sim: a cycle of %zu characters takes longer than 1/%d s "
                             "at %d baud; sending as fast as the baud rate allows\n",
                             epoch.size(), m_options.nRate, m_options.nBaud);
            bWarned = true;
            nextCycle = Steady::now();
        }
        while (!stop && Steady::now() < nextCycle) {
            if (m_pty.Master() >= 0)
                ReadCommands();
            WaitFor(m_pty.Master(), nextCycle);
            if (!bUnplugged && Steady::now() - start >=
                                   std::chrono::duration<double>(m_options.dUnplugAfter)) {
                bUnplugged = true;
                m_pty.Close();
                std::fprintf(stderr, "skywatch-sim: unplugged\n");
                const auto back = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                                      std::chrono::duration<double>(
                                                          m_options.dUnplugPause));
                while (!stop && Steady::now() < back)
                    WaitFor(-1, back);
                if (stop)
                    break;
                if (!Plug(error)) {
                    std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
                    return 1;
                }
                nextCycle = Steady::now();
            }
        }
        cycleStart = nextCycle;
    }
    m_pty.Close();
    return 0;
}
