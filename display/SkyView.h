#pragma once

#include "ViewMode.h"
#include "model/SkyTable.h"

#include <QColor>
#include <QPoint>
#include <QString>

class CCanvas;

namespace display {

inline const QColor kUsedColour{64, 138, 94};
inline const QColor kNoSignalColour{255, 0, 0};
inline const QColor kTrackedColour{0, 0, 255};
inline const QColor kBoxColour{0, 0, 0};
// Marks and values of data that stopped coming.
inline const QColor kStaleColour{150, 150, 150};

// Where a satellite sits over a globe of gw x gh pixels: the zenith at the centre, the horizon
// on the circle of radius gw / 2, north up and east to the right.
QPoint SkyPosition(int elevation, int azimuth, int gw, int gh);

// Every satellite of sky with a position as a labelled mark whose shape tells its system (green
// used, blue tracked, red without signal) and, in the compact layout, the twelve strongest
// signals as bar columns along the bottom, ordered by system and number; all grey when stale.
// Returns the number of marks drawn.
int DrawSkyView(CCanvas &canvas, const SkyView &sky, ViewMode mode, int gw, int gh,
                bool stale = false);

// The legend of colours and shapes and the counts per system, for the sky view's tooltip.
QString SkyToolTip(const SkyView &sky);

} // namespace display
