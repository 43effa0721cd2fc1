#pragma once

#include "common/result.h"
#include "readings/record_store.h"

#include <QAbstractTableModel>
#include <QString>

#include <string>

namespace kx {

// The query component behind a result grid: a statement's text, run over its table file on
// request, with the rows it delivered held for the view (one row per matching record, one
// column per field of the file, the display form of each value). Views read the rows through
// this model; none are copied into widgets.
class TableQueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableQueryModel(QObject* parent = nullptr);

    // The statement run by open() and execute(); takes effect at the next run.
    void setText(const QString& statement) { text_ = statement; }
    const QString& text() const { return text_; }

    // Runs the statement and replaces the rows. On failure the query stays closed: no rows,
    // no columns.
    Status open();
    // Drops the rows and columns.
    void close();
    bool isOpen() const { return open_; }
    // Runs the statement as a statement rather than a query: the file is read through and
    // every record checked, but no rows are kept and the query stays as it was.
    Status execute() const;

    qint64 recordCount() const { return static_cast<qint64>(rows_.rowCount()); }
    // A field's display form (code page 936 bytes); empty for NULL or out of range.
    std::string fieldText(qint64 row, int field) const;
    const std::vector<px::FieldDef>& fields() const { return rows_.fields(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QString text_;
    bool open_ = false;
    RecordStore rows_;
};

} // namespace kx
