#include "protocol/Rtcm3.h"

#include <array>

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

bool NamesStation(int type) {
    return (type >= 1001 && type <= 1013) || type == 1033 || (type >= 1071 && type <= 1137) ||
           type == 1230;
}

int StationId(const unsigned char *frame, std::size_t len) {
    const std::size_t n = PayloadLength(frame, len);
    if (!NamesStation(MessageType(frame, len)) || n < 3)
        return -1;
    CBits bits(frame + kHeader, n);
    bits.Skip(12);
    return static_cast<int>(bits.Unsigned(12));
}

void Tally::Add(const unsigned char *frame, std::size_t len) {
    ++frames;
    ++types[MessageType(frame, len)];
    if (const int id = StationId(frame, len); id >= 0) {
        stations.insert(id);
        lastStation = id;
    }
    Station s;
    if (ReadStation(frame, len, s)) {
        base = s;
        hasBase = true;
    }
}

// The CRC-24Q of RTCM 3 over n bytes, four bytes a step: the CRC sits in the top 24 bits of a
// 32-bit word, and table k gives a byte's effect k bytes further on.
std::uint32_t Crc24q(const unsigned char *data, std::size_t n) {
    static const auto kTables = [] {
        constexpr std::uint32_t kPoly = 0x864CFBu << 8;
        std::array<std::array<std::uint32_t, 256>, 4> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ kPoly : crc << 1;
            t[0][i] = crc;
        }
        for (std::size_t k = 1; k < 4; ++k) {
            for (std::uint32_t i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
        }
        return t;
    }();
    std::uint32_t crc = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const std::uint32_t x =
            crc ^ (std::uint32_t{data[i]} << 24 | std::uint32_t{data[i + 1]} << 16 |
                   std::uint32_t{data[i + 2]} << 8 | data[i + 3]);
        crc = kTables[3][x >> 24] ^ kTables[2][(x >> 16) & 0xFFu] ^ kTables[1][(x >> 8) & 0xFFu] ^
              kTables[0][x & 0xFFu];
    }
    for (; i < n; ++i)
        crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ data[i]];
    return crc >> 8;
}

void CFramer::Feed(const unsigned char *data, std::size_t n, const OnFrame &onFrame) {
    m_buf.insert(m_buf.end(), data, data + n);
    std::size_t at = 0;
    while (at < m_buf.size()) {
        if (m_buf[at] != 0xD3) {
            ++at;
            ++m_skipped;
            continue;
        }
        if (m_buf.size() - at < kHeader)
            break;
        // Six reserved bits that are not zero say this D3 starts no frame.
        if ((m_buf[at + 1] & 0xFCu) != 0) {
            ++at;
            ++m_skipped;
            continue;
        }
        const std::size_t len =
            kHeader + ((std::size_t{m_buf[at + 1]} & 3u) << 8 | m_buf[at + 2]) + 3;
        if (m_buf.size() - at < len)
            break;
        const unsigned char *frame = m_buf.data() + at;
        const std::uint32_t crc = std::uint32_t{frame[len - 3]} << 16 |
                                  std::uint32_t{frame[len - 2]} << 8 | frame[len - 1];
        if (Crc24q(frame, len - 3) == crc) {
            onFrame(frame, len);
            at += len;
        } else {
            ++m_badCrc;
            ++at;
            ++m_skipped;
        }
    }
    m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace rtcm3
