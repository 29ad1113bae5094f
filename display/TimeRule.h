#pragma once

#include "model/GpsFix.h"

#include <QString>

namespace display {

// How the date and time are shown: the zone's standard time (as the record keeps them), the
// zone's civil time with summer time, or UTC.
enum class TimeRule { Standard, Local, Utc };

// Turns the record's date and time, local standard time nBiasSeconds west of UTC, into the rule's:
// shifted by the rule's offset at that instant minus the standard offset, across days, months
// and years. A date off the calendar shifts the time of day alone; an empty record stays empty.
// Returns the offset from UTC of what the fix now shows, in seconds east.
int ApplyTimeRule(GpsFix &fix, TimeRule rule, int nBiasSeconds);

// Names the rule and the zone's offset, e.g. "Local standard time, UTC+01:00 (summer time not
// applied)". For local time the offset is the one applied to the shown time (shownOffset, seconds
// east of UTC, as ApplyTimeRule returned it), or the present one without it.
QString TimeRuleText(TimeRule rule, int nBiasSeconds);
QString TimeRuleText(TimeRule rule, int nBiasSeconds, int shownOffset);

// The zone's name beside a time shown under the rule with shownOffset (seconds east of UTC):
// "UTC", the zone's abbreviation ("CEST"), or the offset ("UTC+05:45") when it has none.
QString TimeZoneName(TimeRule rule, int shownOffset);

} // namespace display
