#pragma once

#include "common/result.h"
#include "recording/readings_schema.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// The table file a journal's readings follow: it held `records` records, the highest numbered
// `highestNo`, when the readings after it began. A journal whose table still looks like this
// can be folded into it.
struct JournalBase {
    qint64 records = 0;
    std::optional<std::int32_t> highestNo; // none: no record has a number
    bool operator==(const JournalBase&) const = default;
};

// An append-only file beside the recording that keeps every recorded reading until the
// recording ends normally. Recorded readings live only in memory (pending records of the
// live table); if the program dies, the next start finds the journal and writes its readings
// to a table, so a crash loses nothing.
//
// Each reading is written with one write() as it is recorded, so it survives the process
// being killed; the file is synced to disk every few seconds and when it closes. While a
// journal is open its file is locked, so another instance of the program never mistakes a
// live journal for one left by a crash.
//
// The file is text: a header line, the table the readings follow (when they follow one),
// then one line per reading and one per deleted record. Texts are written in hexadecimal, so
// no byte of a reading can break a line.
//   KXJOURNAL 1
//   B <records> <highest No or ->
//   R <No> <ms of day or -> <Value> <Unit> <V_Range> <I_Range>
//   D <No>
class RecordingJournal {
public:
    using Reading = kx::Reading;

    // Opens the journal for a new recording: the file is created empty (a journal left
    // there must have been recovered first) and locked. `base`, when given, describes the
    // table file the readings are to follow (see JournalBase).
    static Result<std::unique_ptr<RecordingJournal>>
    create(const QString& path, const std::optional<JournalBase>& base = std::nullopt);
    ~RecordingJournal(); // syncs and closes; the file stays

    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    Status append(const Reading& r);
    Status appendDeletion(std::int32_t no);
    // The journal starts empty: the recording was discarded on purpose (Clear All, New), or
    // its readings are safe in the table file `base` describes (a checkpoint).
    Status restart(const std::optional<JournalBase>& base = std::nullopt);
    // The recording ended normally: closes and removes the file.
    Status finish();

    const QString& path() const { return path_; }

private:
    RecordingJournal(QString path, int fd) : path_(std::move(path)), fd_(fd) {}
    Status writeAll(const std::string& bytes);
    void syncIfDue();

    QString path_;
    int fd_ = -1;
    std::int64_t lastSyncMs_ = 0;
};

// What a journal file holds: the readings still recorded (deleted ones taken out), in the
// order they were recorded. A line cut short by a crash, or damaged, is skipped and counted.
struct JournalContents {
    std::vector<RecordingJournal::Reading> readings;
    std::optional<JournalBase> base; // the table the readings follow, when the journal says
    int damagedLines = 0;
    bool recognised = false; // the header was there
};
JournalContents parseJournal(QByteArrayView bytes);

// A journal file at `path` that no running program holds: left by a crash. Missing, empty
// or locked journals give false.
bool journalLeftOver(const QString& path);
// A journal file at `path` that a running program holds (locked): its recording goes on.
bool journalInUse(const QString& path);
// The journals in `folder` ("recording-*.journal") left by programs that ended without
// finishing them, oldest first. Each running program journals into a file of its own.
QStringList leftOverJournals(const QString& folder);
// A fresh journal name in `folder` for this run of the program.
QString newJournalPath(const QString& folder);

// Writes the readings of a journal left by a crash as a keyed readings table
// "recovered-yymmddhhnn.db" in `folder` (named from `now`; "-2", "-3"... when taken), then
// removes the journal. Gives the table's path, or an empty path when the journal held no
// readings (it is removed all the same). On failure the journal stays for the next try.
Result<QString> recoverJournal(const QString& journalPath, const QString& folder,
                               const QDateTime& now);

} // namespace kx
