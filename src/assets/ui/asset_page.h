#pragma once

#include "assets/asset_register.h"

#include <QDialog>
#include <QWidget>

#include <optional>
#include <vector>

class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QTableWidget;

namespace kx {

class AssetWindowRequests;
class MessageBoxes;
class RegisterSession;
class TestCurveView;

// Names of the trend chart's series, for the legend and for finding them.
inline constexpr const char* kTrendR60Series = "R60 at 40 °C";
inline constexpr const char* kTrendMinimumSeries = "Minimum";
inline constexpr const char* kTrendPiSeries = "PI";
inline constexpr const char* kTrendPiMinimumSeries = "PI minimum";
inline constexpr const char* kTrendFitSeries = "Trend";
inline constexpr const char* kTrendDropSeries = "Sharp drop";

// The fitted line of the corrected R60 over the tests the trend was fitted on, drawn from the
// first of them to the projected crossing (or the last test): two points, ohms at a date.
struct TrendLine {
    QDateTime from, to;
    double fromOhms = 0, toOhms = 0;
};
std::optional<TrendLine> trendLine(const Trend& trend, const TrendSettings& settings = {});

// Fills `chart` with the asset's trend: a log resistance axis with the minimum line, PI on a
// second axis with its minimum, the fitted line to the crossing and the sharp drops marked.
void fillTrendChart(QChart& chart, const Trend& trend);

// One filed test's readings and its curve.
class TestReadingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TestReadingsDialog(QWidget* parent = nullptr);
    void showTest(const FiledTest& test, const QString& tag);
    QTableWidget* readings() const { return Readings; }
    TestCurveView* curve() const { return Curve; }

private:
    QLabel* Title = nullptr;
    QTableWidget* Readings = nullptr;
    TestCurveView* Curve = nullptr;
};

// An asset's page: what it is and its minimums, its filed tests, and the trend chart. A
// test's point in the chart, or its row, opens its readings and curve. Print makes the asset
// history report.
class AssetPage : public QWidget {
    Q_OBJECT
public:
    AssetPage(RegisterSession& session, MessageBoxes& boxes, AssetWindowRequests& requests,
              QWidget* parent = nullptr);
    ~AssetPage() override;

    // Reads the asset, its tests and trend afresh and shows the page.
    void showAsset(const QString& tag);
    const QString& tag() const { return tag_; }
    const Trend& trend() const { return trend_; }
    QChart* chart() const;
    QTableWidget* testsGrid() const { return TestsGrid; }
    // The readings window, made at the first test opened; null until then.
    TestReadingsDialog* readingsDialog() const { return readings_; }
    // Opens the test's readings and curve.
    void openTest(qint64 testId);
    // The test whose point lies nearest to `when` on the chart.
    void openTestNear(const QDateTime& when);

public Q_SLOTS:
    void PrintBtnClick();
    void TestsGridDoubleClick(int row);

private:
    void build();
    void reload();

    RegisterSession& session_;
    MessageBoxes& boxes_;
    AssetWindowRequests& requests_;
    QString tag_;
    std::vector<FiledTest> tests_;
    Trend trend_;
    TestReadingsDialog* readings_ = nullptr;

    QLabel* TitleLabel = nullptr;
    QLabel* SummaryLabel = nullptr;
    QTableWidget* TestsGrid = nullptr;
    QChartView* TrendChart = nullptr;
    QPushButton* PrintBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
};

} // namespace kx
