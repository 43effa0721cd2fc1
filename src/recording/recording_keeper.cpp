#include "recording/recording_keeper.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/details_companion.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"
#include "recording/journalled_readings.h"

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
    retry_.setInterval(kRetrySeconds * 1000);
    connect(&retry_, &QTimer::timeout, this, &RecordingKeeper::retryJournal);
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
    if (path_.isEmpty())
        connect(&live_, &ReadingsTable::didReset, this, &RecordingKeeper::followTable);
    else {
        connect(&live_, &ReadingsTable::rowAppended, this, &RecordingKeeper::onRowsChanged);
        connect(&live_, &ReadingsTable::rowRemoved, this, &RecordingKeeper::onRowsChanged);
    }
}

Status RecordingKeeper::journalIn(const QString& folder) {
    if (journal_ || !journalWanted_.isEmpty())
        return {};
    journalWanted_ = newJournalPath(folder);
    journalFrom_ = 0;
    watchTable();
    // Readings recorded before the journal began (none at start-up) are written first.
    followTable();
    return journalFailing_ ? fail(journalFailure_) : Status();
}

std::optional<JournalBase> RecordingKeeper::journalBase() const {
    if (path_.isEmpty())
        return followsBase_;
    return rowsWritten_ >= 0 ? std::optional(written()) : std::nullopt;
}

std::vector<Reading> RecordingKeeper::journalledReadings() const {
    std::vector<Reading> out;
    const qint64 from = path_.isEmpty() ? journalFrom_ : std::max<qint64>(rowsWritten_, 0);
    for (qint64 row = std::max<qint64>(from, 0); row < live_.rowCount(); ++row) {
        if (std::optional<Reading> r = live_.readingAt(row))
            out.push_back(std::move(*r));
    }
    return out;
}

Status RecordingKeeper::openJournal() {
    const QString folder = QFileInfo(journalWanted_).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot make the folder %1 for the recording journal")
                        .arg(QDir::toNativeSeparators(folder)));
    Result<std::unique_ptr<RecordingJournal>> j =
        RecordingJournal::create(journalWanted_, journalBase(), follows_);
    if (!j)
        return j.status();
    journal_ = j.take();
    const std::vector<Reading> readings = journalledReadings();
    return readings.empty() ? Status() : journal_->rewrite(readings);
}

void RecordingKeeper::followTable() {
    if (journalWanted_.isEmpty() || !path_.isEmpty())
        return;
    const bool usersFile = live_.isOpen() && live_.filePath() != scratchPath_;
    // The scratch table's rows are all the recording's.
    journalFrom_ = usersFile ? live_.rowCount() : 0;
    followsBase_ =
        usersFile ? std::optional(JournalBase{live_.rowCount(), live_.highestNo()}) : std::nullopt;
    follows_ = usersFile ? live_.filePath() : QString();
    if (!journal_)
        journalFailed(openJournal());
    else
        journalFailed(journal_->restart(followsBase_, follows_));
}

void RecordingKeeper::retryJournal() {
    if (!journalFailing_ || journalWanted_.isEmpty())
        return;
    if (!journal_)
        journalFailed(openJournal());
    else
        journalFailed(journal_->rewrite(journalledReadings()));
}

void RecordingKeeper::journalFailed(const Status& s, std::optional<std::int32_t> no) {
    if (s) {
        if (journalFailing_) {
            journalFailing_ = false;
            journalFailure_.clear();
            retry_.stop();
            qCInfo(lcKeeper).noquote() << "The recording journal is written again";
            Q_EMIT journalStateChanged(QString());
        }
        return;
    }
    if (journalFailing_)
        return;
    journalFailing_ = true;
    journalFailure_ = s.error();
    // The journal names the first reading it lost, so a recovery can say so.
    if (journal_ && no)
        journal_->markLost(*no);
    if (!journalWanted_.isEmpty())
        retry_.start();
    Q_EMIT keepFailed(s.error());
    Q_EMIT journalStateChanged(journalFailure_);
}

void RecordingKeeper::journalRow(qint64 row) {
    // Only recordings have a number and a time; another table opened in the live one is not
    // journalled. While the journal fails, the next try writes it afresh with this reading.
    if (!journal_ || journalFailing_)
        return;
    if (const std::optional<Reading> reading = live_.readingAt(row))
        journalFailed(journal_->append(*reading), reading->no);
}

void RecordingKeeper::journalDeletion(qint64 row) {
    // A record of the opened file is not in the journal: only the rows after them are.
    if (path_.isEmpty() && row < journalFrom_) {
        --journalFrom_;
        return;
    }
    if (!journal_ || journalFailing_)
        return;
    if (const std::optional<Reading> reading = live_.readingAt(row))
        journalFailed(journal_->appendDeletion(reading->no), reading->no);
}

void RecordingKeeper::journalRestart() {
    if (journal_ && !journalFailing_)
        journalFailed(journal_->restart());
}

Result<KeptFile> RecordingKeeper::keepInFile(const QString& path, bool append,
                                             const QDateTime& now) {
    if (!path_.isEmpty() || journal_)
        return fail(QStringLiteral("The recording is kept already"));
    // Table, index and (for a new table) details are checked as every write is, before the
    // recording starts: a read-only one is not rewritten at the first checkpoint.
    QStringList targets = QStringList{path} + px::indexPathsFor(path);
    if (!append)
        targets << testDetailsPath(path);
    for (const QString& p : targets) {
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
    dropDetails_ = !append;
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
    journalWanted_ = journalBeside(path_);
    journalFailed(openJournal()); // the checkpoints go on without it
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
    // A new recording is a new table: the details of an older one of its name go with the
    // first checkpoint that replaces it (the empty file a claim made replaces nothing).
    std::optional<DetailsCompanion> details;
    if (dropDetails_ && !(created_ && rowsWritten_ < 0)) {
        Result<DetailsCompanion> none = DetailsCompanion::prepare(path_, {});
        if (!none)
            return none.status();
        details = none.take();
        details->addTo(options);
    }
    const Status s = writeKeyedFile(live_, path_, options);
    sinceLast_.restart();
    if (!s)
        return s;
    if (details)
        dropDetails_ = false;
    // The new file is locked under the name now; the old one may go.
    lock_ = std::move(next);
    rowsWritten_ = live_.rowCount();
    ++written_;
    lastTookMs_ = took.elapsed();
    // What the journal held is in the file now.
    if (journal_)
        journalFailed(journal_->restart(written()));
    else
        retryJournal();
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
    retry_.stop();
    disconnect(&live_, nullptr, this, nullptr);
    journal_.reset(); // closed; the file stays unless it was finished
    journalWanted_.clear();
    journalFailing_ = false;
    journalFailure_.clear();
    followsBase_.reset();
    follows_.clear();
    journalFrom_ = 0;
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
    else if (s && !journalWanted_.isEmpty() && QFileInfo(journalWanted_).size() == 0)
        QFile::remove(journalWanted_); // a journal that never started holds nothing
    stopKeeping();
    return s;
}

void RecordingKeeper::leave() {
    stopKeeping();
}

std::vector<LeftOverRecording> leftOverRecordings(const QString& journalFolder) {
    std::vector<LeftOverRecording> out;
    if (journalFolder.isEmpty())
        return out;
    for (const QString& path : leftOverJournals(journalFolder)) {
        LeftOverRecording left;
        left.journal = path;
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            left.contents = parseJournal(f.readAll());
        const JournalContents& c = left.contents;
        ReadingsTable file;
        // Readings recorded on a file the user opened continue it while it holds what it held.
        if (!c.follows.isEmpty() && c.base && !c.readings.empty() && file.openCopy(c.follows) &&
            JournalBase{file.rowCount(), file.highestNo()} == *c.base) {
            left.continues = c.follows;
            left.continuesRecords = file.rowCount();
        }
        out.push_back(std::move(left));
    }
    return out;
}

QString leftOverText(const LeftOverRecording& left) {
    return recoveredReadingsText(left.contents.readings) +
           QStringLiteral(" of a recording that did not end normally");
}

QString leftOverContext(const LeftOverRecording& left) {
    const QString file = QDir::toNativeSeparators(left.contents.follows);
    if (!left.continues.isEmpty())
        return QStringLiteral("They continue %1 (%2 records).")
            .arg(file)
            .arg(left.continuesRecords);
    if (!file.isEmpty())
        return QStringLiteral("They were recorded on %1, which has changed since.").arg(file);
    return {};
}

JournalRecovery recoverJournals(const QString& journalFolder, const QString& tableFolder,
                                const QDateTime& now) {
    JournalRecovery done;
    if (journalFolder.isEmpty())
        return done;
    done.unstarted = removeUnstartedJournals(journalFolder);
    for (const LeftOverRecording& left : leftOverRecordings(journalFolder)) {
        Result<QString> table = recoverJournal(left.journal, tableFolder, now);
        if (!table) {
            qCWarning(lcKeeper).noquote() << table.error();
            done.errors << table.error();
        } else if (!table.value().isEmpty()) {
            qCInfo(lcKeeper).noquote()
                << "Recovered the readings of an unfinished recording as" << table.value();
            done.tables << table.value();
            QString note =
                leftOverText(left) +
                QStringLiteral(" were saved as %1.").arg(QDir::toNativeSeparators(table.value()));
            if (const QString context = leftOverContext(left); !context.isEmpty())
                note += QLatin1Char(' ') + context;
            const QStringList missing = unrecoveredStretches(left.contents);
            if (!missing.isEmpty())
                note +=
                    QStringLiteral(" Not recovered: %1.").arg(missing.join(QStringLiteral("; ")));
            done.notes << note;
        }
    }
    return done;
}

int removeUnstartedJournals(const QString& folder) {
    int n = 0;
    for (const QString& path : unstartedJournals(folder))
        n += QFile::remove(path) ? 1 : 0;
    return n;
}

Result<QStringList> foldJournalInto(const QString& journal, const QString& table,
                                    const QDateTime& now) {
    // The fold reads the journal a recording keeps beside its table; a copy goes there, and
    // the original stays until the fold is done.
    const QString beside = RecordingKeeper::journalBeside(table);
    if (QFileInfo::exists(beside))
        return fail(QStringLiteral("Readings of another recording into %1 wait to be added to it")
                        .arg(QDir::toNativeSeparators(table)));
    QFile in(journal);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the recording journal %1: %2")
                        .arg(journal, in.errorString()));
    const QByteArray bytes = in.readAll();
    in.close();
    Result<std::unique_ptr<ReplacingFile>> copy = ReplacingFile::begin(beside);
    if (!copy)
        return fail(copy.error());
    if (Status s = copy.value()->writeAt(0, bytes.constData(), bytes.size()); !s)
        return fail(s.error());
    if (Status s = copy.value()->commit(); !s)
        return fail(s.error());
    ReadingsTable scratch;
    RecordingKeeper keeper(scratch);
    Result<KeptFile> kept = keeper.keepInFile(table, true, now);
    if (!kept) {
        QFile::remove(beside);
        return fail(kept.error());
    }
    // Nothing is recorded: the file stays as the fold left it.
    if (Status s = keeper.finish(true); !s)
        qCWarning(lcKeeper).noquote() << s.error();
    QFile::remove(journal);
    return kept.value().notes;
}

} // namespace kx
