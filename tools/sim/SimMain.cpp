// skywatch-sim: a simulated receiver (NMEA, or u-blox UBX) on a pseudo-terminal, for trying
// skywatch without one.

#include "NetServer.h"
#include "NmeaLine.h"
#include "PtyLink.h"
#include "SimChip.h"
#include "SimClock.h"
#include "SimOptions.h"
#include "SimReplay.h"
#include "SimSky.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_unplug = 0;

void OnSignal(int) {
    g_stop = 1;
}

void OnUnplugSignal(int) {
    g_unplug = 1;
}

// Hands what a reader writes to the chip, which obeys its own family's restart commands; the
// RTCM 3 corrections among it go to the sky, at the receiver's time.
class CCommandReader {
public:
    CCommandReader(CSimChip &chip, const CSimClock &clock) : m_chip(chip), m_clock(clock) {}

    void Read(int fd, CSimSky &sky) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return;
            // Bytes sent at another speed than the receiver's reach it as noise.
            if (m_pLine != nullptr && m_pLine->Garbled()) {
                std::fprintf(stderr, "ignored (sent at %d baud to a receiver at %d): %zd bytes\n",
                             m_pLine->pty.ReaderBaud(), m_pLine->nBaud, n);
                continue;
            }
            Feed(buf, static_cast<std::size_t>(n), sky);
        }
    }

    void Feed(const char *data, std::size_t n, CSimSky &sky) {
        for (int cfg : m_chip.Feed(data, n))
            sky.Restart(cfg, m_clock.Now());
        for (int station : m_chip.TakeStations())
            sky.OnCorrections(station, m_clock.Now());
        // Between cycles the line is idle: an answer goes out at once.
        if (m_idleFd >= 0)
            SendAnswer(m_idleFd);
    }
    // Writes a pending query answer to fd (and the network listeners).
    void SendAnswer(int fd);
    // The pty master while no cycle is being sent, else -1.
    int m_idleFd = -1;
    // The line's speeds, once a command has changed the receiver's.
    struct Line {
        const CPtyLink &pty;
        int nBaud;
        bool bGuard;
        bool Garbled() const { return bGuard && pty.ReaderBaud() != nBaud; }
    } *m_pLine = nullptr;

private:
    CSimChip &m_chip;
    const CSimClock &m_clock;
};

CNetServer g_net;

void CCommandReader::SendAnswer(int fd) {
    const std::string answer = m_chip.TakeAnswer();
    if (answer.empty())
        return;
    g_net.Send(answer.data(), answer.size());
    if (::write(fd, answer.data(), answer.size()) < 0 && errno != EAGAIN)
        std::fprintf(stderr, "skywatch-sim: answer not written: %s\n", std::strerror(errno));
}

// What a reader at another speed makes of the bytes: framing errors, never a sentence or frame.
std::string Garble(const char *data, std::size_t n) {
    std::string out(data, n);
    for (char &c : out) {
        const auto b = static_cast<unsigned char>(static_cast<unsigned char>(c) | 0x80u);
        c = static_cast<char>(b == 0xB5 || b == 0xD3 ? 0xFF : b);
    }
    return out;
}

// Sleeps until 'until', reading commands meanwhile; false when asked to stop.
bool WaitUntil(Steady::time_point until, CPtyLink &pty, CCommandReader &reader, CSimSky &sky) {
    for (;;) {
        g_net.Service([&](const char *data, std::size_t n) { reader.Feed(data, n, sky); });
        if (g_stop)
            return false;
        const auto now = Steady::now();
        if (now >= until)
            return true;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd pfd{pty.Master(), POLLIN, 0};
        const int timeout = static_cast<int>(std::clamp<long long>(ms + 1, 1, 50));
        if (pty.Master() >= 0 && ::poll(&pfd, 1, timeout) > 0 && (pfd.revents & POLLIN))
            reader.Read(pty.Master(), sky);
        else if (pty.Master() < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    }
}

bool OpenAndAnnounce(CPtyLink &pty, const SimOptions &opt) {
    std::string error;
    if (!pty.Open(error) || (!opt.strLink.empty() && !pty.PointLink(opt.strLink, error))) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return false;
    }
    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);
    for (const std::string &address : g_net.Addresses())
        std::fprintf(stderr, "skywatch-sim: serving %s\n", address.c_str());
    return true;
}

bool StartNetwork(const SimOptions &opt) {
    std::string error;
    if ((!opt.strTcp.empty() && !g_net.ListenTcp(opt.strTcp, error)) ||
        (!opt.strUdp.empty() && !g_net.SendUdpTo(opt.strUdp, error))) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The fix is reported once the first message that says so has gone out whole: the RMC sentence,
// or with UBX alone the NAV-PVT frame (92 bytes of payload).
std::size_t FixMessageEnd(const std::string &epoch, SimProtocol protocol) {
    if (protocol != SimProtocol::Ubx) {
        const std::size_t rmc = epoch.find("RMC,");
        return rmc == std::string::npos ? 0 : epoch.find('\n', rmc) + 1;
    }
    const std::size_t pvt = epoch.find("\xB5\x62\x01\x07");
    return pvt == std::string::npos ? 0 : std::min(epoch.size(), pvt + 8 + 92);
}

// Where the message (a sentence, or a UBX frame) that holds the byte before 'at' ends.
std::size_t MessageEnd(const std::string &epoch, std::size_t at) {
    std::size_t end = 0;
    while (end < at && end < epoch.size()) {
        if (epoch.compare(end, 2, "\xB5\x62") == 0 && end + 6 <= epoch.size()) {
            const auto lo = static_cast<unsigned char>(epoch[end + 4]);
            const auto hi = static_cast<unsigned char>(epoch[end + 5]);
            end += 8 + (lo | static_cast<std::size_t>(hi) << 8);
        } else {
            const std::size_t lf = epoch.find('\n', end);
            end = lf == std::string::npos ? epoch.size() : lf + 1;
        }
    }
    return std::min(end, epoch.size());
}

// The seed of --seed, else one from the clock.
unsigned Seed(const SimOptions &opt) {
    return opt.bSeedSet ? opt.nSeed
                        : static_cast<unsigned>(Steady::now().time_since_epoch().count());
}

// Gives sky the interference and the loss of the command line; a spoofer's draws are said with
// their seed.
void SetInterference(CSimSky &sky, const SimOptions &opt, unsigned seed) {
    sky.SetInterference(opt.interference, seed);
    if (opt.interference.dSpoofStart >= 0.0)
        std::fprintf(stderr, "skywatch-sim: spoofing from %.1f s, seed %u\n",
                     opt.interference.dSpoofStart, seed);
    if (opt.interference.dCn0OffsetDb > 0.0)
        std::fprintf(stderr, "skywatch-sim: every signal %.1f dB weaker\n",
                     opt.interference.dCn0OffsetDb);
}

// Writes the simulated sky's epochs for opt.dWrite seconds of its own clock to stdout, unpaced:
// long recordings for replays, made in a fraction of their time.
int WriteStream(const SimOptions &opt, double cycleSeconds) {
    CSimSky sky(opt.bFast, !opt.bGpsOnly);
    sky.SetBands(opt.nBands);
    sky.SetProtocol(opt.protocol);
    SetInterference(sky, opt, Seed(opt));
    const auto start =
        opt.nWriteFrom >= 0
            ? std::chrono::sys_seconds(std::chrono::seconds(opt.nWriteFrom))
            : std::chrono::time_point_cast<std::chrono::seconds>(CSimSky::Clock::now());
    const auto cycles = static_cast<long>(std::lround(opt.dWrite / cycleSeconds));
    for (long i = 0; i < cycles && !g_stop; ++i) {
        const auto now =
            start + std::chrono::duration_cast<CSimSky::Clock::duration>(
                        std::chrono::duration<double>(cycleSeconds * static_cast<double>(i)));
        const std::string epoch = sky.Epoch(now, cycleSeconds);
        if (std::fwrite(epoch.data(), 1, epoch.size(), stdout) != epoch.size()) {
            std::fprintf(stderr, "skywatch-sim: cannot write the stream: %s\n",
                         std::strerror(errno));
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    SimOptions opt;
    std::string error;
    if (!opt.Parse(argc, argv, error)) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return 2;
    }
    if (opt.bHelp) {
        std::fputs(SimOptions::Usage(), stdout);
        return 0;
    }
    double cycleSeconds = 1.0 / opt.nRate;
    double charsPerSecond = opt.nBaud / 10.0;
    auto cycleBytes = static_cast<std::size_t>(charsPerSecond * cycleSeconds);
    CSimReplay replay;
    if (!opt.strReplay.empty() && !replay.Load(opt.strReplay, cycleBytes, error)) {
        std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
        return 2;
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = OnUnplugSignal;
    ::sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (opt.dWrite > 0.0)
        return WriteStream(opt, cycleSeconds);

    if (!StartNetwork(opt))
        return 2;
    CPtyLink pty;
    if (!OpenAndAnnounce(pty, opt))
        return 1;

    CSimSky sky(opt.bFast, !opt.bGpsOnly);
    sky.SetBands(opt.nBands);
    sky.SetProtocol(opt.protocol);
    const unsigned seed = Seed(opt);
    if (opt.dTtffSpread > 0.0) {
        sky.SetSpread(opt.dTtffSpread, seed);
        std::fprintf(stderr, "skywatch-sim: time to fix spread %.1f s, seed %u\n", opt.dTtffSpread,
                     seed);
    }
    SetInterference(sky, opt, seed);
    const CSimClock clock(opt.nSpeed);
    CSimChip chip(opt.chip, opt.bRunning);
    chip.SetSpeed(opt.nSpeed);
    chip.SetUbxOnly(opt.protocol == SimProtocol::Ubx);
    chip.SetUbxProtocol(opt.nUbxProtocol);
    SimSettings pace{opt.nRate, 0xF, opt.nBaud};
    chip.Config() = CSimConfig(opt.chip, pace);
    chip.Config().SetUbx(opt.nUbxProtocol, opt.refuseKey);
    chip.Config().SetAckOnly(opt.bAckOnly);
    CCommandReader reader(chip, clock);
    CCommandReader::Line line{pty, opt.nBaud, false};
    reader.m_pLine = &line;
    bool bWarned = false;
    // Chunks of about 20 ms of wall time keep the pace smooth without a write per character.
    const double speed = opt.nSpeed;
    auto chunk = std::max<std::size_t>(1, static_cast<std::size_t>(charsPerSecond * speed / 50.0));
    auto charTime = std::chrono::duration<double>(1.0 / charsPerSecond / speed);
    auto cycle = clock.Wall(cycleSeconds);
    auto openedAt = Steady::now();
    auto cycleStart = Steady::now();

    while (!g_stop) {
        // Settings a command changed take effect from the next cycle, after its answer.
        if (const SimSettings &now = chip.Config().Working(); !(now == pace)) {
            pace = now;
            cycleSeconds = 1.0 / pace.nRate;
            charsPerSecond = pace.nBaud / 10.0;
            cycleBytes = static_cast<std::size_t>(charsPerSecond * cycleSeconds);
            chunk =
                std::max<std::size_t>(1, static_cast<std::size_t>(charsPerSecond * speed / 50.0));
            charTime = std::chrono::duration<double>(1.0 / charsPerSecond / speed);
            cycle = clock.Wall(cycleSeconds);
            sky.SetSystems(pace.systems);
            line.bGuard = line.bGuard || pace.nBaud != opt.nBaud;
            line.nBaud = pace.nBaud;
            bWarned = false;
            std::fprintf(stderr, "skywatch-sim: now %d Hz, %d baud, systems 0x%X\n", pace.nRate,
                         pace.nBaud, pace.systems);
        }
        std::string epoch =
            opt.strReplay.empty() ? sky.Epoch(clock.Now(), cycleSeconds) : replay.Next();
        const bool bAcquiring = sky.Acquiring();
        if (epoch.size() > cycleBytes && !bWarned) {
            std::fprintf(stderr,
                         "skywatch-sim: a cycle of %zu characters does not fit %d baud at %d Hz "
                         "(%zu characters); the cycles stretch\n",
                         epoch.size(), pace.nBaud, pace.nRate, cycleBytes);
            bWarned = true;
        }
        if (opt.strReplay.empty()) {
            epoch.insert(0, chip.NextCycle());
            const std::size_t end = FixMessageEnd(epoch, opt.protocol);
            chip.NoteCycle(bAcquiring, static_cast<double>(end) / charsPerSecond);
        }
        const auto sendStart = Steady::now();
        // Steps by what went out: an answer put after a last short chunk is sent whole.
        for (std::size_t off = 0, n = 0; off < epoch.size() && !g_stop; off += n) {
            n = std::min(chunk, epoch.size() - off);
            // With nobody reading, a full buffer drops bytes, as on a real line.
            g_net.Send(epoch.data() + off, n);
            const std::string out =
                line.Garbled() ? Garble(epoch.data() + off, n) : epoch.substr(off, n);
            if (::write(pty.Master(), out.data(), n) < 0 && errno != EAGAIN)
                break;
            const auto due = sendStart + std::chrono::duration_cast<Steady::duration>(
                                             charTime * static_cast<double>(off + n));
            if (!WaitUntil(due, pty, reader, sky))
                break;
            // A query answered mid-cycle goes out after the sentence or frame on its way.
            if (std::string answer = chip.TakeAnswer(); !answer.empty())
                epoch.insert(MessageEnd(epoch, off + n), answer);
        }
        reader.SendAnswer(pty.Master());
        reader.m_idleFd = pty.Master();
        cycleStart = std::max(cycleStart + cycle, Steady::now());
        const bool bGoOn = WaitUntil(cycleStart, pty, reader, sky);
        reader.m_idleFd = -1;
        if (!bGoOn)
            break;

        if (g_unplug != 0 ||
            (opt.dUnplugAfter >= 0.0 && Steady::now() - openedAt >= clock.Wall(opt.dUnplugAfter))) {
            g_unplug = 0;
            // The device name goes first, as when a USB receiver is pulled out, so a reader
            // that sees the hang-up finds no stale link.
            if (!opt.strLink.empty())
                ::unlink(opt.strLink.c_str());
            if (!pty.Unplug(error)) {
                std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
                break;
            }
            g_net.Close();
            // Without power the receiver keeps only what it saved.
            chip.Config().PowerCycle();
            std::fprintf(stderr, "skywatch-sim: unplugged\n");
            const auto back = Steady::now() + clock.Wall(opt.dUnplugPause);
            if (!WaitUntil(back, pty, reader, sky))
                break;
            if (!g_net.Reopen(error)) {
                std::fprintf(stderr, "skywatch-sim: %s\n", error.c_str());
                break;
            }
            if (!OpenAndAnnounce(pty, opt))
                break;
            openedAt = cycleStart = Steady::now();
        }
    }
    if (!opt.strLink.empty())
        ::unlink(opt.strLink.c_str());
    return 0;
}
