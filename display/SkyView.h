#pragma once

#include "GpsFix.h"
#include "ViewMode.h"

#include <QColor>
#include <QPoint>

class CCanvas;

namespace display {

inline const QColor kUsedColour{64, 138, 94};
inline const QColor kNoSignalColour{255, 0, 0};
inline const QColor kTrackedColour{0, 0, 255};
inline const QColor kBoxColour{0, 0, 0};

// Where a satellite sits over a globe of gw x gh pixels: the zenith at the centre, the horizon
// on the circle of radius gw / 2, north up and east to the right.
QPoint SkyPosition(int elevation, int azimuth, int gw, int gh);

// The satellites of fix with PRN 1 to 32 as labelled circles (green used, blue tracked, red
// without signal) and, in the compact layout, the twelve signal-bar columns along the bottom.
void DrawSkyView(CCanvas& canvas, const GpsFix& fix, ViewMode mode, int gw, int gh);

} // namespace display
