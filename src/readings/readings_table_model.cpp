#include "readings/readings_table_model.h"

#include "common/cp936.h"
#include "readings/readings_table.h"

#include <limits>

namespace kx {

ReadingsTableModel::ReadingsTableModel(ReadingsTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    connect(&table_, &ReadingsTable::aboutToReset, this, [this] { beginResetModel(); });
    connect(&table_, &ReadingsTable::didReset, this, [this] { endResetModel(); });
    connect(&table_, &ReadingsTable::rowAboutToBeAppended, this, [this](qint64 row) {
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
    });
    connect(&table_, &ReadingsTable::rowAppended, this, [this] { endInsertRows(); });
    connect(&table_, &ReadingsTable::rowAboutToBeRemoved, this, [this](qint64 row) {
        beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
    });
    connect(&table_, &ReadingsTable::rowRemoved, this, [this] { endRemoveRows(); });
}

int ReadingsTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    // The record ceiling (ten million) stays far below the model's int range.
    return static_cast<int>(std::min<qint64>(table_.rowCount(), std::numeric_limits<int>::max()));
}

int ReadingsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.fields().size());
}

QVariant ReadingsTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return fromCp936(table_.fieldText(index.row(), index.column()));
}

QVariant ReadingsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return {};
    if (auto it = titles_.find(section); it != titles_.end())
        return *it;
    if (section >= 0 && section < static_cast<int>(table_.fields().size()))
        return fromCp936(table_.fields()[static_cast<std::size_t>(section)].name);
    return {};
}

Qt::ItemFlags ReadingsTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ReadingsTableModel::setColumnTitle(int column, const QString& title) {
    titles_.insert(column, title);
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

void ReadingsTableModel::clearColumnTitles() {
    if (titles_.isEmpty())
        return;
    titles_.clear();
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
}

} // namespace kx
