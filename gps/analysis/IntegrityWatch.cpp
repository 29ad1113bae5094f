#include "analysis/IntegrityWatch.h"

#include "UserDirs.h"
#include "analysis/FixTrack.h"
#include "analysis/IntegrityDefaults.h"
#include "model/Geodesy.h"
#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The thresholds file's names, each with its member.
struct ThresholdName {
    const char *name;
    double WatchThresholds::*real;
    int WatchThresholds::*whole;
};
constexpr ThresholdName kThresholdNames[] = {
    {"reference_from_s", &WatchThresholds::referenceFromS, nullptr},
    {"reference_to_s", &WatchThresholds::referenceToS, nullptr},
    {"cn0_drop_db", &WatchThresholds::cn0DropDb, nullptr},
    {"cn0_drop_share", &WatchThresholds::cn0DropShare, nullptr},
    {"min_satellites", nullptr, &WatchThresholds::minSatellites},
    {"lost_share", &WatchThresholds::lostShare, nullptr},
    {"baseline_drop_db", &WatchThresholds::baselineDropDb, nullptr},
    {"jam_ind_rise", nullptr, &WatchThresholds::jamIndRise},
    {"agc_drop_permil", nullptr, &WatchThresholds::agcDropPermil},
    {"jam_ind_limit", nullptr, &WatchThresholds::jamIndLimit},
    {"jam_ind_release", nullptr, &WatchThresholds::jamIndRelease},
    {"agc_min_permil", nullptr, &WatchThresholds::agcMinPermil},
    {"agc_release_permil", nullptr, &WatchThresholds::agcReleasePermil},
    {"release_share", &WatchThresholds::releaseShare, nullptr},
    {"uniform_spread_db", &WatchThresholds::uniformSpreadDb, nullptr},
    {"uniform_min_cn0", &WatchThresholds::uniformMinCn0, nullptr},
    {"uniform_min_satellites", nullptr, &WatchThresholds::uniformMinSatellites},
    {"position_window_s", &WatchThresholds::positionWindowS, nullptr},
    {"position_slack_m", &WatchThresholds::positionSlackM, nullptr},
    {"fix_settle_s", &WatchThresholds::fixSettleS, nullptr},
    {"speed_margin_mps", &WatchThresholds::speedMarginMps, nullptr},
    {"range_error_m", &WatchThresholds::rangeErrorM, nullptr},
    {"time_slack_s", &WatchThresholds::timeSlackS, nullptr},
    {"max_epoch_gap_s", &WatchThresholds::maxEpochGapS, nullptr},
    {"start_hold_s", &WatchThresholds::startHoldS, nullptr},
    {"end_hold_s", &WatchThresholds::endHoldS, nullptr},
    {"shown_after_s", &WatchThresholds::shownAfterS, nullptr},
    {"baseline_min_epochs", nullptr, &WatchThresholds::baselineMinEpochs},
    {"save_every_epochs", nullptr, &WatchThresholds::saveEveryEpochs},
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ParseReal(std::string_view text, double &value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc{} && r.ptr == text.data() + text.size() && std::isfinite(value);
}

double Median(std::vector<double> &v) {
    if (v.empty())
        return 0.0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1)
        return upper;
    return (*std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid)) + upper) /
           2.0;
}

template <std::size_t N> int HistogramMedian(const std::array<double, N> &bins) {
    double total = 0.0;
    for (const double c : bins)
        total += c;
    if (total <= 0.0)
        return -1;
    double seen = 0.0;
    for (std::size_t i = 0; i < N; ++i) {
        seen += bins[i];
        if (seen >= total / 2.0)
            return static_cast<int>(i);
    }
    return static_cast<int>(N - 1);
}

// "12:03:41" of a fix time.
std::string ClockText(std::int64_t timeMs) {
    const std::int64_t s = ((timeMs / 1000) % 86400 + 86400) % 86400;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return text;
}

std::string Number(double v) {
    char text[32];
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", v);
    else
        std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Signs that are one epoch's news and start an alarm at once.
bool Instant(const std::string &sign) {
    return sign == "time_jump" || sign == "receiver_jamming_state" ||
           sign == "receiver_spoofing_state";
}

// A settings file of at most 64 KiB (a file name may lead anywhere: a device, a pipe, a huge
// file); false with errno (EFBIG past the size) when it cannot be read.
bool ReadSmallFile(const std::string &path, std::string &text) {
    constexpr std::size_t kMax = 64 * 1024;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    text.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return n == 0;
        }
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kMax) {
            ::close(fd);
            errno = EFBIG;
            return false;
        }
    }
}

} // namespace

std::string_view DefaultThresholdsText() {
    return kShippedThresholds;
}

bool ParseThresholds(std::string_view text, WatchThresholds &t,
                     std::vector<std::string> &problems) {
    const std::size_t before = problems.size();
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = Trim(line);
        if (line.empty())
            continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            problems.push_back(where + "no \"name = value\"");
            continue;
        }
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        const auto *entry = std::find_if(std::begin(kThresholdNames), std::end(kThresholdNames),
                                         [&](const ThresholdName &n) { return name == n.name; });
        if (entry == std::end(kThresholdNames)) {
            problems.push_back(where + "unknown name \"" + std::string(name) + "\"");
            continue;
        }
        double v = 0.0;
        if (!ParseReal(value, v) || v < 0.0 || v > 1e6 ||
            (entry->whole != nullptr && v != std::floor(v))) {
            problems.push_back(where + std::string(name) + " takes a number from 0" +
                               (entry->whole != nullptr ? " (whole)" : "") + ", not \"" +
                               std::string(value) + "\"");
            continue;
        }
        if (entry->real != nullptr)
            t.*(entry->real) = v;
        else
            t.*(entry->whole) = static_cast<int>(v);
    }
    return problems.size() == before;
}

WatchThresholds LoadThresholds(std::vector<std::string> &problems) {
    WatchThresholds t;
    ParseThresholds(DefaultThresholdsText(), t, problems);
    const std::string dir = platform::ConfigDir();
    if (dir.empty())
        return t;
    const std::string path = dir + "/integrity.conf";
    std::string text;
    if (!ReadSmallFile(path, text)) {
        if (errno != ENOENT)
            problems.push_back(path + ": " +
                               (errno == EFBIG    ? "larger than 64 KiB"
                                : errno == EINVAL ? "not a regular file"
                                                  : std::strerror(errno)));
        return t;
    }
    std::vector<std::string> own;
    ParseThresholds(text, t, own);
    for (const std::string &p : own)
        problems.push_back(path + ": " + p);
    return t;
}

const char *ThreatName(Threat threat) {
    return threat == Threat::Jamming ? "jamming" : "spoofing";
}

WatchEpoch EpochOf(const CNmeaDecoder &decoder, SkyView &sky, Integrity &integrity,
                   std::int64_t arrivedMs) {
    GpsFix fix{};
    FixExtra extra;
    decoder.CopyFix(fix, extra);
    decoder.CopySky(sky);
    integrity = extra.integrity;
    WatchEpoch e;
    e.sky = &sky;
    e.integrity = &integrity;
    e.arrivedMs = arrivedMs;
    if ((extra.sent & kSentTime) != 0) {
        const std::int64_t tod = fix.bHour * 3600 + fix.bMinute * 60 + fix.bSecond;
        e.hasDate = (extra.sent & kSentDate) != 0 && fix.nYear > 0 && fix.bMonth >= 1 &&
                    fix.bMonth <= 12 && fix.bDay >= 1 && fix.bDay <= 31;
        std::int64_t s = tod + decoder.BiasSeconds();
        if (e.hasDate)
            s += std::chrono::sys_days{std::chrono::year{fix.nYear} / fix.bMonth / fix.bDay}
                     .time_since_epoch()
                     .count() *
                 86400;
        else
            s = (s % 86400 + 86400) % 86400;
        e.timeMs = s * 1000;
    }
    e.valid = fix.bValid == 1 && fix.cFixMode != 1;
    if ((extra.sent & kSentPosition) != 0) {
        e.hasPosition = true;
        e.lat = extra.hasPrecise ? extra.preciseLat : fix.lLatitude / 1e6;
        e.lon = extra.hasPrecise ? extra.preciseLon : fix.lLongitude / 1e6;
    }
    if ((extra.sent & kSentSpeed) != 0)
        e.speedMps = fix.wSpeed / 100.0 / 3.6;
    e.hAccM = extra.hAccM;
    if ((extra.sent & kSentHdop) != 0 && fix.nHdop > 0)
        e.hdop = fix.nHdop / 10.0;
    return e;
}

std::string EventToJson(const WatchEvent &event) {
    std::string out = "{\"event\": \"";
    out += ThreatName(event.threat);
    out += "\", \"state\": \"";
    out += event.start ? "start" : "end";
    out += "\", \"time\": \"";
    const std::int64_t s = event.timeMs / 1000;
    char when[40];
    if (event.hasDate) {
        const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(
            std::chrono::sys_seconds{std::chrono::seconds{s}})};
        const int y = static_cast<int>(date.year());
        const unsigned m = static_cast<unsigned>(date.month()),
                       d = static_cast<unsigned>(date.day());
        std::snprintf(when, sizeof when, "%04d-%02u-%02uT%sZ", y, m, d,
                      ClockText(event.timeMs).c_str());
    } else {
        // A receiver that never sent a date: the time of day alone, still UTC.
        std::snprintf(when, sizeof when, "%sZ", ClockText(event.timeMs).c_str());
    }
    out += when;
    out += "\", \"signs\": [";
    for (std::size_t i = 0; i < event.signs.size(); ++i)
        out += (i > 0 ? ", \"" : "\"") + event.signs[i] + "\"";
    out += "], \"evidence\": {";
    for (std::size_t i = 0; i < event.evidence.size(); ++i)
        out += (i > 0 ? ", \"" : "\"") + event.evidence[i].first +
               "\": " + Number(event.evidence[i].second);
    out += "}";
    if (!event.start)
        out += ", \"duration_s\": " + Number(event.durationS);
    out += "}";
    return out;
}

double WatchBaseline::Cn0Median() const {
    return HistogramMedian(cn0);
}

int WatchBaseline::JamIndMedian(std::size_t block) const {
    return block < jamInd.size() ? HistogramMedian(jamInd[block]) : -1;
}

int WatchBaseline::AgcMedianPermil(std::size_t block) const {
    const int bin = block < agc.size() ? HistogramMedian(agc[block]) : -1;
    return bin < 0 ? -1 : bin * 10;
}

namespace {

template <std::size_t N> void WriteBins(std::string &out, const std::array<double, N> &bins) {
    char text[48];
    for (std::size_t i = 0; i < N; ++i) {
        if (bins[i] <= 0.0)
            continue;
        std::snprintf(text, sizeof text, " %zu:%.17g", i, bins[i]);
        out += text;
    }
}

template <std::size_t N> bool ReadBins(std::istringstream &line, std::array<double, N> &bins) {
    std::string item;
    while (line >> item) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            return false;
        std::size_t bin = 0;
        const auto r = std::from_chars(item.data(), item.data() + colon, bin);
        double count = 0.0;
        if (r.ec != std::errc{} || r.ptr != item.data() + colon || bin >= N ||
            !ParseReal(std::string_view(item).substr(colon + 1), count) || count < 0.0 ||
            count > 1e12)
            return false;
        bins[bin] = count;
    }
    return true;
}

} // namespace

std::string WatchBaseline::ToText(const std::string &receiver) const {
    std::string out =
        "# Skywatch: this receiver's usual signal, learnt from epochs without alarm.\n"
        "# Delete the file to learn it again.\n";
    out += "receiver " + receiver + "\n";
    char text[48];
    std::snprintf(text, sizeof text, "epochs %.17g\n", epochs);
    out += text;
    out += "cn0";
    WriteBins(out, cn0);
    out += "\n";
    for (std::size_t b = 0; b < Integrity::kMaxBlocks; ++b) {
        out += "jamind " + std::to_string(b);
        WriteBins(out, jamInd[b]);
        out += "\nagc " + std::to_string(b);
        WriteBins(out, agc[b]);
        out += "\n";
    }
    return out;
}

bool WatchBaseline::FromText(std::string_view text, WatchBaseline &out, std::string &error) {
    WatchBaseline b;
    std::istringstream in{std::string(text)};
    std::string raw;
    int lineNo = 0;
    bool sawEpochs = false;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (raw.empty() || raw[0] == '#')
            continue;
        std::istringstream line(raw);
        std::string key;
        line >> key;
        bool ok = true;
        if (key == "receiver") {
            continue;
        } else if (key == "epochs") {
            std::string v;
            ok = static_cast<bool>(line >> v) && ParseReal(v, b.epochs) && b.epochs >= 0.0;
            sawEpochs = ok;
        } else if (key == "cn0") {
            ok = ReadBins(line, b.cn0);
        } else if (key == "jamind" || key == "agc") {
            std::size_t block = 0;
            ok = static_cast<bool>(line >> block) && block < Integrity::kMaxBlocks &&
                 (key == "jamind" ? ReadBins(line, b.jamInd[block]) : ReadBins(line, b.agc[block]));
        } else {
            ok = false;
        }
        if (!ok) {
            error = "line " + std::to_string(lineNo) + " is not part of a baseline";
            return false;
        }
    }
    if (!sawEpochs) {
        error = "no \"epochs\" line";
        return false;
    }
    out = b;
    return true;
}

// The watch's memory: a minute of each satellite's C/N0 and of the receiver's RF indicators,
// the last fixes, and each threat's alarm.
struct CIntegrityWatch::Impl {
    struct Sample {
        double t;
        double value;
        bool clean; // taken with no sign of either threat and no alarm: fit to be a reference
    };
    // A minute of one quantity with its reference (the median of its clean samples between
    // referenceFromS and referenceToS ago), held while a sign keeps the new samples out. Its
    // times are the watch's own clock (mono), which a jump of the fix time does not move.
    struct Series {
        // Oldest first from index first on (those before it are gone), one clock: their times
        // rise. A vector with its gone front dropped now and then: the window indexes it often.
        std::vector<Sample> samples;
        std::size_t first = 0;
        double ref = -1.0;
        double lastT = -1.0;
        double elevation = 0.0;
        std::uint64_t namedIn = 0; // the last epoch whose sky named it
        // The reference window as last looked at, slid rather than gathered each epoch: samples
        // [windowFrom, windowTo) (first <= windowFrom <= windowTo), and the clean values above 0
        // among them, sorted.
        std::size_t windowFrom = 0, windowTo = 0;
        std::vector<double> window;
    };
    struct FixPoint {
        double t, lat, lon, speed;
    };
    struct Alarm {
        bool active = false;
        bool endedShown = false;
        // On the watch's own clock (seconds of epochs, which a jump of the fix time does not move).
        double onsetT = 0.0, lastSignT = 0.0, endT = 0.0;
        std::int64_t onsetMs = 0, lastSignMs = 0; // fix times
        std::vector<std::string> seen;            // every sign since the start
        std::string text;
        std::map<std::string, double> signSince; // sign -> first epoch it was seen in a row
    };

    WatchThresholds t;
    std::map<std::uint32_t, Series> sats; // Gnss << 16 | sv
    Series jamInd[Integrity::kMaxBlocks];
    Series agc[Integrity::kMaxBlocks];
    std::deque<FixPoint> fixes;
    double lastT = -1.0;
    // Seconds of epochs: the fix time's steps where they are plausible, else the clock's or the
    // usual step. Holds and durations go by it, so a jump of the fix time cannot end an alarm.
    double mono = 0.0;
    double usualStep = 1.0;
    double validSince = -1.0; // the first epoch of the fix held since, -1 without one
    std::int64_t lastArrivedMs = -1;
    bool lastValid = false;
    bool lastHasDate = false;
    // The fix time before lastT, and whether the step to lastT was out of the usual: a lone
    // epoch whose time the next one does not continue is one corrupt sentence, not a jump.
    double prevT = -1.0;
    double lastStep = 0.0, prevStep = 0.0; // the steps into lastT and into prevT
    bool lastOdd = false;
    bool pendingJump = false; // the last epoch jumped; the next one confirms it or not
    double pendingStep = 0.0, pendingElapsed = -1.0;
    bool lastPosJump = false; // the last epoch's fix jumped (and was kept out of fixes)
    std::uint64_t unconfirmed = 0;
    // Alarms are stamped on the watch's clock: the fix time of the last quiet epoch that did
    // not jump, plus the watch's seconds since, so a jump of the fix time moves no stamp.
    std::int64_t anchorMs = 0;
    double anchorT = 0.0;
    bool anchorHasDate = false;
    std::int64_t Stamp(double at) const {
        return anchorMs + static_cast<std::int64_t>(std::llround((at - anchorT) * 1000.0));
    }
    Alarm alarms[kThreatCount];
    std::vector<AlarmSpan> spans; // latest first
    std::vector<WatchEvent> events;
    WatchBaseline baseline;
    std::string stateDir;
    int epochsSinceSave = 0;
    std::uint64_t epochNo = 0;
    double oldestNamed = 0.0; // no later than any satellite's lastT
    // An epoch's working lists; named holds the series of each satellite of its sky, in order.
    std::vector<double> tracked, drops, stillDrops, top;
    std::vector<Series *> named;

    void Forget() {
        sats.clear();
        for (auto &s : jamInd)
            s = Series{};
        for (auto &s : agc)
            s = Series{};
        fixes.clear();
        validSince = -1.0;
    }

    // The reference of a series at time now: the median of its clean samples of the reference
    // window, when they span a third of it (a satellite heard now and then is no reference,
    // whatever the receiver's rate). Without them the last one is held while signs keep new
    // samples out (a long alarm), and dropped when quiet samples say it was simply not tracked.
    // The window only moves forward, as the watch's clock does: samples leave at its old end
    // and enter at its new one.
    void Reference(Series &s, double now) const {
        const std::vector<Sample> &q = s.samples;
        for (; s.windowFrom < q.size() && now - q[s.windowFrom].t > t.referenceFromS;
             ++s.windowFrom)
            if (s.windowFrom < s.windowTo)
                Leave(s, q[s.windowFrom]);
        s.windowTo = std::max(s.windowTo, s.windowFrom);
        for (; s.windowTo < q.size() && now - q[s.windowTo].t >= t.referenceToS; ++s.windowTo) {
            const Sample &x = q[s.windowTo];
            if (x.clean && x.value > 0.0)
                s.window.insert(std::upper_bound(s.window.begin(), s.window.end(), x.value),
                                x.value);
        }
        const Sample *const from = q.data() + s.windowFrom;
        const Sample *const to = q.data() + s.windowTo;
        // The clean samples' span, and that of those above 0; the times rise along the window.
        double first = now, last = 0.0, quietFirst = now, quietLast = 0.0;
        bool bQuietFirst = false, bFirst = false;
        for (const Sample *x = from; x != to && !(bQuietFirst && bFirst); ++x) {
            if (!x->clean)
                continue;
            if (!bQuietFirst)
                quietFirst = x->t, bQuietFirst = true;
            if (!bFirst && x->value > 0.0)
                first = x->t, bFirst = true;
        }
        bool bQuietLast = false, bLast = false;
        for (const Sample *x = to; x != from && !(bQuietLast && bLast);) {
            --x;
            if (!x->clean)
                continue;
            if (!bQuietLast)
                quietLast = x->t, bQuietLast = true;
            if (!bLast && x->value > 0.0)
                last = x->t, bLast = true;
        }
        const std::vector<double> &v = s.window;
        const double enough = (t.referenceFromS - t.referenceToS) / 3;
        if (v.size() >= 3 && last - first >= enough) {
            const std::size_t mid = v.size() / 2;
            s.ref = v.size() % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2.0;
        } else if (quietLast - quietFirst >= enough) {
            s.ref = -1.0;
        }
    }

    // A sample leaves the reference window: its value, if the window took it, goes too.
    static void Leave(Series &s, const Sample &x) {
        if (!x.clean || !(x.value > 0.0))
            return;
        const auto it = std::lower_bound(s.window.begin(), s.window.end(), x.value);
        if (it != s.window.end() && *it == x.value)
            s.window.erase(it);
    }

    void Add(Series &s, double now, double value, bool clean) {
        s.lastT = now;
        // One sample a second is reference enough, whatever the receiver's rate.
        if (s.samples.size() > s.first && now - s.samples.back().t < 0.9 &&
            now >= s.samples.back().t)
            return;
        s.samples.push_back({now, value, clean});
        while (s.first < s.samples.size() && now - s.samples[s.first].t > t.referenceFromS + 1.0) {
            // Gone before the window slid past it: it leaves the window here.
            if (s.windowFrom == s.first) {
                if (s.windowTo > s.first)
                    Leave(s, s.samples[s.first]);
                ++s.windowFrom;
                s.windowTo = std::max(s.windowTo, s.windowFrom);
            }
            ++s.first;
        }
        if (s.first >= 64 && 2 * s.first >= s.samples.size()) {
            s.samples.erase(s.samples.begin(),
                            s.samples.begin() + static_cast<std::ptrdiff_t>(s.first));
            s.windowFrom -= s.first;
            s.windowTo -= s.first;
            s.first = 0;
        }
    }
};

CIntegrityWatch::CIntegrityWatch(const WatchThresholds &t) : m_impl(std::make_unique<Impl>()) {
    m_impl->t = t;
}

CIntegrityWatch::~CIntegrityWatch() = default;

void CIntegrityWatch::ResetReferences() {
    m_impl->Forget();
    m_impl->lastT = -1.0;
}

void CIntegrityWatch::OnEpoch(const WatchEpoch &e) {
    Impl &w = *m_impl;
    const WatchThresholds &t = w.t;
    if (e.timeMs < 0) {
        // No time, no comparison; but a lost fix still breaks the chain of positions and times.
        if (!e.valid) {
            w.lastValid = false;
            w.fixes.clear();
            w.validSince = -1.0;
        }
        return;
    }
    const double now = static_cast<double>(e.timeMs) / 1000.0;
    // Signs of this epoch, each with the numbers that show it, per threat.
    std::vector<std::string> signs[kThreatCount];
    std::vector<std::pair<std::string, double>> evidence[kThreatCount];
    auto sign = [&](Threat threat, const char *name) {
        auto &list = signs[static_cast<int>(threat)];
        if (std::find(list.begin(), list.end(), name) == list.end())
            list.emplace_back(name);
    };
    auto prove = [&](Threat threat, const char *name, double v) {
        evidence[static_cast<int>(threat)].emplace_back(name, v);
    };

    // The step of the fix time against the clock: a jump, or a gap that breaks every comparison.
    bool steadyTime = true; // the fix time went on as usual: the alarms' stamps may follow it
    if (w.lastT >= 0.0) {
        double step = now - w.lastT;
        if (!e.hasDate || !w.lastHasDate)
            step = std::remainder(step, 86400.0); // a day's wrap is one second
        if (step == 0.0) {
            // The same epoch told twice, or epochs without a time of their own (no fix): only
            // a lost fix counts, as it breaks the chain of positions and times.
            if (!e.valid) {
                w.lastValid = false;
                w.fixes.clear();
                w.validSince = -1.0;
            }
            return;
        }
        const double elapsed = e.arrivedMs >= 0 && w.lastArrivedMs >= 0
                                   ? static_cast<double>(e.arrivedMs - w.lastArrivedMs) / 1000.0
                                   : -1.0;
        const bool bothValid = e.valid && w.lastValid;
        // A recording has no clock beside the fix time: there a step forward may be a gap in
        // the data as well as a jump, and only a step back is sure to be one.
        bool jump = step < -0.5 || (elapsed >= 0.0 && step > elapsed + t.timeSlackS);
        // This epoch goes on from the one before the last: the last one's time was one
        // corrupt sentence (a splice, a wrong date), counted and given no sign.
        double fromPrev = now - w.prevT;
        if (!e.hasDate || !w.lastHasDate)
            fromPrev = std::remainder(fromPrev, 86400.0);
        // A long step that repeats the last one is a sparse recording's pace, not a jump.
        const bool regular =
            step > 0.0 && (step <= t.maxEpochGapS || std::fabs(step - w.lastStep) <= t.timeSlackS);
        const double pace = std::max(t.maxEpochGapS, w.prevStep + t.timeSlackS);
        const bool lastWasLone =
            w.lastOdd && w.prevT >= 0.0 && fromPrev > 0.0 && fromPrev <= pace && (jump || !regular);
        const bool odd = !lastWasLone && (jump || !regular);
        if (lastWasLone) {
            ++w.unconfirmed;
            jump = false;
            step = fromPrev;
        } else if (w.pendingJump && !odd && step > 0.0) {
            // The jumped time goes on: the receiver's clock really moved.
            sign(Threat::Spoofing, "time_jump");
            prove(Threat::Spoofing, "time_step_s", std::round(w.pendingStep * 10) / 10);
            if (w.pendingElapsed >= 0.0)
                prove(Threat::Spoofing, "elapsed_s", std::round(w.pendingElapsed * 10) / 10);
        } else if (w.pendingJump) {
            ++w.unconfirmed;
        }
        w.pendingJump = bothValid && jump;
        w.pendingStep = step;
        w.pendingElapsed = elapsed;
        w.prevT = lastWasLone ? -1.0 : w.lastT;
        w.prevStep = w.lastStep;
        w.lastStep = step;
        w.lastOdd = odd;
        steadyTime = !odd && !w.pendingJump && signs[1].empty();
        if (lastWasLone) {
            w.mono += elapsed > 0.0 ? elapsed : w.usualStep;
        } else if (!jump && step > 0.0 && step <= t.maxEpochGapS) {
            w.mono += step;
            w.usualStep = step;
        } else {
            w.mono += elapsed > 0.0 ? elapsed : w.usualStep;
        }
        // Data that stopped may have been a restart or another receiver: everything starts
        // afresh. A jump of the fix time, or a recording's long step (a gap or a jump, it cannot
        // tell), moves only the positions: what was tracked a moment ago still was.
        const bool gap = elapsed > t.maxEpochGapS;
        if (gap) {
            w.Forget();
        } else if (jump || step > t.maxEpochGapS) {
            w.fixes.clear();
            w.validSince = -1.0;
        }
    } else {
        w.mono += w.usualStep;
    }
    w.lastT = now;
    w.lastArrivedMs = e.arrivedMs;
    w.lastHasDate = e.hasDate;
    if (steadyTime && !w.alarms[0].active && !w.alarms[1].active) {
        w.anchorMs = e.timeMs;
        w.anchorT = w.mono;
        w.anchorHasDate = e.hasDate;
    }

    // A sign raised in the last epoch holds down to its release level, so one that hovers at its
    // raise level keeps its alarm. A share outside 0..1 leaves the raise level alone.
    const double release = t.releaseShare > 0.0 && t.releaseShare <= 1.0 ? t.releaseShare : 1.0;
    const auto held = [&](Threat threat, const char *name) {
        return w.alarms[static_cast<std::size_t>(threat)].signSince.contains(name);
    };
    const auto level = [&](Threat threat, const char *name, double raise) {
        return held(threat, name) ? raise * release : raise;
    };
    const auto hold = [&](Threat threat, const char *name, bool pastRaise, bool pastRelease) {
        const bool on = pastRaise || (pastRelease && held(threat, name));
        if (on)
            sign(threat, name);
        return on;
    };
    // A change against the references past its release level, raised or not, keeps the epoch
    // out of them: a jam just under a threshold would otherwise become the usual it is judged by.
    bool stirred = false;
    const auto judge = [&](Threat threat, const char *name, bool pastRaise, bool pastRelease) {
        stirred = stirred || pastRaise || pastRelease;
        return hold(threat, name, pastRaise, pastRelease);
    };

    // C/N0 against a minute ago, satellite by satellite.
    const SkyView *sky = e.sky;
    // Kept between epochs: an epoch allocates nothing once they have grown.
    std::vector<double> &tracked = w.tracked;
    std::vector<double> &drops = w.drops;
    std::vector<double> &stillDrops = w.stillDrops;
    std::vector<Impl::Series *> &named = w.named;
    tracked.clear();
    drops.clear();
    stillDrops.clear();
    named.clear();
    ++w.epochNo;
    std::size_t nRef = 0, nDown = 0, nLost = 0, nDownRelease = 0;
    bool systemNamed[kGnssCount]{};
    if (sky != nullptr) {
        for (std::size_t i = 0; i < sky->count; ++i) {
            const SkySat &s = sky->sats[i];
            const std::uint32_t key = static_cast<std::uint32_t>(s.gnss) << 16 | s.sv;
            systemNamed[static_cast<std::size_t>(s.gnss) % kGnssCount] = true;
            Impl::Series &series = w.sats[key];
            named.push_back(&series);
            series.namedIn = w.epochNo;
            if (s.hasPosition)
                series.elevation = s.el;
            w.Reference(series, w.mono);
            if (s.snr > 0)
                tracked.push_back(s.snr);
            if (series.ref <= 0.0)
                continue;
            ++nRef;
            const double drop = series.ref - s.snr;
            drops.push_back(s.snr > 0 ? drop : series.ref);
            if (s.snr == 0)
                ++nLost;
            else
                stillDrops.push_back(drop);
            if (s.snr == 0 || drop >= t.cn0DropDb)
                ++nDown;
            if (s.snr == 0 || drop >= t.cn0DropDb * release)
                ++nDownRelease;
        }
        // A satellite high in the sky a moment ago that the list no longer names, while its
        // system's list goes on, was lost too (some receivers list only what they track); one
        // that set is not, nor one whose system's list stopped coming.
        for (auto &[key, series] : w.sats) {
            if (series.namedIn == w.epochNo || series.ref <= 0.0 || series.elevation < 15.0 ||
                !systemNamed[(key >> 16) % kGnssCount])
                continue;
            w.Reference(series, w.mono);
            if (series.ref <= 0.0)
                continue;
            ++nRef;
            ++nLost;
            ++nDown;
            ++nDownRelease;
            drops.push_back(series.ref);
        }
    }
    if (nRef >= static_cast<std::size_t>(t.minSatellites)) {
        const double median = Median(drops);
        const double share = static_cast<double>(nDown) / static_cast<double>(nRef);
        const double shareRelease = static_cast<double>(nDownRelease) / static_cast<double>(nRef);
        if (judge(Threat::Jamming, "cn0_drop", median >= t.cn0DropDb && share >= t.cn0DropShare,
                  median >= t.cn0DropDb * release && shareRelease >= t.cn0DropShare * release)) {
            prove(Threat::Jamming, "cn0_drop_db",
                  std::round(stillDrops.empty() ? median : Median(stillDrops)));
            prove(Threat::Jamming, "satellites_down", static_cast<double>(nDown));
            prove(Threat::Jamming, "satellites_before", static_cast<double>(nRef));
        }
        if (static_cast<double>(nLost) >=
            level(Threat::Jamming, "satellites_lost", t.lostShare) * static_cast<double>(nRef)) {
            sign(Threat::Jamming, "satellites_lost");
            prove(Threat::Jamming, "satellites_lost", static_cast<double>(nLost));
            prove(Threat::Jamming, "satellites_before", static_cast<double>(nRef));
        }
    }
    const bool baselineCounts = w.baseline.epochs >= t.baselineMinEpochs;
    // The strongest four: a jammer takes the same dB from each, while how many weak or blocked
    // satellites a receiver lists changes with the sky and the receiver.
    double cn0Now = -1.0;
    if (tracked.size() >= 4) {
        std::vector<double> &top = w.top;
        top.assign(tracked.begin(), tracked.end());
        std::partial_sort(top.begin(), top.begin() + 4, top.end(), std::greater<>());
        cn0Now = (top[0] + top[1] + top[2] + top[3]) / 4.0;
    }
    if (baselineCounts && cn0Now > 0.0 && w.baseline.Cn0Median() > 0.0 &&
        cn0Now <= w.baseline.Cn0Median() -
                      level(Threat::Jamming, "cn0_below_baseline", t.baselineDropDb)) {
        sign(Threat::Jamming, "cn0_below_baseline");
        prove(Threat::Jamming, "cn0_strongest", std::round(cn0Now));
        prove(Threat::Jamming, "cn0_baseline", w.baseline.Cn0Median());
    }

    // The receiver's own indicators, against its learnt baseline or a minute ago.
    const Integrity *in = e.integrity;
    if (in != nullptr) {
        for (std::size_t b = 0; b < in->nBlocks && b < Integrity::kMaxBlocks; ++b) {
            const auto &blk = in->blocks[b];
            if (blk.jamInd >= 0) {
                w.Reference(w.jamInd[b], w.mono);
                const int learnt = baselineCounts ? w.baseline.JamIndMedian(b) : -1;
                // The series holds the indicator plus one (its 0 is a value).
                const double ref = learnt >= 0 ? learnt : w.jamInd[b].ref - 1.0;
                const double rise = blk.jamInd - ref;
                if (ref >= 0.0 && judge(Threat::Jamming, "jamming_indicator", rise >= t.jamIndRise,
                                        rise >= t.jamIndRise * release)) {
                    prove(Threat::Jamming, "jamming_indicator", blk.jamInd);
                    prove(Threat::Jamming, "jamming_indicator_baseline", std::round(ref));
                }
            }
            // Without a baseline nothing says what is usual for this receiver but its family:
            // a jammer already on at the start is seen by these.
            if (!baselineCounts && blk.jamInd >= 0 &&
                hold(Threat::Jamming, "jamming_indicator_high", blk.jamInd >= t.jamIndLimit,
                     blk.jamInd >= t.jamIndRelease)) {
                prove(Threat::Jamming, "jamming_indicator", blk.jamInd);
                prove(Threat::Jamming, "jamming_indicator_limit", t.jamIndLimit);
            }
            if (!baselineCounts && blk.agcPermil >= 0 &&
                hold(Threat::Jamming, "agc_low", blk.agcPermil <= t.agcMinPermil,
                     blk.agcPermil <= t.agcReleasePermil)) {
                prove(Threat::Jamming, "agc_permil", blk.agcPermil);
                prove(Threat::Jamming, "agc_limit_permil", t.agcMinPermil);
            }
            if (blk.agcPermil >= 0) {
                w.Reference(w.agc[b], w.mono);
                const int learnt = baselineCounts ? w.baseline.AgcMedianPermil(b) : -1;
                const double ref = learnt >= 0 ? learnt : w.agc[b].ref;
                const double drop = ref - blk.agcPermil;
                if (ref > 0.0 && judge(Threat::Jamming, "agc_drop", drop >= t.agcDropPermil,
                                       drop >= t.agcDropPermil * release)) {
                    prove(Threat::Jamming, "agc_permil", blk.agcPermil);
                    prove(Threat::Jamming, "agc_baseline_permil", std::round(ref));
                }
            }
        }
        if (in->jamming == kJamWarning || in->jamming == kJamCritical) {
            sign(Threat::Jamming, "receiver_jamming_state");
            prove(Threat::Jamming, "receiver_jamming_state", in->jamming);
        }
        if (in->spoofing == kSpoofIndicated || in->spoofing == kSpoofMultiple) {
            sign(Threat::Spoofing, "receiver_spoofing_state");
            prove(Threat::Spoofing, "receiver_spoofing_state", in->spoofing);
        }
    }

    // C/N0 flat and high across the sky: one transmitter.
    if (tracked.size() >= static_cast<std::size_t>(t.uniformMinSatellites)) {
        double sum = 0.0;
        for (const double v : tracked)
            sum += v;
        const double mean = sum / static_cast<double>(tracked.size());
        double var = 0.0;
        for (const double v : tracked)
            var += (v - mean) * (v - mean);
        const double spread = std::sqrt(var / static_cast<double>(tracked.size()));
        const double median = Median(tracked);
        if (spread <= t.uniformSpreadDb / level(Threat::Spoofing, "cn0_uniform", 1.0) &&
            median >= t.uniformMinCn0) {
            sign(Threat::Spoofing, "cn0_uniform");
            prove(Threat::Spoofing, "cn0_median", std::round(median));
            prove(Threat::Spoofing, "cn0_spread_db", std::round(spread * 10) / 10);
            prove(Threat::Spoofing, "satellites", static_cast<double>(tracked.size()));
        }
    }

    // The position against the speed the receiver reports; a lost fix breaks the chain.
    if (e.valid && w.validSince < 0.0)
        w.validSince = now;
    // A fix that just came back converges for a while: its first positions scatter widely.
    const bool settled = e.valid && now - w.validSince >= t.fixSettleS;
    if (settled && e.hasPosition && e.speedMps >= 0.0) {
        bool jumped = false;
        while (!w.fixes.empty() && now - w.fixes.front().t > t.positionWindowS)
            w.fixes.pop_front();
        if (!w.fixes.empty() && now - w.fixes.front().t >= 1.0) {
            const Impl::FixPoint &from = w.fixes.front();
            double fastest = e.speedMps;
            for (const auto &f : w.fixes)
                fastest = std::max(fastest, f.speed);
            const double span = now - from.t;
            double east = 0.0, north = 0.0;
            CLocalFrame(from.lat, from.lon).ToEastNorth(e.lat, e.lon, east, north);
            const double moved = std::hypot(east, north);
            // Three times the fix's own accuracy, or HDOP's estimate of it, beyond the slack.
            const double accuracy =
                e.hAccM > 0.0f ? e.hAccM : (e.hdop > 0.0 ? e.hdop * t.rangeErrorM : 0.0);
            const double slack = t.positionSlackM + 3.0 * accuracy;
            jumped = moved > (fastest + t.speedMarginMps) * span + slack;
            // One fix off on its own is one corrupt sentence: only the next one's word makes it
            // a sign.
            if (jumped && w.lastPosJump) {
                sign(Threat::Spoofing, "position_jump");
                prove(Threat::Spoofing, "moved_m", std::round(moved));
                prove(Threat::Spoofing, "over_s", std::round(span * 10) / 10);
                prove(Threat::Spoofing, "speed_mps", std::round(fastest * 10) / 10);
            }
        }
        // A lone fix off stays out of the positions it would spoil for the next ones.
        if (!jumped || w.lastPosJump)
            w.fixes.push_back({now, e.lat, e.lon, e.speedMps});
        if (w.lastPosJump && !jumped)
            ++w.unconfirmed;
        w.lastPosJump = jumped;
    } else if (!e.valid) {
        w.fixes.clear();
        w.validSince = -1.0;
        w.lastPosJump = false;
    }
    w.lastValid = e.valid;

    // Each threat's alarm: started by a sign held startHoldS (or an instant one), ended when
    // every sign has been gone endHoldS.
    const double m = w.mono;
    for (std::size_t k = 0; k < kThreatCount; ++k) {
        Impl::Alarm &a = w.alarms[k];
        const Threat threat = static_cast<Threat>(k);
        // One value per name: the first sign's.
        std::vector<std::pair<std::string, double>> proof;
        for (const auto &item : evidence[k])
            if (std::none_of(proof.begin(), proof.end(),
                             [&](const auto &p) { return p.first == item.first; }))
                proof.push_back(item);
        evidence[k] = std::move(proof);
        std::map<std::string, double> since;
        bool ripe = false;
        double onset = m;
        for (const std::string &s : signs[k]) {
            const auto old = a.signSince.find(s);
            const double first = old != a.signSince.end() ? old->second : m;
            since[s] = first;
            onset = std::min(onset, first);
            if (Instant(s) || m - first >= t.startHoldS)
                ripe = true;
        }
        a.signSince = std::move(since);
        auto words = [&](std::int64_t fromMs) {
            const std::string when = ClockText(fromMs);
            const auto ev = [&](const char *name) {
                for (const auto &[n, v] : evidence[k])
                    if (n == name)
                        return Number(v);
                return std::string("?");
            };
            const std::string &first = signs[k].front();
            std::string text =
                threat == Threat::Jamming ? "Possible jamming: " : "Possible spoofing: ";
            if (first == "cn0_drop")
                text += "C/N0 down " + ev("cn0_drop_db") + " dB on " + ev("satellites_down") +
                        " of " + ev("satellites_before") + " satellites";
            else if (first == "satellites_lost")
                text +=
                    ev("satellites_lost") + " of " + ev("satellites_before") + " satellites lost";
            else if (first == "cn0_below_baseline")
                text += "strongest C/N0 " + ev("cn0_strongest") + " dB-Hz, usually " +
                        ev("cn0_baseline");
            else if (first == "jamming_indicator")
                text += "jamming indicator " + ev("jamming_indicator") + ", usually " +
                        ev("jamming_indicator_baseline");
            else if (first == "jamming_indicator_high")
                text += "jamming indicator " + ev("jamming_indicator") + ", above " +
                        ev("jamming_indicator_limit") + " that no clean receiver shows";
            else if (first == "agc_low")
                text += "AGC " + ev("agc_permil") + "\u2030, below " + ev("agc_limit_permil") +
                        "\u2030 that no clean receiver shows";
            else if (first == "agc_drop")
                text += "AGC " + ev("agc_permil") + "\u2030, usually " + ev("agc_baseline_permil");
            else if (first == "receiver_jamming_state")
                text += std::string("the receiver reports jamming (") +
                        JammingWord(in != nullptr ? in->jamming : -1) + ")";
            else if (first == "cn0_uniform")
                text += "C/N0 " + ev("cn0_median") + " dB-Hz on " + ev("satellites") +
                        " satellites, spread " + ev("cn0_spread_db") + " dB";
            else if (first == "position_jump")
                text += "moved " + ev("moved_m") + " m in " + ev("over_s") + " s at " +
                        ev("speed_mps") + " m/s";
            else if (first == "time_jump")
                text += "fix time stepped " + ev("time_step_s") + " s";
            else
                text += "the receiver reports spoofing";
            return text + " since " + when;
        };
        if (!a.active) {
            if (!ripe)
                continue;
            a.active = true;
            a.endedShown = false;
            a.onsetT = onset;
            a.onsetMs = w.Stamp(onset);
            a.lastSignT = m;
            a.lastSignMs = w.Stamp(m);
            a.seen = signs[k];
            a.text = words(a.onsetMs);
            WatchEvent ev;
            ev.threat = threat;
            ev.start = true;
            ev.timeMs = w.Stamp(m);
            ev.hasDate = w.anchorHasDate;
            ev.signs = signs[k];
            ev.evidence = evidence[k];
            ev.text = a.text;
            w.events.push_back(std::move(ev));
            w.spans.insert(w.spans.begin(), AlarmSpan{threat, FloorDiv(a.onsetMs, 1000), -1});
            if (w.spans.size() > WatchStatus::kMaxSpans)
                w.spans.pop_back();
        } else if (!signs[k].empty()) {
            a.lastSignT = m;
            a.lastSignMs = w.Stamp(m);
            for (const std::string &s : signs[k])
                if (std::find(a.seen.begin(), a.seen.end(), s) == a.seen.end())
                    a.seen.push_back(s);
            a.text = words(a.onsetMs);
        } else if (m - a.lastSignT >= t.endHoldS) {
            a.active = false;
            a.endedShown = true;
            a.endT = m;
            WatchEvent ev;
            ev.threat = threat;
            ev.start = false;
            ev.timeMs = w.Stamp(m);
            ev.hasDate = w.anchorHasDate;
            ev.signs = a.seen;
            ev.durationS = std::round((a.lastSignT - a.onsetT + w.usualStep) * 10) / 10;
            a.text = std::string(threat == Threat::Jamming ? "Jamming" : "Spoofing") + " from " +
                     ClockText(a.onsetMs) + " to " + ClockText(a.lastSignMs) + " (" +
                     Number(ev.durationS) + " s)";
            ev.text = a.text;
            w.events.push_back(std::move(ev));
            for (AlarmSpan &s : w.spans)
                if (s.threat == threat && s.to < 0) {
                    // A fix time that went back during the alarm: the span keeps its length.
                    s.to = std::max(FloorDiv(a.lastSignMs + 999, 1000),
                                    s.from + static_cast<std::int64_t>(std::ceil(ev.durationS)));
                    if (a.lastSignMs >= a.onsetMs)
                        s.to = FloorDiv(a.lastSignMs + 999, 1000);
                    break;
                }
        }
    }
    for (Impl::Alarm &a : w.alarms)
        if (a.endedShown && m - a.endT > t.shownAfterS)
            a.endedShown = false;

    // What a clean epoch teaches: a reference for later epochs and the receiver's baseline.
    // A spoofer's flat C/N0 is no reference either.
    const bool clean = !stirred && signs[0].empty() && signs[1].empty() && !w.alarms[0].active &&
                       !w.alarms[1].active;
    if (sky != nullptr)
        for (std::size_t i = 0; i < sky->count; ++i)
            w.Add(*named[i], w.mono, sky->sats[i].snr, clean);
    // Satellites not named for a minute are forgotten. Times named only rise, so the oldest
    // seen at the last look bounds them all: no look until it is a minute old.
    if (w.mono - w.oldestNamed > t.referenceFromS) {
        std::erase_if(w.sats,
                      [&](const auto &kv) { return w.mono - kv.second.lastT > t.referenceFromS; });
        w.oldestNamed = w.mono;
        for (const auto &kv : w.sats)
            w.oldestNamed = std::min(w.oldestNamed, kv.second.lastT);
    }
    if (in != nullptr)
        for (std::size_t b = 0; b < in->nBlocks && b < Integrity::kMaxBlocks; ++b) {
            if (in->blocks[b].jamInd >= 0)
                w.Add(w.jamInd[b], w.mono, in->blocks[b].jamInd + 1.0, clean); // 0 is a value here
            if (in->blocks[b].agcPermil >= 0)
                w.Add(w.agc[b], w.mono, in->blocks[b].agcPermil, clean);
        }
    if (clean && e.valid) {
        WatchBaseline &base = w.baseline;
        if (cn0Now > 0.0 && tracked.size() >= static_cast<std::size_t>(t.minSatellites))
            base.cn0[std::min<std::size_t>(static_cast<std::size_t>(cn0Now),
                                           WatchBaseline::kCn0Bins - 1)] += 1.0;
        if (in != nullptr)
            for (std::size_t b = 0; b < in->nBlocks && b < Integrity::kMaxBlocks; ++b) {
                if (in->blocks[b].jamInd >= 0)
                    base.jamInd[b][std::min(static_cast<std::size_t>(in->blocks[b].jamInd),
                                            std::size_t{255})] += 1.0;
                if (in->blocks[b].agcPermil >= 0)
                    base.agc[b][std::min(static_cast<std::size_t>(in->blocks[b].agcPermil / 10),
                                         std::size_t{100})] += 1.0;
            }
        base.epochs += 1.0;
        ++w.epochsSinceSave;
    }
}

bool CIntegrityWatch::SaveDue() const {
    return m_impl->epochsSinceSave >= m_impl->t.saveEveryEpochs;
}

std::vector<WatchEvent> CIntegrityWatch::TakeEvents() {
    std::vector<WatchEvent> out;
    out.swap(m_impl->events);
    return out;
}

WatchStatus CIntegrityWatch::Status() const {
    const Impl &w = *m_impl;
    WatchStatus s;
    for (std::size_t k = 0; k < kThreatCount; ++k) {
        const Impl::Alarm &a = w.alarms[k];
        s.alarms[k].active = a.active;
        s.alarms[k].ended = !a.active && a.endedShown;
        if (a.active || a.endedShown) {
            s.alarms[k].text = a.text;
            s.alarms[k].sinceMs = a.onsetMs;
        }
    }
    s.learning = w.baseline.epochs < w.t.baselineMinEpochs;
    s.receiver = m_receiver;
    s.unconfirmed = w.unconfirmed;
    s.spans = w.spans;
    return s;
}

std::string CIntegrityWatch::BaselinePath(const std::string &stateDir,
                                          const std::string &receiver) {
    std::string safe;
    for (const char c : receiver)
        safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')
                    ? c
                    : '_';
    if (safe.empty() || safe[0] == '.')
        safe.insert(safe.begin(), '_');
    return stateDir + "/baseline-" + safe.substr(0, 120) + ".txt";
}

void CIntegrityWatch::SetReceiver(const std::string &receiver, const std::string &stateDir) {
    Impl &w = *m_impl;
    m_receiver = receiver;
    w.stateDir = stateDir;
    if (stateDir.empty())
        return;
    std::string text;
    if (!ReadSmallFile(BaselinePath(stateDir, receiver), text))
        return;
    WatchBaseline stored;
    std::string error;
    if (!WatchBaseline::FromText(text, stored, error))
        return; // learnt again, and the file replaced once it is
    // A few epochs before the receiver named itself taught less than its stored baseline, and
    // may have been jammed already: the stored one replaces them.
    w.baseline = stored;
    w.epochsSinceSave = 0;
}

bool CIntegrityWatch::SaveBaseline(std::string &error) {
    Impl &w = *m_impl;
    error.clear();
    if (w.stateDir.empty() || m_receiver.empty() || w.baseline.epochs < w.t.baselineMinEpochs ||
        w.epochsSinceSave == 0)
        return true;
    // A week of seconds at most: older habits fade as the installation changes.
    constexpr double kMaxEpochs = 7 * 86400.0;
    if (w.baseline.epochs > kMaxEpochs) {
        const double f = kMaxEpochs / 2 / w.baseline.epochs;
        for (double &c : w.baseline.cn0)
            c *= f;
        for (auto &bins : w.baseline.jamInd)
            for (double &c : bins)
                c *= f;
        for (auto &bins : w.baseline.agc)
            for (double &c : bins)
                c *= f;
        w.baseline.epochs *= f;
    }
    if (!platform::MakeDirs(w.stateDir)) {
        error = w.stateDir + ": " + std::strerror(errno);
        return false;
    }
    const std::string path = BaselinePath(w.stateDir, m_receiver);
    // A name of this writer's own: two ports watching receivers of one model (a comparison)
    // save the same baseline, and a shared new file would be cut by one while the other writes.
    static std::atomic<unsigned> s_writes{0};
    const std::string temp = path + ".new." + std::to_string(::getpid()) + "." +
                             std::to_string(s_writes.fetch_add(1, std::memory_order_relaxed));
    const std::string text = w.baseline.ToText(m_receiver);
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int writeErrno = errno;
    if (std::fclose(f) != 0 || !written) {
        error = temp + ": " + std::strerror(written ? errno : writeErrno);
        ::unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    w.epochsSinceSave = 0;
    return true;
}
