#include "common/commit_marker.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "common/sibling_files.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx {
namespace writer {
namespace {

constexpr qint64 kMaxMarkerSize = 64 * 1024;
constexpr const char* kMarkerHead = "kxlink-replace 1";

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

} // namespace

QByteArray ChangePlan::text() const {
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

QStringList ChangePlan::listed() const {
    QStringList all = backups;
    for (const Rename& r : renames)
        all << r.temp << r.target;
    return all;
}

std::optional<ChangePlan> ChangePlan::parse(const QByteArray& text, const QString& markerPath) {
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

CommitMarker::~CommitMarker() {
    if (fd_ >= 0)
        ::close(fd_);
}

Status CommitMarker::claim(const QString& shownPath) {
    auto busy = [&] {
        return cannotWrite(shownPath, QStringLiteral("another save of it is under way"));
    };
    fd_ = openFile(path_, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return cannotWrite(shownPath, systemErrorText(errno));
    if (!tryLock(fd_, LOCK_EX)) {
        ::close(fd_);
        fd_ = -1;
        return busy();
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size == 0)
        return {};
    // A change before ours was cut short: it is finished first.
    if (Status s = applyMarker(fd_, path_); !s)
        qCWarning(lcWrite).noquote() << s.error();
    ::close(fd_);
    fd_ = openFile(path_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd_ < 0 || !tryLock(fd_, LOCK_EX)) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return busy();
    }
    return {};
}

Status CommitMarker::write(const ChangePlan& plan, const QString& shownPath) {
    path_ = markerFor(plan.renames.front().target);
    if (Status s = claim(shownPath); !s)
        return s;
    const QByteArray text = plan.text();
    const bool written =
        ::ftruncate(fd_, 0) == 0 &&
        ::pwrite(fd_, text.constData(), static_cast<std::size_t>(text.size()), 0) == text.size() &&
        ::fsync(fd_) == 0;
    if (!written)
        return cannotWrite(shownPath, systemErrorText(errno));
    syncFolder(folderOf(path_));
    return {};
}

void CommitMarker::drop() {
    if (fd_ < 0)
        return;
    ::unlink(native(path_).constData());
    ::close(fd_);
    fd_ = -1;
}

void CommitMarker::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace writer

Status finishInterruptedReplace(const QString& path) {
    using namespace writer;
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
