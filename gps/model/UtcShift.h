#pragma once

#include <cstdint>

struct UtcDateTime {
    std::int16_t year;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};

// Local standard time: the UTC date and time minus the bias (seconds west of UTC). Daylight saving
// is never applied. A date that is not on the calendar (an empty RMC date gives day 0, month 0) is
// kept as received, and only the time of day is shifted, modulo 24 hours.
UtcDateTime ShiftToLocal(const UtcDateTime &utc, int nBiasSeconds);
