#include "model/Geodesy.h"
#include "model/NmeaDecoder.h"
#include "model/UtcShift.h"
#include "protocol/NmeaConvert.h"
#include "protocol/Rtcm3.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A binary report this old no longer keeps the sentences from the fields it reported.
constexpr std::int64_t kUbxHoldMs = 3000;

// u-blox's gnssId to our systems; false for IMES and ids no receiver sends.
bool SystemOf(std::uint8_t gnssId, Gnss &out) {
    static const int kSystems[] = {static_cast<int>(Gnss::GPS),
                                   static_cast<int>(Gnss::SBAS),
                                   static_cast<int>(Gnss::Galileo),
                                   static_cast<int>(Gnss::BeiDou),
                                   -1,
                                   static_cast<int>(Gnss::QZSS),
                                   static_cast<int>(Gnss::GLONASS),
                                   static_cast<int>(Gnss::NavIC)};
    if (gnssId >= std::size(kSystems) || kSystems[gnssId] < 0)
        return false;
    out = static_cast<Gnss>(kSystems[gnssId]);
    return true;
}

// A signal as u-blox numbers it (gnssId, sigId) to the NMEA 4.11 signal id of the same band, so
// both protocols name it alike; 255 (shown as "unknown") for a pair outside the table.
std::uint8_t NmeaSignalId(std::uint8_t gnssId, std::uint8_t sigId) {
    struct Row {
        std::uint8_t gnssId, sigId, nmea;
    };
    static const Row kRows[] = {
        {0, 0, 1},  {0, 3, 6},  {0, 4, 5},  {0, 6, 7},  {0, 7, 8}, // GPS L1 C/A, L2 CL/CM, L5 I/Q
        {1, 0, 1},                                                 // SBAS L1 C/A
        {2, 0, 7},  {2, 1, 7},  {2, 3, 1},  {2, 4, 1},  {2, 5, 2}, // Galileo E1 C/B, E5a, E5b
        {2, 6, 2},  {2, 8, 5},  {2, 9, 5},  {2, 10, 4},            // E5b, E6 B/C, E6 A
        {3, 0, 1},  {3, 1, 1},  {3, 2, 11}, {3, 3, 11}, {3, 4, 8}, // BeiDou B1I, B2I, B3I
        {3, 10, 8}, {3, 5, 3},  {3, 6, 3},  {3, 7, 5},  {3, 8, 5}, // B3I, B1C, B2a
        {5, 0, 1},  {5, 1, 4},  {5, 4, 5},  {5, 5, 6},  {5, 8, 7}, // QZSS L1 C/A, L1S, L2, L5
        {5, 9, 8},  {5, 12, 1},                                    // L5 Q, L1 C/B
        {6, 0, 1},  {6, 2, 3},                                     // GLONASS L1 OF, L2 OF
        {7, 0, 1},                                                 // NavIC L5 A
    };
    for (const Row &row : kRows) {
        if (row.gnssId == gnssId && row.sigId == sigId)
            return row.nmea;
    }
    return 255;
}

// NAV-SVINFO's own satellite numbers to system and number.
bool SvinfoSatellite(int svid, Gnss &gnss, int &sv) {
    const auto set = [&](Gnss g, int n) {
        gnss = g;
        sv = n;
        return true;
    };
    if (svid >= 1 && svid <= 32)
        return set(Gnss::GPS, svid);
    if (svid >= 33 && svid <= 64)
        return set(Gnss::BeiDou, svid - 27); // BeiDou 6-37
    if (svid >= 65 && svid <= 96)
        return set(Gnss::GLONASS, svid - 64);
    if (svid >= 120 && svid <= 158)
        return set(Gnss::SBAS, svid);
    if (svid >= 159 && svid <= 163)
        return set(Gnss::BeiDou, svid - 158); // BeiDou 1-5
    if (svid >= 193 && svid <= 202)
        return set(Gnss::QZSS, svid - 192);
    if (svid >= 211 && svid <= 246)
        return set(Gnss::Galileo, svid - 210);
    return false;
}

// The number the record's satellite slots and used list give a satellite, as the sentences
// would (GPS 1-32, SBAS 33-64, GLONASS 65-96); 0 for systems the record has no numbers for.
int RecordNumber(Gnss gnss, int sv) {
    if (gnss == Gnss::GPS && sv >= 1 && sv <= 32)
        return sv;
    if (gnss == Gnss::SBAS && sv >= 120 && sv <= 151)
        return sv - 87;
    if (gnss == Gnss::GLONASS && sv >= 1 && sv <= 32)
        return sv + 64;
    return 0;
}

// A list message read in place, at most room entries: the list keeps its size and contents
// unless the read succeeds.
template <typename Entry>
ubx::Result ReadList(const std::uint8_t *payload, std::size_t len, std::vector<Entry> &list,
                     std::size_t room) {
    const std::size_t was = list.size();
    list.resize(room);
    std::size_t n = 0;
    const ubx::Result result = ubx::Read(payload, len, list.data(), list.size(), n);
    list.resize(result == ubx::Result::Ok ? n : was);
    return result;
}

void NoteSent(std::uint16_t &sent, FixSent bit) {
    sent = static_cast<std::uint16_t>(sent | bit);
}

std::int16_t Tenths(std::uint32_t hundredths) {
    return static_cast<std::int16_t>(std::min<std::uint32_t>(hundredths / 10, 32767));
}

// NAV-PVT's lastCorrectionAge as the upper end of the range it stands for, in seconds (12: 120 s
// and more); -1 for 0 (not available) and codes beyond the table.
float CorrectionAgeS(std::uint8_t code) {
    static constexpr float kUpperS[] = {-1, 1, 2, 5, 10, 15, 20, 30, 45, 60, 90, 120, 120};
    return code < std::size(kUpperS) ? kUpperS[code] : -1.0f;
}

constexpr std::uint8_t kClassNav = 0x01;
constexpr std::uint8_t kIdEoe = 0x61;

// Reports in the fix track's units (degrees, metres, km/h). NAV-SOL's velocity is turned from
// m/s, not from the mm/s the record takes: the two differ in the last bit.
NavReport StatusReport(NavReport::Kind kind, std::uint32_t iTow, int fixType, bool fixOk, bool diff,
                       int carrier) {
    NavReport r;
    r.kind = kind;
    r.iTow = iTow;
    r.hasStatus = true;
    r.fixType = fixType;
    r.fixOk = fixOk;
    r.diff = diff;
    r.carrier = carrier;
    return r;
}

void SetPosition(NavReport &r, double lat, double lon, double alt) {
    r.hasPosition = true;
    r.lat = lat;
    r.lon = lon;
    r.hasAlt = true;
    r.alt = alt;
}

void SetUtc(NavReport &r, int year, int month, int day, int hour, int min, int sec) {
    r.year = year;
    r.month = month;
    r.day = day;
    r.hour = hour;
    r.min = min;
    r.sec = sec;
}

NavReport ReportOf(const ubx::NavPvt &m) {
    NavReport r =
        StatusReport(NavReport::Kind::Pvt, m.iTow, m.fixType, m.gnssFixOk, m.diffSoln, m.carrSoln);
    if (!m.invalidLlh)
        SetPosition(r, m.lat * 1e-7, m.lon * 1e-7, m.hMsl * 1e-3);
    r.hasVelocity = true;
    r.speedKmh = m.gSpeed * 0.0036;
    r.course = m.headMot * 1e-5;
    r.satsUsed = m.numSv;
    r.validTime = m.validTime;
    r.validDate = m.validDate;
    SetUtc(r, m.year, m.month, m.day, m.hour, m.min, m.sec);
    return r;
}

// lat, lon, height: the ECEF position as the decoder converted it, when it is not all zero.
NavReport ReportOf(const ubx::NavSol &m, bool hasPosition, double lat, double lon, double height) {
    NavReport r = StatusReport(NavReport::Kind::Sol, m.iTow, m.gpsFix, m.gpsFixOk, m.diffSoln, 0);
    r.satsUsed = m.numSv;
    if (!hasPosition)
        return r;
    r.hasPosition = true;
    r.lat = lat;
    r.lon = lon;
    r.hasHeight = true;
    r.height = height;
    double speed, course;
    EcefToGroundVelocity(lat, lon, m.ecefVx / 100.0, m.ecefVy / 100.0, m.ecefVz / 100.0, speed,
                         course);
    r.hasVelocity = true;
    r.speedKmh = speed * 3.6;
    r.course = course;
    return r;
}

NavReport ReportOf(const ubx::NavPosllh &m) {
    NavReport r;
    r.kind = NavReport::Kind::Posllh;
    r.iTow = m.iTow;
    SetPosition(r, m.lat * 1e-7, m.lon * 1e-7, m.hMsl * 1e-3);
    return r;
}

NavReport ReportOf(const ubx::NavHpposllh &m) {
    NavReport r;
    r.kind = NavReport::Kind::Hpposllh;
    r.iTow = m.iTow;
    SetPosition(r, m.lat * 1e-7 + m.latHp * 1e-9, m.lon * 1e-7 + m.lonHp * 1e-9,
                m.hMsl * 1e-3 + m.hMslHp * 1e-4);
    return r;
}

NavReport ReportOf(const ubx::NavVelned &m) {
    NavReport r;
    r.kind = NavReport::Kind::Velned;
    r.iTow = m.iTow;
    r.hasVelocity = true;
    r.speedKmh = m.gSpeed * 0.036;
    r.course = m.heading * 1e-5;
    return r;
}

NavReport ReportOf(const ubx::NavTimeutc &m) {
    NavReport r;
    r.kind = NavReport::Kind::Timeutc;
    r.iTow = m.iTow;
    r.validTime = r.validDate = m.validUtc;
    SetUtc(r, m.year, m.month, m.day, m.hour, m.min, m.sec);
    return r;
}

NavReport ReportOf(const ubx::NavDop &m) {
    NavReport r;
    r.kind = NavReport::Kind::Dop;
    r.iTow = m.iTow;
    r.hasHdop = true;
    r.hdop = m.hDop / 100.0;
    return r;
}

} // namespace

bool CNmeaDecoder::UbxSays(UbxPart part) const {
    return m_ubxSaid[part] != 0 && m_nowMs - m_ubxSaid[part] < kUbxHoldMs;
}

// Validity and mode as the sentences give them: a fix the receiver vouches for (gnssFixOK) of
// any kind, a timing receiver's fixed position (time only) included, is valid. The mode is the
// solution's kind whether or not it passed the receiver's masks, as GSA's mode is.
void CNmeaDecoder::UbxFixReport(std::uint8_t fixType, bool fixOk) {
    const bool valid = fixOk && fixType >= 1 && fixType <= 5;
    m_fix.bValid = valid ? 1 : 0;
    m_fix.cFixMode = static_cast<std::int8_t>(fixType == 1 || fixType == 2   ? 2
                                              : fixType >= 3 && fixType <= 5 ? 3
                                                                             : 1);
    NoteSent(m_extra.sent, kSentValid);
    NoteSent(m_extra.sent, kSentFixMode);
    UbxSaid(kUbxValid);
    m_fixDirty = true;
    NoteFixReport(valid);
}

// 1e-7 degree to the record's millionths, cut toward zero as the sentences' minutes are.
void CNmeaDecoder::UbxPosition(std::int32_t lat, std::int32_t lon) {
    m_fix.lLatitude = lat / 10;
    m_fix.lLongitude = lon / 10;
    m_extra.fineLat = lat * 1e-7;
    m_extra.fineLon = lon * 1e-7;
    NoteSent(m_extra.sent, kSentPosition);
    UbxSaid(kUbxAnyPosition);
    m_fixDirty = true;
}

void CNmeaDecoder::UbxAltitude(std::int32_t hMslMm) {
    m_fix.wAltitude = static_cast<std::uint16_t>(hMslMm / 1000);
    m_extra.altMslM = hMslMm * 1e-3;
    m_extra.altDecimals = 3;
    m_extra.sepDecimals = -1;
    NoteSent(m_extra.sent, kSentAltitude);
    UbxSaid(kUbxAltitude);
    m_fixDirty = true;
}

// Speed to hundredths of a km/h and course to whole degrees, cut as the sentences' are.
void CNmeaDecoder::UbxVelocity(double speedMmPerS, std::int32_t course1e5) {
    const std::int64_t speed = nmea::Trunc(speedMmPerS * 0.36);
    m_fix.wSpeed = static_cast<std::uint16_t>(std::clamp<std::int64_t>(speed, 0, 65535));
    m_extra.speedKmh = speedMmPerS * 0.0036;
    m_fix.nCourse = static_cast<std::int16_t>(course1e5 / 100000);
    NoteSent(m_extra.sent, kSentSpeed);
    NoteSent(m_extra.sent, kSentCourse);
    UbxSaid(kUbxAnyVelocity);
    m_fixDirty = true;
}

void CNmeaDecoder::UbxUtc(std::uint16_t year, std::uint8_t month, std::uint8_t day,
                          std::uint8_t hour, std::uint8_t min, std::uint8_t sec, std::int32_t nano,
                          bool validDate, bool validTime) {
    if (!validTime || hour > 23 || min > 59 || sec > 60)
        return;
    UtcDateTime t{};
    t.year = static_cast<std::int16_t>(validDate ? year : 2000);
    t.month = validDate ? month : 1;
    t.day = validDate ? day : 1;
    t.hour = hour;
    t.minute = min;
    t.second = sec;
    // The whole second the time falls in: a negative fraction belongs to the second before.
    const UtcDateTime local = ShiftToLocal(t, m_nBiasSeconds + (nano < 0 ? 1 : 0));
    m_fix.bHour = local.hour;
    m_fix.bMinute = local.minute;
    m_fix.bSecond = local.second;
    NoteSent(m_extra.sent, kSentTime);
    UbxSaid(kUbxUtc);
    if (validDate && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
        m_fix.bDay = local.day;
        m_fix.bMonth = local.month;
        m_fix.nYear = local.year;
        NoteSent(m_extra.sent, kSentDate);
    }
    m_fixDirty = true;
}

// The satellites of the latest NAV-SAT (or NAV-SVINFO) with the signals of the latest NAV-SIG,
// to the table and to the record's twelve slots and used list.
void CNmeaDecoder::UbxSky() {
    // Kept between calls: only the entries filled are ever read.
    SkySat *const sats = m_ubxScratch.get();
    std::size_t n = 0;
    // Where each satellite is in sats, by system and number (svId is one byte): a NAV-SIG lists
    // every signal of every satellite, so a search per signal would grow with their product.
    constexpr std::uint8_t kNone = 0xFF;
    static_assert(SkyView::kMax < kNone);
    std::uint8_t at[kGnssCount][256];
    std::memset(at, kNone, sizeof at);
    const auto find = [&](Gnss gnss, int sv, bool add) -> SkySat * {
        std::uint8_t &i = at[static_cast<std::size_t>(gnss)][sv & 0xFF];
        if (i != kNone)
            return &sats[i];
        if (!add || n == SkyView::kMax)
            return nullptr;
        sats[n] = SkySat{};
        sats[n].gnss = gnss;
        sats[n].sv = static_cast<std::uint16_t>(sv);
        i = static_cast<std::uint8_t>(n);
        return &sats[n++];
    };
    for (const ubx::SvInfo &in : m_ubxSats) {
        Gnss gnss;
        if (!SystemOf(in.gnssId, gnss) || in.svId == 0 || in.svId == 255)
            continue;
        SkySat *s = find(gnss, in.svId, true);
        if (s == nullptr)
            break;
        s->snr = std::min<std::uint8_t>(in.cno, 99);
        s->el = in.elev;
        s->az = in.azim;
        s->hasPosition = in.elevAzimKnown;
        s->used = in.svUsed;
    }
    // Signals only while NAV-SIG still comes, so a receiver that stopped it shows none stale.
    // With NAV-SAT's list, NAV-SIG only adds signals to its satellites and its used flags stay,
    // so the two messages of an epoch, whichever came last, show one sky.
    const bool withSignals = UbxSays(kUbxSignals);
    const bool satList = !m_ubxSats.empty();
    for (std::size_t k = 0; withSignals && k < m_ubxSignals.size(); ++k) {
        const ubx::SignalInfo &in = m_ubxSignals[k];
        Gnss gnss;
        if (!SystemOf(in.gnssId, gnss) || in.svId == 0 || in.svId == 255)
            continue;
        SkySat *s = find(gnss, in.svId, !satList);
        if (s == nullptr)
            continue;
        const std::uint8_t id = NmeaSignalId(in.gnssId, in.sigId);
        const auto cno = std::min<std::uint8_t>(in.cno, 99);
        SkySignal *same = std::find_if(s->sigs, s->sigs + s->nSigs,
                                       [&](const SkySignal &o) { return o.id == id; });
        if (same == s->sigs + s->nSigs) {
            if (s->nSigs == SkySat::kMaxSignals)
                continue;
            same = &s->sigs[s->nSigs++];
            same->snr = 0;
        }
        // Two u-blox signals of one band (E1 B and C) show as that band, at the stronger one.
        if (cno >= same->snr) {
            *same = SkySignal{id, cno, static_cast<std::int8_t>(in.qualityInd), m_nowMs};
        }
        // NAV-SIG's own used flags where NAV-SAT gave none.
        if (!satList && in.prUsed)
            s->used = true;
    }
    for (std::size_t i = 0; i < n; ++i) {
        SkySat &s = sats[i];
        if (s.nSigs == 0)
            continue;
        // A satellite's strength is its strongest signal's.
        s.snr = 0;
        for (std::size_t k = 0; k < s.nSigs; ++k)
            s.snr = std::max(s.snr, s.sigs[k].snr);
    }
    m_sky.OnUbxSky(sats, n, m_nowMs);

    // The record's slots as the first GSV messages fill them: GPS, then SBAS, then GLONASS.
    std::memset(m_fix.sat, 0, sizeof m_fix.sat);
    std::memset(m_fix.cUsedPrn, 0, sizeof m_fix.cUsedPrn);
    std::size_t slot = 0, used = 0;
    for (const Gnss gnss : {Gnss::GPS, Gnss::SBAS, Gnss::GLONASS}) {
        for (std::size_t i = 0; i < n; ++i) {
            const SkySat &s = sats[i];
            const int prn = s.gnss == gnss ? RecordNumber(s.gnss, s.sv) : 0;
            if (prn == 0)
                continue;
            if (slot < 12) {
                SatInfo &out = m_fix.sat[slot++];
                out.bPrn = static_cast<std::uint8_t>(prn);
                out.bElevation = static_cast<std::uint8_t>(s.hasPosition ? s.el : 0);
                out.nAzimuth = static_cast<std::int16_t>(s.hasPosition ? s.az : 0);
                out.bSnr = s.snr;
            }
            // GSA's used list holds GPS numbers only.
            if (s.used && gnss == Gnss::GPS && used < 12)
                m_fix.cUsedPrn[used++] = static_cast<std::int8_t>(prn);
        }
    }
    // Receivers that send neither NAV-PVT nor NAV-SOL (a timing receiver's set) still say which
    // satellites they use; the sentences' count, where they give one, stays.
    if (!UbxSays(kUbxSatsUsed) && ((m_extra.sent & kSentSatsUsed) == 0 || m_bSatsUsedFromSky)) {
        const auto nUsed = std::count_if(sats, sats + n, [](const SkySat &s) { return s.used; });
        m_fix.cSatsUsed = static_cast<std::int8_t>(std::min<std::ptrdiff_t>(nUsed, 127));
        NoteSent(m_extra.sent, kSentSatsUsed);
        m_bSatsUsedFromSky = true;
    }
    UbxSaid(kUbxSky);
    m_fixDirty = true;
}

void CNmeaDecoder::UbxRfBlock(std::size_t index, int jammingState, bool hasJamInd, int jamInd,
                              int agcCnt, int antStatus, int antPower) {
    Integrity &integrity = m_extra.integrity;
    if (index >= Integrity::kMaxBlocks)
        return;
    Integrity::RfBlock &block = integrity.blocks[index];
    block.jamInd = static_cast<std::int16_t>(hasJamInd ? jamInd : -1);
    // The AGC count runs from 0 to 8191.
    block.agcPermil = static_cast<std::int16_t>((std::min(agcCnt, 8191) * 1000 + 4095) / 8191);
    integrity.nBlocks =
        static_cast<std::uint8_t>(std::max<std::size_t>(integrity.nBlocks, index + 1));
    // 1 ok, 2 warning, 3 critical; 0 says nothing. The worst band speaks for the receiver.
    if (jammingState >= 1 && jammingState <= 3) {
        const int state = jammingState - 1;
        if (index == 0 || integrity.jamming < state)
            integrity.jamming = static_cast<std::int8_t>(state);
    } else if (index == 0) {
        integrity.jamming = -1;
    }
    if (index == 0) {
        // 2 ok, 3 short, 4 open, 0 initialising; 1 the receiver does not know.
        static const std::int8_t kAntenna[] = {kAntInit, -1, kAntOk, kAntShort, kAntOpen};
        integrity.antenna = antStatus >= 0 && antStatus <= 4 ? kAntenna[antStatus] : -1;
        integrity.antPower =
            static_cast<std::int8_t>(antPower == 0 || antPower == 1 ? antPower : -1);
    }
    m_fixDirty = true;
}

// One UBX frame whose checksum holds: class, id and the payload of len bytes.
void CNmeaDecoder::HandleUbx(std::uint8_t cls, std::uint8_t id, const std::uint8_t *payload,
                             std::size_t len) {
    m_sky.Heard(m_nowMs);
    ubx::Result result = ubx::Result::Ok;
    const auto read = [&](auto &message) {
        result = ubx::Read(payload, len, message);
        return result == ubx::Result::Ok;
    };
    switch (ubx::Identify(cls, id)) {
    case ubx::Msg::NavPvt: {
        ubx::NavPvt m;
        if (!read(m))
            break;
        Report([&] { return ReportOf(m); });
        UbxSaid(kUbxSolution);
        UbxSaid(kUbxTime);
        UbxUtc(m.year, m.month, m.day, m.hour, m.min, m.sec, 0, m.validDate, m.validTime);
        if (!m.invalidLlh) {
            UbxSaid(kUbxPosition);
            UbxPosition(m.lat, m.lon);
            UbxAltitude(m.hMsl);
            m_extra.hAccM = static_cast<float>(m.hAcc / 1000.0);
            m_extra.vAccM = static_cast<float>(m.vAcc / 1000.0);
        }
        UbxSaid(kUbxVelocity);
        UbxVelocity(m.gSpeed, m.headMot);
        m_extra.speedAccMps = static_cast<float>(m.sAcc / 1000.0);
        m_extra.carrier = static_cast<std::int8_t>(m.carrSoln <= 2 ? m.carrSoln : -1);
        // GGA's quality where a GGA gives it; a receiver of UBX alone gets the same words.
        if (!m_bGgaQuality) {
            const bool valid = m.gnssFixOk && m.fixType >= 1 && m.fixType <= 5;
            m_extra.quality = static_cast<std::int8_t>(!valid            ? 0
                                                       : m.carrSoln == 2 ? 4
                                                       : m.carrSoln == 1 ? 5
                                                       : m.fixType == 1  ? 6
                                                       : m.diffSoln      ? 2
                                                                         : 1);
            // With the quality, the corrections' age; without any in use, no station either.
            m_extra.diffAgeS = CorrectionAgeS(m.lastCorrectionAge);
            if (!m.diffSoln && m.lastCorrectionAge == 0)
                m_extra.diffStation = -1;
        }
        m_fix.cSatsUsed = static_cast<std::int8_t>(std::min<int>(m.numSv, 127));
        NoteSent(m_extra.sent, kSentSatsUsed);
        UbxSaid(kUbxSatsUsed);
        if (!UbxSays(kUbxDops)) {
            m_fix.nPdop = Tenths(m.pDop);
            m_extra.pdop = static_cast<float>(m.pDop * 0.01);
            NoteSent(m_extra.sent, kSentPdop);
            UbxSaid(kUbxPdop);
        }
        UbxFixReport(m.fixType, m.gnssFixOk);
        break;
    }
    case ubx::Msg::NavSol: {
        ubx::NavSol m;
        if (!read(m))
            break;
        const bool hasPosition = m.ecefX != 0 || m.ecefY != 0 || m.ecefZ != 0;
        double lat = 0.0, lon = 0.0, height = 0.0;
        if (hasPosition)
            EcefToGeodetic(m.ecefX / 100.0, m.ecefY / 100.0, m.ecefZ / 100.0, lat, lon, height);
        Report([&] { return ReportOf(m, hasPosition, lat, lon, height); });
        if (!UbxSays(kUbxPosition) && hasPosition) {
            UbxPosition(static_cast<std::int32_t>(nmea::Trunc(lat * 1e7)),
                        static_cast<std::int32_t>(nmea::Trunc(lon * 1e7)));
        }
        if (!UbxSays(kUbxVelocity) && m.gpsFixOk && m.ecefX != 0) {
            double speed, course;
            EcefToGroundVelocity(lat, lon, m.ecefVx * 10.0, m.ecefVy * 10.0, m.ecefVz * 10.0, speed,
                                 course);
            UbxVelocity(speed, static_cast<std::int32_t>(course * 1e5));
            m_extra.speedAccMps = static_cast<float>(m.sAcc / 100.0);
        }
        m_fix.cSatsUsed = static_cast<std::int8_t>(std::min<int>(m.numSv, 127));
        NoteSent(m_extra.sent, kSentSatsUsed);
        UbxSaid(kUbxSatsUsed);
        if (!UbxSays(kUbxDops)) {
            m_fix.nPdop = Tenths(m.pDop);
            m_extra.pdop = static_cast<float>(m.pDop * 0.01);
            NoteSent(m_extra.sent, kSentPdop);
            UbxSaid(kUbxPdop);
        }
        UbxSaid(kUbxSolution);
        UbxFixReport(m.gpsFix, m.gpsFixOk);
        break;
    }
    case ubx::Msg::NavStatus: {
        ubx::NavStatus m;
        if (!read(m))
            break;
        Report([&] {
            return StatusReport(NavReport::Kind::Status, m.iTow, m.gpsFix, m.gpsFixOk, m.diffSoln,
                                m.carrSoln);
        });
        m_extra.integrity.spoofing = static_cast<std::int8_t>(
            m.spoofDetState >= 1 && m.spoofDetState <= 3 ? m.spoofDetState - 1 : -1);
        if (!UbxSays(kUbxSolution)) {
            m_extra.carrier = static_cast<std::int8_t>(m.carrSoln <= 2 ? m.carrSoln : -1);
            UbxFixReport(m.gpsFix, m.gpsFixOk);
        }
        m_fixDirty = true;
        break;
    }
    case ubx::Msg::NavPosllh: {
        ubx::NavPosllh m;
        if (!read(m))
            break;
        Report([&] { return ReportOf(m); });
        UbxSaid(kUbxPosition);
        UbxPosition(m.lat, m.lon);
        UbxAltitude(m.hMsl);
        m_extra.hAccM = static_cast<float>(m.hAcc / 1000.0);
        m_extra.vAccM = static_cast<float>(m.vAcc / 1000.0);
        break;
    }
    case ubx::Msg::NavVelned: {
        ubx::NavVelned m;
        if (!read(m))
            break;
        Report([&] { return ReportOf(m); });
        UbxSaid(kUbxVelocity);
        UbxVelocity(m.gSpeed * 10.0, m.heading);
        m_extra.speedAccMps = static_cast<float>(m.sAcc / 100.0);
        break;
    }
    case ubx::Msg::NavTimeutc: {
        ubx::NavTimeutc m;
        if (!read(m))
            break;
        Report([&] { return ReportOf(m); });
        if (UbxSays(kUbxTime))
            break;
        UbxUtc(m.year, m.month, m.day, m.hour, m.min, m.sec, m.nano, m.validUtc, m.validUtc);
        break;
    }
    case ubx::Msg::NavHpposllh: {
        ubx::NavHpposllh m;
        if (!read(m) || m.invalidLlh)
            break;
        Report([&] { return ReportOf(m); });
        m_extra.hasPrecise = true;
        m_extra.preciseLat = m.lat * 1e-7 + m.latHp * 1e-9;
        m_extra.preciseLon = m.lon * 1e-7 + m.lonHp * 1e-9;
        m_extra.preciseHeight = m.height * 1e-3 + m.heightHp * 1e-4;
        m_extra.preciseMsl = m.hMsl * 1e-3 + m.hMslHp * 1e-4;
        m_extra.hAccM = static_cast<float>(m.hAcc / 10000.0);
        m_extra.vAccM = static_cast<float>(m.vAcc / 10000.0);
        m_fixDirty = true;
        break;
    }
    case ubx::Msg::NavDop: {
        ubx::NavDop m;
        if (!read(m))
            break;
        Report([&] { return ReportOf(m); });
        UbxSaid(kUbxDops);
        UbxSaid(kUbxPdop);
        m_fix.nPdop = Tenths(m.pDop);
        m_fix.nHdop = Tenths(m.hDop);
        m_fix.nVdop = Tenths(m.vDop);
        m_extra.pdop = static_cast<float>(m.pDop * 0.01);
        m_extra.hdop = static_cast<float>(m.hDop * 0.01);
        m_extra.vdop = static_cast<float>(m.vDop * 0.01);
        NoteSent(m_extra.sent, kSentPdop);
        NoteSent(m_extra.sent, kSentHdop);
        NoteSent(m_extra.sent, kSentVdop);
        m_sky.OnUbxDops(m_fix.nPdop, m_fix.nHdop, m_fix.nVdop, m_nowMs);
        m_fixDirty = true;
        break;
    }
    case ubx::Msg::NavSat: {
        result = ReadList(payload, len, m_ubxSats, SkyView::kMax);
        if (result != ubx::Result::Ok)
            break;
        m_ubxSatsFromSat = true;
        UbxSky();
        break;
    }
    case ubx::Msg::NavSig: {
        result = ReadList(payload, len, m_ubxSignals, 2 * SkyView::kMax);
        if (result != ubx::Result::Ok)
            break;
        UbxSaid(kUbxSignals);
        UbxSky();
        break;
    }
    case ubx::Msg::NavSvinfo: {
        // The older list, in the receiver's own numbering; used only without NAV-SAT.
        ubx::SvinfoChannel channels[SkyView::kMax];
        std::size_t n = 0;
        result = ubx::Read(payload, len, channels, std::size(channels), n);
        if (result != ubx::Result::Ok || (UbxSays(kUbxSky) && m_ubxSatsFromSat))
            break;
        m_ubxSats.clear();
        for (std::size_t i = 0; i < n; ++i) {
            Gnss gnss;
            int sv;
            if (!SvinfoSatellite(channels[i].svid, gnss, sv))
                continue;
            static const std::uint8_t kGnssIds[] = {0, 1, 6, 2, 3, 5, 7};
            ubx::SvInfo s;
            s.gnssId = kGnssIds[static_cast<std::size_t>(gnss)];
            s.svId = static_cast<std::uint8_t>(sv);
            s.cno = channels[i].cno;
            s.elev = channels[i].elev;
            s.azim = channels[i].azim;
            s.elevAzimKnown = channels[i].elev != 0 || channels[i].azim != 0;
            s.qualityInd = channels[i].quality;
            s.svUsed = channels[i].svUsed;
            s.health = channels[i].health;
            m_ubxSats.push_back(s);
        }
        m_ubxSatsFromSat = false;
        UbxSky();
        break;
    }
    case ubx::Msg::MonRf: {
        ubx::RfBlock blocks[Integrity::kMaxBlocks];
        std::size_t n = 0;
        result = ubx::Read(payload, len, blocks, std::size(blocks), n);
        if (result != ubx::Result::Ok)
            break;
        for (std::size_t i = 0; i < n; ++i) {
            const ubx::RfBlock &b = blocks[i];
            UbxRfBlock(i, b.jammingState, b.hasJamInd, b.jamInd, b.agcCnt, b.antStatus, b.antPower);
        }
        break;
    }
    case ubx::Msg::MonHw: {
        ubx::MonHw m;
        if (!read(m))
            break;
        // Only where MON-RF does not speak: it carries every band, MON-HW the first.
        if (m_extra.integrity.nBlocks <= 1)
            UbxRfBlock(0, m.jammingState, true, m.jamInd, m.agcCnt, m.aStatus, m.aPower);
        break;
    }
    case ubx::Msg::SecSig: {
        ubx::SecSig m;
        if (!read(m))
            break;
        Integrity &integrity = m_extra.integrity;
        if (m.jamDetEnabled && m.jammingState >= 1 && m.jammingState <= 3)
            integrity.jamming = static_cast<std::int8_t>(m.jammingState - 1);
        if (m.spfDetEnabled && m.spoofingState >= 1 && m.spoofingState <= 3)
            integrity.spoofing = static_cast<std::int8_t>(m.spoofingState - 1);
        m_fixDirty = true;
        break;
    }
    case ubx::Msg::MonVer: {
        ubx::MonVer m;
        read(m);
        break;
    }
    case ubx::Msg::RxmRtcm: {
        ubx::RxmRtcm m;
        if (!read(m))
            break;
        // A frame the receiver took (its CRC held, not refused) names the base it corrects with;
        // GGA's field 14 says it where a GGA comes.
        if (!m_bGgaQuality && !m.crcFailed && m.msgUsed != 1 && rtcm3::NamesStation(m.msgType) &&
            m.refStation <= 4095) {
            m_extra.diffStation = static_cast<std::int16_t>(m.refStation);
            m_fixDirty = true;
        }
        break;
    }
    case ubx::Msg::AckAck:
    case ubx::Msg::AckNak: {
        ubx::Ack m;
        read(m);
        break;
    }
    case ubx::Msg::Unknown:
        // NAV-EOE carries only its time of week: the epoch's messages have all come.
        if (cls == kClassNav && id == kIdEoe)
            Report([] {
                NavReport r;
                r.kind = NavReport::Kind::EndOfEpoch;
                return r;
            });
        break;
    }
    if (result != ubx::Result::Ok)
        Bump(m_counters.nUbxSkipped);
}
