#pragma once

#include "common/result.h"
#include "recording/journalled_readings.h"

#include <QString>

#include <functional>

namespace kx {
class ReadingsTable;
}

namespace kx::cli {

// Every command that reads a table file opens it through here, so each gives the journal of a
// recording into the file its due (journalled_readings.h) and tells on stderr what it found.

// Opens `table` on the file at `path` (relative to the working folder) for reading. False when
// it could not be opened, the reason told.
bool openTableForReading(ReadingsTable& table, const QString& path);

// For commands that stream the file: `openFile` opens it (see openWithJournal); the readings
// to show after its records come back. The failure is the caller's to tell.
Result<JournalledReadings>
streamWithJournal(const QString& path,
                  const std::function<Result<qint64>(const JournalledReadings&)>& openFile);

} // namespace kx::cli
