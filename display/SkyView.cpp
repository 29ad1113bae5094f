#include "SkyView.h"

#include "Canvas.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

namespace display {

QPoint SkyPosition(int elevation, int azimuth, int gw, int gh) {
    const int half = gw / 2;
    const int halfH = gh / 2;
    const int r = (90 - elevation) * half / 90;
    // The compass bearing turned into a mathematical angle: 0 at east, counter-clockwise.
    const double theta = (450 - azimuth) * 0.017453292519943295;
    const int x = static_cast<int>(std::trunc(r * std::cos(theta))) + half;
    const int y = halfH - static_cast<int>(std::trunc(r * std::sin(theta)));
    return {x, y};
}

namespace {

const char *ShapeName(Gnss gnss) {
    switch (gnss) {
    case Gnss::GPS:
        return "circle";
    case Gnss::GLONASS:
        return "square";
    case Gnss::Galileo:
        return "diamond";
    case Gnss::BeiDou:
        return "triangle";
    case Gnss::QZSS:
        return "inverted triangle";
    default:
        return "hexagon";
    }
}

// The mark of one satellite, in the 18-pixel box around (x, y) that the GPS circle fills, grown
// by grow pixels all round.
void DrawMark(CCanvas &canvas, Gnss gnss, int x, int y, int grow = 0) {
    const int g = grow;
    // A polygon's corners moved out from the centre by grow pixels.
    const auto out = [&](QPoint *p, int n) {
        for (int i = 0; i < n; ++i)
            p[i] += QPoint(p[i].x() > x ? g : (p[i].x() < x ? -g : 0),
                           p[i].y() > y ? g : (p[i].y() < y ? -g : 0));
    };
    switch (gnss) {
    case Gnss::GPS:
        canvas.Ellipse(x - 9 - g, y - 9 - g, x + 9 + g, y + 9 + g);
        return;
    case Gnss::GLONASS:
        canvas.Rectangle(x - 8 - g, y - 8 - g, x + 8 + g, y + 8 + g);
        return;
    case Gnss::Galileo: {
        QPoint p[] = {{x, y - 9}, {x + 9, y}, {x, y + 9}, {x - 9, y}};
        out(p, 4);
        canvas.Polygon(p, 4);
        return;
    }
    case Gnss::BeiDou: {
        QPoint p[] = {{x, y - 10}, {x + 10, y + 8}, {x - 10, y + 8}};
        out(p, 3);
        canvas.Polygon(p, 3);
        return;
    }
    case Gnss::QZSS: {
        QPoint p[] = {{x - 10, y - 8}, {x + 10, y - 8}, {x, y + 10}};
        out(p, 3);
        canvas.Polygon(p, 3);
        return;
    }
    default: {
        QPoint p[] = {{x - 5, y - 9}, {x + 5, y - 9}, {x + 9, y},
                      {x + 5, y + 9}, {x - 5, y + 9}, {x - 9, y}};
        out(p, 6);
        canvas.Polygon(p, 6);
        return;
    }
    }
}

const QColor &Colour(const SkySat &s) {
    if (s.snr == 0)
        return kNoSignalColour;
    return s.used ? kUsedColour : kTrackedColour;
}

// The tallest compact bar: from y = 211 the strip is free of the text rows.
constexpr int kCompactBarMax = 42;

QChar SystemLetter(Gnss gnss) {
    static const char kLetters[kGnssCount] = {'G', 'S', 'R', 'E', 'C', 'J', 'I'};
    const auto g = static_cast<std::size_t>(gnss);
    return QLatin1Char(kLetters[g < kGnssCount ? g : 0]);
}

// Labels centred on the mark as the one- and two-digit PRNs always were.
int LabelLeft(int x, int sv) {
    return sv < 10 ? x - 3 : (sv < 100 ? x - 7 : x - 10);
}

} // namespace

int DrawSkyView(CCanvas &canvas, const SkyView &sky, ViewMode mode, int gw, int gh, bool stale) {
    const QColor kept = canvas.SelectBrush(Qt::black);
    canvas.SetTextColor(Qt::white);
    const bool compact = mode == kViewCompact;
    const std::size_t count = std::min(sky.count, SkyView::kMax);
    int marks = 0;

    // Used marks ringed in white first: their green is as dark as the land's.
    canvas.SelectBrush(Qt::white);
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (s.hasPosition && !stale && &Colour(s) == &kUsedColour) {
            const QPoint p = SkyPosition(s.el, s.az, gw, gh);
            DrawMark(canvas, s.gnss, p.x(), p.y(), 3);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (!s.hasPosition)
            continue;
        const QPoint p = SkyPosition(s.el, s.az, gw, gh);
        canvas.SelectBrush(stale ? kStaleColour : Colour(s));
        DrawMark(canvas, s.gnss, p.x(), p.y());
        canvas.TextOut(LabelLeft(p.x(), s.sv), p.y() - 8, QString::number(s.sv));
        ++marks;
    }

    if (compact) {
        // The twelve strongest, shown in the table's order so columns keep their places.
        std::vector<std::size_t> order(count);
        for (std::size_t i = 0; i < count; ++i)
            order[i] = i;
        const std::size_t shown = std::min<std::size_t>(12, count);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return sky.sats[a].snr > sky.sats[b].snr;
        });
        std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown));
        for (int i = 0; i < 12; ++i) {
            const int col = 20 * i;
            canvas.SelectBrush(kBoxColour);
            canvas.Rectangle(col + 2, 254, col + 18, 268);
            if (static_cast<std::size_t>(i) >= shown)
                continue;
            const SkySat &s = sky.sats[order[static_cast<std::size_t>(i)]];
            canvas.SelectBrush(stale ? kStaleColour : Colour(s));
            // Strong signals stop below the text rows above the bars.
            canvas.Rectangle(col + 2, 253 - std::min<int>(s.snr, kCompactBarMax), col + 18, 253);
            // "G10", "R10", "S131": the box's 16 units hold the system letter and three digits.
            canvas.TextOutFit(col + 2, 254, 16, SystemLetter(s.gnss) + QString::number(s.sv));
            canvas.TextOutFit(col + 2, 239, 16, QString::number(s.snr));
        }
        // How many of all the bars show, in the globe's corner outside its circle.
        if (count > shown)
            canvas.TextOutFit(0, 0, 34, QStringLiteral("%1/%2").arg(shown).arg(count));
    }
    canvas.SelectBrush(kept);
    return marks;
}

QString SkyToolTip(const SkyView &sky) {
    QString text = QStringLiteral("Green: used, blue: tracked, red: no signal");
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        if (sky.inView[g] == 0 && sky.leftOutBy[g] == 0)
            continue;
        const auto gnss = static_cast<Gnss>(g);
        text += QStringLiteral("\n%1 (%2): %3 in view, %4 used")
                    .arg(QString::fromLatin1(GnssName(gnss)), QString::fromLatin1(ShapeName(gnss)))
                    .arg(sky.inView[g])
                    .arg(sky.usedBy[g]);
        if (sky.leftOutBy[g] != 0)
            text += QStringLiteral(", %1 left out").arg(sky.leftOutBy[g]);
    }
    if (sky.leftOut != 0)
        text += QStringLiteral("\n%1 more satellites than the view holds (%2): the used and the "
                               "strongest are shown")
                    .arg(sky.leftOut)
                    .arg(SkyView::kMax);
    if (sky.count == 0)
        text += QStringLiteral("\nNo satellites in view");
    return text;
}

} // namespace display
