#pragma once

#include "GpsPort.h"
#include "SignalCompare.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/SkyTable.h"

#include <QString>
#include <QWidget>
#include <vector>

class QLabel;
class QStandardItemModel;
class QTableView;

// Two receivers under one sky: the main window's receiver (A) and a second one this view opens
// (B). One sky plot with A's marks and B's rings, each signal's C/N0 from both and A's less B's,
// the median of that per system and band, and each one's fix panel. Refreshed once a second.
class CCompareView : public QWidget {
public:
    // The list entry B is opened on: outside the dialog's list, so Re-set never reopens it.
    static constexpr int kPortB = 9;

    // nameA and nameB title the two sides; B is opened on kPortB (bound by the caller) at nBaud.
    CCompareView(const CGpsPort &portA, const QString &nameA, const QString &nameB, int nBaud,
                 QWidget *parent = nullptr);
    ~CCompareView() override;

    // Takes both receivers' state now.
    void Refresh();
    const std::vector<display::SignalPair> &Pairs() const { return m_pairs; }
    const std::vector<display::BandDifference> &Differences() const { return m_differences; }
    // The medians as shown under the table.
    QString DifferencesText() const;
    const QStandardItemModel &Model() const { return *m_model; }
    const CGpsPort &PortB() const { return m_portB; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    class CPlot;
    struct Side {
        GpsFix fix{};
        FixExtra extra{};
        SkyView sky{};
        bool stale = true;
        QString why; // what the source says is wrong ("Connection refused"), or empty
    };
    static Side Take(const CGpsPort &port);
    QString PanelText(const Side &side, const QString &name) const;
    void FillTable();

    const CGpsPort &m_portA;
    CGpsPort m_portB;
    QString m_nameA, m_nameB;
    QString m_openFailureB; // why B could not be opened; empty once it is
    Side m_a, m_b;
    std::vector<display::SignalPair> m_pairs;
    std::vector<display::BandDifference> m_differences;
    CPlot *m_plot = nullptr;
    QLabel *m_panelA = nullptr;
    QLabel *m_panelB = nullptr;
    QStandardItemModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_medians = nullptr;
};
