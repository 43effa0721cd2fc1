#include "app/recording_status.h"

#include "link/connection_control.h"
#include "readings/readings_table.h"
#include "recording/recording_control.h"

#include <QDir>
#include <QFileInfo>

namespace kx {
namespace {

// An engine's or the system's message inside a line of text: one line, no closing full stop.
QString inLine(QString reason) {
    reason = reason.simplified();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}

// The status line names the file once: a reason that names it again keeps what it says
// about it ("Cannot open table file /a/b.db: No such file or directory" gives "No such file or
// directory").
QString withoutPath(const QString& reason, const QString& path) {
    for (const QString& p : {QDir::toNativeSeparators(path), path}) {
        const qsizetype at = p.isEmpty() ? -1 : reason.indexOf(p);
        if (at < 0)
            continue;
        const QString after = reason.mid(at + p.size());
        if (after.startsWith(QStringLiteral(": ")) && after.size() > 2)
            return after.mid(2);
        // A sentence about the file keeps it, by its name alone.
        QString shorter = reason;
        return shorter.replace(p, QFileInfo(path).fileName());
    }
    return reason;
}

// "Cannot write the recording journal /x/recording-1.journal: No space left on device" in
// the status line's few words: "journal: No space left on device".
QString shortReason(const QString& reason) {
    const qsizetype colon = reason.lastIndexOf(QStringLiteral(": "));
    const QString why = colon < 0 ? reason : reason.mid(colon + 2);
    return QStringLiteral("journal: %1").arg(why);
}

QString readingsText(qint64 n) {
    return n == 1 ? QStringLiteral("1 reading") : QStringLiteral("%1 readings").arg(n);
}

} // namespace

QString RecordingState::text() const {
    const QString main = mainText();
    if (unsafe.isEmpty())
        return main;
    // First, so that a narrow line never cuts it.
    return QStringLiteral("READINGS NOT KEPT SAFE (%1) \u2014 ").arg(unsafe) + main;
}

QString RecordingState::mainText() const {
    switch (kind) {
    case Kind::NotConnected:
        return QStringLiteral("Not connected");
    case Kind::Waiting:
        return QStringLiteral("Connected: waiting for readings to record to %1").arg(file);
    case Kind::Recording:
        return QStringLiteral("Recording to %1: %2").arg(file, readingsText(readings));
    case Kind::LimitReached:
        return QStringLiteral("Recording stopped: record limit of %1 reached").arg(limit);
    case Kind::OpenFailed:
        return QStringLiteral("Not recording: %1 could not be opened: %2").arg(file, reason);
    case Kind::TableClosed:
        return QStringLiteral("Not recording: %1 is closed").arg(file);
    case Kind::RecordingFailed:
        return QStringLiteral("Not recording: %1").arg(reason);
    case Kind::LinkDropped:
        return QStringLiteral("Link dropped: %1").arg(reason);
    case Kind::Reconnecting:
        return QStringLiteral("Link lost at %1, reconnecting (attempt %2)").arg(at).arg(attempt);
    case Kind::Reconnected:
        return QStringLiteral("Reconnected at %1 after %2 s").arg(at).arg(after);
    }
    return {};
}

RecordingStatus::RecordingStatus(ConnectionControl& link, ReadingsTable& live,
                                 RecordingControl& control, QObject* parent)
    : QObject(parent), link_(link), live_(live), control_(control) {
    qRegisterMetaType<RecordingState>();
    coalesce_.setSingleShot(true);
    coalesce_.setInterval(kCoalesceMs);
    connect(&coalesce_, &QTimer::timeout, this, &RecordingStatus::refresh);

    connect(&live_, &ReadingsTable::rowAppended, this, [this] {
        recordedSinceConnect_ = true;
        recordFailure_.clear();
        changed();
    });
    connect(&live_, &ReadingsTable::rowRemoved, this, &RecordingStatus::changed);
    connect(&live_, &ReadingsTable::didReset, this, [this] {
        recordFailure_.clear();
        changed();
    });
    connect(&control_, &RecordingControl::numberingChanged, this, &RecordingStatus::changed);
    connect(&link_, &ConnectionControl::panel2Changed, this, &RecordingStatus::linkChanged);
    connect(&link_, &ConnectionControl::linkDropped, this, &RecordingStatus::changed);
    reconnectedShown_.setSingleShot(true);
    reconnectedShown_.setInterval(kReconnectedShownMs);
    connect(&reconnectedShown_, &QTimer::timeout, this, [this] {
        reconnectedAt_.clear();
        changed();
    });
    const auto forgetReconnected = [this] {
        reconnectedShown_.stop();
        reconnectedAt_.clear();
        changed();
    };
    connect(&link_, &ConnectionControl::linkLost, this, forgetReconnected);
    connect(&link_, &ConnectionControl::retryingStopped, this, forgetReconnected);
    connect(&link_, &ConnectionControl::reconnectAttempted, this, &RecordingStatus::changed);
    connect(&link_, &ConnectionControl::linkRestored, this, [this](const QDateTime& at) {
        reconnectedAt_ = at.toString(QStringLiteral("HH:mm:ss"));
        reconnectedAfter_ = (link_.lostAt().msecsTo(at) + 500) / 1000;
        reconnectedShown_.start();
        refresh(); // said at once: it is news
    });
    connected_ = link_.usbConDown();
    state_ = compute();
}

void RecordingStatus::changed() {
    if (!coalesce_.isActive())
        coalesce_.start();
}

void RecordingStatus::linkChanged() {
    const bool connected = link_.usbConDown();
    if (connected && !connected_)
        recordedSinceConnect_ = false;
    connected_ = connected;
    changed();
}

void RecordingStatus::liveOpenFailed(const QString& path, const QString& reason) {
    openFailedPath_ = path;
    openFailure_ = withoutPath(inLine(reason), path);
    changed();
}

void RecordingStatus::keepingFailed(const QString& reason) {
    keepFailure_ = reason.isEmpty() ? QString() : shortReason(inLine(reason));
    changed();
}

void RecordingStatus::recordingFailed(const QString& reason) {
    recordFailure_ = inLine(reason);
    changed();
}

RecordingState RecordingStatus::compute() const {
    RecordingState s;
    s.unsafe = keepFailure_;
    s.file = QDir::toNativeSeparators(live_.filePath());
    s.readings = live_.rowCount();
    s.limit = control_.RecordLimit;
    using Kind = RecordingState::Kind;
    if (!live_.isOpen()) {
        const bool failed = !openFailure_.isEmpty() && openFailedPath_ == live_.filePath();
        s.kind = failed ? Kind::OpenFailed : Kind::TableClosed;
        if (failed)
            s.reason = openFailure_;
    } else if (link_.reconnecting()) {
        s.kind = Kind::Reconnecting;
        s.at = link_.lostAt().toString(QStringLiteral("HH:mm:ss"));
        s.attempt = link_.reconnectAttempt();
    } else if (!link_.dropReason().isEmpty()) {
        s.kind = Kind::LinkDropped;
        s.reason = link_.dropReason();
    } else if (!link_.usbConDown()) {
        s.kind = Kind::NotConnected;
    } else if (!recordFailure_.isEmpty()) {
        s.kind = Kind::RecordingFailed;
        s.reason = recordFailure_;
    } else if (!reconnectedAt_.isEmpty() && link_.usbConDown()) {
        s.kind = Kind::Reconnected;
        s.at = reconnectedAt_;
        s.after = reconnectedAfter_;
    } else if (control_.limitReached()) {
        s.kind = Kind::LimitReached;
    } else {
        s.kind = recordedSinceConnect_ ? Kind::Recording : Kind::Waiting;
    }
    return s;
}

void RecordingStatus::refresh() {
    coalesce_.stop();
    if (live_.isOpen())
        openFailure_.clear();
    const RecordingState now = compute();
    if (now == state_)
        return;
    state_ = now;
    Q_EMIT recordingStateChanged(state_);
}

} // namespace kx
