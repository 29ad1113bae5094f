#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// One satellite in view, six bytes.
struct SatInfo {
    std::uint8_t bPrn;       // 0 = empty slot
    std::uint8_t bElevation; // degrees
    std::uint8_t bSnr;       // dB-Hz, 0 = no signal
    std::uint8_t bReserved;
    std::int16_t nAzimuth; // degrees
};

// Everything decoded from the receiver. The dialog copies and compares it as a block of
// 120 bytes, so the layout below is binding: every field at a multiple of its width.
struct GpsFix {
    std::uint8_t bValid;
    std::uint8_t bReserved1;
    std::uint8_t bDay;   // local date
    std::uint8_t bMonth; // 1-12
    std::int16_t nYear;  // four digits
    std::uint8_t bHour;  // local time
    std::uint8_t bMinute;
    std::uint8_t bSecond;
    std::uint8_t bReserved2[3];
    std::int32_t lLatitude;  // millionths of a degree, north positive
    std::int32_t lLongitude; // millionths of a degree, east positive
    std::uint16_t wSpeed;    // hundredths of a km/h
    std::int16_t nCourse;    // whole degrees
    std::int8_t cSatsUsed;   // from GGA; may exceed 12
    std::uint8_t bReserved3;
    std::uint16_t wAltitude; // whole metres, modulo 65536
    std::int8_t cFixMode;    // 1 no fix, 2 2D, 3 3D
    std::int8_t cUsedPrn[12];
    std::uint8_t bReserved4;
    std::int16_t nPdop; // tenths
    std::int16_t nHdop;
    std::int16_t nVdop;
    SatInfo sat[12];
};

static_assert(std::endian::native == std::endian::little, "GpsFix is a little-endian record");
static_assert(sizeof(SatInfo) == 6);
static_assert(offsetof(SatInfo, bPrn) == 0);
static_assert(offsetof(SatInfo, bElevation) == 1);
static_assert(offsetof(SatInfo, bSnr) == 2);
static_assert(offsetof(SatInfo, bReserved) == 3);
static_assert(offsetof(SatInfo, nAzimuth) == 4);

static_assert(sizeof(GpsFix) == 120);
static_assert(offsetof(GpsFix, bValid) == 0);
static_assert(offsetof(GpsFix, bReserved1) == 1);
static_assert(offsetof(GpsFix, bDay) == 2);
static_assert(offsetof(GpsFix, bMonth) == 3);
static_assert(offsetof(GpsFix, nYear) == 4);
static_assert(offsetof(GpsFix, bHour) == 6);
static_assert(offsetof(GpsFix, bMinute) == 7);
static_assert(offsetof(GpsFix, bSecond) == 8);
static_assert(offsetof(GpsFix, bReserved2) == 9);
static_assert(offsetof(GpsFix, lLatitude) == 12);
static_assert(offsetof(GpsFix, lLongitude) == 16);
static_assert(offsetof(GpsFix, wSpeed) == 20);
static_assert(offsetof(GpsFix, nCourse) == 22);
static_assert(offsetof(GpsFix, cSatsUsed) == 24);
static_assert(offsetof(GpsFix, bReserved3) == 25);
static_assert(offsetof(GpsFix, wAltitude) == 26);
static_assert(offsetof(GpsFix, cFixMode) == 28);
static_assert(offsetof(GpsFix, cUsedPrn) == 29);
static_assert(offsetof(GpsFix, bReserved4) == 41);
static_assert(offsetof(GpsFix, nPdop) == 42);
static_assert(offsetof(GpsFix, nHdop) == 44);
static_assert(offsetof(GpsFix, nVdop) == 46);
static_assert(offsetof(GpsFix, sat) == 48);
