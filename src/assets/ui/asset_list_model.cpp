#include "assets/ui/asset_list_model.h"

#include <QColor>

#include <algorithm>
#include <limits>

namespace kx {

namespace {

QColor verdictColor(Verdict v) {
    switch (v) {
    case Verdict::Pass:
        return {0, 136, 0};
    case Verdict::Fail:
        return {221, 0, 0};
    default:
        return {128, 128, 128};
    }
}

} // namespace

QString slopeText(std::optional<double> percentPerYear) {
    if (!percentPerYear)
        return {};
    return QStringLiteral("%1%2 %/year")
        .arg(*percentPerYear >= 0 ? QStringLiteral("+") : QString())
        .arg(*percentPerYear, 0, 'f', 1);
}

QString assetKindCaption(AssetKind kind) {
    switch (kind) {
    case AssetKind::OldWinding:
        return QObject::tr("Old or field winding");
    case AssetKind::FormWound:
        return QObject::tr("Form-wound winding");
    case AssetKind::RandomWound:
        return QObject::tr("Random-wound winding");
    case AssetKind::Cable:
        return QObject::tr("Cable");
    case AssetKind::Other:
        break;
    }
    return QObject::tr("Other");
}

std::vector<AssetSummary> filteredAssets(std::vector<AssetSummary> rows,
                                         const AssetListFilter& filter) {
    std::erase_if(rows, [&filter](const AssetSummary& s) {
        return (filter.kind && s.asset.kind != *filter.kind) ||
               (!filter.location.isEmpty() && s.asset.location != filter.location);
    });
    return rows;
}

QStringList assetLocations(const std::vector<AssetSummary>& rows) {
    QStringList out;
    for (const AssetSummary& s : rows)
        if (!s.asset.location.isEmpty())
            out.append(s.asset.location);
    out.sort(Qt::CaseInsensitive);
    out.removeDuplicates();
    return out;
}

void AssetListModel::setRows(std::vector<AssetSummary> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int AssetListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int AssetListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant AssetListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const AssetSummary& s = rows_[std::size_t(index.row())];
    const auto column = Column(index.column());
    if (role == Qt::ForegroundRole) {
        if (s.asset.retired)
            return QColor(140, 140, 140);
        if (column == LastVerdict && s.lastVerdict)
            return verdictColor(*s.lastVerdict);
        // A crossing within the next few years needs planning now.
        if (column == Crossing && s.crossing &&
            s.crossing->year() - QDate::currentDate().year() <= kUrgentYears)
            return QColor(221, 0, 0);
        return {};
    }
    if (role == Qt::TextAlignmentRole && column == TrendPerYear)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == kSortRole) {
        switch (column) {
        case LastTest:
            return s.lastTest ? s.lastTest->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        case TrendPerYear:
            return s.slopePerYear ? *s.slopePerYear : std::numeric_limits<double>::max();
        case Crossing:
            // Soonest first; no crossing after every date.
            return s.crossing ? s.crossing->toJulianDay() : std::numeric_limits<qint64>::max();
        default:
            return data(index, Qt::DisplayRole).toString().toLower();
        }
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
    case Tag:
        return s.asset.retired ? tr("%1 (retired)").arg(s.asset.tag) : s.asset.tag;
    case Name:
        return s.asset.name;
    case Location:
        return s.asset.location;
    case Kind:
        return assetKindCaption(s.asset.kind);
    case LastTest:
        return s.lastTest ? s.lastTest->date().toString(Qt::ISODate) : QString();
    case LastVerdict:
        return s.lastVerdict ? verdictText(*s.lastVerdict).toUpper() : QString();
    case TrendPerYear:
        return slopeText(s.slopePerYear);
    case Crossing:
        return s.crossing ? s.crossing->toString(Qt::ISODate) : QString();
    }
    return {};
}

QVariant AssetListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const captions[kColumns] = {
        "Tag",         "Name",         "Location",          "Kind",
        "Last test",   "Last verdict", "Trend per year", "Projected crossing"};
    return section >= 0 && section < kColumns ? tr(captions[section]) : QVariant();
}

} // namespace kx
