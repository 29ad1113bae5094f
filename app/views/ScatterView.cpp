#include "views/ScatterView.h"

#include "GpsPort.h"
#include "ScatterPlot.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

class CScatterView::CPlot : public QWidget {
public:
    explicit CPlot(CScatterView &view) : QWidget(&view), m_view(view) { setMinimumSize(240, 240); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        display::PaintScatter(p, QRectF(rect()), m_view.m_points, m_view.m_stats);
    }

private:
    CScatterView &m_view;
};

CScatterView::CScatterView(const CGpsPort &port, const std::optional<GeoPoint> &reference,
                           QWidget *parent)
    : QWidget(parent, Qt::Window), m_port(port), m_reference(reference) {
    setWindowTitle(QStringLiteral("Skywatch - position scatter"));
    auto *layout = new QVBoxLayout(this);
    m_referenceEdit = new QLineEdit(this);
    m_referenceEdit->setPlaceholderText(QStringLiteral("reference LAT,LON[,ALT]; empty: the mean"));
    if (reference)
        m_referenceEdit->setText(
            QStringLiteral("%1,%2").arg(reference->lat, 0, 'f', 8).arg(reference->lon, 0, 'f', 8) +
            (reference->hasAlt ? QStringLiteral(",%1").arg(reference->alt) : QString()));
    connect(m_referenceEdit, &QLineEdit::editingFinished, this,
            [this] { SetReference(m_referenceEdit->text()); });
    m_plot = new CPlot(*this);
    m_figures = new QLabel(this);
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_referenceEdit);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_figures);
    resize(360, 460);
    Refresh();
    startTimer(1000);
}

bool CScatterView::SetReference(const QString &text) {
    GeoPoint point;
    const bool ok =
        !text.trimmed().isEmpty() && ParseReference(text.trimmed().toStdString(), point);
    m_reference = ok ? std::optional<GeoPoint>(point) : std::nullopt;
    Refresh();
    return ok;
}

void CScatterView::Refresh() {
    m_points = m_port.History().CopyPoints();
    m_stats = ComputePositionStats(m_points, m_reference);
    m_figures->setText(
        display::ScatterFigures(m_stats, m_reference.has_value()).join(QLatin1Char('\n')));
    m_plot->update();
}

QString CScatterView::FiguresText() const {
    return m_figures->text();
}

void CScatterView::timerEvent(QTimerEvent *) {
    if (isVisible())
        Refresh();
}
