#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QRectF>
#include <QStaticText>
#include <QString>

class QPainter;

namespace display {

// Draws the short texts that come back paint after paint (satellite numbers, strengths, table
// cells) from their kept glyph layout, so a paint of 64 satellites does not shape each text again,
// and keeps pictures that are drawn many times a paint (the sky plot's marks).
class CPaintCache {
public:
    // Like QPainter::drawText(rect, flags, text) for one line: the flags' alignment is used.
    void Draw(QPainter &painter, const QRectF &rect, int flags, const QString &text);
    // The text's advance and height in the painter's font.
    QSizeF Size(const QPainter &painter, const QString &text);
    // The picture kept under key, null until one is kept.
    QPixmap Picture(quint64 key) const { return m_pictures.value(key); }
    void Keep(quint64 key, const QPixmap &picture);

private:
    const QStaticText &Prepared(const QPainter &painter, const QString &text);

    // The bound keeps a stream of ever new texts from growing it without end.
    static constexpr qsizetype kMaxTexts = 2048;
    QFont m_font;
    QHash<QString, QStaticText> m_texts;
    QHash<quint64, QPixmap> m_pictures;
};

} // namespace display
