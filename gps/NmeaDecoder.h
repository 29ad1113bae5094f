#pragma once

#include "FixExtra.h"
#include "GpsFix.h"
#include "ScanCounters.h"
#include "SkyTable.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

// The binary protocols the scanner takes beside NMEA.
enum class FrameProtocol : std::uint8_t { Ubx, Rtcm3 };

// What other parts may watch in the stream. All of them run on the thread that feeds the decoder,
// so they must be set before that thread starts and must be quick.
struct NmeaHooks {
    // Every byte as it arrives (binary frames included), in order with onSentence: a block comes
    // in pieces, each up to the end of the sentence handed on next, then the rest.
    std::function<void(const char *block, std::size_t n)> onBlock;
    // Every complete sentence whose checksum is good, "$" through the checksum's digits, whatever
    // its type (proprietary and unknown ones included). Called before the sentence is decoded.
    std::function<void(const char *sentence, std::size_t len)> onSentence;
    // Every complete binary frame whose checksum holds (UBX: "B5 62" through its checksum; RTCM 3:
    // "D3" through its CRC), whatever its type. Called before the frame is decoded.
    std::function<void(FrameProtocol protocol, const unsigned char *frame, std::size_t len)>
        onFrame;
    // A sentence said whether there is a fix: RMC status A, GGA quality above 0, GSA mode 2 or 3
    // give true; the same sentences without a fix give false.
    std::function<void(bool valid)> onFixReport;
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

    // Feeds one block of received bytes to the scanner. A sentence cut by the end of the block is
    // kept and completed by the next block.
    void ParseBuffer(const char *block, int n);
    // Forgets a sentence carried over from an earlier block. Feeding thread only.
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
    // Milliseconds of a steady clock; tests set their own before feeding.
    void SetClock(std::int64_t (*clock)()) { m_clock = clock; }
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

private:
    static constexpr std::size_t kMaxSentence = 511;

    void HandleSentence(const char *s, std::size_t len);
    void ParseGGA(const char *sentence, std::size_t star);
    void ParseRMC(const char *sentence, std::size_t star);
    void ParseGSA(const char *sentence, std::size_t star);
    void ParseGSV(const char *sentence, std::size_t star);
    void ParseGNS(const char *sentence, std::size_t star);
    void BeginBlock();
    void EndBlock();
    void NoteFixReport(bool valid);
    void FeedSky(const char *sentence, const Fields &f, const int *value);
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

    // The unfinished sentence carried from one block to the next (feeding thread only).
    char m_tail[kMaxSentence + 1]{};
    std::size_t m_nTail = 0;
    bool m_bInSentence = false;
    bool m_bTooLong = false;

    struct Counters {
        std::atomic<std::uint32_t> nGga{0}, nGsa{0}, nGsv{0}, nRmc{0};
        std::atomic<std::uint32_t> nBadChecksum{0}, nCut{0}, nTooLong{0}, nUnknown{0};
        std::atomic<std::uint32_t> nBadByte{0}, nGns{0};
    } m_counters;

    NmeaHooks m_hooks;
    CSkyTable m_sky;
    std::int64_t (*m_clock)() = SteadyMs;
    // The clock read once per block: the table's times need no finer grain.
    std::int64_t m_nowMs = 0;
    static std::int64_t SteadyMs();
    std::atomic<std::uint32_t> m_validFixes{0};
};
