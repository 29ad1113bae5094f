#include "StreamText.h"

#include "protocol/Rtcm3.h"
#include "protocol/UbxMessages.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

const char *UbxClassName(unsigned cls) {
    switch (cls) {
    case 0x01:
        return "NAV";
    case 0x02:
        return "RXM";
    case 0x04:
        return "INF";
    case 0x05:
        return "ACK";
    case 0x06:
        return "CFG";
    case 0x09:
        return "UPD";
    case 0x0A:
        return "MON";
    case 0x0B:
        return "AID";
    case 0x0D:
        return "TIM";
    case 0x10:
        return "ESF";
    case 0x13:
        return "MGA";
    case 0x21:
        return "LOG";
    case 0x27:
        return "SEC";
    case 0x28:
        return "HNR";
    default:
        return nullptr;
    }
}

struct UbxName {
    unsigned cls, id;
    const char *name;
};
// Messages receivers send or are sent often that the decoder does not read.
constexpr UbxName kMoreUbxNames[] = {
    {0x01, 0x01, "NAV-POSECEF"},   {0x01, 0x09, "NAV-ODO"},     {0x01, 0x11, "NAV-VELECEF"},
    {0x01, 0x13, "NAV-HPPOSECEF"}, {0x01, 0x20, "NAV-TIMEGPS"}, {0x01, 0x22, "NAV-CLOCK"},
    {0x01, 0x26, "NAV-TIMELS"},    {0x01, 0x36, "NAV-COV"},     {0x01, 0x3B, "NAV-SVIN"},
    {0x01, 0x3C, "NAV-RELPOSNED"}, {0x01, 0x61, "NAV-EOE"},     {0x02, 0x13, "RXM-SFRBX"},
    {0x02, 0x15, "RXM-RAWX"},      {0x04, 0x00, "INF-ERROR"},   {0x04, 0x01, "INF-WARNING"},
    {0x04, 0x02, "INF-NOTICE"},    {0x04, 0x03, "INF-TEST"},    {0x04, 0x04, "INF-DEBUG"},
    {0x06, 0x00, "CFG-PRT"},       {0x06, 0x01, "CFG-MSG"},     {0x06, 0x04, "CFG-RST"},
    {0x06, 0x08, "CFG-RATE"},      {0x06, 0x09, "CFG-CFG"},     {0x06, 0x24, "CFG-NAV5"},
    {0x06, 0x3E, "CFG-GNSS"},      {0x06, 0x8A, "CFG-VALSET"},  {0x06, 0x8B, "CFG-VALGET"},
    {0x06, 0x8C, "CFG-VALDEL"},    {0x0A, 0x06, "MON-MSGPP"},   {0x0A, 0x31, "MON-SPAN"},
    {0x0A, 0x36, "MON-COMMS"},     {0x0D, 0x01, "TIM-TP"},      {0x0D, 0x03, "TIM-TM2"},
    {0x10, 0x15, "ESF-INS"},       {0x10, 0x02, "ESF-MEAS"},    {0x10, 0x10, "ESF-STATUS"},
    {0x27, 0x03, "SEC-UNIQID"},
};

// "NAV-PVT", or the class's name and the id in hex, or both in hex.
std::string UbxMessageName(unsigned cls, unsigned id) {
    if (const char *known = ubx::MsgName(
            ubx::Identify(static_cast<std::uint8_t>(cls), static_cast<std::uint8_t>(id)));
        *known != '\0')
        return known;
    for (const UbxName &n : kMoreUbxNames)
        if (n.cls == cls && n.id == id)
            return n.name;
    char buf[16];
    if (const char *c = UbxClassName(cls))
        std::snprintf(buf, sizeof buf, "%s-%02X", c, id);
    else
        std::snprintf(buf, sizeof buf, "%02X-%02X", cls, id);
    return buf;
}

const unsigned char *Bytes(const TapLine &line) {
    return reinterpret_cast<const unsigned char *>(line.bytes.data());
}

bool IsUbxFrame(const TapLine &line) {
    return line.bytes.size() >= 8 && Bytes(line)[0] == 0xB5 && Bytes(line)[1] == 0x62;
}

bool IsRtcmFrame(const TapLine &line) {
    return line.bytes.size() >= 6 && Bytes(line)[0] == 0xD3;
}

std::string FrameName(const TapLine &line) {
    if (IsUbxFrame(line))
        return "UBX " + UbxMessageName(Bytes(line)[2], Bytes(line)[3]);
    if (IsRtcmFrame(line))
        return "RTCM " + std::to_string(rtcm3::MessageType(Bytes(line), line.bytes.size()));
    return {};
}

// The sentence's address: "GPGGA" from "$GPGGA,...".
std::string_view Address(std::string_view s) {
    if (s.empty() || s[0] != '$')
        return {};
    const std::size_t end = s.find_first_of(",*", 1);
    return s.substr(1, (end == std::string_view::npos ? s.size() : end) - 1);
}

bool IsTextLine(const TapLine &line) {
    return line.kind == TapKind::Sentence || line.kind == TapKind::BadSentence ||
           (line.kind == TapKind::Sent && !IsUbxFrame(line));
}

std::string_view TrimmedText(const TapLine &line) {
    std::string_view s = line.bytes;
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Field names per sentence type, in order after the address; a GSV's satellites repeat.
struct SentenceFields {
    const char *type;
    std::vector<const char *> names;
};
const std::vector<SentenceFields> &KnownFields() {
    static const std::vector<SentenceFields> fields = {
        {"GGA",
         {"time", "lat", "N/S", "lon", "E/W", "quality", "sats", "HDOP", "alt", "alt unit",
          "separation", "sep unit", "diff age", "station"}},
        {"RMC",
         {"time", "status", "lat", "N/S", "lon", "E/W", "speed kn", "course", "date", "mag var",
          "var E/W", "mode", "nav status"}},
        {"GSA",
         {"selection", "fix", "sv", "sv", "sv", "sv", "sv", "sv", "sv", "sv", "sv", "sv", "sv",
          "sv", "PDOP", "HDOP", "VDOP", "system"}},
        {"GST", {"time", "rms", "major", "minor", "orientation", "lat err", "lon err", "alt err"}},
        {"VTG",
         {"course true", "T", "course mag", "M", "speed kn", "N", "speed km/h", "K", "mode"}},
    };
    return fields;
}

std::vector<std::string_view> SplitFields(std::string_view s) {
    std::vector<std::string_view> out;
    const std::size_t star = s.rfind('*');
    if (star != std::string_view::npos)
        s = s.substr(0, star);
    std::size_t pos = s.find(',');
    while (pos != std::string_view::npos) {
        const std::size_t next = s.find(',', pos + 1);
        out.push_back(
            s.substr(pos + 1, (next == std::string_view::npos ? s.size() : next) - pos - 1));
        pos = next;
    }
    return out;
}

std::string DecodedSentence(std::string_view s) {
    const std::string_view address = Address(s);
    const std::string_view type =
        address.size() >= 3 ? address.substr(address.size() - 3) : address;
    const std::vector<std::string_view> fields = SplitFields(s);
    const SentenceFields *known = nullptr;
    for (const SentenceFields &f : KnownFields())
        if (type == f.type && address.size() == 5)
            known = &f;
    const bool gsv = type == "GSV" && address.size() == 5;
    std::string out(address);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string name;
        if (known != nullptr && i < known->names.size()) {
            name = known->names[i];
        } else if (gsv) {
            static constexpr std::array<const char *, 3> kHead = {"msgs", "msg", "in view"};
            static constexpr std::array<const char *, 4> kSat = {"sv", "elev", "az", "snr"};
            const bool signal = i >= 3 && i + 1 == fields.size() && (fields.size() - 3) % 4 == 1;
            name = i < 3 ? kHead[i] : signal ? "signal" : kSat[(i - 3) % 4];
        } else {
            name = std::to_string(i + 1);
        }
        out += "  ";
        out += name;
        out += '=';
        out += fields[i];
    }
    return out;
}

// The checksum a sentence should carry: the exclusive or of the bytes between "$" and "*".
unsigned NmeaChecksum(std::string_view body) {
    unsigned sum = 0;
    for (const char c : body)
        sum ^= static_cast<unsigned char>(c);
    return sum;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string TapType(const TapLine &line) {
    if (IsTextLine(line))
        return std::string(Address(TrimmedText(line)));
    std::string name = FrameName(line);
    if (!name.empty())
        name[name.find(' ')] = '-';
    return name;
}

std::string TapText(const TapLine &line) {
    std::string text = line.kind == TapKind::Sent ? ">> " : "";
    if (IsTextLine(line))
        text += TrimmedText(line);
    else
        text += FrameName(line) + ' ' + std::to_string(line.bytes.size()) + " bytes";
    return text;
}

std::string TapHex(const TapLine &line) {
    std::string out = line.kind == TapKind::Sent ? ">> " : "";
    out.reserve(out.size() + line.bytes.size() * 4 + 2);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (const unsigned char c : line.bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
        out += ' ';
    }
    out += " |";
    for (const unsigned char c : line.bytes)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    out += '|';
    return out;
}

std::string TapDecoded(const TapLine &line) {
    std::string out = line.kind == TapKind::Sent ? ">> " : "";
    if (IsTextLine(line)) {
        const std::string_view s = TrimmedText(line);
        out += DecodedSentence(s);
        if (line.kind == TapKind::BadSentence) {
            const std::size_t star = s.rfind('*');
            char buf[64];
            if (star == std::string_view::npos || star == 0)
                std::snprintf(buf, sizeof buf, "  (no checksum)");
            else
                std::snprintf(buf, sizeof buf, "  (checksum %.*s, the bytes give %02X)",
                              static_cast<int>(s.size() - star - 1), s.data() + star + 1,
                              NmeaChecksum(s.substr(1, star - 1)));
            out += buf;
        }
        return out;
    }
    const unsigned char *f = Bytes(line);
    const std::size_t n = line.bytes.size();
    char buf[160];
    if (IsUbxFrame(line)) {
        std::snprintf(buf, sizeof buf, "  class 0x%02X id 0x%02X  payload %zu bytes", f[2], f[3],
                      n - 8);
        out += FrameName(line) + buf;
    } else if (IsRtcmFrame(line)) {
        const int type = rtcm3::MessageType(f, n);
        out += FrameName(line);
        std::snprintf(buf, sizeof buf, "  payload %zu bytes", n - 6);
        out += buf;
        if (const int station = rtcm3::StationId(f, n); station >= 0)
            out += "  station " + std::to_string(station);
        if (rtcm3::Station st; (type == 1005 || type == 1006) && rtcm3::ReadStation(f, n, st)) {
            std::snprintf(buf, sizeof buf, "  ECEF x=%.4f y=%.4f z=%.4f m", st.x, st.y, st.z);
            out += buf;
            if (st.hasHeight) {
                std::snprintf(buf, sizeof buf, "  antenna height %.4f m", st.heightM);
                out += buf;
            }
        }
    } else {
        out += std::to_string(n) + " bytes";
    }
    return out;
}

bool BuildCommand(const std::string &typed, std::string &bytes, std::string &why) {
    std::string_view t = typed;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front())))
        t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())))
        t.remove_suffix(1);
    if (t.empty()) {
        why = "nothing to send";
        return false;
    }
    if (t.front() == '$') {
        // A checksum typed already ("*hh" at the end) is replaced by the right one.
        if (t.size() >= 3 && t[t.size() - 3] == '*' && HexDigit(t[t.size() - 2]) >= 0 &&
            HexDigit(t[t.size() - 1]) >= 0)
            t.remove_suffix(3);
        for (const char c : t.substr(1))
            if (c < 0x20 || c > 0x7E || c == '*' || c == '$') {
                why = "a sentence holds only printable ASCII, without \"*\" or \"$\" inside";
                return false;
            }
        if (t.size() < 2) {
            why = "the sentence is empty";
            return false;
        }
        char sum[8];
        std::snprintf(sum, sizeof sum, "*%02X\r\n", NmeaChecksum(t.substr(1)));
        bytes.assign(t);
        bytes += sum;
        return true;
    }
    std::string raw;
    int hi = -1;
    for (const char c : t) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',')
            continue;
        const int d = HexDigit(c);
        if (d < 0) {
            why = "type a sentence starting with \"$\", or UBX class, id and payload in hex "
                  "(\"06 04 00 00 01 00\")";
            return false;
        }
        if (hi < 0) {
            hi = d;
        } else {
            raw += static_cast<char>(hi * 16 + d);
            hi = -1;
        }
    }
    if (hi >= 0) {
        why = "an odd number of hex digits";
        return false;
    }
    if (raw.size() < 2) {
        why = "UBX needs at least a class and an id";
        return false;
    }
    const std::size_t payload = raw.size() - 2;
    if (payload > 0xFFFF) {
        why = "the payload is longer than a UBX frame carries";
        return false;
    }
    bytes = ubx::Frame(static_cast<std::uint8_t>(raw[0]), static_cast<std::uint8_t>(raw[1]),
                       std::string_view(raw).substr(2));
    return true;
}
