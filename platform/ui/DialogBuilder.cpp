#include "DialogBuilder.h"

#include "Canvas.h"

#include <QComboBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QVariant>
#include <QWidget>

namespace {

// A closed drop-down list is one text line high; the template gives the dropped-down height.
constexpr int kComboClosedHeightDu = 12;
constexpr const char* kIdProperty = "dlgItemId";

} // namespace

CDialogBuilder::CDialogBuilder(const dlg::Template& tmpl, int clientWidth, int clientHeight)
    : m_tmpl(tmpl), m_nClientW(clientWidth), m_nClientH(clientHeight) {}

QRect CDialogBuilder::ItemRect(const dlg::Item& item) const {
    const int h = item.kind == dlg::Kind::ComboBox ? kComboClosedHeightDu : item.h;
    const int l = MapX(item.x), t = MapY(item.y);
    return {l, t, MapX(item.x + item.w) - l, MapY(item.y + h) - t};
}

std::vector<QWidget*> CDialogBuilder::Build(QWidget& dialog) const {
    dialog.setWindowTitle(QString::fromUtf8(m_tmpl.caption));
    dialog.setFont(CCanvas::DefaultFont());
    QPalette pal = dialog.palette();
    pal.setColor(QPalette::Window, Qt::white);
    dialog.setPalette(pal);
    dialog.setAutoFillBackground(true);
    dialog.setFixedSize(m_nClientW, m_nClientH);

    std::vector<QWidget*> controls;
    controls.reserve(m_tmpl.items.size());
    for (const dlg::Item& item : m_tmpl.items) {
        const QString text = QString::fromUtf8(item.text);
        QWidget* w = nullptr;
        switch (item.kind) {
        case dlg::Kind::Static: {
            auto* label = new QLabel(text, &dialog);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setTextFormat(Qt::PlainText);
            // Opaque like the small device's static controls, which cover what the dialog
            // painted beneath them; a new text then repaints only the label.
            label->setAutoFillBackground(true);
            w = label;
            break;
        }
        case dlg::Kind::Button: {
            auto* button = new QPushButton(text, &dialog);
            button->setAutoDefault(false);
            w = button;
            break;
        }
        case dlg::Kind::ComboBox: {
            auto* combo = new QComboBox(&dialog);
            combo->setEditable(false);
            for (const dlg::List& list : m_tmpl.lists) {
                if (list.id != item.id)
                    continue;
                for (const char* entry : list.entries)
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

int CDialogBuilder::ItemId(const QWidget* control) {
    const QVariant v = control ? control->property(kIdProperty) : QVariant();
    return v.isValid() ? v.toInt() : dlg::kNoId;
}
