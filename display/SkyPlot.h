#pragma once

#include "model/SkyTable.h"

#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

namespace display {

class CPaintCache;

// The side of a satellite mark on screen in the desktop layout, in logical pixels (Qt scales
// them by the device pixel ratio): the size of the dialog's marks at scale 1.
inline constexpr qreal kPlotMarkSize = 18.0;

// Where a satellite sits in a sky plot of this centre and horizon radius: the zenith at the
// centre, elevation 0 on the horizon circle, north up and east to the right.
QPointF SkyPlotPosition(double elevation, double azimuth, QPointF centre, qreal radius);

// The horizon radius of a plot filling area, so that a mark at elevation 0 is whole.
qreal SkyPlotRadius(const QRectF &area);

// The sky view of the desktop layout: rings every 30 degrees, the compass points, every
// satellite with a position as a mark of fixed size whose shape tells its system and colour its
// state (grey when stale), and its label where it covers no other label or mark. Returns the
// number of marks drawn.
int DrawSkyPlot(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale);
// The two halves of DrawSkyPlot: the grid, which depends on the area only (a view may keep it),
// and the marks and labels over it. A view that paints often passes its own text cache; labels,
// when given, receives how many labels were drawn.
void DrawSkyPlotGrid(QPainter &painter, const QRectF &area);
int DrawSkyPlotMarks(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale,
                     CPaintCache *texts = nullptr, int *labels = nullptr);

// A satellite's short name: system letter and number ("G10", "R10", "E10", "C10", "S131").
QString SatLabel(Gnss gnss, int sv);

// Signal bars grouped by system, one column per satellite with one segment per reported signal
// and its short name under it. Returns the number of segments drawn.
int DrawSignalBars(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale,
                   CPaintCache *texts = nullptr);

} // namespace display
