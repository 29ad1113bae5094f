#pragma once

#include "analysis/IntegrityWatch.h"

#include <QColor>
#include <QRectF>
#include <QString>
#include <vector>

class QFontMetrics;
class QPainter;

namespace display {

// An active alarm: white on dark red; one that ended a moment ago: dark on light amber.
inline const QColor kAlarmInk{255, 255, 255};
inline const QColor kAlarmBackground{160, 20, 20};
inline const QColor kEndedInk{70, 45, 0};
inline const QColor kEndedBackground{255, 226, 160};
// Any line while no data comes: what it says is no longer news.
inline const QColor kAlarmStaleInk{110, 110, 110};
inline const QColor kAlarmStaleBackground{228, 228, 228};

// One line of the alarm banner.
struct BannerLine {
    QString text;
    QColor ink, background;
    bool operator==(const BannerLine &) const = default;
};

// A line per threat with an alarm on show (active, else ended a moment ago), the active ones
// first, greyed and marked "(no data)" while no data comes; none when no alarm is on show.
std::vector<BannerLine> BannerLines(const WatchStatus &watch, bool noData);

// The active alarms' texts for the caption, "; " between them; "" when none is active.
QString AlarmCaption(const WatchStatus &watch);

// The height of one banner line in a font of these metrics.
int BannerLineHeight(const QFontMetrics &metrics);
// The lines top to bottom in area, each BannerLineHeight high, cut short with "..." when wider.
void DrawBanner(QPainter &painter, const QRectF &area, const std::vector<BannerLine> &lines);

} // namespace display
