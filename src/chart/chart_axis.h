#pragma once

#include <QString>

#include <vector>

namespace kx {

// What the chart's value axis measures. An insulation tester's chart shows resistance; a
// table that holds voltage readings only (a meter used as a voltmeter) shows volts; readings
// without a unit the program knows (tables of other programs) are shown as plain numbers.
enum class ChartQuantity : unsigned char { Resistance, Voltage, Plain };

struct ChartTick {
    double at = 0; // on the axis, in its own coordinates
    QString label;
    bool operator==(const ChartTick&) const = default;
};

// The chart's value axis: where a reading goes and the ticks that label it.
//
// Resistance goes on a logarithmic axis: insulation readings span decades (a cable that
// charges from kΩ to GΩ, a winding that absorbs over ten minutes), and a linear axis would
// flatten everything below the largest reading onto the floor. Its coordinates are in MΩ, or
// in GΩ once the largest reading shown reaches 1 GΩ; each tick is labelled in the unit that
// reads best for it ("500 MΩ", "1 GΩ", "50 kΩ"). Voltages and plain numbers go on a linear
// axis.
struct ChartAxis {
    ChartQuantity quantity = ChartQuantity::Plain;
    bool logarithmic = false;
    double scale = 1; // base units (ohms, volts) per unit shown: 1e6 for MΩ
    QString unit;     // the unit of the coordinates: "MΩ", "GΩ", "V", "kV", "" ...; the
                      // labels of a linear axis end in it, a resistance tick names its own
    double lo = 0;    // the axis' ends, in its own coordinates: the number in the unit shown,
    double hi = 1;    // or its decimal logarithm on a logarithmic axis
    std::vector<ChartTick> ticks; // from lo to hi, both ends included

    // The axis coordinate of a reading in base units. On a logarithmic axis a reading of zero
    // or less (a short circuit) sits on the floor, and one beyond the axis' ends on that end.
    double at(double base) const;

    bool operator==(const ChartAxis&) const = default;
};

// The axis while the chart shows only its sample point: -11000 to 11000 in five ticks.
ChartAxis sampleAxis();

// A logarithmic resistance axis for readings from `least` (the smallest above zero; 0 when no
// reading is above zero) to `most`, in ohms. Ticks are round: every decade, or 1-2-5 within
// decades when the readings span few, or evenly spaced ones when they span less than a factor
// of three. With nothing above zero the axis shows 1 to 1000 MΩ.
ChartAxis resistanceAxis(double least, double most);

// A linear axis for readings from `min` to `max` in base units: volts ("V", "kV", "mV"), or
// plain numbers with an SI prefix ("950M"). With nothing to show (min > max) a voltage axis
// shows 0 to 1000 V and a plain one the sample's axis.
ChartAxis linearAxis(ChartQuantity quantity, double min, double max);

} // namespace kx
