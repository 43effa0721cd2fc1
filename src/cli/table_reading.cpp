#include "cli/table_reading.h"

#include "cli/json_output.h"
#include "readings/readings_table.h"

#include <QDateTime>
#include <QFileInfo>

namespace kx::cli {
namespace {

void tell(const Result<JournalledReadings>& j) {
    if (j && !j.value().message.isEmpty())
        printError(j.value().message);
}

} // namespace

bool openTableForReading(ReadingsTable& table, const QString& path) {
    const Result<JournalledReadings> j =
        openTableToRead(table, QFileInfo(path).absoluteFilePath(), QDateTime::currentDateTime());
    if (!j) {
        printError(j.error());
        return false;
    }
    tell(j);
    return true;
}

Result<JournalledReadings>
streamWithJournal(const QString& path,
                  const std::function<Result<qint64>(const JournalledReadings&)>& openFile) {
    Result<JournalledReadings> j =
        openWithJournal(QFileInfo(path).absoluteFilePath(), QDateTime::currentDateTime(), openFile);
    tell(j);
    return j;
}

} // namespace kx::cli
