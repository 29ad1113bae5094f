#include "Rtcm3.h"

namespace rtcm3 {

namespace {

constexpr std::size_t kHeader = 3; // D3, then 6 reserved bits and the 10-bit length

// Bits of the payload, most significant first, as RTCM 3 packs them.
class CBits {
public:
    CBits(const unsigned char *payload, std::size_t len) : m_p(payload), m_bits(len * 8) {}
    bool Has(std::size_t n) const { return m_at + n <= m_bits; }
    std::uint64_t Unsigned(std::size_t n) {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i, ++m_at)
            v = v << 1 | ((m_p[m_at / 8] >> (7 - m_at % 8)) & 1u);
        return v;
    }
    std::int64_t Signed(std::size_t n) {
        const std::uint64_t v = Unsigned(n);
        const std::uint64_t sign = std::uint64_t{1} << (n - 1);
        return static_cast<std::int64_t>(v ^ sign) - static_cast<std::int64_t>(sign);
    }
    void Skip(std::size_t n) { m_at += n; }

private:
    const unsigned char *m_p;
    std::size_t m_bits;
    std::size_t m_at = 0;
};

std::size_t PayloadLength(const unsigned char *frame, std::size_t len) {
    if (len < kHeader + 3)
        return 0;
    const std::size_t n = (std::size_t{frame[1]} & 3u) << 8 | frame[2];
    return kHeader + n + 3 <= len ? n : 0;
}

} // namespace

int MessageType(const unsigned char *frame, std::size_t len) {
    const std::size_t n = PayloadLength(frame, len);
    if (n < 2)
        return -1;
    CBits bits(frame + kHeader, n);
    return static_cast<int>(bits.Unsigned(12));
}

bool ReadStation(const unsigned char *frame, std::size_t len, Station &out) {
    const int type = MessageType(frame, len);
    if (type != 1005 && type != 1006)
        return false;
    CBits bits(frame + kHeader, PayloadLength(frame, len));
    // 1005: number 12, station 12, ITRF year 6, four flags, X 38, oscillator and reserved 2,
    // Y 38, quarter cycle 2, Z 38 (0.1 mm); 1006 adds the antenna height 16 (0.1 mm).
    if (!bits.Has(152 + (type == 1006 ? 16 : 0)))
        return false;
    bits.Skip(12);
    Station s;
    s.id = static_cast<int>(bits.Unsigned(12));
    bits.Skip(6 + 4);
    s.x = static_cast<double>(bits.Signed(38)) * 1e-4;
    bits.Skip(2);
    s.y = static_cast<double>(bits.Signed(38)) * 1e-4;
    bits.Skip(2);
    s.z = static_cast<double>(bits.Signed(38)) * 1e-4;
    if (type == 1006) {
        s.heightM = static_cast<double>(bits.Unsigned(16)) * 1e-4;
        s.hasHeight = true;
    }
    out = s;
    return true;
}

void Tally::Add(const unsigned char *frame, std::size_t len) {
    ++frames;
    const int type = MessageType(frame, len);
    ++types[type];
    // The observation, station and antenna messages (1001-1013, 1033, the MSM 1071-1137, 1230)
    // name their station in the 12 bits after the number.
    const bool named = (type >= 1001 && type <= 1013) || type == 1033 ||
                       (type >= 1071 && type <= 1137) || type == 1230;
    const std::size_t n = PayloadLength(frame, len);
    if (named && n >= 3) {
        CBits bits(frame + kHeader, n);
        bits.Skip(12);
        stations.insert(static_cast<int>(bits.Unsigned(12)));
    }
    Station s;
    if (ReadStation(frame, len, s)) {
        base = s;
        hasBase = true;
    }
}

} // namespace rtcm3
