#pragma once

// What the atomic writer (replacing_file.cpp), the marker of a change of several files
// (commit_marker.cpp) and the sweep of leftovers (leftover_sweep.cpp) share: the names of the
// files kept beside a target while it is replaced, and the system calls every one of their
// steps makes the same careful way. Private to those three files.

#include "common/result.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace kx::writer {

Q_DECLARE_LOGGING_CATEGORY(lcWrite)

QByteArray native(const QString& path);
// A path as messages show it.
QString shown(const QString& path);
Failure cannotWrite(const QString& path, const QString& why);

// The rename every commit makes (the test hook's when one is set).
int renameFile(const QString& from, const QString& to);
// open() with O_CLOEXEC, again after a signal.
int openFile(const QString& path, int flags, mode_t mode = 0);
// A non-blocking flock, again after a signal.
bool tryLock(int fd, int how);
// Whether the descriptor is still the file of that name (it was not removed or replaced).
bool sameFile(int fd, const QString& path);
// Renames and removals reach the disk only with their folder.
void syncFolder(const QString& folder);

QString folderOf(const QString& file);
QString nameOf(const QString& file);
QString inFolder(const QString& folder, const QString& name);
// ".name.1a2b3c4d.tag" beside the file.
QString siblingName(const QString& file, const char* tag);
// Matches the names siblingName() gives `name` with one of `tags` ("tmp|old").
QRegularExpression siblingPattern(const QString& name, const char* tags);
// ".name.commit" beside the file: the marker of a change whose first target it is.
QString markerFor(const QString& file);
// The hidden names in a folder, without looking at each file.
QStringList namesIn(const QString& folder);
// Whether `file` belongs to `owner` as its index or details do: in its folder, named as it is
// up to its extension ("t.px" and "t.results.json" for "t.db"), and not the owner itself.
bool belongsTo(const QString& file, const QString& owner);

} // namespace kx::writer
