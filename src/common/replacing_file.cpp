#include "common/replacing_file.h"

#include "common/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace {

Q_LOGGING_CATEGORY(lcWrite, "kx.write")

testhooks::RenameFunction renameOverride = nullptr;
testhooks::StepFunction stepHook = nullptr;
testhooks::FsyncFunction fsyncOverride = nullptr;
testhooks::CloseFunction closeOverride = nullptr;

constexpr qint64 kMaxMarkerSize = 64 * 1024;
constexpr const char* kMarkerHead = "kxlink-replace 1";

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

int openFile(const QString& path, int flags, mode_t mode = 0) {
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

// Whether the descriptor is still the file of that name (it was not removed or replaced).
bool sameFile(int fd, const QString& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(native(path).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Renames and removals reach the disk only with their folder.
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

// ".name.1a2b3c4d.tag" beside the file.
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

// The names in a folder, without looking at each file.
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

// Whether `file` belongs to `owner` as its index or details do: in its folder, named as it is
// up to its extension ("t.px" and "t.results.json" for "t.db"), and not the owner itself.
bool belongsTo(const QString& file, const QString& owner) {
    const QString name = nameOf(file);
    return folderOf(file) == folderOf(owner) && name != nameOf(owner) &&
           name.startsWith(QFileInfo(owner).completeBaseName() + QLatin1Char('.'));
}

// What a marker of a change of several files lists: the renames still to make, in order, the
// files the change removes and the copies of the old files kept aside meanwhile. A marker
// removes only files that belong to its first target (belongsTo): the details of an older
// table must not outlive a change cut short, and a marker that could remove any file would be
// a danger of its own.
struct ChangePlan {
    struct Rename {
        QString temp;
        QString target;
    };
    std::vector<Rename> renames;
    QStringList removals;
    QStringList backups;

    QByteArray text() const {
        QByteArray out = QByteArray(kMarkerHead) + '\n';
        auto line = [&](const char* what, const QString& a, const QString& b = {}) {
            out += what;
            out += ' ' + native(a).toPercentEncoding();
            if (!b.isEmpty())
                out += ' ' + native(b).toPercentEncoding();
            out += '\n';
        };
        for (const Rename& r : renames)
            line("replace", r.temp, r.target);
        for (const QString& r : removals)
            line("remove", r);
        for (const QString& b : backups)
            line("backup", b);
        return out;
    }

    QStringList listed() const {
        QStringList all = backups;
        for (const Rename& r : renames)
            all << r.temp << r.target;
        return all;
    }

    // Reads a marker; only changes this program makes are taken: every file in the marker's
    // own folder, temporaries and backups of our naming beside their targets, the marker named
    // after the first target. Anything else (a marker not of our making) is refused whole.
    static std::optional<ChangePlan> parse(const QByteArray& text, const QString& markerPath) {
        const QList<QByteArray> lines = text.split('\n');
        if (lines.isEmpty() || lines.front() != kMarkerHead)
            return std::nullopt;
        ChangePlan plan;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> words = lines[i].split(' ');
            if (words.size() == 1 && words[0].isEmpty())
                continue;
            const QString folder = folderOf(markerPath);
            bool wellFormed = true;
            // A plain name in the marker's folder: absolute, clean, no NUL.
            auto path = [&](int k) {
                const QByteArray raw = QByteArray::fromPercentEncoding(words[k]);
                const QString p = QFile::decodeName(raw);
                if (raw.contains('\0') || !QDir::isAbsolutePath(p) || QDir::cleanPath(p) != p ||
                    folderOf(p) != folder || nameOf(p).isEmpty())
                    wellFormed = false;
                return p;
            };
            if (words[0] == "replace" && words.size() == 3)
                plan.renames.push_back({path(1), path(2)});
            else if (words[0] == "remove" && words.size() == 2)
                plan.removals << path(1);
            else if (words[0] == "backup" && words.size() == 2)
                plan.backups << path(1);
            else
                return std::nullopt;
            if (!wellFormed)
                return std::nullopt;
        }
        if (plan.renames.empty() || markerFor(plan.renames.front().target) != markerPath)
            return std::nullopt;
        for (const Rename& r : plan.renames) {
            if (!siblingPattern(nameOf(r.target), "tmp").match(nameOf(r.temp)).hasMatch())
                return std::nullopt;
        }
        const QString owner = plan.renames.front().target;
        QStringList changed = plan.removals;
        for (const Rename& r : plan.renames)
            changed << r.target;
        for (const QString& r : plan.removals) {
            if (!belongsTo(r, owner) || plan.removals.count(r) > 1 ||
                std::any_of(plan.renames.begin(), plan.renames.end(),
                            [&](const Rename& n) { return n.target == r; }))
                return std::nullopt;
        }
        for (const QString& b : plan.backups) {
            const bool ours = std::any_of(changed.begin(), changed.end(), [&](const QString& t) {
                return siblingPattern(nameOf(t), "old").match(nameOf(b)).hasMatch();
            });
            if (!ours)
                return std::nullopt;
        }
        return plan;
    }
};

QByteArray readMarker(int fd) {
    QByteArray text;
    char buf[4096];
    qint64 at = 0;
    while (at < kMaxMarkerSize) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buf, n);
        at += n;
    }
    return text;
}

// Finishes the change a marker (open and locked by us) lists: the renames still due, in
// their order, then the removals (plain files only). A change whose temporaries are not all
// there in the order the renames consume them is left alone.
Status applyMarker(int fd, const QString& markerPath) {
    const std::optional<ChangePlan> plan = ChangePlan::parse(readMarker(fd), markerPath);
    if (!plan)
        return fail(QStringLiteral("Cannot finish an interrupted save: %1 is not a list of one")
                        .arg(shown(markerPath)));
    const QString target = plan->renames.front().target;
    auto present = [](const QString& p) {
        struct stat st {};
        return ::lstat(native(p).constData(), &st) == 0 && S_ISREG(st.st_mode);
    };
    std::size_t due = 0;
    while (due < plan->renames.size() && !present(plan->renames[due].temp))
        ++due;
    for (std::size_t i = due; i < plan->renames.size(); ++i) {
        if (!present(plan->renames[i].temp))
            return fail(QStringLiteral("Cannot finish the interrupted save of %1: its new "
                                       "files are not all there")
                            .arg(shown(target)));
    }
    for (std::size_t i = due; i < plan->renames.size(); ++i) {
        const ChangePlan::Rename& r = plan->renames[i];
        if (renameFile(r.temp, r.target) != 0)
            return fail(QStringLiteral("Cannot finish the interrupted save of %1: %2")
                            .arg(shown(r.target), systemErrorText(errno)));
    }
    for (const QString& r : plan->removals) {
        if (present(r) && ::unlink(native(r).constData()) != 0 && errno != ENOENT)
            return fail(QStringLiteral("Cannot finish the interrupted save of %1: %2")
                            .arg(shown(r), systemErrorText(errno)));
    }
    qCInfo(lcWrite).noquote() << "finished the interrupted save of" << shown(target);
    for (const QString& b : plan->backups)
        ::unlink(native(b).constData());
    syncFolder(folderOf(target));
    ::unlink(native(markerPath).constData());
    syncFolder(folderOf(markerPath));
    return {};
}

// Files in a folder that unfinished changes still need.
QStringList neededByMarkers(const QString& folder) {
    QStringList needed;
    for (const QString& name : namesIn(folder)) {
        if (!name.endsWith(QLatin1String(".commit")))
            continue;
        const QString path = inFolder(folder, name);
        const int fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        if (const std::optional<ChangePlan> plan = ChangePlan::parse(readMarker(fd), path))
            needed += plan->listed();
        ::close(fd);
    }
    return needed;
}

// Removes what killed saves to this file left: our temporaries and backups that nobody holds
// locked and no unfinished change lists.
void sweepLeftovers(const QString& file) {
    const QString folder = folderOf(file);
    const QRegularExpression pattern = siblingPattern(nameOf(file), "tmp|old");
    QStringList candidates;
    for (const QString& name : namesIn(folder)) {
        if (pattern.match(name).hasMatch())
            candidates << inFolder(folder, name);
    }
    if (candidates.isEmpty())
        return;
    const QStringList needed = neededByMarkers(folder);
    for (const QString& path : candidates) {
        if (needed.contains(path))
            continue;
        const int fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && tryLock(fd, LOCK_EX) &&
            sameFile(fd, path) && ::unlink(native(path).constData()) == 0)
            qCInfo(lcWrite).noquote() << "removed" << shown(path) << "left by an earlier save";
        ::close(fd);
    }
}

// Keeps the present target under another name until a change is through: a second hard link
// when the file system has them, a copy when it has not.
Result<QString> makeBackup(const QString& target, const QString& shownPath) {
    int err = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString backup = siblingName(target, "old");
        if (::link(native(target).constData(), native(backup).constData()) == 0)
            return backup;
        err = errno;
        if (err != EEXIST)
            break;
    }
    const QString backup = siblingName(target, "old");
    if (QFile::copy(target, backup))
        return backup;
    return cannotWrite(shownPath, systemErrorText(err));
}

} // namespace

namespace testhooks {
void setRenameFunction(RenameFunction f) {
    renameOverride = f;
}
void setStepFunction(StepFunction f) {
    stepHook = f;
}
void setFsyncFunction(FsyncFunction f) {
    fsyncOverride = f;
}
void setCloseFunction(CloseFunction f) {
    closeOverride = f;
}
} // namespace testhooks

Result<QString> finalLinkTarget(const QString& path) {
    QString p = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops <= 40; ++hops) {
        const QFileInfo fi(p);
        // The folder's own links resolved, so a relative link and ".." mean what the system
        // takes them to mean.
        const QString folder = QFileInfo(fi.path()).canonicalFilePath();
        if (folder.isEmpty())
            return p; // no such folder: the check says so
        p = inFolder(folder, fi.fileName());
        struct stat st {};
        if (::lstat(native(p).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(native(p).constData(), buf, sizeof buf);
        if (n < 0)
            return cannotWrite(path, systemErrorText(errno));
        const QString link = QFile::decodeName(QByteArray(buf, n));
        p = QDir::isAbsolutePath(link) ? link : inFolder(folder, link);
    }
    return cannotWrite(path, systemErrorText(ELOOP));
}

QString linkedFile(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::lstat(native(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    const Result<QString> file = finalLinkTarget(path);
    return file ? file.value() : path;
}

Result<WriteTarget> checkWriteTarget(const QString& path) {
    if (path.isEmpty())
        return fail(QStringLiteral("No file name given"));
    WriteTarget t;
    t.path = QFileInfo(path).absoluteFilePath();
    Result<QString> file = finalLinkTarget(t.path);
    if (!file)
        return fail(file.error());
    t.file = file.take();
    const QString folder = folderOf(t.file);
    struct stat st {};
    if (::stat(native(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return cannotWrite(t.path, QStringLiteral("the folder does not exist"));
    if (::stat(native(t.file).constData(), &st) == 0) {
        // Nothing is opened here: a pipe would wait for a reader.
        if (const QString kind = nonRegularKind(t.file); !kind.isEmpty())
            return cannotWrite(t.path, whatItIs(kind));
        if (isReadOnlyFile(t.file))
            return cannotWrite(t.path, QStringLiteral("the file is read-only"));
        t.exists = true;
    } else if (errno != ENOENT) {
        return cannotWrite(t.path, systemErrorText(errno));
    }
    if (::access(native(folder).constData(), W_OK | X_OK) != 0)
        return cannotWrite(t.path, systemErrorText(errno));
    return t;
}

ReplacingFile::ReplacingFile(WriteTarget target, QString temp, int fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

Result<std::unique_ptr<ReplacingFile>> ReplacingFile::begin(const QString& target) {
    Result<WriteTarget> checked = checkWriteTarget(target);
    if (!checked)
        return fail(checked.error());
    WriteTarget t = checked.take();
    // A change of this file cut short by a crash is finished before it is replaced again;
    // then what killed saves left under its name goes.
    if (Status s = finishInterruptedReplace(t.file); !s)
        qCWarning(lcWrite).noquote() << s.error();
    sweepLeftovers(t.file);

    struct stat old {};
    const bool keepMode = t.exists && ::stat(native(t.file).constData(), &old) == 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temp = siblingName(t.file, "tmp");
        const int fd = openFile(temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return cannotWrite(t.path, systemErrorText(errno));
        }
        // Locked at once; a sweeper that came between the two took a file no longer ours.
        if (!tryLock(fd, LOCK_EX) || !sameFile(fd, temp)) {
            ::close(fd);
            continue;
        }
        std::unique_ptr<ReplacingFile> f(new ReplacingFile(t, temp, fd));
        f->lockFd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (f->lockFd_ < 0)
            return cannotWrite(t.path, systemErrorText(errno));
        if (keepMode) {
            if (Status s = f->keepMode(old); !s)
                return fail(s.error());
        }
        f->QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
        return f;
    }
    return cannotWrite(t.path, QStringLiteral("no free temporary name"));
}

Status ReplacingFile::keepMode(const struct stat& old) {
    struct stat mine {};
    ::fstat(fd_, &mine);
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
        ::fchown(fd_, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0)
        qCDebug(lcWrite).noquote() << "cannot keep the owner of" << shown(target_.file);
    // The old file's permissions, never wider ones.
    if (::fchmod(fd_, old.st_mode & 07777) != 0)
        return cannotWrite(target_.path, systemErrorText(errno));
    return {};
}

Status ReplacingFile::takeModeOf(const QString& file) {
    if (done_ || fd_ < 0)
        return cannotWrite(target_.path, QStringLiteral("the file is closed"));
    struct stat st {};
    if (::stat(native(file).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return keepMode(st);
}

ReplacingFile::~ReplacingFile() {
    abandon();
    closeDescriptors();
}

void ReplacingFile::closeDescriptors() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
}

int ReplacingFile::takeLock() {
    const int fd = lockFd_;
    lockFd_ = -1;
    return fd;
}

Status ReplacingFile::noteFailure(int err) {
    if (failure_.isEmpty()) {
        failure_ = cannotWrite(target_.path, systemErrorText(err)).message;
        setErrorString(failure_);
    }
    return fail(failure_);
}

Status ReplacingFile::status() const {
    if (!failure_.isEmpty())
        return fail(failure_);
    return {};
}

Status ReplacingFile::writeAt(qint64 pos, const char* data, qint64 n) {
    if (!failure_.isEmpty())
        return fail(failure_);
    if (done_ || fd_ < 0)
        return cannotWrite(target_.path, QStringLiteral("the file is closed"));
    // A write may store less than asked (a signal, a nearly full disk): go on with the rest
    // until all is written or the system gives its reason.
    while (n > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<qint64>(n, 1 << 30));
        const ssize_t done = ::pwrite(fd_, data, chunk, pos);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return noteFailure(done < 0 ? errno : EIO);
        data += done;
        pos += done;
        n -= done;
        end_ = std::max(end_, pos);
    }
    return {};
}

Status ReplacingFile::adoptWrittenFile() {
    if (!failure_.isEmpty())
        return fail(failure_);
    if (done_ || fd_ < 0)
        return cannotWrite(target_.path, QStringLiteral("the file is closed"));
    struct stat st {};
    if (!sameFile(fd_, temp_) || ::fstat(fd_, &st) != 0) {
        failure_ =
            cannotWrite(target_.path, QStringLiteral("its temporary file was replaced while it was "
                                                     "written"))
                .message;
        return fail(failure_);
    }
    end_ = static_cast<qint64>(st.st_size);
    return {};
}

qint64 ReplacingFile::writeData(const char* data, qint64 size) {
    if (!writeAt(pos(), data, size))
        return -1;
    return size;
}

qint64 ReplacingFile::readData(char* data, qint64 maxSize) {
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::pread(fd_, data, static_cast<std::size_t>(maxSize), pos());
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

Status ReplacingFile::finishWriting() {
    if (!failure_.isEmpty())
        return fail(failure_);
    if (done_)
        return cannotWrite(target_.path, QStringLiteral("the file is closed"));
    if (fd_ < 0)
        return {};
    int rc = 0;
    do {
        rc = fsyncOverride ? fsyncOverride(fd_) : ::fsync(fd_);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return noteFailure(errno);
    const int fd = fd_;
    fd_ = -1;
    // The lock lives on in its own descriptor; this close is the file's last word on errors.
    if ((closeOverride ? closeOverride(fd) : ::close(fd)) != 0 && errno != EINTR)
        return noteFailure(errno);
    QIODevice::close();
    return {};
}

Status ReplacingFile::commit() {
    return commitTogether({this});
}

void ReplacingFile::abandon() {
    if (done_)
        return;
    done_ = true;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    // Still locked by us, so no sweeper has touched it.
    ::unlink(native(temp_).constData());
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    if (isOpen())
        QIODevice::close();
}

Status commitTogether(const std::vector<ReplacingFile*>& files, const QStringList& remove) {
    struct Step {
        QString target; // the file replaced or removed
        QString shownPath;
        ReplacingFile* file = nullptr; // nullptr: the target is removed
        QString backup;
        int backupFd = -1;
        bool existed = false;
        bool applied = false;
    };
    std::vector<Step> steps;
    for (ReplacingFile* f : files)
        steps.push_back(Step{f->targetFile(), f->target(), f, {}, -1, false, false});
    for (const QString& r : remove) {
        const Result<QString> file = finalLinkTarget(r);
        const QString target = file ? file.value() : QFileInfo(r).absoluteFilePath();
        const bool replaced = std::any_of(steps.begin(), steps.end(),
                                          [&](const Step& s) { return s.target == target; });
        if (!replaced)
            steps.push_back(Step{target, QFileInfo(r).absoluteFilePath(), nullptr, {}, -1});
    }
    int markerFd = -1;
    QString markerPath;
    auto abandonAll = [&] {
        for (ReplacingFile* f : files)
            f->abandon();
    };
    auto dropBackups = [&] {
        for (Step& s : steps) {
            if (!s.backup.isEmpty())
                ::unlink(native(s.backup).constData());
            if (s.backupFd >= 0)
                ::close(s.backupFd);
            s.backup.clear();
            s.backupFd = -1;
        }
    };
    auto dropMarker = [&] {
        if (markerFd < 0)
            return;
        ::unlink(native(markerPath).constData());
        ::close(markerFd);
        markerFd = -1;
    };
    auto failAll = [&](Failure f) {
        abandonAll();
        dropBackups();
        dropMarker();
        return Status(std::move(f));
    };

    for (ReplacingFile* f : files) {
        if (Status s = f->finishWriting(); !s)
            return failAll(fail(s.error()));
    }

    // Whatever is there now is kept aside until every step is through; the last step needs no
    // copy, since nothing comes after it that could fail.
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& s = steps[i];
        struct stat st {};
        if (::lstat(native(s.target).constData(), &st) != 0) {
            const int err = errno;
            if (err == ENOENT)
                continue;
            return failAll(cannotWrite(s.shownPath, systemErrorText(err)));
        }
        if (S_ISDIR(st.st_mode))
            return failAll(cannotWrite(s.shownPath, QStringLiteral("it is a folder, not a file")));
        if (!s.file && isReadOnlyFile(s.target))
            return failAll(cannotWrite(s.shownPath, QStringLiteral("the file is read-only")));
        s.existed = true;
        if (i + 1 == steps.size())
            continue;
        Result<QString> backup = makeBackup(s.target, s.shownPath);
        if (!backup)
            return failAll(fail(backup.error()));
        s.backup = backup.take();
        // Held shared so that another save's sweeper leaves it alone while it is needed (a
        // table lock on the same file protects it the same way when this cannot be had).
        s.backupFd = openFile(s.backup, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (s.backupFd >= 0)
            tryLock(s.backupFd, LOCK_SH);
    }

    // The change is listed before the first rename, so that a process killed between two of
    // them leaves what is needed to finish it. Only a change within one folder is listed (files
    // in other folders are reached through links, rarely): a marker names nothing outside its
    // own folder.
    const bool oneFolder = std::all_of(steps.begin(), steps.end(), [&](const Step& s) {
        return folderOf(s.target) == folderOf(steps.front().target);
    });
    const std::size_t renames = static_cast<std::size_t>(
        std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.file; }));
    if (steps.size() > 1 && renames > 0 && oneFolder) {
        ChangePlan plan;
        for (const Step& s : steps) {
            if (s.file)
                plan.renames.push_back({s.file->temporaryPath(), s.target});
        }
        for (const Step& s : steps) {
            const bool listed =
                s.file || (s.existed && belongsTo(s.target, plan.renames.front().target));
            if (!s.file && listed)
                plan.removals << s.target;
            if (listed && !s.backup.isEmpty())
                plan.backups << s.backup;
        }
        markerPath = markerFor(plan.renames.front().target);
        markerFd = openFile(markerPath, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
        if (markerFd < 0)
            return failAll(cannotWrite(steps.front().shownPath, systemErrorText(errno)));
        if (!tryLock(markerFd, LOCK_EX)) {
            ::close(markerFd);
            markerFd = -1;
            return failAll(cannotWrite(steps.front().shownPath,
                                       QStringLiteral("another save of it is under way")));
        }
        struct stat st {};
        if (::fstat(markerFd, &st) == 0 && st.st_size > 0) {
            // A change before ours was cut short: it is finished first.
            if (Status s = applyMarker(markerFd, markerPath); !s)
                qCWarning(lcWrite).noquote() << s.error();
            ::close(markerFd);
            markerFd = openFile(markerPath, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
            if (markerFd < 0 || !tryLock(markerFd, LOCK_EX)) {
                if (markerFd >= 0)
                    ::close(markerFd);
                markerFd = -1;
                return failAll(cannotWrite(steps.front().shownPath,
                                           QStringLiteral("another save of it is under way")));
            }
        }
        const QByteArray text = plan.text();
        const bool written = ::ftruncate(markerFd, 0) == 0 &&
                             ::pwrite(markerFd, text.constData(),
                                      static_cast<std::size_t>(text.size()), 0) == text.size() &&
                             ::fsync(markerFd) == 0;
        if (!written)
            return failAll(cannotWrite(steps.front().shownPath, systemErrorText(errno)));
        syncFolder(folderOf(markerPath));
    }

    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& s = steps[i];
        if (steps.size() > 1 && stepHook && !stepHook(static_cast<int>(i))) {
            // The process "dies" here: everything stays as it is, and no lock is held.
            for (ReplacingFile* f : files) {
                f->done_ = true;
                f->closeDescriptors();
            }
            for (Step& b : steps) {
                if (b.backupFd >= 0)
                    ::close(b.backupFd);
                b.backupFd = -1;
            }
            if (markerFd >= 0)
                ::close(markerFd);
            return cannotWrite(steps.front().shownPath, QStringLiteral("interrupted"));
        }
        int rc = 0;
        if (s.file)
            rc = renameFile(s.file->temporaryPath(), s.target);
        else if (s.existed)
            rc = ::unlink(native(s.target).constData());
        else
            continue;
        if (rc == 0) {
            s.applied = true;
            if (s.file)
                s.file->done_ = true;
            continue;
        }
        const QString why = systemErrorText(errno);
        // The temporaries go first, so that the marker lists nothing left to finish; then the
        // steps already taken are undone, newest first.
        abandonAll();
        QStringList kept;
        for (std::size_t j = i; j-- > 0;) {
            Step& done = steps[j];
            if (!done.applied)
                continue;
            if (done.existed) {
                if (std::rename(native(done.backup).constData(), native(done.target).constData()) ==
                    0)
                    done.backup.clear();
                else
                    kept << done.backup;
            } else {
                ::unlink(native(done.target).constData());
            }
        }
        for (Step& b : steps) {
            if (!b.backup.isEmpty() && !kept.contains(b.backup))
                ::unlink(native(b.backup).constData());
            if (b.backupFd >= 0)
                ::close(b.backupFd);
            b.backupFd = -1;
        }
        dropMarker(); // nothing is left to finish
        QString message = cannotWrite(s.shownPath, why).message;
        if (!kept.isEmpty())
            message += QStringLiteral("; the previous files are kept as %1")
                           .arg(shown(kept.join(QStringLiteral(", "))));
        return fail(message);
    }
    syncFolder(folderOf(steps.front().target));
    for (const Step& s : steps) {
        if (folderOf(s.target) != folderOf(steps.front().target))
            syncFolder(folderOf(s.target));
    }
    dropBackups();
    dropMarker();
    for (ReplacingFile* f : files)
        f->closeDescriptors();
    return {};
}

Status finishInterruptedReplace(const QString& path) {
    if (path.isEmpty())
        return {};
    const Result<QString> file = finalLinkTarget(path);
    if (!file)
        return {};
    const QString marker = markerFor(file.value());
    struct stat st {};
    if (::lstat(native(marker).constData(), &st) != 0)
        return {}; // the usual case: nothing was cut short
    const int fd = openFile(marker, O_RDWR | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return fail(QStringLiteral("Cannot finish the interrupted save of %1: %2")
                        .arg(shown(path), systemErrorText(errno)));
    Status s;
    // A marker held locked belongs to a save under way.
    if (tryLock(fd, LOCK_EX) && sameFile(fd, marker))
        s = applyMarker(fd, marker);
    ::close(fd);
    return s;
}

} // namespace kx
