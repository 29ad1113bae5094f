// Feeds arbitrary text to what reads addresses and gpsd's replies: the source address parser
// (whose canonical form must parse back to the same address), and gpsd's JSON reply lines; and
// to the readers of the user's thresholds file and of a receiver's stored baseline.
#include "GpsdReply.h"
#include "IntegrityWatch.h"
#include "SourceUrl.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Fail(const char *what, const std::string &text) {
    std::fprintf(stderr, "fuzz_sources: %s: \"%s\"\n", what, text.c_str());
    std::abort();
}

bool Same(const platform::SourceUrl &a, const platform::SourceUrl &b) {
    return a.kind == b.kind && a.host == b.host && a.port == b.port && a.device == b.device;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 1u << 16) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char *>(data), size);

    platform::SourceUrl url;
    std::string error;
    if (platform::ParseSourceUrl(text, url, error)) {
        if (!error.empty() && error.find('\n') != std::string::npos) {
            Fail("error of more than one line", text);
        }
        if (url.kind != platform::SourceUrl::Kind::Serial) {
            const std::string canonical = platform::FormatSourceUrl(url);
            platform::SourceUrl again;
            if (!platform::ParseSourceUrl(canonical, again, error) || !Same(url, again)) {
                Fail("canonical form does not parse back", text);
            }
            (void)platform::IsLoopbackHost(url.host);
        }
    } else if (error.empty()) {
        Fail("refused without a reason", text);
    }

    WatchThresholds thresholds;
    std::vector<std::string> problems;
    if (ParseThresholds(text, thresholds, problems) != problems.empty())
        Fail("thresholds refused without a reason, or a reason without a refusal", text);
    WatchBaseline baseline;
    if (WatchBaseline::FromText(text, baseline, error)) {
        WatchBaseline again;
        if (!WatchBaseline::FromText(baseline.ToText("r"), again, error) ||
            again.Cn0Median() != baseline.Cn0Median() ||
            again.JamIndMedian(0) != baseline.JamIndMedian(0) ||
            again.AgcMedianPermil(3) != baseline.AgcMedianPermil(3))
            Fail("a baseline that does not read back as written", text);
    }

    const platform::GpsdReply reply = platform::ParseGpsdReply(text);
    const std::string chosen = platform::FirstSendingDevice(reply.devices);
    if (!chosen.empty() && reply.kind != platform::GpsdReply::Kind::Devices &&
        reply.kind != platform::GpsdReply::Kind::Device) {
        Fail("a device chosen from a reply that lists none", text);
    }
    return 0;
}
