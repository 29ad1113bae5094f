#include "SignalCompare.h"

#include "SatTableModel.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace display {

namespace {

// Each signal heard of one sky, keyed by system, number and band; a strength the sentence named
// no signal for counts as the system's first signal, so a receiver that names none pairs with
// one that does.
void Collect(const SkyView &sky, bool isA,
             std::map<std::tuple<int, int, QString>, SignalPair> &out) {
    const std::size_t count = std::min(sky.count, SkyView::kMax);
    const auto put = [&](const SkySat &s, const QString &band, int cn0) {
        if (cn0 <= 0)
            return;
        SignalPair &p =
            out.try_emplace({static_cast<int>(s.gnss), s.sv, band}, SignalPair{s.gnss, s.sv, band})
                .first->second;
        (isA ? p.a : p.b) = cn0;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (s.nSigs == 0) {
            put(s, SignalColumn(s.gnss, SignalOrFirst(s.gnss, 0)), s.snr);
            continue;
        }
        for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k)
            put(s, SignalColumn(s.gnss, SignalOrFirst(s.gnss, s.sigs[k].id)), s.sigs[k].snr);
    }
}

} // namespace

std::vector<SignalPair> PairSignals(const SkyView &a, const SkyView &b) {
    std::map<std::tuple<int, int, QString>, SignalPair> byKey;
    Collect(a, true, byKey);
    Collect(b, false, byKey);
    std::vector<SignalPair> pairs;
    pairs.reserve(byKey.size());
    for (auto &[key, pair] : byKey)
        pairs.push_back(std::move(pair));
    return pairs;
}

std::vector<BandDifference> MedianDifferences(const std::vector<SignalPair> &pairs) {
    std::map<std::pair<int, QString>, std::vector<int>> differences;
    for (const SignalPair &p : pairs)
        if (p.a > 0 && p.b > 0)
            differences[{static_cast<int>(p.gnss), p.band}].push_back(p.a - p.b);
    std::vector<BandDifference> out;
    for (auto &[key, d] : differences) {
        std::sort(d.begin(), d.end());
        const std::size_t n = d.size();
        const double median = n % 2 == 1 ? d[n / 2] : (d[n / 2 - 1] + d[n / 2]) / 2.0;
        out.push_back({static_cast<Gnss>(key.first), key.second, median, static_cast<int>(n)});
    }
    return out;
}

} // namespace display
