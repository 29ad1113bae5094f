#pragma once

#include "model/SkyTable.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <vector>

namespace display {
// The column a signal's strength goes in: its band, its signal id where the band is not known,
// or "SNR" where the sentence named no signal.
QString SignalColumn(Gnss gnss, int signalId);
} // namespace display

// The satellites of one sky snapshot as table rows, sorted by system then number: system,
// number, elevation, azimuth, the strength per band (a column per band any satellite was heard
// on; "SNR" for receivers that name no band, "No signal id" for such strengths beside named ones),
// whether the fix uses it and the tracking state of its signals (only when the receiver gives one).
class CSatTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Takes the snapshot; stale greys every row.
    void SetSky(const SkyView &sky, bool stale);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Orders the rows by column (-1: as the sky lists them, by system then number), now and for
    // every snapshot after.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The band columns' headers, in column order.
    const QStringList &Bands() const { return m_bands; }
    // The tracking state's column, or -1 when no signal of the snapshot has one.
    int TrackingColumn() const;

private:
    static constexpr int kFixedBefore = 4; // system, number, elevation, azimuth
    int UsedColumn() const;
    QString Text(int row, int column) const;
    // The words of a satellite's tracking states in the band columns' order, one where they
    // agree; named: each on a line after its band.
    QString TrackingText(const SkySat &s, bool named) const;
    // What a column sorts by: the system's order, numbers as numbers, no signal below any.
    int SortValue(const SkySat &s, int column) const;
    void SortRows();
    void FillCells();

    std::vector<SkySat> m_sky;  // as the snapshot lists them
    std::vector<SkySat> m_sats; // in the rows' order
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    // Every cell's text, made once per snapshot: the view asks for them on every paint.
    std::vector<QString> m_cells;
    QStringList m_bands;
    bool m_bTracking = false; // a signal of the snapshot has a tracking state
    bool m_bStale = false;
};
