#include "TimeZone.h"

#include <ctime>

namespace platform {

int StandardBiasSeconds()
{
    tzset();
    return static_cast<int>(timezone);
}

} // namespace platform
