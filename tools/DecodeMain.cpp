// skywatch-decode: the window's scanner and decoders on a file or standard input.
#include "FixJson.h"
#include "GpsPort.h"
#include "PortTable.h"
#include "RestartCommands.h"
#include "SourceUrl.h"
#include "TimeZone.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: skywatch-decode [--block-size N] [--last] [--stats] [FILE|-]\n"
    "       skywatch-decode --device PATH|URL [--baud N] [--seconds S]"
    " [--send cold|warm|hot] [--last] [--stats]\n";

int Usage(const char *message) {
    std::fprintf(stderr, "skywatch-decode: %s\n%s", message, kUsage);
    return 2;
}

const CNmeaDecoder &DecoderOf(const CNmeaDecoder &decoder) {
    return decoder;
}
const CNmeaDecoder &DecoderOf(const CGpsPort &port) {
    return port.Decoder();
}

// The record the decoder holds now, as one JSON line; the port and the bare decoder alike.
template <typename Decoder> void PrintRecord(const Decoder &decoder) {
    GpsFix fix{};
    FixExtra extra;
    auto sky = std::make_unique<SkyView>();
    DecoderOf(decoder).CopyFix(fix, extra);
    decoder.CopySky(*sky);
    std::printf("%s\n", FixToJson(fix, *sky, extra).c_str());
}

bool ParseInt(const char *text, int &value) {
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc{} && result.ptr == end;
}

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
        std::fprintf(stderr, "skywatch-decode: %s not sent: %s\n", RestartName(kind), why.c_str());
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
        std::fprintf(stderr, "skywatch-decode: %s not sent: %s\n", RestartName(kind),
                     port.LastSendFailure().c_str());
        return 1;
    }
    port.Stopwatch().Start(kind, CFixStopwatch::Clock::now());
    std::fprintf(stderr, "skywatch-decode: sent %s, receiver %s\n", RestartName(kind),
                 FamilyName(port.Family()));
    return 0;
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
        const RestartKind kind = send == "cold"   ? RestartKind::Cold
                                 : send == "warm" ? RestartKind::Warm
                                                  : RestartKind::Hot;
        if (const int rc = SendRestart(port, kind); rc != 0)
            return rc;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::uint32_t decoded = 0;
    bool bTimed = send.empty();
    std::string warning;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (const std::string now = port.SourceWarning(); now != warning) {
            warning = now;
            if (!warning.empty())
                std::fprintf(stderr, "skywatch-decode: %s\n", warning.c_str());
        }
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--block-size") {
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
                "--send restarts it in its own language once it has named itself (asked\n"
                "after 3 s of silence about itself, SiRF when it answers none within 1 s)\n"
                "and reports the time to the fix; exit 1 when the restart cannot be sent.\n",
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
    std::vector<char> block(static_cast<std::size_t>(blockSize) + 1);
    std::uint32_t decoded = 0;
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, static_cast<std::size_t>(blockSize), in);
        if (n == 0)
            break;
        block[n] = '\0';
        if (lastOnly) {
            port.ParseBuffer(block.data(), static_cast<int>(n));
            continue;
        }
        // Feed the block a line at a time (a line ends at LF or CR) so that a record is printed
        // after every sentence.
        const char *p = block.data();
        const char *end = p + n;
        while (p < end) {
            const char *eol = std::find_if(p, end, [](char c) { return c == '\n' || c == '\r'; });
            const char *stop = eol != end ? eol + 1 : end;
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
    return 0;
}
