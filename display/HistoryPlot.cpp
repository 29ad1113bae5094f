#include "HistoryPlot.h"

#include "SkyPlot.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace display {

namespace {

// Samples further apart than this (or than two pixel columns) are not joined by a line.
constexpr std::int64_t kGapSeconds = 5;
constexpr int kMaxSnr = 60;

QString ClockText(std::int64_t t, bool seconds) {
    const std::int64_t tod = ((t % 86400) + 86400) % 86400;
    const QString hm = QStringLiteral("%1:%2")
                           .arg(tod / 3600, 2, 10, QLatin1Char('0'))
                           .arg(tod / 60 % 60, 2, 10, QLatin1Char('0'));
    return seconds ? hm + QStringLiteral(":%1").arg(tod % 60, 2, 10, QLatin1Char('0')) : hm;
}

// One plot's frame: the inner rectangle and the time it spans.
struct Axes {
    QRectF inner;
    std::int64_t start = 0, span = 1;
    std::int64_t gap = kGapSeconds;
    const std::vector<AlarmSpan> *alarms = nullptr; // shaded behind the plot
    double X(std::int64_t t) const {
        return inner.left() +
               static_cast<double>(t - start) * (inner.width() - 1) / static_cast<double>(span);
    }
};

// Where an alarm's time lies on the plot, clipped to it: left and right edge, or nothing when
// it lies outside. One that goes on reaches the newest sample.
std::optional<std::pair<double, double>> SpanEdges(const Axes &a, const AlarmSpan &s) {
    const std::int64_t end = a.start + a.span;
    const std::int64_t to = s.to < 0 ? end : std::min(s.to, end);
    if (to < a.start || s.from > end || to < s.from)
        return std::nullopt;
    const double left = a.X(std::max(s.from, a.start));
    return std::pair{left, std::max(a.X(to), left + 1)};
}

Axes MakeAxes(const QRectF &area, const SignalHistoryCopy &h, int spanSeconds) {
    Axes a;
    a.inner = area.adjusted(40, 18, -10, -18);
    if (h.samples.empty())
        return a;
    const std::int64_t end = h.samples.back().time;
    a.start = std::max(end - std::max(spanSeconds, 60), std::min(h.samples.front().time, end - 60));
    a.span = end - a.start;
    a.gap = std::max<std::int64_t>(
        kGapSeconds, 2 * a.span / std::max<std::int64_t>(1, std::lround(a.inner.width())) + 1);
    return a;
}

// The first sample at or after t.
std::size_t FirstFrom(const SignalHistoryCopy &h, std::int64_t t) {
    return static_cast<std::size_t>(
        std::lower_bound(h.samples.begin(), h.samples.end(), t,
                         [](const HistorySample &s, std::int64_t v) { return s.time < v; }) -
        h.samples.begin());
}

// The samples drawn: from the plot's start, the newest in each pixel column.
std::vector<std::size_t> Columns(const SignalHistoryCopy &h, const Axes &a) {
    std::vector<std::size_t> kept;
    const std::size_t from = FirstFrom(h, a.start);
    kept.reserve(std::min<std::size_t>(h.samples.size() - from,
                                       static_cast<std::size_t>(a.inner.width()) + 2));
    for (std::size_t i = from; i < h.samples.size(); ++i)
        if (i + 1 == h.samples.size() ||
            std::floor(a.X(h.samples[i + 1].time)) != std::floor(a.X(h.samples[i].time)))
            kept.push_back(i);
    return kept;
}

// A polyline in pieces of a few dozen points: a wide pen strokes a long zigzag as one
// self-crossing shape, which costs far more than its pieces.
void DrawPolyline(QPainter &p, const QPolygonF &line) {
    constexpr qsizetype kPiece = 32;
    if (line.size() == 1) {
        p.drawPoint(line.front());
        return;
    }
    for (qsizetype at = 0; at + 1 < line.size(); at += kPiece)
        p.drawPolyline(line.constData() + at,
                       static_cast<int>(std::min(kPiece + 1, line.size() - at)));
}

double SnrY(const QRectF &inner, int snr) {
    return inner.bottom() - 1 - std::min(snr, kMaxSnr) * (inner.height() - 1) / kMaxSnr;
}

// The frame, the time grid labelled below, and the value grid every step up to top.
void DrawFrame(QPainter &p, const Axes &a, const QString &title, double top, double step) {
    const QRectF &r = a.inner;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(r, Qt::white);
    if (a.alarms != nullptr)
        for (const AlarmSpan &s : *a.alarms)
            if (const auto edges = SpanEdges(a, s))
                p.fillRect(
                    QRectF(QPointF(edges->first, r.top()), QPointF(edges->second, r.bottom())),
                    HistorySpanColour(s.threat));
    static const int kSteps[] = {10, 30, 60, 120, 300, 600, 900, 1800, 3600};
    const double room = std::max(1.0, r.width() / 70.0);
    int stepT = kSteps[std::size(kSteps) - 1];
    for (int s : kSteps)
        if (static_cast<double>(a.span) / s <= room) {
            stepT = s;
            break;
        }
    const QColor grid(225, 225, 225), text(90, 90, 90);
    for (std::int64_t t = (a.start + stepT - 1) / stepT * stepT; t <= a.start + a.span;
         t += stepT) {
        const double x = a.X(t);
        p.setPen(grid);
        p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        p.setPen(text);
        // Kept inside the plot's width, clear of the value labels and the next plot.
        const double left = std::clamp(x - 40, r.left(), std::max(r.left(), r.right() - 80));
        p.drawText(QRectF(left, r.bottom() + 1, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                   ClockText(t, stepT < 60));
    }
    for (double v = 0; v <= top + 1e-9; v += step) {
        const double y = r.bottom() - v / top * r.height();
        p.setPen(grid);
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
        p.setPen(text);
        p.drawText(QRectF(r.left() - 38, y - 8, 34, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v));
    }
    p.setPen(QColor(150, 150, 150));
    p.drawRect(r);
    p.setPen(Qt::black);
    p.drawText(QRectF(r.left(), r.top() - 17, r.width(), 16), Qt::AlignLeft | Qt::AlignBottom,
               title);
    p.setPen(text);
    p.drawText(QRectF(r.left(), r.top() - 17, r.width(), 16), Qt::AlignRight | Qt::AlignBottom,
               QStringLiteral("UTC"));
}

// Vertical runs of pixels in a 32-bit image, clipped to it.
class CRaster {
public:
    explicit CRaster(QImage &img)
        : m_bits(reinterpret_cast<QRgb *>(img.bits())), m_stride(img.bytesPerLine() / 4),
          m_w(img.width()), m_h(img.height()) {}
    void Run(int x, int y0, int y1, QRgb c) {
        if (x < 0 || x >= m_w)
            return;
        const int a = std::max(0, std::min(y0, y1)), b = std::min(m_h - 1, std::max(y0, y1));
        for (int y = a; y <= b; ++y)
            m_bits[static_cast<std::ptrdiff_t>(y) * m_stride + x] = c;
    }
    // A line from (x0, y0) to (x1, y1), x0 <= x1, as one run per column.
    void Line(int x0, int y0, int x1, int y1, QRgb c) {
        if (x1 <= x0) {
            Run(x1, y0, y1, c);
            return;
        }
        int prev = y0;
        for (int x = x0 + 1; x <= x1; ++x) {
            const int y = y0 + (y1 - y0) * (x - x0) / (x1 - x0);
            Run(x, prev, y, c);
            prev = y;
        }
    }

private:
    QRgb *m_bits;
    std::ptrdiff_t m_stride;
    int m_w, m_h;
};

QRgb Tint(Gnss g) {
    const QColor c = HistorySystemColour(g);
    // Three quarters of the way to white: the lines stay apart from the picked satellite's.
    return qRgb((c.red() + 3 * 255) / 4, (c.green() + 3 * 255) / 4, (c.blue() + 3 * 255) / 4);
}

void PaintSignals(QPainter &p, const Axes &a, const SignalHistoryCopy &h,
                  const std::optional<SatNumber> &picked) {
    DrawFrame(p, a, QStringLiteral("signal strength, dB-Hz"), kMaxSnr, 10);
    const QRect box = a.inner.adjusted(1, 1, 0, 0).toAlignedRect();
    if (h.samples.empty() || box.width() < 2 || box.height() < 2)
        return;
    QImage img(box.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    CRaster raster(img);
    const int w = img.width(), ht = img.height();
    const auto col = [&](std::int64_t t) {
        return static_cast<int>((t - a.start) * (w - 1) / std::max<std::int64_t>(a.span, 1));
    };
    const auto row = [&](int snr) { return ht - 1 - std::min(snr, kMaxSnr) * (ht - 1) / kMaxSnr; };
    // One line per (system, number, signal id): where it was last drawn.
    struct Track {
        int x = 0, y = 0;
        std::int64_t t = -1;
    };
    std::vector<int> slot(kGnssCount * 256 * 16, -1);
    std::vector<Track> tracks;
    QRgb tint[kGnssCount];
    for (std::size_t g = 0; g < kGnssCount; ++g)
        tint[g] = Tint(static_cast<Gnss>(g));
    // The picked satellite's points per band, drawn bold over the others once they are done.
    struct Band {
        std::uint8_t id;
        std::vector<Track> points;
    };
    std::vector<Band> bands;
    for (const std::size_t i : Columns(h, a)) {
        const HistorySample &s = h.samples[i];
        const int x = col(s.time);
        for (std::size_t k = s.first; k < s.first + s.count && k < h.sigs.size(); ++k) {
            const HistorySignal &sig = h.sigs[k];
            const auto g = static_cast<std::size_t>(sig.gnssUsed & 0x7f) % kGnssCount;
            const int y = row(sig.snr);
            if (picked && picked->gnss == sig.System() && picked->sv == sig.sv) {
                auto b = std::find_if(bands.begin(), bands.end(),
                                      [&](const Band &o) { return o.id == sig.id; });
                if (b == bands.end())
                    b = bands.insert(bands.end(), Band{sig.id, {}});
                b->points.push_back(Track{x, y, s.time});
                continue;
            }
            int &index = slot[(g << 12) | (static_cast<std::size_t>(sig.sv) << 4) | (sig.id & 15)];
            if (index < 0) {
                index = static_cast<int>(tracks.size());
                tracks.emplace_back();
            }
            Track &tr = tracks[static_cast<std::size_t>(index)];
            if (tr.t >= 0 && s.time - tr.t <= a.gap)
                raster.Line(tr.x, tr.y, x, y, tint[g]);
            else
                raster.Run(x, y, y, tint[g]);
            tr = Track{x, y, s.time};
        }
    }
    // Bold: the line three pixels high and two wide.
    for (std::size_t n = 0; n < bands.size(); ++n) {
        const QRgb c = HistoryBandColour(n).rgb();
        const std::vector<Track> &pts = bands[n].points;
        for (std::size_t k = 0; k < pts.size(); ++k) {
            const bool joined = k > 0 && pts[k].t - pts[k - 1].t <= a.gap;
            const Track &from = joined ? pts[k - 1] : pts[k];
            for (int dx = 0; dx < 2; ++dx)
                for (int dy = -1; dy <= 1; ++dy)
                    raster.Line(from.x + dx, from.y + dy, pts[k].x + dx, pts[k].y + dy, c);
        }
    }
    p.drawImage(box.topLeft(), img);
    if (!picked)
        return;
    const QString legend = SatLabel(picked->gnss, picked->sv);
    for (std::size_t n = 0; n < bands.size(); ++n) {
        const QString name = QString::fromLatin1(BandName(picked->gnss, bands[n].id));
        const QPointF end =
            QPointF(box.topLeft()) + QPointF(bands[n].points.back().x, bands[n].points.back().y);
        p.setPen(HistoryBandColour(n));
        p.drawText(QRectF(end.x() - 104, end.y() - 20, 100, 16), Qt::AlignRight | Qt::AlignBottom,
                   name.isEmpty() ? legend : name);
    }
}

// A polyline per series, broken at gaps; a level run is one segment, so a count that holds for
// an hour costs two points.
class CSeries {
public:
    explicit CSeries(std::int64_t gap) : m_gap(gap) {}
    void Add(double x, double y, std::int64_t t) {
        if (m_parts.empty() || m_broken || t - m_t > m_gap)
            m_parts.emplace_back();
        m_broken = false;
        QPolygonF &part = m_parts.back();
        const qsizetype n = part.size();
        if (n >= 2 && part[n - 1].y() == y && part[n - 2].y() == y)
            part.back().setX(x);
        else
            part << QPointF(x, y);
        m_t = t;
    }
    void Break() { m_broken = true; }
    void Draw(QPainter &p) const {
        for (const QPolygonF &part : m_parts)
            DrawPolyline(p, part);
    }

private:
    std::vector<QPolygonF> m_parts;
    std::int64_t m_gap;
    std::int64_t m_t = 0;
    bool m_broken = false;
};

double NiceTop(double v, double step) {
    return std::max(step, std::ceil(v / step) * step);
}

void PaintCounts(QPainter &p, const Axes &a, const SignalHistoryCopy &h) {
    const std::size_t from = FirstFrom(h, a.start);
    int most = 0;
    bool any[kGnssCount]{};
    for (std::size_t i = from; i < h.samples.size(); ++i)
        for (std::size_t g = 0; g < kGnssCount; ++g) {
            most = std::max<int>(most, h.samples[i].inView[g]);
            any[g] = any[g] || h.samples[i].inView[g] != 0;
        }
    const double top = NiceTop(most, 5);
    DrawFrame(p, a, QStringLiteral("satellites in view (thin) and used (bold)"), top,
              top > 20 ? 10 : 5);
    const QRectF &r = a.inner;
    const auto y = [&](int n) { return r.bottom() - n / top * r.height(); };
    double legendX = r.left() + 250;
    const std::vector<std::size_t> kept = Columns(h, a);
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        if (!any[g])
            continue;
        CSeries inView(a.gap), used(a.gap);
        for (const std::size_t i : kept) {
            const HistorySample &s = h.samples[i];
            inView.Add(a.X(s.time), y(s.inView[g]), s.time);
            used.Add(a.X(s.time), y(s.used[g]), s.time);
        }
        const QColor c = HistorySystemColour(static_cast<Gnss>(g));
        p.setPen(QPen(c, 1));
        inView.Draw(p);
        p.setPen(QPen(c, 2.5));
        used.Draw(p);
        const QString name = QString::fromLatin1(GnssName(static_cast<Gnss>(g)));
        p.drawText(QRectF(legendX, r.top() - 17, 80, 16), Qt::AlignLeft | Qt::AlignBottom, name);
        legendX += p.fontMetrics().horizontalAdvance(name) + 10;
    }
}

void PaintHdop(QPainter &p, const Axes &a, const SignalHistoryCopy &h) {
    const std::size_t from = FirstFrom(h, a.start);
    int most = 0;
    for (std::size_t i = from; i < h.samples.size(); ++i)
        most = std::max<int>(most, h.samples[i].hdop);
    // Up to 20: a lost fix's 99.9 would flatten the rest.
    const double top = std::min(20.0, NiceTop(most / 10.0, 1.0));
    DrawFrame(p, a, QStringLiteral("HDOP"), top, top > 5 ? 5 : 1);
    const QRectF &r = a.inner;
    CSeries line(a.gap);
    for (const std::size_t i : Columns(h, a)) {
        const HistorySample &s = h.samples[i];
        if (s.hdop < 0) {
            line.Break();
            continue;
        }
        line.Add(a.X(s.time), r.bottom() - std::min(s.hdop / 10.0, top) / top * r.height(), s.time);
    }
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    line.Draw(p);
}

} // namespace

QColor HistorySystemColour(Gnss gnss) {
    static const QColor kColours[kGnssCount] = {
        {30, 90, 200},   // GPS
        {110, 110, 110}, // SBAS
        {200, 40, 40},   // GLONASS
        {20, 150, 70},   // Galileo
        {220, 120, 0},   // BeiDou
        {140, 60, 170},  // QZSS
        {120, 80, 30},   // NavIC
    };
    return kColours[static_cast<std::size_t>(gnss) % kGnssCount];
}

QColor HistoryBandColour(std::size_t band) {
    static const QColor kColours[] = {{200, 0, 110}, {0, 140, 200}, {120, 70, 0}, {0, 0, 0}};
    return kColours[band % std::size(kColours)];
}

QColor HistorySpanColour(Threat threat) {
    return threat == Threat::Jamming ? QColor(255, 222, 222) : QColor(232, 222, 255);
}

QColor HistorySpanInk(Threat threat) {
    return threat == Threat::Jamming ? QColor(170, 30, 30) : QColor(100, 50, 170);
}

HistoryLayout LayoutHistory(const QRectF &area) {
    const double h = area.height();
    HistoryLayout l;
    l.signal = QRectF(area.left(), area.top(), area.width(), h * 0.52);
    l.counts = QRectF(area.left(), l.signal.bottom(), area.width(), h * 0.28);
    l.hdop =
        QRectF(area.left(), l.counts.bottom(), area.width(), area.bottom() - l.counts.bottom());
    return l;
}

std::vector<SatNumber> HistorySatellites(const SignalHistoryCopy &h) {
    std::vector<bool> seen(kGnssCount * 256);
    for (const HistorySignal &s : h.sigs)
        seen[static_cast<std::size_t>(s.gnssUsed & 0x7f) % kGnssCount * 256 + s.sv] = true;
    std::vector<SatNumber> out;
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (seen[i])
            out.push_back(
                SatNumber{static_cast<Gnss>(i / 256), static_cast<std::uint16_t>(i % 256)});
    return out;
}

void PaintHistory(QPainter &painter, const QRectF &area, const SignalHistoryCopy &history,
                  int spanSeconds, const std::optional<SatNumber> &picked,
                  const std::vector<AlarmSpan> &spans) {
    painter.save();
    painter.fillRect(area, QColor(245, 245, 245));
    const HistoryLayout l = LayoutHistory(area);
    const auto axes = [&](const QRectF &plot) {
        Axes a = MakeAxes(plot, history, spanSeconds);
        if (!history.samples.empty())
            a.alarms = &spans;
        return a;
    };
    const Axes signal = axes(l.signal);
    PaintSignals(painter, signal, history, picked);
    PaintCounts(painter, axes(l.counts), history);
    PaintHdop(painter, axes(l.hdop), history);
    // Each alarm named near its top left in the signal plot, over the lines, where it fits.
    if (signal.alarms != nullptr)
        for (const AlarmSpan &s : spans) {
            const auto edges = SpanEdges(signal, s);
            const QString name = QString::fromLatin1(ThreatName(s.threat));
            const int width = painter.fontMetrics().horizontalAdvance(name);
            if (!edges || edges->second - edges->first < width + 6)
                continue;
            painter.setPen(HistorySpanInk(s.threat));
            // A line apiece, so the labels of overlapping alarms stay apart.
            const double y = signal.inner.top() + 1 + 16 * static_cast<int>(s.threat);
            painter.drawText(QRectF(edges->first + 3, y, width + 2, 16),
                             Qt::AlignLeft | Qt::AlignTop, name);
        }
    if (history.samples.empty()) {
        painter.setPen(Qt::darkGray);
        painter.drawText(l.signal, Qt::AlignCenter, QStringLiteral("no time of fix yet"));
    }
    painter.restore();
}

std::optional<SatNumber> PickSatellite(const SignalHistoryCopy &h, const QRectF &signalArea,
                                       int spanSeconds, QPointF at) {
    const Axes a = MakeAxes(signalArea, h, spanSeconds);
    if (h.samples.empty() || !a.inner.contains(at))
        return std::nullopt;
    const double t = static_cast<double>(a.start) + (at.x() - a.inner.left()) /
                                                        (a.inner.width() - 1) *
                                                        static_cast<double>(a.span);
    std::size_t i = FirstFrom(h, static_cast<std::int64_t>(std::ceil(t)));
    if (i == h.samples.size() || (i > 0 && t - static_cast<double>(h.samples[i - 1].time) <
                                               static_cast<double>(h.samples[i].time) - t))
        i = i == 0 ? 0 : i - 1;
    const HistorySample &s = h.samples[i];
    std::optional<SatNumber> best;
    double nearest = 6.0;
    for (std::size_t k = s.first; k < s.first + s.count && k < h.sigs.size(); ++k) {
        const double d = std::fabs(SnrY(a.inner, h.sigs[k].snr) - at.y());
        if (d <= nearest) {
            nearest = d;
            best = SatNumber{h.sigs[k].System(), h.sigs[k].sv};
        }
    }
    return best;
}

QString HistoryLatestText(const SignalHistoryCopy &h) {
    if (h.samples.empty())
        return QStringLiteral("no time of fix yet");
    const HistorySample &s = h.samples.back();
    QStringList parts;
    for (std::size_t g = 0; g < kGnssCount; ++g)
        if (s.inView[g] != 0)
            parts << QStringLiteral("%1 %2 in view, %3 used")
                         .arg(QString::fromLatin1(GnssName(static_cast<Gnss>(g))))
                         .arg(s.inView[g])
                         .arg(s.used[g]);
    parts << (s.hdop >= 0 ? QStringLiteral("HDOP %1").arg(s.hdop / 10.0, 0, 'f', 1)
                          : QStringLiteral("HDOP -"));
    return ClockText(s.time, true) + QStringLiteral(" UTC: ") + parts.join(QStringLiteral("; "));
}

QString HistoryPickedText(const SignalHistoryCopy &h, SatNumber sat) {
    const QString name = SatLabel(sat.gnss, sat.sv);
    if (h.samples.empty())
        return name;
    const HistorySample &s = h.samples.back();
    QStringList bands;
    bool used = false;
    for (std::size_t k = s.first; k < s.first + s.count && k < h.sigs.size(); ++k) {
        const HistorySignal &sig = h.sigs[k];
        if (sig.System() != sat.gnss || sig.sv != sat.sv)
            continue;
        used = used || sig.Used();
        const QString band = QString::fromLatin1(BandName(sat.gnss, sig.id));
        bands << (band.isEmpty() ? QString() : band + QLatin1Char(' ')) +
                     QStringLiteral("%1 dB-Hz").arg(sig.snr);
    }
    if (bands.isEmpty())
        return name + QStringLiteral(": no signal now");
    return name + QStringLiteral(": ") + bands.join(QStringLiteral(", ")) +
           (used ? QStringLiteral("; used") : QStringLiteral("; not used"));
}

} // namespace display
