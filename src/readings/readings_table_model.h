#pragma once

#include <QAbstractTableModel>

namespace kx {

class ReadingsTable;

// Read-only item model over a readings table: one row per record, one column per field, the
// display form of each value. Views read the table directly; no rows are copied.
class ReadingsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ReadingsTableModel(ReadingsTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Column titles that differ from the field names ("V_Range" shown as "Function").
    void setColumnTitle(int column, const QString& title);
    // Back to the field names, for a table whose fields lie elsewhere.
    void clearColumnTitles();

    ReadingsTable& table() const { return table_; }

private:
    ReadingsTable& table_;
    QHash<int, QString> titles_;
};

} // namespace kx
