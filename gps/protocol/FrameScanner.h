#pragma once

#include "protocol/ScanCounters.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// The binary protocols the scanner takes beside NMEA.
enum class FrameProtocol : std::uint8_t { Ubx, Rtcm3 };

// One lexer for the receiver's stream: NMEA sentences (XOR checksum), UBX frames (sync B5 62,
// Fletcher checksum) and RTCM 3 frames (D3, CRC-24Q), in any mix and cut anywhere by the reads.
// Only a whole sentence or frame whose checksum holds goes on; the rest is counted. A frame that
// proves false (a wrong checksum, a header no frame has) is read again from its second byte, so
// a sentence it seemed to hold is still found; a sync pair without a class receivers send, or a
// preamble without its zero bits, is not counted at all. What comes out goes to the handlers of
// the class that reads the messages, in the stream's order, on the feeding thread.
class CFrameScanner {
public:
    CFrameScanner() = default;
    CFrameScanner(const CFrameScanner &) = delete;
    CFrameScanner &operator=(const CFrameScanner &) = delete;

    // Forgets a sentence or frame carried over from an earlier block. Feeding thread only.
    void ResetScanner();
    // Any thread.
    ScanCounters CopyCounters() const;

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

protected:
    ~CFrameScanner();
    // Feeds one block; the handlers run before it returns. A sentence or frame cut by the end of
    // the block is kept and completed by the next block.
    void Scan(const char *block, std::size_t n);
    // The raw bytes, in pieces that end where each sentence or frame handed on next ends, then
    // the rest. The bytes of a false frame cut by a block edge have gone by before the sentences
    // and frames read again from them are handed on.
    virtual void OnBytes(const char *bytes, std::size_t n) = 0;
    // Whether OnBytes is called (not until asked): a reader without a byte watcher saves a call a
    // sentence.
    void WantBytes(bool bWant) { m_bWantBytes = bWant; }
    // A whole sentence of printable ASCII whose checksum holds, "$" through the checksum's digits.
    virtual void OnSentence(const char *s, std::size_t len) = 0;
    // A whole sentence counted for a wrong or missing checksum, "$" through its end.
    virtual void OnBadSentence(const char *s, std::size_t len) = 0;
    // A whole frame whose checksum holds, already counted.
    virtual void OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len) = 0;

    // Only the feeding thread writes them; copies read them on any thread.
    struct Counters {
        std::atomic<std::uint32_t> nGga{0}, nGsa{0}, nGsv{0}, nRmc{0};
        std::atomic<std::uint32_t> nBadChecksum{0}, nCut{0}, nTooLong{0}, nUnknown{0};
        std::atomic<std::uint32_t> nBadByte{0}, nGns{0}, nGst{0};
        std::atomic<std::uint32_t> nUbx{0}, nUbxBad{0}, nUbxSkipped{0}, nRtcm{0}, nRtcmBad{0};
    } m_counters;
    static void Bump(std::atomic<std::uint32_t> &counter);

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
    void HandleSentence(const char *s, std::size_t len);

    // The block being read, handed to OnBytes up to here.
    const char *m_fed = nullptr;
    bool m_bWantBytes = false;
    // The binary frame being taken, carried from one block to the next.
    std::unique_ptr<unsigned char[]> m_frame{new unsigned char[kMaxFrame]};
    std::size_t m_nFrame = 0;   // bytes of it so far
    std::size_t m_frameLen = 0; // its whole length, once its header is in; 0 before
    bool m_bInFrame = false;
    FrameProtocol m_frameProtocol = FrameProtocol::Ubx;
    // The unfinished sentence carried from one block to the next.
    char m_tail[kMaxSentence + 1]{};
    std::size_t m_nTail = 0;
    bool m_bInSentence = false;
    bool m_bTooLong = false;
};
