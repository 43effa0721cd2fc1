#pragma once

#include "common/result.h"

#include <QString>

namespace kx {

// Tables and output files are plain files. A pipe would block whoever opens it until a writer
// comes, and a folder or a device is nothing a table or an export can be written into, so
// these are refused before they are opened, with a message that says what the path is.

// What a path names, without opening it ("a folder", "a pipe", "a device", "a socket"), or
// an empty text for a plain file or a path where nothing is.
QString nonRegularKind(const QString& path);

// "it is a pipe, not a file" for a kind nonRegularKind() gave.
QString whatItIs(const QString& kind);

// Fails with "<action> <path>: it is a pipe, not a file" (the same for folders, devices and
// sockets) when something other than a plain file is at path; passes when the path is a plain
// file or nothing is there. `action` is the start of the message, e.g. "Cannot write".
Status refuseNonRegular(const QString& path, const QString& action);

// Opens a plain file with the POSIX flags given (O_CLOEXEC is added) without ever blocking on
// a pipe, and checks what it opened, so nothing can be swapped in between a check and the
// open. Returns the descriptor; the message starts with `action` and names the path and the
// system's reason.
Result<int> openRegularFile(const QString& path, int flags, const QString& action);

// What a path names, links followed. Pipes, devices and sockets are "Other": opening one to
// read or write could wait forever, so callers refuse them before they open anything.
enum class FileKind { Missing, Regular, Folder, Other };

FileKind fileKind(const QString& path);

// A file marked read-only: nobody may write it, or this user may not. Permission bits count
// even for the superuser, who could otherwise replace a file its owner protected.
bool isReadOnlyFile(const QString& path);

// The system's text for an error number ("No space left on device").
QString systemErrorText(int err);

} // namespace kx
