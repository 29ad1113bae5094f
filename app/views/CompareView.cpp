#include "views/CompareView.h"

#include "FixPanel.h"
#include "LiveCaption.h"
#include "SkyPlot.h"
#include "TimeRule.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <chrono>

namespace {

// B's rings: a colour no mark state uses.
const QColor kRingColour(0xd0, 0x60, 0x00);

} // namespace

class CCompareView::CPlot : public QWidget {
public:
    explicit CPlot(CCompareView &view) : QWidget(&view), m_view(view) { setMinimumSize(300, 300); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area(rect());
        display::DrawSkyPlotGrid(p, area);
        display::DrawSkyPlotMarks(p, area, m_view.m_a.sky, m_view.m_a.stale);
        // B's satellites ringed where they are; a ring with no mark is one only B hears.
        const QPointF centre = area.center();
        const qreal radius = display::SkyPlotRadius(area);
        const qreal ring = display::kPlotMarkSize / 2 + 5;
        p.setPen(QPen(m_view.m_b.stale ? QColor(Qt::gray) : kRingColour, 2));
        p.setBrush(Qt::NoBrush);
        const SkyView &b = m_view.m_b.sky;
        for (std::size_t i = 0; i < std::min(b.count, SkyView::kMax); ++i) {
            const SkySat &s = b.sats[i];
            if (!s.hasPosition)
                continue;
            const QPointF at = display::SkyPlotPosition(s.el, s.az, centre, radius);
            p.drawEllipse(at, ring, ring);
            if (!HeardByA(s))
                p.drawText(at + QPointF(ring + 2, -ring), display::SatLabel(s.gnss, s.sv));
        }
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(
            area.adjusted(4, 4, -4, -4), Qt::AlignLeft | Qt::AlignBottom,
            QStringLiteral("marks: A, %1\nrings: B, %2").arg(m_view.m_nameA, m_view.m_nameB));
    }

private:
    bool HeardByA(const SkySat &s) const {
        const SkyView &a = m_view.m_a.sky;
        for (std::size_t i = 0; i < std::min(a.count, SkyView::kMax); ++i)
            if (a.sats[i].gnss == s.gnss && a.sats[i].sv == s.sv && a.sats[i].hasPosition)
                return true;
        return false;
    }

    CCompareView &m_view;
};

CCompareView::CCompareView(const CGpsPort &portA, const QString &nameA, const QString &nameB,
                           int nBaud, QWidget *parent)
    : QWidget(parent, Qt::Window), m_portA(portA), m_nameA(nameA), m_nameB(nameB) {
    setWindowTitle(QStringLiteral("Skywatch - %1 and %2 compared").arg(nameA, nameB));
    if (!m_portB.Open(kPortB, nBaud))
        m_openFailureB = QString::fromStdString(m_portB.LastOpenMessage());
    m_plot = new CPlot(*this);
    m_panelA = new QLabel(this);
    m_panelB = new QLabel(this);
    for (QLabel *panel : {m_panelA, m_panelB}) {
        panel->setTextFormat(Qt::RichText);
        panel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    m_model = new QStandardItemModel(0, 6, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("System"), QStringLiteral("No."),
                                        QStringLiteral("Signal"), QStringLiteral("A"),
                                        QStringLiteral("B"), QStringLiteral("A - B")});
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    // In the order the pairs come (system, number, signal) until a header is clicked.
    m_table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_medians = new QLabel(this);
    m_medians->setWordWrap(true);
    m_medians->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *panels = new QHBoxLayout;
    panels->addWidget(m_panelA, 1);
    panels->addWidget(m_panelB, 1);
    auto *right = new QVBoxLayout;
    right->addLayout(panels);
    right->addWidget(m_table, 1);
    right->addWidget(m_medians);
    auto *all = new QHBoxLayout(this);
    all->addWidget(m_plot, 1);
    all->addLayout(right, 1);
    resize(1200, 720);
    Refresh();
    startTimer(1000);
}

CCompareView::~CCompareView() {
    m_portB.Close();
}

CCompareView::Side CCompareView::Take(const CGpsPort &port) {
    Side side;
    port.CopyFix(side.fix, side.extra);
    port.CopySky(side.sky);
    const LinkState link = port.CopyLinkState();
    side.why = QString::fromStdString(port.SourceWarning());
    side.stale = !link.bOpen || link.bReconnecting || !link.bData ||
                 std::chrono::steady_clock::now() - link.lastData >
                     std::chrono::seconds(kSilentAfterSeconds);
    return side;
}

QString CCompareView::PanelText(const Side &side, const QString &name) const {
    GpsFix fix = side.fix;
    display::ApplyTimeRule(fix, display::TimeRule::Utc, 0);
    const std::vector<display::FixRow> rows = display::FixPanelRows(
        fix, display::FixFacts{side.extra.sent, side.stale}, side.extra, side.sky,
        !side.stale          ? QString()
        : side.why.isEmpty() ? QStringLiteral("no data")
                             : side.why,
        CorrectionStatus{}, {{}, QStringLiteral("UTC")});
    QString html = QStringLiteral("<b>%1</b><table>").arg(name.toHtmlEscaped());
    for (const display::FixRow &row : rows)
        html += QStringLiteral("<tr><td>%1&nbsp;&nbsp;</td><td%3>%2</td></tr>")
                    .arg(row.label.toHtmlEscaped(), row.value.toHtmlEscaped(),
                         row.greyed ? QStringLiteral(" style=\"color:gray\"") : QString());
    return html + QStringLiteral("</table>");
}

void CCompareView::Refresh() {
    m_a = Take(m_portA);
    m_b = Take(m_portB);
    m_pairs = display::PairSignals(m_a.sky, m_b.sky);
    m_differences = display::MedianDifferences(m_pairs);
    m_panelA->setText(PanelText(m_a, QStringLiteral("A: ") + m_nameA));
    // B was never opened: its panel says why rather than show empty values.
    m_panelB->setText(m_openFailureB.isEmpty()
                          ? PanelText(m_b, QStringLiteral("B: ") + m_nameB)
                          : QStringLiteral("<b>B: %1</b><br>%2")
                                .arg(m_nameB.toHtmlEscaped(), m_openFailureB.toHtmlEscaped()));
    FillTable();
    m_medians->setText(DifferencesText());
    m_plot->update();
}

void CCompareView::FillTable() {
    // Rebuilt once a second: a few hundred rows at most, and the sort the user chose is kept.
    const int sortColumn = m_table->horizontalHeader()->sortIndicatorSection();
    const Qt::SortOrder order = m_table->horizontalHeader()->sortIndicatorOrder();
    m_model->setRowCount(0);
    const auto number = [](int value) {
        auto *item = new QStandardItem;
        if (value > 0)
            item->setData(value, Qt::DisplayRole);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return item;
    };
    for (const display::SignalPair &p : m_pairs) {
        QList<QStandardItem *> row{new QStandardItem(QString::fromLatin1(GnssName(p.gnss))),
                                   number(p.sv), new QStandardItem(p.band), number(p.a),
                                   number(p.b)};
        auto *difference = new QStandardItem;
        if (p.a > 0 && p.b > 0)
            difference->setData(p.a - p.b, Qt::DisplayRole);
        else
            difference->setText(p.a > 0 ? QStringLiteral("only A") : QStringLiteral("only B"));
        difference->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row << difference;
        m_model->appendRow(row);
    }
    if (sortColumn >= 0 && sortColumn < m_model->columnCount())
        m_model->sort(sortColumn, order);
}

QString CCompareView::DifferencesText() const {
    if (m_differences.empty())
        return QStringLiteral("No signal heard by both yet.");
    QStringList parts;
    for (const display::BandDifference &d : m_differences)
        parts << QStringLiteral("%1 %2 %3 dB (%4)")
                     .arg(QString::fromLatin1(GnssName(d.gnss)), d.band,
                          d.median > 0 ? QStringLiteral("+%1").arg(d.median)
                                       : QString::number(d.median))
                     .arg(d.satellites);
    return QStringLiteral("A less B, median over the satellites both hear: %1")
        .arg(parts.join(QStringLiteral(", ")));
}

void CCompareView::timerEvent(QTimerEvent *) {
    if (isVisible())
        Refresh();
}
