#include "common/replacing_file.h"

#include "common/commit_marker.h"
#include "common/leftover_sweep.h"
#include "common/regular_file.h"
#include "common/sibling_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {

using namespace writer;

namespace {

testhooks::StepFunction stepHook = nullptr;
testhooks::FsyncFunction fsyncOverride = nullptr;
testhooks::CloseFunction closeOverride = nullptr;

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

// One change of several files as commitTogether makes it, one named step after another. Every
// step that fails leaves every target as it was and no temporary behind.
class FilesChange {
public:
    FilesChange(const std::vector<ReplacingFile*>& files, const QStringList& remove);
    Status run();

private:
    struct Step {
        QString target; // the file replaced or removed
        QString shownPath;
        ReplacingFile* file = nullptr; // nullptr: the target is removed
        QString backup;
        int backupFd = -1;
        bool existed = false;
        bool applied = false;
    };

    Status syncFiles();
    Status claimTargets();
    Status claimTarget(Step& s, bool last);
    Status writeMarker();
    ChangePlan plan() const;
    Status renameInOrder();
    Status stopAsKilled();
    Status undoBefore(std::size_t failed, const QString& why);
    void syncFolders();
    void sweep();
    Status failAll(Status s);
    void abandonAll();
    void dropBackups(const QStringList& keep = {});

    const std::vector<ReplacingFile*>& files_;
    std::vector<Step> steps_;
    CommitMarker marker_;
};

// The files replaced, in their order, then the removals: a path that is also replaced is
// replaced, not removed.
FilesChange::FilesChange(const std::vector<ReplacingFile*>& files, const QStringList& remove)
    : files_(files) {
    for (ReplacingFile* f : files)
        steps_.push_back(Step{f->targetFile(), f->target(), f, {}, -1, false, false});
    for (const QString& r : remove) {
        const Result<QString> file = finalLinkTarget(r);
        const QString target = file ? file.value() : QFileInfo(r).absoluteFilePath();
        const bool replaced = std::any_of(steps_.begin(), steps_.end(),
                                          [&](const Step& s) { return s.target == target; });
        if (!replaced)
            steps_.push_back(Step{target, QFileInfo(r).absoluteFilePath(), nullptr, {}, -1});
    }
}

Status FilesChange::run() {
    if (Status s = syncFiles(); !s)
        return s;
    if (Status s = claimTargets(); !s)
        return s;
    if (Status s = writeMarker(); !s)
        return s;
    if (Status s = renameInOrder(); !s)
        return s;
    syncFolders();
    sweep();
    return {};
}

// Sync: every new file's bytes are on disk and its close went through before anything it
// replaces is touched, so no rename can put a short file in place.
Status FilesChange::syncFiles() {
    for (ReplacingFile* f : files_) {
        if (Status s = f->finishWriting(); !s)
            return failAll(fail(s.error()));
    }
    return {};
}

// Claim: whatever is there now is kept aside until every step is through; the last step needs
// no copy, since nothing comes after it that could fail.
Status FilesChange::claimTargets() {
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (Status s = claimTarget(steps_[i], i + 1 == steps_.size()); !s)
            return failAll(std::move(s));
    }
    return {};
}

// A target found to be a folder or (for a removal) read-only stops the change before it starts.
Status FilesChange::claimTarget(Step& s, bool last) {
    struct stat st {};
    if (::lstat(native(s.target).constData(), &st) != 0) {
        const int err = errno;
        return err == ENOENT ? Status() : cannotWrite(s.shownPath, systemErrorText(err));
    }
    if (S_ISDIR(st.st_mode))
        return cannotWrite(s.shownPath, QStringLiteral("it is a folder, not a file"));
    if (!s.file && isReadOnlyFile(s.target))
        return cannotWrite(s.shownPath, QStringLiteral("the file is read-only"));
    s.existed = true;
    if (last)
        return {};
    Result<QString> backup = makeBackup(s.target, s.shownPath);
    if (!backup)
        return fail(backup.error());
    s.backup = backup.take();
    // Held shared so that another save's sweeper leaves it alone while it is needed (a table
    // lock on the same file protects it the same way when this cannot be had).
    s.backupFd = openFile(s.backup, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (s.backupFd >= 0)
        tryLock(s.backupFd, LOCK_SH);
    return {};
}

// Write: the change is listed before the first rename, so that a process killed between two
// of them leaves what is needed to finish it. Only a change within one folder is listed (files
// in other folders are reached through links, rarely): a marker names nothing outside its own
// folder. A single file needs no list: its one rename is whole by itself.
Status FilesChange::writeMarker() {
    const bool oneFolder = std::all_of(steps_.begin(), steps_.end(), [&](const Step& s) {
        return folderOf(s.target) == folderOf(steps_.front().target);
    });
    const bool renames =
        std::any_of(steps_.begin(), steps_.end(), [](const Step& s) { return s.file; });
    if (steps_.size() <= 1 || !renames || !oneFolder)
        return {};
    if (Status s = marker_.write(plan(), steps_.front().shownPath); !s)
        return failAll(std::move(s));
    return {};
}

// The renames, and of the removals and backups only those a marker may name: files that
// belong to the first target.
ChangePlan FilesChange::plan() const {
    ChangePlan plan;
    for (const Step& s : steps_) {
        if (s.file)
            plan.renames.push_back({s.file->temporaryPath(), s.target});
    }
    for (const Step& s : steps_) {
        const bool listed =
            s.file || (s.existed && belongsTo(s.target, plan.renames.front().target));
        if (!s.file && listed)
            plan.removals << s.target;
        if (listed && !s.backup.isEmpty())
            plan.backups << s.backup;
    }
    return plan;
}

// Rename in order: the order the marker lists, so that finishing a change cut short makes the
// renames still due and no other.
Status FilesChange::renameInOrder() {
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (steps_.size() > 1 && stepHook && !stepHook(static_cast<int>(i)))
            return stopAsKilled();
        Step& s = steps_[i];
        int rc = 0;
        if (s.file)
            rc = renameFile(s.file->temporaryPath(), s.target);
        else if (s.existed)
            rc = ::unlink(native(s.target).constData());
        else
            continue;
        if (rc != 0)
            return undoBefore(i, systemErrorText(errno));
        s.applied = true;
        if (s.file)
            s.file->done_ = true;
    }
    return {};
}

// The process "dies" here (a test's step hook): everything stays as it is, and no lock is held.
Status FilesChange::stopAsKilled() {
    for (ReplacingFile* f : files_) {
        f->done_ = true;
        f->closeDescriptors();
    }
    for (Step& b : steps_) {
        if (b.backupFd >= 0)
            ::close(b.backupFd);
        b.backupFd = -1;
    }
    marker_.release();
    return cannotWrite(steps_.front().shownPath, QStringLiteral("interrupted"));
}

// Step `failed` did not go through. The temporaries go first, so that the marker lists nothing
// left to finish; then the steps already taken are undone, newest first. A copy that cannot be
// put back stays, and the message says where.
Status FilesChange::undoBefore(std::size_t failed, const QString& why) {
    abandonAll();
    QStringList kept;
    for (std::size_t j = failed; j-- > 0;) {
        Step& done = steps_[j];
        if (!done.applied)
            continue;
        if (!done.existed)
            ::unlink(native(done.target).constData());
        else if (std::rename(native(done.backup).constData(), native(done.target).constData()) == 0)
            done.backup.clear();
        else
            kept << done.backup;
    }
    dropBackups(kept);
    marker_.drop(); // nothing is left to finish
    QString message = cannotWrite(steps_[failed].shownPath, why).message;
    if (!kept.isEmpty())
        message += QStringLiteral("; the previous files are kept as %1")
                       .arg(shown(kept.join(QStringLiteral(", "))));
    return fail(message);
}

// The renames reach the disk with their folders, the first target's first.
void FilesChange::syncFolders() {
    syncFolder(folderOf(steps_.front().target));
    for (const Step& s : steps_) {
        if (folderOf(s.target) != folderOf(steps_.front().target))
            syncFolder(folderOf(s.target));
    }
}

// Sweep: the change is through, so the copies kept aside and the marker go, and the files give
// up their locks.
void FilesChange::sweep() {
    dropBackups();
    marker_.drop();
    for (ReplacingFile* f : files_)
        f->closeDescriptors();
}

// A step before the renames failed: nothing has changed yet, so everything of ours goes.
Status FilesChange::failAll(Status s) {
    abandonAll();
    dropBackups();
    marker_.drop();
    return s;
}

void FilesChange::abandonAll() {
    for (ReplacingFile* f : files_)
        f->abandon();
}

void FilesChange::dropBackups(const QStringList& keep) {
    for (Step& s : steps_) {
        if (!s.backup.isEmpty() && !keep.contains(s.backup))
            ::unlink(native(s.backup).constData());
        if (s.backupFd >= 0)
            ::close(s.backupFd);
        s.backup.clear();
        s.backupFd = -1;
    }
}

Status commitTogether(const std::vector<ReplacingFile*>& files, const QStringList& remove) {
    return FilesChange(files, remove).run();
}

} // namespace kx
