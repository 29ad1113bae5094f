#include "model/UtcShift.h"

#include <chrono>

UtcDateTime ShiftToLocal(const UtcDateTime &utc, int nBiasSeconds) {
    using namespace std::chrono;
    // A time that is not a time of day cannot be shifted: keep what was received.
    if (utc.hour > 23 || utc.minute > 59 || utc.second > 60)
        return utc;
    // A leap second (second 60) must not roll the minute, the hour or the date over: shift
    // 23:59:59 and put the extra second back afterwards.
    const int leap = utc.second > 59 ? utc.second - 59 : 0;
    const seconds timeOfDay = hours{utc.hour} + minutes{utc.minute} + seconds{utc.second - leap};
    const seconds shifted = timeOfDay - seconds{nBiasSeconds};

    UtcDateTime local = utc;
    const year_month_day date{year{utc.year}, month{utc.month}, day{utc.day}};
    if (date.ok()) {
        const sys_seconds when = sys_days{date} + shifted;
        const sys_days localDay = floor<days>(when);
        const year_month_day ymd{localDay};
        const hh_mm_ss<seconds> hms{when - localDay};
        local.year = static_cast<std::int16_t>(static_cast<int>(ymd.year()));
        local.month = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month()));
        local.day = static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day()));
        local.hour = static_cast<std::uint8_t>(hms.hours().count());
        local.minute = static_cast<std::uint8_t>(hms.minutes().count());
        local.second = static_cast<std::uint8_t>(hms.seconds().count() + leap);
        return local;
    }
    const seconds wrapped = ((shifted % days{1}) + days{1}) % days{1};
    const hh_mm_ss<seconds> hms{wrapped};
    local.hour = static_cast<std::uint8_t>(hms.hours().count());
    local.minute = static_cast<std::uint8_t>(hms.minutes().count());
    local.second = static_cast<std::uint8_t>(hms.seconds().count() + leap);
    return local;
}
