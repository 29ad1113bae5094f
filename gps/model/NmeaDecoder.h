#pragma once

// model: what each message changes: the 120-byte record, what is kept beside it, the sky table.

#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/SkyTable.h"
#include "protocol/FrameScanner.h"
#include "protocol/UbxMessages.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

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
};

// The decoders of GGA, RMC, GSA, GSV, GNS, GST and the UBX navigation messages, over the scanner's
// sentences and frames, with the live fix record and sky table they fill. One thread feeds it; any
// thread may copy the record, the table and the counters. What a block stores is shown to the
// copies when the block has been read. RTCM 3 frames are only counted here (protocol/Rtcm3 reads
// them for the decode tool and the client).
// One model from the protocols: when a receiver sends both, UBX speaks for what it reported in the
// last 3 s of the decoder's clock (validity and mode, position, altitude, speed and course, UTC,
// satellites used, the DOPs, the record's satellite slots) and the sentences for the rest, so one
// epoch gives one fix and one sky (the sky table keeps NAV-SAT/NAV-SIG's list longer). GGA's
// quality, its differential age and station and GNS's modes stay NMEA's; a receiver of UBX alone
// gives the age from NAV-PVT and the station from RXM-RTCM. The accuracy estimates, the carrier
// solution, the precise position and the integrity exist only in UBX: unknown until reported.
class CNmeaDecoder final : public CFrameScanner {
public:
    // nBiasSeconds: seconds west of UTC, subtracted from the RMC time to give local standard time.
    explicit CNmeaDecoder(int nBiasSeconds);
    CNmeaDecoder(const CNmeaDecoder &) = delete;
    CNmeaDecoder &operator=(const CNmeaDecoder &) = delete;

    // Feeds one block of received bytes to the scanner: NMEA sentences, UBX frames and RTCM 3
    // frames in any mix. A sentence or frame cut by the end of the block is kept and completed by
    // the next block.
    void ParseBuffer(const char *block, int n);
    // Set before the feeding thread starts.
    void SetHooks(NmeaHooks hooks) {
        m_hooks = std::move(hooks);
        WantBytes(static_cast<bool>(m_hooks.onBlock));
    }

    void CopyFix(GpsFix &dest) const;
    // The record and what the decoder keeps beside it, from one moment.
    void CopyFix(GpsFix &dest, FixExtra &extra) const;
    // Clears the record and the satellite table; any thread. When the feeding thread is inside
    // a block, what that block stored is dropped too.
    void ClearFix();
    // The satellite table as of now (systems not heard for five seconds left out).
    void CopySky(SkyView &dest) const { m_sky.Copy(dest, m_clock()); }
    // Milliseconds of a steady clock; tests set their own before feeding.
    void SetClock(std::int64_t (*clock)()) { m_clock = clock; }
    // Seconds west of UTC the record's times were moved by.
    int BiasSeconds() const { return m_nBiasSeconds; }
    // Sentences that reported a valid fix so far; a change tells another thread a fix arrived.
    std::uint32_t ValidFixes() const { return m_validFixes.load(std::memory_order_relaxed); }

    // Inside onSentence: the sentence's fields split at its checksum's "*" (len - 3) when the
    // decoder reads that type (GGA, RMC, GSA, GSV, GNS, GST of a standard address), else nullptr.
    const Fields *SentenceFields() const { return m_pFields; }

private:
    void HandleUbx(std::uint8_t cls, std::uint8_t id, const std::uint8_t *payload, std::size_t len);
    void OnBytes(const char *bytes, std::size_t n) override;
    void OnSentence(const char *s, std::size_t len) override;
    void OnBadSentence(const char *s, std::size_t len) override;
    void OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len) override;
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

    NmeaHooks m_hooks;
    CSkyTable m_sky;
    std::int64_t (*m_clock)() = SteadyMs;
    // The clock read once per block: the table's times need no finer grain.
    std::int64_t m_nowMs = 0;
    static std::int64_t SteadyMs();
    std::atomic<std::uint32_t> m_validFixes{0};
};
