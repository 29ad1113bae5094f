#include "protocol/FrameScanner.h"
#include "protocol/NmeaConvert.h"
#include "protocol/Rtcm3.h"
#include "protocol/UbxMessages.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// One bit (the high bit of its byte) for every byte c in the eight bytes of word.
std::uint64_t ByteBits(std::uint64_t word, unsigned char c) {
    constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * c);
    return ~(((x & kLows) + kLows) | x | kLows);
}

std::uint64_t CommaBits(std::uint64_t word) {
    return ByteBits(word, ',');
}

constexpr unsigned char kUbxSync = 0xB5;
constexpr unsigned char kRtcmPreamble = 0xD3;

// The first byte of a sentence or of a binary frame.
bool IsStart(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == '$' || b == kUbxSync || b == kRtcmPreamble;
}

// Where the line at p stops: the first LF, CR, "$" or binary frame's first byte from p, else
// end. Without SSE2, nextLf keeps the first LF at or after p (end when none), found once for all
// the lines before it, so a stream without LFs is not searched to the block's end for every line.
const char *FindStop(const char *p, const char *end, const char *&nextLf) {
#if defined(__SSE2__)
    (void)nextLf;
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i dollar = _mm_set1_epi8('$');
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // A byte's own high bit marks it too: the binary frames' first bytes are among those.
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, dollar), bytes));
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
             mask &= mask - 1) {
            const char *at = p + std::countr_zero(mask);
            if (*at == '\n' || *at == '\r' || IsStart(*at))
                return at;
        }
    }
    while (p < end && *p != '\n' && *p != '\r' && !IsStart(*p))
        ++p;
    return p;
#else
    // p may stand at the block's end, after a "$" that was its last byte.
    if (nextLf < p || (nextLf == p && p != end && *p != '\n')) {
        nextLf = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (nextLf == nullptr)
            nextLf = end;
    }
    const char *cr =
        static_cast<const char *>(std::memchr(p, '\r', static_cast<std::size_t>(nextLf - p)));
    const char *eol = cr != nullptr ? cr : nextLf;
    for (const char *at = p; at < eol; ++at) {
        if (IsStart(*at))
            return at;
    }
    return eol;
#endif
}

// The first "$" or binary frame's first byte from p, else end.
const char *FindStart(const char *p, const char *end) {
    for (; p < end; ++p) {
        const char c = *p;
        if ((c == '$' || (static_cast<unsigned char>(c) & 0x80u) != 0) && IsStart(c))
            return p;
    }
    return end;
}

// UBX classes receivers send; a sync pair before any other class byte is taken for noise.
bool IsUbxClass(unsigned char cls) {
    switch (cls) {
    case 0x01: // NAV
    case 0x02: // RXM
    case 0x04: // INF
    case 0x05: // ACK
    case 0x06: // CFG
    case 0x09: // UPD
    case 0x0A: // MON
    case 0x0B: // AID
    case 0x0D: // TIM
    case 0x10: // ESF
    case 0x13: // MGA
    case 0x21: // LOG
    case 0x27: // SEC
    case 0x28: // HNR
        return true;
    default:
        return false;
    }
}

} // namespace

CFrameScanner::~CFrameScanner() = default;

void CFrameScanner::Bump(std::atomic<std::uint32_t> &counter) {
    // Only the reader thread writes the counters, so a plain load and store is enough.
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

ScanCounters CFrameScanner::CopyCounters() const {
    ScanCounters c;
    c.nGga = m_counters.nGga.load(std::memory_order_relaxed);
    c.nGsa = m_counters.nGsa.load(std::memory_order_relaxed);
    c.nGsv = m_counters.nGsv.load(std::memory_order_relaxed);
    c.nRmc = m_counters.nRmc.load(std::memory_order_relaxed);
    c.nBadChecksum = m_counters.nBadChecksum.load(std::memory_order_relaxed);
    c.nCut = m_counters.nCut.load(std::memory_order_relaxed);
    c.nTooLong = m_counters.nTooLong.load(std::memory_order_relaxed);
    c.nUnknown = m_counters.nUnknown.load(std::memory_order_relaxed);
    c.nBadByte = m_counters.nBadByte.load(std::memory_order_relaxed);
    c.nGns = m_counters.nGns.load(std::memory_order_relaxed);
    c.nGst = m_counters.nGst.load(std::memory_order_relaxed);
    c.nUbx = m_counters.nUbx.load(std::memory_order_relaxed);
    c.nUbxBad = m_counters.nUbxBad.load(std::memory_order_relaxed);
    c.nUbxSkipped = m_counters.nUbxSkipped.load(std::memory_order_relaxed);
    c.nRtcm = m_counters.nRtcm.load(std::memory_order_relaxed);
    c.nRtcmBad = m_counters.nRtcmBad.load(std::memory_order_relaxed);
    return c;
}

void CFrameScanner::ResetScanner() {
    ResetSentence();
    m_bInFrame = false;
    m_nFrame = 0;
    m_frameLen = 0;
}

void CFrameScanner::ResetSentence() {
    m_nTail = 0;
    m_bInSentence = false;
    m_bTooLong = false;
}

void CFrameScanner::Scan(const char *block, std::size_t n) {
    m_fed = block;
    ScanRange(block, block + n, true);
    Feed(block + n);
}

// The raw bytes go to the watcher up to each sentence's or frame's end before the sentence or
// frame does, so what it sees comes in the stream's order wherever the block edges fall.
void CFrameScanner::Feed(const char *upTo) {
    if (upTo <= m_fed)
        return;
    if (m_bWantBytes)
        OnBytes(m_fed, static_cast<std::size_t>(upTo - m_fed));
    m_fed = upTo;
}

// A sentence runs from "$" to its first CR or LF. A "$" or a binary frame's first byte before
// that starts anew and drops the cut sentence. A sentence may span ranges: its head waits in
// m_tail; so may a binary frame, in m_frame. A frame that proves false (a wrong checksum, a
// header no frame has) is read again from its second byte, so a sentence it seemed to swallow
// is still found. block: the range is the block itself, fed to the watcher; otherwise it holds
// bytes of earlier blocks read again.
void CFrameScanner::ScanRange(const char *begin, const char *const end, bool block) {
    const char *p = begin;
    const char *nextLf = begin;
    // Where the frame being taken began in this range; nullptr when it began in an earlier one.
    const char *frameStart = nullptr;
    while (p < end) {
        if (m_bInFrame) {
            const FrameStep step = TakeFrame(p, end);
            if (step == FrameStep::More)
                break;
            if (step == FrameStep::Good) {
                if (block)
                    Feed(p);
                HandleFrame();
                frameStart = nullptr;
                continue;
            }
            // Read again from the byte after the false frame's first.
            const std::size_t taken = m_nFrame;
            m_bInFrame = false;
            m_nFrame = 0;
            m_frameLen = 0;
            if (frameStart != nullptr) {
                p = frameStart + 1;
            } else {
                // Its head came from earlier ranges: read that first (it may leave a frame or a
                // sentence begun), then this range again from its start.
                const std::size_t earlier = taken - static_cast<std::size_t>(p - begin);
                std::vector<char> again(m_frame.get() + 1, m_frame.get() + earlier);
                ScanRange(again.data(), again.data() + again.size(), false);
                p = begin;
            }
            frameStart = nullptr;
            nextLf = begin;
            continue;
        }
        const char *start = nullptr; // the "$" when the sentence begins in this range
        if (!m_bInSentence) {
            p = FindStart(p, end);
            if (p == end)
                break;
            if (*p != '$') {
                m_bInFrame = true;
                m_frameProtocol = static_cast<unsigned char>(*p) == kUbxSync ? FrameProtocol::Ubx
                                                                             : FrameProtocol::Rtcm3;
                m_nFrame = 0;
                m_frameLen = 0;
                frameStart = p;
                continue;
            }
            start = p++;
            m_bInSentence = true;
            m_bTooLong = false;
            m_nTail = 0;
        }
        const char *stop = FindStop(p, end, nextLf);
        const bool cut = stop != end && IsStart(*stop);
        const bool lineEnd = stop != end && !cut;
        if (cut) {
            // Judge the dropped bytes by their length, not by where the block edges fell.
            const char *cutHead = start != nullptr ? start : p;
            const bool tooLong =
                m_bTooLong || m_nTail + static_cast<std::size_t>(stop - cutHead) > kMaxSentence;
            Bump(tooLong ? m_counters.nTooLong : m_counters.nCut);
            ResetSentence();
            p = stop;
            continue;
        }
        const char *head = start != nullptr ? start : p;
        const auto piece = static_cast<std::size_t>((lineEnd ? stop + 1 : end) - head);
        if (!m_bTooLong && m_nTail + piece > kMaxSentence)
            m_bTooLong = true;
        if (!lineEnd) {
            // The sentence goes on in the next range: keep what fits.
            if (!m_bTooLong) {
                std::memcpy(m_tail + m_nTail, head, piece);
                m_nTail += piece;
            }
            break;
        }
        if (block)
            Feed(stop + 1);
        if (m_bTooLong) {
            Bump(m_counters.nTooLong);
        } else if (m_nTail == 0) {
            HandleSentence(head, piece);
        } else {
            std::memcpy(m_tail + m_nTail, head, piece);
            HandleSentence(m_tail, m_nTail + piece);
        }
        ResetSentence();
        p = stop + 1;
    }
}

// Takes the frame's bytes from p on, as far as the frame reaches, checking its header as soon as
// it is in and its checksum once the frame is whole.
CFrameScanner::FrameStep CFrameScanner::TakeFrame(const char *&p, const char *end) {
    const bool ubx = m_frameProtocol == FrameProtocol::Ubx;
    unsigned char *const frame = m_frame.get();
    while (p < end) {
        // UBX: sync pair, class, id, 16-bit length; RTCM 3: preamble, 6 zero bits, 10-bit length.
        const std::size_t want = m_frameLen != 0 ? m_frameLen : ubx ? 6 : 3;
        const std::size_t take = std::min(want - m_nFrame, static_cast<std::size_t>(end - p));
        std::memcpy(frame + m_nFrame, p, take);
        m_nFrame += take;
        p += take;
        if (m_nFrame < want)
            return FrameStep::More;
        if (m_frameLen == 0) {
            if (ubx) {
                // A sync pair without a class receivers send is noise, not a broken frame.
                if (frame[1] != 0x62 || !IsUbxClass(frame[2]))
                    return FrameStep::False;
                const std::size_t len = frame[4] | static_cast<std::size_t>(frame[5]) << 8;
                if (len > kMaxUbxPayload) {
                    Bump(m_counters.nUbxBad);
                    return FrameStep::False;
                }
                m_frameLen = 6 + len + 2;
            } else {
                if ((frame[1] & 0xFCu) != 0)
                    return FrameStep::False;
                m_frameLen = 3 + ((frame[1] & 0x03u) << 8 | frame[2]) + 3;
            }
            continue;
        }
        bool good;
        if (ubx) {
            std::uint8_t a, b;
            ubx::Checksum(frame + 2, m_frameLen - 4, a, b);
            good = a == frame[m_frameLen - 2] && b == frame[m_frameLen - 1];
        } else {
            const std::uint32_t crc = static_cast<std::uint32_t>(frame[m_frameLen - 3]) << 16 |
                                      static_cast<std::uint32_t>(frame[m_frameLen - 2]) << 8 |
                                      frame[m_frameLen - 1];
            good = rtcm3::Crc24q(frame, m_frameLen - 3) == crc;
        }
        if (!good) {
            Bump(ubx ? m_counters.nUbxBad : m_counters.nRtcmBad);
            return FrameStep::False;
        }
        return FrameStep::Good;
    }
    return FrameStep::More;
}

// A whole frame whose checksum holds, in m_frame.
void CFrameScanner::HandleFrame() {
    const std::size_t len = m_frameLen;
    m_bInFrame = false;
    m_nFrame = 0;
    m_frameLen = 0;
    Bump(m_frameProtocol == FrameProtocol::Ubx ? m_counters.nUbx : m_counters.nRtcm);
    OnFrame(m_frameProtocol, m_frame.get(), len);
}

// s holds one whole sentence, "$" through the CR or LF that ended it, len bytes.
void CFrameScanner::HandleSentence(const char *s, std::size_t len) {
    // The sentence ends at its "*hh"; CRs, spaces and tabs may follow it before the line end.
    while (len > 0 &&
           (s[len - 1] == '\r' || s[len - 1] == '\n' || s[len - 1] == ' ' || s[len - 1] == '\t'))
        --len;
    if (len < 4 || s[len - 3] != '*') {
        Bump(m_counters.nBadChecksum);
        OnBadSentence(s, len);
        return;
    }
    // The limit counts the sentence with a CR LF, however it really ended.
    if (len + 2 > kMaxSentence) {
        Bump(m_counters.nTooLong);
        return;
    }
    const std::size_t star = len - 3;
    const int hi = nmea::HexValue(s[star + 1]);
    const int lo = nmea::HexValue(s[star + 2]);
    // The checksum is the exclusive or of all bytes between "$" and "*".
    // Eight bytes at a time, folded at the end: this loop is most of the scanner's work. The same
    // pass looks for bytes outside printable ASCII: a NUL passes the checksum and cuts a field.
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    std::uint64_t wide = 0;
    std::uint64_t odd = 0;
    std::size_t i = 1;
#if defined(__SSE2__)
    {
        // Bytes below a blank or above "~" (signed, so the high half counts as below) are bad.
        __m128i sum16 = _mm_setzero_si128();
        __m128i bad16 = _mm_setzero_si128();
        const __m128i blank = _mm_set1_epi8(0x20);
        const __m128i tilde = _mm_set1_epi8(0x7E);
        for (; i + 16 <= star; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
            sum16 = _mm_xor_si128(sum16, bytes);
            bad16 = _mm_or_si128(
                bad16, _mm_or_si128(_mm_cmplt_epi8(bytes, blank), _mm_cmpgt_epi8(bytes, tilde)));
        }
        wide = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sum16)) ^
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(sum16, 8)));
        if (_mm_movemask_epi8(bad16) != 0)
            odd = kHighs;
    }
#endif
    for (; i + 8 <= star; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s + i, sizeof word);
        wide ^= word;
        odd |= ((word - kOnes * 0x20) & ~word) | ((word + kOnes) | word);
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    unsigned sum = static_cast<unsigned>(wide & 0xFFu);
    bool printable = (odd & kHighs) == 0;
    for (; i < star; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        sum ^= c;
        printable &= static_cast<unsigned>(c - 0x20u) <= 0x5Eu;
    }
    if (!printable) {
        Bump(m_counters.nBadByte);
        return;
    }
    if (hi < 0 || lo < 0 || sum != static_cast<unsigned>(hi * 16 + lo)) {
        Bump(m_counters.nBadChecksum);
        OnBadSentence(s, len);
        return;
    }
    OnSentence(s, len);
}

const char *CFrameScanner::NextField(const char *pos, Field &field) {
    field = Field{};
    if (pos == nullptr || *pos == '\0' || *pos == '*')
        return nullptr;
    const char *end = pos;
    while (*end != ',' && *end != '*' && *end != '\0')
        ++end;
    // A field longer than the buffer the decoders once copied into is cut there.
    const auto n = static_cast<std::size_t>(end - pos);
    field = Field{pos, n < kFieldSize - 1 ? n : kFieldSize - 1};
    return *end == ',' ? end + 1 : end;
}

const char *CFrameScanner::NextField(const char *pos, char *field) {
    Field f;
    const char *next = NextField(pos, f);
    std::memcpy(field, f.p, f.n);
    field[f.n] = '\0';
    return next;
}

void CFrameScanner::SplitFields(const char *sentence, std::size_t star, Fields &fields) {
    fields.count = 0;
    // Fields start after "$", the talker, the type and the comma.
    if (star < 7)
        return;
    const char *const body = sentence + 7;
    const std::size_t len = star - 7;
    std::size_t from = 0;
    const auto add = [&](std::size_t to) {
        const std::size_t n = to - from;
        if (++fields.count <= Fields::kMax)
            fields.at[fields.count] = {body + from, n < kFieldSize - 1 ? n : kFieldSize - 1};
        from = to + 1;
    };
    // Sixteen or eight bytes at a time, one step per comma: splitting is most of the decoders'
    // work.
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i commas = _mm_set1_epi8(',');
    for (; i + 16 <= len; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(body + i));
        for (auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
             hits != 0; hits &= hits - 1)
            add(i + static_cast<std::size_t>(std::countr_zero(hits)));
    }
#endif
    for (; i + 8 <= len; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, body + i, sizeof word);
        for (std::uint64_t hits = CommaBits(word); hits != 0; hits &= hits - 1)
            add(i + static_cast<std::size_t>(std::countr_zero(hits)) / 8);
    }
    for (; i < len; ++i) {
        if (body[i] == ',')
            add(i);
    }
    add(len);
}
