#include "SatTableModel.h"

#include "SkyView.h"

#include <QColor>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <utility>

namespace display {

QString SignalColumn(Gnss gnss, int signalId) {
    const char *name = BandName(gnss, signalId);
    if (name[0] == '\0')
        return QStringLiteral("SNR");
    return std::strcmp(name, "unknown") == 0 ? QStringLiteral("Signal %1").arg(signalId)
                                             : QString::fromLatin1(name);
}

} // namespace display

namespace {

// The best tracking state of a satellite's signals, -1 when none has one.
int BestQuality(const SkySat &s) {
    int best = -1;
    for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k)
        best = std::max<int>(best, s.sigs[k].quality);
    return best;
}

} // namespace

void CSatTableModel::SetSky(const SkyView &sky, bool stale) {
    const std::size_t count = std::min(sky.count, SkyView::kMax);
    QStringList bands;
    bool tracking = false;
    // Where the receiver lists signals, a satellite it lists none of and hears nothing from
    // needs no strength column of its own.
    const bool listsSignals =
        std::any_of(sky.sats, sky.sats + count, [](const SkySat &s) { return s.nSigs > 0; });
    for (std::size_t i = 0; i < count; ++i) {
        const SkySat &s = sky.sats[i];
        if (s.nSigs == 0 && (s.snr > 0 || !listsSignals) && !bands.contains(QStringLiteral("SNR")))
            bands << QStringLiteral("SNR");
        for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k) {
            if (const QString b = display::SignalColumn(s.gnss, s.sigs[k].id); !bands.contains(b))
                bands << b;
            tracking = tracking || s.sigs[k].quality >= 0;
        }
    }
    const bool reshaped = bands != m_bands || tracking != m_bTracking || count != m_sats.size();
    if (reshaped)
        beginResetModel();
    m_sky.assign(sky.sats, sky.sats + count);
    m_sats = m_sky;
    m_bands = bands;
    m_bTracking = tracking;
    SortRows();
    const bool staleChanged = m_bStale != stale;
    m_bStale = stale;
    const int columns = columnCount();
    const std::vector<QString> before = reshaped ? std::vector<QString>() : m_cells;
    FillCells();
    if (reshaped) {
        endResetModel();
        return;
    }
    if (staleChanged) {
        if (count > 0)
            dataChanged(index(0, 0), index(static_cast<int>(count) - 1, columns - 1));
        return;
    }
    // Only the cells whose texts changed are painted again, a run of a row's cells at a time.
    for (std::size_t r = 0; r < count; ++r) {
        int first = -1;
        for (int c = 0; c <= columns; ++c) {
            const std::size_t at =
                r * static_cast<std::size_t>(columns) + static_cast<std::size_t>(c);
            const bool changed = c < columns && m_cells[at] != before[at];
            if (changed && first < 0)
                first = c;
            if (!changed && first >= 0) {
                dataChanged(index(static_cast<int>(r), first), index(static_cast<int>(r), c - 1));
                first = -1;
            }
        }
    }
}

int CSatTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_sats.size());
}

int CSatTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid()
               ? 0
               : kFixedBefore + static_cast<int>(m_bands.size()) + (m_bTracking ? 1 : 0) + 1;
}

int CSatTableModel::TrackingColumn() const {
    return m_bTracking ? UsedColumn() + 1 : -1;
}

int CSatTableModel::UsedColumn() const {
    return kFixedBefore + static_cast<int>(m_bands.size());
}

QString CSatTableModel::TrackingText(const SkySat &s, bool named) const {
    // (band column, word) of each signal with a state, in the band columns' order.
    std::vector<std::pair<int, QString>> states;
    for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k)
        if (const SkySignal &sig = s.sigs[k]; SignalQualityWord(sig.quality)[0] != '\0')
            states.emplace_back(
                static_cast<int>(m_bands.indexOf(display::SignalColumn(s.gnss, sig.id))),
                QString::fromLatin1(SignalQualityWord(sig.quality)));
    std::stable_sort(states.begin(), states.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    const bool agree = std::all_of(states.begin(), states.end(), [&](const auto &st) {
        return st.second == states.front().second;
    });
    if (states.empty() || (agree && !named))
        return states.empty() ? QString() : states.front().second;
    QStringList parts;
    for (const auto &[band, word] : states)
        parts << (named ? m_bands[band] + QStringLiteral(": ") + word : word);
    return parts.join(named ? QStringLiteral("\n") : QStringLiteral(" / "));
}

QString CSatTableModel::Text(int row, int column) const {
    const SkySat &s = m_sats[static_cast<std::size_t>(row)];
    switch (column) {
    case 0:
        return QString::fromLatin1(GnssName(s.gnss));
    case 1:
        return QString::number(s.sv);
    case 2:
        return s.hasPosition ? QString::number(s.el) : QStringLiteral("-");
    case 3:
        return s.hasPosition ? QString::number(s.az) : QStringLiteral("-");
    default:
        break;
    }
    if (column == UsedColumn())
        return s.used ? QStringLiteral("yes") : QString();
    if (column == TrackingColumn())
        return TrackingText(s, false);
    const QString &band = m_bands[column - kFixedBefore];
    if (s.nSigs == 0)
        return band == QLatin1String("SNR") && s.snr > 0 ? QString::number(s.snr) : QString();
    for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k)
        if (display::SignalColumn(s.gnss, s.sigs[k].id) == band)
            return s.sigs[k].snr > 0 ? QString::number(s.sigs[k].snr) : QStringLiteral("-");
    return {};
}

int CSatTableModel::SortValue(const SkySat &s, int column) const {
    switch (column) {
    case 0:
        return static_cast<int>(s.gnss) * 1000 + s.sv;
    case 1:
        return s.sv;
    case 2:
        return s.hasPosition ? s.el : -1;
    case 3:
        return s.hasPosition ? s.az : -1;
    default:
        break;
    }
    if (column == UsedColumn())
        return s.used ? 1 : 0;
    if (column == TrackingColumn())
        return BestQuality(s);
    const QString &band = m_bands[column - kFixedBefore];
    if (s.nSigs == 0)
        return band == QLatin1String("SNR") ? s.snr : -1;
    for (std::size_t k = 0; k < std::min<std::size_t>(s.nSigs, SkySat::kMaxSignals); ++k)
        if (display::SignalColumn(s.gnss, s.sigs[k].id) == band)
            return s.sigs[k].snr;
    return -1;
}

void CSatTableModel::SortRows() {
    if (m_sortColumn < 0 || m_sortColumn >= columnCount())
        return;
    // Stable, so rows that tie keep the system-then-number order.
    std::stable_sort(m_sats.begin(), m_sats.end(), [this](const SkySat &a, const SkySat &b) {
        const int x = SortValue(a, m_sortColumn), y = SortValue(b, m_sortColumn);
        return m_sortOrder == Qt::AscendingOrder ? x < y : x > y;
    });
}

void CSatTableModel::FillCells() {
    const auto columns = static_cast<std::size_t>(columnCount());
    m_cells.resize(m_sats.size() * columns);
    for (std::size_t r = 0; r < m_sats.size(); ++r)
        for (std::size_t c = 0; c < columns; ++c)
            m_cells[r * columns + c] = Text(static_cast<int>(r), static_cast<int>(c));
}

void CSatTableModel::sort(int column, Qt::SortOrder order) {
    beginResetModel();
    m_sortColumn = column;
    m_sortOrder = order;
    m_sats.assign(m_sky.begin(), m_sky.end());
    SortRows();
    FillCells();
    endResetModel();
}

QVariant CSatTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_cells[static_cast<std::size_t>(index.row()) *
                           static_cast<std::size_t>(columnCount()) +
                       static_cast<std::size_t>(index.column())];
    case Qt::TextAlignmentRole:
        return index.column() == 0 || index.column() == TrackingColumn()
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        // Which band each word of the tracking cell is.
        if (index.column() == TrackingColumn())
            return TrackingText(m_sats[static_cast<std::size_t>(index.row())], true);
        return {};
    case Qt::ForegroundRole:
        if (m_bStale)
            return display::kStaleColour;
        return {};

    default:
        return {};
    }
}

QVariant CSatTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    // Beside named signals, strengths whose sentence named none are headed as such: "SNR" there
    // reads as a measure apart from the bands.
    const bool unnamed = section >= kFixedBefore && section - kFixedBefore < m_bands.size() &&
                         m_bands[section - kFixedBefore] == QLatin1String("SNR") &&
                         m_bands.size() > 1;
    if (role == Qt::ToolTipRole && unnamed)
        return QStringLiteral("Strengths from sentences that name no signal; usually the "
                              "system's first signal (L1 C/A, G1, E1, B1I)");
    // Over its cells, which the columns' share of a wide pane moves apart from a centred head.
    if (role == Qt::TextAlignmentRole)
        return section == 0 || section == TrackingColumn()
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    if (unnamed)
        return QStringLiteral("No signal id");
    static const char *const kFixed[kFixedBefore] = {"System", "No.", "Elev.", "Azim."};
    if (section < kFixedBefore)
        return QString::fromLatin1(kFixed[section]);
    if (section == UsedColumn())
        return QStringLiteral("Used");
    if (section == TrackingColumn())
        return QStringLiteral("Tracking");
    if (section - kFixedBefore < m_bands.size())
        return m_bands[section - kFixedBefore];
    return {};
}
