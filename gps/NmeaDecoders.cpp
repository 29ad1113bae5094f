#include "NmeaConvert.h"
#include "NmeaDecoder.h"
#include "UtcShift.h"

#include <cstring>

using nmea::AtoF;
using nmea::AtoI;
using nmea::Piece;
using nmea::Trunc;

namespace {

constexpr double kOneSixtieth = 1.0 / 60.0;
constexpr double kOneMillion = 1000000.0;
constexpr double kKnotsFactor =
    1.852 * 100.0; // 185.20000000000002, as the receiver tools compute it
constexpr double kDopFactor = 10.0;
constexpr int kCentury = 2000;
constexpr std::size_t kField = CNmeaDecoder::kFieldSize;

// Fields start after "$", the talker, the type and the comma.
const char *FirstField(const char *sentence) {
    // Only the first seven bytes matter; measuring the whole sentence cost a tenth of the scan.
    for (int i = 0; i < 7; ++i) {
        if (sentence[i] == '\0')
            return nullptr;
    }
    return sentence + 7;
}

int PieceInt(const char *field, int from, int len) {
    char piece[4];
    Piece(field, from, len, piece);
    return AtoI(piece);
}

// ddmm.mmmm (or dddmm.mmmm) to millionths of a degree, in the order the receiver tools use.
std::int32_t Coordinate(const char *field, int degreeDigits) {
    const int degrees = PieceInt(field, 0, degreeDigits);
    const char *minutes =
        std::strlen(field) > static_cast<std::size_t>(degreeDigits) ? field + degreeDigits : "";
    const double value =
        (static_cast<double>(degrees) + AtoF(minutes) * kOneSixtieth) * kOneMillion;
    return static_cast<std::int32_t>(Trunc(value));
}

std::int16_t Tenths(const char *field) {
    return static_cast<std::int16_t>(Trunc(AtoF(field) * kDopFactor));
}

} // namespace

// $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
void CNmeaDecoder::ParseGGA(const char *sentence) {
    char field[kField];
    const char *p = FirstField(sentence);
    for (int i = 1; i <= 5; ++i)
        p = NextField(p, field);
    p = NextField(p, field);
    const bool fixed = AtoI(field) > 0;
    p = NextField(p, field);
    const auto satsUsed = static_cast<std::int8_t>(AtoI(field));
    p = NextField(p, field); // HDOP comes from GSA
    NextField(p, field);
    const auto altitude = static_cast<std::uint16_t>(AtoI(field));

    {
        std::lock_guard lock(m_fixLock);
        m_fix.cSatsUsed = satsUsed;
        m_fix.wAltitude = altitude;
    }
    if (fixed)
        NoteValidFix();
}

// $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
void CNmeaDecoder::ParseRMC(const char *sentence) {
    char field[kField];
    const char *p = FirstField(sentence);

    p = NextField(p, field);
    UtcDateTime t{};
    t.hour = static_cast<std::uint8_t>(PieceInt(field, 0, 2));
    t.minute = static_cast<std::uint8_t>(PieceInt(field, 2, 2));
    t.second = static_cast<std::uint8_t>(PieceInt(field, 4, 2));

    p = NextField(p, field);
    const std::uint8_t valid = field[0] == 'A' ? 1 : 0;

    p = NextField(p, field);
    std::int32_t latitude = Coordinate(field, 2);
    p = NextField(p, field);
    if (field[0] == 'S')
        latitude = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(latitude));

    p = NextField(p, field);
    std::int32_t longitude = Coordinate(field, 3);
    p = NextField(p, field);
    if (field[0] == 'W')
        longitude = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(longitude));

    p = NextField(p, field);
    const auto speed = static_cast<std::uint16_t>(Trunc(AtoF(field) * kKnotsFactor));
    p = NextField(p, field);
    const auto course = static_cast<std::int16_t>(AtoI(field));

    NextField(p, field);
    t.day = static_cast<std::uint8_t>(PieceInt(field, 0, 2));
    t.month = static_cast<std::uint8_t>(PieceInt(field, 2, 2));
    t.year = static_cast<std::int16_t>(kCentury + PieceInt(field, 4, 2));

    const UtcDateTime local = ShiftToLocal(t, m_nBiasSeconds);

    std::unique_lock lock(m_fixLock);
    m_fix.bValid = valid;
    m_fix.lLatitude = latitude;
    m_fix.lLongitude = longitude;
    m_fix.wSpeed = speed;
    m_fix.nCourse = course;
    m_fix.bDay = local.day;
    m_fix.bMonth = local.month;
    m_fix.nYear = local.year;
    m_fix.bHour = local.hour;
    m_fix.bMinute = local.minute;
    m_fix.bSecond = local.second;
    lock.unlock();
    if (valid != 0)
        NoteValidFix();
}

// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
void CNmeaDecoder::ParseGSA(const char *sentence) {
    char field[kField];
    const char *p = FirstField(sentence);
    p = NextField(p, field); // selection mode
    p = NextField(p, field);
    const auto fixMode = static_cast<std::int8_t>(AtoI(field));
    std::int8_t used[12];
    for (auto &prn : used) {
        p = NextField(p, field);
        const int value = AtoI(field);
        prn = static_cast<std::int8_t>(value >= 1 && value <= 32 ? value : 0);
    }
    p = NextField(p, field);
    const std::int16_t pdop = Tenths(field);
    p = NextField(p, field);
    const std::int16_t hdop = Tenths(field);
    NextField(p, field);
    const std::int16_t vdop = Tenths(field);

    {
        std::lock_guard lock(m_fixLock);
        m_fix.cFixMode = fixMode;
        std::memcpy(m_fix.cUsedPrn, used, sizeof used);
        m_fix.nPdop = pdop;
        m_fix.nHdop = hdop;
        m_fix.nVdop = vdop;
    }
    if (fixMode == 2 || fixMode == 3)
        NoteValidFix();
}

// $GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75
void CNmeaDecoder::ParseGSV(const char *sentence) {
    char field[kField];
    const char *p = FirstField(sentence);
    p = NextField(p, field); // number of messages
    p = NextField(p, field);
    const int message = AtoI(field);
    p = NextField(p, field);
    const int inView = AtoI(field);
    // The record has twelve slots, three messages' worth; later messages have nowhere to go.
    if (message < 1 || message > 3)
        return;

    SatInfo sats[4]{};
    int count = 0;
    for (int i = 0; i < 4 && 4 * (message - 1) + i < inView; ++i, ++count) {
        p = NextField(p, field);
        sats[i].bPrn = static_cast<std::uint8_t>(AtoI(field));
        p = NextField(p, field);
        sats[i].bElevation = static_cast<std::uint8_t>(AtoI(field));
        p = NextField(p, field);
        sats[i].nAzimuth = static_cast<std::int16_t>(AtoI(field));
        p = NextField(p, field);
        sats[i].bSnr = static_cast<std::uint8_t>(AtoI(field));
    }
    if (count == 0)
        return;
    std::lock_guard lock(m_fixLock);
    for (int i = 0; i < count; ++i) {
        SatInfo &slot = m_fix.sat[4 * (message - 1) + i];
        slot.bPrn = sats[i].bPrn;
        slot.bElevation = sats[i].bElevation;
        slot.bSnr = sats[i].bSnr;
        slot.nAzimuth = sats[i].nAzimuth;
    }
}
