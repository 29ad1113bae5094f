#include "ScatterPlot.h"

#include "model/Geodesy.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace display {

namespace {

QString Metres(double m) {
    return QStringLiteral("%1 m").arg(m, 0, 'f', m < 10 ? 2 : 1);
}

} // namespace

QStringList ScatterFigures(const PositionStats &st, bool hasReference) {
    QStringList lines;
    lines << QStringLiteral("CEP50 ") + Metres(st.cep50)
          << QStringLiteral("CEP95 ") + Metres(st.cep95)
          << QStringLiteral("2DRMS ") + Metres(st.drms2);
    if (st.mean.hasAlt)
        lines << QStringLiteral("vertical95 ") + Metres(st.vertical95);
    lines << QStringLiteral("fixes %1").arg(st.fixes);
    if (hasReference && st.fixes != 0)
        lines << QStringLiteral("mean %1 east, %2 north of the reference")
                     .arg(Metres(st.meanEast), Metres(st.meanNorth));
    return lines;
}

void PaintScatter(QPainter &painter, const QRectF &area, std::span<const GeoPoint> points,
                  const PositionStats &st) {
    painter.fillRect(area, Qt::white);
    const QPointF mid = area.center();
    const double half = std::min(area.width(), area.height()) / 2.0 - 4.0;
    painter.setPen(QColor(200, 200, 200));
    painter.drawLine(QPointF(area.left(), mid.y()), QPointF(area.right(), mid.y()));
    painter.drawLine(QPointF(mid.x(), area.top()), QPointF(mid.x(), area.bottom()));
    if (points.empty() || half <= 0)
        return;
    // The outer ring at 1.25 CEP95 (at least half a metre) spans the plot.
    const double span =
        std::max({st.cep95 * 1.25, std::hypot(st.meanEast, st.meanNorth) * 1.25, 0.5});
    const double scale = half / span; // pixels per metre
    const CLocalFrame frame(st.centre.lat, st.centre.lon);
    const QRect box = area.toAlignedRect();
    QImage dots(box.size(), QImage::Format_ARGB32_Premultiplied);
    dots.fill(Qt::transparent);
    const QRgb dot = qRgb(30, 90, 200);
    const double cx = mid.x() - box.left(), cy = mid.y() - box.top();
    for (const GeoPoint &g : points) {
        double e, n;
        frame.ToEastNorth(g.lat, g.lon, e, n);
        const long x = std::lround(cx + e * scale), y = std::lround(cy - n * scale);
        if (x < 0 || y < 0 || x >= dots.width() || y >= dots.height())
            continue;
        reinterpret_cast<QRgb *>(dots.scanLine(static_cast<int>(y)))[x] = dot;
    }
    painter.drawImage(box.topLeft(), dots);
    painter.setRenderHint(QPainter::Antialiasing);
    const struct {
        double radius;
        QColor colour;
        const char *name;
    } rings[] = {{st.cep50, QColor(40, 160, 60), "CEP50"},
                 {st.cep95, QColor(230, 120, 20), "CEP95"}};
    for (const auto &ring : rings) {
        painter.setPen(QPen(ring.colour, 1.5));
        const double r = ring.radius * scale;
        painter.drawEllipse(mid, r, r);
        painter.drawText(QPointF(mid.x() + r * 0.72 + 2, mid.y() - r * 0.72 - 2),
                         QString::fromLatin1(ring.name));
    }
    // The mean, when a reference is the centre.
    if (st.meanEast != 0.0 || st.meanNorth != 0.0) {
        painter.setPen(QPen(Qt::red, 2));
        const QPointF m(mid.x() + st.meanEast * scale, mid.y() - st.meanNorth * scale);
        painter.drawLine(m - QPointF(5, 0), m + QPointF(5, 0));
        painter.drawLine(m - QPointF(0, 5), m + QPointF(0, 5));
    }
    painter.setPen(Qt::darkGray);
    painter.drawText(area.adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("ring %1 = %2").arg(QStringLiteral("CEP95"), Metres(st.cep95)));
}

} // namespace display
