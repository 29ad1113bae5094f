#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPoint>
#include <QPointF>

class QImage;
class QPaintDevice;
class QRectF;
class QString;

// The drawing calls of the window, with the small device's geometry: a rectangle or ellipse
// from (l, t) to (r, b) covers the pixels l..r-1 and t..b-1, outlines are the one-pixel black
// pen, block copies move pixels unchanged, text is drawn with a transparent background and its
// top-left corner at the given point.
//
// Coordinates are always those of the small device (one unit = one of its pixels). Where a unit
// is one device pixel the drawing is the small device's exact pixels, nothing anti-aliased; on
// any other scale (a larger window, a high-density screen, an image with a device pixel ratio)
// the same calls draw smooth shapes and text at the device's full resolution.
class CCanvas {
public:
    // Paints on an image (the off-screen canvas; its device pixel ratio sets the scale) or on a
    // widget inside its paint event.
    explicit CCanvas(QPaintDevice *device);
    // The same, with unit (0, 0) at origin of the device and zoom device units per unit.
    CCanvas(QPaintDevice *device, QPointF origin, qreal zoom);
    CCanvas(const CCanvas &) = delete;
    CCanvas &operator=(const CCanvas &) = delete;

    // The font of every text, on the canvas and in the dialog's controls.
    static QFont DefaultFont();

    // Device pixels per unit (1 on the small device's exact pixels).
    qreal Scale() const { return m_scale; }
    bool IsExact() const { return m_bExact; }

    void FillRect(int l, int t, int r, int b, const QColor &colour);
    // Copies pixels unchanged when the source has the canvas's own scale (its device pixel ratio
    // matches); any other source is scaled to cover w x h units. Source coordinates are units of
    // the source image (its pixels divided by its device pixel ratio).
    void BitBlt(int x, int y, int w, int h, const QImage &src, int sx, int sy);
    // Scales the source rectangle into the target rectangle (nearest pixel on the exact scale,
    // smoothly otherwise); nothing when either is empty.
    void StretchBlt(int x, int y, int w, int h, const QImage &src, int sx, int sy, int sw, int sh);

    // Selects the fill of Rectangle and Ellipse; returns the one it replaces (white at first).
    QColor SelectBrush(const QColor &colour);
    void SetTextColor(const QColor &colour) { m_text = colour; }
    void Rectangle(int l, int t, int r, int b);
    void Ellipse(int l, int t, int r, int b);
    // A filled polygon with the one-pixel black outline, corners in drawing order.
    void Polygon(const QPoint *points, int n);
    void TextOut(int x, int y, const QString &text);
    // Text centred in the w units from x, its font shrunk until it fits them.
    void TextOutFit(int x, int y, int w, const QString &text);

private:
    void Begin();
    // Draws the source pixels srcPx into the device pixels of the target units.
    void Copy(const QRectF &target, const QImage &src, const QRectF &srcPx, bool bScale);

    QPainter m_painter;
    QColor m_brush{Qt::white};
    QColor m_text{Qt::black};
    int m_nAscent = 0;
    qreal m_scale = 1.0;
    bool m_bExact = true;
};
