#include "recording/journalled_readings.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"
#include "recording/recording_journal.h"
#include "recording/recording_keeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace kx {
namespace {
using State = JournalledReadings::State;

// A checkpoint of a running recording replaces the file and then empties the journal; a reader
// that came between the two reads both again, waiting this long between tries.
constexpr int kAttempts = 50;
constexpr unsigned long kAttemptPauseMs = 20;

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString readingsText(qint64 n) {
    return n == 1 ? QStringLiteral("1 reading") : QStringLiteral("%1 readings").arg(n);
}

// "N readings of a recording into FILE that did not end normally"
QString ofUnfinishedRecording(qint64 n, const QString& path) {
    return QStringLiteral("%1 of a recording into %2 that did not end normally")
        .arg(readingsText(n), shownPath(path));
}

QString were(qint64 n) {
    return n == 1 ? QStringLiteral("was") : QStringLiteral("were");
}

Result<JournalContents> readJournal(const QString& journal) {
    QFile f(journal);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the recording journal %1: %2")
                        .arg(shownPath(journal), f.errorString()));
    return parseJournal(f.readAll());
}

JournalBase baseOf(const ReadingsTable& t) {
    return {t.rowCount(), t.highestNo()};
}

// The file holds the journal's readings already: its last checkpoint was written, the journal
// not yet emptied.
bool alreadyIn(const JournalBase& onDisk, const JournalBase& base,
               const std::vector<Reading>& readings) {
    const std::int32_t lastNo =
        std::max_element(readings.begin(), readings.end(), [](const auto& a, const auto& b) {
            return a.no < b.no;
        })->no;
    return onDisk.records == base.records + static_cast<qint64>(readings.size()) &&
           onDisk.highestNo == lastNo;
}

// A journal left over that could not be folded (`why`): its readings are shown after the file
// when they follow it.
JournalledReadings notFolded(const QString& path, const QString& journal, const QString& why) {
    JournalledReadings j;
    j.state = State::NotInFile;
    Result<JournalContents> read = readJournal(journal);
    if (!read) {
        j.message = read.error();
        return j;
    }
    const std::vector<Reading>& readings = read.value().readings;
    if (readings.empty())
        return {};
    const auto n = static_cast<qint64>(readings.size());
    j.readings = n;
    const std::optional<JournalBase>& base = read.value().base;
    ReadingsTable file;
    if (base && file.openCopy(path)) {
        const JournalBase onDisk = baseOf(file);
        if (onDisk == *base) {
            j.shown = readings;
            j.fileRecords = base->records;
            j.message = ofUnfinishedRecording(n, path) +
                        QStringLiteral(" %1 shown, but not yet in the file: %2")
                            .arg(n == 1 ? QStringLiteral("is") : QStringLiteral("are"), why);
            return j;
        }
        if (alreadyIn(onDisk, *base, readings))
            return {};
    }
    j.message = ofUnfinishedRecording(n, path) +
                QStringLiteral(" %1 not in the file and could not be saved beside it (%2); %3 "
                               "in %4")
                    .arg(n == 1 ? QStringLiteral("is") : QStringLiteral("are"), why,
                         n == 1 ? QStringLiteral("it stays") : QStringLiteral("they stay"),
                         shownPath(journal));
    return j;
}

// The journal of a recording that runs. fileRecords is -1 while the journal is being started
// afresh (read it again).
JournalledReadings runningRecording(const QString& path, const QString& journal) {
    JournalledReadings j;
    j.state = State::Recording;
    const QString file = shownPath(path);
    Result<JournalContents> read = readJournal(journal);
    if (!read) {
        j.message =
            QStringLiteral("A recording into %1 is in progress; %2").arg(file, read.error());
        return j;
    }
    const JournalContents& contents = read.value();
    if (!contents.recognised) {
        j.fileRecords = -1;
        return j;
    }
    j.readings = static_cast<qint64>(contents.readings.size());
    if (!contents.base) {
        // A recording that is to replace an old file: until its first checkpoint the file is
        // the old one, and its readings belong to no table yet.
        j.message = QStringLiteral("A recording into %1 is in progress: its %2 will replace the "
                                   "file at its first checkpoint")
                        .arg(file, readingsText(j.readings));
        return j;
    }
    j.shown = contents.readings;
    j.fileRecords = contents.base->records;
    j.message =
        j.readings == 0
            ? QStringLiteral("A recording into %1 is in progress: no readings after its last "
                             "checkpoint")
                  .arg(file)
            : QStringLiteral("A recording into %1 is in progress: %2 after its last checkpoint "
                             "%3 shown, not yet in the file")
                  .arg(file, readingsText(j.readings),
                       j.readings == 1 ? QStringLiteral("is") : QStringLiteral("are"));
    return j;
}

// What the journal beside `path` holds for a command about to read the file; one left by a
// recording that no longer runs is folded first when it can be.
Result<JournalledReadings> examineJournal(const QString& path, const QDateTime& now) {
    const QString journal = RecordingKeeper::journalBeside(path);
    // A missing file is the open's to report.
    if (!QFileInfo::exists(path))
        return JournalledReadings{};
    if (journalInUse(journal))
        return runningRecording(path, journal);
    if (!journalLeftOver(journal))
        return JournalledReadings{};
    QString why;
    if (Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path); lock) {
        Result<JournalledReadings> folded = foldJournal(path, lock.value(), now);
        if (folded)
            return folded;
        why = folded.error();
    } else {
        why = lock.error();
    }
    return notFolded(path, journal, why);
}

} // namespace

Result<JournalledReadings> foldJournal(const QString& tablePath,
                                       std::unique_ptr<px::TableLock>& lock, const QDateTime& now,
                                       FoldInto into) {
    JournalledReadings done;
    const QString journal = RecordingKeeper::journalBeside(tablePath);
    if (!journalLeftOver(journal))
        return done;
    Result<JournalContents> read = readJournal(journal);
    if (!read)
        return fail(read.error());
    const std::vector<Reading>& readings = read.value().readings;
    if (readings.empty()) {
        QFile::remove(journal);
        return done;
    }
    const auto n = static_cast<qint64>(readings.size());
    done.readings = n;
    const std::optional<JournalBase>& base = read.value().base;
    ReadingsTable file;
    if (into == FoldInto::Table && base && file.openCopy(tablePath)) {
        const JournalBase onDisk = baseOf(file);
        if (onDisk == *base) {
            Status s;
            for (const Reading& r : readings) {
                if (s = file.appendReading(r); !s)
                    break;
            }
            if (s) {
                std::unique_ptr<px::TableLock> next;
                px::WriteOptions options;
                options.keepLock = &next;
                if (s = writeKeyedFile(file, tablePath, options); !s)
                    return fail(s.error()); // the journal stays for another try
                lock = std::move(next);
                QFile::remove(journal);
                done.state = State::Added;
                done.message = ofUnfinishedRecording(n, tablePath) + QLatin1Char(' ') + were(n) +
                               QStringLiteral(" added to it");
                return done;
            }
        } else if (alreadyIn(onDisk, *base, readings)) {
            QFile::remove(journal);
            return JournalledReadings{};
        }
    }
    // The file has changed since, never held these readings, or is about to be replaced: they
    // are kept on their own.
    const Result<QString> saved = recoverJournal(journal, QFileInfo(tablePath).absolutePath(), now);
    if (!saved)
        return fail(saved.error());
    done.state = State::SavedBeside;
    done.savedAs = saved.value();
    done.message = ofUnfinishedRecording(n, tablePath) +
                   QStringLiteral(" %1 saved beside it as %2: %3")
                       .arg(were(n), shownPath(saved.value()),
                            into == FoldInto::Beside
                                ? QStringLiteral("a new recording replaces the file")
                                : QStringLiteral("they do not follow the file as it stands"));
    return done;
}

Result<JournalledReadings>
openWithJournal(const QString& path, const QDateTime& now,
                const std::function<Result<qint64>(const JournalledReadings&)>& openFile) {
    for (int attempt = 1;; ++attempt) {
        Result<JournalledReadings> found = examineJournal(path, now);
        if (!found)
            return found;
        JournalledReadings& j = found.value();
        const Result<qint64> opened = openFile(j);
        if (j.state != State::Recording) {
            if (!opened)
                return fail(opened.error());
            return found;
        }
        // A checkpoint of the running recording between the journal and the file (or the file
        // and its index) makes them disagree for a moment.
        const bool settled = opened && opened.value() >= 0 && j.fileRecords >= 0 &&
                             (j.shown.empty() || opened.value() == j.fileRecords);
        if (settled)
            return found;
        if (attempt < kAttempts) {
            QThread::msleep(kAttemptPauseMs);
            continue;
        }
        if (!opened)
            return fail(opened.error());
        j.shown.clear();
        j.message = QStringLiteral("A recording into %1 is in progress: the readings after its "
                                   "last checkpoint could not be read with it")
                        .arg(shownPath(path));
        return found;
    }
}

Result<JournalledReadings> openTableToRead(ReadingsTable& table, const QString& path,
                                           const QDateTime& now, TableUse use) {
    table.close();
    table.setTableName(path);
    const QString file = table.filePath();
    Result<JournalledReadings> j =
        openWithJournal(file, now, [&](const JournalledReadings& found) -> Result<qint64> {
            table.close();
            table.setTableName(path);
            if (use == TableUse::Hold) {
                const Status held = table.open();
                if (held && found.state == State::Recording)
                    return -1; // the recording ended meanwhile: look again
                if (held)
                    return table.rowCount();
                if (found.state != State::Recording)
                    return fail(held.error());
            }
            // Unheld: the recorder keeps the file, and no reader keeps another out.
            if (Status s = table.openUnheld(); !s)
                return fail(s.error());
            return table.rowCount();
        });
    if (!j) {
        table.close();
        return j;
    }
    for (const Reading& r : j.value().shown) {
        if (Status s = table.appendReading(r); !s) {
            table.close();
            return fail(s.error());
        }
    }
    return j;
}

Result<std::vector<px::Record>> readingsAsRecords(const std::vector<px::FieldDef>& fields,
                                                  const std::vector<Reading>& readings) {
    ReadingsTable t;
    t.openScratch(fields);
    for (const Reading& r : readings) {
        if (Status s = t.appendReading(r); !s)
            return fail(s.error());
    }
    std::vector<px::Record> rows;
    rows.reserve(readings.size());
    const RecordStore& store = t.records();
    for (std::size_t row = 0; row < store.rowCount(); ++row) {
        px::Record rec(fields.size());
        for (std::size_t f = 0; f < fields.size(); ++f)
            rec[f] = store.value(row, static_cast<int>(f));
        rows.push_back(std::move(rec));
    }
    return rows;
}

} // namespace kx
