#include "StatusDlg.h"

#include "ControlIds.h"
#include "DialogBuilder.h"
#include "views/DesktopView.h"

#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <array>

namespace {

// Rows 1 to 16 belong to the full layout, rows 17 to 24 to the compact one, in the order the
// controls are shown or hidden.
constexpr std::array<int, 16> kFullIds = {
    ctl::kLongitudeLabel, ctl::kLatitudeLabel, ctl::kDirectionLabel, ctl::kSpeedLabel,
    ctl::kHdopLabel,      ctl::kPdopLabel,     ctl::kAltitudeLabel,  ctl::kValidity,
    ctl::kLongitude,      ctl::kLatitude,      ctl::kCourse,         ctl::kSpeed,
    ctl::kHdop,           ctl::kPdop,          ctl::kAltitude,       ctl::kFixMode};
constexpr std::array<int, 8> kCompactIds = {ctl::kCompactLongitudeLabel, ctl::kCompactLatitudeLabel,
                                            ctl::kCompactPdopLabel,      ctl::kCompactValidity,
                                            ctl::kCompactLongitude,      ctl::kCompactLatitude,
                                            ctl::kCompactPdop,           ctl::kCompactFixMode};

// The controls the desktop layout keeps, in a row under its view.
constexpr std::array<int, 6> kDesktopRowIds = {ctl::kPortList,   ctl::kBaudList,
                                               ctl::kResetList,  ctl::kResetButton,
                                               ctl::kToggleView, ctl::kPortStatus};

} // namespace

void CStatusDlg::ApplyViewMode() {
    if (m_controls && m_desktop) {
        // The desktop layout has its own fields: only the settings row stays.
        for (QWidget *w : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (w == m_desktop)
                continue;
            const int id = CDialogBuilder::ItemId(w);
            const bool inRow =
                std::find(kDesktopRowIds.begin(), kDesktopRowIds.end(), id) != kDesktopRowIds.end();
            if (!inRow)
                w->setVisible(!m_bDesktop);
        }
        m_desktop->setVisible(m_bDesktop);
    }
    if (auto *toggle = qobject_cast<QPushButton *>(GetDlgItem(ctl::kToggleView)))
        toggle->setText(m_bDesktop                ? QStringLiteral("Compact layout")
                        : m_viewMode == kViewFull ? QStringLiteral(">")
                                                  : QStringLiteral("<"));
    if (m_bDesktop) {
        UpdateToolTips();
        return;
    }
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
    if (m_bDesktop) {
        // Leaves the desktop layout for the dialog's compact one at this size; from there the
        // switch goes on to the full layout and back to the desktop.
        m_layoutChoice = LayoutChoice::Compact;
        m_viewMode = kViewCompact;
        Relayout();
        m_redrawAll = 1;
        repaint();
        return;
    }
    if (m_viewMode == kViewCompact && m_layoutChoice == LayoutChoice::Compact) {
        m_layoutChoice = LayoutChoice::Auto;
        if (WantsDesktop()) {
            m_viewMode = kViewFull;
            Relayout();
            return;
        }
    }
    m_viewMode = m_viewMode == kViewFull ? kViewCompact : kViewFull;
    // The fields hold the current values before they show, not placeholders or old values.
    WriteLayoutTexts();
    ApplyViewMode();
    m_redrawAll = 1;
    // At once, not queued: the zoom starts and the new layout's fields are written.
    repaint();
}
