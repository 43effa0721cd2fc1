#pragma once

#include <QtGlobal>

#include <functional>

namespace kx {

// Whose field names a save looks for first: the live table's (No, Time, Value, Unit, V_Range,
// I_Range) or the stored table's (SNo, STime, ...). The six fields are found as the grids
// find them (matchReadingsFields): by either set of names, else by the position and kind of
// the table's fields. A table whose fields cannot be matched is not saved.
enum class ExportKind { Live, Store };

// Told how far a save has come (done of total records) every few thousand records; returning
// false cancels the save. The total is fixed when the save starts: records appended while it
// runs are not part of it.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

} // namespace kx
