// Room recording: the recording rules, the journal and the one keeper of recordings. Uses
// common, paradox, display, link and readings.
#pragma once

#include "common/result.h"
#include "recording/recording_journal.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace kx {

namespace px {
class TableLock;
}
class ReadingsTable;

// What start-up made of the journals earlier runs left behind.
struct JournalRecovery {
    QStringList tables; // the recovered tables, oldest first
    QStringList errors; // journals that could not be recovered (they stay for the next start)
    // For each recovered table: how many readings it holds and what could not be recovered.
    QStringList notes;
    // Runs whose journal never started: their readings are lost, and the user is told.
    int unstarted = 0;
};

// A recording an earlier run left in its journal, read before anything is done with it.
struct LeftOverRecording {
    QString journal;
    JournalContents contents;
    // The file the readings were recorded on, when it still holds what it held then: they
    // continue it and can be appended to it (foldJournalInto). Empty otherwise.
    QString continues;
    qint64 continuesRecords = 0;
};
std::vector<LeftOverRecording> leftOverRecordings(const QString& journalFolder);
// "21 readings (No. 67-87) of a recording that did not end normally".
QString leftOverText(const LeftOverRecording& left);
// The file they were recorded on, when they were: "They continue /a/old.db (66 records)."
QString leftOverContext(const LeftOverRecording& left);

// A table file claimed for a recording (RecordingKeeper::keepInFile).
struct KeptFile {
    qint64 kept = 0;   // records of the file kept ahead of the new ones (appending)
    QStringList notes; // what became of the readings an earlier, killed recording left
};

// Keeps the readings of a recording safe from a crash, a kill or a power cut while they are
// recorded. They live in the live table's memory as pending records; the keeper writes each
// one, as it is recorded, to a journal (RecordingJournal: one write a reading, the file locked
// while in use), and how the recording is kept beyond that depends on where it goes:
//
// - In the window (journalIn): the recording is the live table, which may be a file the user
//   opened and is written only when the user saves it. A journal that a crash leaves behind
//   is written as a keyed table "recovered-yymmddhhnn.db" at the next start
//   (recoverJournals): a kill loses at most the reading being written.
// - On the command line (keepInFile): the recording goes to a table file, claimed at once and
//   written as the recording goes. At each checkpoint the whole table is written as a keyed
//   table beside the target and renamed over it, so the file is a valid keyed table after
//   every checkpoint; the journal beside it (".NAME.journal") then starts afresh. The next
//   claim of the file folds in the readings a killed recording journalled after its last
//   checkpoint, so there too a kill loses at most the reading being written.
//
// Checkpoints come every kEveryRecords records or kEverySeconds seconds, whichever is first,
// and never take more than about a tenth of the time: a table so large that writing it takes
// longer than half a second is written less often. The target's lock is held from the claim
// to the end, passed from each file to the next (the new file is locked before it takes the
// name), so a second recorder or the window is refused at once.
class RecordingKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr int kEveryRecords = 100;
    static constexpr int kEverySeconds = 5;
    static constexpr qint64 kSlowWriteMs = 500;
    static constexpr int kRetrySeconds = 5;

    explicit RecordingKeeper(ReadingsTable& live, QObject* parent = nullptr);
    // A journal still open stays for the next start or claim, as a crash leaves it.
    ~RecordingKeeper() override;

    // The window's keeping: every reading recorded from now on, and those the live table
    // already holds, go to a new journal in `folder` (made when missing). A journal that
    // cannot be written is tried again every kRetrySeconds (journalStateChanged says so);
    // the recording goes on without it meanwhile.
    Status journalIn(const QString& folder);
    // The program's own scratch table: readings recorded on it follow no file of the user's.
    void setScratchTable(const QString& path) { scratchPath_ = path; }
    // The window's live table was opened on a file: the readings recorded from now on
    // follow its records, and the journal names the file when it is one the user opened.
    void followTable();

    // The command line's keeping: claims `path` for the live table's recording. Something
    // that is not a plain file, a read-only table or index, and a table another program has
    // open are refused. A missing file is made at once as an empty keyed table of the live
    // table's fields. An existing one is left as it is until the first checkpoint; with
    // `append` its records are read into the live table first (it must be a readings table:
    // checkRecordableFields) so the recording follows them. The readings an earlier recording
    // into `path` journalled and never wrote are folded in first (foldJournal); when the file
    // has changed since, or without `append` (the file is to be replaced), they are saved
    // beside it as "recovered-yymmddhhnn.db" (named from `now`). KeptFile::notes says which.
    Result<KeptFile> keepInFile(const QString& path, bool append, const QDateTime& now);

    // The recording ended normally: the last checkpoint is written and the journal removed.
    // With nothing recorded since the last checkpoint and `runFailed`, the file is left as it
    // was (one the claim made is removed). A last checkpoint that fails keeps the journal for
    // the next claim.
    Status finish(bool runFailed = false);
    // The program is told to stop: the journal is closed and left for the next start.
    void leave();

    bool journaling() const { return journal_ != nullptr; }
    // Why the journal cannot be written; empty while it works.
    const QString& journalFailure() const { return journalFailure_; }
    // Tries a failing journal again now: written afresh with every reading it should hold.
    void retryJournal();
    QString journalPath() const;
    // The claimed file; empty when the recording is not kept in a file.
    const QString& filePath() const { return path_; }
    qint64 checkpoints() const { return written_; }
    // Writes the table to the claimed file now.
    Status checkpoint();

    // The journal a recording into `tablePath` keeps beside it.
    static QString journalBeside(const QString& tablePath);

Q_SIGNALS:
    // Writing the journal or a checkpoint failed (a full disk, say); told once until a write
    // succeeds again. The recording goes on; the next checkpoint tries again.
    void keepFailed(const QString& message);
    // The journal stopped working (`failure` says why) or works again (`failure` empty).
    void journalStateChanged(const QString& failure);

private:
    void watchTable();
    void journalRow(qint64 row);
    void journalDeletion(qint64 row);
    void journalRestart();
    void journalFailed(const Status& s, std::optional<std::int32_t> no = std::nullopt);
    Status openJournal();
    std::optional<JournalBase> journalBase() const;
    std::vector<Reading> journalledReadings() const;
    void onRowsChanged();
    void writeWhenDue();
    // The file as the last checkpoint left it, for the journal's base line.
    JournalBase written() const;
    void stopKeeping();

    ReadingsTable& live_;
    std::unique_ptr<RecordingJournal> journal_;
    bool journalFailing_ = false;
    QString journalFailure_;
    QString journalWanted_; // where the journal is kept, also while it cannot be
    QTimer retry_;
    QString scratchPath_;
    // The window's recording: the file it follows (none on the scratch table), as it was
    // when opened, and the first row of the live table that the journal holds.
    std::optional<JournalBase> followsBase_;
    QString follows_;
    qint64 journalFrom_ = 0;

    QString path_; // the claimed file
    std::unique_ptr<px::TableLock> lock_;
    bool created_ = false;
    bool dropDetails_ = false; // an older table's details are still to go (a new recording)
    qint64 rowsWritten_ = -1;  // rows in the last checkpoint; -1 before the first
    qint64 written_ = 0;
    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 lastTookMs_ = 0;
    bool checkpointFailing_ = false;
};

// Start-up: the journals in `journalFolder` that runs ended without finishing (a crash, a
// kill) are written as keyed tables "recovered-yymmddhhnn.db" in `tableFolder` and removed.
JournalRecovery recoverJournals(const QString& journalFolder, const QString& tableFolder,
                                const QDateTime& now);
// Removes the journals in `folder` that never started (unstartedJournals); gives how many.
int removeUnstartedJournals(const QString& folder);
// Writes the readings of the journal `journal` (left by a crash) into the table file they
// continue by the fold a claim of that file makes (RecordingKeeper::keepInFile with append),
// then removes the journal. Gives what the fold says it did. On failure the journal stays.
Result<QStringList> foldJournalInto(const QString& journal, const QString& table,
                                    const QDateTime& now);

} // namespace kx
