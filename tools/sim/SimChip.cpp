#include "SimChip.h"

#include "NmeaLine.h"
#include "SimRtk.h"
#include "UbxWriter.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kCold = 4, kWarm = 2, kHot = 1;
// Our commands are a few bytes; a longer "frame" is noise.
constexpr std::size_t kMaxFrame = 512;
constexpr std::size_t kMaxLine = 200;

struct Command {
    SimFamily family;
    const char *body; // the line up to "*", or its head when it ends in ","
    int nResetCfg;
};

// What each family obeys; see gps/receiver/RestartCommands.cpp for the makers' documents.
constexpr Command kCommands[] = {
    {SimFamily::Mtk, "$PMTK101", kHot},     {SimFamily::Mtk, "$PMTK102", kWarm},
    {SimFamily::Mtk, "$PMTK103", kCold},    {SimFamily::Mtk, "$PMTK104", kCold},
    {SimFamily::Casic, "$PCAS10,0", kHot},  {SimFamily::Casic, "$PCAS10,1", kWarm},
    {SimFamily::Casic, "$PCAS10,2", kCold}, {SimFamily::Casic, "$PCAS10,3", kCold},
    {SimFamily::St, "$PSTMHOT", kHot},      {SimFamily::St, "$PSTMWARM", kWarm},
    {SimFamily::St, "$PSTMCOLD", kCold},    {SimFamily::St, "$PSTMCOLD,", kCold},
};

struct Query {
    SimFamily family;
    const char *body;   // the line up to "*"
    const char *answer; // the sentence body it is answered with
};

// The version queries each family answers; see gps/receiver/RestartCommands.cpp.
constexpr Query kQueries[] = {
    {SimFamily::Mtk, "$PMTK605", "PMTK705,AXN_5.1.7_3333_19020118,0027,PA1616S,1.0"},
    {SimFamily::Casic, "$PCAS06,0", "GPTXT,01,01,02,SW=URANUS5,V5.3.0.0"},
    {SimFamily::St, "$PSTMGETSWVER,0", "PSTMVER,GNSSLIB_8.4.18.25_ARM"},
};

// "PROTVER=18.00" for 1800.
std::string ProtVer(int version) {
    char text[32];
    std::snprintf(text, sizeof text, "PROTVER=%d.%02d", version / 100, version % 100);
    return text;
}

// UBX-MON-VER: swVersion (30 characters), hwVersion (10), then 30-character extensions.
std::string MonVer(int protocol) {
    const auto field = [](const char *text, std::size_t n) {
        std::string f(text);
        f.resize(n, '\0');
        return f;
    };
    return UbxFrame(0x0A, 0x04,
                    field("ROM CORE 3.01 (107888)", 30) + field("00080000", 10) +
                        field("FWVER=SPG 3.01", 30) + field(ProtVer(protocol).c_str(), 30));
}

const char *FamilyText(SimFamily family) {
    switch (family) {
    case SimFamily::Sirf:
        return "SiRF";
    case SimFamily::Ublox:
        return "u-blox";
    case SimFamily::Mtk:
        return "MediaTek";
    case SimFamily::Casic:
        return "CASIC";
    case SimFamily::St:
        break;
    }
    return "ST Teseo";
}

const char *KindText(int nResetCfg) {
    return nResetCfg == kCold ? "cold start" : nResetCfg == kWarm ? "warm start" : "hot start";
}

} // namespace

bool CSimChip::Parse(const std::string &name, SimFamily &family) {
    const struct {
        const char *name;
        SimFamily family;
    } names[] = {{"sirf", SimFamily::Sirf},
                 {"ublox", SimFamily::Ublox},
                 {"mtk", SimFamily::Mtk},
                 {"casic", SimFamily::Casic},
                 {"st", SimFamily::St}};
    for (const auto &n : names) {
        if (name == n.name) {
            family = n.family;
            return true;
        }
    }
    return false;
}

std::vector<std::string> CSimChip::Banner() const {
    std::vector<std::string> bodies;
    switch (m_family) {
    case SimFamily::Sirf:
        bodies = {"PSRFTXT,Version:GSW3.5.0_3.5.00.00-SDK-3EP2.01"};
        break;
    case SimFamily::Ublox:
        bodies = {"GNTXT,01,01,02,u-blox AG - www.u-blox.com",
                  "GNTXT,01,01,02,HW UBX-M8030 00080000", "GNTXT,01,01,02,ROM CORE 3.01 (107888)",
                  "GNTXT,01,01,02,FWVER=SPG 3.01", "GNTXT,01,01,02," + ProtVer(m_nProtocol)};
        break;
    case SimFamily::Mtk:
        bodies = {"PMTK011,MTKGPS", "PMTK010,001"};
        break;
    case SimFamily::Casic:
        bodies = {"GPTXT,01,01,02,MA=CASIC", "GPTXT,01,01,02,IC=AT6558-5N-32-1C510800",
                  "GPTXT,01,01,01,ANTENNA OK"};
        break;
    case SimFamily::St:
        bodies = {"PSTMVER,GNSSLIB_8.4.18.25_ARM"};
        break;
    }
    std::vector<std::string> lines;
    for (const std::string &body : bodies) {
        // UBX-INF-NOTICE (04 02) carries the text of the TXT sentence's last field.
        lines.push_back(m_bUbxOnly ? UbxFrame(0x04, 0x02, body.substr(body.rfind(',') + 1))
                                   : NmeaLine(body));
    }
    return lines;
}

std::string CSimChip::NextCycle() {
    if (m_bSilent)
        return {};
    const std::vector<std::string> lines = Banner();
    std::string out;
    if (m_nCycle++ == 0) {
        for (const std::string &line : lines)
            out += line;
    } else {
        // One line a cycle after that, so a reader that opens the device late hears it soon
        // without the cycles outgrowing a slow line.
        out = lines[static_cast<std::size_t>(m_nCycle) % lines.size()];
    }
    return out;
}

std::vector<int> CSimChip::Feed(const char *data, std::size_t n) {
    std::vector<int> restarts;
    // The bytes of a false RTCM 3 frame are read again from its second, so they join the input.
    std::string in(data, n);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (!m_rtcm.empty()) {
            OnRtcmByte(b, in, i);
            continue;
        }
        if (!m_frame.empty()) {
            m_frame += static_cast<char>(b);
            if (m_frame.size() == 2 && b != 0x62) {
                // Not a UBX frame after all: this byte may start something else.
                m_frame.clear();
                --i;
                continue;
            }
            if (m_frame.size() < 6)
                continue;
            const auto lo = static_cast<unsigned char>(m_frame[4]);
            const auto hi = static_cast<unsigned char>(m_frame[5]);
            const std::size_t length = lo | static_cast<std::size_t>(hi) << 8;
            if (8 + length > kMaxFrame) {
                m_frame.clear();
            } else if (m_frame.size() == 8 + length) {
                OnFrame(restarts);
                m_frame.clear();
            }
        } else if (b == 0xB5) {
            m_frame = static_cast<char>(b);
        } else if (b == 0xD3) {
            // Commands are ASCII: this byte can only start an RTCM 3 frame.
            m_rtcm = static_cast<char>(b);
        } else if (b == '\r' || b == '\n') {
            if (!m_line.empty())
                OnLine(m_line, restarts);
            m_line.clear();
        } else if (b == '$') {
            // A receiver starts over at every "$": a probe without a line end before a command
            // (gpsd sends binary ones) does not cost the command.
            m_line = '$';
        } else if (m_line.size() < kMaxLine) {
            m_line += static_cast<char>(b);
        }
    }
    return restarts;
}

void CSimChip::OnRtcmByte(unsigned char b, std::string &in, std::size_t at) {
    m_rtcm += static_cast<char>(b);
    const auto *frame = reinterpret_cast<const unsigned char *>(m_rtcm.data());
    // Six zero bits follow the preamble.
    const bool bFalseStart = m_rtcm.size() == 2 && (b & 0xFC) != 0;
    if (!bFalseStart) {
        if (m_rtcm.size() < 3)
            return;
        const std::size_t length = static_cast<std::size_t>(frame[1] & 0x03) << 8 | frame[2];
        if (m_rtcm.size() < 6 + length)
            return;
        int type = -1, station = -1;
        if (Rtcm3Frame(frame, m_rtcm.size(), type, station)) {
            if (station >= 0 && station != m_nLastStation)
                std::fprintf(stderr, "RTCM 3 corrections from station %d\n", station);
            m_nLastStation = station >= 0 ? station : m_nLastStation;
            // An empty frame carries no message.
            if (type >= 0)
                m_stations.push_back(station);
            m_rtcm.clear();
            return;
        }
        std::fprintf(stderr, "ignored (bad CRC): RTCM 3 frame of %zu bytes\n", m_rtcm.size());
    }
    in.insert(at + 1, m_rtcm, 1);
    m_rtcm.clear();
}

std::vector<int> CSimChip::TakeStations() {
    std::vector<int> stations;
    stations.swap(m_stations);
    return stations;
}

std::string CSimChip::TakeAnswer() {
    std::string answer;
    answer.swap(m_answer);
    return answer;
}

bool CSimChip::OnQuery(const std::string &body, const std::string &line) {
    for (const Query &q : kQueries) {
        if (body != q.body)
            continue;
        if (q.family == m_family) {
            std::fprintf(stderr, "answered version query: %s\n", line.c_str());
            m_answer += NmeaLine(q.answer);
        } else {
            std::fprintf(stderr, "ignored (a %s query): %s\n", FamilyText(q.family), line.c_str());
        }
        return true;
    }
    return false;
}

void CSimChip::Obey(int nResetCfg, const std::string &what, std::vector<int> &restarts) {
    std::fprintf(stderr, "received %s: %s\n", KindText(nResetCfg), what.c_str());
    restarts.push_back(nResetCfg);
    // A restarted receiver prints its banner again.
    m_nCycle = 0;
    m_bSilent = false;
    m_bTiming = true;
    m_restartAt = std::chrono::steady_clock::now();
    m_restartName = KindText(nResetCfg);
}

void CSimChip::OnLine(const std::string &line, std::vector<int> &restarts) {
    // Only proprietary sentences ("$P") can be commands.
    if (line.rfind("$P", 0) != 0)
        return;
    if (!NmeaChecksumOk(line)) {
        std::fprintf(stderr, "ignored (bad checksum): %s\n", line.c_str());
        return;
    }
    const std::string body = line.substr(0, line.rfind('*'));
    if (OnQuery(body, line))
        return;
    bool bReset = false;
    if (m_config.OnSentence(body, m_answer, bReset)) {
        std::fprintf(stderr, "configuration command: %s\n", line.c_str());
        if (bReset)
            Obey(kHot, line, restarts);
        return;
    }
    if (m_family == SimFamily::Sirf && body.rfind("$PSRF104,", 0) == 0) {
        // The reset configuration is the last field: 4 cold, 2 warm, 1 hot.
        const int cfg = std::atoi(body.substr(body.rfind(',') + 1).c_str());
        if (cfg != kCold && cfg != kWarm && cfg != kHot) {
            std::fprintf(stderr, "ignored (unknown reset configuration): %s\n", line.c_str());
            return;
        }
        Obey(cfg, line, restarts);
        return;
    }
    for (const Command &c : kCommands) {
        const std::string head = c.body;
        const bool bMatch = head.back() == ',' ? body.rfind(head, 0) == 0 : body == head;
        if (c.family == m_family && bMatch) {
            Obey(c.nResetCfg, line, restarts);
            return;
        }
    }
    std::fprintf(stderr, "ignored (not a %s restart): %s\n", FamilyText(m_family), line.c_str());
}

void CSimChip::OnFrame(std::vector<int> &restarts) {
    std::string hex = "UBX";
    char byte[4];
    for (const char c : m_frame) {
        std::snprintf(byte, sizeof byte, " %02X", static_cast<unsigned char>(c));
        hex += byte;
    }
    unsigned char ckA = 0, ckB = 0;
    for (std::size_t i = 2; i + 2 < m_frame.size(); ++i) {
        ckA = static_cast<unsigned char>(ckA + static_cast<unsigned char>(m_frame[i]));
        ckB = static_cast<unsigned char>(ckB + ckA);
    }
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(m_frame[i]); };
    if (ckA != at(m_frame.size() - 2) || ckB != at(m_frame.size() - 1)) {
        std::fprintf(stderr, "ignored (bad checksum): %s\n", hex.c_str());
        return;
    }
    // UBX-MON-VER polled: class 0x0A, id 0x04, no payload.
    if (at(2) == 0x0A && at(3) == 0x04 && m_frame.size() == 8) {
        if (m_family == SimFamily::Ublox) {
            std::fprintf(stderr, "answered version query: %s\n", hex.c_str());
            m_answer += MonVer(m_nProtocol);
        } else {
            std::fprintf(stderr, "ignored (a u-blox query): %s\n", hex.c_str());
        }
        return;
    }
    if (at(2) == 0x06 && at(3) != 0x04 && m_config.OnUbx(m_frame, m_answer)) {
        std::fprintf(stderr, "configuration message: %s\n", hex.c_str());
        return;
    }
    // UBX-CFG-RST: class 0x06, id 0x04, payload navBbrMask (2 bytes), resetMode, reserved.
    const bool bCfgRst = at(2) == 0x06 && at(3) == 0x04 && m_frame.size() == 12;
    if (m_family != SimFamily::Ublox || !bCfgRst) {
        std::fprintf(stderr, "ignored (not a %s restart): %s\n", FamilyText(m_family), hex.c_str());
        return;
    }
    const unsigned mask = static_cast<unsigned>(at(6)) | static_cast<unsigned>(at(7)) << 8;
    const int cfg = mask == 0xFFFF ? kCold : mask == 0x0001 ? kWarm : mask == 0x0000 ? kHot : 0;
    char what[96];
    std::snprintf(what, sizeof what, "UBX-CFG-RST navBbrMask 0x%04X resetMode 0x%02X", mask, at(8));
    if (cfg == 0) {
        std::fprintf(stderr, "ignored (unknown navBbrMask): %s\n", what);
        return;
    }
    Obey(cfg, what, restarts);
}

void CSimChip::NoteCycle(bool bAcquiring, double dSendSeconds) {
    if (!m_bTiming || bAcquiring)
        return;
    m_bTiming = false;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_restartAt).count() *
            m_nSpeed +
        dSendSeconds;
    std::fprintf(stderr, "fix after %.2f s (%s)\n", seconds, m_restartName);
}
