#include "Canvas.h"
#include "OpeningZoom.h"
#include "QtTestApp.h"
#include "SkyView.h"

#include <QImage>
#include <cstring>
#include <ostream>

// Colours in failure messages as r,g,b.
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << "rgb(" << c.red() << "," << c.green() << "," << c.blue() << ")";
}
inline void PrintTo(const QPoint& p, std::ostream* os) { *os << "(" << p.x() << "," << p.y() << ")"; }

namespace {

constexpr int kGlobe = 155;

GpsFix EmptyFix() {
    GpsFix f;
    std::memset(&f, 0, sizeof f);
    return f;
}

QImage WhiteCanvas() {
    QImage img(240, 268, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

QImage Draw(const GpsFix& fix, ViewMode mode) {
    QImage img = WhiteCanvas();
    CCanvas canvas(&img);
    display::DrawSkyView(canvas, fix, mode, kGlobe, kGlobe);
    return img;
}

QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

int CountColour(const QImage& img, const QRect& area, const QColor& c) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += QColor(img.pixel(x, y)) == c ? 1 : 0;
    return n;
}

struct PlaceRow {
    int elevation, azimuth, x, y;
};

} // namespace

TEST(SkyPosition, WorkedPoints) {
    const PlaceRow rows[] = {
        {90, 0, 77, 77},   {90, 123, 77, 77}, {0, 0, 77, 0},     {0, 90, 154, 77},
        {0, 180, 77, 154}, {0, 270, 0, 77},   {45, 180, 77, 115}, {45, 45, 103, 51},
        // An elevation above 90 lands opposite its bearing.
        {100, 0, 77, 85},
    };
    for (const PlaceRow& r : rows) {
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
    const GpsFix fix = EmptyFix();
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
    GpsFix fix = EmptyFix();
    // Three used by the count; PRN 9 is in the list but beyond it, PRN 12 in it without signal.
    fix.cSatsUsed = 3;
    const std::int8_t used[12] = {5, 12, 17, 9, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(fix.cUsedPrn, used, sizeof used);
    const SatRow rows[] = {
        {5, 90, 40, 0, {77, 77}, display::kUsedColour},
        {17, 45, 35, 180, {77, 115}, display::kUsedColour},
        {9, 45, 30, 45, {103, 51}, display::kTrackedColour},
        {12, 20, 0, 270, {18, 77}, display::kNoSignalColour},
        {25, 30, 20, 90, {128, 77}, display::kTrackedColour},
    };
    int slot = 0;
    for (const SatRow& r : rows) {
        fix.sat[slot].bPrn = static_cast<std::uint8_t>(r.prn);
        fix.sat[slot].bElevation = static_cast<std::uint8_t>(r.elevation);
        fix.sat[slot].bSnr = static_cast<std::uint8_t>(r.snr);
        fix.sat[slot].nAzimuth = static_cast<std::int16_t>(r.azimuth);
        ++slot;
    }
    // Above 32: not drawn, wherever it would sit.
    fix.sat[slot] = SatInfo{33, 0, 45, 0, 0};

    const QImage img = Draw(fix, kViewFull);
    for (const SatRow& r : rows) {
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
    // PRN 33 would have sat at (77, 0): nothing there but white.
    EXPECT_EQ(CountColour(img, QRect(60, 0, 35, 5), Qt::white), 35 * 5);
    // Only the expected colours and no strip below the globe in the full layout.
    EXPECT_EQ(CountColour(img, QRect(0, 170, 240, 98), Qt::white), 240 * 98);
}

TEST_F(SkyViewTest, UsedCountAboveTwelveOrNegativeIsBounded) {
    GpsFix fix = EmptyFix();
    fix.sat[0] = SatInfo{7, 90, 30, 0, 0};
    fix.cUsedPrn[11] = 7;
    fix.cSatsUsed = 40;
    EXPECT_EQ(At(Draw(fix, kViewFull), 77, 84), display::kUsedColour);
    fix.cSatsUsed = -3;
    EXPECT_EQ(At(Draw(fix, kViewFull), 77, 84), display::kTrackedColour);
    fix.cSatsUsed = 11;
    EXPECT_EQ(At(Draw(fix, kViewFull), 77, 84), display::kTrackedColour);
}

TEST_F(SkyViewTest, CompactBarsStandOnTheBoxes) {
    GpsFix fix = EmptyFix();
    fix.cSatsUsed = 1;
    fix.cUsedPrn[0] = 3;
    fix.sat[0] = SatInfo{3, 60, 40, 0, 0};   // used, bar 40 high
    fix.sat[2] = SatInfo{14, 30, 25, 0, 120}; // tracked
    fix.sat[5] = SatInfo{21, 10, 0, 0, 200};  // no signal: no bar
    fix.sat[7] = SatInfo{40, 10, 30, 0, 200}; // above 32: box only
    const QImage img = Draw(fix, kViewCompact);

    struct BarRow {
        int slot, snr;
        QColor colour;
    };
    for (const BarRow& b : {BarRow{0, 40, display::kUsedColour},
                            BarRow{2, 25, display::kTrackedColour}}) {
        const int col = 20 * b.slot;
        const int top = 253 - b.snr;
        EXPECT_EQ(At(img, col + 10, top + 5), b.colour) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 3, top + 5), b.colour) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 10, top), QColor(Qt::black)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 10, top - 1), QColor(Qt::white)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 2, 250), QColor(Qt::black)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 17, 250), QColor(Qt::black)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 18, 250), QColor(Qt::white)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 10, 252), QColor(Qt::black)) << "slot " << b.slot;
        EXPECT_EQ(At(img, col + 10, 253), QColor(Qt::white)) << "slot " << b.slot;
        // The bar is exactly snr pixels high: outline rows top and 252, fill between.
        EXPECT_EQ(CountColour(img, QRect(col + 3, 0, 1, 253), b.colour), b.snr - 2);
        // The PRN label is white inside the black box.
        EXPECT_GT(CountColour(img, QRect(col + 3, 255, 14, 12), Qt::white), 3);
    }
    for (int slot : {5, 7}) {
        const int col = 20 * slot;
        EXPECT_EQ(CountColour(img, QRect(col, 160, 20, 94), Qt::white), 20 * 94) << slot;
        EXPECT_EQ(At(img, col + 2, 254), QColor(Qt::black)) << slot;
    }
    // The no-signal satellite is still drawn red on the globe; PRN 40 is not drawn at all.
    const QPoint red = display::SkyPosition(10, 200, kGlobe, kGlobe);
    EXPECT_EQ(At(img, red.x(), red.y() + 7), display::kNoSignalColour);
}
