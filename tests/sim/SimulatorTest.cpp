// skywatch-sim run for real: the device it prints, what a reader decodes from it, its pace,
// restart commands, the link, unplugging, replay, its UBX output and refused options; and two of
// them compared by the decode tool.

#include "LinkTestSupport.h"
#include "SimProcess.h"
#include "TestPaths.h"

#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"
#include "model/SkyTable.h"
#include "protocol/Rtcm3.h"
#include "protocol/ScanCounters.h"
#include "protocol/UbxMessages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <numbers>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
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

// One UBX frame of a stream.
struct UbxFrame {
    int cls = 0, id = 0;
    std::string payload;
};

// A stream cut into its sentences and its UBX frames; kinds holds 'N' or 'U' per run of either.
struct SplitStream {
    std::string nmea;
    std::vector<UbxFrame> frames;
    std::string ubx; // the frames' bytes
    std::string kinds;
    std::string error; // where the first byte that begins neither a line nor a good frame sits
};

SplitStream Split(const std::string &s) {
    SplitStream out;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    for (std::size_t i = 0; i < s.size() && out.error.empty();) {
        const char kind = s[i] == '$' ? 'N' : 'U';
        if (out.kinds.empty() || out.kinds.back() != kind)
            out.kinds += kind;
        if (kind == 'N') {
            const std::size_t lf = s.find('\n', i);
            const std::size_t end = lf == std::string::npos ? s.size() : lf + 1;
            out.nmea += s.substr(i, end - i);
            i = end;
            continue;
        }
        if (s.size() - i < 8 || byte(i) != 0xB5 || byte(i + 1) != 0x62) {
            out.error = "no sync at byte " + std::to_string(i);
            break;
        }
        const std::size_t len = byte(i + 4) | std::size_t{byte(i + 5)} << 8;
        if (s.size() - i < 8 + len) {
            out.error = "frame cut short at byte " + std::to_string(i);
            break;
        }
        std::uint8_t ckA = 0, ckB = 0;
        ubx::Checksum(reinterpret_cast<const std::uint8_t *>(s.data()) + i + 2, 4 + len, ckA, ckB);
        if (ckA != byte(i + 6 + len) || ckB != byte(i + 7 + len)) {
            out.error = "bad checksum at byte " + std::to_string(i);
            break;
        }
        out.frames.push_back({byte(i + 2), byte(i + 3), s.substr(i + 6, len)});
        out.ubx += s.substr(i, 8 + len);
        i += 8 + len;
    }
    return out;
}

// A little-endian field of a payload.
long Le(const std::string &p, std::size_t at, int bytes, bool bSigned = false) {
    unsigned long v = 0;
    for (int k = 0; k < bytes; ++k)
        v |= static_cast<unsigned long>(static_cast<std::uint8_t>(p.at(at + k))) << (8 * k);
    if (bSigned && (v >> (8 * bytes - 1)) != 0)
        return static_cast<long>(v) - (1L << (8 * bytes));
    return static_cast<long>(v);
}

constexpr int kNavStatus = 0x0103, kNavDop = 0x0104, kNavPvt = 0x0107, kNavSat = 0x0135,
              kNavSig = 0x0143, kMonRf = 0x0A38;

int Key(const UbxFrame &f) {
    return f.cls << 8 | f.id;
}

// u-blox's gnssId of a system.
int UbxGnssId(Gnss g) {
    constexpr int kIds[] = {0, 1, 6, 2,
                            3, 5, 7}; // GPS, SBAS, GLONASS, Galileo, BeiDou, QZSS, NavIC
    return kIds[static_cast<int>(g)];
}

// u-blox's sigId for the NMEA 4.11 signal id of each band the simulator sends (0: the sentence
// names none, the system's first band).
int UbxSigId(Gnss g, int nmeaId) {
    static const std::map<std::pair<Gnss, int>, int> kSigIds = {
        {{Gnss::GPS, 1}, 0},     {{Gnss::GPS, 8}, 7},     {{Gnss::GLONASS, 1}, 0},
        {{Gnss::GLONASS, 3}, 2}, {{Gnss::Galileo, 7}, 0}, {{Gnss::Galileo, 1}, 4},
        {{Gnss::BeiDou, 1}, 0},  {{Gnss::BeiDou, 5}, 7}};
    if (nmeaId == 0)
        return 0;
    const auto it = kSigIds.find({g, nmeaId});
    return it == kSigIds.end() ? -1 : it->second;
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

// The receiver's time of each RMC in text, in seconds of the day.
std::vector<double> RmcTimes(const std::string &text) {
    std::vector<double> times;
    for (std::size_t at = text.find("RMC,"); at != std::string::npos && at + 14 < text.size();
         at = text.find("RMC,", at + 1)) {
        const std::string hms = text.substr(at + 4, 10);
        times.push_back(std::stoi(hms.substr(0, 2)) * 3600 + std::stoi(hms.substr(2, 2)) * 60 +
                        std::stod(hms.substr(4)));
    }
    return times;
}

// At --speed 4 four cycles come a wall second, each a second of the receiver's later.
TEST(Simulator, SpeedRunsTheReceiversClockFaster) {
    REQUIRE_SIM();
    CSimProcess sim({"--speed", "4"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(300, text));
    text.clear();
    ASSERT_TRUE(reader.ReadFor(2000, text));
    const std::vector<double> times = RmcTimes(text);
    EXPECT_GE(times.size(), 6u) << text;
    EXPECT_LE(times.size(), 10u) << text;
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_NEAR(std::fmod(times[i] - times[i - 1] + 86400.0, 86400.0), 1.0, 0.2) << text;
}

// A cold start on the receiver's clock four times as fast: lost at once, its 3.5 s to the fix
// told in its own seconds and over in about a wall second.
TEST(Simulator, ColdStartLosesTheFixAndFastReacquires) {
    REQUIRE_SIM();
    CSimProcess sim(
        {"--chip", "sirf", "--fast", "--baud", "9600", "--gnss", "gps", "--speed", "4"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(600, text));
    ASSERT_EQ(Decode(LastCycle(text)).fix.bValid, 1);

    const std::string cold = "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n";
    reader.Write(cold);
    text.clear();
    ASSERT_TRUE(reader.ReadFor(400, text));
    EXPECT_NE(sim.Errors().find("received cold start: $PSRF104,0,0,0,96000,237759,922,12,4*2E"),
              std::string::npos)
        << sim.Errors();
    const std::string lost = LastCycle(text);
    EXPECT_NE(lost.find(",V,,,,,"), std::string::npos) << lost;
    EXPECT_NE(lost.find(",0,00,"), std::string::npos) << lost;
    EXPECT_NE(lost.find("$GPGSA,A,1,,"), std::string::npos) << lost;
    EXPECT_EQ(Decode(lost).fix.bValid, 0);

    // Satellites come back before the fix; the fix within about 3.5 s of the receiver's.
    bool bSatsWithoutFix = false;
    bool bFix = false;
    for (int i = 0; i < 8 && !bFix; ++i) {
        std::string more;
        ASSERT_TRUE(reader.ReadFor(250, more));
        const std::string cycle = LastCycle(more);
        const Decoded d = Decode(cycle);
        bSatsWithoutFix = bSatsWithoutFix ||
                          (d.fix.bValid == 0 && cycle.find("$GPGSV,1,1,00") == std::string::npos);
        bFix = d.fix.bValid == 1;
    }
    EXPECT_TRUE(bSatsWithoutFix);
    EXPECT_TRUE(bFix);
    ASSERT_TRUE(WaitUntil([&] { return sim.Errors().find("fix after ") != std::string::npos; },
                          std::chrono::seconds(1)));
    // Told at the first cycle from 3.5 s on, once its RMC went out.
    const std::string errors = sim.Errors();
    const double own = std::atof(errors.c_str() + errors.find("fix after ") + 10);
    EXPECT_GE(own, 3.5) << errors;
    EXPECT_LE(own, 5.0) << errors;
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

// --write with UBX: only whole frames with good checksums (and with "both" each cycle's sentences
// first), each message of its documented layout every cycle and MON-RF once a second, and the
// binary side telling the same fix and sky as the sentences.
struct UbxRow {
    const char *name;
    std::vector<std::string> args;
    int cycles, seconds, bands;
    bool bBoth;
    std::size_t systems;
};

void PrintTo(const UbxRow &row, std::ostream *os) {
    *os << row.name;
}

class UbxStream : public ::testing::TestWithParam<UbxRow> {};

TEST_P(UbxStream, FramesAreWholeAndAgreeWithTheSentences) {
    REQUIRE_SIM();
    const UbxRow &row = GetParam();
    CSimProcess sim(row.args);
    ASSERT_EQ(sim.Wait(10000), 0) << sim.Errors();
    const SplitStream split = Split(sim.Output());
    ASSERT_EQ(split.error, "");
    // NMEA first, then UBX, every cycle; with UBX alone not one byte of a sentence.
    std::string kinds = row.bBoth ? "" : "U";
    for (int i = 0; i < row.cycles && row.bBoth; ++i)
        kinds += "NU";
    EXPECT_EQ(split.kinds, kinds);
    EXPECT_EQ(split.nmea.empty(), !row.bBoth);

    std::map<int, int> count;
    for (const UbxFrame &f : split.frames)
        ++count[Key(f)];
    const std::map<int, int> expected = {{kNavStatus, row.cycles}, {kNavDop, row.cycles},
                                         {kNavPvt, row.cycles},    {kNavSat, row.cycles},
                                         {kNavSig, row.cycles},    {kMonRf, row.seconds}};
    EXPECT_EQ(count, expected);

    long lastTow = -1;
    std::map<int, const UbxFrame *> cycle; // the last cycle's messages
    for (const UbxFrame &f : split.frames) {
        const std::string &p = f.payload;
        cycle[Key(f)] = &f;
        switch (Key(f)) {
        case kNavStatus:
            ASSERT_EQ(p.size(), 16u);
            EXPECT_EQ(Le(p, 4, 1), 3);            // gpsFix 3D
            EXPECT_EQ(Le(p, 5, 1) & 1, 1);        // gpsFixOk
            EXPECT_GE(Le(p, 12, 4), Le(p, 8, 4)); // msss >= ttff
            break;
        case kNavDop:
            ASSERT_EQ(p.size(), 18u);
            break;
        case kNavPvt: {
            ASSERT_EQ(p.size(), 92u);
            const long tow = Le(p, 0, 4);
            if (lastTow >= 0) {
                EXPECT_EQ(tow - lastTow, 1000 * row.seconds / row.cycles);
            }
            lastTow = tow;
            // UTC is GPS time less 18 leap seconds.
            const long utc = Le(p, 8, 1) * 3600 + Le(p, 9, 1) * 60 + Le(p, 10, 1);
            EXPECT_EQ(((tow / 1000 - 18) % 86400 + 86400) % 86400, utc);
            EXPECT_EQ(Le(p, 11, 1) & 3, 3);   // validDate, validTime
            EXPECT_EQ(Le(p, 20, 1), 3);       // fixType
            EXPECT_EQ(Le(p, 21, 1) & 1, 1);   // gnssFixOK
            EXPECT_GT(Le(p, 60, 4, true), 0); // gSpeed
            EXPECT_EQ(Le(p, 78, 2) & 1, 0);   // invalidLlh
            break;
        }
        case kNavSat:
            EXPECT_EQ(Le(p, 4, 1), 1); // version
            ASSERT_EQ(p.size(), 8 + 12 * std::size_t(Le(p, 5, 1)));
            break;
        case kNavSig:
            EXPECT_EQ(Le(p, 4, 1), 0); // version
            ASSERT_EQ(p.size(), 8 + 16 * std::size_t(Le(p, 5, 1)));
            break;
        case kMonRf:
            EXPECT_EQ(Le(p, 0, 1), 0); // version
            ASSERT_EQ(Le(p, 1, 1), row.bands);
            ASSERT_EQ(p.size(), 4 + 24 * std::size_t(row.bands));
            for (int b = 0; b < row.bands; ++b) {
                const std::size_t at = 4 + 24 * std::size_t(b);
                EXPECT_EQ(Le(p, at, 1), b);
                EXPECT_EQ(Le(p, at + 1, 1) & 3, 1); // jamming state ok
                EXPECT_EQ(Le(p, at + 2, 1), 2);     // antenna ok
                EXPECT_EQ(Le(p, at + 3, 1), 1);     // antenna power on
                EXPECT_LE(Le(p, at + 14, 2), 8191); // agcCnt
            }
            break;
        }
    }
    ASSERT_EQ(cycle.size(), 6u);
    const std::string &pvt = cycle[kNavPvt]->payload, &dop = cycle[kNavDop]->payload;
    const std::string &sat = cycle[kNavSat]->payload, &sig = cycle[kNavSig]->payload;
    for (int key : {kNavStatus, kNavDop, kNavSat, kNavSig})
        EXPECT_EQ(Le(cycle[key]->payload, 0, 4), Le(pvt, 0, 4)) << "iTOW of " << std::hex << key;
    EXPECT_EQ(Le(pvt, 76, 2), Le(dop, 6, 2)); // pDOP

    // Each satellite: its system and number as u-blox counts them, its signals in NAV-SIG.
    struct Sat {
        long el, az, cno;
        bool used;
        std::map<long, long> cnoBySig;
    };
    std::map<std::pair<long, long>, Sat> sats;
    std::map<long, int> systems;
    long nUsed = 0;
    for (long i = 0; i < Le(sat, 5, 1); ++i) {
        const std::size_t at = 8 + 12 * std::size_t(i);
        const long gnss = Le(sat, at, 1), sv = Le(sat, at + 1, 1), flags = Le(sat, at + 8, 4);
        const bool used = (flags & 8) != 0;
        ++systems[gnss];
        nUsed += used;
        const std::map<long, std::pair<long, long>> kSvRange = {
            {0, {1, 32}}, {2, {1, 36}}, {3, {1, 63}}, {6, {1, 24}}};
        ASSERT_TRUE(kSvRange.count(gnss)) << gnss;
        EXPECT_GE(sv, kSvRange.at(gnss).first) << gnss;
        EXPECT_LE(sv, kSvRange.at(gnss).second) << gnss;
        EXPECT_EQ((flags >> 4) & 3, 1) << "healthy";
        EXPECT_EQ(used, (flags & 7) >= 4 && used) << "a used satellite is locked";
        sats[{gnss, sv}] = {
            Le(sat, at + 3, 1, true), Le(sat, at + 4, 2, true), Le(sat, at + 2, 1), used, {}};
    }
    EXPECT_EQ(systems.size(), row.systems);
    EXPECT_EQ(Le(pvt, 23, 1), nUsed); // numSV
    ASSERT_EQ(Le(sig, 5, 1), static_cast<long>(sats.size()) * row.bands);
    for (long i = 0; i < Le(sig, 5, 1); ++i) {
        const std::size_t at = 8 + 16 * std::size_t(i);
        const auto it = sats.find({Le(sig, at, 1), Le(sig, at + 1, 1)});
        ASSERT_NE(it, sats.end()) << "a signal of a satellite NAV-SAT does not list";
        it->second.cnoBySig[Le(sig, at + 2, 1)] = Le(sig, at + 6, 1);
        if ((Le(sig, at + 10, 2) & 8) != 0) {
            EXPECT_TRUE(it->second.used) << "pseudorange used of an unused satellite";
        }
    }
    for (const auto &[id, s] : sats) {
        EXPECT_EQ(s.cnoBySig.size(), std::size_t(row.bands)) << id.first << " " << id.second;
        long best = 0;
        for (const auto &[sigId, cno] : s.cnoBySig)
            best = std::max(best, cno);
        EXPECT_EQ(s.cno, best) << "NAV-SAT's cno is its strongest signal's";
    }
    if (!row.bBoth)
        return;

    // The last cycle's sentences against its frames.
    const std::size_t last = split.nmea.rfind('$', split.nmea.rfind("RMC,"));
    ASSERT_NE(last, std::string::npos);
    const Decoded d = Decode(split.nmea.substr(last));
    EXPECT_EQ(d.counters.nBadChecksum, 0u);
    EXPECT_NEAR(d.fix.lLatitude, static_cast<double>(Le(pvt, 28, 4, true)) / 10.0, 2.0);
    EXPECT_NEAR(d.fix.lLongitude, static_cast<double>(Le(pvt, 24, 4, true)) / 10.0, 2.0);
    EXPECT_NEAR(d.fix.wAltitude, static_cast<double>(Le(pvt, 36, 4, true)) / 1000.0, 1.0);
    EXPECT_NEAR(d.fix.nCourse, static_cast<double>(Le(pvt, 64, 4, true)) / 1e5, 1.0);
    EXPECT_NEAR(d.fix.wSpeed, static_cast<double>(Le(pvt, 60, 4, true)) * 0.36,
                0.05 * 185.2 + 1.0); // 0.1 kn
    EXPECT_EQ(d.fix.cSatsUsed, Le(pvt, 23, 1));
    EXPECT_EQ(d.fix.nPdop * 10, Le(dop, 6, 2));
    EXPECT_EQ(d.fix.nVdop * 10, Le(dop, 10, 2));
    EXPECT_EQ(d.fix.nHdop * 10, Le(dop, 12, 2));
    ASSERT_EQ(d.sky.count, sats.size());
    for (std::size_t i = 0; i < d.sky.count; ++i) {
        const SkySat &n = d.sky.sats[i];
        const auto it = sats.find({UbxGnssId(n.gnss), n.sv});
        ASSERT_NE(it, sats.end()) << GnssName(n.gnss) << " " << n.sv;
        EXPECT_EQ(it->second.el, n.el) << GnssName(n.gnss) << " " << n.sv;
        EXPECT_EQ(it->second.az, n.az) << GnssName(n.gnss) << " " << n.sv;
        EXPECT_EQ(it->second.used, n.used) << GnssName(n.gnss) << " " << n.sv;
        for (std::size_t k = 0; k < n.nSigs; ++k) {
            const int sigId = UbxSigId(n.gnss, n.sigs[k].id);
            ASSERT_EQ(it->second.cnoBySig.count(sigId), 1u)
                << GnssName(n.gnss) << " " << n.sv << " NMEA signal " << int(n.sigs[k].id);
            EXPECT_EQ(it->second.cnoBySig.at(sigId), n.sigs[k].snr)
                << GnssName(n.gnss) << " " << n.sv << " NMEA signal " << int(n.sigs[k].id);
        }
    }
}

// The same cycles decoded from the frames alone and from the sentences alone (the two halves of
// a --protocol both stream) give the same fix and the same sky.
class UbxDecode : public ::testing::TestWithParam<UbxRow> {};

TEST_P(UbxDecode, FramesDecodeToTheFixAndSkyOfTheSentences) {
    REQUIRE_SIM();
    const UbxRow &row = GetParam();
    CSimProcess sim(row.args);
    ASSERT_EQ(sim.Wait(10000), 0) << sim.Errors();
    const SplitStream split = Split(sim.Output());
    ASSERT_EQ(split.error, "");
    const Decoded n = Decode(split.nmea), u = Decode(split.ubx);
    EXPECT_EQ(u.counters.nUbx, split.frames.size());
    EXPECT_EQ(u.counters.nUbxBad, 0u);
    EXPECT_EQ(u.fix.bValid, n.fix.bValid);
    EXPECT_EQ(u.fix.cFixMode, n.fix.cFixMode);
    EXPECT_EQ(u.fix.nYear, n.fix.nYear);
    EXPECT_EQ(u.fix.bMonth, n.fix.bMonth);
    EXPECT_EQ(u.fix.bDay, n.fix.bDay);
    EXPECT_EQ(u.fix.bHour, n.fix.bHour);
    EXPECT_EQ(u.fix.bMinute, n.fix.bMinute);
    EXPECT_EQ(u.fix.bSecond, n.fix.bSecond);
    // The sentences carry 1e-4 minute (0.19 m), a tenth of a knot and a tenth of a metre.
    EXPECT_NEAR(u.fix.lLatitude, n.fix.lLatitude, 2);
    EXPECT_NEAR(u.fix.lLongitude, n.fix.lLongitude, 2);
    EXPECT_NEAR(u.fix.wSpeed, n.fix.wSpeed, 11); // 0.05 knot is 9.3 hundredths of a km/h
    EXPECT_NEAR(u.fix.nCourse, n.fix.nCourse, 1);
    EXPECT_NEAR(u.fix.wAltitude, n.fix.wAltitude, 1);
    EXPECT_EQ(u.fix.cSatsUsed, n.fix.cSatsUsed);
    EXPECT_EQ(u.fix.nPdop, n.fix.nPdop);
    EXPECT_EQ(u.fix.nHdop, n.fix.nHdop);
    EXPECT_EQ(u.fix.nVdop, n.fix.nVdop);
    ASSERT_EQ(u.sky.count, n.sky.count);
    EXPECT_EQ(u.sky.used, n.sky.used);
    for (std::size_t i = 0; i < n.sky.count; ++i) {
        const SkySat &a = u.sky.sats[i], &b = n.sky.sats[i];
        const std::string what = std::string(GnssName(b.gnss)) + " " + std::to_string(b.sv);
        ASSERT_EQ(a.gnss, b.gnss) << what;
        ASSERT_EQ(a.sv, b.sv) << what;
        EXPECT_EQ(a.el, b.el) << what;
        EXPECT_EQ(a.az, b.az) << what;
        EXPECT_EQ(a.snr, b.snr) << what;
        EXPECT_EQ(a.used, b.used) << what;
        ASSERT_EQ(a.nSigs, b.nSigs) << what;
        for (std::size_t k = 0; k < b.nSigs; ++k) {
            EXPECT_EQ(a.sigs[k].snr, b.sigs[k].snr) << what << " signal " << k;
            if (row.bands > 1) {
                EXPECT_STREQ(BandName(a.gnss, a.sigs[k].id), BandName(b.gnss, b.sigs[k].id))
                    << what;
            }
        }
    }
}

const UbxRow kUbxRows[] = {
    {"Ubx", {"--protocol", "ubx", "--write", "3"}, 3, 3, 1, false, 4},
    {"UbxTwoBandsAtFiveHz",
     {"--protocol", "ubx", "--bands", "2", "--rate", "5", "--write", "2"},
     10,
     2,
     2,
     false,
     4},
    {"UbxGpsOnly",
     {"--protocol", "ubx", "--chip", "ublox", "--gnss", "gps", "--write", "2"},
     2,
     2,
     1,
     false,
     1},
    {"Both", {"--protocol", "both", "--write", "3"}, 3, 3, 1, true, 4},
    {"BothTwoBands", {"--protocol", "both", "--bands", "2", "--write", "2"}, 2, 2, 2, true, 4},
    {"BothGpsOnly",
     {"--protocol", "both", "--chip", "ublox", "--gnss", "gps", "--write", "2"},
     2,
     2,
     1,
     true,
     1},
};

INSTANTIATE_TEST_SUITE_P(Protocols, UbxStream, ::testing::ValuesIn(kUbxRows),
                         [](const ::testing::TestParamInfo<UbxRow> &row) {
                             return std::string(row.param.name);
                         });

std::vector<UbxRow> BothRows() {
    std::vector<UbxRow> rows;
    for (const UbxRow &row : kUbxRows)
        if (row.bBoth)
            rows.push_back(row);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Protocols, UbxDecode, ::testing::ValuesIn(BothRows()),
                         [](const ::testing::TestParamInfo<UbxRow> &row) {
                             return std::string(row.param.name);
                         });

// The fix types of the NAV-PVT frames in text, from its first sync on (a reader may open the
// device mid-frame, and the last frame may still be on its way).
std::string FixTypes(const std::string &text, SplitStream &split) {
    const std::size_t sync = text.find("\xB5\x62");
    split = Split(sync == std::string::npos ? std::string() : text.substr(sync));
    std::string types;
    for (const UbxFrame &f : split.frames)
        if (Key(f) == kNavPvt)
            types += static_cast<char>('0' + f.payload.at(20));
    return types;
}

// A UBX frame with its checksum.
std::string UbxCommand(std::string head) {
    std::uint8_t ckA = 0, ckB = 0;
    ubx::Checksum(reinterpret_cast<const std::uint8_t *>(head.data()) + 2, head.size() - 2, ckA,
                  ckB);
    return head + static_cast<char>(ckA) + static_cast<char>(ckB);
}

// UBX alone over the device: the banner as INF-NOTICE, no sentence, a version poll answered
// between frames (at 9600 baud a cycle fills most of the second, so the poll arrives mid-cycle),
// and a UBX-CFG-RST cold start drops the fix (fixType 0) until it is back.
TEST(Simulator, UbxOverTheDeviceObeysACfgRstColdStart) {
    REQUIRE_SIM();
    // Its clock four times as fast: two of its seconds in each half-second read.
    CSimProcess sim({"--protocol", "ubx", "--fast", "--baud", "9600", "--speed", "4"});
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    ASSERT_TRUE(reader.ReadFor(500, text));
    SplitStream split;
    EXPECT_NE(FixTypes(text, split).find('3'), std::string::npos);
    EXPECT_TRUE(split.error.empty() || split.error.rfind("frame cut short", 0) == 0) << split.error;
    EXPECT_EQ(split.nmea, "");
    bool bBanner = false;
    for (const UbxFrame &f : split.frames)
        bBanner = bBanner || (Key(f) == 0x0402 && f.payload.find("u-blox") != std::string::npos);
    EXPECT_TRUE(bBanner);

    reader.Write(UbxCommand(std::string("\xB5\x62\x0A\x04\x00\x00", 6))); // MON-VER poll
    text.clear();
    ASSERT_TRUE(reader.ReadFor(500, text));
    EXPECT_NE(FixTypes(text, split).find('3'), std::string::npos);
    EXPECT_TRUE(split.error.empty() || split.error.rfind("frame cut short", 0) == 0) << split.error;
    int answers = 0;
    for (const UbxFrame &f : split.frames)
        answers += Key(f) == 0x0A04;
    EXPECT_EQ(answers, 1);

    // navBbrMask 0xFFFF (cold), resetMode 2 (software, GNSS only).
    reader.Write(UbxCommand(std::string("\xB5\x62\x06\x04\x04\x00\xFF\xFF\x02\x00", 10)));
    text.clear();
    ASSERT_TRUE(reader.ReadFor(375, text));
    const std::string lost = FixTypes(text, split);
    ASSERT_FALSE(lost.empty());
    EXPECT_EQ(lost.back(), '0') << lost;
    // Read until the fix is back (3.5 s of the receiver's after the command with --fast), for at
    // most 2 s more.
    text.clear();
    std::string back;
    for (const auto until = Steady::now() + std::chrono::milliseconds(2000);
         (back.empty() || back.back() != '3') && Steady::now() < until;
         back = FixTypes(text, split))
        ASSERT_TRUE(reader.ReadFor(25, text));
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.back(), '3') << back;
    EXPECT_NE(sim.Errors().find("received cold start"), std::string::npos) << sim.Errors();
    EXPECT_NE(sim.Errors().find("fix after"), std::string::npos) << sim.Errors();
}

// Each family's answer to a setting, and whether it then runs at the new rate: the refusals a
// receiver makes (a rate it does not have, a key it lacks, ST's parameters before a save and a
// reset) change nothing. At 115200 baud every rate fits the line.
struct SettingRow {
    std::vector<std::string> args;
    std::string command;
    std::string reply; // what answers it, "" for nothing
    int rateHz;        // epochs a second after it
};

const SettingRow kSettingRows[] = {
    {{"--chip", "mtk"}, "$PMTK220,50*1B\r\n", "$PMTK001,220,2*31", 1},
    {{"--chip", "mtk"}, "$PMTK220,200*2C\r\n", "$PMTK001,220,3*30", 5},
    {{"--chip", "casic"}, "$PCAS02,100*1E\r\n", "", 1},
    {{"--chip", "casic"}, "$PCAS02,500*1A\r\n", "", 2},
    {{"--chip", "st"}, "$PSTMSETPAR,1303,0.1*35\r\n", "$PSTMSETPAROK,1303", 1},
    // CFG-VALSET of CFG-RATE-MEAS 100 ms: unknown to protocol 18.00, taken by 27.11.
    {{"--chip", "ublox"},
     UbxCommand(
         std::string("\xB5\x62\x06\x8A\x0A\x00\x00\x01\x00\x00\x01\x00\x21\x30\x64\x00", 16)),
     std::string("\xB5\x62\x05\x00\x02\x00\x06\x8A", 8),
     1},
    {{"--chip", "ublox", "--ubx-protocol", "27.11"},
     UbxCommand(
         std::string("\xB5\x62\x06\x8A\x0A\x00\x00\x01\x00\x00\x01\x00\x21\x30\x64\x00", 16)),
     std::string("\xB5\x62\x05\x01\x02\x00\x06\x8A", 8),
     10},
    // The same with CFG-SIGNAL-QZSS_ENA, which this one lacks: nothing of it is applied.
    {{"--chip", "ublox", "--ubx-protocol", "27.11", "--refuse-key", "0x10310024"},
     UbxCommand(std::string("\xB5\x62\x06\x8A\x0F\x00\x00\x01\x00\x00\x01\x00\x21\x30\x64\x00"
                            "\x24\x00\x31\x10\x00",
                            21)),
     std::string("\xB5\x62\x05\x00\x02\x00\x06\x8A", 8),
     1},
};

TEST(Simulator, ObeysOrRefusesSettingsAsItsFamilyDoes) {
    REQUIRE_SIM();
    struct Outcome {
        std::string answer, counted;
    };
    std::vector<Outcome> outcomes(std::size(kSettingRows));
    // The rows wait on the clock: each has a simulator and a thread of its own.
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < std::size(kSettingRows); ++i) {
        threads.emplace_back([i, &outcomes] {
            const SettingRow &row = kSettingRows[i];
            std::vector<std::string> args = row.args;
            args.insert(args.end(), {"--baud", "115200", "--running"});
            CSimProcess sim(args);
            Reader reader(sim.SlavePath());
            std::string text;
            if (!reader.IsOpen() || !reader.ReadFor(300, text))
                return;
            reader.Write(row.command);
            // The answer comes at once; the new rate from the next cycle on.
            if (reader.ReadFor(1200, outcomes[i].answer))
                reader.ReadFor(2000, outcomes[i].counted);
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (std::size_t i = 0; i < std::size(kSettingRows); ++i) {
        const SettingRow &row = kSettingRows[i];
        SCOPED_TRACE(row.args[1] + " row " + std::to_string(i));
        const Outcome &o = outcomes[i];
        if (!row.reply.empty())
            EXPECT_NE(o.answer.find(row.reply), std::string::npos);
        else
            EXPECT_EQ(o.answer.find("$PCAS"), std::string::npos);
        int rmc = 0;
        for (std::size_t at = o.counted.find("RMC,"); at != std::string::npos;
             at = o.counted.find("RMC,", at + 1))
            ++rmc;
        // Two seconds of epochs, allowing for a late one under load.
        EXPECT_GE(rmc, std::max(1, row.rateHz * 16 / 10)) << o.counted.size() << " bytes";
        EXPECT_LE(rmc, 2 * row.rateHz + 1);
    }
}

// Over UDP each datagram is one sentence or one whole UBX frame.
TEST(Simulator, UdpSendsADatagramPerSentenceOrFrame) {
    REQUIRE_SIM();
    int udpPort = 0;
    const int fd = BindLoopback(SOCK_DGRAM, udpPort);
    ASSERT_GE(fd, 0);
    CSimProcess sim(
        {"--protocol", "both", "--bands", "2", "--udp", "127.0.0.1:" + std::to_string(udpPort)});
    int sentences = 0, frames = 0;
    const auto until = Steady::now() + std::chrono::milliseconds(2500);
    while (Steady::now() < until) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        const std::string datagram(buf, static_cast<std::size_t>(n));
        const SplitStream split = Split(datagram);
        EXPECT_EQ(split.error, "");
        if (datagram[0] == '$') {
            EXPECT_EQ(datagram.find('\n'), datagram.size() - 1) << datagram;
            ++sentences;
        } else {
            EXPECT_EQ(split.frames.size(), 1u);
            EXPECT_EQ(split.nmea, "");
            ++frames;
        }
    }
    ::close(fd);
    EXPECT_GE(sentences, 20);
    EXPECT_GE(frames, 10);
}

// --protocol nmea is the default: the same bytes (runs that began in the same second).
TEST(Simulator, ProtocolNmeaSendsWhatTheDefaultSends) {
    REQUIRE_SIM();
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"--bands", "2", "--rate", "5"}, {"--gnss", "gps"}}) {
        std::string plain, nmea;
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::vector<std::string> a = args, b = args;
            a.insert(a.end(), {"--write", "3"});
            b.insert(b.end(), {"--protocol", "nmea", "--write", "3"});
            CSimProcess first(a), second(b);
            ASSERT_EQ(first.Wait(5000), 0);
            ASSERT_EQ(second.Wait(5000), 0);
            plain = first.Output();
            nmea = second.Output();
            // Both begin with an RMC whose time of fix says which second they started in.
            if (plain.substr(0, 17) == nmea.substr(0, 17))
                break;
        }
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(plain.find('\xB5'), std::string::npos);
        EXPECT_EQ(nmea, plain) << (args.empty() ? "" : args[0]);
    }
}

// One cycle of a --write stream: its bytes (each UBX frame written out again), what they decode
// to, and its MON-RF payload ("" without one).
struct Cycle {
    std::string bytes;
    Decoded d;
    std::string rf;
};

// The stream cut into its cycles: from each RMC on, or with UBX alone from each NAV-STATUS on.
std::vector<Cycle> Cycles(const std::string &stream) {
    const SplitStream split = Split(stream);
    std::vector<Cycle> cycles;
    if (!split.error.empty())
        return cycles;
    for (std::size_t at = split.nmea.find("RMC,"); at != std::string::npos;) {
        const std::size_t next = split.nmea.find("RMC,", at + 4);
        const std::size_t from = split.nmea.rfind('$', at);
        const std::size_t to =
            next == std::string::npos ? split.nmea.size() : split.nmea.rfind('$', next);
        cycles.push_back({split.nmea.substr(from, to - from), {}, ""});
        at = next;
    }
    for (const UbxFrame &f : split.frames) {
        if (Key(f) == kNavStatus)
            cycles.emplace_back();
        if (cycles.empty())
            continue;
        const std::size_t n = f.payload.size();
        cycles.back().bytes += UbxCommand(std::string("\xB5\x62", 2) + char(f.cls) + char(f.id) +
                                          char(n & 0xFF) + char(n >> 8) + f.payload);
        if (Key(f) == kMonRf)
            cycles.back().rf = f.payload;
    }
    for (Cycle &c : cycles)
        c.d = Decode(c.bytes);
    return cycles;
}

// Fix time, seconds since 1970.
long long FixSeconds(const GpsFix &fix) {
    std::tm tm{};
    tm.tm_year = fix.nYear - 1900;
    tm.tm_mon = fix.bMonth - 1;
    tm.tm_mday = fix.bDay;
    tm.tm_hour = fix.bHour;
    tm.tm_min = fix.bMinute;
    tm.tm_sec = fix.bSecond;
    return static_cast<long long>(::timegm(&tm));
}

// --jam and --spoof against the same run without them (same seed, same start second): inside
// the window a jam lowers every signal by its dB (a signal under 20 dB-Hz is lost, never used),
// raises MON-RF's jamming indicator about 5 a dB and lowers the AGC about 2% of its range a dB;
// a spoof holds every tracked signal at 45 +-1 dB-Hz, drags the position north-east at 30 m/s
// with speed and course true, and puts the time 2 h ahead (date and all). Outside it, every byte
// is the plain run's. A receiver's own loss (--cn0-offset) lowers its signals as a jam does, all
// the time, with the same sky and nothing for MON-RF to see.
struct InjectRow {
    const char *name;
    std::vector<std::string> receiver;
    std::vector<std::string> inject;
    double start, seconds; // the window, seconds after the first epoch; seconds < 0: to the end
    double jamDb;          // 0: a spoof
    bool bRfSees = true;   // false: the receiver's own loss, not a jammer's
};

void PrintTo(const InjectRow &row, std::ostream *os) {
    *os << row.name;
}

class Interference : public ::testing::TestWithParam<InjectRow> {};

TEST_P(Interference, ChangesOnlyItsWindow) {
    REQUIRE_SIM();
    constexpr int kTrackFloor = 20, kCycles = 5;
    constexpr long long kSpoofAheadS = 2 * 3600;
    constexpr double kDriftMps = 30.0;
    const InjectRow &row = GetParam();
    std::vector<std::string> plainArgs = row.receiver;
    plainArgs.insert(plainArgs.end(), {"--seed", "7", "--write", std::to_string(kCycles)});
    std::vector<std::string> args = plainArgs;
    args.insert(args.end(), row.inject.begin(), row.inject.end());
    std::string plain, injected, again;
    for (int attempt = 0; attempt < 3; ++attempt) {
        CSimProcess a(plainArgs), b(args), c(args);
        ASSERT_EQ(a.Wait(5000), 0) << a.Errors();
        ASSERT_EQ(b.Wait(5000), 0) << b.Errors();
        ASSERT_EQ(c.Wait(5000), 0) << c.Errors();
        plain = a.Output();
        injected = b.Output();
        again = c.Output();
        // The first cycle's time says which second a run began in.
        if (plain.substr(0, 17) == injected.substr(0, 17) &&
            again.substr(0, 17) == plain.substr(0, 17))
            break;
    }
    EXPECT_EQ(injected, again) << "the same seed draws the same signals";
    const std::vector<Cycle> p = Cycles(plain), j = Cycles(injected);
    ASSERT_EQ(p.size(), std::size_t(kCycles));
    ASSERT_EQ(j.size(), p.size());
    int inside = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double t = static_cast<double>(i);
        const bool bIn = t >= row.start && (row.seconds < 0 || t < row.start + row.seconds);
        const std::string at = "cycle " + std::to_string(i);
        if (!bIn) {
            EXPECT_EQ(j[i].bytes, p[i].bytes) << at;
            continue;
        }
        ++inside;
        const GpsFix &pf = p[i].d.fix, &jf = j[i].d.fix;
        const SkyView &ps = p[i].d.sky, &js = j[i].d.sky;
        // The receiver's rule: a fix with four or more satellites of 25 dB-Hz or more on their
        // first band. Its sky follows the clock, so what a jam leaves depends on the hour.
        int usable = 0;
        for (std::size_t k = 0; k < ps.count; ++k) {
            const SkySat &a = ps.sats[k];
            const int first = a.nSigs > 0 ? a.sigs[0].snr : a.snr;
            usable += row.jamDb > 0 ? (first > 0 && first - row.jamDb >= 25) : (first >= 25);
        }
        EXPECT_EQ(jf.bValid != 0, pf.bValid != 0 && usable >= 4) << at;
        ASSERT_EQ(js.count, ps.count) << at;
        for (std::size_t k = 0; k < ps.count; ++k) {
            const SkySat &a = ps.sats[k], &b = js.sats[k];
            const std::string sat = at + " " + GnssName(a.gnss) + " " + std::to_string(a.sv);
            ASSERT_EQ(b.sv, a.sv) << sat;
            EXPECT_EQ(b.el, a.el) << sat;
            ASSERT_EQ(b.nSigs, a.nSigs) << sat;
            EXPECT_FALSE(b.used && b.snr == 0) << sat;
            std::vector<std::pair<int, int>> snrs = {{a.snr, b.snr}};
            for (std::size_t s = 0; s < a.nSigs; ++s)
                snrs.emplace_back(a.sigs[s].snr, b.sigs[s].snr);
            for (const auto &[before, now] : snrs) {
                if (before == 0) {
                    EXPECT_EQ(now, 0) << sat;
                } else if (row.jamDb > 0 && now == 0) {
                    EXPECT_LT(before - row.jamDb, kTrackFloor) << sat;
                } else if (row.jamDb > 0) {
                    EXPECT_EQ(now, before - row.jamDb) << sat;
                } else {
                    EXPECT_NEAR(now, 45, 1) << sat;
                }
            }
        }
        if (row.jamDb > 0) {
            EXPECT_EQ(FixSeconds(jf), FixSeconds(pf)) << at;
            ASSERT_EQ(j[i].rf.size(), p[i].rf.size()) << at;
            for (std::size_t b = 4; b + 24 <= p[i].rf.size(); b += 24) {
                const std::string &pr = p[i].rf, &jr = j[i].rf;
                EXPECT_EQ(Le(jr, b + 1, 1) & 3, 1) << "broadband jamming leaves the state ok";
                const auto field = [&](const std::string &rf, std::size_t off, int bytes) {
                    return static_cast<double>(Le(rf, b + off, bytes));
                };
                const double rfDb = row.bRfSees ? row.jamDb : 0.0;
                EXPECT_NEAR(field(jr, 16, 1) - field(pr, 16, 1), 5 * rfDb, 1) << at;
                EXPECT_NEAR(field(jr, 14, 2), std::max(0.0, field(pr, 14, 2) - 0.02 * 8191 * rfDb),
                            1)
                    << at;
            }
            continue;
        }
        EXPECT_EQ(FixSeconds(jf) - FixSeconds(pf), kSpoofAheadS) << at;
        EXPECT_EQ(jf.wSpeed, pf.wSpeed) << at;
        EXPECT_EQ(jf.nCourse, pf.nCourse) << at;
        const double north = (jf.lLatitude - pf.lLatitude) * 0.11132;
        const double east = (jf.lLongitude - pf.lLongitude) * 0.11132 *
                            std::cos(pf.lLatitude * 1e-6 * std::numbers::pi / 180);
        const double drift = kDriftMps * (t - row.start);
        EXPECT_NEAR(north, drift / std::sqrt(2.0), 1.0) << at;
        EXPECT_NEAR(east, drift / std::sqrt(2.0), 1.0) << at;
    }
    EXPECT_GT(inside, 0);
}

const InjectRow kInjectRows[] = {
    {"JamNmea", {}, {"--jam", "2,6,3"}, 2, 3, 6},
    {"JamTwoBandsLosesTheFix", {"--bands", "2"}, {"--jam", "1,25,2"}, 1, 2, 25},
    {"JamGpsOnlyFromAFraction", {"--gnss", "gps"}, {"--jam", "1.5,8,2"}, 1.5, 2, 8},
    {"JamUbx", {"--protocol", "ubx"}, {"--jam", "1,10,2"}, 1, 2, 10},
    {"JamUbxTwoBands", {"--protocol", "ubx", "--bands", "2"}, {"--jam", "1,40,3"}, 1, 3, 40},
    {"SpoofNmea", {}, {"--spoof", "1,2"}, 1, 2, 0},
    {"SpoofMtkToTheEnd", {"--chip", "mtk"}, {"--spoof", "2"}, 2, -1, 0},
    {"SpoofUbxTwoBands", {"--protocol", "ubx", "--bands", "2"}, {"--spoof", "1,3"}, 1, 3, 0},
    {"Cn0OffsetTwoBands", {"--bands", "2"}, {"--cn0-offset", "3"}, 0, -1, 3, false},
    {"Cn0OffsetUbxTwoBands",
     {"--protocol", "ubx", "--bands", "2"},
     {"--cn0-offset", "12"},
     0,
     -1,
     12,
     false},
};

INSTANTIATE_TEST_SUITE_P(Injections, Interference, ::testing::ValuesIn(kInjectRows),
                         [](const ::testing::TestParamInfo<InjectRow> &row) {
                             return std::string(row.param.name);
                         });

// The decode tool, its exit code, standard output and standard error.
struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

ToolRun RunDecodeTool(const std::string &args) {
    const std::string errPath = TempPath("decode-err.txt");
    const std::string cmd =
        "'" + BinaryDir() + "/tools/skywatch-decode' " + args + " 2>'" + errPath + "'";
    ToolRun r;
    FILE *pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr)
        return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errPath);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(errPath);
    return r;
}

// A receiver and its twin started beside it, which hears every signal twinDb weaker, compared by
// the decode tool: on every system and band the median difference is twinDb, and the twin hears
// no satellite the first does not; restarted together, each one's time to fix is the one the
// simulator itself reports. A twin that hears nothing, or one that is not there, is an error.
struct CompareRow {
    const char *name;
    std::vector<std::string> receiver;
    const char *twinDb; // nullptr: no twin, a device that does not exist
    std::string options;
    const char *restart; // "": none
    int exitCode;
};

void PrintTo(const CompareRow &row, std::ostream *os) {
    *os << row.name;
}

class Compare : public ::testing::TestWithParam<CompareRow> {};

TEST_P(Compare, MedianDifferenceIsTheTwinsLoss) {
    REQUIRE_SIM();
    const CompareRow &row = GetParam();
    CSimProcess a(row.receiver);
    std::vector<std::string> twinArgs = row.receiver;
    CSimProcess b;
    std::string twin = "/nonexistent/skywatch-twin";
    if (row.twinDb != nullptr) {
        twinArgs.insert(twinArgs.end(), {"--cn0-offset", row.twinDb});
        ASSERT_TRUE(b.Start(twinArgs)) << b.Errors();
        twin = b.SlavePath();
    }
    ASSERT_FALSE(a.SlavePath().empty()) << a.Errors();
    const ToolRun r = RunDecodeTool("--compare " + a.SlavePath() + " " + twin + " " + row.options);
    ASSERT_EQ(r.exitCode, row.exitCode) << r.err << r.out;
    if (row.twinDb == nullptr) {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find(twin), std::string::npos) << r.err;
        return;
    }
    const auto json = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << r.out;
    const double db = std::atof(row.twinDb);
    std::set<std::pair<std::string, std::string>> bands;
    std::set<std::string> compared;
    for (const auto &band : json.at("bands")) {
        const std::string name =
            band.at("gnss").get<std::string>() + " " + band.at("band").get<std::string>();
        bands.emplace(band.at("gnss"), band.at("band"));
        EXPECT_TRUE(band.at("onlyB").empty()) << name;
        // The twin may have lost every satellite of a weak band: then only the first heard them.
        if (band.at("satellites").get<int>() == 0) {
            EXPECT_TRUE(band.at("median_db").is_null()) << name;
            EXPECT_FALSE(band.at("onlyA").empty()) << name;
            continue;
        }
        compared.insert(band.at("gnss").get<std::string>());
        EXPECT_NEAR(band.at("median_db").get<double>(), db, 0.5) << name;
    }
    // Four systems on two bands each, every system compared on one band at least.
    EXPECT_EQ(bands.size(), 8u) << r.out;
    EXPECT_EQ(compared.size(), row.exitCode == 0 ? 4u : 0u) << r.out;
    if (row.exitCode != 0) {
        EXPECT_NE(r.err.find(twin), std::string::npos) << r.err;
    }
    if (*row.restart == '\0') {
        EXPECT_FALSE(json.contains("ttff")) << r.out;
        return;
    }
    ASSERT_TRUE(json.contains("ttff")) << r.out;
    EXPECT_EQ(json["ttff"].at("kind"), row.restart);
    const CSimProcess *sims[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        const auto &runs = json["ttff"].at(k == 0 ? "a" : "b").at("runs");
        ASSERT_EQ(runs.size(), 1u) << r.out;
        ASSERT_TRUE(runs[0].is_number()) << r.out << r.err;
        // The simulator's own figure, "fix after 3.02 s (warm start)".
        const std::string said = sims[k]->Errors();
        const std::size_t at = said.find("fix after ");
        ASSERT_NE(at, std::string::npos) << said;
        EXPECT_NEAR(runs[0].get<double>(), std::atof(said.c_str() + at + 10), 1.0) << said;
    }
}

const CompareRow kCompareRows[] = {
    {"NmeaTwoBands", {"--bands", "2"}, "3", "--seconds 4", "", 0},
    {"UbxTwoBandsWarmRace",
     {"--protocol", "ubx", "--bands", "2", "--fast"},
     "3",
     "--baud 38400 --send warm --seconds 6",
     "warm",
     0},
    {"TwinHearsNothing", {"--bands", "2"}, "40", "--seconds 3", "", 1},
    {"TwinMissing", {}, nullptr, "--seconds 1", "", 2},
};

INSTANTIATE_TEST_SUITE_P(TwoReceivers, Compare, ::testing::ValuesIn(kCompareRows),
                         [](const ::testing::TestParamInfo<CompareRow> &row) {
                             return std::string(row.param.name);
                         });

// RTCM 3 written to the port makes it an RTK rover. One run, its phases in turn: frames with a
// broken CRC alone change nothing; a base station's frames (a real feed, three a second) bring
// RTK float (GGA quality 5) a few seconds after the first, fixed (4) 10 s after that, with the
// corrections' age and the station in GGA fields 13 and 14 and NAV-PVT agreeing; once the frames
// stop it keeps the solution until their age passes 20 s, then falls back to its own fix. All in
// the receiver's seconds.
enum class RtcmFeed { None, BrokenCrc, Good };
struct RtkPhase {
    const char *what;
    RtcmFeed feed;
    int nQuality;        // GGA's quality the phase ends with
    double dFromS, dToS; // seconds after the phase began within which it comes
    double dMaxAgeS;     // the largest age field 13 may show meanwhile
};
const RtkPhase kRtkPhases[] = {
    {"broken CRCs change nothing", RtcmFeed::BrokenCrc, 1, 3.0, 3.0, 0.0},
    {"float within 10 s of the first good frame", RtcmFeed::Good, 5, 2.0, 11.0, 2.0},
    {"fixed 10 s after float", RtcmFeed::Good, 4, 8.5, 11.5, 2.0},
    {"own fix once the frames are 20 s old", RtcmFeed::None, 1, 19.0, 22.5, 20.0},
};

// One cycle of the rover: GGA's quality and fields 13 and 14, NAV-PVT's flags and flags3.
struct RoverCycle {
    int nQuality = -1;
    std::string age, station;
    long flags = -1, flags3 = -1, fixType = -1;
};

// The whole cycles (RMC to RMC) at the front of text, taken out of it.
std::vector<RoverCycle> TakeRoverCycles(std::string &text) {
    std::vector<RoverCycle> cycles;
    const std::size_t first = text.find("$GNRMC"), last = text.rfind("$GNRMC");
    if (first == std::string::npos || last == first)
        return cycles;
    const SplitStream split = Split(text.substr(first, last - first));
    text.erase(0, last);
    EXPECT_EQ(split.error, "");
    for (std::size_t at = split.nmea.find("$GNGGA,"); at != std::string::npos;
         at = split.nmea.find("$GNGGA,", at + 1)) {
        const std::string line = split.nmea.substr(at, split.nmea.find('*', at) - at);
        std::vector<std::string> f;
        for (std::size_t from = 0;;) {
            const std::size_t comma = line.find(',', from);
            f.push_back(line.substr(from, comma - from));
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        EXPECT_EQ(f.size(), 15u) << line;
        if (f.size() == 15)
            cycles.push_back({std::atoi(f[6].c_str()), f[13], f[14]});
    }
    std::size_t k = 0;
    for (const UbxFrame &frame : split.frames) {
        if (Key(frame) != kNavPvt || k >= cycles.size())
            continue;
        cycles[k].fixType = Le(frame.payload, 20, 1);
        cycles[k].flags = Le(frame.payload, 21, 1);
        cycles[k++].flags3 = Le(frame.payload, 78, 2);
    }
    EXPECT_EQ(k, cycles.size());
    return cycles;
}

TEST(Simulator, RtcmCorrectionsMakeAnRtkRover) {
    REQUIRE_SIM();
    // The frames of a real feed and the station they name.
    std::ifstream in(NmeaDir() + "/rtcm3.bndm.log", std::ios::binary);
    const std::string feed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(feed.empty());
    std::vector<std::string> frames;
    rtcm3::Tally tally;
    CNmeaDecoder scanner(0);
    NmeaHooks hooks;
    hooks.onFrame = [&](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
        if (protocol != FrameProtocol::Rtcm3)
            return;
        frames.emplace_back(reinterpret_cast<const char *>(frame), len);
        tally.Add(frame, len);
    };
    scanner.SetHooks(hooks);
    scanner.ParseBuffer(feed.data(), static_cast<int>(feed.size()));
    ASSERT_GE(frames.size(), 30u);
    ASSERT_EQ(tally.stations.size(), 1u);
    char station[8];
    std::snprintf(station, sizeof station, "%04d", *tally.stations.begin());

    // The rover's schedule in the receiver's seconds, on its faster clock.
    CSimProcess sim({"--protocol", "both", "--running", "--speed", std::to_string(kSimSpeed)});
    const auto receiverSecond = std::chrono::milliseconds(1000 / kSimSpeed);
    Reader reader(sim.SlavePath());
    ASSERT_TRUE(reader.IsOpen());
    std::string text;
    std::size_t next = 0;
    int quality = 1;
    for (const RtkPhase &phase : kRtkPhases) {
        SCOPED_TRACE(phase.what);
        const auto start = Steady::now();
        auto nextWrite = start;
        double reachedS = -1.0;
        double seconds = 0.0;
        while (reachedS < 0.0 && seconds < phase.dToS + 1.0) {
            if (phase.feed != RtcmFeed::None && Steady::now() >= nextWrite) {
                std::string burst;
                for (int i = 0; i < 3; ++i, ++next) {
                    std::string frame = frames[next % frames.size()];
                    if (phase.feed == RtcmFeed::BrokenCrc)
                        frame.back() = static_cast<char>(frame.back() ^ 0x5A);
                    burst += frame;
                }
                // Cut across two writes, as a caster's data arrives.
                reader.Write(burst.substr(0, burst.size() / 2));
                reader.Write(burst.substr(burst.size() / 2));
                nextWrite += receiverSecond;
            }
            ASSERT_TRUE(reader.ReadFor(100 / kSimSpeed, text));
            seconds = std::chrono::duration<double>(Steady::now() - start).count() * kSimSpeed;
            for (const RoverCycle &c : TakeRoverCycles(text)) {
                const bool bCorrected = c.nQuality == 4 || c.nQuality == 5;
                ASSERT_TRUE(c.nQuality == quality || c.nQuality == phase.nQuality)
                    << c.nQuality << " at " << seconds << " s";
                EXPECT_EQ(c.fixType, 3);
                // diffSoln, and carrSoln 1 with float, 2 with fixed.
                EXPECT_EQ((c.flags >> 1) & 1, bCorrected ? 1 : 0);
                EXPECT_EQ(c.flags >> 6, c.nQuality == 5 ? 1 : c.nQuality == 4 ? 2 : 0);
                const long ageCode = (c.flags3 >> 1) & 0xF;
                if (!bCorrected) {
                    EXPECT_EQ(c.age + "," + c.station, ",");
                    EXPECT_EQ(ageCode, 0);
                } else {
                    EXPECT_EQ(c.station, station);
                    ASSERT_EQ(c.age.size() - c.age.find('.'), 2u) << c.age; // one decimal
                    const double age = std::atof(c.age.c_str());
                    EXPECT_LE(age, phase.dMaxAgeS);
                    // lastCorrectionAge: 1 under 1 s .. 6 for 15-20 s.
                    EXPECT_GE(ageCode, age <= 1.0 ? 1 : 2) << c.age;
                    EXPECT_LE(ageCode, age < 2.0 ? 2 : 6) << c.age;
                }
                if (c.nQuality == phase.nQuality && phase.nQuality != quality && reachedS < 0.0)
                    reachedS = seconds;
            }
        }
        if (phase.nQuality == quality) {
            EXPECT_GE(seconds, phase.dToS);
        } else {
            EXPECT_GE(reachedS, phase.dFromS);
            EXPECT_LE(reachedS, phase.dToS);
        }
        quality = phase.nQuality;
    }
    EXPECT_NE(sim.Errors().find("ignored (bad CRC): RTCM 3 frame"), std::string::npos);
    EXPECT_NE(sim.Errors().find(std::string("RTCM 3 corrections from station ") +
                                std::to_string(*tally.stations.begin())),
              std::string::npos)
        << sim.Errors();
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
        {"--speed", "0"},
        {"--speed", "51"},
        {"--speed"},
        {"--bogus"},
        {"--replay", "/nonexistent/log.nmea"},
        {"--unplug-after", "-1"},
        {"--write", "5", "--write-from", "-1"},
        {"--write", "5", "--write-from", "99999999999"},
        {"--chip", "garmin"},
        {"--chip"},
        {"--gnss", "glonass"},
        {"--gnss"},
        {"--bands", "3"},
        {"--protocol", "binary"},
        {"--protocol"},
        {"--protocol", "ubx", "--chip", "sirf"},
        {"--protocol", "both", "--chip", "mtk"},
        {"--protocol", "ubx", "--gnss", "gps"},
        {"--protocol", "ubx", "--replay", "/dev/null"},
        {"--jam"},
        {"--jam", "1,6"},
        {"--jam", "-1,6,5"},
        {"--jam", "1,41,5"},
        {"--jam", "1,0,5"},
        {"--jam", "1,6,0"},
        {"--jam", "1,6,5x"},
        {"--jam", "1,6,5,2"},
        {"--jam", "a,6,5"},
        {"--spoof", ""},
        {"--spoof", "1,"},
        {"--spoof", "nan"},
        {"--spoof", "1,-2"},
        {"--spoof", "1", "--replay", "/dev/null"},
        {"--cn0-offset"},
        {"--cn0-offset", "-1"},
        {"--cn0-offset", "40.5"},
        {"--cn0-offset", "3dB"},
        {"--cn0-offset", "3", "--replay", "/dev/null"},
    };
    for (const auto &args : cases) {
        CSimProcess sim(args);
        EXPECT_EQ(sim.Wait(3000), 2) << args[0];
        const std::string err = sim.Errors();
        EXPECT_FALSE(err.empty()) << args[0];
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        EXPECT_TRUE(sim.SlavePath().empty());
        // A UBX request of another family's chip says what would do.
        if (args.size() > 2 && args[0] == "--protocol" && args[2] != "--replay") {
            EXPECT_NE(err.find("--chip ublox"), std::string::npos) << err;
        }
    }
}

} // namespace
