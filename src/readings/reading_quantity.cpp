#include "readings/reading_quantity.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace kx {
namespace {

constexpr std::string_view kOhmCp936 = "\xA6\xB8";
constexpr std::string_view kOhmUtf8 = "\xCE\xA9";

// Larger magnitudes cannot be readings; refusing them keeps every span the chart computes
// finite.
constexpr double kLargest = 1e300;

constexpr std::array<double, 19> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                           1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

struct UnitScale {
    QuantityKind kind = QuantityKind::Other;
    int exponent = 0; // the unit is 10^exponent of its base
};

UnitScale unitScale(std::string_view unit) {
    unit = trimmed(unit);
    std::string_view prefix;
    if (unit.ends_with(kOhmCp936))
        prefix = unit.substr(0, unit.size() - kOhmCp936.size());
    else if (unit.ends_with(kOhmUtf8))
        prefix = unit.substr(0, unit.size() - kOhmUtf8.size());
    else if (unit == "V" || unit == "mV" || unit == "kV")
        return {QuantityKind::Voltage, 0};
    else
        return {};
    if (prefix.empty())
        return {QuantityKind::Resistance, 0};
    if (prefix.size() != 1)
        return {};
    switch (prefix.front()) {
    case 'k':
    case 'K':
        return {QuantityKind::Resistance, 3};
    case 'M':
        return {QuantityKind::Resistance, 6};
    case 'G':
        return {QuantityKind::Resistance, 9};
    case 'T':
        return {QuantityKind::Resistance, 12};
    default:
        return {};
    }
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

ReadingQuantity readingQuantity(std::string_view value, std::string_view unit) {
    const UnitScale scale = unitScale(unit);
    ReadingQuantity q;
    q.kind = scale.kind;
    // The digits are read by the chart's parser with no unit, so both agree on what a number is.
    const std::optional<double> n = readingNumber(value, {});
    if (!n)
        return q;
    if (scale.exponent == 0) {
        q.base = *n;
        return q;
    }
    // The digits are moved by the unit's power of ten before they become a binary number, in
    // one correctly rounded step: "1.001" kΩ is 1001 Ω, where a product of two rounded
    // numbers gives 1000.9999999999999.
    std::string_view digits = trimmed(value);
    if (digits.starts_with('+'))
        digits.remove_prefix(1);
    std::string text(digits);
    text += 'e';
    text += std::to_string(scale.exponent);
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v))
        q.base = v;
    return q;
}

ReadingQuantity readingQuantity(double value, std::string_view unit) {
    const UnitScale scale = unitScale(unit);
    ReadingQuantity q;
    q.kind = scale.kind;
    const double v = value * std::pow(10.0, scale.exponent);
    if (std::isfinite(v))
        q.base = v;
    return q;
}

InsulationReading insulationReading(std::string_view value, std::string_view unit) {
    const ReadingQuantity q = readingQuantity(value, unit);
    if (!q.base)
        return {};
    if (q.kind != QuantityKind::Resistance)
        return {InsulationKind::Foreign, 0};
    // A negative resistance is no reading of insulation: it counts as no number.
    if (*q.base < 0)
        return {};
    return {InsulationKind::Numeric, *q.base};
}

} // namespace kx
