#include "chart/chart_axis.h"

#include "chart/chart_values.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kx {
namespace {

// A value a rounding error beyond a tick still sits on it.
constexpr double kFuzz = 1e-9;
// More labels than this do not fit beside a chart 209 pixels high.
constexpr int kMostTicks = 7;
// The resistance axis spans at most 1 Ω to 1 EΩ, far beyond what any meter shows: readings
// outside sit on its ends, and its labels stay short.
constexpr double kLeastOhms = 1;
constexpr double kMostOhms = 1e18;
constexpr std::array<double, 3> kMantissas = {1, 2, 5};

const QChar kOhmSign(0x03A9);

// Decimals a label needs to tell ticks `step` apart.
int decimalsOf(double step) {
    for (int d = 0; d < 12; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::round(scaled) >= 1 &&
            std::fabs(scaled - std::round(scaled)) <= 1e-6 * std::max(1.0, scaled))
            return d;
    }
    return 12;
}

QString label(double v, int decimals, const QString& unit) {
    if (std::fabs(v) < 1e-300)
        v = 0; // no "-0"
    if (decimals > 9)
        return QString::number(v, 'g', 6) + unit;
    return QString::number(v, 'f', decimals) + unit;
}

// The unit a resistance reads best in: the largest in which its number is at least 1, so
// that a tick reads "50 MΩ" rather than "0.05 GΩ".
struct OhmsUnit {
    double scale;
    const char* prefix;
};

OhmsUnit ohmsUnitOf(double ohms) {
    static constexpr std::array<OhmsUnit, 4> kUnits = {
        {{1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e3, "k"}}};
    for (const OhmsUnit& u : kUnits) {
        if (ohms >= u.scale * (1 - kFuzz))
            return u;
    }
    return {1, ""};
}

// A resistance tick's label in its own unit, with the decimals that tell ticks `stepOhms`
// apart (none needed beyond its own for ticks of the 1-2-5 sequence: `stepOhms` 0).
QString ohmsLabel(double ohms, double stepOhms) {
    const OhmsUnit u = ohmsUnitOf(ohms);
    const double v = ohms / u.scale;
    const int decimals = stepOhms > 0 ? decimalsOf(stepOhms / u.scale) : decimalsOf(v);
    return label(v, decimals, QStringLiteral(" ") + QLatin1String(u.prefix) + kOhmSign);
}

// A member of the 1-2-5 sequence: kMantissas[i] * 10^exp. Kept as integers so that long runs
// of ticks do not drift.
struct Step125 {
    int exp = 0;
    int i = 0;
    double value() const { return kMantissas[static_cast<std::size_t>(i)] * std::pow(10.0, exp); }
    Step125 next() const { return i == 2 ? Step125{exp + 1, 0} : Step125{exp, i + 1}; }
};

// v as m * 10^e with 1 <= m < 10, as far as the logarithm's rounding allows.
std::pair<double, int> mantissa(double v) {
    int e = static_cast<int>(std::floor(std::log10(v)));
    double m = v / std::pow(10.0, e);
    if (m >= 10 * (1 - kFuzz)) {
        ++e;
        m /= 10;
    } else if (m < 1 - kFuzz) {
        --e;
        m *= 10;
    }
    return {m, e};
}

Step125 down125(double v) {
    const auto [m, e] = mantissa(v);
    const int i = m >= 5 * (1 - kFuzz) ? 2 : m >= 2 * (1 - kFuzz) ? 1 : 0;
    return {e, i};
}

Step125 up125(double v) {
    const auto [m, e] = mantissa(v);
    if (m <= 1 + kFuzz)
        return {e, 0};
    if (m <= 2 * (1 + kFuzz))
        return {e, 1};
    if (m <= 5 * (1 + kFuzz))
        return {e, 2};
    return {e + 1, 0};
}

int floorDiv(int a, int b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// A tick at `v` in the axis' unit; `step` as for ohmsLabel, in the axis' unit.
void addLogTick(ChartAxis& a, double v, double step = 0) {
    a.ticks.push_back({std::log10(v), ohmsLabel(v * a.scale, step * a.scale)});
}

// Ticks on the 1-2-5 sequence from lo down to hi up; every decade, or every few, when that
// would be too many.
void logTicks(ChartAxis& a, double lo, double hi) {
    const Step125 first = down125(lo);
    const Step125 last = up125(hi);
    int count = 0;
    for (Step125 s = first; s.exp < last.exp || (s.exp == last.exp && s.i <= last.i); s = s.next())
        if (++count > kMostTicks)
            break;
    if (count <= kMostTicks) {
        for (Step125 s = first;; s = s.next()) {
            addLogTick(a, s.value());
            if (s.exp == last.exp && s.i == last.i)
                break;
        }
        return;
    }
    const int from = first.exp;
    const int to = last.i == 0 ? last.exp : last.exp + 1;
    // Every few decades, on multiples of that few so that the labels read 0.01, 10, 10000.
    int every = 1;
    int eLo = from;
    int eHi = to;
    for (;; ++every) {
        eLo = floorDiv(from, every) * every;
        eHi = -floorDiv(-to, every) * every;
        if ((eHi - eLo) / every + 1 <= kMostTicks)
            break;
    }
    for (int e = eLo; e <= eHi; e += every)
        addLogTick(a, std::pow(10.0, e));
}

} // namespace

double ChartAxis::at(double base) const {
    if (!logarithmic)
        return base / scale;
    if (!(base > 0))
        return lo;
    return std::clamp(std::log10(base / scale), lo, hi);
}

ChartAxis sampleAxis() {
    ChartAxis a;
    a.lo = -11000;
    a.hi = 11000;
    for (int i = 0; i <= 4; ++i) {
        const double v = a.lo + i * 5500.0;
        a.ticks.push_back({v, label(v, 0, {})});
    }
    return a;
}

ChartAxis resistanceAxis(double least, double most) {
    ChartAxis a;
    a.quantity = ChartQuantity::Resistance;
    a.logarithmic = true;
    if (!(most > 0) || !std::isfinite(most)) {
        // Nothing above zero: a few decades around the readings insulation tests give.
        least = 1e6;
        most = 1e9 - 1;
    }
    if (!(least > 0) || least > most)
        least = most;
    const bool giga = most >= 1e9;
    a.scale = giga ? 1e9 : 1e6;
    a.unit = (giga ? QStringLiteral("G") : QStringLiteral("M")) + kOhmSign;
    const double mostOhms = std::clamp(most, kLeastOhms, kMostOhms);
    const double hi = mostOhms / a.scale;
    const double lo = std::clamp(least, kLeastOhms, mostOhms) / a.scale;
    if (hi / lo < 3) {
        // Within a factor of three the axis is nearly straight: evenly spaced round ticks
        // tell more than one or two of the 1-2-5 sequence.
        // Readings closer than any meter tells apart are one reading.
        const bool one = hi - lo <= kFuzz * hi;
        const double from = one ? lo * 0.9 : lo;
        const double to = one ? hi * 1.1 : hi;
        const double step = roundStep(to - from, 4);
        const double kLo = std::floor(from / step + kFuzz);
        const double kHi = std::ceil(to / step - kFuzz);
        if (kLo >= 1 && kHi - kLo <= 2 * kMostTicks) {
            const int n = static_cast<int>(kHi - kLo);
            for (int i = 0; i <= n; ++i)
                addLogTick(a, (kLo + i) * step, step);
        }
    }
    if (a.ticks.empty())
        logTicks(a, lo, hi);
    a.lo = a.ticks.front().at;
    a.hi = a.ticks.back().at;
    return a;
}

ChartAxis linearAxis(ChartQuantity quantity, double min, double max) {
    if (!(min <= max)) {
        if (quantity != ChartQuantity::Voltage)
            return sampleAxis();
        min = 0;
        max = 1000;
    }
    // Readings closer than any meter tells apart are one reading.
    if (max - min <= kFuzz * std::max(std::fabs(min), std::fabs(max)))
        min = max;
    const ValueAxisLayout l = valueAxisLayout(min, max);
    ChartAxis a;
    a.quantity = quantity;
    a.scale = l.scale;
    if (l.prefix)
        a.unit = QLatin1Char(l.prefix);
    if (quantity == ChartQuantity::Voltage)
        a.unit += QLatin1Char('V');
    a.lo = l.lo / l.scale;
    a.hi = l.hi / l.scale;
    for (int i = 0; i < l.tickCount; ++i) {
        const double v = (l.lo + i * l.step) / l.scale;
        a.ticks.push_back({v, label(v, l.decimals, a.unit)});
    }
    return a;
}

} // namespace kx
