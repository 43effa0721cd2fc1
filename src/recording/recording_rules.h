#pragma once

#include <optional>

namespace kx {

// How a recording is made, as far as finding its tests needs it; the recording control keeps
// the rules in force and the test details keep them with the table.
struct RecordingRules {
    // A record every `interval` seconds; none (or 0): each reading as the meter sends it.
    std::optional<int> interval;
    // Whether a value the meter repeats is recorded again; when not, the time between two
    // records under one mode and function is a value held, not a pause.
    bool repeat = true;
    bool operator==(const RecordingRules&) const = default;
};

} // namespace kx
