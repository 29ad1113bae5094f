#include "StatusDlg.h"

#include "ControlIds.h"

#include <QWidget>
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
