#include "ReceiverFamily.h"

#include <cstring>
#include <string_view>

namespace {

// UBX frames: 0xB5 0x62, class, id, length (2 bytes, little-endian), payload, CK_A, CK_B.
constexpr std::uint8_t kUbxSync1 = 0xB5;
constexpr std::uint8_t kUbxSync2 = 0x62;
// No receiver message in UBX comes near this; a longer "length" means the 0xB5 was noise.
constexpr std::size_t kUbxMaxPayload = 4096;

struct Mark {
    std::string_view text;
    ReceiverFamily family;
};

// Proprietary sentence heads: "$P" and the maker's code.
constexpr Mark kHeads[] = {
    {"$PUBX", ReceiverFamily::Ublox}, {"$PMTK", ReceiverFamily::Mtk},
    {"$PCAS", ReceiverFamily::Casic}, {"$PSTM", ReceiverFamily::St},
    {"$PSRF", ReceiverFamily::Sirf},
};

// Words in the text banners receivers print at start-up.
constexpr Mark kBanners[] = {
    {"u-blox", ReceiverFamily::Ublox},   {"PROTVER", ReceiverFamily::Ublox},
    {"ROM CORE", ReceiverFamily::Ublox}, {"MA=CASIC", ReceiverFamily::Casic},
    {"AT6558", ReceiverFamily::Casic},   {"SW=URANUS", ReceiverFamily::Casic}, // CASIC's firmware
};

} // namespace

const char *FamilyName(ReceiverFamily family) {
    switch (family) {
    case ReceiverFamily::Sirf:
        return "SiRF";
    case ReceiverFamily::Ublox:
        return "u-blox";
    case ReceiverFamily::Mtk:
        return "MediaTek";
    case ReceiverFamily::Casic:
        return "CASIC";
    case ReceiverFamily::St:
        return "ST Teseo";
    case ReceiverFamily::Unknown:
        break;
    }
    return "unknown";
}

void CReceiverFamily::Reset() {
    Set(ReceiverFamily::Unknown);
    m_nUbx = 0;
}

// $GNTXT,01,01,02,u-blox AG - www.u-blox.com*4E
// $PMTK011,MTKGPS*08
void CReceiverFamily::OnSentence(const char *s, std::size_t len) {
    if (s == nullptr || len < 6)
        return;
    const std::string_view line(s, len);
    if (s[1] == 'P') {
        for (const Mark &head : kHeads) {
            if (line.starts_with(head.text)) {
                Set(head.family);
                return;
            }
        }
        return;
    }
    if (s[3] != 'T' || s[4] != 'X' || s[5] != 'T')
        return;
    for (const Mark &banner : kBanners) {
        if (line.find(banner.text) != std::string_view::npos) {
            Set(banner.family);
            return;
        }
    }
}

void CReceiverFamily::OnBlock(const char *block, std::size_t n) {
    // A frame could only name u-blox again: the scan rests until a sentence names another maker
    // or Reset (a new connection) forgets the family.
    if (block == nullptr || Current() == ReceiverFamily::Ublox) {
        m_nUbx = 0;
        return;
    }
    const auto *p = reinterpret_cast<const std::uint8_t *>(block);
    const auto *const end = p + n;
    while (p < end) {
        if (m_nUbx == 0) {
            // Most of the stream is NMEA text: skip to the next possible frame start.
            const void *sync = std::memchr(p, kUbxSync1, static_cast<std::size_t>(end - p));
            if (sync == nullptr)
                return;
            p = static_cast<const std::uint8_t *>(sync);
        }
        UbxByte(*p++);
    }
}

void CReceiverFamily::UbxByte(std::uint8_t b) {
    const std::size_t at = m_nUbx++;
    if (at == 0) {
        m_nUbx = b == kUbxSync1 ? 1 : 0;
        return;
    }
    if (at == 1) {
        if (b != kUbxSync2)
            m_nUbx = b == kUbxSync1 ? 1 : 0;
        m_ckA = m_ckB = 0;
        m_nUbxLength = 0;
        return;
    }
    // The checksum is the 8-bit Fletcher sum over class, id, length and payload.
    const std::size_t payloadEnd = 6 + m_nUbxLength;
    if (at < payloadEnd || at < 6) {
        m_ckA = static_cast<std::uint8_t>(m_ckA + b);
        m_ckB = static_cast<std::uint8_t>(m_ckB + m_ckA);
        if (at == 4)
            m_nUbxLength = b;
        if (at == 5) {
            m_nUbxLength |= static_cast<std::size_t>(b) << 8;
            if (m_nUbxLength > kUbxMaxPayload)
                m_nUbx = 0;
        }
        return;
    }
    if (at == payloadEnd) {
        m_ubxCkA = b;
        return;
    }
    // The last byte, CK_B: a good frame names its maker; a bad one was stray bytes.
    if (m_ubxCkA == m_ckA && b == m_ckB)
        Set(ReceiverFamily::Ublox);
    m_nUbx = 0;
}
