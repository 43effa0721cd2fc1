#include "recording/reading_quantity.h"

#include "recording/chart_values.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kx {
namespace {

constexpr std::string_view kOhmCp936 = "\xA6\xB8";
constexpr std::string_view kOhmUtf8 = "\xCE\xA9";

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

} // namespace kx
