#pragma once

#include "recording/paradox_value.h"

#include <vector>

namespace kx::px {

// Field lists of the two readings tables: No (Long), Time (Time), Value, Unit, V_Range and
// I_Range (Alpha, wide enough for the longest texts the decoder produces), and the S-prefixed
// twins of the stored-readings table.
std::vector<FieldDef> readingsFields();
std::vector<FieldDef> storeFields();

} // namespace kx::px
