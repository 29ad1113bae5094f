#pragma once

#include "AlarmBanner.h"
#include "NtripClient.h"
#include "TextFields.h"
#include "Units.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/SkyTable.h"

#include <QString>
#include <QWidget>
#include <vector>

class CSatTableModel;
class CViewUnits;
class QMenu;
class QGridLayout;
class QLabel;
class QTableView;

// The desktop layout: a large sky plot with marks of a fixed size, the satellite table, signal
// bars per system and band, and the fix panel. The dialog shows it instead of its own layouts
// when the window is large, and keeps the port controls below it.
class CDesktopView : public QWidget {
public:
    explicit CDesktopView(QWidget *parent = nullptr);

    // One snapshot: the record under the time rule, what the stream set, the sky, the live
    // state in words ("" while live), the corrections.
    void Show(const GpsFix &fix, display::FixFacts facts, const FixExtra &extra, const SkyView &sky,
              const QString &live, const CorrectionStatus &corrections);

    // The zone's name written beside the time ("CEST", "UTC").
    void SetZone(const QString &zone) { m_zone = zone; }
    // The unit choices and the position's copies, for the context menu.
    void AddMenuActions(QMenu &menu) const;
    // The shown position in a format, as the clipboard gets it; "" while none was sent.
    QString PositionText(display::DegreeFormat format) const;

    // The alarm banner across the top: a line per alarm on show, hidden (taking no room) without.
    void ShowAlarms(const std::vector<display::BannerLine> &lines);
    QWidget *Banner() const;

    const CSatTableModel &Model() const { return *m_model; }
    QTableView *Table() const { return m_table; }
    // The value label of the fix panel's row named label, or nullptr.
    QLabel *FixValue(const QString &label) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FitColumns();
    class CBanner;
    class CSkyPlot;
    class CBars;
    class CCells;

    SkyView m_sky{};
    // The last snapshot, shown again when the units change.
    GpsFix m_fix{};
    display::FixFacts m_facts{};
    FixExtra m_extra{};
    QString m_live;
    CorrectionStatus m_corrections;
    QString m_zone;
    CViewUnits *m_units = nullptr;
    bool m_bStale = false;
    CBanner *m_banner = nullptr;
    CSkyPlot *m_plot = nullptr;
    CBars *m_bars = nullptr;
    CSatTableModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QGridLayout *m_fixGrid = nullptr;
    std::vector<QLabel *> m_rowLabels;
    std::vector<QLabel *> m_rowValues;
    std::size_t m_nRows = 0; // rows shown; the receiver's binary messages may add some
    // The widest text of each table column when it was last fitted.
    std::vector<int> m_fitWidths;
};
