#pragma once

#include "common/result.h"
#include "paradox/paradox_salvage.h"

#include <QString>

namespace kx {

// Salvage of a damaged table for both front ends: what can still be read goes to a new keyed
// table beside it, "NAME-salvaged.db" (px::salvageTable), the program's readings layouts
// helping to read a damaged header; the damaged file stays as it is.

// Salvages `path`; an existing salvaged table is replaced only with `replace`.
Result<px::SalvageReport> salvageTableFile(const QString& path, bool replace);

// Offered when a table cannot be opened (`failure` says why): the question whether to salvage
// it, naming what is wrong, how many records can be read and a salvaged table that would be
// replaced. Empty when the table reads whole or nothing can be read from it.
QString salvageQuestion(const QString& path, const QString& failure);

// What a salvage did, in words for a box: how many records were kept, which were left out and
// why (the first few stretches, then how many more).
QString salvageReportText(const px::SalvageReport& report);

} // namespace kx
