#include "recording/reading_quantity.h"

#include "recording/chart_values.h"

#include <cmath>

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
    double factor = 1;
};

UnitScale unitScale(std::string_view unit) {
    unit = trimmed(unit);
    std::string_view prefix;
    if (unit.ends_with(kOhmCp936))
        prefix = unit.substr(0, unit.size() - kOhmCp936.size());
    else if (unit.ends_with(kOhmUtf8))
        prefix = unit.substr(0, unit.size() - kOhmUtf8.size());
    else if (unit == "V" || unit == "mV" || unit == "kV")
        return {QuantityKind::Voltage, 1};
    else
        return {};
    if (prefix.empty())
        return {QuantityKind::Resistance, 1};
    if (prefix.size() != 1)
        return {};
    switch (prefix.front()) {
    case 'k':
    case 'K':
        return {QuantityKind::Resistance, 1e3};
    case 'M':
        return {QuantityKind::Resistance, 1e6};
    case 'G':
        return {QuantityKind::Resistance, 1e9};
    case 'T':
        return {QuantityKind::Resistance, 1e12};
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
    const double v = *n * scale.factor;
    if (std::isfinite(v))
        q.base = v;
    return q;
}

ReadingQuantity readingQuantity(double value, std::string_view unit) {
    const UnitScale scale = unitScale(unit);
    ReadingQuantity q;
    q.kind = scale.kind;
    const double v = value * scale.factor;
    if (std::isfinite(v))
        q.base = v;
    return q;
}

} // namespace kx
