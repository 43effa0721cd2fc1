#include "paradox/paradox_file.h"

#include "common/regular_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace kx::px {

ReplacingFile::ReplacingFile(const QString& target, const QString& temp)
    : target_(target), file_(temp) {}

Result<std::unique_ptr<ReplacingFile>> ReplacingFile::begin(const QString& target) {
    const QFileInfo fi(target);
    const QString shown = QDir::toNativeSeparators(target);
    if (!fi.dir().exists())
        return fail(QStringLiteral("Cannot write %1: the folder does not exist").arg(shown));
    // The rename would put a file in place of a pipe, a device or a folder's name.
    if (Status s = refuseNonRegular(target, QStringLiteral("Cannot write")); !s)
        return fail(s.error());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temp = fi.dir().filePath(
            QStringLiteral(".%1.%2.tmp")
                .arg(fi.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        std::unique_ptr<ReplacingFile> f(new ReplacingFile(target, temp));
        if (f->file_.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
            return f;
        if (f->file_.error() != QFileDevice::OpenError || QFileInfo::exists(temp) == false)
            return fail(QStringLiteral("Cannot write %1: %2").arg(shown, f->file_.errorString()));
    }
    return fail(QStringLiteral("Cannot write %1: no free temporary name").arg(shown));
}

ReplacingFile::~ReplacingFile() {
    abandon();
}

Status ReplacingFile::writeAt(qint64 pos, const char* data, qint64 n) {
    // A write may store less than asked (a signal, a nearly full disk): go on with the rest
    // until all is written or the system gives its reason.
    const int fd = file_.handle();
    while (n > 0) {
        const ssize_t done = ::pwrite(fd, data, static_cast<std::size_t>(n), pos);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            const QString why = done < 0 ? systemErrorText(errno) : systemErrorText(EIO);
            return fail(
                QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(target_), why));
        }
        data += done;
        pos += done;
        n -= done;
    }
    return {};
}

Status ReplacingFile::commit() {
    const QString shown = QDir::toNativeSeparators(target_);
    if (done_)
        return fail(QStringLiteral("Cannot write %1: already closed").arg(shown));
    // Delayed write errors (a full disk, a quota) show up at fsync.
    const int err = ::fsync(file_.handle()) == 0 ? 0 : errno;
    const QString tempName = file_.fileName();
    file_.close();
    if (err != 0) {
        abandon();
        return fail(QStringLiteral("Cannot write %1: %2").arg(shown, systemErrorText(err)));
    }
    if (std::rename(QFile::encodeName(tempName).constData(),
                    QFile::encodeName(target_).constData()) != 0) {
        const QString why = systemErrorText(errno);
        abandon();
        return fail(QStringLiteral("Cannot replace %1: %2").arg(shown, why));
    }
    done_ = true;
    return {};
}

void ReplacingFile::abandon() {
    if (done_)
        return;
    done_ = true;
    file_.close();
    QFile::remove(file_.fileName());
}

} // namespace kx::px
