// skywatch-decode: the window's scanner and decoders on a file or standard input.
#include "FixJson.h"
#include "GpsPort.h"
#include "PortTable.h"
#include "RestartCommands.h"
#include "SourceUrl.h"
#include "TimeZone.h"
#include "TrackOptions.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: skywatch-decode [--block-size N] [--last] [--stats] [FILE|-]\n"
    "       skywatch-decode [--summary] [--reference LAT,LON[,ALT]] [--gpx OUT] [--csv OUT]"
    " [FILE|-]\n"
    "       skywatch-decode --device PATH|URL [--baud N] [--seconds S]"
    " [--send cold|warm|hot] [--last] [--stats]\n";

int Usage(const char *message) {
    std::fprintf(stderr, "skywatch-decode: %s\n%s", message, kUsage);
    return 2;
}

// The record the decoder holds now, as one JSON line; the port and the bare decoder alike.
template <typename Decoder> void PrintRecord(const Decoder &decoder) {
    GpsFix fix{};
    SkyView sky;
    decoder.CopyFix(fix);
    decoder.CopySky(sky);
    std::printf("%s\n", FixToJson(fix, sky).c_str());
}

bool ParseInt(const char *text, int &value) {
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc{} && result.ptr == end;
}

// Reads a live device through the port the window uses and prints the record whenever a
// sentence was decoded since the last look.
int RunLive(const std::string &device, int baud, int seconds, const std::string &send,
            bool lastOnly, bool stats) {
    constexpr int kLivePort = 1;
    platform::BindPort(kLivePort, device);
    CGpsPort port;
    if (!port.Open(kLivePort, baud)) {
        if (!port.LastOpenMessage().empty())
            std::fprintf(stderr, "skywatch-decode: %s\n", port.LastOpenMessage().c_str());
        else
            std::fprintf(stderr, "skywatch-decode: cannot open %s: %s\n",
                         port.LastOpenDevice().c_str(), std::strerror(port.LastOpenError()));
        return 2;
    }
    // A busy device read through gpsd instead: say so, the record is the same either way.
    if (port.IsNetworkSource() && !platform::LooksLikeUrl(device))
        std::fprintf(stderr, "skywatch-decode: %s\n", port.SourceDescription().c_str());
    if (!send.empty()) {
        // The restart goes out in the receiver's own language once it has named itself; a
        // receiver that says nothing about itself gets the SiRF form.
        const auto idBy = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (port.Family() == ReceiverFamily::Unknown && std::chrono::steady_clock::now() < idBy)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const RestartKind kind = send == "cold"   ? RestartKind::Cold
                                 : send == "warm" ? RestartKind::Warm
                                                  : RestartKind::Hot;
        const std::string command = ComposeRestart(port.Family(), kind);
        port.Send(command.data(), command.size());
        port.Stopwatch().Start(kind, CFixStopwatch::Clock::now());
        std::fprintf(stderr, "skywatch-decode: sent %s, receiver %s\n", RestartName(kind),
                     FamilyName(port.Family()));
        if (!port.LastSendFailure().empty())
            std::fprintf(stderr, "skywatch-decode: %s\n", port.LastSendFailure().c_str());
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::uint32_t decoded = 0;
    bool bTimed = send.empty();
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (const auto ttff = port.Stopwatch().Result(); ttff && !bTimed) {
            std::fprintf(stderr, "fix in %.1f s\n", *ttff);
            bTimed = true;
        } else if (port.Stopwatch().FixNeverLost() && !bTimed) {
            std::fprintf(stderr, "fix never lost: the receiver ignored the restart\n");
            bTimed = true;
        }
        const std::uint32_t now = port.CopyCounters().Decoded();
        if (now != decoded && !lastOnly) {
            decoded = now;
            PrintRecord(port);
            std::fflush(stdout);
        }
    }
    if (!bTimed)
        std::fprintf(stderr, "no fix within %d s\n", seconds);
    port.Close();
    if (lastOnly)
        PrintRecord(port);
    if (stats)
        std::fprintf(stderr, "%s\n", CountersToJson(port.CopyCounters()).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    int blockSize = 1024;
    bool lastOnly = false;
    bool stats = false;
    const char *path = nullptr;
    std::string device;
    std::string send;
    int baud = 4800;
    int seconds = 10;
    TrackOptions track;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (std::string error; ParseTrackOption(argc, argv, i, track, error)) {
            if (!error.empty())
                return Usage(error.c_str());
        } else if (arg == "--block-size") {
            if (i + 1 >= argc || !ParseInt(argv[++i], blockSize) || blockSize < 1 ||
                blockSize > 1 << 20)
                return Usage("--block-size takes a whole number from 1 to 1048576");
        } else if (arg == "--device") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Usage("--device takes a device path");
            device = argv[++i];
        } else if (arg == "--baud") {
            if (i + 1 >= argc || !ParseInt(argv[++i], baud))
                return Usage("--baud takes a whole number");
        } else if (arg == "--seconds") {
            if (i + 1 >= argc || !ParseInt(argv[++i], seconds) || seconds < 0)
                return Usage("--seconds takes a whole number of seconds");
        } else if (arg == "--send") {
            if (i + 1 >= argc)
                return Usage("--send takes cold, warm or hot");
            send = argv[++i];
            if (send != "cold" && send != "warm" && send != "hot")
                return Usage("--send takes cold, warm or hot");
        } else if (arg == "--last") {
            lastOnly = true;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--help" || arg == "-h") {
            std::printf(
                "%sDecodes NMEA 0183 (GGA, GSA, GSV, RMC) and prints the fix record as JSON.\n"
                "With --device, reads a live receiver for S seconds (10) at N baud"
                " (4800);\n"
                "the device may be gpsd://[HOST[:PORT]][/DEVICE], tcp://HOST:PORT or\n"
                "udp://[HOST]:PORT.\n"
                "--send restarts it in its own language once it has named itself (SiRF\n"
                "after 3 s of silence about itself) and reports the time to the fix.\n"
                "--summary prints the spread of the valid fixes (one per epoch) as JSON, about\n"
                "their mean or the --reference point; --gpx and --csv write those fixes.\n"
                "These three take the place of the record lines.\n",
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

    if (!device.empty()) {
        if (path != nullptr)
            return Usage("--device reads no file");
        if (track.Active() || track.reference)
            return Usage("--summary, --gpx and --csv read a file");
        return RunLive(device, baud, seconds, send, lastOnly, stats);
    }

    FILE *in = stdin;
    if (path != nullptr && std::strcmp(path, "-") != 0) {
        in = std::fopen(path, "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "skywatch-decode: cannot read %s: %s\n", path,
                         std::strerror(errno));
            return 2;
        }
    }

    CNmeaDecoder port(platform::StandardBiasSeconds());
    CFixTrack fixes;
    if (track.Active()) {
        lastOnly = false;
        NmeaHooks hooks;
        hooks.onSentence = [&fixes](const char *s, std::size_t n) { fixes.AddSentence(s, n); };
        port.SetHooks(std::move(hooks));
    }
    std::vector<char> block(static_cast<std::size_t>(blockSize) + 1);
    std::uint32_t decoded = 0;
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, static_cast<std::size_t>(blockSize), in);
        if (n == 0)
            break;
        block[n] = '\0';
        if (lastOnly || track.Active()) {
            port.ParseBuffer(block.data(), static_cast<int>(n));
            continue;
        }
        // Feed the block a line at a time so that a record is printed after every sentence.
        const char *p = block.data();
        const char *end = p + n;
        while (p < end) {
            const char *lf =
                static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char *stop = lf != nullptr ? lf + 1 : end;
            port.ParseBuffer(p, static_cast<int>(stop - p));
            p = stop;
            const std::uint32_t now = port.CopyCounters().Decoded();
            if (now != decoded) {
                decoded = now;
                PrintRecord(port);
            }
        }
    }
    // fclose may set errno itself, so the read's own error is kept first.
    const bool readError = std::ferror(in) != 0;
    const int readErrno = errno;
    if (in != stdin)
        std::fclose(in);
    if (readError) {
        std::fprintf(stderr, "skywatch-decode: cannot read %s: %s\n",
                     path ? path : "standard input", std::strerror(readErrno));
        return 2;
    }
    if (lastOnly)
        PrintRecord(port);
    if (stats)
        std::fprintf(stderr, "%s\n", CountersToJson(port.CopyCounters()).c_str());
    if (track.Active()) {
        fixes.Finish();
        return FinishTrack(fixes, track);
    }
    return 0;
}
