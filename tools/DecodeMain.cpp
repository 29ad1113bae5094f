// skywatch-decode: the window's scanner and decoders on a file or standard input.
#include "FixJson.h"
#include "GpsPort.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage(const char* message)
{
    std::fprintf(stderr, "skywatch-decode: %s\n", message);
    std::fprintf(stderr, "usage: skywatch-decode [--block-size N] [--last] [--stats] [FILE|-]\n");
    return 2;
}

bool ParseInt(const char* text, int& value)
{
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc{} && result.ptr == end;
}

} // namespace

int main(int argc, char** argv)
{
    int blockSize = 1024;
    bool lastOnly = false;
    bool stats = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--block-size") {
            if (i + 1 >= argc || !ParseInt(argv[++i], blockSize) || blockSize < 1 ||
                blockSize > 1 << 20)
                return Usage("--block-size takes a whole number from 1 to 1048576");
        } else if (arg == "--last") {
            lastOnly = true;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--help" || arg == "-h") {
            std::printf("usage: skywatch-decode [--block-size N] [--last] [--stats] [FILE|-]\n"
                        "Decodes NMEA 0183 (GGA, GSA, GSV, RMC) and prints the fix record as JSON.\n");
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (path != nullptr) {
            return Usage("more than one file");
        } else {
            path = argv[i];
        }
    }

    FILE* in = stdin;
    if (path != nullptr && std::strcmp(path, "-") != 0) {
        in = std::fopen(path, "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "skywatch-decode: cannot read %s: %s\n", path,
                         std::strerror(errno));
            return 2;
        }
    }

    CGpsPort port;
    std::vector<char> block(static_cast<std::size_t>(blockSize) + 1);
    GpsFix fix{};
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
        // Feed the block a line at a time so that a record is printed after every sentence.
        const char* p = block.data();
        const char* end = p + n;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* stop = lf != nullptr ? lf + 1 : end;
            port.ParseBuffer(p, static_cast<int>(stop - p));
            p = stop;
            const std::uint32_t now = port.CopyCounters().Decoded();
            if (now != decoded) {
                decoded = now;
                port.CopyFix(fix);
                std::printf("%s\n", FixToJson(fix).c_str());
            }
        }
    }
    const bool readError = std::ferror(in) != 0;
    if (in != stdin)
        std::fclose(in);
    if (readError) {
        std::fprintf(stderr, "skywatch-decode: cannot read %s: %s\n", path ? path : "standard input",
                     std::strerror(errno));
        return 2;
    }
    if (lastOnly) {
        port.CopyFix(fix);
        std::printf("%s\n", FixToJson(fix).c_str());
    }
    if (stats)
        std::fprintf(stderr, "%s\n", CountersToJson(port.CopyCounters()).c_str());
    return 0;
}
