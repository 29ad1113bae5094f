#include "AlarmBanner.h"
#include "Canvas.h"
#include "HistoryPlot.h"
#include "OpeningZoom.h"
#include "QtTestSupport.h"
#include "SatTableModel.h"
#include "SkyPlot.h"
#include "SkyView.h"

#include <QImage>
#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <cstring>
#include <ostream>
#include <utility>
#include <vector>

// Colours in failure messages as r,g,b.
inline void PrintTo(const QColor &c, std::ostream *os) {
    *os << "rgb(" << c.red() << "," << c.green() << "," << c.blue() << ")";
}
inline void PrintTo(const QPoint &p, std::ostream *os) {
    *os << "(" << p.x() << "," << p.y() << ")";
}

namespace {

constexpr int kGlobe = 155;

SkyView EmptySky() {
    return SkyView{};
}

// Adds one satellite; the table's copy is sorted by system and number, so callers add in order.
void Add(SkyView &v, Gnss g, int sv, int el, int snr, int az, bool used) {
    SkySat &s = v.sats[v.count++];
    s.gnss = g;
    s.sv = static_cast<std::uint16_t>(sv);
    s.el = static_cast<std::int16_t>(el);
    s.az = static_cast<std::int16_t>(az);
    s.snr = static_cast<std::uint8_t>(snr);
    s.used = used;
    s.hasPosition = true;
}

QImage WhiteCanvas() {
    QImage img(240, 268, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

QImage Draw(const SkyView &fix, ViewMode mode) {
    QImage img = WhiteCanvas();
    CCanvas canvas(&img);
    display::DrawSkyView(canvas, fix, mode, kGlobe, kGlobe);
    return img;
}

QColor At(const QImage &img, int x, int y) {
    return QColor(img.pixel(x, y));
}

struct PlaceRow {
    int elevation, azimuth, x, y;
};

} // namespace

TEST(SkyPosition, WorkedPoints) {
    const PlaceRow rows[] = {
        {90, 0, 77, 77},
        {90, 123, 77, 77},
        {0, 0, 77, 0},
        {0, 90, 154, 77},
        {0, 180, 77, 154},
        {0, 270, 0, 77},
        {45, 180, 77, 115},
        {45, 45, 103, 51},
        // An elevation above 90 lands opposite its bearing.
        {100, 0, 77, 85},
    };
    for (const PlaceRow &r : rows) {
        const QPoint p = display::SkyPosition(r.elevation, r.azimuth, kGlobe, kGlobe);
        EXPECT_EQ(p, QPoint(r.x, r.y)) << "elevation " << r.elevation << " azimuth " << r.azimuth;
    }
}

TEST(OpeningZoom, StepRectangles) {
    EXPECT_EQ(display::ZoomStep(0, kGlobe, kGlobe).size(), QSize(0, 0));
    EXPECT_EQ(display::ZoomStep(1, kGlobe, kGlobe), QRect(71, 71, 7, 7));
    EXPECT_EQ(display::ZoomStep(10, kGlobe, kGlobe), QRect(39, 39, 70, 70));
    EXPECT_EQ(display::ZoomStep(display::kZoomSteps - 1, kGlobe, kGlobe), QRect(1, 1, 147, 147));
    for (int k = 1; k < display::kZoomSteps; ++k) {
        const QRect r = display::ZoomStep(k, kGlobe, kGlobe);
        EXPECT_TRUE(QRect(0, 0, kGlobe, kGlobe).contains(r)) << "step " << k;
        EXPECT_EQ(r.width(), 7 * k);
    }
}

using CanvasTest = QtTest;

TEST_F(CanvasTest, EllipseAndRectangleLeaveOutTheirRightAndBottomEdge) {
    QImage img = WhiteCanvas();
    {
        CCanvas c(&img);
        c.SelectBrush(QColor(0, 0, 255));
        c.Ellipse(100 - 9, 50 - 9, 100 + 9, 50 + 9);
        c.Rectangle(10, 200, 20, 210);
    }
    // The ellipse's row through the centre runs from x-9 to x+8, its column from y-9 to y+8.
    EXPECT_EQ(At(img, 91, 50), QColor(Qt::black));
    EXPECT_EQ(At(img, 108, 50), QColor(Qt::black));
    EXPECT_EQ(At(img, 109, 50), QColor(Qt::white));
    EXPECT_EQ(At(img, 90, 50), QColor(Qt::white));
    EXPECT_EQ(At(img, 100, 41), QColor(Qt::black));
    EXPECT_EQ(At(img, 100, 58), QColor(Qt::black));
    EXPECT_EQ(At(img, 100, 59), QColor(Qt::white));
    EXPECT_EQ(At(img, 100, 50), QColor(0, 0, 255));
    // Rectangle (10,200)-(20,210): outline on 10 and 19, 200 and 209, brush inside.
    EXPECT_EQ(At(img, 10, 205), QColor(Qt::black));
    EXPECT_EQ(At(img, 19, 205), QColor(Qt::black));
    EXPECT_EQ(At(img, 20, 205), QColor(Qt::white));
    EXPECT_EQ(At(img, 15, 209), QColor(Qt::black));
    EXPECT_EQ(At(img, 15, 210), QColor(Qt::white));
    EXPECT_EQ(At(img, 15, 205), QColor(0, 0, 255));
    // No anti-aliasing: only the two fills and the pen's black appear.
    EXPECT_EQ(CountColour(img, img.rect(), Qt::white) + CountColour(img, img.rect(), Qt::black) +
                  CountColour(img, img.rect(), QColor(0, 0, 255)),
              img.width() * img.height());
}

TEST_F(CanvasTest, BlockCopiesAreExactAndStretchScales) {
    QImage src(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.setPixel(x, y, qRgb(x * 60, y * 60, 7));
    QImage img = WhiteCanvas();
    {
        CCanvas c(&img);
        c.BitBlt(10, 10, 3, 2, src, 1, 1);
        c.StretchBlt(100, 100, 8, 8, src, 0, 0, 4, 4);
        c.StretchBlt(50, 50, 0, 0, src, 0, 0, 4, 4);
    }
    EXPECT_EQ(img.pixel(10, 10), src.pixel(1, 1));
    EXPECT_EQ(img.pixel(12, 11), src.pixel(3, 2));
    EXPECT_EQ(img.pixel(13, 10), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(10, 12), qRgb(255, 255, 255));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(img.pixel(100 + x, 100 + y), src.pixel(x / 2, y / 2)) << x << "," << y;
    EXPECT_EQ(img.pixel(50, 50), qRgb(255, 255, 255));
}

using SkyViewTest = QtTest;

TEST_F(SkyViewTest, EmptySnapshotDrawsNoCircleButTheCompactBoxes) {
    const SkyView fix = EmptySky();
    const QImage full = Draw(fix, kViewFull);
    EXPECT_EQ(CountColour(full, full.rect(), Qt::white), full.width() * full.height());
    const QImage compact = Draw(fix, kViewCompact);
    for (int i = 0; i < 12; ++i) {
        const int col = 20 * i;
        EXPECT_EQ(At(compact, col + 2, 254), QColor(Qt::black)) << "slot " << i;
        EXPECT_EQ(At(compact, col + 17, 267), QColor(Qt::black)) << "slot " << i;
        EXPECT_EQ(At(compact, col + 1, 260), QColor(Qt::white)) << "slot " << i;
        EXPECT_EQ(At(compact, col + 18, 260), QColor(Qt::white)) << "slot " << i;
        EXPECT_EQ(At(compact, col + 10, 253), QColor(Qt::white)) << "slot " << i;
    }
    EXPECT_EQ(CountColour(compact, QRect(0, 0, 240, 254), Qt::white), 240 * 254);
}

struct SatRow {
    int prn, elevation, snr, azimuth;
    QPoint centre;
    QColor colour;
};

TEST_F(SkyViewTest, PlacementAndColoursAtTheWorkedPoints) {
    SkyView sky = EmptySky();
    // A used satellite without signal is drawn red.
    const SatRow rows[] = {
        {5, 90, 40, 0, {77, 77}, display::kUsedColour},
        {9, 45, 30, 45, {103, 51}, display::kTrackedColour},
        {12, 20, 0, 270, {18, 77}, display::kNoSignalColour},
        {17, 45, 35, 180, {77, 115}, display::kUsedColour},
        {25, 30, 20, 90, {128, 77}, display::kTrackedColour},
    };
    for (const SatRow &r : rows)
        Add(sky, Gnss::GPS, r.prn, r.elevation, r.snr, r.azimuth,
            r.colour == display::kUsedColour || r.prn == 12);

    const QImage img = Draw(sky, kViewFull);
    for (const SatRow &r : rows) {
        const QPoint c = r.centre;
        EXPECT_EQ(display::SkyPosition(r.elevation, r.azimuth, kGlobe, kGlobe), c);
        // Below the label, inside the circle.
        EXPECT_EQ(At(img, c.x(), c.y() + 7), r.colour) << "PRN " << r.prn;
        EXPECT_EQ(At(img, c.x() - 9, c.y()), QColor(Qt::black)) << "PRN " << r.prn;
        EXPECT_EQ(At(img, c.x() + 8, c.y()), QColor(Qt::black)) << "PRN " << r.prn;
        EXPECT_EQ(At(img, c.x() + 9, c.y()), QColor(Qt::white)) << "PRN " << r.prn;
        // The fill takes most of the circle; white label pixels lie inside it.
        const QRect box(c.x() - 9, c.y() - 9, 18, 18);
        EXPECT_GT(CountColour(img, box, r.colour), 120) << "PRN " << r.prn;
        const QRect inner(c.x() - 7, c.y() - 7, 15, 15);
        EXPECT_GT(CountColour(img, inner, Qt::white), 3) << "label of PRN " << r.prn;
    }
    // Only the expected colours and no strip below the globe in the full layout.
    EXPECT_EQ(CountColour(img, QRect(0, 170, 240, 98), Qt::white), 240 * 98);
    // Over land as green as they are, used marks keep a white ring; the others need none.
    const QColor land(70, 130, 90);
    QImage over(240, 268, QImage::Format_RGB32);
    over.fill(land);
    CCanvas canvas(&over);
    display::DrawSkyView(canvas, sky, kViewFull, kGlobe, kGlobe);
    for (const SatRow &r : rows)
        for (const QPoint &ring : {QPoint(-10, 0), QPoint(0, 10), QPoint(10, 0)})
            EXPECT_EQ(At(over, r.centre.x() + ring.x(), r.centre.y() + ring.y()),
                      r.colour == display::kUsedColour ? QColor(Qt::white) : land)
                << "PRN " << r.prn << " at " << ring.x() << "," << ring.y();
}

// Each system has its own shape: the corners of its 18-pixel box tell them apart.
TEST_F(SkyViewTest, ShapePerSystem) {
    struct ShapeRow {
        Gnss gnss;
        bool cornerFilled; // (x - 8, y - 8): on the square and on the inverted triangle
    };
    const ShapeRow rows[] = {{Gnss::GPS, false},     {Gnss::SBAS, false},   {Gnss::GLONASS, true},
                             {Gnss::Galileo, false}, {Gnss::BeiDou, false}, {Gnss::QZSS, true}};
    std::vector<QImage> shapes;
    for (const ShapeRow &r : rows) {
        SkyView sky = EmptySky();
        Add(sky, r.gnss, 1, 90, 40, 0, false);
        const QImage img = Draw(sky, kViewFull);
        EXPECT_EQ(At(img, 77 - 8, 77 - 8) != QColor(Qt::white), r.cornerFilled) << GnssName(r.gnss);
        EXPECT_GT(CountColour(img, QRect(68, 68, 19, 19), display::kTrackedColour), 60)
            << GnssName(r.gnss);
        shapes.push_back(img);
    }
    for (std::size_t a = 0; a < shapes.size(); ++a)
        for (std::size_t b = a + 1; b < shapes.size(); ++b)
            EXPECT_NE(shapes[a], shapes[b])
                << GnssName(rows[a].gnss) << " vs " << GnssName(rows[b].gnss);
}

// Twelve columns for the twelve strongest, in the table's order (system, then number).
TEST_F(SkyViewTest, CompactBarsShowTheTwelveStrongestInTableOrder) {
    SkyView sky = EmptySky();
    for (int sv = 1; sv <= 10; ++sv)
        Add(sky, Gnss::GPS, sv, 30, 20 + sv, 0, sv == 3);
    for (int sv = 1; sv <= 6; ++sv)
        Add(sky, Gnss::GLONASS, sv, 30, sv == 2 ? 0 : 40 + sv, 90, false);
    const QImage img = Draw(sky, kViewCompact);
    // Strongest twelve: GLONASS 1, 3-6 (41, 43-46) and GPS 4-10 (24-30); GLONASS 2 has no signal.
    const int snrs[12] = {24, 25, 26, 27, 28, 29, 30, 41, 43, 44, 45, 46};
    for (int i = 0; i < 12; ++i) {
        const int col = 20 * i;
        // Bars stop 42 units high, below the text rows.
        const int top = 253 - std::min(snrs[i], 42);
        EXPECT_EQ(At(img, col + 10, top), QColor(Qt::black)) << "column " << i;
        EXPECT_EQ(At(img, col + 10, top - 1), QColor(Qt::white)) << "column " << i;
        EXPECT_EQ(At(img, col + 10, top + 5), display::kTrackedColour) << "column " << i;
        // The centred strength label may cover one pixel of the column.
        EXPECT_NEAR(CountColour(img, QRect(col + 3, 160, 1, 93), display::kTrackedColour),
                    std::min(snrs[i], 42) - 2, 1)
            << "column " << i;
    }
    // "12/16" in the globe's dark corner says that bars are left out; all twelve need no word.
    const auto cornerInk = [](const SkyView &v) {
        QImage dark(240, 268, QImage::Format_RGB32);
        dark.fill(Qt::black);
        CCanvas canvas(&dark);
        display::DrawSkyView(canvas, v, kViewCompact, kGlobe, kGlobe);
        return CountColour(dark, QRect(0, 0, 34, 12), Qt::white);
    };
    EXPECT_GT(cornerInk(sky), 15);
    sky.count = 12;
    EXPECT_EQ(cornerInk(sky), 0);
}

TEST_F(SkyViewTest, ToolTipGivesLegendAndCountsPerSystem) {
    SkyView sky = EmptySky();
    Add(sky, Gnss::GPS, 5, 30, 40, 0, true);
    Add(sky, Gnss::GPS, 7, 30, 40, 0, false);
    Add(sky, Gnss::Galileo, 3, 30, 40, 0, true);
    sky.inView[static_cast<int>(Gnss::GPS)] = 2;
    sky.usedBy[static_cast<int>(Gnss::GPS)] = 1;
    sky.inView[static_cast<int>(Gnss::Galileo)] = 1;
    sky.usedBy[static_cast<int>(Gnss::Galileo)] = 1;
    const QString tip = display::SkyToolTip(sky);
    EXPECT_TRUE(tip.contains("Green: used, blue: tracked, red: no signal")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("GPS (circle): 2 in view, 1 used")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Galileo (diamond): 1 in view, 1 used")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("GLONASS")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("left out")) << tip.toStdString();
    // A full view says what it left out, also of a system none of whose satellites it shows.
    sky.leftOutBy[static_cast<int>(Gnss::GPS)] = 2;
    sky.leftOutBy[static_cast<int>(Gnss::BeiDou)] = 5;
    sky.leftOut = 7;
    const QString full = display::SkyToolTip(sky);
    EXPECT_TRUE(full.contains("GPS (circle): 2 in view, 1 used, 2 left out")) << full.toStdString();
    EXPECT_TRUE(full.contains("BeiDou")) << full.toStdString();
    EXPECT_TRUE(full.contains("0 in view, 0 used, 5 left out")) << full.toStdString();
    EXPECT_TRUE(full.contains("7 more satellites than the view holds (128)")) << full.toStdString();
}

// The desktop sky plot: north up, east right, and a mark on the horizon as whole as the one at
// the zenith, whatever its bearing.
TEST_F(SkyViewTest, SkyPlotKeepsHorizonMarksWhole) {
    const QPointF c(200, 150);
    EXPECT_EQ(display::SkyPlotPosition(90, 123, c, 100), c);
    EXPECT_NEAR(display::SkyPlotPosition(0, 90, c, 100).x(), 300, 1e-9);
    EXPECT_NEAR(display::SkyPlotPosition(0, 0, c, 100).y(), 50, 1e-9);
    EXPECT_NEAR(display::SkyPlotPosition(45, 180, c, 100).y(), 200, 1e-9);
    EXPECT_EQ(display::SatLabel(Gnss::GLONASS, 10), QStringLiteral("R10"));
    EXPECT_EQ(display::SatLabel(Gnss::SBAS, 131), QStringLiteral("S131"));

    const auto usedPixels = [](int el, int az) {
        SkyView sky{};
        sky.count = 1;
        sky.sats[0] =
            SkySat{Gnss::GPS, 7, std::int16_t(el), std::int16_t(az), 40, true, true, {}, 0};
        QImage img(400, 300, QImage::Format_RGB32);
        QPainter p(&img);
        EXPECT_EQ(display::DrawSkyPlot(p, QRectF(img.rect()), sky, false), 1);
        p.end();
        return CountColour(img, img.rect(), display::kUsedColour);
    };
    // However crowded, every mark has its label: no satellite of a cluster goes unnamed.
    for (const int crowd : {1, 3, 9, 16}) {
        SkyView sky{};
        for (int i = 0; i < crowd; ++i)
            sky.sats[sky.count++] = SkySat{Gnss::GLONASS,
                                           std::uint16_t(i + 1),
                                           std::int16_t(40 + i % 2),
                                           100,
                                           40,
                                           true,
                                           true,
                                           {},
                                           0};
        QImage img(400, 300, QImage::Format_RGB32);
        QPainter p(&img);
        display::DrawSkyPlotGrid(p, QRectF(img.rect()));
        int labels = 0;
        EXPECT_EQ(display::DrawSkyPlotMarks(p, QRectF(img.rect()), sky, false, nullptr, &labels),
                  crowd);
        EXPECT_EQ(labels, crowd);
    }

    const int zenith = usedPixels(90, 0);
    EXPECT_GT(zenith, 150);
    for (int az : {0, 90, 180, 270})
        EXPECT_GE(usedPixels(0, az), zenith * 95 / 100) << az;
}

// The bars' satellite labels never run together: where the bars are too narrow for them, some
// are left out; where there is room, every bar has its own.
TEST_F(SkyViewTest, SignalBarLabelsLeaveOutWhatHasNoRoom) {
    SkyView sky = EmptySky();
    for (int sv = 1; sv <= 32; ++sv)
        Add(sky, Gnss::GPS, sv, 30, 40, 0, false);
    for (int sv : {131, 133, 138})
        Add(sky, Gnss::SBAS, sv, 30, 40, 0, false);
    for (int sv = 1; sv <= 6; ++sv)
        Add(sky, Gnss::GLONASS, sv, 30, 40, 0, false);
    const struct {
        int width;
        bool all; // room for every label
    } rows[] = {{300, false}, {700, false}, {1388, false}, {4000, true}};
    for (const auto &row : rows) {
        QImage img(row.width, 150, QImage::Format_RGB32);
        QPainter p(&img);
        display::DrawSignalBars(p, QRectF(img.rect()), sky, false);
        const QFontMetricsF fm(p.font());
        p.end();
        const int widest = qCeil(fm.horizontalAdvance(QStringLiteral("S138"))) + 2;
        // Ink in the label row, as runs of columns; a gap of four columns or less is in a label.
        std::vector<std::pair<int, int>> runs;
        for (int x = 0; x < img.width(); ++x) {
            bool ink = false;
            for (int y = img.height() - qCeil(fm.height()); y < img.height() && !ink; ++y)
                ink = qGray(img.pixel(x, y)) < 128;
            if (ink && !runs.empty() && x - runs.back().second <= 5)
                runs.back().second = x;
            else if (ink)
                runs.emplace_back(x, x);
        }
        for (const auto &[first, last] : runs)
            EXPECT_LE(last - first + 1, widest) << row.width << ": " << first << "-" << last;
        EXPECT_GE(runs.size(), std::size_t(row.width / widest / 3)) << row.width;
        if (row.all) {
            EXPECT_EQ(runs.size(), sky.count) << row.width;
        }
    }
}

// The satellite table gives each signal's tracking state where the receiver sent one (u-blox
// binary messages), one word when a satellite's signals agree, and sorts by the best of them; an
// NMEA receiver's table has no such column.
TEST_F(SkyViewTest, SatTableTracksSignalsOnlyWhereTheReceiverSaysHow) {
    SkyView sky = EmptySky();
    Add(sky, Gnss::GPS, 5, 40, 44, 100, true);
    Add(sky, Gnss::GPS, 7, 20, 30, 200, true);
    Add(sky, Gnss::Galileo, 3, 60, 38, 300, false);
    const auto signal = [](int id, int snr, int quality) {
        return SkySignal{std::uint8_t(id), std::uint8_t(snr), std::int8_t(quality), 0};
    };
    sky.sats[0].sigs[0] = signal(1, 44, 7), sky.sats[0].sigs[1] = signal(6, 31, 4);
    sky.sats[1].sigs[0] = signal(1, 30, 5), sky.sats[1].sigs[1] = signal(6, 0, 5);
    sky.sats[2].sigs[0] = signal(7, 38, -1);
    sky.sats[0].nSigs = sky.sats[1].nSigs = 2, sky.sats[2].nSigs = 1;
    // In view, no signal listed nor heard: no column of its own.
    Add(sky, Gnss::Galileo, 8, 10, 0, 50, false);
    CSatTableModel model;
    model.SetSky(sky, false);
    const int tracking = model.TrackingColumn();
    ASSERT_EQ(model.Bands(), QStringList({"L1 C/A", "L2 CL", "E1"}));
    // The long texts last, after the column that says whether the fix uses the satellite.
    ASSERT_EQ(tracking, 8);
    EXPECT_EQ(model.headerData(tracking, Qt::Horizontal).toString(), QStringLiteral("Tracking"));
    EXPECT_EQ(model.headerData(tracking - 1, Qt::Horizontal).toString(), QStringLiteral("Used"));
    EXPECT_EQ(model.columnCount(), 9);
    const auto column = [&](int c) {
        QStringList out;
        for (int r = 0; r < model.rowCount(); ++r)
            out << model.index(r, c).data().toString();
        return out;
    };
    EXPECT_EQ(column(tracking), QStringList({"carrier lock / code lock", "carrier lock", "", ""}));
    EXPECT_EQ(model.index(0, tracking).data(Qt::ToolTipRole).toString(),
              QStringLiteral("L1 C/A: carrier lock\nL2 CL: code lock"));
    EXPECT_EQ(column(5), QStringList({"31", "-", "", ""}));
    model.sort(tracking, Qt::AscendingOrder);
    EXPECT_EQ(column(1), QStringList({"3", "8", "7", "5"})) << "no state first, then by the best";
    model.sort(-1);

    // The same sky from NMEA: no tracking column, the rest unchanged.
    for (std::size_t i = 0; i < sky.count; ++i)
        for (SkySignal &sig : sky.sats[i].sigs)
            sig.quality = -1;
    model.SetSky(sky, false);
    EXPECT_EQ(model.TrackingColumn(), -1);
    EXPECT_EQ(model.columnCount(), 4 + 3 + 1);
    EXPECT_EQ(model.headerData(7, Qt::Horizontal).toString(), QStringLiteral("Used"));
    EXPECT_EQ(column(5), QStringList({"31", "-", "", ""}));
    // Heard, though no signal of it is listed: its strength has a column of its own, headed as
    // such beside the named signals.
    sky.sats[3].snr = 25;
    model.SetSky(sky, false);
    EXPECT_EQ(model.Bands(), QStringList({"L1 C/A", "L2 CL", "E1", "SNR"}));
    EXPECT_EQ(column(7), QStringList({"", "", "", "25"}));
    EXPECT_EQ(model.headerData(7, Qt::Horizontal).toString(), QStringLiteral("No signal id"));
    // A signal of no band known is named by its signal id.
    sky.sats[2].sigs[1] = signal(12, 33, -1), sky.sats[2].nSigs = 2;
    model.SetSky(sky, false);
    EXPECT_EQ(model.Bands(), QStringList({"L1 C/A", "L2 CL", "E1", "Signal 12", "SNR"}));
    EXPECT_EQ(column(7), QStringList({"", "", "33", ""}));
}

namespace {

// A hundred seconds from 1000 on, one GPS satellite at 40 dB-Hz.
SignalHistoryCopy SteadyHistory() {
    SignalHistoryCopy h;
    for (std::int64_t t = 1000; t <= 1100; ++t) {
        HistorySample s;
        s.time = t;
        s.first = static_cast<std::uint32_t>(h.sigs.size());
        s.count = 1;
        s.hdop = 9;
        s.inView[static_cast<std::size_t>(Gnss::GPS)] = 8;
        s.used[static_cast<std::size_t>(Gnss::GPS)] = 6;
        h.samples.push_back(s);
        h.sigs.push_back(HistorySignal{static_cast<std::uint8_t>(Gnss::GPS) | 0x80, 5, 1, 40});
    }
    return h;
}

// The first and last column of img holding colour c in rows top to bottom, or (-1, -1).
std::pair<int, int> ColumnsOf(const QImage &img, int top, int bottom, const QColor &c) {
    std::pair<int, int> found{-1, -1};
    for (int x = 0; x < img.width(); ++x)
        if (CountColour(img, QRect(x, top, 1, bottom - top + 1), c) > 0)
            found = {found.first < 0 ? x : found.first, x};
    return found;
}

} // namespace

using HistoryPaintTest = QtTest;

// Each alarm's time is shaded in its threat's colour in all three plots, over its own columns
// only; one still going on reaches the newest sample, one outside the shown time shows nowhere.
TEST_F(HistoryPaintTest, AlarmSpansShadeTheirTimeInEveryPlot) {
    const SignalHistoryCopy h = SteadyHistory();
    const struct {
        const char *name;
        std::vector<AlarmSpan> spans;
        std::int64_t jamFrom, jamTo, spoofFrom, spoofTo; // -1: not shown
    } rows[] = {
        {"jamming", {{Threat::Jamming, 1020, 1040}}, 1020, 1040, -1, -1},
        {"both, spoofing going on",
         {{Threat::Spoofing, 1060, -1}, {Threat::Jamming, 1020, 1040}},
         1020,
         1040,
         1060,
         1100},
        {"before the history, and past its end",
         {{Threat::Jamming, 1090, 2000}, {Threat::Spoofing, 900, 950}},
         1090,
         1100,
         -1,
         -1},
        {"none", {}, -1, -1, -1, -1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QImage img(800, 600, QImage::Format_RGB32);
        {
            QPainter p(&img);
            display::PaintHistory(p, QRectF(img.rect()), h, 600, std::nullopt, row.spans);
        }
        // The time axis from the signal plot's frame: its left and right edge.
        const display::HistoryLayout l = display::LayoutHistory(QRectF(img.rect()));
        const auto [left, right] = ColumnsOf(img, qRound(l.signal.center().y()),
                                             qRound(l.signal.center().y()), QColor(150, 150, 150));
        ASSERT_GT(right - left, 600);
        const auto column = [&](std::int64_t t) {
            return left + static_cast<int>((t - 1000) * (right - left) / 100);
        };
        for (const QRectF &plot : {l.signal, l.counts, l.hdop}) {
            const int top = qRound(plot.top()), bottom = qRound(plot.bottom()) - 1;
            for (const auto &[threat, from, to] :
                 {std::tuple{Threat::Jamming, row.jamFrom, row.jamTo},
                  std::tuple{Threat::Spoofing, row.spoofFrom, row.spoofTo}}) {
                const auto [first, last] =
                    ColumnsOf(img, top, bottom, display::HistorySpanColour(threat));
                SCOPED_TRACE(ThreatName(threat));
                if (from < 0) {
                    EXPECT_EQ(first, -1);
                    continue;
                }
                EXPECT_NEAR(first, column(from), 2);
                EXPECT_NEAR(last, column(to), 2);
            }
        }
    }
    EXPECT_NE(display::HistorySpanColour(Threat::Jamming),
              display::HistorySpanColour(Threat::Spoofing));
}

// The banner's lines: active alarms first in the warning colours, an ended one in the quiet ones,
// all grey and marked when data stops, none without an alarm on show; the caption names only the
// active ones.
TEST(AlarmBanner, ActiveFirstEndedQuietGreyWithoutData) {
    const QString jam = QStringLiteral("Jamming from 12:03:41 to 12:05:10 (89 s)");
    const QString spoof = QStringLiteral("Possible spoofing: time 7200 s ahead since 12:06:00");
    const struct {
        const char *name;
        bool jamActive, jamEnded, spoofActive, noData;
        std::vector<std::pair<QString, QColor>> lines;
        QString caption;
        bool learning; // no baseline of the receiver yet
    } rows[] = {
        {"none", false, false, false, false, {}, {}, false},
        {"ended jamming, active spoofing",
         false,
         true,
         true,
         false,
         {{spoof, display::kAlarmBackground}, {jam, display::kEndedBackground}},
         spoof,
         false},
        {"both active",
         true,
         false,
         true,
         false,
         {{jam, display::kAlarmBackground}, {spoof, display::kAlarmBackground}},
         jam + QStringLiteral("; ") + spoof,
         false},
        {"no data",
         false,
         true,
         true,
         true,
         {{spoof + QStringLiteral(" (no data)"), display::kAlarmStaleBackground},
          {jam + QStringLiteral(" (no data)"), display::kAlarmStaleBackground}},
         spoof,
         false},
        {"no baseline yet",
         false,
         true,
         true,
         false,
         {{spoof + QStringLiteral(" (no baseline yet)"), display::kAlarmBackground},
          {jam, display::kEndedBackground}},
         spoof,
         true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        WatchStatus watch;
        watch.learning = row.learning;
        watch.alarms[0] = {row.jamActive, row.jamEnded, jam.toStdString(), 0};
        watch.alarms[1] = {row.spoofActive, false, spoof.toStdString(), 0};
        std::vector<std::pair<QString, QColor>> lines;
        for (const display::BannerLine &line : display::BannerLines(watch, row.noData))
            lines.emplace_back(line.text, line.background);
        EXPECT_EQ(lines, row.lines);
        EXPECT_EQ(display::AlarmCaption(watch), row.caption);
    }
}
