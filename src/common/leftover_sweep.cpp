#include "common/leftover_sweep.h"

#include "common/commit_marker.h"
#include "common/sibling_files.h"

#include <QRegularExpression>
#include <QStringList>

#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx::writer {
namespace {

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

} // namespace

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

} // namespace kx::writer
