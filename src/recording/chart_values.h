#pragma once

#include <optional>
#include <string_view>

namespace kx {

// Readings as numbers for the chart, and the numbers of its value axis. Pure functions on
// texts and numbers; nothing here touches a table.

// The reading of a record as a number in its unit's base (ohms or volts), so that 950 MΩ and
// 1.2 GΩ compare in order. `value` is the meter's digits as recorded: an optional sign,
// digits and at most one decimal point, blanks around allowed. `unit` scales by its SI
// prefix ("kΩ", "MΩ", "GΩ", "TΩ"; "V" and "Ω" are the base); a unit the program does not
// know counts as the base. Nothing for a blank value, dashes, an overload ("0L") or any
// other text that is not a plain number. Texts are code page 936 bytes; only ASCII matters.
std::optional<double> readingNumber(std::string_view value, std::string_view unit);

// The factor of a unit's SI prefix: 1e3 for "kΩ", 1e9 for "GΩ", 1 for "V", "Ω" or "".
double unitFactor(std::string_view unit);

// A value axis laid out for the numbers lo..hi: round ends, a round step between ticks, and
// an SI prefix that keeps the labels short ("950M", "1.2G").
struct ValueAxisLayout {
    double lo = 0;      // in base units
    double hi = 1;      // in base units
    double step = 1;    // between ticks, in base units
    int tickCount = 2;  // ticks from lo to hi, both ends included
    double scale = 1;   // labels show value / scale ...
    char prefix = '\0'; // ... followed by this prefix ('k', 'M', 'G', 'T', 'm', 'u', ...)
    int decimals = 0;   // decimals a label needs to tell ticks apart
};

// Lays out an axis that holds min..max with about five ticks. Equal ends get a span around
// them; ends that are not finite or reversed give the layout of 0..1.
ValueAxisLayout valueAxisLayout(double min, double max);

// A round step for a span of `span` units shown with about `ticks` intervals: 1, 2, 2.5 or 5
// times a power of ten.
double roundStep(double span, int ticks);

} // namespace kx
