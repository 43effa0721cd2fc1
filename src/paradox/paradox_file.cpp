#include "paradox/paradox_file.h"

#include "common/regular_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kx::px {

namespace {

testhooks::RenameFunction renameOverride = nullptr;

int renameFile(const QString& from, const QString& to) {
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    return renameOverride ? renameOverride(a.constData(), b.constData())
                          : std::rename(a.constData(), b.constData());
}

QString errorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A name beside `target` that nothing uses yet: ".name.1a2b3c4d.tag".
QString siblingName(const QString& target, const char* tag) {
    const QFileInfo fi(target);
    return fi.dir().filePath(
        QStringLiteral(".%1.%2.%3")
            .arg(fi.fileName())
            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
            .arg(QLatin1String(tag)));
}

// Keeps the present target under another name until the change is through: a second hard
// link when the file system has them, a copy when it has not.
Result<QString> makeBackup(const QString& target) {
    int err = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString backup = siblingName(target, "old");
        if (::link(QFile::encodeName(target).constData(), QFile::encodeName(backup).constData()) ==
            0)
            return backup;
        err = errno;
        if (err != EEXIST)
            break;
    }
    const QString backup = siblingName(target, "old");
    if (QFile::copy(target, backup))
        return backup;
    return fail(QStringLiteral("Cannot replace %1: %2").arg(shown(target), errorText(err)));
}

} // namespace

namespace testhooks {
void setRenameFunction(RenameFunction f) {
    renameOverride = f;
}
} // namespace testhooks

ReplacingFile::ReplacingFile(const QString& target, const QString& temp)
    : target_(target), tempName_(temp), file_(temp) {}

Result<std::unique_ptr<ReplacingFile>> ReplacingFile::begin(const QString& target) {
    const QFileInfo fi(target);
    if (!fi.dir().exists())
        return fail(
            QStringLiteral("Cannot write %1: the folder does not exist").arg(shown(target)));
    // The rename would put a file in place of a pipe, a device or a folder's name.
    if (Status s = refuseNonRegular(target, QStringLiteral("Cannot write")); !s)
        return fail(s.error());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temp = siblingName(target, "tmp");
        std::unique_ptr<ReplacingFile> f(new ReplacingFile(target, temp));
        if (f->file_.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
            return f;
        if (f->file_.error() != QFileDevice::OpenError || QFileInfo::exists(temp) == false)
            return fail(
                QStringLiteral("Cannot write %1: %2").arg(shown(target), f->file_.errorString()));
    }
    return fail(QStringLiteral("Cannot write %1: no free temporary name").arg(shown(target)));
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
            return fail(QStringLiteral("Cannot write %1: %2").arg(shown(target_), why));
        }
        data += done;
        pos += done;
        n -= done;
    }
    return {};
}

Status ReplacingFile::finishWriting() {
    if (done_)
        return fail(QStringLiteral("Cannot write %1: already closed").arg(shown(target_)));
    if (!file_.isOpen())
        return {};
    const bool ok = file_.flush() && ::fsync(file_.handle()) == 0;
    const int err = errno;
    file_.close();
    if (!ok || file_.error() != QFileDevice::NoError) {
        const QString why =
            file_.error() != QFileDevice::NoError ? file_.errorString() : errorText(err);
        return fail(QStringLiteral("Cannot write %1: %2").arg(shown(target_), why));
    }
    return {};
}

Status ReplacingFile::commit() {
    return commitTogether({this});
}

void ReplacingFile::abandon() {
    if (done_)
        return;
    done_ = true;
    file_.close();
    QFile::remove(tempName_);
}

Status commitTogether(const std::vector<ReplacingFile*>& files, const QStringList& remove) {
    struct Step {
        QString target;
        ReplacingFile* file = nullptr; // nullptr: the target is deleted
        QString backup;
        bool existed = false;
        bool applied = false;
    };
    std::vector<Step> steps;
    for (ReplacingFile* f : files)
        steps.push_back(Step{f->target_, f, {}, false, false});
    for (const QString& r : remove) {
        const bool replaced =
            std::any_of(steps.begin(), steps.end(), [&](const Step& s) { return s.target == r; });
        if (!replaced)
            steps.push_back(Step{r, nullptr, {}, false, false});
    }
    auto abandonAll = [&] {
        for (ReplacingFile* f : files)
            f->abandon();
    };
    auto dropBackups = [&] {
        for (Step& s : steps) {
            if (!s.backup.isEmpty())
                QFile::remove(s.backup);
            s.backup.clear();
        }
    };

    for (ReplacingFile* f : files) {
        if (Status s = f->finishWriting(); !s) {
            abandonAll();
            return s;
        }
    }

    // Whatever is there now is kept aside until every step is through; the last step needs no
    // copy, since nothing comes after it that could fail.
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& s = steps[i];
        struct stat st {};
        if (::lstat(QFile::encodeName(s.target).constData(), &st) != 0) {
            const int err = errno;
            if (err == ENOENT)
                continue;
            dropBackups();
            abandonAll();
            return fail(
                QStringLiteral("Cannot replace %1: %2").arg(shown(s.target), errorText(err)));
        }
        if (S_ISDIR(st.st_mode)) {
            dropBackups();
            abandonAll();
            return fail(QStringLiteral("Cannot replace %1: it is a folder").arg(shown(s.target)));
        }
        s.existed = true;
        if (i + 1 == steps.size())
            continue;
        Result<QString> backup = makeBackup(s.target);
        if (!backup) {
            dropBackups();
            abandonAll();
            return backup.status();
        }
        s.backup = backup.take();
    }

    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& s = steps[i];
        int rc = 0;
        if (s.file)
            rc = renameFile(s.file->tempName_, s.target);
        else if (s.existed)
            rc = ::unlink(QFile::encodeName(s.target).constData());
        else
            continue;
        if (rc == 0) {
            s.applied = true;
            if (s.file)
                s.file->done_ = true;
            continue;
        }
        const QString why = errorText(errno);
        // Undo the steps already taken, newest first.
        QStringList kept;
        for (std::size_t j = i; j-- > 0;) {
            Step& done = steps[j];
            if (!done.applied)
                continue;
            if (done.existed) {
                if (std::rename(QFile::encodeName(done.backup).constData(),
                                QFile::encodeName(done.target).constData()) == 0)
                    done.backup.clear();
                else
                    kept << done.backup;
            } else {
                QFile::remove(done.target);
            }
        }
        for (Step& b : steps) {
            if (!b.backup.isEmpty() && !kept.contains(b.backup))
                QFile::remove(b.backup);
        }
        abandonAll();
        QString message = QStringLiteral("Cannot replace %1: %2").arg(shown(s.target), why);
        if (!kept.isEmpty())
            message += QStringLiteral("; the previous files are kept as %1")
                           .arg(shown(kept.join(QStringLiteral(", "))));
        return fail(message);
    }
    dropBackups();
    return {};
}

} // namespace kx::px
