#include "Canvas.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QRect>
#include <QString>

CCanvas::CCanvas(QPaintDevice* device) : m_painter(device) {
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.setRenderHint(QPainter::TextAntialiasing, false);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    m_painter.setFont(DefaultFont());
    m_nAscent = QFontMetrics(m_painter.font()).ascent();
}

QFont CCanvas::DefaultFont() {
    QFont font;
    // A narrow face where there is one: "359 Degree" has 48 pixels on the small screen.
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), font.defaultFamily()});
    // Eleven pixels fit a PRN inside its 18-pixel circle and a text line into 8 dialog units.
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferVerticalHinting);
    return font;
}

void CCanvas::FillRect(int l, int t, int r, int b, const QColor& colour) {
    if (r > l && b > t)
        m_painter.fillRect(QRect(l, t, r - l, b - t), colour);
}

void CCanvas::BitBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy) {
    if (w <= 0 || h <= 0 || src.isNull())
        return;
    m_painter.setCompositionMode(QPainter::CompositionMode_Source);
    m_painter.drawImage(QPoint(x, y), src, QRect(sx, sy, w, h));
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void CCanvas::StretchBlt(int x, int y, int w, int h, const QImage& src, int sx, int sy, int sw,
                         int sh) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || src.isNull())
        return;
    m_painter.setCompositionMode(QPainter::CompositionMode_Source);
    m_painter.drawImage(QRect(x, y, w, h), src, QRect(sx, sy, sw, sh));
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

QColor CCanvas::SelectBrush(const QColor& colour) {
    QColor old = m_brush;
    m_brush = colour;
    return old;
}

void CCanvas::Rectangle(int l, int t, int r, int b) {
    if (r <= l || b <= t)
        return;
    // The outline is the pen's one-pixel border inside the box; the brush fills the rest.
    m_painter.fillRect(QRect(l, t, r - l, b - t), Qt::black);
    if (r - l > 2 && b - t > 2)
        m_painter.fillRect(QRect(l + 1, t + 1, r - l - 2, b - t - 2), m_brush);
}

void CCanvas::Ellipse(int l, int t, int r, int b) {
    if (r <= l || b <= t)
        return;
    m_painter.setPen(QPen(Qt::black, 1));
    m_painter.setBrush(m_brush);
    // A stroked shape covers its rectangle plus one pixel: r - l - 1 makes it end at r - 1.
    m_painter.drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
    m_painter.setBrush(Qt::NoBrush);
}

void CCanvas::Polygon(const QPoint* points, int n) {
    if (points == nullptr || n < 3)
        return;
    m_painter.setPen(QPen(Qt::black, 1));
    m_painter.setBrush(m_brush);
    m_painter.drawPolygon(points, n);
    m_painter.setBrush(Qt::NoBrush);
}

void CCanvas::TextOut(int x, int y, const QString& text) {
    m_painter.setPen(m_text);
    m_painter.drawText(QPoint(x, y + m_nAscent), text);
}
