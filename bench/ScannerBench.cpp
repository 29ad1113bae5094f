// Scanner throughput over real receiver traffic, fed in the 1024-byte blocks the reader uses:
// the bare decoder, and the port's reader path with every hook the port installs.
// The reader's path ran at about half the bare decoder's speed: each epoch's end (the sky copied,
// the watch's look at every satellite, the history's sample) a quarter of it, the histories and
// the console's lines a sixth, which is why a fleet's ports keep no history.
#include "GpsPort.h"
#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMinBytes = 1u << 20;
constexpr std::size_t kBlock = 1024;

std::string ReadAll(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Which captures a pass reads.
enum class Corpus { All, MultiConstellation, GpsOnly };

// A capture is GPS-only when every standard sentence in it has the GP talker.
bool IsGpsOnly(const std::string &bytes) {
    for (std::size_t at = bytes.find('$'); at != std::string::npos; at = bytes.find('$', at + 1)) {
        if (at + 3 > bytes.size())
            break;
        const char a = bytes[at + 1], b = bytes[at + 2];
        if (a != 'P' && a >= 'A' && a <= 'Z' && !(a == 'G' && b == 'P'))
            return false;
    }
    return true;
}

// Every capture of the corpus once, in name order, then repeated until there is at least a
// megabyte.
std::string LoadTraffic(Corpus corpus) {
    std::string once;
    const std::filesystem::path dir(SKYWATCH_NMEA_DIR);
    if (std::filesystem::is_directory(dir)) {
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            const auto ext = entry.path().extension();
            if (entry.is_regular_file() && (ext == ".log" || ext == ".nmea"))
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto &f : files) {
            const std::string bytes = ReadAll(f);
            if (corpus == Corpus::All || (corpus == Corpus::GpsOnly) == IsGpsOnly(bytes))
                once += bytes;
        }
    }
    if (once.empty() && corpus == Corpus::All) {
        std::fprintf(stderr, "captures not found in %s; using res/sample.nmea\n",
                     SKYWATCH_NMEA_DIR);
        once = ReadAll(std::filesystem::path(SKYWATCH_SOURCE_DIR) / "res" / "sample.nmea");
    }
    if (once.empty())
        return once;
    std::string traffic;
    while (traffic.size() < kMinBytes)
        traffic += once;
    return traffic;
}

const std::string &Traffic(Corpus corpus) {
    static const std::string traffic[] = {LoadTraffic(Corpus::All),
                                          LoadTraffic(Corpus::MultiConstellation),
                                          LoadTraffic(Corpus::GpsOnly)};
    return traffic[static_cast<int>(corpus)];
}

// Feeds the traffic in reader-sized blocks to decoder (a CNmeaDecoder, or a CGpsPort whose
// DecodeBlock is what its reader thread does with each block it read).
template <typename Decoder, typename FeedBlock>
void Run(benchmark::State &state, Corpus corpus, Decoder &decoder, FeedBlock feed) {
    const std::string &traffic = Traffic(corpus);
    if (traffic.empty()) {
        state.SkipWithError("no NMEA traffic to scan: neither the captures nor res/sample.nmea");
        return;
    }
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < traffic.size(); pos += kBlock)
            feed(traffic.data() + pos, std::min(kBlock, traffic.size() - pos));
        GpsFix fix;
        decoder.CopyFix(fix);
        benchmark::DoNotOptimize(fix);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(traffic.size()));
    // Sentences decoded per pass, to show the traffic is real NMEA and not skipped garbage.
    state.counters["decoded"] = static_cast<double>(decoder.CopyCounters().Decoded()) /
                                static_cast<double>(state.iterations());
}

void Parse(benchmark::State &state, Corpus corpus) {
    CNmeaDecoder decoder(0);
    Run(state, corpus, decoder,
        [&](const char *block, std::size_t n) { decoder.ParseBuffer(block, static_cast<int>(n)); });
}

// The same bytes through a port's reader path: the hooks (receiver family, recorder, epoch
// tracker, fix and signal histories, console tap, stopwatch) and each epoch's end (the signal
// history's sample, the integrity watch).
void PortParse(benchmark::State &state, Corpus corpus, bool keepHistory = true) {
    CGpsPort port(0);
    port.KeepHistory(keepHistory);
    std::uint64_t epochs = 0;
    port.SetEpochListener([&] { ++epochs; });
    Run(state, corpus, port, [&](const char *block, std::size_t n) {
        port.DecodeBlock(block, n, std::chrono::steady_clock::now());
    });
    // Each epoch's end costs the watch and the signal history a look at the whole sky.
    state.counters["epochs"] = static_cast<double>(epochs) /
                               static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
}

void BM_ParseBuffer(benchmark::State &state) {
    Parse(state, Corpus::All);
}
BENCHMARK(BM_ParseBuffer)->Unit(benchmark::kMillisecond);

// The reader thread's path over the same bytes: its ratio to BM_ParseBuffer is the hooks' cost.
void BM_PortParseBuffer(benchmark::State &state) {
    PortParse(state, Corpus::All);
}
BENCHMARK(BM_PortParseBuffer)->Unit(benchmark::kMillisecond);

// The captures with more than GPS, and those with GPS talkers only.
void BM_ParseMulti(benchmark::State &state) {
    Parse(state, Corpus::MultiConstellation);
}
BENCHMARK(BM_ParseMulti)->Unit(benchmark::kMillisecond);

void BM_PortParseMulti(benchmark::State &state) {
    PortParse(state, Corpus::MultiConstellation);
}
BENCHMARK(BM_PortParseMulti)->Unit(benchmark::kMillisecond);

// A port of the exporter's, which keeps no history and no console lines for a window.
void BM_PortParseBufferNoHistory(benchmark::State &state) {
    PortParse(state, Corpus::All, false);
}
BENCHMARK(BM_PortParseBufferNoHistory)->Unit(benchmark::kMillisecond);

void BM_ParseGpsOnly(benchmark::State &state) {
    Parse(state, Corpus::GpsOnly);
}
BENCHMARK(BM_ParseGpsOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
