#include "PaintCache.h"

#include <QPainter>

namespace display {

const QStaticText &CPaintCache::Prepared(const QPainter &painter, const QString &text) {
    if (painter.font() != m_font || m_texts.size() >= kMaxTexts) {
        m_texts.clear();
        m_font = painter.font();
    }
    auto it = m_texts.find(text);
    if (it == m_texts.end()) {
        QStaticText t(text);
        t.setTextFormat(Qt::PlainText);
        t.setPerformanceHint(QStaticText::AggressiveCaching);
        t.prepare(painter.transform(), m_font);
        it = m_texts.insert(text, t);
    }
    return *it;
}

void CPaintCache::Keep(quint64 key, const QPixmap &picture) {
    if (m_pictures.size() >= kMaxTexts)
        m_pictures.clear();
    m_pictures.insert(key, picture);
}

QSizeF CPaintCache::Size(const QPainter &painter, const QString &text) {
    return Prepared(painter, text).size();
}

void CPaintCache::Draw(QPainter &painter, const QRectF &rect, int flags, const QString &text) {
    const QStaticText &t = Prepared(painter, text);
    const QSizeF size = t.size();
    qreal x = rect.left(), y = rect.top();
    if (flags & Qt::AlignRight)
        x = rect.right() - size.width();
    else if (flags & Qt::AlignHCenter)
        x = rect.left() + (rect.width() - size.width()) / 2;
    if (flags & Qt::AlignBottom)
        y = rect.bottom() - size.height();
    else if (flags & Qt::AlignVCenter)
        y = rect.top() + (rect.height() - size.height()) / 2;
    painter.drawStaticText(QPointF(x, y), t);
}

} // namespace display
