#pragma once

#include "assets/asset_register.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <optional>
#include <vector>

namespace kx {

// The rows of the Assets window's list: one asset each, with its last test and trend.
// Filled from a list of summaries; the view sorts through a proxy on kSortRole, under which
// the projected crossing sorts soonest first and assets without one after every date.
class AssetListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Tag, Name, Location, Kind, LastTest, LastVerdict, TrendPerYear, Crossing };
    static constexpr int kColumns = 8;
    static constexpr int kSortRole = Qt::UserRole + 1;
    // A projected crossing this many years ahead or sooner is shown in red.
    static constexpr int kUrgentYears = 3;

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<AssetSummary> rows);
    const AssetSummary& row(int index) const { return rows_.at(std::size_t(index)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<AssetSummary> rows_;
};

// What the list shows beyond the register's own search: one kind, one location (empty:
// all).
struct AssetListFilter {
    std::optional<AssetKind> kind;
    QString location;
};
std::vector<AssetSummary> filteredAssets(std::vector<AssetSummary> rows,
                                         const AssetListFilter& filter);
// The locations of the assets, sorted, each once.
QStringList assetLocations(const std::vector<AssetSummary>& rows);

// "-12.5 %/year", "+3.0 %/year"; empty without a fit.
QString slopeText(std::optional<double> percentPerYear);
// The kind in the user's words: "Old or field winding", "Form-wound winding", ...
QString assetKindCaption(AssetKind kind);
inline constexpr AssetKind kAssetKinds[] = {AssetKind::OldWinding, AssetKind::FormWound,
                                            AssetKind::RandomWound, AssetKind::Cable,
                                            AssetKind::Other};

} // namespace kx
