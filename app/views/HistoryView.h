#pragma once

#include "analysis/IntegrityWatch.h"
#include "analysis/SignalHistory.h"

#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

class CGpsPort;
class QComboBox;
class QLabel;

// The signal history: every satellite's signal strength per band, the satellites in view and
// used per system, and the HDOP over the last minutes, with one satellite picked from the list
// or by a click on its line. Refreshed once a second.
class CHistoryView : public QWidget {
    Q_OBJECT

public:
    explicit CHistoryView(const CGpsPort &port, QWidget *parent = nullptr);
    // Takes the history now.
    void Refresh();
    // Picks the satellite of that short name ("G10"); false when the history has none such.
    bool Pick(const QString &name);
    std::optional<SatNumber> Picked() const { return m_picked; }
    // The newest sample's counts and the picked satellite's signals, as shown under the plots.
    QString LatestText() const;
    // The signal-strength plot, in the view's coordinates.
    QRect SignalPlotRect() const;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    class CPlot;
    void ShowTexts();
    int SpanSeconds() const;

    const CGpsPort &m_port;
    SignalHistoryCopy m_history;
    std::vector<AlarmSpan> m_spans; // the watch's alarms, shaded behind the plots
    std::vector<SatNumber> m_satellites;
    std::optional<SatNumber> m_picked;
    CPlot *m_plot = nullptr;
    QComboBox *m_satelliteList = nullptr;
    QComboBox *m_spanList = nullptr;
    QLabel *m_latest = nullptr;
};
