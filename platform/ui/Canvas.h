#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPoint>

class QImage;
class QPaintDevice;
class QString;

// The drawing calls of the window, with the small device's geometry: a rectangle or ellipse
// from (l, t) to (r, b) covers the pixels l..r-1 and t..b-1, outlines are the one-pixel black
// pen, nothing is anti-aliased, block copies move pixels unchanged, text is drawn with a
// transparent background and its top-left corner at the given point.
class CCanvas {
public:
    // Paints on an image (the off-screen canvas) or on a widget inside its paint event.
    explicit CCanvas(QPaintDevice* device);
    CCanvas(const CCanvas&) = delete;
    CCanvas& operator=(const CCanvas&) = delete;

    // The font of every text, on the canvas and in the dialog's controls.
    static QFont DefaultFont();

    void FillRect(int l, int t, int r, int b, const QColor& colour);
    void BitBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy);
    // Scales the source rectangle into the target rectangle (nearest pixel); nothing when either
    // is empty.
    void StretchBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, int sw, int sh);

    // Selects the fill of Rectangle and Ellipse; returns the one it replaces (white at first).
    QColor SelectBrush(const QColor& colour);
    void SetTextColor(const QColor& colour) { m_text = colour; }
    void Rectangle(int l, int t, int r, int b);
    void Ellipse(int l, int t, int r, int b);
    // A filled polygon with the one-pixel black outline, corners in drawing order.
    void Polygon(const QPoint* points, int n);
    void TextOut(int x, int y, const QString& text);

private:
    QPainter m_painter;
    QColor m_brush{Qt::white};
    QColor m_text{Qt::black};
    int m_nAscent = 0;
};
