#pragma once

#include "QtTestSupport.h"
#include "StatusDlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>

// The window tests' one QApplication, on the offscreen platform unless the caller chose another.
class AppTest : public QtTest {};

// Makes the dialog show its record by hand as if every field had come from a live stream.
inline void ShowAsLive(CStatusDlg &dlg) {
    dlg.m_curExtra.sent = display::kSentAll;
    dlg.m_bNoData = false;
}

// The text a control shows: a label's text, a button's, or a drop-down list's selected entry.
inline QString ShownText(const CStatusDlg &dlg, int id) {
    QWidget *w = dlg.GetDlgItem(id);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QStringLiteral("<no control %1>").arg(id);
}

// Every text top and its children put before the user: captions, labels, buttons, fields as
// displayed (a password field's dots), list cells, tooltips and accessible descriptions.
inline QStringList ShownTexts(const QWidget &top) {
    QStringList texts{top.windowTitle()};
    QList<const QWidget *> widgets{&top};
    for (const QWidget *w : top.findChildren<QWidget *>())
        widgets << w;
    for (const QWidget *w : widgets) {
        texts << w->toolTip() << w->accessibleDescription();
        if (const auto *label = qobject_cast<const QLabel *>(w))
            texts << label->text();
        else if (const auto *button = qobject_cast<const QAbstractButton *>(w))
            texts << button->text();
        else if (const auto *edit = qobject_cast<const QLineEdit *>(w))
            texts << edit->displayText();
        else if (const auto *view = qobject_cast<const QAbstractItemView *>(w);
                 view && view->model())
            for (int r = 0; r < view->model()->rowCount(); ++r)
                for (int c = 0; c < view->model()->columnCount(); ++c)
                    for (int role : {Qt::DisplayRole, Qt::ToolTipRole})
                        texts << view->model()->index(r, c).data(role).toString();
    }
    return texts;
}
