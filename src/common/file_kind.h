#pragma once

#include <QString>

namespace kx {

// What a path names, links followed. Pipes, devices and sockets are "Other": opening one to
// read or write could wait forever, so callers refuse them before they open anything.
enum class FileKind { Missing, Regular, Folder, Other };

FileKind fileKind(const QString& path);

// A file marked read-only: nobody may write it, or this user may not. Permission bits count
// even for the superuser, who could otherwise replace a file its owner protected.
bool isReadOnlyFile(const QString& path);

} // namespace kx
