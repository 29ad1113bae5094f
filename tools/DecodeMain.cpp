// skywatch-decode: the window's scanner and decoders on a file or standard input.
#include "Compare.h"
#include "FixJson.h"
#include "GpsPort.h"
#include "LivePort.h"
#include "NtripSource.h"
#include "SetReceiver.h"
#include "TimeZone.h"
#include "TrackOptions.h"
#include "analysis/EpochTracker.h"
#include "analysis/FixTrack.h"
#include "analysis/IntegrityWatch.h"
#include "model/Geodesy.h"
#include "protocol/Rtcm3.h"
#include "protocol/UbxMessages.h"
#include "protocol/WholeNumber.h"
#include "receiver/ReceiverSettings.h"
#include "receiver/RestartCommands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

constexpr const char *kUsage =
    "usage: skywatch-decode [--block-size N] [--last | --every epoch] [--stats] [FILE|-]\n"
    "       skywatch-decode [--summary] [--reference LAT,LON[,ALT]] [--gpx OUT] [--csv OUT]"
    " [FILE|-]\n"
    "       skywatch-decode --device PATH|URL [--baud N] [--seconds S]"
    " [--send cold|warm|hot] [--last] [--stats]\n"
    "       skywatch-decode --device PATH|URL [--baud N] --send cold|warm|hot --repeat N"
    " [--seconds S] [--json]\n"
    "       skywatch-decode --compare A B [--baud N] [--seconds S]"
    " [--send cold|warm|hot [--repeat N]]\n"
    "       skywatch-decode --events [--stats] FILE|-\n"
    "       skywatch-decode --rtcm FILE|-\n"
    "       skywatch-decode --device PATH|URL --ntrip URL [--gga] [--gga-interval S] [--baud N]"
    " [--seconds S] [--last]\n"
    "       skywatch-decode --ntrip ntrip://HOST[:PORT]/ [--reference LAT,LON]\n"
    "       skywatch-decode --events --device PATH|URL [--baud N] [--seconds S] [--stats]\n"
    "       skywatch-decode --device PATH|URL [--baud N] --set rate=HZ|gnss=LIST|baud=N ..."
    " [--save]\n";

// The decoder's clock while a file is read, in lines fed.
std::int64_t g_linesFed = 0;
// Why standard output took no more, once it did not (a full disk, a closed pipe).
int g_outputErrno = 0;

void NoteOutput(int printed) {
    if (printed < 0 && g_outputErrno == 0)
        g_outputErrno = errno;
}

// True once standard output has failed; whatever follows would be lost too.
bool OutputFailed() {
    return std::ferror(stdout) != 0 || g_outputErrno != 0;
}

// Standard error, once what standard output holds has gone out: where the two share one pipe,
// each stays whole lines.
FILE *Err() {
    std::fflush(stdout);
    return stderr;
}

// Flushes standard output: records that never reached it are an error of their own (exit 1).
int FinishOutput(int rc) {
    if (std::fflush(stdout) != 0 && g_outputErrno == 0)
        g_outputErrno = errno;
    if (!OutputFailed())
        return rc;
    std::fprintf(Err(), "skywatch-decode: standard output: %s\n",
                 std::strerror(g_outputErrno != 0 ? g_outputErrno : EIO));
    return rc != 0 ? rc : 1;
}

int Usage(const char *message) {
    std::fprintf(Err(), "skywatch-decode: %s\n%s", message, kUsage);
    return 2;
}

const CNmeaDecoder &DecoderOf(const CNmeaDecoder &decoder) {
    return decoder;
}
const CNmeaDecoder &DecoderOf(const CGpsPort &port) {
    return port.Decoder();
}

CorrectionStatus CorrectionsOf(const CNmeaDecoder &) {
    return {};
}
CorrectionStatus CorrectionsOf(const CGpsPort &port) {
    return port.CopyCorrections();
}

void Write(std::string_view line) {
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size())
        NoteOutput(-1);
}

// Prints the record the decoder holds now as one JSON line, the port and the bare decoder alike.
// The satellite table goes with it when it reads differently from the one printed last (a
// reader keeps the last one it was given), or when whole is asked for.
class CRecordPrinter {
public:
    // tableMayDiffer: the table may read differently since the last look (CSkyTable::MayDiffer).
    template <typename Decoder>
    void Print(const Decoder &decoder, bool tableMayDiffer, bool whole) {
        GpsFix fix{};
        FixExtra extra;
        DecoderOf(decoder).CopyFix(fix, extra);
        bool withTable = whole;
        if (tableMayDiffer || whole || !m_shown) {
            decoder.CopySky(*m_view);
            m_table.Clear();
            AppendSkyJson(m_table, *m_view);
            if (!m_shown || m_table.View() != m_shownTable.View()) {
                std::swap(m_table, m_shownTable);
                m_shown = withTable = true;
            }
        }
        m_line.Clear();
        AppendFixJson(m_line, fix, extra, withTable ? m_shownTable.View() : std::string_view{});
        if (const std::string corrections = CorrectionsToJson(CorrectionsOf(decoder), fix, extra);
            !corrections.empty()) {
            m_line.Unwrite();
            m_line.Text(",\"corrections\":");
            m_line.Text(corrections);
            m_line.Char('}');
        }
        m_line.Char('\n');
        Write(m_line.View());
    }

private:
    std::unique_ptr<SkyView> m_view = std::make_unique<SkyView>();
    CJsonBuffer m_line, m_table, m_shownTable;
    bool m_shown = false;
};

// Waits until the receiver has named its family or until is reached; true once it has.
bool AwaitFamily(const CGpsPort &port, std::chrono::steady_clock::time_point until) {
    while (port.Family() == ReceiverFamily::Unknown && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return port.Family() != ReceiverFamily::Unknown;
}

// Sends the restart in the receiver's own language and starts timing it: 3 s for the stream to
// name the receiver, then one query per family and 1 s for an answer; a receiver that answers
// none gets the SiRF form. 0 once sent; 1, with the reason on stderr, when it could not go.
int SendRestart(CGpsPort &port, RestartKind kind) {
    std::string why;
    // gpsd names the device it serves just after the connection stands.
    const auto ready = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!port.CanSend(why) && std::chrono::steady_clock::now() < ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!port.CanSend(why)) {
        std::fprintf(Err(), "skywatch-decode: %s not sent: %s\n", RestartName(kind), why.c_str());
        return 1;
    }
    if (!AwaitFamily(port, std::chrono::steady_clock::now() + std::chrono::seconds(3))) {
        const std::string queries = ComposeFamilyQueries();
        port.Send(queries.data(), queries.size());
        AwaitFamily(port,
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(kFamilyQueryMs));
    }
    const std::string command = ComposeRestart(port.Family(), kind);
    port.Send(command.data(), command.size());
    if (!port.LastSendFailure().empty()) {
        std::fprintf(Err(), "skywatch-decode: %s not sent: %s\n", RestartName(kind),
                     port.LastSendFailure().c_str());
        return 1;
    }
    port.Stopwatch().Start(kind, CFixStopwatch::Clock::now());
    std::fprintf(Err(), "skywatch-decode: sent %s, receiver %s\n", RestartName(kind),
                 FamilyName(port.Family()));
    return 0;
}

// True when f writes to a regular file, which needs no flush per line.
bool WritesToFile(FILE *f) {
    struct stat st {};
    return ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

// What the decoder has read: sentences decoded and UBX frames taken, whatever their message.
std::uint32_t Reads(const ScanCounters &c) {
    return c.Decoded() + c.nUbx - c.nUbxSkipped;
}

// Reads a live device through the port the window uses and prints the record whenever a
// sentence or a UBX frame was read since the last look.
int RunLive(const std::string &device, int baud, int seconds, const std::string &send,
            bool lastOnly, bool stats, bool events, const std::optional<NtripOptions> &ntrip) {
    CGpsPort port;
    if (!OpenLivePort(port, device, baud))
        return 2;
    if (!send.empty()) {
        const RestartKind kind = send == "cold"   ? RestartKind::Cold
                                 : send == "warm" ? RestartKind::Warm
                                                  : RestartKind::Hot;
        if (const int rc = SendRestart(port, kind); rc != 0)
            return rc;
    }
    for (const std::string &problem : port.WatchProblems())
        std::fprintf(Err(), "skywatch-decode: %s\n", problem.c_str());
    if (ntrip)
        port.StartCorrections(*ntrip);
    std::string correctionState, notForwarded;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::uint64_t eventsSeen = 0;
    std::uint32_t decoded = 0;
    bool bTimed = send.empty();
    std::string warning;
    CRecordPrinter printer;
    // Another program may read the records live: each goes out as soon as it is decoded.
    const bool flushEach = !WritesToFile(stdout);
    for (auto t = std::chrono::steady_clock::now(); t < end; t = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - t);
        port.WaitForDecoded(decoded, std::min(left, std::chrono::milliseconds(100)));
        if (const std::string now = port.SourceWarning(); now != warning) {
            warning = now;
            if (!warning.empty())
                std::fprintf(Err(), "skywatch-decode: %s\n", warning.c_str());
        }
        if (ntrip) {
            // What the corrections do is told as it changes, never with the password.
            const CorrectionStatus c = port.CopyCorrections();
            // The seconds of a stall count up: it is said once, when it begins.
            const std::string kind =
                c.state.rfind("no corrections for ", 0) == 0 ? "stalled" : c.state;
            if (kind != correctionState) {
                correctionState = kind;
                std::fprintf(Err(), "skywatch-decode: corrections from %s: %s\n", c.url.c_str(),
                             c.state.c_str());
            }
            if (c.notForwarded != notForwarded) {
                notForwarded = c.notForwarded;
                if (!notForwarded.empty())
                    std::fprintf(Err(),
                                 "skywatch-decode: corrections not passed to the receiver: %s\n",
                                 notForwarded.c_str());
            }
        }
        if (const auto ttff = port.Stopwatch().Result(); ttff && !bTimed) {
            std::fprintf(Err(), "fix in %.1f s\n", *ttff);
            bTimed = true;
        } else if (port.Stopwatch().FixNeverLost() && !bTimed) {
            std::fprintf(Err(), "fix never lost: the receiver ignored the restart\n");
            bTimed = true;
        }
        if (events) {
            // The next wait is for data after what was read now.
            decoded = port.CopyCounters().Heard();
            for (const WatchEvent &event : port.WatchEventsSince(eventsSeen))
                NoteOutput(std::printf("%s\n", EventToJson(event).c_str()));
            if (flushEach && std::fflush(stdout) != 0)
                NoteOutput(-1);
            if (OutputFailed())
                break;
            continue;
        }
        const std::uint32_t now = Reads(port.CopyCounters());
        if (now != decoded && !lastOnly) {
            decoded = now;
            printer.Print(port, true, false);
            if (flushEach && std::fflush(stdout) != 0)
                NoteOutput(-1);
            if (OutputFailed())
                break;
        }
    }
    if (!bTimed)
        std::fprintf(Err(), "no fix within %d s\n", seconds);
    // The last record still says how the corrections stood.
    const CorrectionStatus corrections = port.CopyCorrections();
    if (lastOnly)
        printer.Print(port, true, true);
    port.StopCorrections();
    port.Close();
    if (events)
        for (const WatchEvent &event : port.WatchEventsSince(eventsSeen))
            NoteOutput(std::printf("%s\n", EventToJson(event).c_str()));
    if (stats)
        std::fprintf(Err(), "%s\n", CountersToJson(port.CopyCounters()).c_str());
    if (ntrip && corrections.frames == 0) {
        std::fprintf(Err(), "skywatch-decode: no corrections arrived from %s: %s\n",
                     corrections.url.c_str(), corrections.state.c_str());
        return 1;
    }
    return 0;
}

// The runs that got a fix: minimum, median, 95th percentile (nearest rank) and maximum.
struct RepeatSummary {
    std::size_t fixes = 0;
    double min = 0.0, median = 0.0, p95 = 0.0, max = 0.0;
};

RepeatSummary Summarise(const std::vector<std::optional<double>> &runs) {
    std::vector<double> t;
    for (const auto &run : runs)
        if (run)
            t.push_back(*run);
    RepeatSummary s;
    s.fixes = t.size();
    if (t.empty())
        return s;
    std::sort(t.begin(), t.end());
    const std::size_t n = t.size();
    s.min = t.front();
    s.max = t.back();
    s.median = n % 2 == 1 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2.0;
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    s.p95 = t[std::max<std::size_t>(rank, 1) - 1];
    return s;
}

std::string Tenths(std::optional<double> seconds) {
    if (!seconds)
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *seconds);
    return text;
}

void PrintRepeat(RestartKind kind, const std::vector<std::optional<double>> &runs, bool json) {
    const RepeatSummary s = Summarise(runs);
    const auto stat = [&](double v) { return s.fixes > 0 ? Tenths(v) : Tenths(std::nullopt); };
    const std::size_t failures = runs.size() - s.fixes;
    const std::string name = RestartName(kind);
    if (json) {
        std::string line = "{\"kind\": \"" + name.substr(0, name.find(' ')) + "\", \"runs\": [";
        for (std::size_t i = 0; i < runs.size(); ++i)
            line += (i > 0 ? ", " : "") + Tenths(runs[i]);
        line += "], \"min\": " + stat(s.min) + ", \"median\": " + stat(s.median) +
                ", \"p95\": " + stat(s.p95) + ", \"max\": " + stat(s.max) +
                ", \"failures\": " + std::to_string(failures) + "}";
        std::printf("%s\n", line.c_str());
        return;
    }
    std::printf("%-8s %s\n", "run", "seconds to fix");
    for (std::size_t i = 0; i < runs.size(); ++i)
        std::printf("%-8zu %s\n", i + 1, runs[i] ? Tenths(runs[i]).c_str() : "failed");
    std::printf("%-8s %s\n%-8s %s\n%-8s %s\n%-8s %s\n%-8s %zu of %zu\n", "min", stat(s.min).c_str(),
                "median", stat(s.median).c_str(), "p95", stat(s.p95).c_str(), "max",
                stat(s.max).c_str(), "failures", failures, runs.size());
}

bool HasFix(const CGpsPort &port) {
    GpsFix fix{};
    port.CopyFix(fix);
    return fix.bValid == 1;
}

// Waits until the receiver has held a fix for a few seconds; false when it had none by until.
bool WaitSettled(const CGpsPort &port, std::chrono::steady_clock::time_point until) {
    constexpr auto kSettle = std::chrono::seconds(3);
    std::optional<std::chrono::steady_clock::time_point> since;
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now()) {
        if (!HasFix(port))
            since.reset();
        else if (!since)
            since = now;
        else if (now - *since >= kSettle)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Restarts the receiver count times, each after it held its fix a few seconds, times each run
// to the fix (up to seconds) and prints the runs and their statistics.
int RunRepeat(const std::string &device, int baud, int seconds, RestartKind kind, int count,
              bool json) {
    CGpsPort port;
    if (!OpenLivePort(port, device, baud))
        return 2;
    const auto limit = std::chrono::seconds(seconds);
    std::vector<std::optional<double>> runs;
    for (int i = 1; i <= count; ++i) {
        if (!WaitSettled(port, std::chrono::steady_clock::now() + limit)) {
            if (i == 1) {
                std::fprintf(Err(), "skywatch-decode: no fix to restart from within %d s\n",
                             seconds);
                return 1;
            }
            std::fprintf(Err(), "run %d: no fix to restart from within %d s\n", i, seconds);
            runs.emplace_back();
            continue;
        }
        if (SendRestart(port, kind) != 0)
            return 1;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end && port.Stopwatch().Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        runs.push_back(port.Stopwatch().Result());
        if (runs.back())
            std::fprintf(Err(), "run %d: fix in %.1f s\n", i, *runs.back());
        else if (port.Stopwatch().FixNeverLost())
            std::fprintf(Err(), "run %d: fix never lost: the receiver ignored the restart\n", i);
        else
            std::fprintf(Err(), "run %d: no fix within %d s\n", i, seconds);
        port.Stopwatch().Cancel();
    }
    port.Close();
    PrintRepeat(kind, runs, json);
    return Summarise(runs).fixes > 0 ? 0 : 1;
}

// --rtcm: the RTCM 3 frames of a file as one JSON object: frames per message number, the stations
// named and the last base station position; sentences and UBX frames between them are counted.
int PrintRtcm(gzFile in, int blockSize) {
    CNmeaDecoder decoder(0);
    rtcm3::Tally tally;
    NmeaHooks hooks;
    hooks.onFrame = [&tally](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
        if (protocol == FrameProtocol::Rtcm3)
            tally.Add(frame, len);
    };
    decoder.SetHooks(std::move(hooks));
    std::vector<char> block(static_cast<std::size_t>(blockSize));
    int got = 0;
    while ((got = ::gzread(in, block.data(), static_cast<unsigned>(block.size()))) > 0)
        decoder.ParseBuffer(block.data(), got);
    if (got < 0)
        return 2;
    const ScanCounters c = decoder.CopyCounters();
    std::string out = "{\"frames\": " + std::to_string(tally.frames) +
                      ", \"badCrc\": " + std::to_string(c.nRtcmBad) + ", \"types\": {";
    const char *sep = "";
    for (const auto &[type, n] : tally.types) {
        out += sep + ("\"" + std::to_string(type) + "\": ") + std::to_string(n);
        sep = ", ";
    }
    out += "}, \"stations\": [";
    sep = "";
    for (const int id : tally.stations) {
        out += sep + std::to_string(id);
        sep = ", ";
    }
    out += "]";
    if (tally.hasBase) {
        const rtcm3::Station &b = tally.base;
        double lat = 0.0, lon = 0.0, h = 0.0;
        EcefToGeodetic(b.x, b.y, b.z, lat, lon, h);
        char text[256];
        std::snprintf(text, sizeof text,
                      ", \"base\": {\"station\": %d, \"ecef_m\": [%.4f, %.4f, %.4f], "
                      "\"lat\": %.9f, \"lon\": %.9f, \"h_m\": %.4f",
                      b.id, b.x, b.y, b.z, lat, lon, h);
        out += text;
        if (b.hasHeight) {
            std::snprintf(text, sizeof text, ", \"antenna_m\": %.4f", b.heightM);
            out += text;
        }
        out += "}";
    }
    out += ", \"skipped\": {\"nmea\": " + std::to_string(c.NmeaGood()) +
           ", \"ubx\": " + std::to_string(c.nUbx) + "}}";
    NoteOutput(std::printf("%s\n", out.c_str()));
    return 0;
}

// A caster's source table, one JSON line per mount point; nearest first from reference when
// given. 1 with the reason when the caster gives none.
int PrintSourceTable(const platform::ntrip::NtripUrl &url,
                     const std::optional<GeoPoint> &reference) {
    std::string why;
    auto entries = platform::CNtripSource::FetchSourceTable(url, 10000, why);
    if (entries.empty()) {
        std::fprintf(Err(), "skywatch-decode: %s: %s\n", platform::ntrip::MaskedUrl(url).c_str(),
                     why.c_str());
        return 1;
    }
    if (reference)
        platform::ntrip::SortByDistance(entries, reference->lat, reference->lon);
    for (const auto &e : entries)
        NoteOutput(std::printf("%s\n", SourceEntryToJson(e).c_str()));
    return 0;
}

int Run(int argc, char **argv) {
    int blockSize = 1024;
    bool lastOnly = false;
    bool everyEpoch = false;
    bool stats = false;
    const char *path = nullptr;
    std::string device;
    std::string send;
    int baud = 4800;
    int seconds = 10;
    bool secondsSet = false;
    int repeat = 0;
    bool json = false;
    bool events = false;
    bool rtcm = false;
    std::optional<NtripOptions> ntrip;
    bool gga = false;
    int ggaInterval = 0;
    TrackOptions track;
    std::vector<Setting> settings;
    bool save = false;
    CompareOptions compare;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (std::string error; ParseTrackOption(argc, argv, i, track, error)) {
            if (!error.empty())
                return Usage(error.c_str());
        } else if (arg == "--block-size") {
            if (i + 1 >= argc || !ParseWholeNumber(argv[++i], blockSize) || blockSize < 1 ||
                blockSize > 1 << 20)
                return Usage("--block-size takes a whole number from 1 to 1048576");
        } else if (arg == "--device") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Usage("--device takes a device path");
            device = argv[++i];
        } else if (arg == "--compare") {
            if (i + 2 >= argc || argv[i + 1][0] == '\0' || argv[i + 2][0] == '\0')
                return Usage("--compare takes two devices or addresses");
            compare.a = argv[++i];
            compare.b = argv[++i];
        } else if (arg == "--baud") {
            if (i + 1 >= argc || !ParseWholeNumber(argv[++i], baud))
                return Usage("--baud takes a whole number");
        } else if (arg == "--seconds") {
            if (i + 1 >= argc || !ParseWholeNumber(argv[++i], seconds) || seconds < 0)
                return Usage("--seconds takes a whole number of seconds");
            secondsSet = true;
        } else if (arg == "--repeat") {
            if (i + 1 >= argc || !ParseWholeNumber(argv[++i], repeat) || repeat < 1 ||
                repeat > 10000)
                return Usage("--repeat takes a number of restarts from 1 to 10000");
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--send") {
            if (i + 1 >= argc)
                return Usage("--send takes cold, warm or hot");
            send = argv[++i];
            if (send != "cold" && send != "warm" && send != "hot")
                return Usage("--send takes cold, warm or hot");
        } else if (arg == "--rtcm") {
            rtcm = true;
        } else if (arg == "--ntrip") {
            NtripOptions options;
            std::string why;
            if (i + 1 >= argc)
                return Usage("--ntrip takes ntrip://[USER[:PASSWORD]@]HOST[:PORT]/MOUNTPOINT");
            if (!platform::ntrip::ParseNtripUrl(argv[++i], options.url, why))
                return Usage(("--ntrip: " + why).c_str());
            ntrip = options;
        } else if (arg == "--gga") {
            gga = true;
        } else if (arg == "--gga-interval") {
            if (i + 1 >= argc || !ParseWholeNumber(argv[++i], ggaInterval) || ggaInterval < 1 ||
                ggaInterval > 3600)
                return Usage("--gga-interval takes a whole number of seconds from 1 to 3600");
        } else if (arg == "--set") {
            Setting setting;
            std::string why;
            if (i + 1 >= argc)
                return Usage("--set takes rate=HZ, gnss=GPS,GLO,GAL,BDS,QZSS,SBAS or baud=N");
            if (!ParseSetting(argv[++i], setting, why) || setting.kind == SettingKind::Save)
                return Usage(("--set: " + (why.empty() ? "save is its own option" : why)).c_str());
            settings.push_back(setting);
        } else if (arg == "--save") {
            save = true;
        } else if (arg == "--events") {
            events = true;
        } else if (arg == "--every") {
            if (i + 1 >= argc || std::strcmp(argv[++i], "epoch") != 0)
                return Usage("--every takes epoch");
            everyEpoch = true;
        } else if (arg == "--last") {
            lastOnly = true;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--help" || arg == "-h") {
            std::printf(
                "%sDecodes NMEA 0183 (GGA, GSA, GSV, RMC, GNS) and u-blox binary (UBX), plain\n"
                "or gzip, and prints the fix record as JSON after every sentence and message\n"
                "read; RTCM 3 frames are counted (--stats). A record carries the satellite\n"
                "table (\"sky\" to \"systems\") only when it differs from the one printed\n"
                "before; --last prints the last record whole. --every epoch prints a record\n"
                "per receiver epoch, as the epoch left it. A file without one good sentence\n"
                "or frame is an error (exit 2).\n"
                "With --device, reads a live receiver for S seconds (10) at N baud"
                " (4800);\n"
                "the device may be gpsd://[HOST[:PORT]][/DEVICE], tcp://HOST:PORT or\n"
                "udp://[HOST]:PORT.\n"
                "--send restarts it in its own language once it has named itself (asked\n"
                "after 3 s of silence about itself, SiRF when it answers none within 1 s)\n"
                "and reports the time to the fix; exit 1 when the restart cannot be sent.\n"
                "--repeat restarts it N times, each once it has held a fix for 3 s, waits up\n"
                "to S seconds (300) for each fix and prints each run's time, the minimum,\n"
                "median, 95th percentile and maximum and the failures (--json: one line).\n"
                "--compare A B reads two receivers at once (each as --device takes it) for S\n"
                "seconds and prints one JSON object: per system and band, the median over the\n"
                "satellites both heard of A's C/N0 minus B's (each averaged over the run), their\n"
                "number, and the satellites only A or only B heard. With --send both are\n"
                "restarted at once and each one's time to fix is given; --repeat N races them\n"
                "N times (S: 300 for each fix) and gives each run's times and their medians.\n"
                "Exit 1 when no satellite was heard by both, or one never had a fix.\n"
                "--summary prints the spread of the valid fixes (one per epoch) as JSON, about\n"
                "their mean or the --reference point; --gpx and --csv write those fixes.\n"
                "These three take the place of the record lines.\n"
                "--events prints, in place of the records, a JSON line when signs of jamming\n"
                "or spoofing start and when they end (nothing when there are none); the\n"
                "thresholds are the shipped ones and those of\n"
                "$XDG_CONFIG_HOME/skywatch/integrity.conf. A live receiver's usual signal is\n"
                "learnt and kept in $XDG_STATE_HOME/skywatch; a file's is not.\n"
                "--rtcm prints a file's RTCM 3 frames as one JSON object: frames per message\n"
                "number, frames with a bad CRC, the stations named and the last base station\n"
                "position (1005/1006); sentences and UBX frames are skipped and counted.\n"
                "--ntrip ntrip://[USER[:PASSWORD]@]HOST[:PORT]/MOUNTPOINT fetches corrections\n"
                "from an NTRIP caster (port 2101 by default) and writes each RTCM 3 frame\n"
                "whose CRC holds to the receiver while it reads; each record gains\n"
                "\"corrections\". --gga sends the receiver's position to the caster every\n"
                "10 s (--gga-interval), as it is sent anyway when the caster's source table\n"
                "asks for it.\n"
                "Exit 1 when no corrections arrived. Without --device and a mount point\n"
                "(ntrip://HOST[:PORT]/) it prints the caster's source table, a JSON line per\n"
                "mount point, nearest first from --reference LAT,LON when given.\n"
                "--set rate=HZ, --set gnss=GPS,GLO,GAL,BDS,QZSS,SBAS and --set baud=N change\n"
                "the receiver's settings in its own language, in the order given, and check\n"
                "each against what it then does (the epochs a second, the systems in view,\n"
                "the stream at the new speed, which the port follows); --save then keeps them\n"
                "over a power cycle. One JSON line each: setting, value, result (confirmed,\n"
                "nak, no answer, not supported, refused) and detail; exit 1 unless every one\n"
                "is confirmed.\n",
                kUsage);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (path != nullptr) {
            return Usage("more than one file");
        } else {
            path = argv[i];
        }
    }

    if (json && repeat == 0)
        return Usage("--json goes with --repeat");
    if (!compare.a.empty()) {
        if (!device.empty() || path != nullptr || rtcm || events || lastOnly || everyEpoch ||
            stats || ntrip || track.Active() || track.reference || !settings.empty() || save)
            return Usage("--compare goes with --baud, --seconds, --send and --repeat only");
        if (repeat > 0 && send.empty())
            return Usage("--repeat needs --send cold, warm or hot");
        compare.baud = baud;
        compare.seconds = secondsSet ? seconds : repeat > 0 ? 300 : 10;
        compare.send = send;
        compare.repeat = repeat;
        return RunCompare(compare, {SendRestart, WaitSettled});
    }
    if (ntrip && ntrip->url.mount.empty()) {
        if (!device.empty() || path != nullptr || repeat > 0)
            return Usage("--ntrip needs a mount point to pass corrections: "
                         "ntrip://HOST[:PORT]/MOUNTPOINT");
        return PrintSourceTable(ntrip->url, track.reference);
    }
    if (ntrip && (device.empty() || repeat > 0))
        return Usage("--ntrip passes corrections to a receiver: it goes with --device");
    if ((gga || ggaInterval > 0) && !ntrip)
        return Usage("--gga and --gga-interval go with --ntrip");
    if (ntrip) {
        ntrip->ggaUpload = gga;
        if (ggaInterval > 0)
            ntrip->ggaIntervalS = ggaInterval;
    }
    if (rtcm && (events || lastOnly || stats || repeat > 0 || !send.empty() || !device.empty() ||
                 track.Active() || track.reference))
        return Usage("--rtcm reads a file and goes with --block-size only");
    if (events && (lastOnly || repeat > 0 || !send.empty() || track.Active() || track.reference))
        return Usage(
            "--events goes with --device, --baud, --seconds, --stats and --block-size only");
    if (repeat > 0 && device.empty())
        return Usage("--repeat needs --device");
    if (everyEpoch && (!device.empty() || lastOnly || events || rtcm || track.Active()))
        return Usage("--every epoch reads a file and goes with --stats and --block-size only");
    if (!settings.empty() || save) {
        if (device.empty() || path != nullptr)
            return Usage("--set and --save change a live receiver: they go with --device");
        if (repeat > 0 || !send.empty() || ntrip || events || lastOnly || stats || secondsSet ||
            track.Active() || track.reference)
            return Usage("--set and --save go with --device and --baud only");
        return RunSettings(device, baud, settings, save);
    }
    if (!device.empty()) {
        if (path != nullptr)
            return Usage("--device reads no file");
        if (track.Active() || track.reference)
            return Usage("--summary, --gpx and --csv read a file");
        if (repeat > 0) {
            if (send.empty())
                return Usage("--repeat needs --send cold, warm or hot");
            const RestartKind kind = send == "cold"   ? RestartKind::Cold
                                     : send == "warm" ? RestartKind::Warm
                                                      : RestartKind::Hot;
            return RunRepeat(device, baud, secondsSet ? seconds : 300, kind, repeat, json);
        }
        return RunLive(device, baud, seconds, send, lastOnly, stats, events, ntrip);
    }

    // Nothing is read or written while an export would land on the input or on another export.
    if (const std::string clash = OutputClash(track, path); !clash.empty()) {
        std::fprintf(Err(), "skywatch-decode: %s\n", clash.c_str());
        return 2;
    }
    // zlib reads a gzip file and passes any other through as it is.
    const bool fromStdin = path == nullptr || std::strcmp(path, "-") == 0;
    const char *inName = fromStdin ? "standard input" : path;
    const int fd = fromStdin ? ::dup(0) : ::open(path, O_RDONLY | O_CLOEXEC);
    const int openErrno = errno;
    gzFile in = fd >= 0 ? ::gzdopen(fd, "rb") : nullptr;
    if (in == nullptr) {
        const std::string why = std::strerror(fd >= 0 ? ENOMEM : openErrno);
        if (fd >= 0)
            ::close(fd);
        std::fprintf(Err(), "skywatch-decode: cannot read %s: %s\n", inName, why.c_str());
        return 2;
    }
    // Why the input could not be read to its end; zlib's words for a broken gzip file.
    int readErrno = 0;
    const auto readError = [&in, &readErrno] {
        int code = Z_OK;
        const char *text = ::gzerror(in, &code);
        return code == Z_ERRNO ? std::string(std::strerror(readErrno)) : std::string(text);
    };

    if (rtcm) {
        const int rc = PrintRtcm(in, blockSize);
        readErrno = errno;
        if (rc != 0)
            std::fprintf(Err(), "skywatch-decode: cannot read %s: %s\n", inName,
                         readError().c_str());
        ::gzclose(in);
        return rc;
    }
    // A file's records go out in large writes; a terminal still sees them line by line.
    static char outBuffer[1 << 16];
    if (::isatty(1) == 0)
        std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    CNmeaDecoder port(platform::StandardBiasSeconds());
    // A file is read at the pace of the disk, not of the receiver: the table's "when heard" is
    // a count of the lines fed, so the same file always gives the same records.
    port.SetClock([] { return g_linesFed; });
    CFixTrack fixes;
    CTrackSummary summary;
    // With no export to write, the summary's figures are all a fix is kept for.
    const bool summaryOnly = track.summary && track.gpxPath.empty() && track.csvPath.empty();
    CRecordPrinter printer;
    // The table's copy last printed or compared: it is copied again only when it may differ.
    CSkyTable::Stamp table;
    // --events and --every epoch: the epochs as the port tells them.
    CEpochTracker epochs;
    const bool tracksEpochs = events || everyEpoch;
    if (track.Active() || events)
        lastOnly = false;
    // UBX frames of the messages the decoder reads; one that it then finds too short or of an
    // unknown version is counted skipped.
    std::uint32_t ubxKnown = 0;
    // --every epoch: the record as the epoch left it, before the message that ended it is read.
    const auto epochEnd = [&] {
        if (everyEpoch && epochs.BlockDone())
            printer.Print(port, port.SkyMayDiffer(table), false);
    };
    NmeaHooks hooks;
    hooks.onSentence = [&](const char *s, std::size_t n) {
        if (track.Active())
            fixes.AddSentence(s, n);
        if (tracksEpochs)
            epochs.OnSentence(s, n);
        epochEnd();
    };
    hooks.onFrame = [&](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
        if (protocol == FrameProtocol::Ubx) {
            const ubx::Msg msg = ubx::Identify(frame[2], frame[3]);
            if (msg != ubx::Msg::Unknown)
                ++ubxKnown;
        }
        if (tracksEpochs)
            epochs.OnFrame(protocol, frame, len);
        epochEnd();
    };
    if (track.Active())
        hooks.onNavReport = [&](const NavReport &report) { fixes.AddReport(report); };
    port.SetHooks(std::move(hooks));
    // --events: each epoch to the watch; a file keeps no baseline.
    std::vector<std::string> problems;
    const WatchThresholds thresholds = LoadThresholds(problems);
    for (const std::string &problem : problems)
        std::fprintf(Err(), "skywatch-decode: %s\n", problem.c_str());
    CIntegrityWatch watch(thresholds);
    auto sky = std::make_unique<SkyView>();
    Integrity integrity;
    const auto watchEpoch = [&] {
        watch.OnEpoch(EpochOf(port, *sky, integrity, -1));
        for (const WatchEvent &event : watch.TakeEvents())
            NoteOutput(std::printf("%s\n", EventToJson(event).c_str()));
    };

    std::uint32_t printed = 0;
    bool lineEnded = true;
    // The bytes go to the decoder in pieces that hold at most one sentence's or frame's end and
    // no line's end but at their last byte: a record follows every sentence and every message
    // read (UBX frames come back to back, without line ends), where a read ends changes nothing,
    // and the clock ticks at each line, a line ending at LF or CR.
    const auto feed = [&](const char *piece, std::size_t n) {
        if (n == 0)
            return;
        if (lineEnded)
            ++g_linesFed;
        lineEnded = piece[n - 1] == '\n' || piece[n - 1] == '\r';
        port.ParseBuffer(piece, static_cast<int>(n));
        if (summaryOnly && fixes.Fixes().size() >= 4096)
            for (const TrackFix &fix : fixes.TakeFixes())
                summary.Add(fix);
        if (events) {
            if (epochs.BlockDone())
                watchEpoch();
            return;
        }
        if (lastOnly || track.Active() || everyEpoch)
            return;
        const ScanCounters c = port.CopyCounters();
        const std::uint32_t now = c.Decoded() + ubxKnown - c.nUbxSkipped;
        if (now != printed) {
            printed = now;
            printer.Print(port, port.SkyMayDiffer(table), false);
        }
    };
    // A frame ends where its header says: UBX "B5 62", class, id, a 16-bit length, the payload
    // and two checksum bytes; RTCM 3 "D3", six zero bits, a 10-bit length, the payload and a
    // 24-bit CRC. Every place a frame could end is a piece's end, whether the frame holds or not.
    constexpr std::size_t kHeader = 6;
    std::vector<char> buf(static_cast<std::size_t>(blockSize) + kHeader);
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> frameEnds;
    std::uint64_t base = 0; // the stream's offset of buf[0]
    std::size_t have = 0;
    bool eof = false, failed = false;
    while (!eof && !OutputFailed()) {
        const int n = ::gzread(in, buf.data() + have, static_cast<unsigned>(blockSize));
        failed = n < 0;
        if (failed)
            readErrno = errno;
        eof = n <= 0;
        // A gzip file cut short ends without an error of its own: zlib tells it apart.
        if (n == 0) {
            int code = Z_OK;
            ::gzerror(in, &code);
            failed = code != Z_OK;
        }
        have += static_cast<std::size_t>(std::max(n, 0));
        // A header cut by the end of the read waits for the next one.
        const std::size_t scan = eof ? have : have > kHeader ? have - kHeader : 0;
        const auto *b = reinterpret_cast<const unsigned char *>(buf.data());
        std::size_t start = 0;
        for (std::size_t i = 0; i < scan; ++i) {
            if (b[i] == 0xB5 && i + 5 < have && b[i + 1] == 0x62)
                frameEnds.push(base + i + 8 + (b[i + 4] | std::size_t{b[i + 5]} << 8) - 1);
            else if (b[i] == 0xD3 && i + 2 < have && (b[i + 1] & 0xFC) == 0)
                frameEnds.push(base + i + 6 + ((b[i + 1] & 3u) << 8 | b[i + 2]) - 1);
            bool end = b[i] == '\n' || b[i] == '\r';
            for (; !frameEnds.empty() && frameEnds.top() <= base + i; frameEnds.pop())
                end = end || frameEnds.top() == base + i;
            if (end) {
                feed(buf.data() + start, i + 1 - start);
                start = i + 1;
            }
        }
        feed(buf.data() + start, scan - start);
        std::memmove(buf.data(), buf.data() + scan, have - scan);
        have -= scan;
        base += scan;
    }
    const std::string why = failed ? readError() : std::string();
    ::gzclose(in);
    if (failed) {
        std::fprintf(Err(), "skywatch-decode: cannot read %s: %s\n", inName, why.c_str());
        return 2;
    }
    // Bytes that hold no sentence and no frame whose checksum holds are no receiver's stream.
    const ScanCounters counted = port.CopyCounters();
    if (counted.NmeaGood() + counted.nUbx + counted.nRtcm == 0) {
        std::fprintf(Err(),
                     "skywatch-decode: %s holds no NMEA sentence, UBX or RTCM 3 frame; give a "
                     "receiver's recording (plain or gzip)\n",
                     inName);
        return 2;
    }
    if (events) {
        if (epochs.Quiet())
            watchEpoch();
    } else if (everyEpoch) {
        if (epochs.Quiet())
            printer.Print(port, port.SkyMayDiffer(table), false);
    } else if (lastOnly) {
        printer.Print(port, true, true);
    }
    if (stats)
        std::fprintf(Err(), "%s\n", CountersToJson(port.CopyCounters()).c_str());
    if (track.Active()) {
        fixes.Finish();
        for (const TrackFix &fix : summaryOnly ? fixes.TakeFixes() : fixes.Fixes())
            summary.Add(fix);
        return FinishTrack(fixes, summary, track);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    // A write past the file size limit must fail with EFBIG and leave no temporary behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return FinishOutput(Run(argc, argv));
}
