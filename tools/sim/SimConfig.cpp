#include "SimConfig.h"

#include "NmeaLine.h"
#include "SimChip.h"
#include "UbxWriter.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr unsigned kGps = 1, kGlonass = 2, kGalileo = 4, kBeidou = 8;

std::vector<std::string> Fields(const std::string &body) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = body.find(',', from);
        fields.push_back(body.substr(from, comma - from));
        if (comma == std::string::npos)
            return fields;
        from = comma + 1;
    }
}

bool ToInt(const std::string &text, int &value, int base = 10) {
    const char *begin = text.data(), *end = begin + text.size();
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        begin += 2;
    const auto [ptr, ec] = std::from_chars(begin, end, value, base);
    return ec == std::errc() && ptr == end && begin != end;
}

// The rates a receiver of this family runs at: its interval in ms must give one of them.
bool RateOf(int ms, int &rate) {
    if (ms <= 0 || 1000 % ms != 0)
        return false;
    rate = 1000 / ms;
    return rate == 1 || rate == 2 || rate == 5 || rate == 10;
}

bool IsUartBaud(int baud) {
    for (int b : {4800, 9600, 19200, 38400, 57600, 115200})
        if (b == baud)
            return true;
    return false;
}

std::uint32_t Le(const std::string &s, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

std::string Ack(bool bAck, const std::string &frame) {
    return UbxFrame(0x05, bAck ? 0x01 : 0x00, frame.substr(2, 2));
}

} // namespace

void CSimConfig::Changed() {
    if (m_family == SimFamily::Mtk || m_family == SimFamily::Sirf)
        m_saved = m_pending = m_working;
}

bool CSimConfig::OnSentence(const std::string &body, std::string &answer, bool &bReset) {
    const SimSettings working = m_working, saved = m_saved, pending = m_pending;
    const bool taken = ObeySentence(body, answer, bReset);
    KeepIfAckOnly(working, saved, pending);
    bReset = bReset && !m_bAckOnly;
    return taken;
}

bool CSimConfig::OnUbx(const std::string &frame, std::string &answer) {
    const SimSettings working = m_working, saved = m_saved, pending = m_pending;
    const bool taken = ObeyUbx(frame, answer);
    KeepIfAckOnly(working, saved, pending);
    return taken;
}

void CSimConfig::KeepIfAckOnly(const SimSettings &working, const SimSettings &saved,
                               const SimSettings &pending) {
    if (!m_bAckOnly)
        return;
    m_working = working;
    m_saved = saved;
    m_pending = pending;
}

bool CSimConfig::ObeySentence(const std::string &body, std::string &answer, bool &bReset) {
    const std::vector<std::string> f = Fields(body);
    const std::string &head = f[0];
    int v = 0;
    switch (m_family) {
    case SimFamily::Mtk: {
        const auto ack = [&](const char *cmd, int flag, const std::string &more = "") {
            answer += NmeaLine("PMTK001," + std::string(cmd) + "," + std::to_string(flag) + more);
        };
        if (head == "$PMTK220") {
            int rate = 0;
            const bool ok = f.size() == 2 && ToInt(f[1], v) && RateOf(v, rate);
            if (ok)
                m_working.nRate = rate;
            ack("220", ok ? 3 : 2);
        } else if (head == "$PMTK353") {
            // GPS, GLONASS, Galileo, Galileo full, BeiDou; GPS cannot be left out.
            int on[5] = {};
            bool ok = f.size() == 6;
            for (std::size_t i = 0; ok && i < 5; ++i)
                ok = ToInt(f[i + 1], on[i]) && (on[i] == 0 || on[i] == 1);
            ok = ok && on[0] == 1;
            if (!ok) {
                ack("353", 2);
                return true;
            }
            m_working.systems =
                kGps | (on[1] ? kGlonass : 0u) | (on[2] ? kGalileo : 0u) | (on[4] ? kBeidou : 0u);
            const int mask = on[0] | on[1] << 1 | on[2] << 2 | on[3] << 3 | (on[4] ? 48 : 0);
            std::string more;
            for (int x : on)
                more += "," + std::to_string(x);
            ack("353", 3, more + "," + std::to_string(mask));
        } else if (head == "$PMTK251") {
            // Not answered: the receiver goes over to the new speed.
            if (f.size() == 2 && ToInt(f[1], v) && IsUartBaud(v))
                m_working.nBaud = v;
        } else {
            return false;
        }
        break;
    }
    case SimFamily::Casic:
        // CASIC answers none of these; a value it does not take changes nothing.
        if (head == "$PCAS02") {
            int rate = 0;
            if (f.size() == 2 && ToInt(f[1], v) && RateOf(v, rate) && rate <= 5)
                m_working.nRate = rate;
            else
                std::fprintf(stderr, "refused (CASIC runs at 1, 2 or 5 Hz): %s\n", body.c_str());
        } else if (head == "$PCAS04") {
            if (f.size() == 2 && ToInt(f[1], v) && v >= 1 && v <= 7)
                m_working.systems =
                    ((v & 1) ? kGps : 0u) | ((v & 2) ? kBeidou : 0u) | ((v & 4) ? kGlonass : 0u);
        } else if (head == "$PCAS01") {
            constexpr int kRates[] = {4800, 9600, 19200, 38400, 57600, 115200};
            if (f.size() == 2 && ToInt(f[1], v) && v >= 0 && v <= 5)
                m_working.nBaud = kRates[v];
        } else if (head == "$PCAS00") {
            m_saved = m_working;
        } else {
            return false;
        }
        break;
    case SimFamily::St:
        // Parameters go to the current configuration; saved, they run after the next reset.
        if (head == "$PSTMSETPAR" && f.size() >= 3) {
            bool ok = false;
            if (f[1] == "1303") {
                const double period = std::strtod(f[2].c_str(), nullptr);
                int rate = 0;
                ok = period > 0.0 && period <= 1.0 &&
                     RateOf(static_cast<int>(period * 1000.0 + 0.5), rate);
                m_pending.nRate = ok ? rate : m_pending.nRate;
            } else if (f[1] == "1102" && ToInt(f[2], v, 16)) {
                const int kCodes[] = {0, 0, 0, 0, 4800, 9600, 0, 19200, 38400, 57600, 115200};
                ok = v >= 0 && v < 11 && kCodes[v] != 0;
                m_pending.nBaud = ok ? kCodes[v] : m_pending.nBaud;
            }
            answer += ok ? NmeaLine("PSTMSETPAROK," + f[1]) : NmeaLine("PSTMSETPARERROR");
        } else if (head == "$PSTMSETCONSTMASK" && f.size() == 2 && ToInt(f[1], v)) {
            // 1 GPS, 2 GLONASS, 4 QZSS, 8 Galileo, 128 BeiDou.
            const unsigned systems = ((v & 1) ? kGps : 0u) | ((v & 2) ? kGlonass : 0u) |
                                     ((v & 8) ? kGalileo : 0u) | ((v & 128) ? kBeidou : 0u);
            if (systems != 0)
                m_pending.systems = systems;
            answer += systems != 0 ? NmeaLine("PSTMSETCONSTMASKOK," + f[1])
                                   : NmeaLine("PSTMSETCONSTMASKERROR");
        } else if (head == "$PSTMSAVEPAR") {
            m_saved = m_pending;
            answer += NmeaLine("PSTMSAVEPAROK");
        } else if (head == "$PSTMSRR") {
            m_working = m_pending = m_saved;
            bReset = true;
        } else {
            return false;
        }
        break;
    case SimFamily::Sirf:
        // Input message 100 with protocol 1 (NMEA), 8 data bits, 1 stop bit, no parity.
        if (head != "$PSRF100")
            return false;
        if (f.size() == 6 && f[1] == "1" && ToInt(f[2], v) && IsUartBaud(v) && f[3] == "8" &&
            f[4] == "1" && f[5] == "0")
            m_working.nBaud = v;
        break;
    case SimFamily::Ublox:
        return false;
    }
    Changed();
    return true;
}

bool CSimConfig::OnUbxValSet(const std::string &p) {
    // version 0, layers (1 RAM, 2 BBR, 4 Flash), 2 reserved, then keys and values.
    if (m_nProtocol < 2301 || p.size() < 4 || p[0] != 0)
        return false;
    const unsigned layers = static_cast<unsigned char>(p[1]);
    SimSettings working = m_working;
    for (std::size_t at = 4; at < p.size();) {
        if (at + 4 > p.size())
            return false;
        const std::uint32_t key = Le(p, at, 4);
        // The key's size: 1 one bit, 2 one byte, 3 two, 4 four, 5 eight bytes.
        const int sizes[] = {0, 1, 1, 2, 4, 8, 0, 0};
        const int size = sizes[(key >> 28) & 7];
        if (size == 0 || at + 4 + static_cast<std::size_t>(size) > p.size() || key == m_refuseKey)
            return false;
        const std::uint32_t value = Le(p, at + 4, std::min(size, 4));
        at += 4 + static_cast<std::size_t>(size);
        const auto flag = [&](unsigned bit) {
            working.systems = value != 0 ? working.systems | bit : working.systems & ~bit;
        };
        int rate = 0;
        if (key == 0x30210001 && RateOf(static_cast<int>(value), rate))
            working.nRate = rate;
        else if (key == 0x40520001 && IsUartBaud(static_cast<int>(value)))
            working.nBaud = static_cast<int>(value);
        else if (key == 0x1031001F)
            flag(kGps);
        else if (key == 0x10310025)
            flag(kGlonass);
        else if (key == 0x10310021)
            flag(kGalileo);
        else if (key == 0x10310022)
            flag(kBeidou);
        else if (key != 0x10310020 && key != 0x10310024) // SBAS and QZSS: not in this sky
            return false;
    }
    if (working.systems == 0)
        return false;
    if (layers & 0x01)
        m_working = working;
    if (layers & 0x06)
        m_saved = working;
    return true;
}

bool CSimConfig::ObeyUbx(const std::string &frame, std::string &answer) {
    if (m_family != SimFamily::Ublox || frame.size() < 8 || frame[2] != 0x06)
        return false;
    const auto id = static_cast<unsigned char>(frame[3]);
    const std::string p = frame.substr(6, frame.size() - 8);
    bool ok = false;
    switch (id) {
    case 0x08: { // CFG-RATE: measRate (ms), navRate, timeRef
        int rate = 0;
        ok = p.size() == 6 && RateOf(static_cast<int>(Le(p, 0, 2)), rate) && Le(p, 2, 2) == 1;
        if (ok)
            m_working.nRate = rate;
        break;
    }
    case 0x3E: { // CFG-GNSS: 4 bytes, then 8 a system: gnssId, 3 bytes, flags (bit 0 enable)
        unsigned systems = m_working.systems;
        ok = p.size() >= 4 && p.size() == 4 + 8u * static_cast<unsigned char>(p[3]);
        for (std::size_t at = 4; ok && at < p.size(); at += 8) {
            const int gnssId = static_cast<unsigned char>(p[at]);
            const unsigned bit = gnssId == 0   ? kGps
                                 : gnssId == 6 ? kGlonass
                                 : gnssId == 2 ? kGalileo
                                 : gnssId == 3 ? kBeidou
                                               : 0u;
            systems = (Le(p, at + 4, 4) & 1) != 0 ? systems | bit : systems & ~bit;
        }
        ok = ok && systems != 0;
        if (ok)
            m_working.systems = systems;
        break;
    }
    case 0x00: { // CFG-PRT: UART1 (port 1), its baud rate at offset 8
        ok = p.size() == 20 && p[0] == 1 && IsUartBaud(static_cast<int>(Le(p, 8, 4)));
        if (ok)
            m_working.nBaud = static_cast<int>(Le(p, 8, 4));
        break;
    }
    case 0x09: { // CFG-CFG: clearMask, saveMask, loadMask[, deviceMask]
        ok = p.size() == 12 || p.size() == 13;
        if (ok && Le(p, 4, 4) != 0)
            m_saved = m_working;
        if (ok && Le(p, 8, 4) != 0)
            m_working = m_saved;
        break;
    }
    case 0x8A: // CFG-VALSET: all its keys or none
        ok = OnUbxValSet(p);
        break;
    default:
        return false;
    }
    answer += Ack(ok, frame);
    return true;
}
