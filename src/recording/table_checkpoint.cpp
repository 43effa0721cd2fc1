#include "recording/table_checkpoint.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_table.h"
#include "recording/table_file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kx {

TableCheckpoint::TableCheckpoint(const QString& path, const ReadingsTable& table)
    : path_(path), table_(table) {}

TableCheckpoint::~TableCheckpoint() = default;

Result<std::unique_ptr<TableCheckpoint>> TableCheckpoint::begin(const QString& path,
                                                                const ReadingsTable& table) {
    // Table and index are checked as every write is, before the recording starts: a
    // read-only one is not rewritten at the first checkpoint.
    for (const QString& p : QStringList{path} + px::indexPathsFor(path)) {
        if (const Result<WriteTarget> t = checkWriteTarget(p); !t)
            return fail(t.error());
    }
    std::unique_ptr<TableCheckpoint> c(new TableCheckpoint(path, table));
    if (!QFileInfo::exists(path)) {
        // Created exclusively, so that of two recorders starting on one name only one goes on.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            c->created_ = true;
        } else if (errno != EEXIST) {
            return fail(QStringLiteral("Cannot write %1: %2")
                            .arg(QDir::toNativeSeparators(path), systemErrorText(errno)));
        }
    }
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
    if (!lock)
        return fail(lock.error());
    c->lock_ = lock.take();
    if (c->created_) {
        if (Status s = c->write(); !s) {
            QFile::remove(path);
            return fail(s.error());
        }
    }
    QObject::connect(&table, &ReadingsTable::rowAppended, c.get(), &TableCheckpoint::onRowAppended);
    QObject::connect(&table, &ReadingsTable::rowRemoved, c.get(), &TableCheckpoint::onRowAppended);
    c->timer_.setInterval(kEverySeconds * 1000);
    QObject::connect(&c->timer_, &QTimer::timeout, c.get(), &TableCheckpoint::onTimer);
    c->timer_.start();
    c->sinceLast_.start();
    return c;
}

Status TableCheckpoint::write() {
    QElapsedTimer took;
    took.start();
    std::unique_ptr<px::TableLock> next;
    px::WriteOptions options;
    options.keepLock = &next;
    const Status s = writeKeyedFile(table_, path_, options);
    sinceLast_.restart();
    if (!s)
        return s;
    // The new file is locked under the name now; the old one may go.
    lock_ = std::move(next);
    rowsWritten_ = table_.rowCount();
    ++written_;
    lastTookMs_ = took.elapsed();
    return {};
}

void TableCheckpoint::writeWhenDue() {
    // An existing file is not replaced before the recording has something to put in it.
    if (table_.rowCount() == std::max<qint64>(rowsWritten_, 0))
        return;
    // Writing a large table takes long: keep checkpoints to about a tenth of the time.
    if (lastTookMs_ >= kSlowWriteMs && sinceLast_.elapsed() < 10 * lastTookMs_)
        return;
    const Status s = write();
    if (!s && !failing_)
        Q_EMIT writeFailed(s.error());
    failing_ = !s;
}

void TableCheckpoint::holdsTable() {
    rowsWritten_ = table_.rowCount();
}

void TableCheckpoint::onRowAppended() {
    if (table_.rowCount() - std::max<qint64>(rowsWritten_, 0) >= kEveryRecords)
        writeWhenDue();
}

void TableCheckpoint::onTimer() {
    writeWhenDue();
}

Status TableCheckpoint::finish(bool runFailed) {
    timer_.stop();
    disconnect(&table_, nullptr, this, nullptr);
    if (runFailed && table_.rowCount() == std::max<qint64>(rowsWritten_, 0)) {
        if (created_) {
            for (const QString& p : px::indexPathsFor(path_))
                QFile::remove(p);
            QFile::remove(path_);
        }
        return {};
    }
    return write();
}

} // namespace kx
