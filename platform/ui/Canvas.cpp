#include "Canvas.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <cmath>

namespace {

bool IsWhole(qreal v) {
    return std::abs(v - std::round(v)) < 1e-9;
}

QRect DevicePixels(const QRectF &r) {
    const int l = qRound(r.left()), t = qRound(r.top());
    return {l, t, qRound(r.right()) - l, qRound(r.bottom()) - t};
}

} // namespace

CCanvas::CCanvas(QPaintDevice *device) : m_painter(device) {
    Begin();
}

CCanvas::CCanvas(QPaintDevice *device, QPointF origin, qreal zoom) : m_painter(device) {
    m_painter.translate(origin);
    m_painter.scale(zoom, zoom);
    Begin();
}

void CCanvas::Begin() {
    // The device transform holds the device pixel ratio as well as the zoom.
    const QTransform d = m_painter.deviceTransform();
    m_bExact = d.type() <= QTransform::TxTranslate && IsWhole(d.dx()) && IsWhole(d.dy());
    m_scale = m_bExact ? 1.0 : std::sqrt(std::abs(d.determinant()));
    m_painter.setRenderHint(QPainter::Antialiasing, !m_bExact);
    m_painter.setRenderHint(QPainter::TextAntialiasing, !m_bExact);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, !m_bExact);
    QFont font = DefaultFont();
    if (!m_bExact)
        font.setStyleStrategy(QFont::PreferAntialias);
    m_painter.setFont(font);
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

void CCanvas::FillRect(int l, int t, int r, int b, const QColor &colour) {
    if (r > l && b > t)
        m_painter.fillRect(QRect(l, t, r - l, b - t), colour);
}

void CCanvas::Copy(const QRectF &target, const QImage &src, const QRectF &srcPx, bool bScale) {
    const QTransform d = m_painter.deviceTransform();
    QRect dst = DevicePixels(d.mapRect(target));
    QRect from = DevicePixels(srcPx);
    // A copy at the canvas's own scale may differ by a rounded pixel: it stays a plain copy.
    if (!bScale || (std::abs(dst.width() - from.width()) <= 1 &&
                    std::abs(dst.height() - from.height()) <= 1)) {
        const QSize size = dst.size().boundedTo(from.size());
        dst.setSize(size);
        from.setSize(size);
    }
    if (dst.isEmpty() || from.isEmpty())
        return;
    m_painter.save();
    // Device pixels from here on: the world transform undoes the zoom and the pixel ratio.
    m_painter.setWorldTransform(d.inverted() * m_painter.worldTransform());
    m_painter.setCompositionMode(QPainter::CompositionMode_Source);
    m_painter.drawImage(QRectF(dst), src, QRectF(from));
    m_painter.restore();
}

void CCanvas::BitBlt(int x, int y, int w, int h, const QImage &src, int sx, int sy) {
    if (w <= 0 || h <= 0 || src.isNull())
        return;
    const qreal r = src.devicePixelRatio();
    // A source at another scale than the canvas's is scaled to cover the same units.
    const bool bScale = std::abs(r - m_scale) > 1e-6;
    Copy(QRectF(x, y, w, h), src, QRectF(sx * r, sy * r, w * r, h * r), bScale);
}

void CCanvas::StretchBlt(int x, int y, int w, int h, const QImage &src, int sx, int sy, int sw,
                         int sh) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || src.isNull())
        return;
    const qreal r = src.devicePixelRatio();
    Copy(QRectF(x, y, w, h), src, QRectF(sx * r, sy * r, sw * r, sh * r), true);
}

QColor CCanvas::SelectBrush(const QColor &colour) {
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
    if (m_bExact) {
        // A stroked shape covers its rectangle plus one pixel: r - l - 1 makes it end at r - 1.
        m_painter.drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
    } else {
        // The pen straddles its path; half a unit inwards keeps the outline inside l..r.
        m_painter.drawEllipse(QRectF(l + 0.5, t + 0.5, r - l - 1, b - t - 1));
    }
    m_painter.setBrush(Qt::NoBrush);
}

void CCanvas::Polygon(const QPoint *points, int n) {
    if (points == nullptr || n < 3)
        return;
    m_painter.setPen(QPen(Qt::black, 1));
    m_painter.setBrush(m_brush);
    m_painter.drawPolygon(points, n);
    m_painter.setBrush(Qt::NoBrush);
}

void CCanvas::TextOut(int x, int y, const QString &text) {
    m_painter.setPen(m_text);
    m_painter.drawText(QPoint(x, y + m_nAscent), text);
}

void CCanvas::TextOutFit(int x, int y, int w, const QString &text) {
    const QFont kept = m_painter.font();
    QFont font = kept;
    for (int px = kept.pixelSize(); px > 5; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(text) <= w)
            break;
    }
    m_painter.setFont(font);
    m_painter.setPen(m_text);
    const int width = QFontMetrics(font).horizontalAdvance(text);
    m_painter.drawText(QPoint(x + (w - width) / 2, y + m_nAscent), text);
    m_painter.setFont(kept);
}
