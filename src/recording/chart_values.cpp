#include "recording/chart_values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace kx {
namespace {

// Larger magnitudes cannot be readings; refusing them keeps every span the chart computes
// finite.
constexpr double kLargest = 1e300;

constexpr std::array<double, 19> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                           1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

double unitFactor(std::string_view unit) {
    unit = trimmed(unit);
    // A prefix needs a unit after it: "M" alone is not "mega-nothing".
    if (unit.size() < 2)
        return 1;
    switch (unit.front()) {
    case 'p':
        return 1e-12;
    case 'n':
        return 1e-9;
    case 'u':
        return 1e-6;
    case 'm':
        return 1e-3;
    case 'k':
    case 'K':
        return 1e3;
    case 'M':
        return 1e6;
    case 'G':
        return 1e9;
    case 'T':
        return 1e12;
    default:
        return 1;
    }
}

std::optional<double> readingNumber(std::string_view value, std::string_view unit) {
    const std::string_view s = trimmed(value);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            if (digits < 18)
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
            ++digits;
            if (point)
                ++decimals;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt; // dashes, "L" of an overload, a second point, letters
        }
    }
    if (digits == 0)
        return std::nullopt;
    double v = 0;
    if (digits <= 18) {
        v = static_cast<double>(mantissa) / kPow10[static_cast<std::size_t>(decimals)];
    } else {
        // Longer than the meter ever shows: let the library round it.
        const char* first = s.data() + start;
        const char* last = s.data() + s.size();
        const auto r = std::from_chars(first, last, v, std::chars_format::fixed);
        if (r.ec != std::errc() || r.ptr != last)
            return std::nullopt;
    }
    v *= unitFactor(unit);
    if (!std::isfinite(v) || std::fabs(v) > kLargest)
        return std::nullopt;
    return negative ? -v : v;
}

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
