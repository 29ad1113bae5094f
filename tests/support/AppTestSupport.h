#pragma once

#include "QtTestSupport.h"
#include "StatusDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QString>

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
