#pragma once

#include "analysis/FixTrack.h"

#include <QRectF>
#include <QStringList>
#include <span>

class QPainter;

namespace display {

// The scatter's figures as lines of text: "CEP50 0.42 m", "CEP95 ...", "2DRMS ...",
// "vertical95 ...", "fixes N", and with a reference the mean's offset from it.
QStringList ScatterFigures(const PositionStats &stats, bool hasReference);

// The fixes in metres east (right) and north (up) of the statistics' centre, with the CEP50 and
// CEP95 circles, in area. Many fixes cost one pixel write each.
void PaintScatter(QPainter &painter, const QRectF &area, std::span<const GeoPoint> points,
                  const PositionStats &stats);

} // namespace display
