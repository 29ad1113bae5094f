// Feeds arbitrary text to what reads addresses and gpsd's replies: the source address parser
// (whose canonical form must parse back to the same address), and gpsd's JSON reply lines; and
// to the readers of the user's thresholds file and of a receiver's stored baseline; and to what
// reads an NTRIP caster: its address, its answer's head, chunked transfer and source table.
#include "GpsdReply.h"
#include "Ntrip.h"
#include "SourceUrl.h"
#include "analysis/IntegrityWatch.h"

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

    namespace ntrip = platform::ntrip;
    ntrip::NtripUrl caster;
    if (ntrip::ParseNtripUrl(text, caster, error)) {
        ntrip::NtripUrl again;
        const std::string masked = ntrip::MaskedUrl(caster);
        // The shown user is escaped, so its credentials end at the first '@' and hold one ':'.
        const std::string credentials = masked.substr(0, masked.find('@'));
        if (!caster.password.empty() &&
            (credentials.size() < 12 || credentials.rfind(":***") != credentials.size() - 4 ||
             credentials.find(':', 8) != credentials.size() - 4))
            Fail("a password shown", text);
        if (!ntrip::ParseNtripUrl(masked, again, error) || again.host != caster.host ||
            again.port != caster.port || again.mount != caster.mount || again.user != caster.user)
            Fail("a caster's address does not read back", text);
    }
    if (const std::size_t head = ntrip::HeadLength(text); head > text.size())
        Fail("a head longer than the answer", text);
    (void)ntrip::RefusalWords(ntrip::ParseHead(text));
    ntrip::CChunkDecoder chunks;
    std::string payload;
    chunks.Feed(text.data(), text.size(), payload);
    if (payload.size() > text.size())
        Fail("chunked transfer gave more than it got", text);
    auto table = ntrip::ParseSourceTable(text);
    ntrip::SortByDistance(table, 50.0, 8.0);
    for (std::size_t i = 1; i < table.size(); ++i)
        if (table[i].hasPosition &&
            (!table[i - 1].hasPosition || table[i].distanceKm < table[i - 1].distanceKm))
            Fail("source table out of order", text);

    const platform::GpsdReply reply = platform::ParseGpsdReply(text);
    const std::string chosen = platform::FirstSendingDevice(reply.devices);
    if (!chosen.empty() && reply.kind != platform::GpsdReply::Kind::Devices &&
        reply.kind != platform::GpsdReply::Kind::Device) {
        Fail("a device chosen from a reply that lists none", text);
    }
    return 0;
}
