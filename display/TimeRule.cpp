#include "TimeRule.h"

#include "TimeZone.h"
#include "model/UtcShift.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace display {

namespace {

QString OffsetText(int seconds) {
    const int a = std::abs(seconds) / 60;
    return QString::asprintf("UTC%c%02d:%02d", seconds < 0 ? '-' : '+', a / 60, a % 60);
}

} // namespace

int ApplyTimeRule(GpsFix &fix, TimeRule rule, int nBiasSeconds) {
    if (rule == TimeRule::Standard)
        return -nBiasSeconds;
    using namespace std::chrono;
    const UtcDateTime t{fix.nYear, fix.bMonth, fix.bDay, fix.bHour, fix.bMinute, fix.bSecond};
    // An empty record has no time to shift: it keeps showing zeros, not the zone's offset.
    if (fix.nYear == 0 && fix.bMonth == 0 && fix.bDay == 0 && fix.bHour == 0 && fix.bMinute == 0 &&
        fix.bSecond == 0)
        return -nBiasSeconds;
    // Seconds to add to standard time: UTC is standard time plus the bias.
    int delta = nBiasSeconds;
    if (rule == TimeRule::Local) {
        const year_month_day date{year{t.year}, month{t.month}, day{t.day}};
        // Off the calendar there is no instant to ask the zone about: take the present one.
        const sys_seconds utc = date.ok() ? sys_days{date} + hours{t.hour} + minutes{t.minute} +
                                                seconds{t.second} + seconds{nBiasSeconds}
                                          : time_point_cast<seconds>(system_clock::now());
        delta = platform::UtcOffsetSecondsAt(utc.time_since_epoch().count()) + nBiasSeconds;
    }
    if (delta == 0)
        return -nBiasSeconds;
    const UtcDateTime shown = ShiftToLocal(t, -delta);
    fix.nYear = shown.year;
    fix.bMonth = shown.month;
    fix.bDay = shown.day;
    fix.bHour = shown.hour;
    fix.bMinute = shown.minute;
    fix.bSecond = shown.second;
    return delta - nBiasSeconds;
}

QString TimeRuleText(TimeRule rule, int nBiasSeconds) {
    const long long now = static_cast<long long>(std::time(nullptr));
    return TimeRuleText(rule, nBiasSeconds, platform::UtcOffsetSecondsAt(now));
}

QString TimeRuleText(TimeRule rule, int nBiasSeconds, int shownOffset) {
    switch (rule) {
    case TimeRule::Utc:
        return QStringLiteral("UTC, Coordinated Universal Time (no zone offset applied)");
    case TimeRule::Local:
        return QStringLiteral("Local time, %1 (%2)")
            .arg(OffsetText(shownOffset), shownOffset != -nBiasSeconds
                                              ? QStringLiteral("summer time applied")
                                              : QStringLiteral("standard time, no summer time"));
    case TimeRule::Standard:
        break;
    }
    return QStringLiteral("Local standard time, %1 (summer time not applied)")
        .arg(OffsetText(-nBiasSeconds));
}

QString TimeZoneName(TimeRule rule, int shownOffset) {
    if (rule == TimeRule::Utc)
        return QStringLiteral("UTC");
    const std::string name = platform::ZoneAbbreviation(shownOffset);
    // Zones without a word for their offset spell it as digits ("+0545"): the offset reads better.
    if (name.empty() || name[0] == '+' || name[0] == '-')
        return OffsetText(shownOffset);
    return QString::fromStdString(name);
}

} // namespace display
