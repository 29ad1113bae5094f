#pragma once

#include "SkyTable.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <vector>

// The satellites of one sky snapshot as table rows, sorted by system then number: system,
// number, elevation, azimuth, the strength per band (a column per band any satellite was heard
// on, "SNR" for receivers that name no band) and whether the fix uses it.
class CSatTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    // The role a sorting view orders by: the system's order, numbers as numbers, a band without a
    // signal below every strength.
    static constexpr int kSortRole = Qt::UserRole;

    // Takes the snapshot; stale greys every row.
    void SetSky(const SkyView &sky, bool stale);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The band columns' headers, in column order.
    const QStringList &Bands() const { return m_bands; }

private:
    static constexpr int kFixedBefore = 4; // system, number, elevation, azimuth
    QString Text(int row, int column) const;
    QVariant SortKey(int row, int column) const;

    std::vector<SkySat> m_sats;
    // Every cell's text, made once per snapshot: the view asks for them on every paint.
    std::vector<QString> m_cells;
    QStringList m_bands;
    bool m_bStale = false;
};
