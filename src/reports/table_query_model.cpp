#include "reports/table_query_model.h"

#include "common/cp936.h"
#include "readings/field_text.h"
#include "reports/local_query.h"

#include <limits>

namespace kx {

TableQueryModel::TableQueryModel(QObject* parent) : QAbstractTableModel(parent) {}

Status TableQueryModel::open() {
    beginResetModel();
    open_ = false;
    rows_.reset({});
    Result<QueryStatement> statement = parseQueryStatement(text_);
    Result<TableQuery> query = statement ? TableQuery::prepare(statement.value())
                                         : Result<TableQuery>(fail(statement.error()));
    Status s = query.status();
    if (s) {
        rows_.reset(query.value().fields());
        s = query.value().forEachRow([this](const px::Record& r) {
            rows_.append(r);
            return true;
        });
        // A read that fails half way leaves nothing half shown.
        if (s)
            open_ = true;
        else
            rows_.reset({});
    }
    endResetModel();
    return s;
}

void TableQueryModel::close() {
    if (!open_ && rows_.fields().empty())
        return;
    beginResetModel();
    open_ = false;
    rows_.reset({});
    endResetModel();
}

Status TableQueryModel::execute() const {
    Result<QueryStatement> statement = parseQueryStatement(text_);
    if (!statement)
        return statement.status();
    Result<TableQuery> query = TableQuery::prepare(statement.value());
    if (!query)
        return query.status();
    return query.value().count().status();
}

std::string TableQueryModel::fieldText(qint64 row, int field) const {
    if (row < 0 || row >= recordCount() || field < 0 ||
        field >= static_cast<int>(rows_.fields().size()))
        return {};
    const auto r = static_cast<std::size_t>(row);
    if (rows_.isNull(r, field))
        return {};
    const px::FieldType type = rows_.fields()[static_cast<std::size_t>(field)].type;
    if (type == px::FieldType::Alpha || type == px::FieldType::Bcd)
        return std::string(rows_.textValue(r, field));
    return displayText(type, rows_.value(r, field));
}

int TableQueryModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<qint64>(recordCount(), std::numeric_limits<int>::max()));
}

int TableQueryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.fields().size());
}

QVariant TableQueryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return fromCp936(fieldText(index.row(), index.column()));
}

QVariant TableQueryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    if (section < 0 || section >= static_cast<int>(rows_.fields().size()))
        return {};
    return fromCp936(rows_.fields()[static_cast<std::size_t>(section)].name);
}

Qt::ItemFlags TableQueryModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace kx
