#include "model/NmeaDecoder.h"
#include "model/UtcShift.h"
#include "protocol/NmeaConvert.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using nmea::AtoF;
using nmea::AtoI;
using nmea::Trunc;

namespace {

constexpr double kOneSixtieth = 1.0 / 60.0;
constexpr double kOneMillion = 1000000.0;
constexpr double kKnotsFactor =
    1.852 * 100.0; // 185.20000000000002, as the receiver tools compute it
constexpr double kDopFactor = 10.0;
constexpr int kCentury = 2000;

using Field = CNmeaDecoder::Field;

int Int(Field f) {
    return AtoI(f.p, f.n);
}
double Real(Field f) {
    return AtoF(f.p, f.n);
}

// Characters from..from+len-1 of the field, shorter where the field ends.
// The sent bit of a field: set when the field has text, cleared when it came empty.
void NoteSent(std::uint16_t &sent, FixSent bit, bool has) {
    sent = static_cast<std::uint16_t>(has ? sent | bit : sent & ~bit);
}

Field Piece(Field f, std::size_t from, std::size_t len) {
    if (from >= f.n)
        return {};
    return {f.p + from, f.n - from < len ? f.n - from : len};
}

// ddmm.mmmm (or dddmm.mmmm) to millionths of a degree, in the order the receiver tools use.
std::int32_t Coordinate(Field f, std::size_t degreeDigits) {
    const int degrees = Int(Piece(f, 0, degreeDigits));
    const Field minutes = Piece(f, degreeDigits, f.n);
    const double value =
        (static_cast<double>(degrees) + Real(minutes) * kOneSixtieth) * kOneMillion;
    return static_cast<std::int32_t>(Trunc(value));
}

// What the talker says about the system (GN and unknown talkers: nothing, -1).
int TalkerHint(const char *sentence) {
    const char a = sentence[1], b = sentence[2];
    if (a == 'G' && b == 'P')
        return static_cast<int>(Gnss::GPS);
    if (a == 'G' && b == 'L')
        return static_cast<int>(Gnss::GLONASS);
    if (a == 'G' && b == 'A')
        return static_cast<int>(Gnss::Galileo);
    if ((a == 'G' && b == 'B') || (a == 'B' && b == 'D'))
        return static_cast<int>(Gnss::BeiDou);
    if ((a == 'G' && b == 'Q') || (a == 'Q' && b == 'Z'))
        return static_cast<int>(Gnss::QZSS);
    if (a == 'G' && b == 'I')
        return static_cast<int>(Gnss::NavIC);
    return -1;
}

// The NMEA 4.10 system id of GSA: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, 5 QZSS, 6 NavIC.
int SystemIdHint(Field f) {
    static const Gnss kIds[] = {Gnss::GPS,    Gnss::GLONASS, Gnss::Galileo,
                                Gnss::BeiDou, Gnss::QZSS,    Gnss::NavIC};
    const int id = f.n == 1 ? f.p[0] - '0' : 0;
    return id >= 1 && id <= 6 ? static_cast<int>(kIds[id - 1]) : -1;
}

// The NMEA 4.11 signal id: one hex digit, 1-F. Anything else is kept as an id no table has (255),
// so it shows as "unknown" rather than as another signal.
int SignalId(Field f) {
    if (f.n == 0)
        return -1;
    const int id = f.n == 1 ? nmea::HexValue(f.p[0]) : -1;
    return id >= 0 ? id : 255;
}

std::int16_t Tenths(Field f) {
    return static_cast<std::int16_t>(Trunc(Real(f) * kDopFactor));
}

// The digits sent after the point; -1 for an empty field.
std::int8_t Decimals(Field f) {
    if (f.n == 0)
        return -1;
    for (std::size_t i = 0; i < f.n; ++i) {
        if (f.p[i] == '.')
            return static_cast<std::int8_t>(std::min<std::size_t>(f.n - i - 1, 9));
    }
    return 0;
}

// ddmm.mmmm at the digits sent, signed by the hemisphere letter.
double FineCoordinate(Field f, std::size_t degreeDigits, Field hemisphere) {
    const double value = Int(Piece(f, 0, degreeDigits)) + Real(Piece(f, degreeDigits, f.n)) / 60.0;
    const char h = hemisphere.First();
    return h == 'S' || h == 'W' ? -value : value;
}

// A GST error in metres; -1 when empty or not a plain number of at most 12 characters.
float ErrorMetres(Field f) {
    constexpr std::size_t kMaxChars = 12;
    std::size_t digits = 0, points = 0;
    for (std::size_t i = 0; i < f.n; ++i) {
        digits += f.p[i] >= '0' && f.p[i] <= '9';
        points += f.p[i] == '.';
    }
    if (digits == 0 || f.n > kMaxChars || digits + points != f.n || points > 1)
        return -1.0f;
    return static_cast<float>(Real(f));
}

// GGA field 13, the differential data's age: seconds, plain digits with at most one point; -1
// when empty or anything else.
float DiffAge(Field f) {
    constexpr std::size_t kMaxChars = 8;
    std::size_t digits = 0, points = 0;
    for (std::size_t i = 0; i < f.n; ++i) {
        const char c = f.p[i];
        digits += c >= '0' && c <= '9';
        points += c == '.';
    }
    if (digits == 0 || f.n > kMaxChars || digits + points != f.n || points > 1)
        return -1.0f;
    return static_cast<float>(Real(f));
}

// GGA field 14, the station: NMEA gives 0-1023, RTCM 3 stations reach 4095; -1 when empty or
// anything else.
std::int16_t DiffStation(Field f) {
    if (f.n == 0 || f.n > 4)
        return -1;
    for (std::size_t i = 0; i < f.n; ++i) {
        if (f.p[i] < '0' || f.p[i] > '9')
            return -1;
    }
    const int station = Int(f);
    return static_cast<std::int16_t>(station <= 4095 ? station : -1);
}

} // namespace

const char *QualityName(int quality) {
    static const char *const kNames[] = {"no fix",    "GPS",       "DGPS",           "PPS",
                                         "RTK fixed", "RTK float", "dead reckoning", "manual",
                                         "simulated"};
    return quality >= 0 && quality <= 8 ? kNames[quality] : "";
}

const char *JammingWord(int state) {
    static const char *const kWords[] = {"ok", "warning", "critical"};
    return state >= 0 && state <= 2 ? kWords[state] : "unknown";
}

const char *SpoofingWord(int state) {
    static const char *const kWords[] = {"none", "indicated", "multiple"};
    return state >= 0 && state <= 2 ? kWords[state] : "unknown";
}

const char *AntennaWord(int state) {
    static const char *const kWords[] = {"init", "ok", "short", "open"};
    return state >= 0 && state <= 3 ? kWords[state] : "unknown";
}

const char *CarrierWord(int carrier) {
    static const char *const kWords[] = {"none", "float", "fixed"};
    return carrier >= 0 && carrier <= 2 ? kWords[carrier] : "";
}

// $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
// $GNGGA,231408.00,4503.94632,N,00739.54368,E,5,12,0.82,257.4,M,47.2,M,0.0,0041*64
void CNmeaDecoder::ParseGGA(const char *, const Fields &f) {
    const int quality = Int(f[6]);
    const bool fixed = quality > 0;
    const auto satsUsed = static_cast<std::int8_t>(Int(f[7]));
    // Field 8, HDOP, is taken from GSA.
    const auto altitude = static_cast<std::uint16_t>(Int(f[9]));

    // A receiver's binary messages, when it sends them too, speak for what they report.
    if (!m_bUbxSeen || !UbxSays(kUbxSatsUsed)) {
        m_fix.cSatsUsed = satsUsed;
        NoteSent(m_extra.sent, kSentSatsUsed, f[7].n != 0);
        m_bSatsUsedFromSky = false;
    }
    if (!m_bUbxSeen || !UbxSays(kUbxAltitude)) {
        m_fix.wAltitude = altitude;
        NoteSent(m_extra.sent, kSentAltitude, f[9].n != 0);
        // Fields 9 and 11: altitude above mean sea level and the geoid's separation, metres.
        m_extra.altMslM = Real(f[9]);
        m_extra.altDecimals = Decimals(f[9]);
        m_extra.geoidSepM = Real(f[11]);
        m_extra.sepDecimals = Decimals(f[11]);
    }
    if (f[6].n != 0) {
        m_extra.quality = static_cast<std::int8_t>(quality >= 0 && quality <= 8 ? quality : -1);
        m_bGgaQuality = true;
        // Fields 13 and 14 belong to the quality: the corrections it was computed with. A station
        // without the age of its data is a placeholder (SiRF sends 0000 on every fix).
        m_extra.diffAgeS = DiffAge(f[13]);
        m_extra.diffStation = m_extra.diffAgeS >= 0.0f ? DiffStation(f[14]) : std::int16_t{-1};
    }
    m_fixDirty = true;
    NoteFixReport(fixed);
}

// $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
void CNmeaDecoder::ParseRMC(const char *, const Fields &f) {
    const Field time = f[1];
    UtcDateTime t{};
    t.hour = static_cast<std::uint8_t>(Int(Piece(time, 0, 2)));
    t.minute = static_cast<std::uint8_t>(Int(Piece(time, 2, 2)));
    t.second = static_cast<std::uint8_t>(Int(Piece(time, 4, 2)));

    const std::uint8_t valid = f[2].First() == 'A' ? 1 : 0;

    std::int32_t latitude = Coordinate(f[3], 2);
    if (f[4].First() == 'S')
        latitude = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(latitude));
    std::int32_t longitude = Coordinate(f[5], 3);
    if (f[6].First() == 'W')
        longitude = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(longitude));

    const auto speed = static_cast<std::uint16_t>(Trunc(Real(f[7]) * kKnotsFactor));
    const auto course = static_cast<std::int16_t>(Int(f[8]));

    const Field date = f[9];
    t.day = static_cast<std::uint8_t>(Int(Piece(date, 0, 2)));
    t.month = static_cast<std::uint8_t>(Int(Piece(date, 2, 2)));
    t.year = static_cast<std::int16_t>(kCentury + Int(Piece(date, 4, 2)));

    const UtcDateTime local = ShiftToLocal(t, m_nBiasSeconds);

    std::uint16_t &sent = m_extra.sent;
    const bool ubx = m_bUbxSeen;
    if (!ubx || !UbxSays(kUbxValid)) {
        m_fix.bValid = valid;
        NoteSent(sent, kSentValid, f[2].n != 0);
    }
    if (!ubx || !UbxSays(kUbxAnyPosition)) {
        m_fix.lLatitude = latitude;
        m_fix.lLongitude = longitude;
        m_extra.fineLat = FineCoordinate(f[3], 2, f[4]);
        m_extra.fineLon = FineCoordinate(f[5], 3, f[6]);
        NoteSent(sent, kSentPosition, f[3].n != 0 && f[5].n != 0);
    }
    if (!ubx || !UbxSays(kUbxAnyVelocity)) {
        m_fix.wSpeed = speed;
        m_fix.nCourse = course;
        m_extra.speedKmh = Real(f[7]) * 1.852;
        NoteSent(sent, kSentSpeed, f[7].n != 0);
        NoteSent(sent, kSentCourse, f[8].n != 0);
    }
    if (!ubx || !UbxSays(kUbxUtc)) {
        m_fix.bDay = local.day;
        m_fix.bMonth = local.month;
        m_fix.nYear = local.year;
        m_fix.bHour = local.hour;
        m_fix.bMinute = local.minute;
        m_fix.bSecond = local.second;
        NoteSent(sent, kSentTime, time.n != 0);
        NoteSent(sent, kSentDate, date.n != 0);
    }
    m_fixDirty = true;
    NoteFixReport(valid != 0);
}

// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
void CNmeaDecoder::ParseGSA(const char *sentence, const Fields &f) {
    // Field 1, the selection mode, is passed over.
    const auto fixMode = static_cast<std::int8_t>(Int(f[2]));
    // The table reads the DOPs from the end, after a system id if there is one, so any number
    // of satellite fields is read right; the record keeps its fixed fields 3-17.
    const std::size_t count = f.count;
    // A system id is one hex digit; a DOP always has its point.
    const bool hasSystemId =
        count >= 6 && f[count].n == 1 && std::isxdigit(static_cast<unsigned char>(f[count].p[0]));
    const std::size_t dops = hasSystemId ? count - 3 : count - 2;
    const bool forSky = count >= 5 && dops >= 3;

    // Each satellite field converted once, for the record and for the table.
    int value[Fields::kMax + 1];
    const std::size_t last = forSky && dops > 15 ? std::min(dops - 1, Fields::kMax) : 14;
    for (std::size_t i = 3; i <= last; ++i)
        value[i] = Int(f[i]);
    std::int8_t used[12];
    for (std::size_t j = 0; j < 12; ++j) {
        const int prn = value[3 + j];
        used[j] = static_cast<std::int8_t>(prn >= 1 && prn <= 32 ? prn : 0);
    }
    const std::int16_t pdop = Tenths(f[15]);
    const std::int16_t hdop = Tenths(f[16]);
    const std::int16_t vdop = Tenths(f[17]);

    if (forSky) {
        const bool same = dops == 15;
        const int hint = hasSystemId ? SystemIdHint(f[count]) : -1;
        m_sky.OnGsa(hint >= 0 ? hint : TalkerHint(sentence), value + 3,
                    std::min(dops, Fields::kMax + 1) - 3, same ? pdop : Tenths(f[dops]),
                    same ? hdop : Tenths(f[dops + 1]), same ? vdop : Tenths(f[dops + 2]), fixMode,
                    m_nowMs);
    }

    const bool ubx = m_bUbxSeen;
    if (!ubx || !UbxSays(kUbxValid)) {
        m_fix.cFixMode = fixMode;
        NoteSent(m_extra.sent, kSentFixMode, f[2].n != 0);
    }
    if (!ubx || !UbxSays(kUbxSky))
        std::memcpy(m_fix.cUsedPrn, used, sizeof used);
    if (!ubx || !UbxSays(kUbxPdop)) {
        m_fix.nPdop = pdop;
        m_extra.pdop = static_cast<float>(Real(f[15]));
        NoteSent(m_extra.sent, kSentPdop, f[15].n != 0);
    }
    if (!ubx || !UbxSays(kUbxDops)) {
        m_fix.nHdop = hdop;
        m_fix.nVdop = vdop;
        m_extra.hdop = static_cast<float>(Real(f[16]));
        m_extra.vdop = static_cast<float>(Real(f[17]));
        NoteSent(m_extra.sent, kSentHdop, f[16].n != 0);
        NoteSent(m_extra.sent, kSentVdop, f[17].n != 0);
    }
    m_fixDirty = true;
    NoteFixReport(fixMode == 2 || fixMode == 3);
}

// $GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75
void CNmeaDecoder::ParseGSV(const char *sentence, const Fields &f) {
    // Field 1, the number of messages, is passed over.
    const int message = Int(f[2]);
    const int inView = Int(f[3]);
    // Each satellite field converted once, for the record and for the table.
    int value[Fields::kMax + 1];
    const std::size_t last = f.count > 19 ? std::min(f.count, Fields::kMax) : 19;
    for (std::size_t i = 4; i <= last; ++i)
        value[i] = Int(f[i]);
    FeedSky(sentence, f, value);
    // The record has twelve slots, three messages' worth; later messages have nowhere to go.
    if (message < 1 || message > 3 || (m_bUbxSeen && UbxSays(kUbxSky)))
        return;

    for (int i = 0; i < 4 && 4 * (message - 1) + i < inView; ++i) {
        const std::size_t at = 4 + 4 * static_cast<std::size_t>(i);
        SatInfo &slot = m_fix.sat[4 * (message - 1) + i];
        slot.bPrn = static_cast<std::uint8_t>(value[at]);
        slot.bElevation = static_cast<std::uint8_t>(value[at + 1]);
        slot.nAzimuth = static_cast<std::int16_t>(value[at + 2]);
        slot.bSnr = static_cast<std::uint8_t>(value[at + 3]);
        m_fixDirty = true;
    }
}

// $GNGNS,112257.00,3844.24011,N,00908.43828,W,AN,03,10.5,,,,*57
// Only the mode letters are kept, beside the record; the record's fields come from the others.
void CNmeaDecoder::ParseGNS(const char *, const Fields &f) {
    const Field mode = f[6];
    const std::size_t n = std::min(mode.n, sizeof m_extra.gnsMode - 1);
    std::memcpy(m_extra.gnsMode, mode.p, n);
    std::memset(m_extra.gnsMode + n, 0, sizeof m_extra.gnsMode - n);
    m_fixDirty = true;
}

// $GNGST,231408.00,32,0.19,0.12,97,0.049,0.078,0.088*43
// Fields 6-8, the 1-sigma errors of latitude, longitude and altitude, are kept; the rms and the
// error ellipse (fields 2-5) are passed over.
void CNmeaDecoder::ParseGST(const char *, const Fields &f) {
    m_extra.errLatM = ErrorMetres(f[6]);
    m_extra.errLonM = ErrorMetres(f[7]);
    m_extra.errAltM = ErrorMetres(f[8]);
    m_extra.errDecimals = std::max({Decimals(f[6]), Decimals(f[7]), Decimals(f[8])});
    m_fixDirty = true;
}

// The table takes every satellite of the message, with the NMEA 4.11 signal id when it is there,
// written straight into the table's own list.
void CNmeaDecoder::FeedSky(const char *sentence, const Fields &f, const int *value) {
    const std::size_t after = f.count > 3 ? f.count - 3 : 0;
    const int signal = after % 4 == 1 ? SignalId(f[f.count]) : -1;
    std::size_t room = 0;
    CSkyTable::GsvSat *out =
        m_sky.OpenGsv(TalkerHint(sentence), signal, Int(f[1]), Int(f[2]), Int(f[3]), room);
    if (out == nullptr)
        return;
    const auto id = static_cast<std::uint8_t>(signal > 0 ? signal : 0);
    std::size_t n = 0;
    for (std::size_t at = 4; at + 3 <= std::min(f.count, Fields::kMax) && n < room; at += 4) {
        if (f[at].n == 0)
            continue;
        // An elevation or azimuth no sky has is no position, not a place on the plot.
        const bool hasPosition = f[at + 1].n != 0 && f[at + 2].n != 0 && value[at + 1] >= -90 &&
                                 value[at + 1] <= 90 && value[at + 2] >= 0 && value[at + 2] <= 360;
        out[n++] = {value[at], value[at + 1], value[at + 2], value[at + 3], hasPosition, id};
    }
    m_sky.CloseGsv(n, m_nowMs);
}
