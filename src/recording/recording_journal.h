#pragma once

#include "common/result.h"
#include "readings/readings_schema.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <sys/types.h>

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
// the file the readings were recorded on (when the user had opened one), a line of fixed width
// that is overwritten in place when the journal can no longer be written (a full disk: it
// needs no new space), then one line per reading and one per deleted record. Texts are
// written in hexadecimal, so no byte of a reading can break a line.
//   KXJOURNAL 1
//   B <records> <highest No or ->
//   F <file path>
//   G <No of the first reading not kept, 11 digits, or 11 '-'>
//   R <No> <ms of day or -> <Value> <Unit> <V_Range> <I_Range>
//   D <No>
class RecordingJournal {
public:
    using Reading = kx::Reading;

    // Opens the journal for a new recording: the file is created empty (a journal left
    // there must have been recovered first) and locked. `base`, when given, describes the
    // table file the readings are to follow (see JournalBase).
    // `follows`, when given, names the table file the readings were recorded on.
    static Result<std::unique_ptr<RecordingJournal>>
    create(const QString& path, const std::optional<JournalBase>& base = std::nullopt,
           const QString& follows = {});
    ~RecordingJournal(); // syncs and closes; the file stays

    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    Status append(const Reading& r);
    Status appendDeletion(std::int32_t no);
    // The journal starts empty: the recording was discarded on purpose (Clear All, New), or
    // its readings are safe in the table file `base` describes (a checkpoint).
    Status restart(const std::optional<JournalBase>& base = std::nullopt,
                   const QString& follows = {});
    // The journal could not be written from reading `no` on: said in the file without
    // growing it, so a recovery can name what it could not bring back. Best effort.
    void markLost(std::int32_t no);
    // Writes the journal afresh, under the base and file it names now, holding `readings`
    // (after a failure, once the disk takes writes again): the new file replaces the old one
    // only when it is complete, so a failure leaves the old one as it was.
    Status rewrite(const std::vector<Reading>& readings);
    // The recording ended normally: closes and removes the file.
    Status finish();

    const QString& path() const { return path_; }

private:
    RecordingJournal(QString path, int fd) : path_(std::move(path)), fd_(fd) {}
    Status writeAll(const std::string& bytes);
    void syncIfDue();
    std::string head() const; // the lines before the readings
    static std::string line(const Reading& r);

    QString path_;
    int fd_ = -1;
    std::int64_t lastSyncMs_ = 0;
    std::optional<JournalBase> base_;
    QString follows_;
    off_t lostAt_ = -1; // where the fixed-width field of the lost line is
};

// What a journal file holds: the readings still recorded (deleted ones taken out), in the
// order they were recorded. A line cut short by a crash, or damaged, is skipped and counted.
struct JournalContents {
    std::vector<RecordingJournal::Reading> readings;
    std::optional<JournalBase> base; // the table the readings follow, when the journal says
    QString follows;                 // the file they were recorded on, when the journal names one
    int damagedLines = 0;
    // The number of the last good reading before each damaged line (0: before any reading).
    std::vector<std::int32_t> damagedAfter;
    // The first reading the journal could not keep: those from it on are missing.
    std::optional<std::int32_t> lostFrom;
    bool recognised = false; // the header was there
};
JournalContents parseJournal(QByteArrayView bytes);

// What a recovery of the journal cannot bring back, in words, one stretch an entry.
QStringList unrecoveredStretches(const JournalContents& contents);
// The readings' count and the range of their numbers in words: "21 readings (No. 67-87)".
QString recoveredReadingsText(const std::vector<RecordingJournal::Reading>& readings);

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
// The journals in `folder` that no running program holds and that are empty: a run whose
// journal never started (the disk was full) and that ended without finishing it.
QStringList unstartedJournals(const QString& folder);

// Writes the readings of a journal left by a crash as a keyed readings table
// "recovered-yymmddhhnn.db" in `folder` (named from `now`; "-2", "-3"... when taken), then
// removes the journal. Gives the table's path, or an empty path when the journal held no
// readings (it is removed all the same). On failure the journal stays for the next try.
Result<QString> recoverJournal(const QString& journalPath, const QString& folder,
                               const QDateTime& now);

} // namespace kx
