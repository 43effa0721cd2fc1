#include "recording/recording_keeper.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "recording/journalled_readings.h"
#include "recording/readings_table.h"
#include "recording/table_file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcKeeper, "kx.keeper")

} // namespace

RecordingKeeper::RecordingKeeper(ReadingsTable& live, QObject* parent)
    : QObject(parent), live_(live) {
    timer_.setInterval(kEverySeconds * 1000);
    connect(&timer_, &QTimer::timeout, this, &RecordingKeeper::writeWhenDue);
}

RecordingKeeper::~RecordingKeeper() = default;

QString RecordingKeeper::journalBeside(const QString& tablePath) {
    const QFileInfo fi(tablePath);
    return fi.dir().filePath(QLatin1Char('.') + fi.fileName() + QStringLiteral(".journal"));
}

QString RecordingKeeper::journalPath() const {
    return journal_ ? journal_->path() : QString();
}

void RecordingKeeper::watchTable() {
    disconnect(&live_, nullptr, this, nullptr);
    connect(&live_, &ReadingsTable::rowAppended, this, &RecordingKeeper::journalRow);
    connect(&live_, &ReadingsTable::rowAboutToBeRemoved, this, &RecordingKeeper::journalDeletion);
    // Clear All, New, Open and the recent entries drop the recording's readings on purpose,
    // and the journal with them.
    connect(&live_, &ReadingsTable::aboutToReset, this, &RecordingKeeper::journalRestart);
    if (!path_.isEmpty()) {
        connect(&live_, &ReadingsTable::rowAppended, this, &RecordingKeeper::onRowsChanged);
        connect(&live_, &ReadingsTable::rowRemoved, this, &RecordingKeeper::onRowsChanged);
    }
}

Status RecordingKeeper::journalIn(const QString& folder) {
    if (journal_)
        return {};
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot make the folder %1 for the recording journal")
                        .arg(QDir::toNativeSeparators(folder)));
    Result<std::unique_ptr<RecordingJournal>> j = RecordingJournal::create(newJournalPath(folder));
    if (!j)
        return j.status();
    journal_ = j.take();
    journalFailing_ = false;
    watchTable();
    // Readings recorded before the journal began (none at start-up) are written first.
    for (qint64 row = 0; row < live_.rowCount(); ++row)
        journalRow(row);
    return {};
}

void RecordingKeeper::journalFailed(const Status& s) {
    if (s) {
        journalFailing_ = false;
        return;
    }
    if (journalFailing_)
        return;
    journalFailing_ = true;
    Q_EMIT keepFailed(s.error());
}

void RecordingKeeper::journalRow(qint64 row) {
    // Only recordings have a number and a time; another table opened in the live one is not
    // journalled.
    if (!journal_)
        return;
    if (const std::optional<Reading> reading = live_.readingAt(row))
        journalFailed(journal_->append(*reading));
}

void RecordingKeeper::journalDeletion(qint64 row) {
    if (!journal_)
        return;
    if (const std::optional<Reading> reading = live_.readingAt(row))
        journalFailed(journal_->appendDeletion(reading->no));
}

void RecordingKeeper::journalRestart() {
    if (journal_)
        journalFailed(journal_->restart());
}

Result<KeptFile> RecordingKeeper::keepInFile(const QString& path, bool append,
                                             const QDateTime& now) {
    if (!path_.isEmpty() || journal_)
        return fail(QStringLiteral("The recording is kept already"));
    // Table and index are checked as every write is, before the recording starts: a
    // read-only one is not rewritten at the first checkpoint.
    for (const QString& p : QStringList{path} + px::indexPathsFor(path)) {
        if (const Result<WriteTarget> t = checkWriteTarget(p); !t)
            return fail(t.error());
    }
    bool created = false;
    if (!QFileInfo::exists(path)) {
        // Created exclusively, so that of two recorders starting on one name only one goes on.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            created = true;
        } else if (errno != EEXIST) {
            return fail(QStringLiteral("Cannot write %1: %2")
                            .arg(QDir::toNativeSeparators(path), systemErrorText(errno)));
        }
    }
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
    if (!lock)
        return fail(lock.error());
    lock_ = lock.take();
    path_ = path;
    created_ = created;
    rowsWritten_ = -1;
    written_ = 0;
    auto giveUp = [this](const QString& error) {
        if (created_) {
            QFile::remove(path_);
            for (const QString& p : px::indexPathsFor(path_))
                QFile::remove(p);
        }
        stopKeeping();
        return fail(error);
    };
    if (created_) {
        if (Status s = checkpoint(); !s)
            return giveUp(s.error());
    }
    KeptFile kept;
    // What a killed recording left: added to the file it follows, or, when this recording is
    // to replace the file, kept beside it.
    Result<JournalledReadings> folded =
        foldJournal(path_, lock_, now, append ? FoldInto::Table : FoldInto::Beside);
    if (!folded)
        return giveUp(folded.error());
    if (!folded.value().message.isEmpty())
        kept.notes << folded.value().message;
    if (append) {
        // The recording follows the file's records (folded ones too), numbered on from them.
        if (Status s = live_.openCopy(path_); !s)
            return giveUp(s.error());
        if (Status s = checkRecordableFields(live_.fields(), path_); !s) {
            live_.close();
            return giveUp(s.error());
        }
        kept.kept = live_.rowCount();
        rowsWritten_ = kept.kept;
    }
    // Readings that follow what the file holds can be folded into it; those of a file not
    // yet replaced (--out over an old file) cannot.
    const std::optional<JournalBase> base =
        rowsWritten_ >= 0 ? std::optional(written()) : std::nullopt;
    Result<std::unique_ptr<RecordingJournal>> j =
        RecordingJournal::create(journalBeside(path_), base);
    if (j)
        journal_ = j.take();
    else
        journalFailed(j.status()); // the checkpoints go on without it
    watchTable();
    timer_.start();
    sinceLast_.start();
    return kept;
}

JournalBase RecordingKeeper::written() const {
    return JournalBase{std::max<qint64>(rowsWritten_, 0), live_.highestNo()};
}

Status RecordingKeeper::checkpoint() {
    if (path_.isEmpty())
        return fail(QStringLiteral("The recording is not kept in a file"));
    QElapsedTimer took;
    took.start();
    std::unique_ptr<px::TableLock> next;
    px::WriteOptions options;
    options.keepLock = &next;
    const Status s = writeKeyedFile(live_, path_, options);
    sinceLast_.restart();
    if (!s)
        return s;
    // The new file is locked under the name now; the old one may go.
    lock_ = std::move(next);
    rowsWritten_ = live_.rowCount();
    ++written_;
    lastTookMs_ = took.elapsed();
    // What the journal held is in the file now.
    if (journal_)
        journalFailed(journal_->restart(written()));
    return {};
}

void RecordingKeeper::writeWhenDue() {
    // An existing file is not replaced before the recording has something to put in it.
    if (live_.rowCount() == std::max<qint64>(rowsWritten_, 0))
        return;
    // Writing a large table takes long: keep checkpoints to about a tenth of the time.
    if (lastTookMs_ >= kSlowWriteMs && sinceLast_.elapsed() < 10 * lastTookMs_)
        return;
    const Status s = checkpoint();
    if (!s && !checkpointFailing_)
        Q_EMIT keepFailed(s.error());
    checkpointFailing_ = !s;
}

void RecordingKeeper::onRowsChanged() {
    if (live_.rowCount() - std::max<qint64>(rowsWritten_, 0) >= kEveryRecords)
        writeWhenDue();
}

void RecordingKeeper::stopKeeping() {
    timer_.stop();
    disconnect(&live_, nullptr, this, nullptr);
    journal_.reset(); // closed; the file stays unless it was finished
    lock_.reset();
    path_.clear();
    created_ = false;
    rowsWritten_ = -1;
}

Status RecordingKeeper::finish(bool runFailed) {
    Status s;
    if (!path_.isEmpty()) {
        timer_.stop();
        disconnect(&live_, nullptr, this, nullptr);
        if (runFailed && live_.rowCount() == std::max<qint64>(rowsWritten_, 0)) {
            if (created_) {
                for (const QString& p : px::indexPathsFor(path_))
                    QFile::remove(p);
                QFile::remove(path_);
            }
        } else {
            s = checkpoint();
        }
    }
    // A last checkpoint that failed leaves the journal for the next claim to fold in.
    if (s && journal_)
        s = journal_->finish();
    stopKeeping();
    return s;
}

void RecordingKeeper::leave() {
    stopKeeping();
}

JournalRecovery recoverJournals(const QString& journalFolder, const QString& tableFolder,
                                const QDateTime& now) {
    JournalRecovery done;
    if (journalFolder.isEmpty())
        return done;
    for (const QString& path : leftOverJournals(journalFolder)) {
        Result<QString> table = recoverJournal(path, tableFolder, now);
        if (!table) {
            qCWarning(lcKeeper).noquote() << table.error();
            done.errors << table.error();
        } else if (!table.value().isEmpty()) {
            qCInfo(lcKeeper).noquote()
                << "Recovered the readings of an unfinished recording as" << table.value();
            done.tables << table.value();
        }
    }
    return done;
}

} // namespace kx
