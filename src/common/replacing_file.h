#pragma once

#include "common/result.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct stat;

namespace kx {

// Every file the program writes (tables and their indexes, text exports, reports, chart
// pictures, the settings file) is written the same way, by the one check and the one writer
// below:
//
//  - The target is checked before any work starts. A missing folder, a folder, a pipe (never
//    opened, so nothing waits for a reader), a device, a socket and a read-only file (its
//    permission bits count even for the superuser) are refused with a message that names the
//    path and says what it is.
//  - A symbolic link is written through, as editors do: the file it finally names is replaced
//    and the link stays a link. Checks apply to that file (a link to /dev/null is a device).
//  - The bytes go to a temporary file beside that file, ".NAME.1a2b3c4d.tmp", held under an
//    flock while it lives. Every write is checked, then the flush to disk (fsync) and the
//    close; only when all of it went through is the temporary renamed over the target. On
//    any failure the old file stays as it was and the temporary goes; the message names the
//    path and gives the system's reason ("No space left on device").
//  - A replaced file keeps its mode, owner and group.
//  - Leftovers of earlier saves to the same name that were killed (temporaries and backups of
//    our naming pattern that no process holds locked) are removed when the next save starts.

// Where a write goes, as checked.
struct WriteTarget {
    QString path;        // the name given, made absolute: what messages show
    QString file;        // the file written: symbolic links followed to their final target
    bool exists = false; // a file is there now
};

// The checks above, without writing anything. Fails with "Cannot write <path>: <why>".
Result<WriteTarget> checkWriteTarget(const QString& path);

// The file a path finally names, symbolic links followed (the last one may name nothing yet),
// with the folders on the way resolved. The path itself when nothing is linked.
Result<QString> finalLinkTarget(const QString& path);

// Where the files that belong to a file lie (a table's index and test details): beside the
// file a symbolic link finally names, so they stay with what they describe. The path itself
// when it is no link (or the link leads nowhere that can be named).
QString linkedFile(const QString& path);

// A file being written beside its target; also a QIODevice, so writers that take a device
// (PDF, pictures, text streams) go through it. A failed write is remembered: every later one
// fails at once and commit() reports the first failure, so a writer that does not look at
// what write() returned still cannot put a short file in place.
class ReplacingFile : public QIODevice {
public:
    static Result<std::unique_ptr<ReplacingFile>> begin(const QString& target);
    ~ReplacingFile() override;

    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // The name given (messages) and the file that is replaced (links followed).
    const QString& target() const { return target_.path; }
    const QString& targetFile() const { return target_.file; }
    const QString& temporaryPath() const { return temp_; }

    // Writes n bytes at pos; the message names the target.
    Status writeAt(qint64 pos, const char* data, qint64 n);
    // Success, or the first failure of a write so far.
    Status status() const;
    // For a library that writes a file only by its name: it writes temporaryPath() (there
    // from begin() on, empty and held by us) and closes it, then this takes what it wrote as
    // the file's content. Fails when that name no longer leads to the file begun here (it
    // was removed or replaced meanwhile). commit() then flushes, closes and renames it as
    // for bytes written through writeAt(). The library's own errors are the caller's to check.
    Status adoptWrittenFile();
    // Gives the file being written the mode, owner and group of `file` (a table whose index or
    // details this is; symbolic links followed). Nothing when there is no such file.
    Status takeModeOf(const QString& file);
    // Flushes to disk, closes and renames over the target.
    Status commit();
    // Drops the temporary file; the target stays as it was.
    void abandon();
    // Hands over the descriptor that holds the flock of the file being written (before
    // commit()), so a caller that keeps the new file to itself (a table in use) has it locked
    // from the moment it takes its name; the caller closes it. -1 when there is none.
    int takeLock();

    bool isSequential() const override { return false; }
    qint64 size() const override { return end_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    friend class FilesChange; // the steps of commitTogether()
    ReplacingFile(WriteTarget target, QString temp, int fd);
    Status noteFailure(int err);
    // Gives the file being written the mode, owner and group in `old`.
    Status keepMode(const struct stat& old);
    // Flushes the temporary file to disk and closes it, ready to be renamed (its lock stays).
    Status finishWriting();
    void closeDescriptors();

    WriteTarget target_;
    QString temp_;
    int fd_ = -1;
    int lockFd_ = -1;
    qint64 end_ = 0;
    QString failure_;
    bool done_ = false;
};

// Puts several files in place as one change: every target is replaced by its file and every
// path in `remove` is deleted, or, when any step fails, every one of them is left as it was
// and no temporary file stays behind. A table, its index and its test details go through here
// together. While the renames run, a marker ".NAME.commit" beside the first target lists
// them, so that a process killed between two steps leaves a change that
// finishInterruptedReplace() completes. The marker lists a removal only when it is a file that
// belongs to the first target (same folder, same name before the extension: "t.px" and
// "t.results.json" for "t.db"); any other removal is made but not listed. The files are
// finished (committed or abandoned) afterwards either way.
Status commitTogether(const std::vector<ReplacingFile*>& files, const QStringList& remove = {});

// Completes a change of several files that was cut short (the process died between its
// renames): when a marker of an unfinished change lies beside `path` and no live process
// holds it, the renames still due are made and the marker goes. Nothing when there is no
// marker. Callers run it before they read or lock a table.
Status finishInterruptedReplace(const QString& path);

namespace testhooks {
// Replaces the rename the commits use, so tests can make one of them fail; nullptr restores
// the system's.
using RenameFunction = int (*)(const char* from, const char* to);
void setRenameFunction(RenameFunction f);
// Called before each rename of a change of several files with its step (0, 1, ...); returning
// false stops the change there as a killed process would stop it: nothing is cleaned up and
// no lock is held any more. nullptr: no hook.
using StepFunction = bool (*)(int step);
void setStepFunction(StepFunction f);
// Replace the flush to disk and the close of a file being written (not of markers or
// folders), so tests can make them fail; a replaced close must still close the descriptor.
// nullptr restores the system's.
using FsyncFunction = int (*)(int fd);
void setFsyncFunction(FsyncFunction f);
using CloseFunction = int (*)(int fd);
void setCloseFunction(CloseFunction f);
} // namespace testhooks

} // namespace kx
