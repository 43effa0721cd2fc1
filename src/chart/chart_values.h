#pragma once

#include <optional>
#include <string_view>

namespace kx {

// The numbers of the chart's value axis (readings as numbers: readingNumber, in
// reading_quantity.h). Pure functions on numbers; nothing here touches a table.

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
