#pragma once

#include "DialogTemplate.h"

#include <QRect>
#include <vector>

class QWidget;

// Turns a dialog template into Qt widgets: static texts become labels, buttons push buttons,
// combo boxes drop-down lists filled with the template's list data. Dialog units map linearly
// onto the client size: x_px = x_du * clientWidth / templateWidth, y_px likewise, each edge
// rounded down, so the template's 139 x 150 units fill 240 x 268 pixels.
class CDialogBuilder {
public:
    CDialogBuilder(const dlg::Template& tmpl, int clientWidth, int clientHeight);

    // The pixel rectangle of an item; a combo box gets its closed height, not its list's.
    QRect ItemRect(const dlg::Item& item) const;

    // Creates the controls as children of dialog, in tab order, sizes the dialog's client area
    // and sets its caption, white background and font. Returns the controls in template order.
    std::vector<QWidget*> Build(QWidget& dialog) const;

    // The template identifier a control was built from (dlg::kNoId for none).
    static int ItemId(const QWidget* control);

private:
    int MapX(int du) const { return du * m_nClientW / m_tmpl.w; }
    int MapY(int du) const { return du * m_nClientH / m_tmpl.h; }

    const dlg::Template& m_tmpl;
    int m_nClientW;
    int m_nClientH;
};
