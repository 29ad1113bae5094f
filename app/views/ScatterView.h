#pragma once

#include "analysis/FixTrack.h"

#include <QWidget>
#include <optional>
#include <vector>

class CGpsPort;
class QLabel;
class QLineEdit;

// The position scatter: the session's fixes around their mean (or a reference the user types),
// with CEP50 and CEP95 drawn and the figures as text. Refreshed once a second.
class CScatterView : public QWidget {
    Q_OBJECT

public:
    CScatterView(const CGpsPort &port, const std::optional<GeoPoint> &reference,
                 QWidget *parent = nullptr);
    // Takes the fixes and recomputes the figures now.
    void Refresh();
    // The figures as shown, one per line.
    QString FiguresText() const;
    // The reference as typed; false (and the mean as centre) when it does not parse.
    bool SetReference(const QString &text);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    class CPlot;
    const CGpsPort &m_port;
    std::optional<GeoPoint> m_reference;
    std::vector<GeoPoint> m_points;
    PositionStats m_stats;
    CPlot *m_plot = nullptr;
    QLabel *m_figures = nullptr;
    QLineEdit *m_referenceEdit = nullptr;
};
