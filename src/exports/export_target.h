#pragma once

#include "common/result.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace kx {

class ReadingsTable;

namespace px {
class TableLock;
}

// Checks a target by the rules of every write and, when a file is there, takes it for the
// length of the save, so that no other program opens it as a table meanwhile; refuses the
// file of `source` itself, a file that belongs to it (its index or test details, in any case of
// the name) and a file another program holds as a table. The files in `companions` (a table's
// index and details) are written with it and checked by the same rules.
Result<std::unique_ptr<px::TableLock>> claimExportTarget(const QString& path,
                                                         const ReadingsTable* source,
                                                         const QStringList& companions = {});

} // namespace kx
