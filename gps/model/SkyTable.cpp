#include "model/SkyTable.h"

#include <algorithm>
#include <limits>

const char *GnssName(Gnss gnss) {
    static const char *const kNames[kGnssCount] = {"GPS",    "SBAS", "GLONASS", "Galileo",
                                                   "BeiDou", "QZSS", "NavIC"};
    return kNames[static_cast<std::size_t>(gnss)];
}

// NMEA 4.11 signal ids per system, 1-15, sent as one hex digit after the last satellite of a GSV.
// The names follow the standard's tables; the makers' manuals use the same numbers and differ in
// the names only (u-blox writes "L2 CL" and "E1 C", Quectel "L1" and "L5"). Sent by the captures
// in tests/captures:
//
//   receiver                  GP      GL       GA        GB/BD
//   u-blox NEO-M9N            1       1        7         1
//   u-blox ZED-F9P            1, 6    1, 3     -         -
//   u-blox ZED-F9R            0, 1    0, 1, 3  0, 2, 7   0, 1, B   (0: satellites not tracked)
//   u-blox ZED-F9T (L1/L5)    1, 8    -        0, 1, 7   0, 1, 3
//   Quectel EG25-G            1       1        7         -         (BeiDou only in $PQGSV)
//   Quectel L76K (CASIC)      0       0        -         0
//   Furuno GT-88              1       1        7         -
// Id 0 names no signal ("" here); an id outside the table is "unknown".
const char *BandName(Gnss gnss, int signalId) {
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

int SignalOrFirst(Gnss gnss, int signalId) {
    return signalId != 0 ? signalId : gnss == Gnss::Galileo ? 7 : 1;
}

const char *SignalQualityWord(int quality) {
    static const char *const kWords[] = {"no signal",    "searching",   "acquired",
                                         "unusable",     "code lock",   "carrier lock",
                                         "carrier lock", "carrier lock"};
    return quality >= 0 && quality <= 7 ? kWords[quality] : "";
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

bool IsSatelliteNumber(Gnss gnss, int sv) {
    switch (gnss) {
    case Gnss::GPS:
    case Gnss::GLONASS:
        return sv >= 1 && sv <= 32;
    case Gnss::SBAS:
        return sv >= 120 && sv <= 158;
    case Gnss::Galileo:
        return sv >= 1 && sv <= 36;
    case Gnss::BeiDou:
        return sv >= 1 && sv <= 63;
    case Gnss::QZSS:
        return sv >= 1 && sv <= 10;
    case Gnss::NavIC:
        return sv >= 1 && sv <= 14;
    }
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

// Room for every satellite number MapSatellite can give (226), before the view's limit applies.
constexpr std::size_t kMaxDistinct = 256;

} // namespace

CSkyTable::Slot *CSkyTable::SlotFor(std::size_t key, int signal) {
    Slot *row = &m_slots[key * kSlots];
    Slot *free = nullptr;
    Slot *stalest = &row[0];
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (row[i].key == signal)
            return &row[i];
        if (row[i].key == -2 && free == nullptr)
            free = &row[i];
        if (row[i].heardSeq < stalest->heardSeq)
            stalest = &row[i];
    }
    // A new sequence takes a free slot, else the one heard longest ago.
    Slot *slot = free != nullptr ? free : stalest;
    slot->key = signal;
    return slot;
}

CSkyTable::GsvSat *CSkyTable::OpenGsv(int hint, int signal, int total, int message, int inView,
                                      std::size_t &room) {
    Open &o = m_open[KeyOf(hint)];
    m_current = nullptr;
    if (message == 1) {
        o.slot = SlotFor(KeyOf(hint), signal);
        // The same sequence completed twice within one block: show the first before refilling.
        // A clear asked meanwhile drops every slot with the rest: this sequence takes a new one.
        if (o.slot->ready) {
            Publish();
            if (o.slot == nullptr)
                o.slot = SlotFor(KeyOf(hint), signal);
        }
        o.slot->lists[o.slot->shown ^ 1].count = 0;
        o.total = total;
        o.inView = inView;
        o.next = 1;
    }
    // A lost or repeated message spoils the cycle: wait for the next message 1. A message of
    // another sequence (another count) is never taken for the next of this one, nor one numbered
    // 0, which would match the wait itself and add to the cycle just completed.
    if (o.slot == nullptr || message < 1 || o.next != message || o.total != total ||
        o.inView != inView || total < 1) {
        o.next = 0;
        return nullptr;
    }
    List &list = o.slot->lists[o.slot->shown ^ 1];
    room = kMaxList - list.count;
    m_current = &o;
    return list.sats + list.count;
}

void CSkyTable::CloseGsv(std::size_t n, std::int64_t nowMs) {
    Open *o = m_current;
    m_current = nullptr;
    if (o == nullptr)
        return;
    Slot &slot = *o->slot;
    List &list = slot.lists[slot.shown ^ 1];
    list.count += n;
    if (o->next < o->total) {
        ++o->next;
        return;
    }
    o->next = 0;
    const std::uint64_t previous = slot.heardSeq;
    slot.heardMs = nowMs;
    slot.heardSeq = ++m_nSequences;
    // A slot dropped earlier in this block and taken again is on Publish's list already; what
    // it now holds is shown, not the drop.
    if (slot.hide)
        slot.hide = false;
    else if (!slot.ready)
        m_ready[m_nReady++] = &slot;
    slot.ready = true;
    // A sequence of the same talker not heard since this one's previous round has stopped
    // (its signal is no longer tracked): its satellites go now, not after five seconds.
    Slot *row = &m_slots[static_cast<std::size_t>(&slot - m_slots.get()) / kSlots * kSlots];
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot &other = row[i];
        if (&other == &slot || other.key == -2 || other.heardSeq >= previous || previous == 0)
            continue;
        other.key = -2;
        other.heardMs = 0;
        other.heardSeq = 0;
        // Finished in this block or before it, it goes the same way: block edges decide nothing.
        if (other.ready) {
            other.ready = false;
            other.hide = true; // already on the list for Publish
        } else if (!other.hide) {
            other.hide = true;
            m_ready[m_nReady++] = &other;
        }
    }
    m_dirty = true;
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
    m_dirty = true;
    m_workDops[0] = pdop;
    m_workDops[1] = hdop;
    m_workDops[2] = vdop;
    if (fixMode < 2) {
        for (std::size_t g = 0; g < kGnssCount; ++g) {
            m_workUsed[g].count = 0;
            m_usedDirty[g] = true;
        }
    }
    // A GN GSA without system id and without satellites says nothing about any one system.
    if (group < 0)
        return;
    const auto g = static_cast<std::size_t>(group);
    UsedSet &set = m_workUsed[g];
    set.count = n < kMaxList ? n : kMaxList;
    std::copy_n(prns, set.count, set.prns);
    set.hint = hint;
    set.when = nowMs;
    set.valid = true;
    m_usedDirty[g] = true;
}

void CSkyTable::ResetWork() {
    for (std::size_t i = 0; i < kSlotCount; ++i) {
        m_slots[i].key = -2;
        m_slots[i].heardMs = 0;
        m_slots[i].heardSeq = 0;
        m_slots[i].ready = false;
        m_slots[i].hide = false;
    }
    for (Open &o : m_open)
        o = Open{};
    m_current = nullptr;
    m_nReady = 0;
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        m_workUsed[g] = UsedSet{};
        m_usedDirty[g] = false;
    }
    m_workDops[0] = m_workDops[1] = m_workDops[2] = 0;
    m_workUbx->count = 0;
    m_workUbx->when = m_workUbx->dopsWhen = 0;
    m_ubxDirty = false;
    m_dirty = false;
}

void CSkyTable::OnUbxSky(const SkySat *sats, std::size_t n, std::int64_t nowMs) {
    UbxList &list = *m_workUbx;
    list.count = std::min(n, SkyView::kMax);
    std::copy_n(sats, list.count, list.sats);
    list.when = nowMs == 0 ? 1 : nowMs;
    m_ubxDirty = m_dirty = true;
}

void CSkyTable::OnUbxDops(std::int16_t pdop, std::int16_t hdop, std::int16_t vdop,
                          std::int64_t nowMs) {
    UbxList &list = *m_workUbx;
    list.dops[0] = pdop;
    list.dops[1] = hdop;
    list.dops[2] = vdop;
    list.dopsWhen = nowMs == 0 ? 1 : nowMs;
    m_ubxDirty = m_dirty = true;
}

void CSkyTable::TakeClear() {
    if (!m_clearAsked.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(m_lock);
    ResetWork();
    m_clearAsked.store(false, std::memory_order_relaxed);
}

void CSkyTable::Publish() {
    if (!m_dirty && !m_clearAsked.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(m_lock);
    if (m_clearAsked.load(std::memory_order_relaxed)) {
        // Cleared while this block was stored: what it stored belongs to the cleared past.
        ResetWork();
        m_clearAsked.store(false, std::memory_order_relaxed);
        return;
    }
    for (std::size_t i = 0; i < m_nReady; ++i) {
        Slot &slot = *m_ready[i];
        if (slot.hide) {
            slot.valid = false;
            slot.hide = false;
        }
        if (slot.ready) {
            slot.shown ^= 1;
            slot.valid = true;
            slot.when = slot.heardMs;
            slot.order = slot.heardSeq;
            slot.ready = false;
        }
    }
    m_nReady = 0;
    ++m_stores;
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        if (!m_usedDirty[g])
            continue;
        const UsedSet &from = m_workUsed[g];
        UsedSet &to = m_used[g];
        std::copy_n(from.prns, from.count, to.prns);
        to.count = from.count;
        to.hint = from.hint;
        to.when = from.when;
        to.valid = from.valid;
        m_usedDirty[g] = false;
    }
    m_pdop = m_workDops[0];
    m_hdop = m_workDops[1];
    m_vdop = m_workDops[2];
    if (m_ubxDirty) {
        // Only the satellites listed: the rest of the list is never read.
        const UbxList &from = *m_workUbx;
        UbxList &to = *m_ubx;
        std::copy_n(from.sats, from.count, to.sats);
        to.count = from.count;
        to.when = from.when;
        std::copy_n(from.dops, 3, to.dops);
        to.dopsWhen = from.dopsWhen;
        m_ubxDirty = false;
    }
    m_dirty = false;
}

void CSkyTable::Copy(SkyView &out, std::int64_t nowMs) const {
    out = SkyView{};
    // Every satellite once, with all its signals; cut to the view's size at the end.
    struct Scratch {
        SkySat sats[kMaxDistinct];
        std::uint64_t order[kMaxDistinct][SkySat::kMaxSignals]; // each signal's sequence order
        std::uint8_t positionSnr[kMaxDistinct]; // strength of the signal that gave the position
        std::size_t count = 0;
    };
    // One per thread, kept: the reader copies each epoch, the window each frame. Only the
    // first count entries are read, each set before it is.
    thread_local std::unique_ptr<Scratch> scratch;
    if (!scratch)
        scratch = std::make_unique<Scratch>();
    Scratch *const all = scratch.get();
    all->count = 0;
    std::lock_guard lock(m_lock);
    out.pdop = m_pdop;
    out.hdop = m_hdop;
    out.vdop = m_vdop;
    const UbxList &ubx = *m_ubx;
    if (ubx.dopsWhen != 0 && Fresh(ubx.dopsWhen, nowMs)) {
        out.pdop = ubx.dops[0];
        out.hdop = ubx.dops[1];
        out.vdop = ubx.dops[2];
    }
    // The receiver's binary list, while it lasts, is the whole sky: the sentences' would count
    // the same satellites again.
    const bool fromUbx = ubx.when != 0 && nowMs - ubx.when < kUbxHoldMs &&
                         Fresh(m_heardMs.load(std::memory_order_relaxed), nowMs);
    if (fromUbx) {
        all->count = std::min(ubx.count, kMaxDistinct);
        std::copy_n(ubx.sats, all->count, all->sats);
    }
    for (std::size_t key = 0; key < kKeys && !fromUbx; ++key) {
        const int hint = key < kGnssCount ? static_cast<int>(key) : -1;
        for (std::size_t i = 0; i < kSlots; ++i) {
            const Slot &slot = m_slots[key * kSlots + i];
            if (!slot.valid || !Fresh(slot.when, nowMs))
                continue;
            const List &list = slot.lists[slot.shown];
            for (std::size_t k = 0; k < list.count; ++k) {
                const GsvSat &raw = list.sats[k];
                SatNumber id;
                if (!MapSatellite(hint, raw.prn, id))
                    continue;
                const auto snr = static_cast<std::uint8_t>(std::clamp(raw.snr, 0, 99));
                const SkySignal signal{raw.signal, snr, -1, slot.when};
                SkySat *s = std::find_if(all->sats, all->sats + all->count, [&](const SkySat &o) {
                    return o.gnss == id.gnss && o.sv == id.sv;
                });
                if (s == all->sats + all->count) {
                    if (all->count == kMaxDistinct)
                        continue;
                    s = &all->sats[all->count++];
                    *s = SkySat{};
                    s->gnss = id.gnss;
                    s->sv = id.sv;
                }
                // One signal per id: a repeat (in the cycle or from an older one) keeps the
                // newer report, then the stronger.
                SkySignal *same =
                    std::find_if(s->sigs, s->sigs + s->nSigs,
                                 [&](const SkySignal &o) { return o.id == signal.id; });
                std::uint64_t *orders = all->order[s - all->sats];
                if (same != s->sigs + s->nSigs) {
                    std::uint64_t &seen = orders[same - s->sigs];
                    if (slot.order > seen || (slot.order == seen && signal.snr > same->snr)) {
                        *same = signal;
                        seen = slot.order;
                    }
                } else if (s->nSigs < SkySat::kMaxSignals) {
                    orders[s->nSigs] = slot.order;
                    s->sigs[s->nSigs++] = signal;
                }
                // The satellite's strength is its strongest signal's; its position that of the
                // strongest signal that gave one, since L5 reports often leave it blank.
                std::uint8_t &posSnr = all->positionSnr[s - all->sats];
                if (s->nSigs == 1 || snr > s->snr)
                    s->snr = snr;
                if (raw.hasPosition && (!s->hasPosition || snr > posSnr)) {
                    posSnr = snr;
                    s->el = static_cast<std::int16_t>(raw.el);
                    s->az = static_cast<std::int16_t>(raw.az);
                    s->hasPosition = true;
                }
            }
        }
    }
    for (const UsedSet &set : m_used) {
        if (fromUbx || !set.valid || !Fresh(set.when, nowMs))
            continue;
        for (std::size_t i = 0; i < set.count; ++i) {
            SatNumber id;
            if (!MapSatellite(set.hint, set.prns[i], id))
                continue;
            for (std::size_t k = 0; k < all->count; ++k) {
                if (all->sats[k].gnss == id.gnss && all->sats[k].sv == id.sv)
                    all->sats[k].used = true;
            }
        }
    }
    SkySat *const begin = all->sats;
    SkySat *const end = all->sats + all->count;
    if (all->count > SkyView::kMax) {
        // Too many for the view: the used ones first, then the strongest.
        std::sort(begin, end, [](const SkySat &a, const SkySat &b) {
            if (a.used != b.used)
                return a.used;
            if (a.snr != b.snr)
                return a.snr > b.snr;
            return a.gnss != b.gnss ? a.gnss < b.gnss : a.sv < b.sv;
        });
        for (const SkySat *s = begin + SkyView::kMax; s != end; ++s) {
            ++out.leftOutBy[static_cast<std::size_t>(s->gnss)];
            ++out.leftOut;
        }
    }
    out.count = std::min(all->count, SkyView::kMax);
    std::copy_n(begin, out.count, out.sats);
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
    for (std::size_t i = 0; i < kSlotCount; ++i)
        m_slots[i].valid = false;
    for (UsedSet &set : m_used)
        set.valid = false;
    m_pdop = m_hdop = m_vdop = 0;
    m_ubx->when = m_ubx->dopsWhen = 0;
    ++m_stores;
    m_clearAsked.store(true, std::memory_order_release);
}

bool CSkyTable::MayDiffer(Stamp &last, std::int64_t nowMs) const {
    std::lock_guard lock(m_lock);
    const std::int64_t heard = m_heardMs.load(std::memory_order_relaxed);
    // Copy reads what Publish and Clear stored, each part while it is fresh by the clock, and the
    // binary list while data is heard.
    if (last.taken && last.stores == m_stores && nowMs >= last.takenMs && nowMs < last.agesMs &&
        !(last.heardStale && Fresh(heard, nowMs)))
        return false;
    Stamp s;
    s.taken = true;
    s.stores = m_stores;
    s.takenMs = nowMs;
    s.agesMs = std::numeric_limits<std::int64_t>::max();
    const auto shownUntil = [&](std::int64_t until) {
        if (until > nowMs)
            s.agesMs = std::min(s.agesMs, until);
    };
    for (std::size_t i = 0; i < kSlotCount; ++i)
        if (m_slots[i].valid)
            shownUntil(m_slots[i].when + kDropMs);
    for (const UsedSet &set : m_used)
        if (set.valid)
            shownUntil(set.when + kDropMs);
    if (m_ubx->dopsWhen != 0)
        shownUntil(m_ubx->dopsWhen + kDropMs);
    if (m_ubx->when != 0)
        shownUntil(m_ubx->when + kUbxHoldMs);
    s.heardStale = !Fresh(heard, nowMs);
    if (!s.heardStale)
        shownUntil(heard + kDropMs);
    last = s;
    return true;
}
