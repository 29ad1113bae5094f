#pragma once

#include "DialogTemplate.h"

#include <QFont>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <vector>

class QWidget;

// Turns a dialog template into Qt widgets: static texts become labels, buttons push buttons,
// combo boxes drop-down lists filled with the template's list data. Dialog units map linearly
// onto the client size: x_px = x_du * clientWidth / templateWidth, y_px likewise, each edge
// rounded down, so the template's 139 x 150 units fill 240 x 268 pixels.
class CDialogBuilder {
public:
    CDialogBuilder(const dlg::Template &tmpl, int clientWidth, int clientHeight);

    // The pixel rectangle of an item; a combo box gets its closed height, not its list's.
    QRect ItemRect(const dlg::Item &item) const;

    // Creates the controls as children of dialog, in tab order, sizes the dialog's client area
    // and sets its caption, white background and font. Returns the controls in template order.
    std::vector<QWidget *> Build(QWidget &dialog) const;

    // Lays the controls Build returned out over a client area zoom times the template's size
    // with its top-left corner at origin, and gives the dialog the largest font, up to zoom times
    // the default one, at which every control's texts fit its width: the template text, the list
    // entries and the texts widest[id] (the widest values the control will show).
    QFont Place(QWidget &dialog, const std::vector<QWidget *> &controls, qreal zoom, QPoint origin,
                const QHash<int, QStringList> &widest) const;

    // The width a control has for its text (a label's, a button's, a list's closed entry).
    static int TextRoom(const QWidget *control);

    // The template identifier a control was built from (dlg::kNoId for none).
    static int ItemId(const QWidget *control);

private:
    int MapX(int du) const { return du * m_nClientW / m_tmpl.w; }
    int MapY(int du) const { return du * m_nClientH / m_tmpl.h; }
    QRect ItemRect(const dlg::Item &item, qreal zoom) const;

    const dlg::Template &m_tmpl;
    int m_nClientW;
    int m_nClientH;
};
