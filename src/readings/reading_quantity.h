#pragma once

#include <optional>
#include <string_view>

namespace kx {

// What a recorded reading measures, told by its unit text.
enum class QuantityKind : unsigned char {
    Resistance, // "Ω", "kΩ", "MΩ", "GΩ", "TΩ"
    Voltage,    // "V" (also "mV", "kV")
    Other,      // no unit, or a unit the meter does not show
};

struct ReadingQuantity {
    QuantityKind kind = QuantityKind::Other;
    // The value in its unit's base: ohms for a resistance (950 MΩ gives 9.5e8), the number as
    // it stands for anything else. Empty when the value is not a number: blank, dashes, an
    // overload ("L", "0L", "L0.20"), letters, a second point, or a magnitude no reading has.
    std::optional<double> base;
};

// The one reading of a recorded value and unit as a quantity; the results, the exports and
// anything else that needs the number of a reading go through here. `value` is the meter's
// digits as recorded: an optional sign, digits and at most one decimal point, blanks around
// allowed. Texts are code page 936 bytes (the ohm sign is A6 B8; its UTF-8 form is taken too,
// for tables typed by hand). Never fails: damaged texts give an Other kind or no number.
ReadingQuantity readingQuantity(std::string_view value, std::string_view unit);
// The same for a value a table keeps as a number (tables of other programs may); a value that
// is not finite is no number.
ReadingQuantity readingQuantity(double value, std::string_view unit);

// The reading of a record as a number in its unit's base (ohms or volts), so that 950 MΩ and
// 1.2 GΩ compare in order. `value` is the meter's digits as recorded: an optional sign,
// digits and at most one decimal point, blanks around allowed. `unit` scales by its SI
// prefix ("kΩ", "MΩ", "GΩ", "TΩ"; "V" and "Ω" are the base); a unit the program does not
// know counts as the base. Nothing for a blank value, dashes, an overload ("0L") or any
// other text that is not a plain number. Texts are code page 936 bytes; only ASCII matters.
std::optional<double> readingNumber(std::string_view value, std::string_view unit);

// What a reading is to an insulation test: a resistance reading (ohms, not negative), a record
// without a number (blank, dashes, overload, a negative resistance), or a number in another
// unit (a voltage check). The test finder and the recording, which keeps the edges of such
// stretches, read the texts the same way.
enum class InsulationKind : unsigned char { Numeric, NoNumber, Foreign };
struct InsulationReading {
    InsulationKind kind = InsulationKind::NoNumber;
    double ohms = 0; // for Numeric
};
InsulationReading insulationReading(std::string_view value, std::string_view unit);

// The factor of a unit's SI prefix: 1e3 for "kΩ", 1e9 for "GΩ", 1 for "V", "Ω" or "".
double unitFactor(std::string_view unit);

} // namespace kx
