#include "SkyTable.h"

#include <algorithm>

const char *GnssName(Gnss gnss) {
    static const char *const kNames[kGnssCount] = {"GPS",    "SBAS", "GLONASS", "Galileo",
                                                   "BeiDou", "QZSS", "NavIC"};
    return kNames[static_cast<std::size_t>(gnss)];
}

const char *BandName(Gnss gnss, int signalId) {
    // NMEA 4.11 signal ids per system, 1-15 (sent as one hex digit).
    static const char *const kGps[] = {"L1 C/A", "L1 P(Y)", "L1 M", "L2 P(Y)",
                                       "L2 CM",  "L2 CL",   "L5 I", "L5 Q"};
    static const char *const kGlonass[] = {"G1 C/A", "G1 P", "G2 C/A", "G2 P"};
    static const char *const kGalileo[] = {"E5a",   "E5b",  "E5 AltBOC", "E6 A",
                                           "E6 BC", "E1 A", "E1"};
    static const char *const kBeiDou[] = {"B1I",   "B1Q", "B1C", "B1A", "B2a", "B2b",
                                          "B2a+b", "B3I", "B3Q", "B3A", "B2I", "B2Q"};
    static const char *const kQzss[] = {"L1 C/A", "L1C D", "L1C P", "LIS", "L2 CM",
                                        "L2 CL",  "L5 I",  "L5 Q",  "L6D", "L6E"};
    static const char *const kNavic[] = {"L5 SPS", "S SPS", "L5 RS", "S RS", "L1 SPS"};
    struct Table {
        const char *const *names;
        int count;
    };
    const auto table = [&]() -> Table {
        switch (gnss) {
        case Gnss::GPS:
        case Gnss::SBAS:
            return {kGps, 8};
        case Gnss::GLONASS:
            return {kGlonass, 4};
        case Gnss::Galileo:
            return {kGalileo, 7};
        case Gnss::BeiDou:
            return {kBeiDou, 12};
        case Gnss::QZSS:
            return {kQzss, 10};
        case Gnss::NavIC:
            return {kNavic, 5};
        }
        return {nullptr, 0};
    }();
    if (signalId == 0)
        return "";
    return signalId >= 1 && signalId <= table.count ? table.names[signalId - 1] : "unknown";
}

// Satellite numbers as receivers send them (checked against the captures in tests/captures):
//
//   numbers   system    sent by
//   1-32      GPS       every receiver, GP or GN talker
//   33-64     SBAS      number + 87 (PRN 120-151): u-blox M8/M9, ST Teseo, SiRF, under GP
//   120-158   SBAS      receivers that send the PRN itself
//   65-96     GLONASS   slot + 64: u-blox, Quectel/CASIC, ST Teseo, SiRF, Furuno, Broadcom (GL, GN)
//   1-36      Galileo   under GA or with system id 3: u-blox M9, Furuno
//   101-136   Galileo   slot + 100: Broadcom phone chips (GA)
//   301-336   Galileo   slot + 300: NMEA 4.0 GN numbering (older u-blox firmware)
//   1-63      BeiDou    under GB or BD, or with system id 4: u-blox M9, Quectel L76K (CASIC)
//   201-263   BeiDou    slot + 200: SiRF TriG (GB), Broadcom (BD)
//   401-437   BeiDou    slot + 400: NMEA 4.0 GN numbering (older u-blox firmware)
//   193-199   QZSS      PRN itself, QZSS number = PRN - 192 (GQ, QZ or GP/GN; 200-202 under
//                       GQ/QZ only, since SiRF's BeiDou 1-2 are 201-202)
//   1-10      QZSS      under GQ/QZ or with system id 5
//   1-14      NavIC     under GI or with system id 6
bool MapSatellite(int hint, int prn, SatNumber &out) {
    const auto set = [&](Gnss g, int sv) {
        out = SatNumber{g, static_cast<std::uint16_t>(sv)};
        return true;
    };
    if (prn <= 0)
        return false;
    // Ranges that name their system whatever the talker.
    if (prn >= 120 && prn <= 158)
        return set(Gnss::SBAS, prn);
    // 200-202 are QZSS numbers too, but only under a QZSS talker: SiRF sends BeiDou 1-2 there.
    if (prn >= 193 && (prn <= 199 || (prn <= 202 && hint == static_cast<int>(Gnss::QZSS))))
        return set(Gnss::QZSS, prn - 192);
    if (prn >= 201 && prn <= 263)
        return set(Gnss::BeiDou, prn - 200);
    if (prn >= 301 && prn <= 336)
        return set(Gnss::Galileo, prn - 300);
    if (prn >= 401 && prn <= 437)
        return set(Gnss::BeiDou, prn - 400);
    switch (hint) {
    case static_cast<int>(Gnss::Galileo):
        if (prn >= 101 && prn <= 136)
            return set(Gnss::Galileo, prn - 100);
        return prn <= 36 ? set(Gnss::Galileo, prn) : false;
    case static_cast<int>(Gnss::BeiDou):
        return prn <= 63 ? set(Gnss::BeiDou, prn) : false;
    case static_cast<int>(Gnss::QZSS):
        return prn <= 10 ? set(Gnss::QZSS, prn) : false;
    case static_cast<int>(Gnss::NavIC):
        return prn <= 14 ? set(Gnss::NavIC, prn) : false;
    case static_cast<int>(Gnss::GLONASS):
        if (prn >= 65 && prn <= 96)
            return set(Gnss::GLONASS, prn - 64);
        return prn <= 32 ? set(Gnss::GLONASS, prn) : false;
    default:
        break;
    }
    // GPS, SBAS or no hint: the NMEA 4.0 ranges.
    if (prn <= 32)
        return set(Gnss::GPS, prn);
    if (prn <= 64)
        return set(Gnss::SBAS, prn + 87);
    if (prn <= 96)
        return set(Gnss::GLONASS, prn - 64);
    return false;
}

namespace {

std::size_t KeyOf(int hint) {
    return hint >= 0 && hint < static_cast<int>(kGnssCount) ? static_cast<std::size_t>(hint)
                                                            : kGnssCount;
}

bool Fresh(std::int64_t when, std::int64_t nowMs) {
    return nowMs - when < CSkyTable::kDropMs;
}

} // namespace

CSkyTable::Cycle *CSkyTable::CycleFor(std::size_t key, int signal, std::int64_t nowMs) {
    Cycle *row = &m_cycles[key * kSignals];
    for (std::size_t i = 0; i < kSignals; ++i) {
        if (row[i].done.signal == signal || row[i].pending.signal == signal)
            return &row[i];
    }
    // A new signal takes a free place, else the stalest one.
    Cycle *best = &row[0];
    for (std::size_t i = 0; i < kSignals; ++i) {
        if (row[i].done.signal < 0 && row[i].pending.signal < 0)
            return &row[i];
        if (!Fresh(row[i].done.when, nowMs) || row[i].done.when < best->done.when)
            best = &row[i];
    }
    *best = Cycle{};
    return best;
}

void CSkyTable::OnGsv(int hint, int signal, int total, int message, const GsvSat *sats,
                      std::size_t n, std::int64_t nowMs) {
    std::lock_guard lock(m_lock);
    Cycle *c = CycleFor(KeyOf(hint), signal, nowMs);
    if (message == 1) {
        c->pending.count = 0;
        c->pending.signal = signal;
        c->total = total;
        c->next = 1;
    }
    // A lost or repeated message spoils the cycle: wait for the next message 1.
    if (c->next != message || c->total != total || total < 1)
        return void(c->next = 0);
    const std::size_t room = kMaxList - c->pending.count;
    const std::size_t take = n < room ? n : room;
    std::copy_n(sats, take, c->pending.sats + c->pending.count);
    c->pending.count += take;
    if (message < total) {
        ++c->next;
        return;
    }
    std::copy_n(c->pending.sats, c->pending.count, c->done.sats);
    c->done.count = c->pending.count;
    c->done.signal = signal;
    c->done.when = nowMs;
    c->done.valid = true;
    c->pending.count = 0;
    c->next = 0;
}

void CSkyTable::OnGsa(int hint, const int *prns, std::size_t n, std::int16_t pdop,
                      std::int16_t hdop, std::int16_t vdop, int fixMode, std::int64_t nowMs) {
    int group = hint;
    // Without a hint (GN), the first satellite tells the system the set belongs to.
    for (std::size_t i = 0; i < n && group < 0; ++i) {
        SatNumber id;
        if (MapSatellite(hint, prns[i], id))
            group = static_cast<int>(id.gnss);
    }
    std::lock_guard lock(m_lock);
    m_pdop = pdop;
    m_hdop = hdop;
    m_vdop = vdop;
    if (fixMode < 2) {
        for (UsedSet &set : m_used)
            set.count = 0;
    }
    // A GN GSA without system id and without satellites says nothing about any one system.
    if (group < 0)
        return;
    UsedSet &set = m_used[static_cast<std::size_t>(group)];
    set.count = n < kMaxList ? n : kMaxList;
    std::copy_n(prns, set.count, set.prns);
    set.hint = hint;
    set.when = nowMs;
    set.valid = true;
}

void CSkyTable::Copy(SkyView &out, std::int64_t nowMs) const {
    out = SkyView{};
    std::lock_guard lock(m_lock);
    out.pdop = m_pdop;
    out.hdop = m_hdop;
    out.vdop = m_vdop;
    for (std::size_t key = 0; key < kKeys; ++key) {
        const int hint = key < kGnssCount ? static_cast<int>(key) : -1;
        for (std::size_t slot = 0; slot < kSignals; ++slot) {
            const Cycle &c = m_cycles[key * kSignals + slot];
            if (!c.done.valid || !Fresh(c.done.when, nowMs))
                continue;
            for (std::size_t i = 0; i < c.done.count; ++i) {
                const GsvSat &raw = c.done.sats[i];
                SatNumber id;
                if (!MapSatellite(hint, raw.prn, id))
                    continue;
                SkySat s;
                s.gnss = id.gnss;
                s.sv = id.sv;
                s.el = static_cast<std::int16_t>(raw.el);
                s.az = static_cast<std::int16_t>(raw.az);
                s.snr = static_cast<std::uint8_t>(std::clamp(raw.snr, 0, 99));
                s.hasPosition = raw.hasPosition;
                const SkySignal signal{
                    static_cast<std::uint8_t>(c.done.signal > 0 ? c.done.signal : 0), s.snr,
                    c.done.when};
                SkySat *same = std::find_if(out.sats, out.sats + out.count, [&](const SkySat &o) {
                    return o.gnss == s.gnss && o.sv == s.sv;
                });
                // One entry per satellite, with the strength of its strongest signal.
                if (same != out.sats + out.count) {
                    if (same->nSigs < SkySat::kMaxSignals)
                        same->sigs[same->nSigs++] = signal;
                    if (s.snr > same->snr) {
                        same->snr = s.snr;
                        same->el = s.el;
                        same->az = s.az;
                        same->hasPosition = s.hasPosition;
                    }
                } else if (out.count < SkyView::kMax) {
                    s.sigs[0] = signal;
                    s.nSigs = 1;
                    out.sats[out.count++] = s;
                } else {
                    ++out.leftOutBy[static_cast<std::size_t>(s.gnss)];
                    ++out.leftOut;
                }
            }
        }
    }
    for (const UsedSet &set : m_used) {
        if (!set.valid || !Fresh(set.when, nowMs))
            continue;
        for (std::size_t i = 0; i < set.count; ++i) {
            SatNumber id;
            if (!MapSatellite(set.hint, set.prns[i], id))
                continue;
            for (std::size_t k = 0; k < out.count; ++k) {
                if (out.sats[k].gnss == id.gnss && out.sats[k].sv == id.sv)
                    out.sats[k].used = true;
            }
        }
    }
    std::sort(out.sats, out.sats + out.count, [](const SkySat &a, const SkySat &b) {
        return a.gnss != b.gnss ? a.gnss < b.gnss : a.sv < b.sv;
    });
    for (std::size_t k = 0; k < out.count; ++k) {
        const auto g = static_cast<std::size_t>(out.sats[k].gnss);
        ++out.inView[g];
        for (std::size_t i = 0; i < out.sats[k].nSigs; ++i) {
            if (out.sats[k].sigs[i].snr > 0) {
                ++out.tracked[g];
                ++out.signalsTracked;
            }
        }
        if (out.sats[k].used) {
            ++out.usedBy[g];
            ++out.used;
        }
    }
}

void CSkyTable::Clear() {
    std::lock_guard lock(m_lock);
    for (std::size_t i = 0; i < kKeys * kSignals; ++i)
        m_cycles[i] = Cycle{};
    for (UsedSet &set : m_used)
        set = UsedSet{};
    m_pdop = m_hdop = m_vdop = 0;
}
