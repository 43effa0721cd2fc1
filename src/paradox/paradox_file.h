#pragma once

#include "common/result.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace kx::px {

// A file written beside its target under a temporary name and renamed over the target by
// commit(), so a failed or abandoned write never leaves a damaged file where a good one was.
// Destroying it without commit() removes the temporary file.
class ReplacingFile {
public:
    static Result<std::unique_ptr<ReplacingFile>> begin(const QString& target);
    ~ReplacingFile();

    QFile& file() { return file_; }
    const QString& target() const { return target_; }
    // Writes n bytes at pos; the message names the target file.
    Status writeAt(qint64 pos, const char* data, qint64 n);
    // Flushes to disk and renames over the target. Lock checks are the caller's: hold a
    // TableLock on an existing target while replacing it.
    Status commit();
    void abandon();

private:
    friend Status commitTogether(const std::vector<ReplacingFile*>& files,
                                 const QStringList& remove);
    ReplacingFile(const QString& target, const QString& temp);
    // Flushes the temporary file to disk and closes it, ready to be renamed.
    Status finishWriting();
    QString target_;
    QString tempName_;
    QFile file_;
    bool done_ = false;
};

// Puts several files in place as one change: every target is replaced by its file and every
// path in `remove` is deleted, or, when any step fails, every one of them is left as it was
// and no temporary file stays behind. A table and its index go through here together, so a
// failure between the two renames cannot leave a new table beside an old index. The files are
// finished (committed or abandoned) afterwards either way.
Status commitTogether(const std::vector<ReplacingFile*>& files, const QStringList& remove = {});

namespace testhooks {
// Replaces the rename the commits use, so tests can make one of them fail; nullptr restores
// the system's.
using RenameFunction = int (*)(const char* from, const char* to);
void setRenameFunction(RenameFunction f);
} // namespace testhooks

} // namespace kx::px
