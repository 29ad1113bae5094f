#pragma once

#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/NavReport.h"
#include "model/SkyTable.h"
#include "protocol/ScanCounters.h"
#include "protocol/UbxMessages.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// The binary protocols the scanner takes beside NMEA.
enum class FrameProtocol : std::uint8_t { Ubx, Rtcm3 };

// What other parts may watch in the stream. All of them run on the thread that feeds the decoder,
// so they must be set before that thread starts and must be quick.
struct NmeaHooks {
    // Every byte as it arrives (binary frames included): a block comes in pieces, each up to the
    // end of the sentence or frame handed on next, then the rest. In order with onSentence and
    // onFrame but for one case: the bytes of a false frame cut by a block edge have gone by
    // before the sentences and frames read again from them are handed on.
    std::function<void(const char *block, std::size_t n)> onBlock;
    // Every complete sentence whose checksum is good, "$" through the checksum's digits, whatever
    // its type (proprietary and unknown ones included). Called before the sentence is decoded;
    // CNmeaDecoder::SentenceFields gives its fields where the decoder split it.
    std::function<void(const char *sentence, std::size_t len)> onSentence;
    // A sentence said whether there is a fix: RMC status A, GGA quality above 0, GSA mode 2 or 3
    // give true; the same sentences without a fix give false.
    std::function<void(bool valid)> onFixReport;
    // Every complete binary frame whose checksum holds (UBX: "B5 62" through its checksum; RTCM 3:
    // "D3" through its CRC), whatever its type. Called before the frame is decoded.
    std::function<void(FrameProtocol protocol, const unsigned char *frame, std::size_t len)>
        onFrame;
    // Every complete sentence counted for a wrong or missing checksum, "$" through its end.
    std::function<void(const char *sentence, std::size_t len)> onBadSentence{};
    // Every NAV-PVT, NAV-SOL, NAV-STATUS, NAV-POSLLH, NAV-HPPOSLLH, NAV-VELNED, NAV-TIMEUTC,
    // NAV-DOP and NAV-EOE read, as the decoder reads it, after onFrame gave its frame. Reports are
    // made only while this is set.
    std::function<void(const NavReport &report)> onNavReport{};
};

// The NMEA scanner and the decoders of GGA, RMC, GSA and GSV (and GNS's mode letters), with the
// live fix record they fill. One thread feeds it; any thread may copy the record, the table and
// the counters. What a block stores is shown to the copies when the block has been read.
class CNmeaDecoder {
public:
    // nBiasSeconds: seconds west of UTC, subtracted from the RMC time to give local standard time.
    explicit CNmeaDecoder(int nBiasSeconds);
    CNmeaDecoder(const CNmeaDecoder &) = delete;
    CNmeaDecoder &operator=(const CNmeaDecoder &) = delete;

    // Feeds one block of received bytes to the scanner: NMEA sentences, UBX frames and RTCM 3
    // frames in any mix. A sentence or frame cut by the end of the block is kept and completed by
    // the next block.
    void ParseBuffer(const char *block, int n);
    // Forgets a sentence or frame carried over from an earlier block. Feeding thread only.
    void ResetScanner();
    // Set before the feeding thread starts.
    void SetHooks(NmeaHooks hooks) { m_hooks = std::move(hooks); }

    void CopyFix(GpsFix &dest) const;
    // The record and what the decoder keeps beside it, from one moment.
    void CopyFix(GpsFix &dest, FixExtra &extra) const;
    // Clears the record and the satellite table; any thread. When the feeding thread is inside
    // a block, what that block stored is dropped too.
    void ClearFix();
    // The satellite table as of now (systems not heard for five seconds left out).
    void CopySky(SkyView &dest) const { m_sky.Copy(dest, m_clock()); }
    // Whether CopySky may now read differently from the copy last was stamped for (see
    // CSkyTable::MayDiffer); feeding thread only.
    bool SkyMayDiffer(CSkyTable::Stamp &last) const { return m_sky.MayDiffer(last, m_clock()); }
    // Milliseconds of a steady clock; tests set their own before feeding.
    void SetClock(std::int64_t (*clock)()) { m_clock = clock; }
    // Seconds west of UTC the record's times were moved by.
    int BiasSeconds() const { return m_nBiasSeconds; }
    ScanCounters CopyCounters() const;
    // Sentences that reported a valid fix so far; a change tells another thread a fix arrived.
    std::uint32_t ValidFixes() const { return m_validFixes.load(std::memory_order_relaxed); }

    // One field where it lies in the sentence, at most kFieldSize - 1 characters.
    struct Field {
        const char *p = "";
        std::size_t n = 0;
        char First() const { return n != 0 ? p[0] : '\0'; }
    };
    // The fields of one sentence; field 1 is the first after the address, and a field the
    // sentence does not have reads as empty.
    struct Fields {
        static constexpr std::size_t kMax = 48;
        struct Span {
            const char *p;
            std::size_t n;
        };
        std::size_t count = 0;
        // Not cleared per sentence: only entries 1 to count are ever read.
        Span at[kMax + 1];
        Field operator[](std::size_t i) const {
            return i >= 1 && i <= count && i <= kMax ? Field{at[i].p, at[i].n} : Field{};
        }
    };

    static constexpr std::size_t kFieldSize = 20;
    // Reads the next field at pos and returns the position of the field after it, or nullptr at
    // the end of the sentence. The checksum after "*" is never a field.
    static const char *NextField(const char *pos, Field &field);
    // The same, copied zero-terminated into field (kFieldSize bytes).
    static const char *NextField(const char *pos, char *field);
    // Splits the sentence, whose "*" is at position star, into its fields.
    static void SplitFields(const char *sentence, std::size_t star, Fields &fields);
    // Inside onSentence: the sentence's fields split at its checksum's "*" (len - 3) when the
    // decoder reads that type (GGA, RMC, GSA, GSV, GNS, GST of a standard address), else nullptr.
    const Fields *SentenceFields() const { return m_pFields; }

private:
    static constexpr std::size_t kMaxSentence = 511;
    // The longest UBX payload taken; a longer length is a broken header (the longest messages
    // receivers send, raw measurements of every signal, stay well below it).
    static constexpr std::size_t kMaxUbxPayload = 8192;
    static constexpr std::size_t kMaxFrame = 6 + kMaxUbxPayload + 2;

    enum class FrameStep : std::uint8_t { More, Good, False };
    void ScanRange(const char *begin, const char *end, bool block);
    void Feed(const char *upTo);
    void ResetSentence();
    FrameStep TakeFrame(const char *&p, const char *end);
    void HandleFrame();
    void HandleUbx(std::uint8_t cls, std::uint8_t id, const std::uint8_t *payload, std::size_t len);
    // Hands the report made of a message to onNavReport, making it only when that is set.
    template <typename Make> void Report(Make make) const {
        if (m_hooks.onNavReport)
            m_hooks.onNavReport(make());
    }

    void HandleSentence(const char *s, std::size_t len);
    void ParseGGA(const char *sentence, const Fields &f);
    void ParseRMC(const char *sentence, const Fields &f);
    void ParseGSA(const char *sentence, const Fields &f);
    void ParseGSV(const char *sentence, const Fields &f);
    void ParseGNS(const char *sentence, const Fields &f);
    void ParseGST(const char *sentence, const Fields &f);
    void BeginBlock();
    void EndBlock();
    void NoteFixReport(bool valid);
    void FeedSky(const char *sentence, const Fields &f, const int *value);

    // What the receiver's binary messages reported last, on the decoder's clock (0: never). While
    // one is recent, the sentences leave those fields to it, so one epoch gives one fix and one
    // sky however many protocols carry it.
    enum UbxPart : std::uint8_t {
        kUbxValid,       // validity and mode (NAV-PVT, NAV-SOL or NAV-STATUS)
        kUbxSolution,    // NAV-PVT or NAV-SOL, whose validity NAV-STATUS's yields to
        kUbxPosition,    // NAV-PVT or NAV-POSLLH, whose position NAV-SOL's yields to
        kUbxAnyPosition, // any of the three
        kUbxAltitude,    // above mean sea level (NAV-PVT, NAV-POSLLH)
        kUbxVelocity,    // NAV-PVT or NAV-VELNED, whose speed NAV-SOL's yields to
        kUbxAnyVelocity, // any of the three
        kUbxTime,        // NAV-PVT, whose UTC NAV-TIMEUTC's yields to
        kUbxUtc,         // either
        kUbxSatsUsed,    // NAV-PVT or NAV-SOL
        kUbxPdop,        // NAV-PVT, NAV-SOL or NAV-DOP
        kUbxDops,        // NAV-DOP
        kUbxSky,         // NAV-SAT, NAV-SIG or NAV-SVINFO
        kUbxSignals,     // NAV-SIG
        kUbxParts
    };
    bool UbxSays(UbxPart part) const;
    void ForgetUbx();
    void UbxSaid(UbxPart part) {
        m_ubxSaid[part] = m_nowMs == 0 ? 1 : m_nowMs;
        m_bUbxSeen = true;
    }
    void UbxFixReport(std::uint8_t fixType, bool fixOk);
    void UbxPosition(std::int32_t lat, std::int32_t lon);
    void UbxAltitude(std::int32_t hMslMm);
    void UbxVelocity(double speedMmPerS, std::int32_t course1e5);
    void UbxUtc(std::uint16_t year, std::uint8_t month, std::uint8_t day, std::uint8_t hour,
                std::uint8_t min, std::uint8_t sec, std::int32_t nano, bool validDate,
                bool validTime);
    void UbxSky();
    void UbxRfBlock(std::size_t index, int jammingState, bool hasJamInd, int jamInd, int agcCnt,
                    int antStatus, int antPower);
    static void Bump(std::atomic<std::uint32_t> &counter);

    // The record the decoders fill (feeding thread only) and the one the copies read, which
    // takes the first's contents at the end of each block that changed it, so a copy never shows
    // half a sentence and the feeding thread locks once per block.
    GpsFix m_fix{};
    FixExtra m_extra{};
    bool m_fixDirty = false;
    GpsFix m_shownFix{};     // under m_fixLock
    FixExtra m_shownExtra{}; // under m_fixLock
    std::atomic<bool> m_clearAsked{false};
    const int m_nBiasSeconds;
    mutable std::mutex m_fixLock;

    // The block being read, fed to onBlock up to here (feeding thread only).
    const char *m_fed = nullptr;
    // The binary frame being taken, carried from one block to the next (feeding thread only).
    std::unique_ptr<unsigned char[]> m_frame{new unsigned char[kMaxFrame]};
    std::size_t m_nFrame = 0;   // bytes of it so far
    std::size_t m_frameLen = 0; // its whole length, once its header is in; 0 before
    bool m_bInFrame = false;
    FrameProtocol m_frameProtocol = FrameProtocol::Ubx;
    // The receiver's latest binary satellite and signal lists (feeding thread only).
    std::int64_t m_ubxSaid[kUbxParts]{};
    bool m_bUbxSeen = false;         // any binary report since the record was cleared
    bool m_ubxSatsFromSat = false;   // m_ubxSats came from NAV-SAT rather than NAV-SVINFO
    bool m_bSatsUsedFromSky = false; // the record's satellites used were counted in the list
    bool m_bGgaQuality = false;      // a GGA gave the quality, which NAV-PVT's then leaves alone
    std::vector<ubx::SvInfo> m_ubxSats;
    std::vector<ubx::SignalInfo> m_ubxSignals;
    std::unique_ptr<SkySat[]> m_ubxScratch{new SkySat[SkyView::kMax]};

    // The sentence being decoded, split once for the decoders and the onSentence hook (feeding
    // thread only); m_pFields points at it while it holds that sentence.
    Fields m_fields;
    const Fields *m_pFields = nullptr;
    // The unfinished sentence carried from one block to the next (feeding thread only).
    char m_tail[kMaxSentence + 1]{};
    std::size_t m_nTail = 0;
    bool m_bInSentence = false;
    bool m_bTooLong = false;

    struct Counters {
        std::atomic<std::uint32_t> nGga{0}, nGsa{0}, nGsv{0}, nRmc{0};
        std::atomic<std::uint32_t> nBadChecksum{0}, nCut{0}, nTooLong{0}, nUnknown{0};
        std::atomic<std::uint32_t> nBadByte{0}, nGns{0}, nGst{0};
        std::atomic<std::uint32_t> nUbx{0}, nUbxBad{0}, nUbxSkipped{0}, nRtcm{0}, nRtcmBad{0};
    } m_counters;

    NmeaHooks m_hooks;
    CSkyTable m_sky;
    std::int64_t (*m_clock)() = SteadyMs;
    // The clock read once per block: the table's times need no finer grain.
    std::int64_t m_nowMs = 0;
    static std::int64_t SteadyMs();
    std::atomic<std::uint32_t> m_validFixes{0};
};
