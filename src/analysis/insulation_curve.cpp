#include "analysis/insulation_curve.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kx {
namespace {

constexpr double kMsPerDay = 86'400'000.0;

bool sameTest(const InsulationAnalyser::Reading& r, const InsulationResult& test) {
    return r.mode == test.mode && r.function == test.function;
}

// Times of day go on past midnight: a time far below the one before it is the next day's.
double unwrapped(double raw, bool timeOfDay, double& lastRaw, double& dayOffset, bool first) {
    if (!first && timeOfDay && raw < lastRaw - kMsPerDay / 2)
        dayOffset += kMsPerDay;
    lastRaw = raw;
    return raw + dayOffset;
}

std::optional<std::size_t> firstRowOf(const RecordStore& records, const ReadingsColumns& c,
                                      std::int64_t no) {
    // Recordings are in `No` order: a binary search finds the row; a table that is not falls
    // back to a walk.
    std::size_t lo = 0;
    std::size_t hi = records.rowCount();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (readingAt(records, c, mid).no < no)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < records.rowCount() && readingAt(records, c, lo).no == no)
        return lo;
    for (std::size_t row = 0; row < records.rowCount(); ++row) {
        if (!records.isNull(row, c.no) && readingAt(records, c, row).no == no)
            return row;
    }
    return std::nullopt;
}

// "0.1", "1", "10", "1000": a decade in the axis's unit.
QString decadeLabel(int exponent) {
    if (exponent >= 0)
        return QString::number(std::pow(10.0, exponent), 'f', 0);
    return QString::number(std::pow(10.0, exponent), 'f', -exponent);
}

QString secondsLabel(double s) {
    const long long whole = std::llround(s);
    if (whole < 60)
        return QStringLiteral("%1 s").arg(whole);
    if (whole % 60 == 0)
        return QStringLiteral("%1 min").arg(whole / 60);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// The smallest round length of time axis that holds `s` seconds.
double roundAxis(double s) {
    static constexpr std::array<double, 19> kLengths = {15,   30,   60,   90,   120,  180, 240,
                                                        300,  420,  600,  660,  720,  900, 1200,
                                                        1800, 2700, 3600, 7200, 14400};
    for (double l : kLengths) {
        if (s <= l)
            return l;
    }
    return std::ceil(s / 14400) * 14400;
}

double tickStep(double length) {
    static constexpr std::array<double, 14> kSteps = {5,   10,  15,   30,   60,   120,  300,
                                                      600, 900, 1200, 1800, 3600, 7200, 14400};
    for (double step : kSteps) {
        if (length / step <= 6)
            return step;
    }
    return std::ceil(length / 6 / 14400) * 14400;
}

// The curve from a walk over every record, for a table whose records are not in `No` order.
std::vector<CurvePoint> scanCurve(const RecordStore& records, const ReadingsColumns& c,
                                  const InsulationResult& test) {
    struct Numbered {
        std::int64_t no;
        std::size_t row;
    };
    std::vector<Numbered> rows;
    for (std::size_t row = 0; row < records.rowCount(); ++row) {
        if (records.isNull(row, c.no))
            continue;
        const std::int64_t no = readingAt(records, c, row).no;
        if (no >= test.first && no <= test.last)
            rows.push_back({no, row});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Numbered& a, const Numbered& b) { return a.no < b.no; });
    std::vector<CurvePoint> points;
    double lastRaw = 0;
    double dayOffset = 0;
    double t0 = 0;
    bool first = true;
    for (const Numbered& n : rows) {
        const InsulationAnalyser::Reading r = readingAt(records, c, n.row);
        if (!r.timeMs)
            continue;
        const double t = unwrapped(*r.timeMs, r.timeOfDay, lastRaw, dayOffset, first);
        if (first)
            t0 = t;
        first = false;
        if (!sameTest(r, test))
            continue;
        if (const auto ohms = InsulationAnalyser::resistanceOf(r.value, r.unit))
            points.push_back({(t - t0) / 1000.0, *ohms});
    }
    return points;
}

} // namespace

std::vector<CurvePoint> testCurve(const RecordStore& records, const ReadingsColumns& c,
                                  const InsulationResult& test) {
    TestCurveCache cache;
    return cache.update(records, c, test, 0);
}

void TestCurveCache::clear() {
    valid_ = false;
    points_.clear();
}

bool TestCurveCache::walk(const RecordStore& records, const ReadingsColumns& c,
                          const InsulationResult& test) {
    for (; nextRow_ < records.rowCount(); ++nextRow_) {
        if (records.isNull(nextRow_, c.no))
            return false;
        const InsulationAnalyser::Reading r = readingAt(records, c, nextRow_);
        if (started_ && r.no < lastNo_)
            return false; // out of order: the whole-table walk sorts
        if (r.no > test.last)
            break; // the test's end so far; later records may still join it
        lastNo_ = r.no;
        if (!r.timeMs)
            continue;
        const double t = unwrapped(*r.timeMs, r.timeOfDay, lastRaw_, dayOffset_, !started_);
        if (!started_)
            t0_ = t;
        started_ = true;
        if (!sameTest(r, test))
            continue;
        if (const auto ohms = InsulationAnalyser::resistanceOf(r.value, r.unit))
            points_.push_back({(t - t0_) / 1000.0, *ohms});
    }
    return true;
}

const std::vector<CurvePoint>& TestCurveCache::update(const RecordStore& records,
                                                      const ReadingsColumns& c,
                                                      const InsulationResult& test,
                                                      std::uint64_t generation) {
    if (!valid_ || first_ != test.first || generation_ != generation ||
        nextRow_ > records.rowCount()) {
        points_.clear();
        valid_ = false;
        first_ = test.first;
        generation_ = generation;
        started_ = false;
        dayOffset_ = 0;
        const std::optional<std::size_t> row = firstRowOf(records, c, test.first);
        if (!row)
            return points_;
        nextRow_ = *row;
        valid_ = true;
    }
    if (!walk(records, c, test)) {
        points_ = scanCurve(records, c, test);
        valid_ = false; // walked whole again next time
    }
    return points_;
}

std::vector<int> markLabelRows(const std::vector<CurveMark>& marks,
                               const std::vector<std::pair<double, double>>& spans, double gap) {
    std::vector<int> rows(marks.size(), -1);
    std::vector<std::size_t> order(marks.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto rank = [&](std::size_t i) { return marks[i].seconds >= 60 ? 0 : 1; };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
    std::array<std::vector<std::pair<double, double>>, 2> taken;
    for (std::size_t i : order) {
        if (i >= spans.size())
            continue;
        for (int row = 0; row < 2; ++row) {
            auto& placed = taken[static_cast<std::size_t>(row)];
            const bool free = std::none_of(placed.begin(), placed.end(), [&](const auto& p) {
                return spans[i].first < p.second + gap && p.first < spans[i].second + gap;
            });
            if (free) {
                placed.push_back(spans[i]);
                rows[i] = row;
                break;
            }
        }
    }
    return rows;
}

QRectF curvePlotArea(const QRectF& box, double h) {
    QRectF plot = box.adjusted(3.4 * h, 2.4 * h, -1.2 * h, -2.0 * h);
    if (plot.width() < 1 || plot.height() < 1)
        plot = box;
    return plot;
}

TestCurveLayout layoutTestCurve(const std::vector<CurvePoint>& points, const InsulationResult& test,
                                int columns) {
    TestCurveLayout l;
    // A test's times never go back: its last reading is its latest.
    const double tMax = points.empty() ? 0 : std::max(points.back().seconds, 0.0);
    l.seconds = roundAxis(std::max({tMax, test.duration, test.mode == "PI" ? 600.0 : 0.0, 1.0}));
    const double step = tickStep(l.seconds);
    for (double s = 0; s <= l.seconds + 1e-9; s += step)
        l.xTicks.push_back({s / l.seconds, secondsLabel(s)});

    // One walk over the readings: the lowest and the highest of each column of the plot, in
    // the order they came, and the range of all of them.
    columns = std::max(columns, 1);
    std::vector<std::size_t> kept;
    kept.reserve(std::min<std::size_t>(points.size(), 2 * std::size_t(columns) + 2));
    double lo = 0;
    double hi = 0;
    bool any = false;
    const double perColumn = l.seconds / columns;
    std::size_t i = 0;
    while (i < points.size()) {
        const double end = (std::floor(points[i].seconds / perColumn) + 1) * perColumn;
        std::size_t low = i;
        std::size_t high = i;
        std::size_t j = i + 1;
        for (; j < points.size() && points[j].seconds < end; ++j) {
            if (points[j].ohms < points[low].ohms)
                low = j;
            if (points[j].ohms > points[high].ohms)
                high = j;
        }
        kept.push_back(std::min(low, high));
        if (high != low)
            kept.push_back(std::max(low, high));
        for (std::size_t k : {low, high}) {
            const double ohms = points[k].ohms;
            if (!(ohms > 0) || !std::isfinite(ohms))
                continue;
            lo = any ? std::min(lo, ohms) : ohms;
            hi = any ? std::max(hi, ohms) : ohms;
            any = true;
        }
        i = j;
    }
    if (!any) {
        lo = 1e5;
        hi = 1e6;
    }
    const bool giga = hi >= 1e9;
    l.unit = giga ? QStringLiteral("G\u03A9") : QStringLiteral("M\u03A9");
    l.unitOhms = giga ? 1e9 : 1e6;
    int bottom = static_cast<int>(std::floor(std::log10(lo)));
    int top = static_cast<int>(std::ceil(std::log10(hi)));
    if (top <= bottom)
        top = bottom + 1;
    // A reading near nothing (a short circuit, the first instant of charging) would squeeze
    // the test into the top of the picture: six decades below the highest are shown.
    bottom = std::max(bottom, top - 6);
    l.logBottom = bottom;
    l.logTop = top;
    const double unitLog = std::log10(l.unitOhms);
    for (int e = bottom; e <= top; ++e)
        l.yTicks.push_back(
            {double(e - bottom) / (top - bottom), decadeLabel(e - static_cast<int>(unitLog))});

    const double floorOhms = std::pow(10.0, bottom);
    auto yOf = [&](double ohms) {
        const double y = (std::log10(std::max(ohms, floorOhms)) - bottom) / double(top - bottom);
        return std::clamp(y, 0.0, 1.0);
    };
    l.line.reserve(kept.size());
    for (std::size_t k : kept) {
        const QPointF p(std::clamp(points[k].seconds / l.seconds, 0.0, 1.0), yOf(points[k].ohms));
        if (l.line.empty() || l.line.back() != p)
            l.line.push_back(p);
    }

    const std::array<std::optional<double>, 4> values = {test.r15, test.r30, test.r60, test.r600};
    static constexpr std::array<const char*, 4> kLabels = {"15 s", "30 s", "1 min", "10 min"};
    for (std::size_t k = 0; k < kResultMarks.size(); ++k) {
        if (kResultMarks[k] > l.seconds)
            continue;
        CurveMark m;
        m.seconds = kResultMarks[k];
        m.label = QString::fromLatin1(kLabels[k]);
        m.x = kResultMarks[k] / l.seconds;
        if (values[k] && std::isfinite(*values[k])) {
            m.ohms = values[k];
            m.y = yOf(*values[k]);
        }
        l.marks.push_back(m);
    }
    return l;
}

} // namespace kx
