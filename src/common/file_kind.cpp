#include "common/file_kind.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace kx {

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
