#pragma once

#include <string>

namespace platform {

// The standard-time offset of the local time zone in seconds west of UTC (UTC = local + bias),
// as tzset sets it from TZ. Daylight saving is not included.
int StandardBiasSeconds();

// The local time zone's offset east of UTC in seconds at the instant utcSeconds (seconds since
// 1970 in UTC), summer time included where it is in force then.
int UtcOffsetSecondsAt(long long utcSeconds);

// The local zone's abbreviation for the offset offsetEast (seconds east of UTC), as in force now
// or half a year from now ("CET", "CEST"); "" when the zone has none with that offset.
std::string ZoneAbbreviation(int offsetEast);

} // namespace platform
