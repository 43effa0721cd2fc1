#pragma once

#include "analysis/insulation_analyser.h"
#include "readings/record_store.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kx {

// The R(t) curve of an insulation test: its numeric resistance readings by the seconds since
// the test's first record.
struct CurvePoint {
    double seconds = 0;
    double ohms = 0;
};

// The curve of `test` from the records of a store: the readings of its mode and function
// whose `No` lies from its first to its last, in `No` order, times unwrapped at midnight.
std::vector<CurvePoint> testCurve(const RecordStore& records, const ReadingsColumns& columns,
                                  const InsulationResult& test);

// Keeps the curve of one test while its readings come in: each look walks only the records
// appended since the last one. A table whose records were replaced or removed (a new
// `generation`), another test, or records out of `No` order make it start again.
class TestCurveCache {
public:
    const std::vector<CurvePoint>& update(const RecordStore& records,
                                          const ReadingsColumns& columns,
                                          const InsulationResult& test, std::uint64_t generation);
    const std::vector<CurvePoint>& points() const { return points_; }
    void clear();

private:
    bool walk(const RecordStore& records, const ReadingsColumns& columns,
              const InsulationResult& test);

    bool valid_ = false;
    std::int64_t first_ = 0;
    std::uint64_t generation_ = 0;
    std::size_t nextRow_ = 0;
    bool started_ = false;
    std::int64_t lastNo_ = 0;
    double t0_ = 0;
    double lastRaw_ = 0;
    double dayOffset_ = 0;
    std::vector<CurvePoint> points_;
};

// Where the parts of a curve's picture go, worked out once for any surface: the window's
// view, the report's page painter and the report's HTML. Positions are fractions of the plot
// area: x from its left edge, y from its bottom edge.
struct CurveTick {
    double at = 0;
    QString label;
};

struct CurveMark {
    int seconds = 0;            // 15, 30, 60, 600
    QString label;              // "15 s", "30 s", "1 min", "10 min"
    double x = 0;               // where the mark's time falls
    std::optional<double> y;    // where R at that time falls; none when it is not known
    std::optional<double> ohms; // R at that time
};

struct TestCurveLayout {
    // The resistance axis: logarithmic, one tick a decade, labelled in `unit`.
    QString unit; // "MΩ" or "GΩ"
    double unitOhms = 1e6;
    double logBottom = 0; // log10 of the ohms at the bottom and the top edges
    double logTop = 1;
    std::vector<CurveTick> yTicks;
    // The time axis: linear from 0 to `seconds`.
    double seconds = 60;
    std::vector<CurveTick> xTicks;
    // The readings, at most two a column of the plot, joined in order.
    std::vector<QPointF> line;
    std::vector<CurveMark> marks; // those within the time axis

    bool hasCurve() const { return !line.empty(); }
};

// Where the plot lies in a picture's box whose texts are `textHeight` high, in the box's
// units: room on the left for the resistance labels, above for the unit and two rows of the
// marks' labels (marks close together take turns), below for the times.
QRectF curvePlotArea(const QRectF& box, double textHeight);
// A point of the layout (fractions) in the plot area, y growing downwards as on a page.
inline QPointF curvePlotPoint(const QRectF& plot, const QPointF& f) {
    return {plot.left() + f.x() * plot.width(), plot.bottom() - f.y() * plot.height()};
}

// Which row each mark's label takes above the plot (0 next to it, 1 above that), or -1 when
// neither has room; `spans` are the labels' left and right edges as a renderer sets them.
// The 1-minute and 10-minute labels are placed first.
std::vector<int> markLabelRows(const std::vector<CurveMark>& marks,
                               const std::vector<std::pair<double, double>>& spans, double gap);

// `columns` is the plot's width in device pixels (or any unit the line need not be finer
// than). A PI test's time axis spans at least its ten minutes from the start.
TestCurveLayout layoutTestCurve(const std::vector<CurvePoint>& points, const InsulationResult& test,
                                int columns = 1000);

} // namespace kx
