#pragma once

#include "common/result.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace kx {

namespace px {
class TableLock;
}
class ReadingsTable;

// Keeps a table file in step with a recording as it grows, so that a recording cut short (a
// kill, a crash, a power cut) loses at most its last few seconds. At each checkpoint the whole
// table is written as a keyed table beside the target and renamed over it: the file is a valid
// keyed table after every checkpoint, never a half-written one.
//
// The target's lock is taken at the start and held to the end, from each file to the next (the
// new file is locked before it takes the name), so a second recorder or the window is refused
// at once instead of losing its readings or ours at the end.
//
// Checkpoints come every kEveryRecords records or kEverySeconds seconds, whichever is first,
// and never take more than about a tenth of the time: a table so large that writing it takes
// longer than half a second is written less often.
class TableCheckpoint : public QObject {
    Q_OBJECT
public:
    static constexpr int kEveryRecords = 100;
    static constexpr int kEverySeconds = 5;
    static constexpr qint64 kSlowWriteMs = 500;

    // Claims the target: refuses something that is not a plain file and a table another
    // program has open. A target that does not exist is created at once, as an empty keyed
    // table of the table's fields; an existing one is left as it is until the first checkpoint.
    static Result<std::unique_ptr<TableCheckpoint>> begin(const QString& path,
                                                          const ReadingsTable& table);
    ~TableCheckpoint() override;

    // Writes the table now.
    Status write();
    // The recording has ended: the last checkpoint. With nothing recorded since the last
    // checkpoint and the run failed, the target is left as it was (a file this checkpoint
    // created is removed).
    Status finish(bool runFailed);

    qint64 checkpoints() const { return written_; }
    const QString& path() const { return path_; }
    // Whether begin() made the target (it was not there).
    bool created() const { return created_; }
    // The table now holds what the target holds (its records were read to be appended to):
    // the target is not written again until the table grows.
    void holdsTable();

Q_SIGNALS:
    // A checkpoint failed (a full disk, say); the next one tries again.
    void writeFailed(const QString& message);

private:
    TableCheckpoint(const QString& path, const ReadingsTable& table);
    void onRowAppended();
    void onTimer();
    void writeWhenDue();

    QString path_;
    const ReadingsTable& table_;
    std::unique_ptr<px::TableLock> lock_;
    bool created_ = false;
    qint64 rowsWritten_ = -1; // rows in the last checkpoint; -1 before the first
    qint64 written_ = 0;
    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 lastTookMs_ = 0;
    bool failing_ = false;
};

} // namespace kx
