#include "TimeZone.h"

#include <ctime>
#include <mutex>

namespace platform {

namespace {
// The C library guards tzset with a lock of its own that the thread checker cannot see; ports
// made on several threads at once would otherwise be reported as racing on the zone.
std::mutex g_zoneLock;
} // namespace

int StandardBiasSeconds() {
    std::lock_guard lock(g_zoneLock);
    tzset();
    return static_cast<int>(timezone);
}

int UtcOffsetSecondsAt(long long utcSeconds) {
    std::lock_guard lock(g_zoneLock);
    tzset();
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return -static_cast<int>(timezone);
    return static_cast<int>(local.tm_gmtoff);
}

std::string ZoneAbbreviation(int offsetEast) {
    std::lock_guard lock(g_zoneLock);
    tzset();
    const std::time_t now = std::time(nullptr);
    constexpr std::time_t kHalfYear = 182 * 24 * 3600;
    for (const std::time_t t : {now, now + kHalfYear}) {
        std::tm local{};
        if (localtime_r(&t, &local) != nullptr && local.tm_gmtoff == offsetEast &&
            local.tm_zone != nullptr)
            return local.tm_zone;
    }
    return {};
}

} // namespace platform
