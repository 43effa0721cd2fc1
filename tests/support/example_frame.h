#pragma once

#include <string>
#include <string_view>

namespace kx::test {

// The meter frame of the worked example: 1.234 GΩ at 1000 V, timer 01:30, memory 5.
inline const std::string kExampleFrame = "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A";

// The frame with the characters at 1-based position pos replaced.
inline std::string with(std::string frame, int pos, std::string_view chars) {
    frame.replace(static_cast<std::size_t>(pos - 1), chars.size(), chars);
    return frame;
}

} // namespace kx::test
