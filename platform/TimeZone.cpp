#include "TimeZone.h"

#include <ctime>

namespace platform {

int StandardBiasSeconds() {
    tzset();
    return static_cast<int>(timezone);
}

int UtcOffsetSecondsAt(long long utcSeconds) {
    tzset();
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return -static_cast<int>(timezone);
    return static_cast<int>(local.tm_gmtoff);
}

} // namespace platform
