#pragma once

#include "common/result.h"

#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace kx {

// Recorded cable input reports as text: one report a line, hexadecimal bytes separated by
// blanks (pairs may also run together), report ID first, as in "00 F3 FF F7 00".
inline constexpr std::size_t kMaxReportLineBytes = 65; // report ID and up to 64 data bytes

// Parses one line that is neither blank nor a comment. Returns its bytes (none for a line of
// blanks), or the fault: an odd number of digits, a character that is not hexadecimal, or more
// than kMaxReportLineBytes bytes. Pure: no I/O, any bytes accepted as input.
Result<std::vector<std::uint8_t>> parseReportLine(QByteArrayView line);

// Whether a line of a report file carries no report: blank, or a comment starting with '#'.
bool isReportLineSkipped(QByteArrayView line);

} // namespace kx
