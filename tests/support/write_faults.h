#pragma once

// Disks that fill up, for the tests of what a failed write leaves behind.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kxtest {

// While it lives, this process cannot write files beyond `limit` bytes: writes past it fail
// with "File too large", as those on a full disk fail with "No space left on device".
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = saved_;
        l.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

// A small file system of its own (a tmpfs of `kilobytes`) inside a temporary folder, where
// the system lets the tests mount one (as root); mounted() says whether it could.
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes) {
        path_ = dir_.filePath(QStringLiteral("small"));
        QDir().mkdir(path_);
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        mounted_ = ::mount("tmpfs", QFile::encodeName(path_).constData(), "tmpfs", 0,
                           options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount(QFile::encodeName(path_).constData());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    QString filePath(const QString& name) const { return path_ + QLatin1Char('/') + name; }

    // Fills the disk with a file "fill" until no more than `leave` bytes are free.
    void fill(qint64 leave) {
        const int fd = ::open(QFile::encodeName(filePath(QStringLiteral("fill"))).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const QByteArray block(1024, 'f');
        while (fd >= 0 && free() > leave && ::write(fd, block.constData(), 1024) == 1024) {
        }
        if (fd >= 0)
            ::close(fd);
    }
    qint64 free() const {
        struct statvfs s {};
        if (::statvfs(QFile::encodeName(path_).constData(), &s) != 0)
            return 0;
        return static_cast<qint64>(s.f_bavail) * static_cast<qint64>(s.f_frsize);
    }
    // What the disk holds besides the filler.
    QStringList names() const {
        QStringList n = QDir(path_).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        n.removeAll(QStringLiteral("fill"));
        return n;
    }

private:
    QTemporaryDir dir_;
    QString path_;
    bool mounted_ = false;
};

} // namespace kxtest
