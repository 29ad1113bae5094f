#include "views/HistoryView.h"

#include "GpsPort.h"
#include "HistoryPlot.h"
#include "SkyPlot.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

class CHistoryView::CPlot : public QWidget {
public:
    explicit CPlot(CHistoryView &view) : QWidget(&view), m_view(view) { setMinimumSize(360, 320); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        display::PaintHistory(p, QRectF(rect()), m_view.m_history, m_view.SpanSeconds(),
                              m_view.m_picked, m_view.m_spans);
    }
    void mousePressEvent(QMouseEvent *event) override {
        const QRectF area = display::LayoutHistory(QRectF(rect())).signal;
        if (const auto sat = display::PickSatellite(m_view.m_history, area, m_view.SpanSeconds(),
                                                    event->position()))
            m_view.Pick(display::SatLabel(sat->gnss, sat->sv));
    }

private:
    CHistoryView &m_view;
};

CHistoryView::CHistoryView(const CGpsPort &port, QWidget *parent)
    : QWidget(parent, Qt::Window), m_port(port) {
    setWindowTitle(QStringLiteral("Skywatch - signal history"));
    auto *layout = new QVBoxLayout(this);
    auto *controls = new QHBoxLayout;
    m_satelliteList = new QComboBox(this);
    m_satelliteList->setToolTip(QStringLiteral("The satellite drawn bold; a click on a line "
                                               "in the signal plot picks one too"));
    m_satelliteList->addItem(QStringLiteral("no satellite picked"));
    connect(m_satelliteList, &QComboBox::activated, this,
            [this](int index) { Pick(m_satelliteList->itemText(index)); });
    m_spanList = new QComboBox(this);
    for (const char *span : {"last 10 min", "last 30 min", "last 2 h"})
        m_spanList->addItem(QString::fromLatin1(span));
    m_spanList->setCurrentIndex(1);
    connect(m_spanList, &QComboBox::activated, this, [this] { m_plot->update(); });
    controls->addWidget(m_satelliteList);
    controls->addWidget(m_spanList);
    controls->addStretch(1);
    m_plot = new CPlot(*this);
    m_latest = new QLabel(this);
    m_latest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_latest->setWordWrap(true);
    layout->addLayout(controls);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_latest);
    resize(720, 600);
    Refresh();
    startTimer(1000);
}

int CHistoryView::SpanSeconds() const {
    static const int kSpans[] = {600, 1800, 7200};
    return kSpans[std::clamp(m_spanList->currentIndex(), 0, 2)];
}

void CHistoryView::Refresh() {
    m_history = m_port.Signals().Copy();
    m_spans = m_port.CopyWatch().spans;
    std::vector<SatNumber> sats = display::HistorySatellites(m_history);
    const auto same = [](const SatNumber &a, const SatNumber &b) {
        return a.gnss == b.gnss && a.sv == b.sv;
    };
    if (!std::equal(sats.begin(), sats.end(), m_satellites.begin(), m_satellites.end(), same)) {
        m_satellites = std::move(sats);
        m_satelliteList->clear();
        m_satelliteList->addItem(QStringLiteral("no satellite picked"));
        for (const SatNumber &s : m_satellites)
            m_satelliteList->addItem(display::SatLabel(s.gnss, s.sv));
        if (m_picked)
            m_satelliteList->setCurrentText(display::SatLabel(m_picked->gnss, m_picked->sv));
    }
    ShowTexts();
    m_plot->update();
}

bool CHistoryView::Pick(const QString &name) {
    for (const SatNumber &s : m_satellites)
        if (display::SatLabel(s.gnss, s.sv) == name) {
            m_picked = s;
            m_satelliteList->setCurrentText(name);
            ShowTexts();
            m_plot->update();
            return true;
        }
    m_picked.reset();
    m_satelliteList->setCurrentIndex(0);
    ShowTexts();
    m_plot->update();
    return false;
}

void CHistoryView::ShowTexts() {
    QString text = display::HistoryLatestText(m_history);
    if (m_picked)
        text += QLatin1Char('\n') + display::HistoryPickedText(m_history, *m_picked);
    m_latest->setText(text);
}

QString CHistoryView::LatestText() const {
    return m_latest->text();
}

QRect CHistoryView::SignalPlotRect() const {
    return display::LayoutHistory(QRectF(m_plot->rect()))
        .signal.toAlignedRect()
        .translated(m_plot->pos());
}

void CHistoryView::timerEvent(QTimerEvent *) {
    if (isVisible())
        Refresh();
}
