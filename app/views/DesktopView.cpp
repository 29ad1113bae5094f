#include "views/DesktopView.h"

#include "FixPanel.h"
#include "PaintCache.h"
#include "SatTableModel.h"
#include "SkyPlot.h"
#include "SkyView.h"
#include "ViewUnits.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

class CDesktopView::CBanner : public QWidget {
public:
    explicit CBanner(QWidget *parent) : QWidget(parent) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAccessibleName(QStringLiteral("Alarms"));
        hide();
    }
    void SetLines(const std::vector<display::BannerLine> &lines) {
        if (lines == m_lines)
            return;
        m_lines = lines;
        QStringList texts;
        for (const display::BannerLine &line : lines)
            texts << line.text;
        // The whole words, where the window cuts a line short.
        setToolTip(texts.join(QLatin1Char('\n')));
        setAccessibleDescription(toolTip());
        FitHeight();
        setVisible(!lines.empty());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        display::DrawBanner(p, QRectF(rect()), m_lines);
    }
    void changeEvent(QEvent *event) override {
        if (event->type() == QEvent::FontChange)
            FitHeight();
        QWidget::changeEvent(event);
    }

private:
    void FitHeight() {
        setFixedHeight(display::BannerLineHeight(fontMetrics()) * static_cast<int>(m_lines.size()));
    }
    std::vector<display::BannerLine> m_lines;
};

class CDesktopView::CSkyPlot : public QWidget {
public:
    explicit CSkyPlot(const CDesktopView &view, QWidget *parent) : QWidget(parent), m_view(view) {
        setMinimumSize(200, 200);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        const qreal dpr = devicePixelRatioF();
        if (m_grid.size() != size() * dpr) {
            m_grid = QPixmap(size() * dpr);
            m_grid.setDevicePixelRatio(dpr);
            QPainter g(&m_grid);
            g.setFont(font());
            display::DrawSkyPlotGrid(g, QRectF(rect()));
        }
        QPainter p(this);
        p.drawPixmap(0, 0, m_grid);
        display::DrawSkyPlotMarks(p, QRectF(rect()), m_view.m_sky, m_view.m_bStale, &m_texts);
    }

private:
    const CDesktopView &m_view;
    display::CPaintCache m_texts;
    // The rings and compass points, drawn once per size.
    QPixmap m_grid;
};

class CDesktopView::CBars : public QWidget {
public:
    explicit CBars(const CDesktopView &view, QWidget *parent) : QWidget(parent), m_view(view) {
        setMinimumHeight(120);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        display::DrawSignalBars(p, QRectF(rect()), m_view.m_sky, m_view.m_bStale, &m_texts);
    }

private:
    const CDesktopView &m_view;
    display::CPaintCache m_texts;
};

// The table's cells: a background and one line of text from the cache. The style's own item
// painting lays out every cell's text again on each paint, most of a 64-row table's paint time.
class CDesktopView::CCells : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette::ColorGroup group =
            (option.state & QStyle::State_Active) != 0 ? QPalette::Active : QPalette::Inactive;
        if (selected)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        else if ((option.features & QStyleOptionViewItem::Alternate) != 0)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::AlternateBase));
        const QVariant colour = index.data(Qt::ForegroundRole);
        painter->setPen(selected           ? option.palette.color(group, QPalette::HighlightedText)
                        : colour.isValid() ? colour.value<QColor>()
                                           : option.palette.color(group, QPalette::Text));
        painter->setFont(option.font);
        const int margin = option.widget != nullptr
                               ? option.widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin,
                                                                     nullptr, option.widget) +
                                     1
                               : 3;
        m_texts.Draw(*painter, QRectF(option.rect.adjusted(margin, 0, -margin, 0)),
                     index.data(Qt::TextAlignmentRole).toInt(), index.data().toString());
        if ((option.state & QStyle::State_HasFocus) != 0 && option.widget != nullptr) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor =
                option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
            option.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter,
                                                  option.widget);
        }
    }

private:
    mutable display::CPaintCache m_texts;
};

CDesktopView::CDesktopView(QWidget *parent) : QWidget(parent) {
    setAutoFillBackground(true);
    m_plot = new CSkyPlot(*this, this);
    m_plot->setToolTip(QStringLiteral("Green: used, blue: tracked, red: no signal, grey: no data; "
                                      "the shape tells the system"));
    m_bars = new CBars(*this, this);
    m_bars->setToolTip(QStringLiteral("Signal strength in dB-Hz, one segment per band"));
    m_model = new CSatTableModel(this);
    m_table = new QTableView(this);
    // Sorted by system then number as the table comes; a click on a header sorts by that column.
    m_table->setModel(m_model);
    m_table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    // The arrow shows once the user sorts: the style's header costs a millisecond a paint with it.
    QHeaderView *header = m_table->horizontalHeader();
    header->setSortIndicatorShown(false);
    // The arrow takes room in every header: the columns are fitted again to keep their texts.
    connect(header, &QHeaderView::sortIndicatorChanged, header, [this, header](int section) {
        header->setSortIndicatorShown(section >= 0);
        FitColumns();
    });
    m_table->setItemDelegate(new CCells(m_table));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    // Columns are fitted when the table changes shape, not measured again every second.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Short cells: no word wrapping or eliding, which lay out every cell's text on each paint.
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideNone);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows told apart by their shade rather than a grid: the grid's two lines a cell cost as
    // much as the cells' texts.
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setAccessibleName(QStringLiteral("Satellites"));
    m_table->viewport()->installEventFilter(this);

    auto *fix = new QWidget(this);
    m_fixGrid = new QGridLayout(fix);
    m_fixGrid->setContentsMargins(0, 0, 0, 0);
    m_fixGrid->setVerticalSpacing(2);
    m_fixGrid->setHorizontalSpacing(12);
    m_fixGrid->setColumnStretch(2, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(fix);
    right->addWidget(m_table, 1);
    auto *top = new QHBoxLayout;
    // Halves: the plot is round, and a dual-band receiver's table is wide.
    top->addWidget(m_plot, 1);
    top->addLayout(right, 1);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(6, 6, 6, 0);
    body->addLayout(top, 1);
    body->addWidget(m_bars);
    // The banner spans the whole width above everything else.
    m_banner = new CBanner(this);
    auto *all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    all->addWidget(m_banner);
    all->addLayout(body, 1);
    m_units = new CViewUnits(
        *this,
        [this] {
            const CorrectionStatus corrections = m_corrections;
            Show(m_fix, m_facts, m_extra, m_sky, m_live, corrections);
        },
        [this](display::DegreeFormat format) { return PositionText(format); });
}

// Fitted to their texts, the columns share what is left of the pane: a table in a third of its
// pane looks cramped, and a stretched last column parts its text from its row.
void CDesktopView::FitColumns() {
    m_table->resizeColumnsToContents();
    QHeaderView *header = m_table->horizontalHeader();
    const int n = header->count();
    int used = 0;
    for (int c = 0; c < n; ++c)
        used += header->sectionSize(c);
    const int spare = m_table->viewport()->width() - used;
    if (n == 0 || spare <= 0)
        return;
    for (int c = 0; c < n; ++c)
        header->resizeSection(c, header->sectionSize(c) + spare / n + (c < spare % n ? 1 : 0));
}

bool CDesktopView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_table->viewport() && event->type() == QEvent::Resize)
        FitColumns();
    return QWidget::eventFilter(watched, event);
}

void CDesktopView::AddMenuActions(QMenu &menu) const {
    m_units->AddTo(menu);
}

QString CDesktopView::PositionText(display::DegreeFormat format) const {
    if ((m_facts.sent & kSentPosition) == 0)
        return {};
    double lat = 0.0, lon = 0.0;
    display::PanelPosition(m_fix, m_extra, lat, lon);
    return display::PositionText(lat, lon, format);
}

void CDesktopView::ShowAlarms(const std::vector<display::BannerLine> &lines) {
    m_banner->SetLines(lines);
}

QWidget *CDesktopView::Banner() const {
    return m_banner;
}

QLabel *CDesktopView::FixValue(const QString &label) const {
    // Rows past the shown ones are hidden and keep their old labels.
    for (std::size_t i = 0; i < m_nRows; ++i)
        if (m_rowLabels[i]->text() == label)
            return m_rowValues[i];
    return nullptr;
}

namespace {

// What the sky plot draws of a satellite: where, which shape and which colour.
bool SamePlot(const SkySat &a, const SkySat &b) {
    return a.gnss == b.gnss && a.sv == b.sv && a.hasPosition == b.hasPosition &&
           (!a.hasPosition || (a.el == b.el && a.az == b.az)) && a.used == b.used &&
           (a.snr == 0) == (b.snr == 0);
}

} // namespace

void CDesktopView::Show(const GpsFix &fix, display::FixFacts facts, const FixExtra &extra,
                        const SkyView &sky, const QString &live,
                        const CorrectionStatus &corrections) {
    // Most epochs only change strengths: the sky plot is painted again when a mark would move
    // or change its look.
    const bool plotChanged =
        facts.stale != m_bStale || sky.count != m_sky.count ||
        !std::equal(sky.sats, sky.sats + std::min(sky.count, SkyView::kMax), m_sky.sats, SamePlot);
    m_sky = sky;
    m_bStale = facts.stale;
    m_fix = fix, m_facts = facts, m_extra = extra, m_live = live;
    if (&corrections != &m_corrections)
        m_corrections = corrections;
    const std::vector<display::FixRow> rows = display::FixPanelRows(
        fix, facts, extra, sky, live, corrections, {m_units->Units(), m_zone});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i >= m_rowLabels.size()) {
            auto *label = new QLabel(m_fixGrid->parentWidget());
            auto *value = new QLabel(m_fixGrid->parentWidget());
            m_fixGrid->addWidget(label, static_cast<int>(i), 0);
            m_fixGrid->addWidget(value, static_cast<int>(i), 1);
            m_rowLabels.push_back(label);
            m_rowValues.push_back(value);
        }
        if (m_rowLabels[i]->text() != rows[i].label)
            m_rowLabels[i]->setText(rows[i].label);
        QLabel *value = m_rowValues[i];
        if (value->text() != rows[i].value)
            value->setText(rows[i].value);
        const QColor colour =
            rows[i].greyed ? display::kStaleColour : palette().color(QPalette::WindowText);
        if (value->palette().color(QPalette::WindowText) != colour) {
            QPalette p = value->palette();
            p.setColor(QPalette::WindowText, colour);
            value->setPalette(p);
        }
    }
    m_nRows = rows.size();
    for (std::size_t i = 0; i < m_rowLabels.size(); ++i) {
        m_rowLabels[i]->setVisible(i < rows.size());
        m_rowValues[i]->setVisible(i < rows.size());
    }
    const int satellites = m_model->rowCount(), tracking = m_model->TrackingColumn();
    const QStringList bands = m_model->Bands();
    m_model->SetSky(sky, facts.stale);
    // Each column's widest text: a system, a number or a tracking state wider than the column
    // was fitted to would run into the next column.
    const QFontMetrics fm = m_table->fontMetrics();
    std::vector<int> widest(static_cast<std::size_t>(m_model->columnCount()), 0);
    for (int c = 0; c < m_model->columnCount(); ++c)
        for (int r = 0; r < m_model->rowCount(); ++r)
            widest[static_cast<std::size_t>(c)] =
                std::max(widest[static_cast<std::size_t>(c)],
                         fm.horizontalAdvance(m_model->index(r, c).data().toString()));
    if (bands != m_model->Bands() || tracking != m_model->TrackingColumn() ||
        satellites != m_model->rowCount() || widest.size() != m_fitWidths.size() ||
        !std::equal(widest.begin(), widest.end(), m_fitWidths.begin(),
                    [](int now, int fitted) { return now <= fitted; })) {
        FitColumns();
        m_fitWidths = widest;
    }
    if (plotChanged)
        m_plot->update();
    m_bars->update();
}
