#pragma once

namespace platform {

// The standard-time offset of the local time zone in seconds west of UTC (UTC = local + bias),
// as tzset sets it from TZ. Daylight saving is not included.
int StandardBiasSeconds();

} // namespace platform
