#include "FixPanel.h"

#include "ControlIds.h"

#include <QHash>

namespace display {

std::vector<FixRow> FixPanelRows(const GpsFix &fix, FixFacts facts, int quality, const SkyView &sky,
                                 const QString &live) {
    QHash<int, QString> text;
    for (const TextField &f : ChangedTextFields(fix, fix, kViewFull, true, facts, facts))
        text.insert(f.id, f.text);
    const bool g = facts.stale;
    const QString none = QString::fromLatin1(kNotSentText);
    std::vector<FixRow> rows = {
        {QStringLiteral("Time"), text.value(ctl::kTime), g},
        {QStringLiteral("Date"), text.value(ctl::kDate), g},
        {QStringLiteral("Latitude"), text.value(ctl::kLatitude), g},
        {QStringLiteral("Longitude"), text.value(ctl::kLongitude), g},
        {QStringLiteral("Altitude"), text.value(ctl::kAltitude), g},
        {QStringLiteral("Speed"), text.value(ctl::kSpeed), g},
        {QStringLiteral("Course"), text.value(ctl::kCourse), g},
        {QStringLiteral("HDOP"), text.value(ctl::kHdop), g},
        {QStringLiteral("PDOP"), text.value(ctl::kPdop), g},
        {QStringLiteral("VDOP"),
         (facts.sent & kSentVdop) != 0 ? QString::asprintf("%3.1f", fix.nVdop * 0.1) : none, g},
        {QStringLiteral("Valid"), text.value(ctl::kValidity), false},
        {QStringLiteral("Fix mode"), text.value(ctl::kFixMode), g},
        {QStringLiteral("Quality"),
         quality >= 0 && QualityName(quality)[0] != '\0' ? QString::fromLatin1(QualityName(quality))
                                                         : none,
         g},
        {QStringLiteral("Satellites"),
         QStringLiteral("%1 used, %2 in view, %3 signals")
             .arg(sky.used)
             .arg(sky.count)
             .arg(sky.signalsTracked),
         g},
    };
    if (sky.leftOut > 0)
        rows.push_back({QStringLiteral("Left out"),
                        QStringLiteral("%1 satellites did not fit the table").arg(sky.leftOut), g});
    rows.push_back(
        {QStringLiteral("State"), live.isEmpty() ? QStringLiteral("live") : live, false});
    return rows;
}

} // namespace display
