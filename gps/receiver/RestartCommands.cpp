#include "receiver/RestartCommands.h"

#include <cstdint>
#include <cstring>

namespace {

// SiRF NMEA Reference Manual, input message 104 "Navigation Initialization" (LLA).
// Position 0, 0, 0 m; clock offset 96000 Hz; time of week 237759 s; week 922; 12 channels; then
// the reset: 4 cold (forget everything), 2 warm (keep the almanac), 1 hot (keep all).
constexpr char kColdStart[] = "$PSRF104,0,0,0,96000,237759,922,12,4";
constexpr char kWarmStart[] = "$PSRF104,0,0,0,96000,237759,922,12,2";
constexpr char kHotStart[] = "$PSRF104,0,0,0,96000,237759,922,12,1";

const char *Compose(char (&buf)[kSentenceBufferSize], const char *body) {
    std::strncpy(buf, body, kSentenceBufferSize - 1);
    buf[kSentenceBufferSize - 1] = '\0';
    AppendChecksum(buf);
    return buf;
}

} // namespace

void AppendChecksum(char *buf, std::size_t size) {
    if (buf == nullptr || size == 0 || buf[0] != '$')
        return;
    const void *zero = std::memchr(buf, '\0', size);
    if (zero == nullptr)
        return;
    const auto n = static_cast<std::size_t>(static_cast<const char *>(zero) - buf);
    if (size - n < 6)
        return;
    unsigned sum = 0;
    for (std::size_t i = 1; i < n; ++i)
        sum ^= static_cast<unsigned char>(buf[i]);
    constexpr char kHex[] = "0123456789ABCDEF";
    char *p = buf + n;
    *p++ = '*';
    *p++ = kHex[(sum >> 4) & 0xF];
    *p++ = kHex[sum & 0xF];
    *p++ = '\r';
    *p++ = '\n';
    *p = '\0';
}

const char *ComposeColdStart(char (&buf)[kSentenceBufferSize]) {
    return Compose(buf, kColdStart);
}
const char *ComposeWarmStart(char (&buf)[kSentenceBufferSize]) {
    return Compose(buf, kWarmStart);
}
const char *ComposeHotStart(char (&buf)[kSentenceBufferSize]) {
    return Compose(buf, kHotStart);
}

namespace {

std::string NmeaCommand(const char *body) {
    char buf[kSentenceBufferSize];
    return Compose(buf, body);
}

// UBX-CFG-RST (class 0x06, id 0x04, 4-byte payload: navBbrMask U2, resetMode U1, reserved U1),
// from u-blox's M8 receiver and protocol description (UBX-13003221), "UBX Frame Structure", "UBX
// Checksum" and "UBX-CFG-RST". navBbrMask 0xFFFF is a cold start, 0x0001 warm, 0x0000 hot;
// resetMode 0x02 restarts the GNSS part only, so the receiver keeps its port and talks on.
std::string UbxCfgRst(std::uint16_t navBbrMask) {
    const std::uint8_t frame[] = {
        0xB5,
        0x62,
        0x06,
        0x04,
        0x04,
        0x00,
        static_cast<std::uint8_t>(navBbrMask & 0xFF),
        static_cast<std::uint8_t>(navBbrMask >> 8),
        0x02,
        0x00,
    };
    // 8-bit Fletcher over class, id, length and payload.
    std::uint8_t ckA = 0;
    std::uint8_t ckB = 0;
    for (std::size_t i = 2; i < sizeof frame; ++i) {
        ckA = static_cast<std::uint8_t>(ckA + frame[i]);
        ckB = static_cast<std::uint8_t>(ckB + ckA);
    }
    std::string bytes(reinterpret_cast<const char *>(frame), sizeof frame);
    bytes += static_cast<char>(ckA);
    bytes += static_cast<char>(ckB);
    return bytes;
}

} // namespace

const char *RestartName(RestartKind kind) {
    switch (kind) {
    case RestartKind::Cold:
        return "cold start";
    case RestartKind::Warm:
        return "warm start";
    case RestartKind::Hot:
        break;
    }
    return "hot start";
}

std::string ComposeRestart(ReceiverFamily family, RestartKind kind) {
    const int k = kind == RestartKind::Cold ? 0 : kind == RestartKind::Warm ? 1 : 2;
    switch (family) {
    case ReceiverFamily::Ublox: {
        constexpr std::uint16_t kMasks[] = {0xFFFF, 0x0001, 0x0000};
        return UbxCfgRst(kMasks[k]);
    }
    case ReceiverFamily::Mtk: {
        // MediaTek's PMTK command packet description (also Quectel's L76/L80 GNSS protocol
        // manual): PMTK_CMD_HOT_START 101, PMTK_CMD_WARM_START 102,
        // PMTK_CMD_COLD_START 103, no parameters.
        constexpr const char *kBodies[] = {"$PMTK103", "$PMTK102", "$PMTK101"};
        return NmeaCommand(kBodies[k]);
    }
    case ReceiverFamily::Casic: {
        // CASIC's multimode satellite navigation receiver protocol, NMEA chapter,
        // "PCAS10 receiver restart": rs 0 hot, 1 warm, 2 cold (3, the factory start, also drops
        // the configuration, so it is never sent).
        constexpr const char *kBodies[] = {"$PCAS10,2", "$PCAS10,1", "$PCAS10,0"};
        return NmeaCommand(kBodies[k]);
    }
    case ReceiverFamily::St: {
        // ST UM2229 Teseo-LIV3 GNSS module software manual, NMEA commands "$PSTMCOLD" (its
        // optional mask left out: almanac, ephemeris, position and time are all cleared),
        // "$PSTMWARM" and "$PSTMHOT".
        constexpr const char *kBodies[] = {"$PSTMCOLD", "$PSTMWARM", "$PSTMHOT"};
        return NmeaCommand(kBodies[k]);
    }
    case ReceiverFamily::Sirf:
    case ReceiverFamily::Unknown:
        break;
    }
    constexpr const char *kBodies[] = {kColdStart, kWarmStart, kHotStart};
    return NmeaCommand(kBodies[k]);
}

std::string ComposeFamilyQueries() {
    // UBX-MON-VER (class 0x0A, id 0x04) polled with an empty payload; the receiver answers
    // with its software and hardware versions in a UBX frame.
    const std::string ubx("\xB5\x62\x0A\x04\x00\x00\x0E\x34", 8);
    // PMTK_Q_RELEASE, answered by $PMTK705; PCAS06,0, answered by a $GPTXT naming the firmware;
    // PSTMGETSWVER,0, answered by $PSTMVER.
    return ubx + NmeaCommand("$PMTK605") + NmeaCommand("$PCAS06,0") +
           NmeaCommand("$PSTMGETSWVER,0");
}
