#pragma once

#include "analysis/live_results.h"
#include "cli/command_line.h"

#include <optional>

namespace kx::cli {

// The options that change how insulation tests are judged, shared by `results` and
// `report --kind results`: --temperature C, --base 40|20, --minimum MOHM, --pi-minimum X.
// Their defaults are the table's test details; without those, the program's own.
void addResultOptions(CommandLine& line);
// Reads them into `o`; nothing when they are good, else the exit code of bad usage (told).
std::optional<int> readResultOptions(const CommandLine& line, ResultOverrides& o);
// Whether any of them was given.
bool resultOptionsGiven(const CommandLine& line);

// A decimal number (a point, not a comma) given to option `name`, in [min, max] or, with
// `above`, above `min`; nothing when the option is not given. Any other text is bad usage:
// `bad` is set to the exit code, the reason told with `range` ("from -50 to 200").
std::optional<double> decimalOption(const CommandLine& line, const QString& name, double min,
                                    double max, bool above, const QString& range,
                                    std::optional<int>& bad);

} // namespace kx::cli
