#include "exports/export_target.h"

#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "readings/readings_table.h"

#include <QDir>
#include <QFileInfo>

namespace kx {
namespace {

// What `file` is to the table `table` when it belongs to it (its index, its test details,
// named in any case, in the folder where the table really is); empty otherwise.
QString companionRole(const QString& file, const QString& table) {
    const QFileInfo t(linkedFile(table));
    const QFileInfo f(file);
    if (QFileInfo(f.absolutePath()).canonicalFilePath() !=
        QFileInfo(t.absolutePath()).canonicalFilePath())
        return {};
    const QString base = t.completeBaseName().toLower();
    const QString name = f.fileName().toLower();
    if (name == base + QLatin1String(".px"))
        return QStringLiteral("its index");
    if (name == base + QLatin1String(".results.json"))
        return QStringLiteral("its test details");
    return {};
}

} // namespace

Result<std::unique_ptr<px::TableLock>>
claimExportTarget(const QString& path, const ReadingsTable* source, const QStringList& companions) {
    const Result<WriteTarget> target = checkWriteTarget(path);
    if (!target)
        return fail(target.error());
    if (source && target.value().exists && !source->filePath().isEmpty() &&
        QFileInfo(target.value().file).canonicalFilePath() ==
            QFileInfo(source->filePath()).canonicalFilePath())
        return fail(QStringLiteral("Cannot write %1: it is the table being saved")
                        .arg(QDir::toNativeSeparators(target.value().path)));
    // Nor may a save wreck what belongs to the table it saves.
    if (source && !source->filePath().isEmpty()) {
        if (const QString role = companionRole(target.value().file, source->filePath());
            !role.isEmpty())
            return fail(QStringLiteral("Cannot write %1: it belongs to the table being saved "
                                       "(%2)")
                            .arg(QDir::toNativeSeparators(target.value().path), role));
    }
    for (const QString& companion : companions) {
        if (const Result<WriteTarget> other = checkWriteTarget(companion); !other)
            return fail(other.error());
    }
    if (!target.value().exists)
        return std::unique_ptr<px::TableLock>();
    bool inUse = false;
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path, &inUse);
    if (lock)
        return lock;
    if (inUse)
        return fail(QStringLiteral("Cannot write %1: the file is in use by another program")
                        .arg(QDir::toNativeSeparators(target.value().path)));
    // A file we may replace but not read cannot be locked; that is no reason to refuse.
    return std::unique_ptr<px::TableLock>();
}

} // namespace kx
