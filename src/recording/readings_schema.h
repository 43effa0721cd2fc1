#pragma once

#include "paradox/paradox_value.h"

#include <vector>

namespace kx {

// Field lists of the two readings tables: No (Long), Time (Time), Value, Unit, V_Range and
// I_Range (Alpha, wide enough for the longest texts the decoder produces), and the S-prefixed
// twins of the stored-readings table.
std::vector<px::FieldDef> readingsFields(bool store = false);

} // namespace kx
