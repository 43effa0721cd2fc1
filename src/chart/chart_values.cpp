#include "chart/chart_values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace kx {
namespace {

constexpr std::array<double, 19> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                           1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

} // namespace

double roundStep(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span) || ticks < 1)
        return 1;
    const double raw = span / ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double n = raw / magnitude;
    const double nice = n <= 1 ? 1 : n <= 2 ? 2 : n <= 2.5 ? 2.5 : n <= 5 ? 5 : 10;
    return nice * magnitude;
}

ValueAxisLayout valueAxisLayout(double min, double max) {
    if (!std::isfinite(min) || !std::isfinite(max) || min > max) {
        min = 0;
        max = 1;
    }
    if (min == max) {
        const double pad = min == 0 ? 1 : std::fabs(min) * 0.1;
        min -= pad;
        max += pad;
    }
    ValueAxisLayout a;
    a.step = roundStep(max - min, 4);
    // A value a rounding error beyond a tick still sits on it.
    constexpr double fuzz = 1e-9;
    a.lo = std::floor(min / a.step + fuzz) * a.step;
    a.hi = std::ceil(max / a.step - fuzz) * a.step;
    if (a.hi <= a.lo)
        a.hi = a.lo + a.step;
    a.tickCount = static_cast<int>(std::lround((a.hi - a.lo) / a.step)) + 1;

    static constexpr char kPrefixes[] = {'p', 'n', 'u', 'm', '\0', 'k', 'M', 'G', 'T'};
    const double largest = std::max(std::fabs(a.lo), std::fabs(a.hi));
    int power = 0; // of 1000
    if (largest > 0)
        power = std::clamp(static_cast<int>(std::floor(std::log10(largest) / 3)), -4, 4);
    a.scale = std::pow(1000.0, power);
    a.prefix = kPrefixes[power + 4];

    const double s = a.step / a.scale;
    a.decimals = 0;
    while (a.decimals < 12) {
        const double scaled = s * kPow10[static_cast<std::size_t>(a.decimals)];
        if (std::fabs(scaled - std::round(scaled)) <= 1e-6 * std::max(1.0, scaled))
            break;
        ++a.decimals;
    }
    return a;
}

} // namespace kx
