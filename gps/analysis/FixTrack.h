#pragma once

// analysis: what an epoch means: the fix track, the signal history, the integrity watch.

#include "model/Geodesy.h"
#include "model/NmeaDecoder.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// One epoch's fix at the precision the sentences carry (the 120-byte record rounds the position to
// millionths of a degree and the altitude to whole metres).
struct TrackFix {
    double lat = 0.0; // degrees, north positive
    double lon = 0.0; // degrees, east positive
    double alt = 0.0; // metres above mean sea level, from GGA
    bool hasAlt = false;
    double utcSeconds = -1.0; // seconds into the UTC day; -1 when no time was sent
    int date = 0;             // yyyymmdd from the latest RMC; 0 before any
    double speedKmh = -1.0;   // RMC speed; -1 when not sent
    double course = -1.0;     // RMC course, degrees true; -1 when not sent
    int fixMode = 0;          // latest GSA mode 1-3; 0 before any
    int quality = -1;         // GGA quality; -1 when the fix came from RMC alone
    int satsUsed = -1;        // GGA; -1 when not sent
    double hdop = -1.0;       // GGA or NAV-DOP; -1 when not sent
};

// Collects one valid fix per epoch from checksummed sentences: the GGA position when its quality
// is above 0, else the RMC position when its status is A. Sentences with the same UTC time make
// one epoch whatever their talkers ($GPGGA and $GLGGA of one second are one fix); GSA, which
// carries no time, counts for the epoch in progress. Every value a fix takes is finite and in
// range (latitude within 90 degrees, longitude within 180 with their hemisphere letters, altitude,
// speed, course and HDOP as a receiver can mean them): a sentence that claims a fix with anything
// else gives none and is counted.
// A u-blox receiver's binary solution makes the same fixes: NAV-PVT (or NAV-SOL, NAV-STATUS with
// NAV-POSLLH, NAV-VELNED, NAV-TIMEUTC), NAV-HPPOSLLH's finer position and NAV-DOP's HDOP, one fix
// per time of week (NAV-EOE ends it) when gnssFixOK and the fix type is 2D, 3D, GNSS with dead
// reckoning or time only. Once UBX has reported a fix status and a position, sentences make no
// more fixes (the sentences' epoch then in progress stands only if UBX's first is another time):
// a receiver sending both speaks for each epoch twice, and UBX says more.
class CFixTrack {
public:
    // One sentence, "$" through "*hh" (line end optional); other types are ignored. fields: the
    // decoder's split of it, when it made one (CNmeaDecoder::SentenceFields).
    void AddSentence(const char *sentence, std::size_t len,
                     const CNmeaDecoder::Fields *fields = nullptr);
    // One UBX frame, "B5 62" through its checksum, the checksum already checked; other messages
    // are ignored.
    void AddFrame(const unsigned char *frame, std::size_t len);
    // The fix the epoch in progress gives so far, if any.
    std::optional<TrackFix> PendingFix() const;
    // Ends the epoch in progress (call at the end of the stream).
    void Finish();
    const std::vector<TrackFix> &Fixes() const { return m_fixes; }
    // The fixes collected so far, handed over and forgotten here.
    std::vector<TrackFix> TakeFixes() { return std::exchange(m_fixes, {}); }
    // Sentences that claimed a fix with a value no receiver can mean, so gave none.
    std::size_t Rejected() const { return m_rejected; }
    // Gives a fix made before any date was known the first date the stream gave (the day before
    // when its time is later than that date's); Fixes() are given it as the date comes.
    void DateUndated(TrackFix &fix) const;

private:
    struct Epoch {
        bool open = false;
        double utc = -1.0;
        bool hasGga = false, hasRmc = false;
        bool ggaFix = false, rmcFix = false;
        TrackFix gga, rmc;
    };
    // What the UBX messages of one time of week said.
    struct UbxEpoch {
        bool open = false;
        std::uint32_t iTow = 0;
        // Which message gave each part (0 none); a fuller one replaces a lesser one's word.
        int statusFrom = 0, posFrom = 0, velFrom = 0;
        bool timeFromPvt = false;
        bool fixOk = false;
        int fixType = 0;
        bool badPos = false, badVel = false, badHdop = false;
        TrackFix fix;
    };
    void StartEpoch(double utc);
    void SetDate(int date, double utc);
    void CloseEpoch();
    bool Accept(bool claimsFix, bool anyBad);
    void StartUbxEpoch(std::uint32_t iTow);
    void UbxStatus(int from, int fixType, bool fixOk, bool diff, int carrSoln);
    void UbxPosition(int from, double lat, double lon, std::optional<double> alt,
                     bool plausible = true);
    void UbxVelocity(int from, double kmh, double course);
    void UbxUtc(bool fromPvt, int hour, int min, int sec, std::uint32_t iTow);
    void UbxDate(int year, int month, int day, double utc);
    void Speaks();
    bool UbxClaimsFix() const;
    std::optional<TrackFix> PendingNmeaFix() const;
    std::optional<TrackFix> PendingUbxFix() const;
    void CloseUbxEpoch();

    Epoch m_epoch;
    UbxEpoch m_ubx;
    bool m_ubxSpeaks = false;           // UBX reported a position: sentences make no fixes
    std::optional<TrackFix> m_handover; // the sentences' epoch in progress when UBX began
    std::size_t m_rejected = 0;
    int m_date = 0;
    int m_firstDate = 0;          // the first date the stream gave, yyyymmdd
    double m_firstDateUtc = -1.0; // the time of day that came with it
    int m_fixMode = 0;
    std::vector<TrackFix> m_fixes;
};

struct GeoPoint {
    double lat = 0.0, lon = 0.0, alt = 0.0;
    bool hasAlt = false;
};

// The spread of a set of fixes about their mean, or about a reference point when one is given.
struct PositionStats {
    std::size_t fixes = 0;
    GeoPoint mean;           // hasAlt: some fix had an altitude
    GeoPoint centre;         // the mean, or the reference
    double cep50 = 0.0;      // median horizontal distance from the centre, metres
    double cep95 = 0.0;      // 95th percentile of the same
    double drms2 = 0.0;      // twice the root of the mean squared distance
    double vertical95 = 0.0; // 95th percentile of |h - mean h| over fixes with an altitude
    double meanEast = 0.0, meanNorth = 0.0; // the mean's offset from the centre, metres
    double meanUp = 0.0; // mean altitude minus the reference's (both must have one)
};

// The p-th percentile (0-100) by linear interpolation between closest ranks, the first rank at 0
// and the last at N-1. Sorts values. Empty input gives 0.
double Percentile(std::vector<double> &values, double p);

// Statistics of the fixes; reference replaces the mean as the centre.
PositionStats ComputePositionStats(std::span<const GeoPoint> fixes,
                                   const std::optional<GeoPoint> &reference = std::nullopt);

// "LAT,LON[,ALT]" in degrees and metres; false on anything else or out of range.
bool ParseReference(const std::string &text, GeoPoint &point);

// "2020-03-27T12:34:56Z" (fractions only when sent); the time of day alone when no date is known;
// "" when no time was sent.
std::string FixTimeText(const TrackFix &fix);

// The fixes as GPX 1.1 (one track, one segment) and as CSV with a header line.
std::string TrackToGpx(std::span<const TrackFix> fixes);
std::string TrackToCsv(std::span<const TrackFix> fixes);

// The session's last kCapacity fixes for the window's scatter; fed on the reader thread, copied
// on any other.
class CFixHistory {
public:
    static constexpr std::size_t kCapacity = 100000;
    void OnSentence(const char *sentence, std::size_t len,
                    const CNmeaDecoder::Fields *fields = nullptr);
    // A good binary frame, as NmeaHooks::onFrame gives it.
    void OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len);
    // The fixes held, oldest first.
    std::vector<GeoPoint> CopyPoints() const;
    void Clear();

private:
    void TakeFixes();

    mutable std::mutex m_lock;
    CFixTrack m_track;
    std::vector<GeoPoint> m_ring;
    std::size_t m_next = 0; // where the next fix goes once the ring is full
};
