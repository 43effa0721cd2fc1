#include "common/regular_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace {

QString kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a plain file");
}

QString refusal(const QString& action, const QString& path, const QString& kind) {
    return QStringLiteral("%1 %2: %3").arg(action, QDir::toNativeSeparators(path), whatItIs(kind));
}

} // namespace

QString whatItIs(const QString& kind) {
    return kind.startsWith(QLatin1String("not "))
               ? QStringLiteral("it is %1").arg(kind)
               : QStringLiteral("it is %1, not a file").arg(kind);
}

QString systemErrorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString nonRegularKind(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return kindOf(st.st_mode);
}

Status refuseNonRegular(const QString& path, const QString& action) {
    const QString kind = nonRegularKind(path);
    if (kind.isEmpty())
        return {};
    return fail(refusal(action, path, kind));
}

Result<int> openRegularFile(const QString& path, int flags, const QString& action) {
    const QString shown = QDir::toNativeSeparators(path);
    // Devices are not even opened: opening some of them does something.
    if (Status s = refuseNonRegular(path, action); !s)
        return fail(s.error());
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        // A folder opened for writing fails with EISDIR; say what it is instead.
        const QString kind = nonRegularKind(path);
        if (!kind.isEmpty())
            return fail(refusal(action, path, kind));
        return fail(QStringLiteral("%1 %2: %3").arg(action, shown, systemErrorText(err)));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(QStringLiteral("%1 %2: %3").arg(action, shown, systemErrorText(err)));
    }
    if (const QString kind = kindOf(st.st_mode); !kind.isEmpty()) {
        ::close(fd);
        return fail(refusal(action, path, kind));
    }
    // Plain files never block; the flag only guarded the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

FileKind fileKind(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return FileKind::Missing;
    if (S_ISREG(st.st_mode))
        return FileKind::Regular;
    if (S_ISDIR(st.st_mode))
        return FileKind::Folder;
    return FileKind::Other;
}

bool isReadOnlyFile(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    struct stat st {};
    if (::stat(p.constData(), &st) != 0)
        return false;
    return ::access(p.constData(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

} // namespace kx
