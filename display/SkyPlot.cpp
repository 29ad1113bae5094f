#include "SkyPlot.h"

#include "PaintCache.h"
#include "SkyView.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace display {

QPointF SkyPlotPosition(double elevation, double azimuth, QPointF centre, qreal radius) {
    const double r = (90.0 - std::clamp(elevation, 0.0, 90.0)) / 90.0 * radius;
    const double a = azimuth * 0.017453292519943295;
    return {centre.x() + r * std::sin(a), centre.y() - r * std::cos(a)};
}

qreal SkyPlotRadius(const QRectF &area) {
    // Room for half a mark and the compass letters outside the horizon.
    return std::max<qreal>(0, std::min(area.width(), area.height()) / 2 - kPlotMarkSize - 4);
}

namespace {

QColor MarkColour(const SkySat &s, bool stale) {
    if (stale)
        return kStaleColour;
    if (s.snr == 0)
        return kNoSignalColour;
    return s.used ? kUsedColour : kTrackedColour;
}

// The dialog's shapes, at the plot's mark size around p.
QPainterPath MarkPath(Gnss gnss, QPointF p) {
    const qreal h = kPlotMarkSize / 2;
    QPainterPath path;
    auto poly = [&](std::initializer_list<QPointF> pts) {
        QPolygonF q;
        for (const QPointF &d : pts)
            q << p + d * h;
        path.addPolygon(q);
        path.closeSubpath();
    };
    switch (gnss) {
    case Gnss::GPS:
        path.addEllipse(p, h, h);
        break;
    case Gnss::GLONASS:
        path.addRect(
            QRectF(p.x() - h * 0.9, p.y() - h * 0.9, kPlotMarkSize * 0.9, kPlotMarkSize * 0.9));
        break;
    case Gnss::Galileo:
        poly({{0, -1}, {1, 0}, {0, 1}, {-1, 0}});
        break;
    case Gnss::BeiDou:
        poly({{0, -1.1}, {1.1, 0.9}, {-1.1, 0.9}});
        break;
    case Gnss::QZSS:
        poly({{-1.1, -0.9}, {1.1, -0.9}, {0, 1.1}});
        break;
    default:
        poly({{-0.55, -1}, {0.55, -1}, {1, 0}, {0.55, 1}, {-0.55, 1}, {-1, 0}});
        break;
    }
    return path;
}

// The mark of a system in a colour, drawn once per device pixel ratio and kept: filling an
// antialiased path is most of a mark's cost.
QPixmap MarkPicture(Gnss gnss, const QColor &colour, qreal dpr, CPaintCache &cache) {
    const quint64 key = (quint64{static_cast<std::uint8_t>(gnss)} << 56) |
                        (quint64{colour.rgba()} << 16) | quint64(qRound(dpr * 100) & 0xFFFF);
    QPixmap picture = cache.Picture(key);
    if (!picture.isNull())
        return picture;
    const int side = static_cast<int>(std::ceil((kPlotMarkSize + 4) * dpr));
    picture = QPixmap(side, side);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(colour);
    const qreal centre = side / dpr / 2;
    p.drawPath(MarkPath(gnss, QPointF(centre, centre)));
    p.end();
    cache.Keep(key, picture);
    return picture;
}

} // namespace

QString SatLabel(Gnss gnss, int sv) {
    static const char kLetters[kGnssCount] = {'G', 'S', 'R', 'E', 'C', 'J', 'I'};
    const auto g = static_cast<std::size_t>(gnss);
    return QLatin1Char(g < kGnssCount ? kLetters[g] : '?') + QString::number(sv);
}

void DrawSkyPlotGrid(QPainter &painter, const QRectF &area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    const QPointF c = area.center();
    const qreal radius = SkyPlotRadius(area);
    painter.setPen(QPen(QColor(170, 170, 170), 1));
    painter.setBrush(Qt::NoBrush);
    for (int el : {0, 30, 60})
        painter.drawEllipse(c, radius * (90 - el) / 90, radius * (90 - el) / 90);
    painter.drawLine(QPointF(c.x(), c.y() - radius), QPointF(c.x(), c.y() + radius));
    painter.drawLine(QPointF(c.x() - radius, c.y()), QPointF(c.x() + radius, c.y()));
    const QFontMetricsF fm(painter.font());
    painter.setPen(Qt::black);
    const qreal out = radius + 4 + fm.height() / 2;
    const struct {
        const char *name;
        int az;
    } compass[] = {{"N", 0}, {"E", 90}, {"S", 180}, {"W", 270}};
    for (const auto &k : compass) {
        const QPointF p = SkyPlotPosition(0, k.az, c, out);
        const QString t = QString::fromLatin1(k.name);
        painter.drawText(
            QRectF(p.x() - fm.height(), p.y() - fm.height() / 2, 2 * fm.height(), fm.height()),
            Qt::AlignCenter, t);
    }

    painter.restore();
}

int DrawSkyPlot(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale) {
    DrawSkyPlotGrid(painter, area);
    return DrawSkyPlotMarks(painter, area, sky, stale);
}

int DrawSkyPlotMarks(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale,
                     CPaintCache *texts, int *labels) {
    CPaintCache once;
    CPaintCache &cache = texts != nullptr ? *texts : once;
    const qreal dpr = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c = area.center();
    const qreal radius = SkyPlotRadius(area);
    const QFontMetricsF fm(painter.font());
    const std::size_t count = std::min(sky.count, SkyView::kMax);
    std::vector<QRectF> taken;
    taken.reserve(count * 2);
    std::vector<QPointF> at(count);
    int marks = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (!s.hasPosition)
            continue;
        at[i] = SkyPlotPosition(s.el, s.az, c, radius);
        const QPixmap mark = MarkPicture(s.gnss, MarkColour(s, stale), dpr, cache);
        const qreal half = static_cast<qreal>(mark.width()) / dpr / 2;
        painter.drawPixmap(QPointF(std::round((at[i].x() - half) * dpr) / dpr,
                                   std::round((at[i].y() - half) * dpr) / dpr),
                           mark);
        taken.push_back(QRectF(at[i].x() - kPlotMarkSize / 2, at[i].y() - kPlotMarkSize / 2,
                               kPlotMarkSize, kPlotMarkSize));
        ++marks;
    }
    // Labels beside their marks, at the first of eight places that covers nothing drawn yet;
    // in a crowd, at one of eight places a label further out; else where it covers least.
    painter.setPen(stale ? kStaleColour : QColor(Qt::black));
    int drawn = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (!s.hasPosition)
            continue;
        const QString label = SatLabel(s.gnss, s.sv);
        const QSizeF size(cache.Size(painter, label).width() + 2, fm.height());
        std::optional<QRectF> best;
        qreal bestCover = 0;
        for (const qreal d : {kPlotMarkSize / 2 + 1, kPlotMarkSize / 2 + 1 + size.height()}) {
            const QPointF offsets[] = {{d, -size.height() / 2},
                                       {-d - size.width(), -size.height() / 2},
                                       {-size.width() / 2, -d - size.height()},
                                       {-size.width() / 2, d},
                                       {d * 0.7, -d * 0.7 - size.height()},
                                       {-d * 0.7 - size.width(), -d * 0.7 - size.height()},
                                       {d * 0.7, d * 0.7},
                                       {-d * 0.7 - size.width(), d * 0.7}};
            for (const QPointF &o : offsets) {
                const QRectF r(at[i] + o, size);
                if (!area.contains(r))
                    continue;
                qreal cover = 0;
                for (const QRectF &t : taken)
                    if (const QRectF both = t.intersected(r); !both.isEmpty())
                        cover += both.width() * both.height();
                if (!best || cover < bestCover)
                    best = r, bestCover = cover;
                if (cover == 0)
                    break;
            }
            if (best && bestCover == 0)
                break;
        }
        if (best) {
            cache.Draw(painter, *best, Qt::AlignCenter, label);
            taken.push_back(*best);
            ++drawn;
        }
    }
    if (labels != nullptr)
        *labels = drawn;
    painter.restore();
    return marks;
}

int DrawSignalBars(QPainter &painter, const QRectF &area, const SkyView &sky, bool stale,
                   CPaintCache *texts) {
    CPaintCache once;
    CPaintCache &cache = texts != nullptr ? *texts : once;
    painter.save();
    painter.fillRect(area, Qt::white);
    const std::size_t count = std::min(sky.count, SkyView::kMax);
    if (count == 0) {
        painter.restore();
        return 0;
    }
    const QFontMetricsF fm(painter.font());
    // A gap between systems as wide as half a column.
    std::size_t groups = 0;
    for (std::size_t i = 0; i < count; ++i)
        groups += i == 0 || sky.sats[i].gnss != sky.sats[i - 1].gnss;
    const qreal column =
        area.width() / (static_cast<qreal>(count) + 0.5 * static_cast<qreal>(groups));
    const qreal labelH = fm.height() + 2;
    const qreal top = area.top() + fm.height() + 2;
    const qreal base = area.bottom() - labelH;
    const qreal full = std::max<qreal>(1, base - top);
    // 60 dB-Hz fills the height; stronger signals are cut at the top.
    auto height = [&](int snr) { return std::min<qreal>(full, full * snr / 60.0); };
    int segments = 0;
    qreal x = area.left();
    // Where the last label drawn ends: a label with no room beside it is left out.
    qreal labelEnd = area.left() - area.width();
    QRectF lastStrength;
    const qreal gap = fm.averageCharWidth();
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (i == 0 || s.gnss != sky.sats[i - 1].gnss)
            x += column * 0.5;
        const QColor colour = MarkColour(s, stale);
        const QRectF col(x + column * 0.1, top, column * 0.8, full);
        // One segment per signal the receiver reported, else the one strength.
        const std::size_t n = std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals);
        const qreal w = col.width() / static_cast<qreal>(std::max<std::size_t>(n, 1));
        painter.setPen(Qt::NoPen);
        for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k) {
            const int snr = n > 0 ? s.sigs[k].snr : s.snr;
            const qreal h = height(snr);
            painter.setBrush(n > 0 && s.sigs[k].snr == 0 ? kNoSignalColour : colour);
            if (stale)
                painter.setBrush(kStaleColour);
            painter.drawRect(QRectF(col.left() + w * static_cast<qreal>(k), base - h,
                                    std::max<qreal>(1, w - 1), h));
            ++segments;
        }
        painter.setPen(stale ? kStaleColour : QColor(Qt::black));
        const qreal middle = x + column * 0.5;
        const QString label = SatLabel(s.gnss, s.sv);
        const qreal textW = cache.Size(painter, label).width() + 2;
        if (middle - textW / 2 >= labelEnd + gap) {
            const qreal labelW = std::max(column * 1.5, textW);
            cache.Draw(painter, QRectF(middle - labelW / 2, base + 1, labelW, labelH),
                       Qt::AlignHCenter | Qt::AlignTop, label);
            labelEnd = middle + textW / 2;
        }
        if (s.snr > 0) {
            const QString strength = QString::number(s.snr);
            const qreal numberW = cache.Size(painter, strength).width() + 2;
            const QRectF r(middle - numberW / 2, base - height(s.snr) - fm.height() - 1, numberW,
                           fm.height());
            if (!r.adjusted(-gap, 0, gap, 0).intersects(lastStrength)) {
                cache.Draw(painter, r, Qt::AlignHCenter | Qt::AlignBottom, strength);
                lastStrength = r;
            }
        }
        x += column;
    }
    painter.setPen(QColor(170, 170, 170));
    painter.drawLine(QPointF(area.left(), base), QPointF(area.right(), base));
    painter.restore();
    return segments;
}

} // namespace display
