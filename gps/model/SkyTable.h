#pragma once

#include <atomic>
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
    std::uint8_t id = 0;  // signal id as sent, 0 when the sentence has none
    std::uint8_t snr = 0; // dB-Hz, 0 = not tracked
    std::int8_t quality =
        -1; // the receiver's tracking state, 0-7 (SignalQualityWord); -1 not given
    std::int64_t heardMs = 0; // when last heard, on the decoder's clock
};

// A signal's tracking state as u-blox receivers report it: "no signal", "searching", "acquired",
// "unusable", "code lock", "carrier lock" (5 to 7); "" for anything else.
const char *SignalQualityWord(int quality);

// The band of a signal id in a system ("L1 C/A", "L5 Q", "E1", "E5a", "B1I", ...); "" for id 0
// (the sentence named none) and "unknown" for an id outside the table.
const char *BandName(Gnss gnss, int signalId);

// The signal a receiver reports when its sentences name none: its system's first (L1 C/A, G1 C/A,
// E1, B1I); signalId itself when it names one. So a receiver that names none compares with one
// that does.
int SignalOrFirst(Gnss gnss, int signalId);

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
// True when sv is a number its system gives its satellites (GPS 1-32, SBAS 120-158, GLONASS
// 1-32, Galileo 1-36, BeiDou 1-63, QZSS 1-10, NavIC 1-14), as MapSatellite gives them.
bool IsSatelliteNumber(Gnss gnss, int sv);

// The satellites in view by system, filled by GSV and GSA sentences on the reader thread and
// copied by the window. The reader stores into its own half; Publish makes what it stored visible
// to Copy, under one lock. OpenGsv, CloseGsv, OnGsa and Publish: the reader thread only; Copy and
// Clear: any thread.
class CSkyTable {
public:
    static constexpr std::int64_t kDropMs = 5000;
    struct GsvSat {
        int prn;
        int el, az, snr;
        bool hasPosition;
        std::uint8_t signal; // NMEA 4.11 signal id of its message, 0 when it has none
    };

    // One GSV message (message of total, inView satellites in its sequence), written in place:
    // OpenGsv returns where its satellites go, room of them, or nullptr when the message does
    // not continue a sequence; CloseGsv then says how many were written. signal: the message's
    // signal id, -1 when it has none. A sequence is one cycle whatever ids its messages carry.
    GsvSat *OpenGsv(int hint, int signal, int total, int message, int inView, std::size_t &room);
    void CloseGsv(std::size_t n, std::int64_t nowMs);
    // One GSA: the used set of group (the system id or talker hint, or for GN the system of its
    // first satellite) and the DOPs in tenths.
    // Without a fix (mode below 2) nothing is used, in any system.
    void OnGsa(int hint, const int *prns, std::size_t n, std::int16_t pdop, std::int16_t hdop,
               std::int16_t vdop, int fixMode, std::int64_t nowMs);
    // The receiver's own binary list of satellites with their signals, which replaces the
    // sentences' (GSV, GSA) in Copy while it is at most kUbxHoldMs old and data still comes
    // (receivers send it every 1 to 10 s). At most SkyView::kMax are kept.
    static constexpr std::int64_t kUbxHoldMs = 30000;
    void OnUbxSky(const SkySat *sats, std::size_t n, std::int64_t nowMs);
    // The DOPs of a binary message in tenths, which replace GSA's in Copy while recent.
    void OnUbxDops(std::int16_t pdop, std::int16_t hdop, std::int16_t vdop, std::int64_t nowMs);
    // Data came at nowMs: the binary list stays while it does.
    void Heard(std::int64_t nowMs) { m_heardMs.store(nowMs, std::memory_order_relaxed); }
    // Shows Copy every cycle completed and every GSA stored since the last call.
    void Publish();
    // Called by the reader before it stores: drops its own half after a Clear.
    void TakeClear();
    // The view as of nowMs: cycles and used sets older than kDropMs are left out. When more
    // satellites are in view than it holds, the used ones are kept first, then the strongest.
    void Copy(SkyView &out, std::int64_t nowMs) const;
    void Clear();

    // What a copy read depends on besides the clock: the stores shown so far, and when the first
    // thing it showed ages out.
    struct Stamp {
        bool taken = false;
        std::uint64_t stores = 0;
        std::int64_t takenMs = 0;
        std::int64_t agesMs = 0; // the first moment after takenMs that ends something shown
        bool heardStale = false; // the binary list waits for data before it shows again
    };
    // True when a copy at nowMs may read differently from the copy taken when last was stamped;
    // last is then stamped for the copy taken now. For a reader that copies on its own thread:
    // the decode tool prints the table only when it changed, and copies only when it may have.
    bool MayDiffer(Stamp &last, std::int64_t nowMs) const;

private:
    static constexpr std::size_t kKeys = kGnssCount + 1; // the systems and "no hint" (GN)
    static constexpr std::size_t kSlots = 8;             // sequences per key (one per signal)
    static constexpr std::size_t kSlotCount = kKeys * kSlots;
    // A sequence may list more satellites than the view holds: Copy picks the ones to keep.
    static constexpr std::size_t kMaxList = 2 * SkyView::kMax;

    // Satellites as the sentences gave them; numbers are mapped only when the window copies.
    struct List {
        GsvSat sats[kMaxList];
        std::size_t count = 0;
    };
    // One sequence's two lists: Copy reads lists[shown], the reader fills the other and flips.
    struct Slot {
        List lists[2];
        // Under m_lock.
        std::uint8_t shown = 0;
        bool valid = false;
        std::int64_t when = 0;
        std::uint64_t order = 0; // heardSeq when shown
        // Reader thread only.
        int key = -2; // signal id of the sequence's first message, -1 none, -2 free
        std::int64_t heardMs = 0;
        // Which sequence finished later, by count rather than clock: two finished in the same
        // millisecond (one block) still have an order, so block edges change nothing.
        std::uint64_t heardSeq = 0;
        bool ready = false; // the other list is complete and waits for Publish
        bool hide = false;  // the sequence stopped: Publish hides it
    };
    // The sequence being received under one key (reader thread only).
    struct Open {
        Slot *slot = nullptr;
        int total = 0;
        int next = 0; // the message number expected next, 0 when none is open
        int inView = 0;
    };
    struct UsedSet {
        int prns[kMaxList]{};
        int hint = -1;
        std::size_t count = 0;
        std::int64_t when = 0;
        bool valid = false;
    };

    struct UbxList {
        SkySat sats[SkyView::kMax];
        std::size_t count = 0;
        std::int64_t when = 0; // 0: none
        std::int16_t dops[3]{};
        std::int64_t dopsWhen = 0; // 0: none
    };
    Slot *SlotFor(std::size_t key, int signal);
    void ResetWork();

    mutable std::mutex m_lock;
    // Slots on the heap: the decoder lives on callers' stacks. Their lists are not cleared: only
    // the first count entries are read.
    std::unique_ptr<Slot[]> m_slots{new Slot[kSlotCount]};
    // Published under m_lock.
    UsedSet m_used[kGnssCount];
    std::int16_t m_pdop = 0, m_hdop = 0, m_vdop = 0;
    // The reader's half.
    Open m_open[kKeys];
    Open *m_current = nullptr; // the sequence of the message between OpenGsv and CloseGsv
    Slot *m_ready[kSlotCount]{};
    std::size_t m_nReady = 0;
    std::uint64_t m_nSequences = 0; // finished GSV sequences, for their order
    UsedSet m_workUsed[kGnssCount];
    bool m_usedDirty[kGnssCount]{};
    std::int16_t m_workDops[3]{};
    bool m_dirty = false;
    // The binary list: the reader's half and, under m_lock, the one Copy reads.
    std::unique_ptr<UbxList> m_workUbx{new UbxList};
    std::unique_ptr<UbxList> m_ubx{new UbxList};
    bool m_ubxDirty = false;
    std::atomic<std::int64_t> m_heardMs{0};
    std::atomic<bool> m_clearAsked{false};
    std::uint64_t m_stores = 0; // Publish and Clear calls that changed what Copy reads; m_lock
};
