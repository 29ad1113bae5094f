#include "StatusDlg.h"

#include <QWidget>
#include <array>

namespace {

// Rows 1 to 16 belong to the full layout, rows 17 to 24 to the compact one, in the order the
// controls are shown or hidden.
constexpr std::array<int, 16> kFullIds = {1022, 1023, 1024, 1027, 1025, 1026, 1028, 1017,
                                          1003, 1004, 1005, 1008, 1006, 1009, 1007, 1010};
constexpr std::array<int, 8> kCompactIds = {1029, 1030, 1031, 1032, 1018, 1019, 1020, 1021};

} // namespace

void CStatusDlg::ApplyViewMode() {
    const bool bFull = m_viewMode == kViewFull;
    for (int id : kFullIds)
        if (QWidget *w = GetDlgItem(id))
            w->setVisible(bFull);
    for (int id : kCompactIds)
        if (QWidget *w = GetDlgItem(id))
            w->setVisible(!bFull);
    UpdateToolTips();
}

void CStatusDlg::OnToggleView() {
    m_viewMode = m_viewMode == kViewFull ? kViewCompact : kViewFull;
    // The fields hold the current values before they show, not placeholders or old values.
    WriteLayoutTexts();
    ApplyViewMode();
    m_redrawAll = 1;
    // At once, not queued: the zoom starts and the new layout's fields are written.
    repaint();
}
