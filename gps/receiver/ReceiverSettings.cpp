#include "receiver/ReceiverSettings.h"

#include "BaudList.h"
#include "protocol/UbxMessages.h"
#include "protocol/WholeNumber.h"
#include "receiver/RestartCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

struct GnssName {
    unsigned bit;
    const char *name; // as the user writes it and GnssListText says it
    const char *alias;
};
constexpr GnssName kGnssNames[] = {
    {kGnssGps, "GPS", "GPS"},         {kGnssGlonass, "GLO", "GLONASS"},
    {kGnssGalileo, "GAL", "GALILEO"}, {kGnssBeidou, "BDS", "BEIDOU"},
    {kGnssQzss, "QZSS", "QZSS"},      {kGnssSbas, "SBAS", "SBAS"},
};
// The systems a fix can stand on; QZSS and SBAS only add to one of them.
constexpr unsigned kMajorSystems = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou;

std::string Trim(std::string text) {
    const auto notSpace = [](unsigned char c) { return std::isspace(c) == 0; };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

std::string Sentence(const std::string &body) {
    char buf[kSentenceBufferSize];
    std::snprintf(buf, sizeof buf, "%s", body.c_str());
    AppendChecksum(buf);
    return buf;
}

void Put(std::string &out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

constexpr std::uint8_t kCfg = 0x06;
constexpr std::uint8_t kPrt = 0x00, kRate = 0x08, kCfgCfg = 0x09, kGnss = 0x3E, kValSet = 0x8A;
// The key interface (CFG-VALSET) came with protocol version 23.01.
constexpr int kKeyInterfaceVersion = 2301;

ReplyMatch UbxAck(std::uint8_t id) {
    ReplyMatch m;
    m.kind = ReplyMatch::Kind::UbxAck;
    m.ubxClass = kCfg;
    m.ubxId = id;
    return m;
}

ReplyMatch SentenceReply(std::string ack, std::string nak) {
    ReplyMatch m;
    m.kind = ReplyMatch::Kind::Sentence;
    m.ack = std::move(ack);
    m.nak = std::move(nak);
    return m;
}

// A configuration item of the key interface: its key id, size in bytes and name.
struct UbxKey {
    std::uint32_t id;
    int size;
    const char *name;
};
constexpr UbxKey kRateMeas{0x30210001, 2, "CFG-RATE-MEAS"};
constexpr UbxKey kUart1Baud{0x40520001, 4, "CFG-UART1-BAUDRATE"};
struct SignalKey {
    unsigned bit;
    UbxKey key;
};
constexpr SignalKey kSignalKeys[] = {
    {kGnssGps, {0x1031001F, 1, "CFG-SIGNAL-GPS_ENA"}},
    {kGnssSbas, {0x10310020, 1, "CFG-SIGNAL-SBAS_ENA"}},
    {kGnssGalileo, {0x10310021, 1, "CFG-SIGNAL-GAL_ENA"}},
    {kGnssBeidou, {0x10310022, 1, "CFG-SIGNAL-BDS_ENA"}},
    {kGnssQzss, {0x10310024, 1, "CFG-SIGNAL-QZSS_ENA"}},
    {kGnssGlonass, {0x10310025, 1, "CFG-SIGNAL-GLO_ENA"}},
};

struct KeyValue {
    UbxKey key;
    std::uint32_t value;
};

// CFG-VALSET version 0 to the RAM layer (bit 0): version, layers, two reserved bytes, then each
// key id and its value, little-endian.
ConfigStep ValSet(const std::vector<KeyValue> &items, const std::string &what) {
    std::string payload;
    Put(payload, 0x00, 1);
    Put(payload, 0x01, 1);
    Put(payload, 0, 2);
    for (const KeyValue &kv : items) {
        Put(payload, kv.key.id, 4);
        Put(payload, kv.value, kv.key.size);
    }
    ConfigStep step;
    step.bytes = ubx::Frame(kCfg, kValSet, payload);
    step.reply = UbxAck(kValSet);
    step.what = what;
    return step;
}

std::vector<ConfigStep> UbxKeySteps(const Setting &s, bool oneKeyEach) {
    std::vector<ConfigStep> steps;
    switch (s.kind) {
    case SettingKind::Rate:
        steps.push_back(ValSet({{kRateMeas, static_cast<std::uint32_t>(1000 / s.rateHz)}},
                               std::string("CFG-VALSET ") + kRateMeas.name));
        break;
    case SettingKind::Gnss: {
        std::vector<KeyValue> items;
        for (const SignalKey &k : kSignalKeys)
            items.push_back({k.key, (s.gnss & k.bit) != 0 ? 1u : 0u});
        if (!oneKeyEach) {
            steps.push_back(ValSet(items, "CFG-VALSET CFG-SIGNAL"));
            break;
        }
        for (const KeyValue &kv : items)
            steps.push_back(ValSet({kv}, kv.key.name));
        break;
    }
    case SettingKind::Baud: {
        ConfigStep step = ValSet({{kUart1Baud, static_cast<std::uint32_t>(s.baud)}},
                                 std::string("CFG-VALSET ") + kUart1Baud.name);
        // Acknowledged at the old speed or the new one, or lost between them.
        step.reply = ReplyMatch{};
        step.settleMs = 200;
        steps.push_back(step);
        break;
    }
    case SettingKind::Save:
        break;
    }
    return steps;
}

std::vector<ConfigStep> UbxLegacySteps(const Setting &s) {
    ConfigStep step;
    std::string payload;
    switch (s.kind) {
    case SettingKind::Rate:
        // measRate (ms), navRate (measurements a solution), timeRef (1: GPS time).
        Put(payload, static_cast<std::uint32_t>(1000 / s.rateHz), 2);
        Put(payload, 1, 2);
        Put(payload, 1, 2);
        step.bytes = ubx::Frame(kCfg, kRate, payload);
        step.reply = UbxAck(kRate);
        step.what = "CFG-RATE";
        break;
    case SettingKind::Gnss: {
        // msgVer 0, numTrkChHw (read only), numTrkChUse 0xFF (all), then a block per system:
        // gnssId, resTrkCh, maxTrkCh, reserved, flags (bit 0 enable, bits 16-23 signals: L1).
        const struct {
            unsigned bit;
            std::uint8_t gnssId, res, max;
        } kBlocks[] = {{kGnssGps, 0, 8, 16},    {kGnssSbas, 1, 1, 3}, {kGnssGalileo, 2, 4, 8},
                       {kGnssBeidou, 3, 8, 16}, {kGnssQzss, 5, 0, 3}, {kGnssGlonass, 6, 8, 14}};
        Put(payload, 0, 1);
        Put(payload, 0, 1);
        Put(payload, 0xFF, 1);
        Put(payload, static_cast<std::uint32_t>(std::size(kBlocks)), 1);
        for (const auto &b : kBlocks) {
            Put(payload, b.gnssId, 1);
            Put(payload, b.res, 1);
            Put(payload, b.max, 1);
            Put(payload, 0, 1);
            Put(payload, 0x00010000u | ((s.gnss & b.bit) != 0 ? 1u : 0u), 4);
        }
        step.bytes = ubx::Frame(kCfg, kGnss, payload);
        step.reply = UbxAck(kGnss);
        step.what = "CFG-GNSS";
        break;
    }
    case SettingKind::Baud:
        // UART1: portID 1, reserved, txReady off, mode 8N1, the rate, in UBX+NMEA+RTCM 2+RTCM 3,
        // out UBX+NMEA, flags, reserved.
        Put(payload, 1, 1);
        Put(payload, 0, 1);
        Put(payload, 0, 2);
        Put(payload, 0x000008D0, 4);
        Put(payload, static_cast<std::uint32_t>(s.baud), 4);
        Put(payload, 0x0027, 2);
        Put(payload, 0x0003, 2);
        Put(payload, 0, 2);
        Put(payload, 0, 2);
        step.bytes = ubx::Frame(kCfg, kPrt, payload);
        step.what = "CFG-PRT";
        step.settleMs = 200;
        break;
    case SettingKind::Save:
        break;
    }
    return {step};
}

// CFG-CFG: clearMask none, saveMask all sections, loadMask none, deviceMask BBR, Flash, EEPROM
// and SPI Flash. Both the legacy receivers and those of the key interface take it.
ConfigStep UbxSave() {
    std::string payload;
    Put(payload, 0, 4);
    Put(payload, 0x0000FFFF, 4);
    Put(payload, 0, 4);
    Put(payload, 0x17, 1);
    ConfigStep step;
    step.bytes = ubx::Frame(kCfg, kCfgCfg, payload);
    step.reply = UbxAck(kCfgCfg);
    step.what = "CFG-CFG";
    return step;
}

ConfigStep NmeaStep(const std::string &body, ReplyMatch reply, int settleMs = 0) {
    ConfigStep step;
    step.bytes = Sentence(body);
    step.reply = std::move(reply);
    step.what = body.substr(0, body.find(','));
    step.settleMs = settleMs;
    return step;
}

std::vector<ConfigStep> MtkSteps(const Setting &s) {
    switch (s.kind) {
    case SettingKind::Rate:
        // PMTK_SET_NMEA_UPDATERATE: the interval in ms; PMTK001's flag 3 is success.
        return {NmeaStep("$PMTK220," + std::to_string(1000 / s.rateHz),
                         SentenceReply("$PMTK001,220,3", "$PMTK001,220,"))};
    case SettingKind::Gnss: {
        // PMTK_API_SET_GNSS_SEARCH_MODE: GPS, GLONASS, Galileo, Galileo full, BeiDou.
        const auto on = [&](unsigned bit) { return (s.gnss & bit) != 0 ? ",1" : ",0"; };
        return {NmeaStep(std::string("$PMTK353") + on(kGnssGps) + on(kGnssGlonass) +
                             on(kGnssGalileo) + ",0" + on(kGnssBeidou),
                         SentenceReply("$PMTK001,353,3", "$PMTK001,353,"))};
    }
    case SettingKind::Baud:
        // PMTK_SET_NMEA_BAUDRATE is not acknowledged: the receiver changes speed at once.
        return {NmeaStep("$PMTK251," + std::to_string(s.baud), ReplyMatch{}, 200)};
    case SettingKind::Save:
        break;
    }
    return {};
}

std::vector<ConfigStep> CasicSteps(const Setting &s) {
    // CASIC's NMEA commands are not answered: what the receiver then sends tells.
    switch (s.kind) {
    case SettingKind::Rate:
        return {NmeaStep("$PCAS02," + std::to_string(1000 / s.rateHz), ReplyMatch{})};
    case SettingKind::Gnss: {
        // PCAS04's mode: 1 GPS, 2 BeiDou, 4 GLONASS, added together.
        const unsigned mode = ((s.gnss & kGnssGps) != 0 ? 1u : 0u) |
                              ((s.gnss & kGnssBeidou) != 0 ? 2u : 0u) |
                              ((s.gnss & kGnssGlonass) != 0 ? 4u : 0u);
        return {NmeaStep("$PCAS04," + std::to_string(mode), ReplyMatch{})};
    }
    case SettingKind::Baud: {
        // PCAS01's rate index: 0 4800, 1 9600, 2 19200, 3 38400, 4 57600, 5 115200.
        constexpr int kRates[] = {4800, 9600, 19200, 38400, 57600, 115200};
        const auto at = std::find(std::begin(kRates), std::end(kRates), s.baud) - kRates;
        return {NmeaStep("$PCAS01," + std::to_string(at), ReplyMatch{}, 200)};
    }
    case SettingKind::Save:
        // PCAS00 writes the present configuration to flash.
        return {NmeaStep("$PCAS00", ReplyMatch{}, 200)};
    }
    return {};
}

std::vector<ConfigStep> StSteps(const Setting &s) {
    // PSTMSETPAR writes a parameter of the current configuration block (1, before the id): it
    // takes effect once saved (PSTMSAVEPAR) and the receiver is reset (PSTMSRR).
    const ReplyMatch setPar = SentenceReply("$PSTMSETPAROK", "$PSTMSETPARERROR");
    switch (s.kind) {
    case SettingKind::Rate: {
        // Parameter 303: the fix period in seconds.
        char period[16];
        std::snprintf(period, sizeof period, "%.1f", 1.0 / s.rateHz);
        return {NmeaStep(std::string("$PSTMSETPAR,1303,") + period, setPar)};
    }
    case SettingKind::Gnss: {
        // 1 GPS, 2 GLONASS, 4 QZSS, 8 Galileo, 128 BeiDou.
        const unsigned mask =
            ((s.gnss & kGnssGps) != 0 ? 1u : 0u) | ((s.gnss & kGnssGlonass) != 0 ? 2u : 0u) |
            ((s.gnss & kGnssQzss) != 0 ? 4u : 0u) | ((s.gnss & kGnssGalileo) != 0 ? 8u : 0u) |
            ((s.gnss & kGnssBeidou) != 0 ? 128u : 0u);
        return {NmeaStep("$PSTMSETCONSTMASK," + std::to_string(mask),
                         SentenceReply("$PSTMSETCONSTMASKOK", "$PSTMSETCONSTMASKERROR"))};
    }
    case SettingKind::Baud: {
        // Parameter 102, the NMEA port's rate: 0x4 4800, 0x5 9600, 0x7 19200, 0x8 38400,
        // 0x9 57600, 0xA 115200.
        const struct {
            int baud;
            const char *code;
        } kCodes[] = {{4800, "0x4"},  {9600, "0x5"},  {19200, "0x7"},
                      {38400, "0x8"}, {57600, "0x9"}, {115200, "0xA"}};
        for (const auto &c : kCodes)
            if (c.baud == s.baud)
                return {NmeaStep(std::string("$PSTMSETPAR,1102,") + c.code, setPar)};
        return {};
    }
    case SettingKind::Save:
        // The reset that applies the saved parameters is not answered; the receiver restarts.
        return {NmeaStep("$PSTMSAVEPAR", SentenceReply("$PSTMSAVEPAROK", "$PSTMSAVEPARERROR")),
                NmeaStep("$PSTMSRR", ReplyMatch{}, 1500)};
    }
    return {};
}

std::string RatesText(const std::vector<int> &rates) {
    std::string text;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        if (i > 0)
            text += i + 1 == rates.size() ? " or " : ", ";
        text += std::to_string(rates[i]);
    }
    return text;
}

// True when text begins with prefix and the prefix ends a field there (or ends in ",").
bool Starts(const char *text, std::size_t len, const std::string &prefix) {
    if (prefix.empty() || len < prefix.size() || std::memcmp(text, prefix.data(), prefix.size()))
        return false;
    if (prefix.back() == ',' || len == prefix.size())
        return true;
    const char next = text[prefix.size()];
    return next == ',' || next == '*' || next == '\r' || next == '\n';
}

} // namespace

bool ParseGnssList(const std::string &text, unsigned &mask, std::string &why) {
    mask = 0;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        std::string name = Trim(text.substr(from, comma - from));
        for (char &c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!name.empty()) {
            const auto *found =
                std::find_if(std::begin(kGnssNames), std::end(kGnssNames),
                             [&](const GnssName &g) { return name == g.name || name == g.alias; });
            if (found == std::end(kGnssNames)) {
                why = "unknown constellation \"" + name + "\" (GPS, GLO, GAL, BDS, QZSS, SBAS)";
                return false;
            }
            mask |= found->bit;
        }
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    if (mask == 0) {
        why = "no constellation given (GPS, GLO, GAL, BDS, QZSS, SBAS)";
        return false;
    }
    return true;
}

std::string GnssListText(unsigned mask) {
    std::string text;
    for (const GnssName &g : kGnssNames) {
        if ((mask & g.bit) == 0)
            continue;
        text += text.empty() ? "" : ",";
        text += g.name;
    }
    return text;
}

bool ParseSetting(const std::string &text, Setting &out, std::string &why) {
    const std::size_t eq = text.find('=');
    const std::string name = Trim(text.substr(0, eq));
    const std::string value = eq == std::string::npos ? "" : Trim(text.substr(eq + 1));
    Setting s;
    if (name == "save" && eq == std::string::npos) {
        s.kind = SettingKind::Save;
    } else if (name == "rate") {
        s.kind = SettingKind::Rate;
        if (!ParseWholeNumber(value, s.rateHz) || s.rateHz < 1 || s.rateHz > 10) {
            why = "rate wants 1 to 10 Hz, got \"" + value + "\"";
            return false;
        }
    } else if (name == "gnss") {
        s.kind = SettingKind::Gnss;
        if (!ParseGnssList(value, s.gnss, why))
            return false;
    } else if (name == "baud") {
        s.kind = SettingKind::Baud;
        if (!ParseWholeNumber(value, s.baud) || !platform::IsListedBaud(s.baud)) {
            why = "baud wants a standard rate from " +
                  std::to_string(platform::kBaudRates.front()) + " to " +
                  std::to_string(platform::kBaudRates.back()) + ", got \"" + value + "\"";
            return false;
        }
    } else {
        why = "unknown setting \"" + text + "\" (rate=HZ, gnss=LIST, baud=N or save)";
        return false;
    }
    out = s;
    return true;
}

const char *SettingName(SettingKind kind) {
    switch (kind) {
    case SettingKind::Rate:
        return "rate";
    case SettingKind::Gnss:
        return "gnss";
    case SettingKind::Baud:
        return "baud";
    case SettingKind::Save:
        break;
    }
    return "save";
}

std::string SettingValue(const Setting &setting) {
    switch (setting.kind) {
    case SettingKind::Rate:
        return std::to_string(setting.rateHz);
    case SettingKind::Gnss:
        return GnssListText(setting.gnss);
    case SettingKind::Baud:
        return std::to_string(setting.baud);
    case SettingKind::Save:
        break;
    }
    return "";
}

FamilySupport SupportOf(ReceiverFamily family, int protocolVersion) {
    (void)protocolVersion; // both u-blox generations change the same settings
    const std::vector<int> uartBauds = {4800, 9600, 19200, 38400, 57600, 115200};
    FamilySupport f;
    switch (family) {
    case ReceiverFamily::Ublox:
        f.rate = f.gnss = f.baud = f.save = true;
        f.rates = {1, 2, 5, 10};
        f.gnssChoices =
            kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou | kGnssQzss | kGnssSbas;
        f.bauds = uartBauds;
        break;
    case ReceiverFamily::Mtk:
        // Keeps what it is told in its own backup memory: there is nothing to save.
        f.rate = f.gnss = f.baud = true;
        f.rates = {1, 2, 5, 10};
        f.gnssChoices = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou;
        f.gnssRequired = kGnssGps;
        f.bauds = uartBauds;
        break;
    case ReceiverFamily::Casic:
        f.rate = f.gnss = f.baud = f.save = true;
        f.rates = {1, 2, 5};
        f.gnssChoices = kGnssGps | kGnssBeidou | kGnssGlonass;
        f.bauds = uartBauds;
        break;
    case ReceiverFamily::St:
        f.rate = f.gnss = f.baud = f.save = true;
        f.onlyWithSave = true;
        f.rates = {1, 2, 5, 10};
        f.gnssChoices = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou | kGnssQzss;
        f.bauds = uartBauds;
        break;
    case ReceiverFamily::Sirf:
        f.baud = true;
        f.bauds = uartBauds;
        break;
    case ReceiverFamily::Unknown:
        break;
    }
    return f;
}

std::vector<ConfigStep> ComposeSetting(ReceiverFamily family, int protocolVersion,
                                       const Setting &setting, bool oneKeyEach, std::string &why) {
    const FamilySupport f = SupportOf(family, protocolVersion);
    const std::string maker = FamilyName(family);
    const char *name = SettingName(setting.kind);
    const bool bSupported = setting.kind == SettingKind::Rate   ? f.rate
                            : setting.kind == SettingKind::Gnss ? f.gnss
                            : setting.kind == SettingKind::Baud ? f.baud
                                                                : f.save;
    if (!bSupported) {
        why = family == ReceiverFamily::Unknown
                  ? std::string("not supported: the receiver has not named its maker")
              : family == ReceiverFamily::Mtk && setting.kind == SettingKind::Save
                  ? "not supported: MediaTek receivers keep their settings without a save"
                  : "not supported: " + maker + " receivers take no " + name + " command";
        return {};
    }
    switch (setting.kind) {
    case SettingKind::Rate:
        if (std::find(f.rates.begin(), f.rates.end(), setting.rateHz) == f.rates.end()) {
            why = "refused: " + maker + " receivers take " + RatesText(f.rates) + " Hz";
            return {};
        }
        break;
    case SettingKind::Gnss: {
        const unsigned extra = setting.gnss & ~f.gnssChoices;
        if (extra != 0) {
            why = "not supported: " + maker + " receivers cannot switch " + GnssListText(extra);
            return {};
        }
        if ((setting.gnss & f.gnssRequired) != f.gnssRequired) {
            why = "refused: " + maker + " receivers always track " + GnssListText(f.gnssRequired);
            return {};
        }
        if ((setting.gnss & kMajorSystems) == 0) {
            why = "refused: a fix needs GPS, GLO, GAL or BDS";
            return {};
        }
        break;
    }
    case SettingKind::Baud:
        if (std::find(f.bauds.begin(), f.bauds.end(), setting.baud) == f.bauds.end()) {
            why = "refused: " + maker + " receivers take " + RatesText(f.bauds) + " baud";
            return {};
        }
        break;
    case SettingKind::Save:
        break;
    }
    std::vector<ConfigStep> steps;
    switch (family) {
    case ReceiverFamily::Ublox:
        if (setting.kind == SettingKind::Save)
            steps = {UbxSave()};
        else if (protocolVersion >= kKeyInterfaceVersion)
            steps = UbxKeySteps(setting, oneKeyEach);
        else
            steps = UbxLegacySteps(setting);
        break;
    case ReceiverFamily::Mtk:
        steps = MtkSteps(setting);
        break;
    case ReceiverFamily::Casic:
        steps = CasicSteps(setting);
        break;
    case ReceiverFamily::St:
        steps = StSteps(setting);
        break;
    case ReceiverFamily::Sirf:
        // Input message 100: back to NMEA (1) at the rate, 8 data bits, 1 stop bit, no parity.
        steps = {
            NmeaStep("$PSRF100,1," + std::to_string(setting.baud) + ",8,1,0", ReplyMatch{}, 200)};
        break;
    case ReceiverFamily::Unknown:
        break;
    }
    if (steps.empty())
        why = "not supported: " + maker + " receivers take no such " + name;
    return steps;
}

int MatchSentence(const ReplyMatch &match, const char *sentence, std::size_t len) {
    if (match.kind != ReplyMatch::Kind::Sentence || sentence == nullptr)
        return 0;
    if (Starts(sentence, len, match.ack))
        return 1;
    if (Starts(sentence, len, match.nak))
        return -1;
    return 0;
}

int MatchUbxFrame(const ReplyMatch &match, const unsigned char *frame, std::size_t len) {
    // ACK-ACK (05 01) or ACK-NAK (05 00), two bytes: the class and id it answers.
    if (match.kind != ReplyMatch::Kind::UbxAck || frame == nullptr || len != 10 ||
        frame[0] != 0xB5 || frame[1] != 0x62 || frame[2] != 0x05 || frame[3] > 0x01 ||
        frame[4] != 2 || frame[5] != 0)
        return 0;
    std::uint8_t ckA = 0, ckB = 0;
    ubx::Checksum(frame + 2, 6, ckA, ckB);
    if (ckA != frame[8] || ckB != frame[9] || frame[6] != match.ubxClass || frame[7] != match.ubxId)
        return 0;
    return frame[3] == 0x01 ? 1 : -1;
}

bool FitsLine(int rateHz, unsigned gnss, int baud, std::string &why) {
    if (rateHz <= 0 || baud <= 0)
        return true;
    // An epoch: GGA (~75 bytes) and RMC (~70), and per system a GSA (~60) and its GSV, ~65 for
    // each 4 of the ~6 satellites a system has in view.
    int systems = 0;
    for (unsigned bit : {kGnssGps, kGnssGlonass, kGnssGalileo, kGnssBeidou})
        systems += (gnss & bit) != 0 ? 1 : 0;
    systems = std::max(systems, 1);
    const int perEpoch = 75 + 70 + systems * (60 + 2 * 65);
    const int needs = perEpoch * rateHz;
    const int carries = baud / 10;
    if (needs <= carries)
        return true;
    why = std::to_string(rateHz) + " Hz of " + std::to_string(systems) +
          (systems == 1 ? " system" : " systems") + " needs about " + std::to_string(needs) +
          " bytes a second; " + std::to_string(baud) + " baud carries " + std::to_string(carries);
    return false;
}
