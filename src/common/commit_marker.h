#pragma once

// The marker ".NAME.commit" that a change of several files (commitTogether) leaves beside its
// first target while it renames: what it lists, how it is written, read and checked, and how a
// change cut short is finished from it (finishInterruptedReplace). Private to the writer.

#include "common/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kx::writer {

// What a marker of a change of several files lists: the renames still to make, in order, the
// files the change removes and the copies of the old files kept aside meanwhile. A marker
// removes only files that belong to its first target (belongsTo): the details of an older
// table must not outlive a change cut short, and a marker that could remove any file would be
// a danger of its own.
struct ChangePlan {
    struct Rename {
        QString temp;
        QString target;
    };
    std::vector<Rename> renames;
    QStringList removals;
    QStringList backups;

    QByteArray text() const;
    // Every file the plan still needs: a sweeper must leave them alone.
    QStringList listed() const;
    // Reads a marker; only changes this program makes are taken: every file in the marker's
    // own folder, temporaries and backups of our naming beside their targets, the marker named
    // after the first target. Anything else (a marker not of our making) is refused whole.
    static std::optional<ChangePlan> parse(const QByteArray& text, const QString& markerPath);
};

// The marker's text, up to the most a marker of ours can hold.
QByteArray readMarker(int fd);

// The marker of one change while it is made, held locked from write() on, so that no other
// process takes it for one cut short.
class CommitMarker {
public:
    CommitMarker() = default;
    ~CommitMarker();
    CommitMarker(const CommitMarker&) = delete;
    CommitMarker& operator=(const CommitMarker&) = delete;

    // Lists `plan` beside its first target and puts the list on disk before the first rename.
    // A change before ours cut short is finished first. Failures name `shownPath`; a marker
    // that was opened stays for drop().
    Status write(const ChangePlan& plan, const QString& shownPath);
    // The change is through or undone: the marker goes.
    void drop();
    // The process "dies" (a test's step hook): the marker stays for the next open, unlocked.
    void release();

private:
    // Opens and locks the marker; an earlier one left there is finished and a fresh one made.
    Status claim(const QString& shownPath);

    QString path_;
    int fd_ = -1;
};

} // namespace kx::writer
