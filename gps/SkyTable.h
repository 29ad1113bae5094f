#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

// The satellite systems, in the order the window lists them.
enum class Gnss : std::uint8_t { GPS, SBAS, GLONASS, Galileo, BeiDou, QZSS, NavIC };
constexpr std::size_t kGnssCount = 7;
// The short name used in texts and in the decode tool's JSON ("GPS", "GLONASS", ...).
const char *GnssName(Gnss gnss);

// One signal of a satellite: receivers of NMEA 4.11 report a satellite once per signal.
struct SkySignal {
    std::uint8_t id = 0;      // signal id as sent, 0 when the sentence has none
    std::uint8_t snr = 0;     // dB-Hz, 0 = not tracked
    std::int64_t heardMs = 0; // when last heard, on the decoder's clock
};

// The band of a signal id in a system ("L1 C/A", "L5 Q", "E1", "E5a", "B1I", ...); "" for id 0
// (the sentence named none) and "unknown" for an id outside the table.
const char *BandName(Gnss gnss, int signalId);

// One satellite in view.
struct SkySat {
    static constexpr std::size_t kMaxSignals = 4;
    Gnss gnss = Gnss::GPS;
    std::uint16_t sv = 0;     // number within its system (SBAS: 120-158)
    std::int16_t el = 0;      // degrees
    std::int16_t az = 0;      // degrees
    std::uint8_t snr = 0;     // dB-Hz of the strongest signal, 0 = none
    bool used = false;        // in a used set of the latest GSA of its system
    bool hasPosition = false; // elevation and azimuth were given
    // Every signal it was reported on ("signals" is a Qt keyword).
    SkySignal sigs[kMaxSignals];
    std::uint8_t nSigs = 0;
};

// A copy of the table for the window: satellites sorted by system, then number.
struct SkyView {
    static constexpr std::size_t kMax = 128;
    SkySat sats[kMax];
    std::size_t count = 0;
    std::size_t inView[kGnssCount]{};
    std::size_t usedBy[kGnssCount]{};
    std::size_t used = 0; // satellites in view that are used, all systems
    // Signals with a strength above 0, per system and in all.
    std::size_t tracked[kGnssCount]{};
    std::size_t signalsTracked = 0;
    // Satellites that did not fit the view, per system and in all.
    std::size_t leftOutBy[kGnssCount]{};
    std::size_t leftOut = 0;
    std::int16_t pdop = 0; // tenths, from the latest GSA
    std::int16_t hdop = 0;
    std::int16_t vdop = 0;
};

// A satellite as a sentence names it: the hint is what the sentence says about its system (the
// system id or the talker); without one (GN), the number range decides.
struct SatNumber {
    Gnss gnss;
    std::uint16_t sv;
};
// Maps a sentence's satellite number to system and number; false for numbers no receiver uses.
// hint < 0: no hint.
bool MapSatellite(int hint, int prn, SatNumber &out);

// The satellites in view by system, filled by GSV and GSA sentences on the reader thread and
// copied by the window. Every call is safe from any thread.
class CSkyTable {
public:
    static constexpr std::int64_t kDropMs = 5000;
    struct GsvSat {
        int prn;
        int el, az, snr;
        bool hasPosition;
    };

    // One GSV message: cycle key (hint, signal id), message number of total, its satellites.
    void OnGsv(int hint, int signal, int total, int message, const GsvSat *sats, std::size_t n,
               std::int64_t nowMs);
    // One GSA: the used set of group (the system id or talker hint, or for GN the system of its
    // first satellite) and the DOPs in tenths.
    // Without a fix (mode below 2) nothing is used, in any system.
    void OnGsa(int hint, const int *prns, std::size_t n, std::int16_t pdop, std::int16_t hdop,
               std::int16_t vdop, int fixMode, std::int64_t nowMs);
    // The view as of nowMs: cycles and used sets older than kDropMs are left out.
    void Copy(SkyView &out, std::int64_t nowMs) const;
    void Clear();

private:
    static constexpr std::size_t kKeys = kGnssCount + 1; // the systems and "no hint" (GN)
    static constexpr std::size_t kSignals = 4;
    static constexpr std::size_t kMaxList = SkyView::kMax;

    // Satellites as the sentences gave them; numbers are mapped only when the window copies.
    struct List {
        GsvSat sats[kMaxList];
        std::size_t count = 0;
        std::int64_t when = 0;
        int signal = -1;
        bool valid = false;
    };
    struct Cycle {
        List done;
        List pending;
        int total = 0;
        int next = 0; // the message number expected next, 0 when no cycle is open
    };
    struct UsedSet {
        int prns[kMaxList]{};
        int hint = -1;
        std::size_t count = 0;
        std::int64_t when = 0;
        bool valid = false;
    };

    Cycle *CycleFor(std::size_t key, int signal, std::int64_t nowMs);

    mutable std::mutex m_lock;
    // kSignals cycles per key, on the heap: the decoder lives on callers' stacks.
    std::unique_ptr<Cycle[]> m_cycles = std::make_unique<Cycle[]>(kKeys * kSignals);
    UsedSet m_used[kGnssCount];
    std::int16_t m_pdop = 0, m_hdop = 0, m_vdop = 0;
};
