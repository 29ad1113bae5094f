#pragma once

#include "GpsFix.h"
#include "ViewMode.h"

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

// The controls of the layout whose values differ between cur and prev (all of them when
// redrawAll is set), in the order they are written, with their texts.
std::vector<TextField> ChangedTextFields(const GpsFix &cur, const GpsFix &prev, ViewMode mode,
                                         bool redrawAll);

// The widest texts each value control shows, by control: its values at their widest.
QHash<int, QStringList> WidestTexts();

// Splits millionths of a degree into degrees, minutes and seconds of the magnitude; positive is
// 1 for zero and above (north or east).
void SplitDegrees(std::int32_t value, std::uint8_t &degrees, std::uint8_t &minutes, float &seconds,
                  std::uint8_t &positive);

} // namespace display
