#pragma once

#include "common/result.h"

#include <QFile>
#include <QString>

#include <memory>

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
    ReplacingFile(const QString& target, const QString& temp);
    QString target_;
    QFile file_;
    bool done_ = false;
};

} // namespace kx::px
