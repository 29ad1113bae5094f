#include "analysis/FixTrack.h"

#include "model/NmeaDecoder.h"
#include "protocol/NmeaConvert.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace {

using Field = CNmeaDecoder::Field;

constexpr double kKnotsToKmh = 1.852;
// What a receiver can mean: altitude from below the lowest dry land to the edge of space, speed
// up to 100,000 km/h, HDOP up to the 99.99 receivers send when they have none.
constexpr double kMinAlt = -1000.0;
constexpr double kMaxAlt = 100000.0;
constexpr double kMaxKnots = 100000.0 / kKnotsToKmh;
constexpr double kMaxHdop = 100.0;
constexpr double kMaxKmh = 100000.0;

// Plain decimal digits with at most one point (and a minus sign where the value may be negative),
// nothing else: "nan", "inf", exponents and splices of two sentences are not a receiver's numbers.
std::optional<double> Decimal(Field f, bool mayBeNegative = false) {
    std::size_t i = mayBeNegative && f.n > 1 && f.p[0] == '-' ? 1 : 0;
    bool digit = false, point = false;
    for (std::size_t k = i; k < f.n; ++k) {
        if (f.p[k] >= '0' && f.p[k] <= '9')
            digit = true;
        else if (f.p[k] == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    double v = 0.0;
    // from_chars takes no leading '+' and reads the same in every locale.
    if (!digit || std::from_chars(f.p, f.p + f.n, v, std::chars_format::fixed).ec != std::errc{} ||
        !std::isfinite(v))
        return std::nullopt;
    return v;
}

// What a field gave: nothing (empty), a value, or something no receiver can mean.
struct Reading {
    bool sent = false;
    bool bad = false;
    double value = 0.0;
};

Reading Read(Field f, double lo, double hi, bool mayBeNegative = false) {
    if (f.n == 0)
        return {};
    const std::optional<double> v = Decimal(f, mayBeNegative);
    if (!v || *v < lo || *v > hi)
        return {true, true, 0.0};
    return {true, false, *v};
}

// ddmm.mmmm with its hemisphere letter (N/S for latitude, E/W for longitude) to signed degrees.
Reading Degrees(Field value, Field hemisphere, bool latitude) {
    if (value.n == 0 && hemisphere.n == 0)
        return {};
    const char plus = latitude ? 'N' : 'E', minus = latitude ? 'S' : 'W';
    const std::optional<double> v = Decimal(value);
    if (!v || hemisphere.n != 1 || (hemisphere.p[0] != plus && hemisphere.p[0] != minus))
        return {true, true, 0.0};
    const double whole = std::floor(*v / 100.0);
    const double minutes = *v - whole * 100.0;
    const double deg = whole + minutes / 60.0;
    if (minutes >= 60.0 || deg > (latitude ? 90.0 : 180.0))
        return {true, true, 0.0};
    return {true, false, hemisphere.p[0] == minus ? -deg : deg};
}

// hhmmss.ss to seconds of the day; -1 when empty or not a time of day.
double UtcSeconds(Field f) {
    if (f.n < 6)
        return -1.0;
    for (std::size_t i = 0; i < 6; ++i)
        if (f.p[i] < '0' || f.p[i] > '9')
            return -1.0;
    const int h = nmea::AtoI(f.p, 2), m = nmea::AtoI(f.p + 2, 2);
    const std::optional<double> s = Decimal(Field{f.p + 4, f.n - 4});
    if (h > 23 || m > 59 || !s || *s >= 61.0)
        return -1.0;
    return h * 3600.0 + m * 60.0 + *s;
}

bool SameTime(double a, double b) {
    return std::fabs(a - b) < 0.0005;
}

// In the C locale's form whatever the process locale is: a file is read on other machines.
std::string Number(double v, int decimals) {
    char b[400];
    const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
    return r.ec == std::errc{} ? std::string(b, r.ptr) : std::string();
}

// GGA, RMC and GSA of a standard talker: the sentences a fix is made of.
bool FixSentence(const char *s, std::size_t len) {
    return len >= 7 && s[0] == '$' && s[1] != 'P' &&
           (std::memcmp(s + 3, "GGA,", 4) == 0 || std::memcmp(s + 3, "RMC,", 4) == 0 ||
            std::memcmp(s + 3, "GSA,", 4) == 0);
}

} // namespace

void CFixTrack::AddSentence(const char *s, std::size_t len, const CNmeaDecoder::Fields *fields) {
    if (m_ubxSpeaks || !FixSentence(s, len))
        return;
    const char *star = static_cast<const char *>(std::memchr(s, '*', len));
    if (star == nullptr)
        return;
    const bool gga = std::memcmp(s + 3, "GGA,", 4) == 0;
    const bool gsa = std::memcmp(s + 3, "GSA,", 4) == 0;
    // The decoder split it at its checksum's "*": the same fields unless an earlier "*" ends them.
    CNmeaDecoder::Fields own;
    if (fields == nullptr || star != s + len - 3) {
        CNmeaDecoder::SplitFields(s, static_cast<std::size_t>(star - s), own);
        fields = &own;
    }
    const CNmeaDecoder::Fields &f = *fields;
    if (gsa) {
        // $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
        const int mode = nmea::AtoI(f[2].p, f[2].n);
        if (mode >= 1 && mode <= 3)
            m_fixMode = mode;
        return;
    }
    const double utc = UtcSeconds(f[1]);
    StartEpoch(utc);
    if (gga) {
        // $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
        TrackFix t;
        t.utcSeconds = utc;
        const Reading quality = Read(f[6], 0, 9), sats = Read(f[7], 0, 255),
                      hdop = Read(f[8], 0, kMaxHdop), alt = Read(f[9], kMinAlt, kMaxAlt, true);
        const Reading lat = Degrees(f[2], f[3], true), lon = Degrees(f[4], f[5], false);
        t.quality = quality.sent && !quality.bad ? static_cast<int>(quality.value) : -1;
        t.satsUsed = sats.sent && !sats.bad ? static_cast<int>(sats.value) : -1;
        t.hdop = hdop.sent && !hdop.bad ? hdop.value : -1.0;
        t.hasAlt = alt.sent && !alt.bad;
        t.alt = t.hasAlt ? alt.value : 0.0;
        const bool fix =
            Accept(t.quality > 0 && lat.sent && lon.sent,
                   quality.bad || sats.bad || hdop.bad || alt.bad || lat.bad || lon.bad);
        if (fix) {
            t.lat = lat.value;
            t.lon = lon.value;
        }
        // A receiver may send a GGA per system ($GPGGA, $GLGGA) for one epoch: the first with a
        // fix speaks for it, with the most satellites any of them counts.
        if (!m_epoch.hasGga || (fix && !m_epoch.ggaFix)) {
            const int before = m_epoch.hasGga ? m_epoch.gga.satsUsed : -1;
            m_epoch.gga = t;
            m_epoch.ggaFix = fix;
            m_epoch.gga.satsUsed = std::max(before, t.satsUsed);
        } else if (fix || !m_epoch.ggaFix) {
            m_epoch.gga.satsUsed = std::max(m_epoch.gga.satsUsed, t.satsUsed);
        }
        m_epoch.hasGga = true;
    } else {
        // $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
        TrackFix t;
        t.utcSeconds = utc;
        const Reading speed = Read(f[7], 0, kMaxKnots), course = Read(f[8], 0, 360);
        t.speedKmh = speed.sent && !speed.bad ? speed.value * kKnotsToKmh : -1.0;
        t.course = course.sent && !course.bad ? course.value : -1.0;
        if (f[9].n == 6) {
            const int d = nmea::AtoI(f[9].p, 2), mo = nmea::AtoI(f[9].p + 2, 2),
                      y = nmea::AtoI(f[9].p + 4, 2);
            // Two-digit years before 80 are this century's, as the receivers mean them.
            if (d >= 1 && d <= 31 && mo >= 1 && mo <= 12 && y >= 0)
                SetDate((y < 80 ? 2000 + y : 1900 + y) * 10000 + mo * 100 + d, utc);
        }
        const Reading lat = Degrees(f[3], f[4], true), lon = Degrees(f[5], f[6], false);
        const bool fix = Accept(f[2].First() == 'A' && lat.sent && lon.sent,
                                speed.bad || course.bad || lat.bad || lon.bad);
        if (fix) {
            t.lat = lat.value;
            t.lon = lon.value;
        }
        // Of an RMC per system, the first with a fix speaks for the epoch.
        if (!m_epoch.hasRmc || (fix && !m_epoch.rmcFix)) {
            m_epoch.rmc = t;
            m_epoch.rmcFix = fix;
        }
        m_epoch.hasRmc = true;
    }
}

void CFixTrack::SetDate(int date, double utc) {
    m_date = date;
    if (m_firstDate != 0)
        return;
    m_firstDate = date;
    m_firstDateUtc = utc;
    // The fixes before the first date get it: a file may start before its first RMC.
    for (TrackFix &fix : m_fixes)
        DateUndated(fix);
}

void CFixTrack::DateUndated(TrackFix &fix) const {
    if (fix.date != 0 || m_firstDate == 0 || fix.utcSeconds < 0.0)
        return;
    fix.date = m_firstDate;
    // Later in the day than the time that brought the date: the day before, across midnight.
    if (m_firstDateUtc >= 0.0 && fix.utcSeconds > m_firstDateUtc + 0.0005) {
        using namespace std::chrono;
        const year_month_day dated{year{m_firstDate / 10000},
                                   month{static_cast<unsigned>(m_firstDate / 100 % 100)},
                                   day{static_cast<unsigned>(m_firstDate % 100)}};
        const year_month_day before{sys_days{dated} - days{1}};
        fix.date = static_cast<int>(before.year()) * 10000 +
                   static_cast<int>(static_cast<unsigned>(before.month())) * 100 +
                   static_cast<int>(static_cast<unsigned>(before.day()));
    }
}

bool CFixTrack::Accept(bool claimsFix, bool anyBad) {
    // A sentence that claims a fix but carries a value no receiver can mean (a splice of two
    // sentences that kept a right checksum, "nan") gives no fix at all.
    if (claimsFix && anyBad)
        ++m_rejected;
    return claimsFix && !anyBad;
}

void CFixTrack::StartEpoch(double utc) {
    // A new time, or a sentence without one, starts the next epoch; sentences of one time, of
    // whatever talker, are one epoch.
    if (m_epoch.open && (utc < 0.0 || !SameTime(utc, m_epoch.utc)))
        CloseEpoch();
    if (!m_epoch.open) {
        m_epoch = Epoch{};
        m_epoch.open = true;
        m_epoch.utc = utc;
    }
}

std::optional<TrackFix> CFixTrack::PendingFix() const {
    return m_ubxSpeaks ? PendingUbxFix() : PendingNmeaFix();
}

std::optional<TrackFix> CFixTrack::PendingNmeaFix() const {
    const Epoch &e = m_epoch;
    if (!e.open || (!e.ggaFix && !e.rmcFix))
        return std::nullopt;
    TrackFix fix = e.ggaFix ? e.gga : e.rmc;
    if (e.hasRmc) {
        fix.speedKmh = e.rmc.speedKmh;
        fix.course = e.rmc.course;
    }
    if (e.hasGga && !e.ggaFix) {
        fix.satsUsed = e.gga.satsUsed;
        fix.hdop = e.gga.hdop;
    }
    fix.date = m_date;
    fix.fixMode = m_fixMode;
    return fix;
}

void CFixTrack::CloseEpoch() {
    if (const std::optional<TrackFix> fix = PendingNmeaFix())
        m_fixes.push_back(*fix);
    m_epoch = Epoch{};
}

void CFixTrack::Finish() {
    CloseEpoch();
    CloseUbxEpoch();
}

namespace {

// Which message's word stands when several speak in one epoch: the fuller solution, the finer
// position.
constexpr int kFromStatus = 1, kFromSol = 2, kFromPvt = 3;
constexpr int kPosEcef = 1, kPosLlh = 2, kPosPrecise = 3;

bool InRange(double v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
}

} // namespace

void CFixTrack::AddReport(const NavReport &r) {
    using Kind = NavReport::Kind;
    if (r.kind == Kind::EndOfEpoch) {
        CloseUbxEpoch();
        return;
    }
    // A UTC the receiver does not vouch for says nothing of any epoch.
    if (r.kind == Kind::Timeutc && !r.validTime)
        return;
    StartUbxEpoch(r.iTow);
    if (r.hasStatus)
        UbxStatus(r.kind == Kind::Pvt   ? kFromPvt
                  : r.kind == Kind::Sol ? kFromSol
                                        : kFromStatus,
                  r.fixType, r.fixOk, r.diff, r.carrier);
    // The ellipsoidal height is not the altitude above the sea: it only tells a position apart
    // from one no receiver can mean.
    if (r.hasPosition)
        UbxPosition(r.kind == Kind::Sol        ? kPosEcef
                    : r.kind == Kind::Hpposllh ? kPosPrecise
                                               : kPosLlh,
                    r.lat, r.lon, r.hasAlt ? std::optional<double>(r.alt) : std::nullopt,
                    !r.hasHeight || InRange(r.height, kMinAlt - 200.0, kMaxAlt));
    if (r.hasVelocity)
        UbxVelocity(r.kind == Kind::Sol ? kFromSol : kFromPvt, r.speedKmh, r.course);
    // NAV-SOL's count only where NAV-PVT gave none.
    if (r.satsUsed >= 0 && (r.kind == Kind::Pvt || m_ubx.fix.satsUsed < 0))
        m_ubx.fix.satsUsed = r.satsUsed;
    if (r.validTime)
        UbxUtc(r.kind == Kind::Pvt, r.hour, r.min, r.sec, r.iTow);
    if (r.validDate)
        UbxDate(r.year, r.month, r.day,
                r.validTime ? r.hour * 3600.0 + r.min * 60.0 + r.sec : -1.0);
    if (r.hasHdop) {
        m_ubx.fix.hdop = r.hdop;
        m_ubx.badHdop = r.hdop > kMaxHdop;
    }
}

void CFixTrack::StartUbxEpoch(std::uint32_t iTow) {
    if (m_ubx.open && iTow != m_ubx.iTow)
        CloseUbxEpoch();
    if (!m_ubx.open) {
        m_ubx = UbxEpoch{};
        m_ubx.open = true;
        m_ubx.iTow = iTow;
    }
}

void CFixTrack::UbxStatus(int from, int fixType, bool fixOk, bool diff, int carrSoln) {
    if (from < m_ubx.statusFrom)
        return;
    m_ubx.statusFrom = from;
    m_ubx.fixType = fixType;
    m_ubx.fixOk = fixOk;
    TrackFix &t = m_ubx.fix;
    t.fixMode = fixType == 2 ? 2 : fixType >= 3 && fixType <= 5 ? 3 : 1;
    // As the receiver's own GGA numbers them: 4 RTK fixed, 5 RTK float, 2 differential, else 1.
    t.quality = carrSoln == 2 ? 4 : carrSoln == 1 ? 5 : diff ? 2 : 1;
    Speaks();
}

void CFixTrack::UbxPosition(int from, double lat, double lon, std::optional<double> alt,
                            bool plausible) {
    // Any message of the epoch with a position no receiver can mean spoils the epoch's fix.
    m_ubx.badPos = m_ubx.badPos || !plausible || !InRange(lat, -90.0, 90.0) ||
                   !InRange(lon, -180.0, 180.0) || (alt && !InRange(*alt, kMinAlt, kMaxAlt));
    if (from < m_ubx.posFrom)
        return;
    m_ubx.posFrom = from;
    TrackFix &t = m_ubx.fix;
    t.lat = lat;
    t.lon = lon;
    t.hasAlt = alt.has_value();
    t.alt = alt.value_or(0.0);
    Speaks();
}

void CFixTrack::UbxVelocity(int from, double kmh, double course) {
    if (from < m_ubx.velFrom)
        return;
    m_ubx.velFrom = from;
    m_ubx.badVel = !InRange(kmh, 0.0, kMaxKmh) || !InRange(course, 0.0, 360.0);
    m_ubx.fix.speedKmh = kmh;
    m_ubx.fix.course = course;
}

void CFixTrack::UbxUtc(bool fromPvt, int hour, int min, int sec, std::uint32_t iTow) {
    if (m_ubx.timeFromPvt && !fromPvt)
        return;
    if (hour > 23 || min > 59 || sec > 60)
        return;
    m_ubx.timeFromPvt = fromPvt;
    // GPS and UTC differ by whole seconds: the epoch's fraction is its time of week's.
    m_ubx.fix.utcSeconds = hour * 3600.0 + min * 60.0 + sec + (iTow % 1000) / 1000.0;
}

void CFixTrack::UbxDate(int year, int month, int day, double utc) {
    if (year >= 1980 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31)
        SetDate(year * 10000 + month * 100 + day, utc);
}

void CFixTrack::Speaks() {
    // The first epoch UBX can make a fix of: the sentences' epoch in progress is the same one.
    if (!m_ubxSpeaks && m_ubx.statusFrom != 0 && m_ubx.posFrom != 0) {
        m_ubxSpeaks = true;
        m_handover = PendingNmeaFix();
        m_epoch = Epoch{};
    }
}

bool CFixTrack::UbxClaimsFix() const {
    return m_ubx.open && m_ubx.fixOk && m_ubx.fixType >= 2 && m_ubx.fixType <= 5 &&
           m_ubx.posFrom != 0;
}

std::optional<TrackFix> CFixTrack::PendingUbxFix() const {
    if (!UbxClaimsFix() || m_ubx.badPos || m_ubx.badVel || m_ubx.badHdop)
        return std::nullopt;
    TrackFix fix = m_ubx.fix;
    fix.date = m_date;
    return fix;
}

void CFixTrack::CloseUbxEpoch() {
    // The sentences' last epoch stands when UBX's first is another time; of one time, UBX's.
    if (m_handover && m_handover->utcSeconds >= 0.0 && m_ubx.fix.utcSeconds >= 0.0 &&
        !SameTime(m_handover->utcSeconds, m_ubx.fix.utcSeconds))
        m_fixes.push_back(*m_handover);
    if (m_ubx.open)
        m_handover.reset();
    if (const std::optional<TrackFix> fix = PendingUbxFix())
        m_fixes.push_back(*fix);
    else if (UbxClaimsFix())
        ++m_rejected;
    m_ubx = UbxEpoch{};
}

bool ParseReference(const std::string &text, GeoPoint &point) {
    double v[3] = {};
    int n = 0;
    std::size_t at = 0;
    while (n < 3) {
        const std::size_t comma = text.find(',', at);
        const std::string piece = text.substr(at, comma == std::string::npos ? comma : comma - at);
        if (piece.empty())
            return false;
        // from_chars reads "50.84" the same under every locale, where strtod follows LC_NUMERIC.
        const char *first = piece.c_str(), *last = first + piece.size();
        if (*first == '+')
            ++first;
        const auto [end, ec] = std::from_chars(first, last, v[n++]);
        if (ec != std::errc{} || end != last || !std::isfinite(v[n - 1]))
            return false;
        if (comma == std::string::npos)
            break;
        at = comma + 1;
        if (n == 3)
            return false;
    }
    if (n < 2 || std::fabs(v[0]) > 90.0 || std::fabs(v[1]) > 180.0)
        return false;
    point = GeoPoint{v[0], v[1], v[2], n == 3};
    return true;
}

std::string FixTimeText(const TrackFix &fix) {
    if (fix.utcSeconds < 0.0)
        return "";
    const auto whole = static_cast<long>(std::floor(fix.utcSeconds));
    const double frac = fix.utcSeconds - static_cast<double>(whole);
    char clock[64];
    std::snprintf(clock, sizeof clock, "%02ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    std::string text = clock;
    if (frac >= 0.0005) {
        std::string digits = Number(frac, 3).substr(1); // ".250"
        while (digits.back() == '0')
            digits.pop_back();
        // ".9996" rounds to "1.000": the whole second is the receiver's to say, not ours.
        if (digits != ".")
            text += digits;
    }
    if (fix.date == 0)
        return text;
    char day[48];
    std::snprintf(day, sizeof day, "%04d-%02d-%02dT", fix.date / 10000, fix.date / 100 % 100,
                  fix.date % 100);
    return day + text + "Z";
}

namespace {

const char *GpxFix(const TrackFix &t) {
    if (t.quality == 2)
        return "dgps";
    if (t.quality == 3)
        return "pps";
    return t.fixMode == 2 ? "2d" : t.fixMode == 3 ? "3d" : nullptr;
}

} // namespace

std::string TrackToGpx(std::span<const TrackFix> fixes) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx version=\"1.1\" creator=\"skywatch-decode\""
                      " xmlns=\"http://www.topografix.com/GPX/1/1\""
                      " xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">\n"
                      " <trk>\n  <trkseg>\n";
    for (const TrackFix &t : fixes) {
        out += "   <trkpt lat=\"" + Number(t.lat, 9) + "\" lon=\"" + Number(t.lon, 9) + "\">";
        // GPX 1.1 fixes the order: ele, time, ..., fix, sat, hdop, ..., extensions.
        if (t.hasAlt)
            out += "<ele>" + Number(t.alt, 3) + "</ele>";
        if (t.utcSeconds >= 0.0 && t.date != 0)
            out += "<time>" + FixTimeText(t) + "</time>";
        if (const char *fix = GpxFix(t))
            out += std::string("<fix>") + fix + "</fix>";
        if (t.satsUsed >= 0)
            out += "<sat>" + std::to_string(t.satsUsed) + "</sat>";
        if (t.hdop >= 0.0)
            out += "<hdop>" + Number(t.hdop, 2) + "</hdop>";
        if (t.speedKmh >= 0.0 || t.course >= 0.0) {
            out += "<extensions><gpxtpx:TrackPointExtension>";
            if (t.speedKmh >= 0.0)
                out += "<gpxtpx:speed>" + Number(t.speedKmh / 3.6, 3) + "</gpxtpx:speed>";
            if (t.course >= 0.0)
                out += "<gpxtpx:course>" + Number(t.course, 2) + "</gpxtpx:course>";
            out += "</gpxtpx:TrackPointExtension></extensions>";
        }
        out += "</trkpt>\n";
    }
    out += "  </trkseg>\n </trk>\n</gpx>\n";
    return out;
}

std::string TrackToCsv(std::span<const TrackFix> fixes) {
    std::string out = "time,lat,lon,alt_m,speed_kmh,course_deg,fix_mode,sats_used,hdop\n";
    const auto opt = [](bool has, double v, int decimals) {
        return has ? Number(v, decimals) : std::string();
    };
    for (const TrackFix &t : fixes) {
        out += FixTimeText(t) + "," + Number(t.lat, 9) + "," + Number(t.lon, 9) + "," +
               opt(t.hasAlt, t.alt, 3) + "," + opt(t.speedKmh >= 0.0, t.speedKmh, 3) + "," +
               opt(t.course >= 0.0, t.course, 2) + "," +
               (t.fixMode != 0 ? std::to_string(t.fixMode) : std::string()) + "," +
               (t.satsUsed >= 0 ? std::to_string(t.satsUsed) : std::string()) + "," +
               opt(t.hdop >= 0.0, t.hdop, 2) + "\n";
    }
    return out;
}

void CFixHistory::OnSentence(const char *sentence, std::size_t len,
                             const CNmeaDecoder::Fields *fields) {
    // The rest would change nothing: they pass by without the lock.
    if (!FixSentence(sentence, len))
        return;
    std::lock_guard lock(m_lock);
    m_track.AddSentence(sentence, len, fields);
    TakeFixes();
}

void CFixHistory::OnReport(const NavReport &report) {
    std::lock_guard lock(m_lock);
    m_track.AddReport(report);
    TakeFixes();
}

void CFixHistory::TakeFixes() {
    if (m_track.Fixes().empty())
        return;
    for (const TrackFix &t : m_track.TakeFixes()) {
        const GeoPoint g{t.lat, t.lon, t.alt, t.hasAlt};
        if (m_ring.size() < kCapacity) {
            m_ring.push_back(g);
        } else {
            m_ring[m_next] = g;
            m_next = (m_next + 1) % kCapacity;
        }
    }
}

std::vector<GeoPoint> CFixHistory::CopyPoints() const {
    std::lock_guard lock(m_lock);
    std::vector<GeoPoint> out;
    out.reserve(m_ring.size());
    out.insert(out.end(), m_ring.begin() + static_cast<std::ptrdiff_t>(m_next), m_ring.end());
    out.insert(out.end(), m_ring.begin(), m_ring.begin() + static_cast<std::ptrdiff_t>(m_next));
    // The epoch in progress counts too: the stream may have ended with it.
    if (const std::optional<TrackFix> t = m_track.PendingFix())
        out.push_back(GeoPoint{t->lat, t->lon, t->alt, t->hasAlt});
    return out;
}

void CFixHistory::Clear() {
    std::lock_guard lock(m_lock);
    m_ring.clear();
    m_next = 0;
}
