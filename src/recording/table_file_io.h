#pragma once

#include "common/result.h"

#include <QString>

namespace kx {

class ReadingsTable;
namespace px {
struct WriteOptions;
}

// Writing readings tables as Paradox files (a table reads its own file when it opens).

// Writes the open table, pending records included, as a new Paradox table at `path` with a
// primary index on its first field. An existing file of that name is replaced.
Status saveKeyedCopy(const ReadingsTable& table, const QString& path);
// The same without taking the target's lock: for a caller that holds it (and, with
// options.keepLock, gets the new file's lock back).
Status writeKeyedFile(const ReadingsTable& table, const QString& path,
                      const px::WriteOptions& options);

} // namespace kx
