#pragma once

#include "model/FixExtra.h"
#include "model/SkyTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CNmeaDecoder;

// What the watch looks for. Every value comes from the thresholds file (the shipped one, then the
// user's copy), whose comments say why each has its value.
struct WatchThresholds {
    // Jamming: satellites tracked between referenceFromS and referenceToS seconds ago are the
    // reference; their C/N0 now against their median then.
    double referenceFromS = 0, referenceToS = 0;
    double cn0DropDb = 0;      // the median drop that counts
    double cn0DropShare = 0;   // the share of reference satellites down by cn0DropDb or lost
    int minSatellites = 0;     // reference satellites still in view needed to judge
    double lostShare = 0;      // the share of them no longer tracked that counts as a collapse
    double baselineDropDb = 0; // the strongest four's C/N0 below the receiver's baseline
    int jamIndRise = 0;        // jamming indicator above its baseline
    int agcDropPermil = 0;     // AGC below its baseline, tenths of a percent of its range
    // Until the receiver's baseline counts: limits no clean receiver reaches, each with the
    // level it must come back past to release (u-blox jamming indicator 0-255, AGC per mille).
    int jamIndLimit = 0, jamIndRelease = 0;
    int agcMinPermil = 0, agcReleasePermil = 0;
    // A sign once raised holds while its measure is past this share of its raise level.
    double releaseShare = 0;
    // Spoofing.
    double uniformSpreadDb = 0; // standard deviation of C/N0 across satellites at most this
    double uniformMinCn0 = 0;   // with a median of at least this
    int uniformMinSatellites = 0;
    double positionWindowS = 0; // positions this far back are compared with the speed since
    double positionSlackM = 0;  // metres a fix may wander beyond what its speed allows
    double fixSettleS = 0;      // a fix held this long before its positions are compared
    double speedMarginMps = 0;  // and m/s beyond the speed it reports
    double rangeErrorM = 0;     // times HDOP: the fix's scatter when it gives no accuracy
    double timeSlackS = 0;      // fix time ahead of the time since the last epoch
    double maxEpochGapS = 0;    // without a clock (a recording): a longer step is a jump
    // An alarm starts when a sign held for startHoldS (one-epoch signs at once) and ends when
    // every sign has been gone for endHoldS; an ended alarm stays on show for shownAfterS.
    double startHoldS = 0, endHoldS = 0, shownAfterS = 0;
    // The receiver's baseline counts once it has learnt from this many clean epochs, and is
    // written to the state folder every saveEveryEpochs.
    int baselineMinEpochs = 0;
    int saveEveryEpochs = 0;
};

// The shipped thresholds file, compiled in.
std::string_view DefaultThresholdsText();
// Reads "name = value  # comment" lines into t. Unknown names and bad values leave t as it was
// for that line and add a message "line N: ..." to problems; false when there were any.
bool ParseThresholds(std::string_view text, WatchThresholds &t, std::vector<std::string> &problems);
// The shipped values, then the user's copy ($XDG_CONFIG_HOME/skywatch/integrity.conf, or
// ~/.config/...) over them, where it exists. problems names the file with each line refused.
WatchThresholds LoadThresholds(std::vector<std::string> &problems);

enum class Threat : std::uint8_t { Jamming, Spoofing };
constexpr std::size_t kThreatCount = 2;
// "jamming", "spoofing".
const char *ThreatName(Threat threat);

// One epoch as the watch sees it.
struct WatchEpoch {
    std::int64_t timeMs = -1; // fix time UTC, ms since 1970 (day 0 without a date); -1 none
    bool hasDate = false;
    std::int64_t arrivedMs = -1; // when it arrived on a steady clock; -1 unknown (a recording)
    bool valid = false;          // a 2D or 3D fix the receiver calls valid
    bool hasPosition = false;
    double lat = 0.0, lon = 0.0; // degrees
    double speedMps = -1.0;      // below 0 when not sent
    float hAccM = -1.0f;
    double hdop = -1.0; // below 0 when not sent
    const SkyView *sky = nullptr;
    const Integrity *integrity = nullptr;
};

// The epoch the decoder holds now; sky is the caller's room for the satellites.
WatchEpoch EpochOf(const CNmeaDecoder &decoder, SkyView &sky, Integrity &integrity,
                   std::int64_t arrivedMs);

// A start or an end of an alarm, with the signs and their numbers at that moment.
struct WatchEvent {
    Threat threat = Threat::Jamming;
    bool start = true;
    // The watch's clock, in WatchEpoch's terms: the fix time of the last epoch before the alarm
    // whose time went on as usual, plus the watch's seconds since; an end is never before its
    // start, whatever the fix time did.
    std::int64_t timeMs = 0;
    bool hasDate = false;
    std::vector<std::string> signs;
    std::vector<std::pair<std::string, double>> evidence;
    double durationS = 0.0; // an end's: from the start to the last epoch with a sign
    std::string text;       // "Possible jamming: C/N0 down 14 dB on 22 of 25 satellites since ..."
};
// The event as one JSON line (no line end).
std::string EventToJson(const WatchEvent &event);

// A time span with an alarm, for the signal history; seconds of fix time as HistorySample's.
struct AlarmSpan {
    Threat threat = Threat::Jamming;
    std::int64_t from = 0;
    std::int64_t to = -1; // -1 while it goes on
};

// What the window shows: each threat's alarm now, or the one that ended a moment ago.
struct WatchStatus {
    struct Alarm {
        bool active = false;
        bool ended = false; // ended within shownAfterS
        std::string text;   // the start's words, kept up to date while active; the end's after
        std::int64_t sinceMs = 0;
    };
    Alarm alarms[kThreatCount];
    bool learning = true; // no baseline of this receiver yet (neither stored nor learnt)
    std::string receiver; // whose baseline, "" until known
    // Times and positions of a lone epoch that the next one did not go on from (one corrupt
    // sentence): counted, never a sign.
    std::uint64_t unconfirmed = 0;
    std::vector<AlarmSpan> spans; // the latest first, at most kMaxSpans
    static constexpr std::size_t kMaxSpans = 64;
};

// A receiver's usual signal: histograms of its epochs' C/N0 (the strongest four's mean) and of
// each RF block's jamming indicator and AGC, learnt from epochs without alarm and kept across
// runs.
struct WatchBaseline {
    static constexpr std::size_t kCn0Bins = 100; // dB-Hz
    static constexpr std::size_t kJamBins = 256; // the indicator's range
    static constexpr std::size_t kAgcBins = 101; // tens of permil
    std::array<double, kCn0Bins> cn0{};
    std::array<std::array<double, kJamBins>, Integrity::kMaxBlocks> jamInd{};
    std::array<std::array<double, kAgcBins>, Integrity::kMaxBlocks> agc{};
    double epochs = 0.0;
    // Medians, -1 with nothing learnt.
    double Cn0Median() const;
    int JamIndMedian(std::size_t block) const;
    int AgcMedianPermil(std::size_t block) const;
    std::string ToText(const std::string &receiver) const;
    // False with the reason when text is not a baseline; out is then left as it was.
    static bool FromText(std::string_view text, WatchBaseline &out, std::string &error);
};

// Watches every epoch for signs of jamming and spoofing and raises an alarm per threat while they
// last. Fed on one thread; the owner locks around Status for others.
// The signs: each satellite's C/N0 against its median of a minute ago, the strongest four against
// the receiver's baseline, its jamming indicator and AGC, C/N0 flat across the sky, a position
// that outruns the reported speed, a fix time that steps back or ahead of the clock. A sign held
// 2 s (a one-epoch sign at once) starts the threat's alarm, 10 s without any ends it; holds run on
// the watch's own clock of epochs, so a jump of the fix time cannot end an alarm. A live source
// has the arrival clock to tell a gap (everything starts afresh) from a jump; a recording has not,
// so there only a step back is a jump. A live receiver's baseline is named by its family and
// version, or its device, and kept in the state folder; a recording neither reads nor writes one.
class CIntegrityWatch {
public:
    explicit CIntegrityWatch(const WatchThresholds &t);
    ~CIntegrityWatch();

    void OnEpoch(const WatchEpoch &e);
    // The receiver restarts or the stream jumped: what it tracked before compares with nothing
    // after (an alarm on show stays until its signs have been gone for endHoldS).
    void ResetReferences();
    // Events since the last call, oldest first.
    std::vector<WatchEvent> TakeEvents();
    // Stopped data says nothing new: the window greys the state; the next epoch after a gap
    // starts the comparisons afresh.
    WatchStatus Status() const;

    // The receiver whose baseline to use: its stored one in stateDir, when there is one,
    // replaces what this run learnt so far (stateDir "": kept in memory only).
    void SetReceiver(const std::string &receiver, const std::string &stateDir);
    const std::string &Receiver() const { return m_receiver; }
    // Writes the baseline to the state folder (a new file renamed over the old); false with the
    // reason when it could not. Nothing is written before baselineMinEpochs, with nothing learnt
    // since the last write, or with no folder.
    bool SaveBaseline(std::string &error);
    // True once saveEveryEpochs clean epochs were learnt since the last save.
    bool SaveDue() const;
    // The file a receiver's baseline is kept in: stateDir/baseline-<receiver, made safe>.txt.
    static std::string BaselinePath(const std::string &stateDir, const std::string &receiver);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_receiver;
};
