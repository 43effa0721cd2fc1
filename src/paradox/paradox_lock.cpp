#include "paradox/paradox_lock.h"

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
    // Without O_NONBLOCK a pipe given as a table would hold the program until a writer came.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(QStringLiteral("Cannot open table file %1: %2")
                        .arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        return fail(QStringLiteral("Cannot open table file %1: %2")
                        .arg(shown, folder ? QStringLiteral("it is a folder")
                                           : QStringLiteral("it is not a regular file")));
    }
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
            return fail(QStringLiteral("Table file %1 is in use by another program").arg(shown));
        }
        return fail(QStringLiteral("Cannot lock table file %1: %2")
                        .arg(shown, QString::fromLocal8Bit(std::strerror(err))));
    }
    return std::unique_ptr<TableLock>(new TableLock(path, fd));
}

TableLock::~TableLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace kx::px
