#include "DialogBuilder.h"

#include "Canvas.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QVariant>
#include <QWidget>
#include <cmath>

namespace {

// A closed drop-down list is one text line high; the template gives the dropped-down height.
constexpr int kComboClosedHeightDu = 12;
constexpr const char *kIdProperty = "dlgItemId";

} // namespace

CDialogBuilder::CDialogBuilder(const dlg::Template &tmpl, int clientWidth, int clientHeight)
    : m_tmpl(tmpl), m_nClientW(clientWidth), m_nClientH(clientHeight) {}

QRect CDialogBuilder::ItemRect(const dlg::Item &item) const {
    const int h = item.kind == dlg::Kind::ComboBox ? kComboClosedHeightDu : item.h;
    const int l = MapX(item.x), t = MapY(item.y);
    return {l, t, MapX(item.x + item.w) - l, MapY(item.y + h) - t};
}

QRect CDialogBuilder::ItemRect(const dlg::Item &item, qreal zoom) const {
    if (zoom == 1.0)
        return ItemRect(item);
    // Each edge rounded down, as at zoom 1; the small epsilon keeps exact products exact.
    const auto map = [zoom](int du, int client, int tmpl) {
        return static_cast<int>(std::floor(du * (client * zoom) / tmpl + 1e-9));
    };
    const int h = item.kind == dlg::Kind::ComboBox ? kComboClosedHeightDu : item.h;
    const int l = map(item.x, m_nClientW, m_tmpl.w), t = map(item.y, m_nClientH, m_tmpl.h);
    return {l, t, map(item.x + item.w, m_nClientW, m_tmpl.w) - l,
            map(item.y + h, m_nClientH, m_tmpl.h) - t};
}

int CDialogBuilder::TextRoom(const QWidget *control) {
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->contentsRect().width() - 2 * label->margin();
    if (auto *button = qobject_cast<const QPushButton *>(control)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width();
    }
    if (auto *combo = qobject_cast<const QComboBox *>(control)) {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = false;
        opt.frame = combo->hasFrame();
        opt.subControls = QStyle::SC_All;
        // The entry is drawn one pixel in from each side of the edit field.
        return combo->style()
                   ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo)
                   .width() -
               2;
    }
    return control ? control->width() : 0;
}

QFont CDialogBuilder::Place(QWidget &dialog, const std::vector<QWidget *> &controls, qreal zoom,
                            QPoint origin, const QHash<int, QStringList> &widest) const {
    std::vector<QStringList> texts(controls.size());
    for (size_t i = 0; i < controls.size() && i < m_tmpl.items.size(); ++i) {
        const dlg::Item &item = m_tmpl.items[i];
        controls[i]->setGeometry(ItemRect(item, zoom).translated(origin));
        if (auto *combo = qobject_cast<QComboBox *>(controls[i]))
            for (int k = 0; k < combo->count(); ++k)
                texts[i] << combo->itemText(k);
        else if (item.text[0] != '\0')
            texts[i] << QString::fromUtf8(item.text);
        texts[i] += widest.value(item.id);
    }

    QFont font = CCanvas::DefaultFont();
    // Smooth glyphs at every size: without them letters run together at 11 pixels.
    font.setStyleStrategy(QFont::PreferAntialias);
    const int largest = static_cast<int>(std::floor(font.pixelSize() * zoom + 1e-9));
    for (int px = std::max(largest, 1); px >= 1; --px) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        bool fits = true;
        for (size_t i = 0; i < controls.size() && fits; ++i) {
            const int room = TextRoom(controls[i]);
            for (const QString &t : texts[i])
                fits = fits && fm.horizontalAdvance(t) <= room;
        }
        if (fits)
            break;
    }
    dialog.setFont(font);
    return font;
}

std::vector<QWidget *> CDialogBuilder::Build(QWidget &dialog) const {
    dialog.setWindowTitle(QString::fromUtf8(m_tmpl.caption));
    dialog.setFont(CCanvas::DefaultFont());
    QPalette pal = dialog.palette();
    pal.setColor(QPalette::Window, Qt::white);
    dialog.setPalette(pal);
    dialog.setAutoFillBackground(true);
    dialog.resize(m_nClientW, m_nClientH);

    std::vector<QWidget *> controls;
    controls.reserve(m_tmpl.items.size());
    for (const dlg::Item &item : m_tmpl.items) {
        const QString text = QString::fromUtf8(item.text);
        QWidget *w = nullptr;
        switch (item.kind) {
        case dlg::Kind::Static: {
            auto *label = new QLabel(text, &dialog);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setTextFormat(Qt::PlainText);
            // Opaque like the small device's static controls, which cover what the dialog
            // painted beneath them; a new text then repaints only the label.
            label->setAutoFillBackground(true);
            w = label;
            break;
        }
        case dlg::Kind::Button: {
            auto *button = new QPushButton(text, &dialog);
            button->setAutoDefault(false);
            w = button;
            break;
        }
        case dlg::Kind::ComboBox: {
            auto *combo = new QComboBox(&dialog);
            combo->setEditable(false);
            for (const dlg::List &list : m_tmpl.lists) {
                if (list.id != item.id)
                    continue;
                for (const char *entry : list.entries)
                    combo->addItem(QString::fromUtf8(entry));
            }
            combo->setMaxVisibleItems(item.h / kComboClosedHeightDu + 1);
            w = combo;
            break;
        }
        }
        w->setProperty(kIdProperty, item.id);
        if (item.id != dlg::kNoId)
            w->setObjectName(QStringLiteral("dlgItem%1").arg(item.id));
        w->setGeometry(ItemRect(item));
        w->setFocusPolicy((item.style & dlg::kWsTabStop) ? Qt::StrongFocus : Qt::NoFocus);
        w->setVisible((item.style & dlg::kWsVisible) != 0);
        controls.push_back(w);
    }
    return controls;
}

int CDialogBuilder::ItemId(const QWidget *control) {
    const QVariant v = control ? control->property(kIdProperty) : QVariant();
    return v.isValid() ? v.toInt() : dlg::kNoId;
}
