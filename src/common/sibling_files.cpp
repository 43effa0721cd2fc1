#include "common/sibling_files.h"

#include "common/replacing_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace writer {

Q_LOGGING_CATEGORY(lcWrite, "kx.write")

namespace {
testhooks::RenameFunction renameOverride = nullptr;
} // namespace

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

Failure cannotWrite(const QString& path, const QString& why) {
    return fail(QStringLiteral("Cannot write %1: %2").arg(shown(path), why));
}

int renameFile(const QString& from, const QString& to) {
    const QByteArray a = native(from);
    const QByteArray b = native(to);
    return renameOverride ? renameOverride(a.constData(), b.constData())
                          : std::rename(a.constData(), b.constData());
}

int openFile(const QString& path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = ::open(native(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool tryLock(int fd, int how) {
    int rc = 0;
    do {
        rc = ::flock(fd, how | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool sameFile(int fd, const QString& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(native(path).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void syncFolder(const QString& folder) {
    const int fd = openFile(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString folderOf(const QString& file) {
    return QFileInfo(file).absolutePath();
}

QString nameOf(const QString& file) {
    return QFileInfo(file).fileName();
}

QString inFolder(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString siblingName(const QString& file, const char* tag) {
    return inFolder(folderOf(file),
                    QStringLiteral(".%1.%2.%3")
                        .arg(nameOf(file))
                        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                        .arg(QLatin1String(tag)));
}

QRegularExpression siblingPattern(const QString& name, const char* tags) {
    return QRegularExpression(QStringLiteral("^\\.%1\\.[0-9a-f]{8}\\.(%2)$")
                                  .arg(QRegularExpression::escape(name), QLatin1String(tags)));
}

QString markerFor(const QString& file) {
    return inFolder(folderOf(file), QStringLiteral(".%1.commit").arg(nameOf(file)));
}

QStringList namesIn(const QString& folder) {
    QStringList names;
    DIR* d = ::opendir(native(folder).constData());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            names << QFile::decodeName(e->d_name);
    }
    ::closedir(d);
    return names;
}

bool belongsTo(const QString& file, const QString& owner) {
    const QString name = nameOf(file);
    return folderOf(file) == folderOf(owner) && name != nameOf(owner) &&
           name.startsWith(QFileInfo(owner).completeBaseName() + QLatin1Char('.'));
}

} // namespace writer

void testhooks::setRenameFunction(RenameFunction f) {
    writer::renameOverride = f;
}

} // namespace kx
