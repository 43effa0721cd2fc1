#include "analysis/results_model.h"

#include "analysis/live_results.h"
#include "common/cp936.h"

namespace kx {

TestResultsModel::TestResultsModel(TestResults& results, QObject* parent)
    : QAbstractTableModel(parent), results_(results), rows_(results.count()),
      generation_(results.generation()) {
    connect(&results_, &TestResults::testsChanged, this, &TestResultsModel::testsChanged);
    connect(&results_, &TestResults::figuresChanged, this, &TestResultsModel::figuresChanged);
}

void TestResultsModel::testsChanged() {
    const int rows = results_.count();
    if (results_.generation() != generation_ || rows < rows_) {
        beginResetModel();
        rows_ = rows;
        generation_ = results_.generation();
        endResetModel();
        return;
    }
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
    figuresChanged();
}

void TestResultsModel::figuresChanged() {
    // Views repaint only the rows they show.
    if (rows_ > 0)
        Q_EMIT dataChanged(index(0, 0), index(rows_ - 1, Columns - 1));
}

int TestResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TestResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant TestResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.row() >= results_.count())
        return {};
    const InsulationResult& t = results_.test(index.row());
    const bool running = results_.isRunning(index.row());
    if (role == VerdictRole)
        return running ? -1 : static_cast<int>(t.verdict);
    if (role == Qt::TextAlignmentRole)
        return index.column() == Mode || index.column() == Function
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    auto optionalRatio = [](const std::optional<double>& x) {
        return x ? ratioText(*x) : QStringLiteral("\u2013");
    };
    switch (index.column()) {
    case Number:
        return t.test;
    case Mode:
        return fromCp936(QByteArrayView(t.mode));
    case Function:
        return fromCp936(QByteArrayView(t.function));
    case Start:
        return startText(t.startMs).left(8);
    case Duration:
        return elapsedText(t.duration);
    case R60:
        return t.r60 ? ohmsText(*t.r60) : QStringLiteral("\u2013");
    case Dar:
        return optionalRatio(t.dar);
    case Pi:
        return optionalRatio(t.pi);
    case VerdictColumn:
        return running ? QStringLiteral("running") : verdictText(t.verdict);
    default:
        break;
    }
    return {};
}

QVariant TestResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    static constexpr const char* kTitles[Columns] = {
        "No.", "Mode", "Function", "Start", "Duration", "R60", "DAR", "PI", "Verdict"};
    return section >= 0 && section < Columns ? QString::fromLatin1(kTitles[section]) : QString();
}

} // namespace kx
