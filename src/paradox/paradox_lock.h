#pragma once

#include "common/result.h"

#include <QString>

#include <memory>

namespace kx::px {

// Exclusive use of a table file: holds an operating-system lock (flock) on the file for as
// long as the object lives. A second lock on the same file, from another process or through
// another TableLock in this one, is refused with a message naming the file. The lock goes
// with the file, not its name: a writer that replaces a locked table locks the new file before
// renaming it into place (WriteOptions::keepLock), so the name is never free in between.
class TableLock {
public:
    // inUse, when given, tells a refusal because someone holds the lock from other failures.
    static Result<std::unique_ptr<TableLock>> acquire(const QString& path, bool* inUse = nullptr);
    // Takes over a descriptor that already holds the file's flock (a file just written and
    // renamed to `path`); -1 gives an object that holds nothing.
    static std::unique_ptr<TableLock> adopt(const QString& path, int fd);
    ~TableLock();

    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    const QString& path() const { return path_; }

private:
    TableLock(const QString& path, int fd) : path_(path), fd_(fd) {}
    QString path_;
    int fd_ = -1;
};

} // namespace kx::px
