#include "AlarmBanner.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>

namespace display {

std::vector<BannerLine> BannerLines(const WatchStatus &watch, bool noData) {
    std::vector<BannerLine> lines;
    // The active alarms first: an ended one is the lesser news.
    for (const bool active : {true, false})
        for (const WatchStatus::Alarm &alarm : watch.alarms) {
            if (alarm.active != active || (!alarm.active && !alarm.ended))
                continue;
            QString text = QString::fromStdString(alarm.text);
            // Raised by limits of the receiver's family, not by what is usual for this one.
            if (active && watch.learning)
                text += QStringLiteral(" (no baseline yet)");
            lines.push_back(noData ? BannerLine{text + QStringLiteral(" (no data)"), kAlarmStaleInk,
                                                kAlarmStaleBackground}
                            : active ? BannerLine{text, kAlarmInk, kAlarmBackground}
                                     : BannerLine{text, kEndedInk, kEndedBackground});
        }
    return lines;
}

QString AlarmCaption(const WatchStatus &watch) {
    QStringList texts;
    for (const WatchStatus::Alarm &alarm : watch.alarms)
        if (alarm.active)
            texts << QString::fromStdString(alarm.text);
    return texts.join(QStringLiteral("; "));
}

int BannerLineHeight(const QFontMetrics &metrics) {
    return metrics.height() + 8;
}

void DrawBanner(QPainter &p, const QRectF &area, const std::vector<BannerLine> &lines) {
    p.save();
    QFont bold = p.font();
    bold.setBold(true);
    p.setFont(bold);
    const QFontMetrics metrics(bold);
    const double h = BannerLineHeight(metrics);
    double y = area.top();
    for (const BannerLine &line : lines) {
        const QRectF row(area.left(), y, area.width(), h);
        p.fillRect(row, line.background);
        p.setPen(line.ink);
        const QRectF text = row.adjusted(8, 0, -8, 0);
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(line.text, Qt::ElideRight, qRound(text.width())));
        y += h;
    }
    p.restore();
}

} // namespace display
