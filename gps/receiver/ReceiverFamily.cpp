#include "receiver/ReceiverFamily.h"

#include <string_view>

namespace {

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
