#include "readings/details_companion.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace kx {
namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QString testDetailsPath(const QString& tablePath) {
    const QFileInfo info(linkedFile(tablePath));
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + QStringLiteral(".results.json"));
}

// The file's bytes, opened without ever waiting on whatever may have been put there since it
// was looked at; at most one byte more than a details file may hold.
Result<QByteArray> readDetailsBytes(const QString& path) {
    Result<int> fd = openRegularFile(path, O_RDONLY | O_NONBLOCK, QStringLiteral("Cannot read"));
    if (!fd)
        return fail(fd.error());
    QFile f;
    if (!f.open(fd.value(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd.value());
        return fail(QStringLiteral("Cannot read %1: %2").arg(shown(path), f.errorString()));
    }
    QByteArray bytes = f.read(kMaxDetailsFileBytes + 1);
    if (f.error() != QFileDevice::NoError)
        return fail(QStringLiteral("Cannot read %1: %2").arg(shown(path), f.errorString()));
    return bytes;
}

// The details file written, not yet in place, with the mode and owner of its table.
Result<std::unique_ptr<ReplacingFile>> beginDetails(const QString& tablePath,
                                                    const QByteArray& bytes) {
    Result<std::unique_ptr<ReplacingFile>> file = ReplacingFile::begin(testDetailsPath(tablePath));
    if (!file)
        return file;
    if (Status s = file.value()->takeModeOf(tablePath); !s)
        return fail(s.error());
    if (Status s = file.value()->writeAt(0, bytes.constData(), bytes.size()); !s)
        return fail(s.error());
    return file;
}

Status removeDetails(const QString& path) {
    if (fileKind(path) == FileKind::Missing)
        return {};
    if (Status s = refuseNonRegular(path, QStringLiteral("Cannot remove")); !s)
        return s;
    QFile f(path);
    if (!f.remove())
        return fail(QStringLiteral("Cannot remove %1: %2").arg(shown(path), f.errorString()));
    return {};
}

Result<QByteArray> testDetailsBytes(const QString& tablePath) {
    if (tablePath.isEmpty())
        return QByteArray();
    const QString from = testDetailsPath(tablePath);
    if (fileKind(from) != FileKind::Regular)
        return QByteArray();
    Result<QByteArray> bytes = readDetailsBytes(from);
    if (bytes && bytes.value().size() > kMaxDetailsFileBytes)
        return fail(QStringLiteral("Cannot copy %1: it is too large to be a details file")
                        .arg(shown(from)));
    return bytes;
}

DetailsCompanion::DetailsCompanion() = default;
DetailsCompanion::DetailsCompanion(DetailsCompanion&&) noexcept = default;
DetailsCompanion& DetailsCompanion::operator=(DetailsCompanion&&) noexcept = default;
DetailsCompanion::~DetailsCompanion() = default;

Result<DetailsCompanion> DetailsCompanion::prepare(const QString& tablePath,
                                                   const QByteArray& bytes) {
    DetailsCompanion c;
    if (bytes.isEmpty()) {
        const QString path = testDetailsPath(tablePath);
        // Checked as every write is: a folder or a read-only file there is refused.
        if (Status s = checkWriteTarget(path).status(); !s)
            return fail(s.error());
        c.remove_ = path;
        return c;
    }
    Result<std::unique_ptr<ReplacingFile>> file = beginDetails(tablePath, bytes);
    if (!file)
        return fail(file.error());
    c.file_ = file.take();
    return c;
}

void DetailsCompanion::addTo(px::WriteOptions& options) const {
    if (file_)
        options.companions.push_back(file_.get());
    else
        options.removeWith << remove_;
}

} // namespace kx
