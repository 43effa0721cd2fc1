#include "paradox/paradox_lock.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx::px {

Result<std::unique_ptr<TableLock>> TableLock::acquire(const QString& path, bool* inUse) {
    if (inUse)
        *inUse = false;
    const QString shown = QDir::toNativeSeparators(path);
    // A table whose last save was cut short between its renames is whole again first.
    (void)finishInterruptedReplace(path);
    // A file replaced under its name between our open and our lock would leave us holding the
    // lock of a file nobody sees any more: then the lock is taken again on the new one.
    for (int attempt = 0;; ++attempt) {
        Result<int> opened =
            openRegularFile(path, O_RDONLY, QStringLiteral("Cannot open table file"));
        if (!opened)
            return fail(opened.error());
        const int fd = opened.value();
        int rc = 0;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) {
                if (inUse)
                    *inUse = true;
                return fail(
                    QStringLiteral("Table file %1 is in use by another program").arg(shown));
            }
            return fail(QStringLiteral("Cannot lock table file %1: %2")
                            .arg(shown, QString::fromLocal8Bit(std::strerror(err))));
        }
        struct stat held {};
        struct stat named {};
        const bool same = ::fstat(fd, &held) == 0 &&
                          ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
                          held.st_dev == named.st_dev && held.st_ino == named.st_ino;
        if (same)
            return std::unique_ptr<TableLock>(new TableLock(path, fd));
        ::close(fd);
        if (attempt == 8) {
            if (inUse)
                *inUse = true;
            return fail(QStringLiteral("Table file %1 is in use by another program: it is being "
                                       "replaced")
                            .arg(shown));
        }
    }
}

std::unique_ptr<TableLock> TableLock::adopt(const QString& path, int fd) {
    return std::unique_ptr<TableLock>(new TableLock(path, fd));
}

TableLock::~TableLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace kx::px
