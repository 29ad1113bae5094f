#pragma once

#include "ViewMode.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace display {

// One text control to rewrite: its identifier in the dialog and its new text.
struct TextField {
    int id;
    QString text;
};

inline constexpr std::uint16_t kSentAll = 0xffff;

// What the window knows beside the record: which fields the stream set (FixSent bits) and
// whether data has stopped.
struct FixFacts {
    std::uint16_t sent = kSentAll;
    bool stale = false;
};

// The text a field shows when the stream has not set it, or set it off the calendar.
inline constexpr const char *kNotSentText = "-";
// The validity field's text while no data comes.
inline constexpr const char *kNoDataText = "No data";

// The controls of the layout whose texts differ between cur and prev (all of them when
// redrawAll is set), in the order they are written, with their texts. A field the stream has
// not set reads "-", and so do a time or date off the calendar.
std::vector<TextField> ChangedTextFields(const GpsFix &cur, const GpsFix &prev, ViewMode mode,
                                         bool redrawAll, FixFacts curFacts = {},
                                         FixFacts prevFacts = {});

// True for a time of day (second 60 is a leap second) and for a date on the calendar.
bool TimeOnClock(const GpsFix &fix);
bool DateOnCalendar(const GpsFix &fix);

// The widest texts each value control shows, by control: its values at their widest.
QHash<int, QStringList> WidestTexts();

// Splits millionths of a degree into degrees, minutes and seconds of the magnitude; positive is
// 1 for zero and above (north or east).
void SplitDegrees(std::int32_t value, std::uint8_t &degrees, std::uint8_t &minutes, float &seconds,
                  std::uint8_t &positive);

} // namespace display
