#pragma once

#include <QAbstractTableModel>

#include <cstdint>

namespace kx {

class TestResults;

// The list of the results window: one row per test of the live table, the one in progress
// last. It shows what TestResults last signalled, so its rows never change under a view.
class TestResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Mode, Function, Start, Duration, R60, Dar, Pi, VerdictColumn, Columns };
    // The verdict as a number (Verdict), or -1 for a test still in progress.
    static constexpr int VerdictRole = Qt::UserRole + 1;

    explicit TestResultsModel(TestResults& results, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void testsChanged();
    void figuresChanged();

    TestResults& results_;
    int rows_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace kx
