#pragma once

#include "paradox/paradox_value.h"

#include <cstdint>
#include <string>

namespace kx {

// The display form of field values: what the grids show, the reports print and the text
// export writes. Times of day use the system's long time format (without a time-zone
// name), dates its short date format. Texts stay code page 936 bytes.

std::string timeOfDayText(std::int32_t msOfDay);
// Whether that form shows milliseconds; when it does not, times within one second read alike.
bool timeOfDayTextShowsMilliseconds();
// Appends "HH:MM:SS.zzz" whatever the system's format, for files other programs read.
void appendTimeOfDay(std::string& out, std::int32_t msOfDay);
// Blank for a day number outside 0001-01-01 .. 9999-12-31.
std::string dateText(std::int64_t days);
// Date and time; a timestamp of day 0 or earlier shows its time of day alone (how a time
// written into a timestamp field reads back). Blank when the value cannot be a date
// (NaN, infinite, absurdly large: damaged files hold any bit pattern).
std::string timestampText(double ms);

// The display form of any value of a field of the given type; empty for NULL.
std::string displayText(px::FieldType type, const px::Value& v);

} // namespace kx
