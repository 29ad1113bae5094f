#pragma once

#include "analysis/IntegrityWatch.h"
#include "analysis/SignalHistory.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstddef>
#include <optional>
#include <vector>

class QPainter;

namespace display {

// A system's colour in the history plots; its signal lines are a pale tint of it.
QColor HistorySystemColour(Gnss gnss);
// The colour of the picked satellite's band-th band (0 to 3), in the order they are first seen.
QColor HistoryBandColour(std::size_t band);
// The light shade behind the plots over a time with an alarm of this threat, and its label's ink.
QColor HistorySpanColour(Threat threat);
QColor HistorySpanInk(Threat threat);

// The three plots stacked in area: signal strength, satellites in view and used, HDOP.
struct HistoryLayout {
    QRectF signal, counts, hdop;
};
HistoryLayout LayoutHistory(const QRectF &area);

// The satellites with a signal somewhere in the history, by system, then number.
std::vector<SatNumber> HistorySatellites(const SignalHistoryCopy &history);

// The last spanSeconds up to the newest sample (less when the history is shorter), time of fix
// on the x axis (UTC). Every signal is a thin line in its system's tint, the picked satellite's
// bands bold and named; the times of alarms (spans, in the samples' time) shaded behind the
// plots. Costs one pixel write per point of the thin lines.
void PaintHistory(QPainter &painter, const QRectF &area, const SignalHistoryCopy &history,
                  int spanSeconds, const std::optional<SatNumber> &picked,
                  const std::vector<AlarmSpan> &spans = {});

// The satellite whose line passes within a few pixels of at in the signal plot drawn in
// signalArea (LayoutHistory's), if any.
std::optional<SatNumber> PickSatellite(const SignalHistoryCopy &history, const QRectF &signalArea,
                                       int spanSeconds, QPointF at);

// The newest sample: "12:34:56 UTC: GPS 11 in view, 8 used; Galileo ...; HDOP 0.9".
QString HistoryLatestText(const SignalHistoryCopy &history);
// A satellite in the newest sample: "G10: L1 C/A 42 dB-Hz, L5 Q 38 dB-Hz; used".
QString HistoryPickedText(const SignalHistoryCopy &history, SatNumber sat);

} // namespace display
