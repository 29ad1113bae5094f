#include "Compare.h"

#include "LivePort.h"
#include "analysis/FixTrack.h"
#include "analysis/SignalHistory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;
using Steady = std::chrono::steady_clock;

constexpr const char *kNames[2] = {"A", "B"};

struct Mean {
    double sum = 0.0;
    int n = 0;
};
// A band is a system and its signal id; per band, each satellite's number and mean C/N0.
using BandMeans = std::map<std::pair<Gnss, int>, std::map<int, Mean>>;

// Each signal's C/N0 averaged over the seconds that heard it; the port keeps a sample a second
// (the last 2 h of a longer run).
BandMeans MeanCn0(const SignalHistoryCopy &history) {
    BandMeans means;
    for (const HistorySample &s : history.samples) {
        const std::size_t end = std::min<std::size_t>(s.first + s.count, history.sigs.size());
        for (std::size_t i = s.first; i < end; ++i) {
            const HistorySignal &sig = history.sigs[i];
            Mean &m = means[{sig.System(), SignalOrFirst(sig.System(), sig.id)}][sig.sv];
            m.sum += sig.snr;
            ++m.n;
        }
    }
    return means;
}

// v to 1/per (so 3.25 prints as 3.25, not 3.2500000000000004).
double Rounded(double v, double per) {
    return std::round(v * per) / per;
}

std::optional<RestartKind> KindOf(const std::string &send) {
    for (const RestartKind kind : {RestartKind::Cold, RestartKind::Warm, RestartKind::Hot})
        if (send + " start" == RestartName(kind))
            return kind;
    return std::nullopt;
}

// Both restarted at once, each in its own language; one that must first be asked to name itself
// goes a second or so later, and each is timed from its own command.
bool RestartBoth(CGpsPort (&ports)[2], RestartKind kind, const RestartSteps &steps) {
    int rc[2] = {0, 0};
    {
        std::jthread second([&] { rc[1] = steps.send(ports[1], kind); });
        rc[0] = steps.send(ports[0], kind);
    }
    return rc[0] == 0 && rc[1] == 0;
}

using Runs = std::vector<std::optional<double>>;

// Waits up to limit for both fixes (the whole limit when wholeRun) and keeps each one's time.
void TimeRace(CGpsPort (&ports)[2], std::chrono::seconds limit, bool wholeRun, int run,
              Runs (&runs)[2]) {
    const auto end = Steady::now() + limit;
    const auto racing = [&] {
        return wholeRun || ports[0].Stopwatch().Running() || ports[1].Stopwatch().Running();
    };
    while (Steady::now() < end && racing())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string prefix = run > 0 ? "run " + std::to_string(run) + ": " : "";
    for (int k = 0; k < 2; ++k) {
        CFixStopwatch &watch = ports[k].Stopwatch();
        runs[k].push_back(watch.Result());
        if (runs[k].back())
            std::fprintf(stderr, "%s%s: fix in %.1f s\n", prefix.c_str(), kNames[k],
                         *runs[k].back());
        else if (watch.FixNeverLost())
            std::fprintf(stderr, "%s%s: fix never lost: the receiver ignored the restart\n",
                         prefix.c_str(), kNames[k]);
        else
            std::fprintf(stderr, "%s%s: no fix within %lld s\n", prefix.c_str(), kNames[k],
                         static_cast<long long>(limit.count()));
        watch.Cancel();
    }
}

// One receiver's times to fix (null for a run without one), their median and the failures.
Json RunsJson(const Runs &runs) {
    Json out;
    Json times = Json::array();
    std::vector<double> fixes;
    for (const auto &run : runs) {
        times.push_back(run ? Json(Rounded(*run, 10)) : Json(nullptr));
        if (run)
            fixes.push_back(*run);
    }
    out["runs"] = times;
    out["median"] = fixes.empty() ? Json(nullptr) : Json(Rounded(Percentile(fixes, 50.0), 10));
    out["failures"] = runs.size() - fixes.size();
    return out;
}

} // namespace

int RunCompare(const CompareOptions &options, const RestartSteps &steps) {
    if (options.a == options.b) {
        std::fprintf(stderr, "skywatch-decode: --compare needs two sources; %s is named twice\n",
                     options.a.c_str());
        return 2;
    }
    const std::string *names[2] = {&options.a, &options.b};
    CGpsPort ports[2];
    for (int k = 0; k < 2; ++k)
        if (!OpenLivePort(ports[k], *names[k], options.baud, k + 1))
            return 2;
    const auto limit = std::chrono::seconds(options.seconds);
    const std::optional<RestartKind> kind = KindOf(options.send);
    Runs runs[2];
    if (!kind) {
        std::this_thread::sleep_for(limit);
    } else if (options.repeat == 0) {
        if (!RestartBoth(ports, *kind, steps))
            return 1;
        TimeRace(ports, limit, true, 0, runs);
    } else {
        for (int i = 1; i <= options.repeat; ++i) {
            const auto until = Steady::now() + limit;
            bool settled = true;
            for (int k = 0; k < 2; ++k) {
                if (!steps.settled(ports[k], until)) {
                    std::fprintf(stderr, "run %d: %s had no fix to restart from within %d s\n", i,
                                 kNames[k], options.seconds);
                    settled = false;
                }
            }
            if (!settled && i == 1)
                return 1;
            if (!settled) {
                runs[0].emplace_back();
                runs[1].emplace_back();
                continue;
            }
            if (!RestartBoth(ports, *kind, steps))
                return 1;
            TimeRace(ports, limit, false, i, runs);
        }
    }
    for (CGpsPort &port : ports)
        port.Close();

    const SignalHistoryCopy histories[2] = {ports[0].Signals().Copy(), ports[1].Signals().Copy()};
    const BandMeans means[2] = {MeanCn0(histories[0]), MeanCn0(histories[1])};
    Json out;
    for (int k = 0; k < 2; ++k) {
        Json source;
        source["source"] = *names[k];
        source["seconds"] = histories[k].samples.size();
        out[k == 0 ? "a" : "b"] = source;
    }
    std::set<std::pair<Gnss, int>> bands;
    for (const BandMeans &m : means)
        for (const auto &band : m)
            bands.insert(band.first);
    Json rows = Json::array();
    std::size_t common = 0;
    for (const auto &band : bands) {
        static const std::map<int, Mean> kNone;
        const auto heard = [&](int k) -> const std::map<int, Mean> & {
            const auto it = means[k].find(band);
            return it == means[k].end() ? kNone : it->second;
        };
        const std::map<int, Mean> &a = heard(0), &b = heard(1);
        std::vector<double> diffs;
        Json onlyA = Json::array(), onlyB = Json::array();
        for (const auto &[sv, mean] : a) {
            if (const auto other = b.find(sv); other != b.end())
                diffs.push_back(mean.sum / mean.n - other->second.sum / other->second.n);
            else
                onlyA.push_back(sv);
        }
        for (const auto &[sv, mean] : b)
            if (a.find(sv) == a.end())
                onlyB.push_back(sv);
        const auto [gnss, id] = band;
        Json row;
        row["gnss"] = GnssName(gnss);
        row["id"] = id;
        row["band"] = BandName(gnss, id);
        row["median_db"] =
            diffs.empty() ? Json(nullptr) : Json(Rounded(Percentile(diffs, 50.0), 100));
        row["satellites"] = diffs.size();
        row["onlyA"] = onlyA;
        row["onlyB"] = onlyB;
        rows.push_back(row);
        common += diffs.size();
    }
    out["bands"] = rows;
    bool fixless = false;
    if (kind) {
        Json ttff;
        ttff["kind"] = options.send;
        ttff["a"] = RunsJson(runs[0]);
        ttff["b"] = RunsJson(runs[1]);
        out["ttff"] = ttff;
        for (const Runs &r : runs)
            fixless = fixless || std::none_of(r.begin(), r.end(), [](const auto &t) { return t; });
    }
    for (int k = 0; k < 2; ++k)
        if (means[k].empty())
            std::fprintf(stderr, "skywatch-decode: %s (%s) heard no signal\n", kNames[k],
                         names[k]->c_str());
    if (common == 0 && !means[0].empty() && !means[1].empty())
        std::fprintf(stderr, "skywatch-decode: no satellite was heard by both %s and %s\n",
                     options.a.c_str(), options.b.c_str());
    std::printf("%s\n", out.dump().c_str());
    return common == 0 || fixless ? 1 : 0;
}
