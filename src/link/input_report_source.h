#pragma once

#include <array>
#include <cstdint>

namespace kx {

// What a cable's serial-to-HID chip turns the meter's serial line into: one 8-byte input
// report (without report ID) per poll. Data byte 0 is the header 0xF0 | n, n <= 7 payload
// bytes follow; 0xF0 alone when no byte arrived since the last report.
class InputReportSource {
public:
    using Report = std::array<std::uint8_t, 8>;

    virtual ~InputReportSource() = default;

    // The report the chip delivers at cable time nowUs (microseconds since the source began).
    // Called in increasing time order, normally every 12 ms.
    virtual Report nextReport(std::int64_t nowUs) = 0;
};

} // namespace kx
