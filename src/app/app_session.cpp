#include "app/app_session.h"

#include "analysis/live_results.h"
#include "app/file_commands.h"
#include "app/recording_status.h"
#include "common/app_dir.h"
#include "common/stop_signals.h"
#include "link/connection_control.h"
#include "link/demo_faults.h"
#include "link/hid_platforms.h"
#include "readings/readings_schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcSession, "kx.app")

QString withSeparator(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

// A bare table name ("Pw60bdb") names a table file in the program's folder.
QString inFolder(const QString& folder, const QString& name) {
    if (name.contains(QLatin1Char('/')))
        return name;
    return folder + (QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".DB") : name);
}

} // namespace

AppSession::AppSession(SessionSetup setup, QObject* parent)
    : QObject(parent), chart_(LiveTable_), recording_(decoder_.readingTexts(), LiveTable_),
      throttle_([this](std::string_view frame) { decodeFrame(frame); }) {
    if (!setup.appDir.isEmpty()) {
        // A folder of the caller's own: used as it is, nothing is filled into it.
        ownFolder_ = true;
        AppDir = withSeparator(setup.appDir);
    } else {
        places_ = setup.places ? *setup.places : AppDirPlaces::system();
        AppDir = setup.places ? resolveAppDir(places_) : kx::AppDir();
    }
    LiveTable_.setTableName(inFolder(AppDir, setup.liveTable));
    StoreTable_.setTableName(inFolder(AppDir, setup.storeTable));
    scratchPath_ = LiveTable_.filePath();
    results_ = std::make_unique<TestResults>(LiveTable_, scratchPath_);
    files_ = std::make_unique<FileCommands>(*this);
    storeDefaultPath_ = StoreTable_.filePath();
    chooseRegister(setup);

    link_ = std::make_unique<ConnectionControl>(
        setup.platform ? setup.platform : makeSystemPlatform(), receiver_, decoder_);
    // The road of one frame. CONNECT makes the receiver the cable's data handler, so every
    // input report reaches it on the main thread, and names the link type on the panel. A
    // complete frame waits in the throttle (two frames a second at most), then decodeFrame
    // decodes it, offers its reading to recording and tells the listeners.
    receiver_.setReportHandler([this] {
        LinkIndicators link = decoder_.state().link();
        link.rsUsbCaption = "USB";
        decoder_.updateLink(link);
    });
    receiver_.setFrameHandler([this](std::string_view frame) {
        link_->frameArrived(); // a lost link is back
        throttle_.offer(frame);
    });
    demoFaults_ = std::move(setup.demoFaults);
    // Readings are stamped on the link's clock, so that the stretches the link was down line
    // up with them, also on a simulated clock; each such stretch goes to the recording.
    recording_.setTimeOfDay([this] { return link_->now().time().msecsSinceStartOfDay(); });
    connect(link_.get(), &ConnectionControl::linkLost, this, &AppSession::onLinkLost);
    connect(link_.get(), &ConnectionControl::linkRestored, this, &AppSession::onLinkRestored);

    status_ = std::make_unique<RecordingStatus>(*link_, LiveTable_, recording_);
    connect(&recording_, &RecordingControl::recordingFailed, this, [this](const QString& message) {
        status_->recordingFailed(message);
        recordingError(message);
    });

    // The chart breaks its line where the link was down.
    connect(results_.get(), &TestResults::detailsChanged, this,
            [this] { chart_.setLinkGaps(results_->details().linkGaps); });

    connect(&recording_, &RecordingControl::rulesChanged, this,
            [this] { results_->rulesChanged(recording_.rules()); });

    connect(&LiveTable_, &ReadingsTable::rowAppended, this, [this] {
        ++unsaved_;
        ++appended_;
    });
    connect(&LiveTable_, &ReadingsTable::rowAboutToBeRemoved, this, &AppSession::countRemoval);
    // Closing, emptying or re-pointing the table drops its readings: nothing is left to save.
    connect(&LiveTable_, &ReadingsTable::didReset, this, [this] { unsaved_ = 0; });

    journalFolder_ = setup.journalFolder;
    keeper_.setScratchTable(scratchPath_);
    connect(&keeper_, &RecordingKeeper::keepFailed, this, &AppSession::recordingError);
    connect(&keeper_, &RecordingKeeper::journalStateChanged, this, [this](const QString& failure) {
        status_->keepingFailed(failure);
        Q_EMIT keepingChanged(failure);
    });

    SampInterTime_.setObjectName(QStringLiteral("SampInterTime"));
    SampInterTime_.setInterval(1000);
    connect(&SampInterTime_, &QTimer::timeout, this, [this] { recording_.SampInterTimeTimer(); });
}

AppSession::~AppSession() {
    // A journal still open here was neither finished nor kept: the program is going without
    // an ending (a start-up that stopped, a test), so it stays for the next start.
    disconnect(&LiveTable_, nullptr, this, nullptr);
    status_.reset();
    keeper_.leave();
    // Reading threads end before the devices, the receiver and the tables go away.
    link_->shutDown();
    throttle_.discard();
}

void AppSession::start() {
    if (started_)
        return;
    started_ = true;
    link_->start();
    SampInterTime_.start();
}

void AppSession::decodeFrame(std::string_view frameHex) {
    const DecodeResult r = decoder_.ShowDataKx30(frameHex);
    if (r.record && recordingOn_) {
        // A reading came, so the link is back, whoever brought it back (CONNECT after a
        // DISCONNECT while retrying): a gap still open ends when the reading is stamped.
        if (results_->openLinkGap())
            results_->linkRestored(QDateTime(
                link_->now().date(), QTime::fromMSecsSinceStartOfDay(recording_.timeOfDayNow())));
        const qint64 rows = LiveTable_.rowCount();
        if (recording_.INDataToTable(1)) {
            // The test results learn the rules each reading was recorded under.
            results_->recordedWith(recording_.rules(), QDateTime::currentDateTime());
            // A reading the sampling interval kept back may have gone in before this one.
            for (qint64 row = rows; row < LiveTable_.rowCount(); ++row)
                Q_EMIT readingRecorded(row);
        } else if (!recording_.limitReached()) {
            results_->readingHeld(); // a repeat or a reading between samples
        }
    }
    Q_EMIT frameDecoded(r);
}

bool AppSession::connectLink() {
    // What start-up gives the link: the USB port and the device list's first scan, which is
    // queued on the event loop and run here.
    link_->LinkPort = 5;
    start();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (!link_->usbConDown())
        link_->Panel2Click();
    return link_->usbConDown();
}

LinkRun AppSession::runLink(qint64 frames) {
    LinkRun run;
    if (!connectLink())
        return run;
    run.end = LinkRun::End::Stopped;
    QEventLoop loop;
    connect(this, &AppSession::frameDecoded, &loop, [&] {
        ++run.frames;
        if (frames > 0 && run.frames >= frames) {
            run.end = LinkRun::End::Done;
            loop.quit();
        }
    });
    connect(link_.get(), &ConnectionControl::linkDropped, &loop, [&](const QString& reason) {
        run.end = LinkRun::End::Dropped;
        run.reason = reason;
        loop.quit();
    });
    {
        // Ctrl+C, SIGTERM and SIGHUP (a closed terminal) end the run as its end would.
        const StopSignals stop([this](int) { stopLink(); });
        linkLoop_ = &loop;
        loop.exec();
        linkLoop_ = nullptr;
    }
    endLink();
    return run;
}

void AppSession::stopLink() {
    if (linkLoop_)
        linkLoop_->quit();
}

void AppSession::recordingError(const QString& message) {
    // Table errors while recording join the device events in the history list.
    qCWarning(lcSession).noquote() << message;
    link_->log(message);
    Q_EMIT recordingFailed(message);
}

Status AppSession::prepareAppDir() {
    if (ownFolder_)
        return {};
    return kx::prepareAppDir(places_);
}

Status AppSession::openLiveTableAtStart() {
    return openLive(LiveTable_.filePath(), true);
}

Status AppSession::openLive(const QString& path, bool empty) {
    LiveTable_.close();
    LiveTable_.setTableName(path);
    Status s;
    if (empty) {
        s = LiveTable_.emptyTable();
        if (s)
            s = LiveTable_.open();
    } else {
        const Result<JournalledReadings> j = openTable(LiveTable_, path);
        s = j.status();
        // The readings of a recording in progress are its recorder's to keep, not this
        // window's unsaved ones; those of one that ended abnormally and could not be added to
        // the file are.
        if (j && j.value().state == JournalledReadings::State::Recording)
            unsaved_ = 0;
    }
    if (!s)
        status_->liveOpenFailed(LiveTable_.filePath(), s.error());
    else
        keeper_.followTable(); // readings recorded from now on follow the file's records
    return s;
}

Result<JournalledReadings> AppSession::openTable(ReadingsTable& table, const QString& path) {
    Result<JournalledReadings> j =
        openTableToRead(table, path, QDateTime::currentDateTime(), TableUse::Hold);
    if (j && !j.value().message.isEmpty())
        Q_EMIT journalNote(j.value().message);
    return j;
}

void AppSession::countRemoval(qint64 row) {
    // The unsaved readings are the last ones of the table.
    if (unsaved_ > 0 && row >= LiveTable_.rowCount() - unsaved_)
        --unsaved_;
}

void AppSession::savedUpTo(qint64 mark) {
    unsaved_ = std::clamp<qint64>(appended_ - mark, 0, unsaved_);
}

QString AppSession::saveQuestion() const {
    return unsaved_ == 1
               ? QStringLiteral("Save the 1 reading recorded since the last save?")
               : QStringLiteral("Save the %1 readings recorded since the last save?").arg(unsaved_);
}

DeletionQuestion AppSession::clearAllQuestion() const {
    return {QStringLiteral(" Warning:all Records will be deleted! "), LiveTable_.filePath()};
}

bool AppSession::liveIsScratch() const {
    return LiveTable_.filePath() == scratchPath_;
}

bool AppSession::storeIsDefault() const {
    return StoreTable_.filePath() == storeDefaultPath_;
}

void AppSession::endLink() {
    if (link_->usbConDown())
        link_->Panel2Click();
}

void AppSession::closeTablesForExit() {
    LiveTable_.close();
    StoreTable_.close();
}

Status AppSession::exitWithoutSaving() {
    LiveTable_.close();
    // Only the program's own scratch file is emptied: a data file the user opened keeps
    // its records.
    if (liveIsScratch())
        return LiveTable_.emptyTable();
    return {};
}

JournalRecovery AppSession::recoverJournals(const QDateTime& now) {
    return kx::recoverJournals(journalFolder_, AppDir, now);
}

Status AppSession::startJournal() {
    if (journalFolder_.isEmpty())
        return {};
    return keeper_.journalIn(journalFolder_);
}

Result<KeptFile> AppSession::recordInto(const QString& path, bool append) {
    LiveTable_.openScratch(readingsFields());
    Result<KeptFile> kept = keeper_.keepInFile(path, append, QDateTime::currentDateTime());
    if (kept && append)
        recording_.continueNumbering();
    return kept;
}

Status AppSession::finishRecording(bool runFailed) {
    onLinkRestored(link_->now());
    return keeper_.finish(runFailed);
}

void AppSession::onLinkLost(const QDateTime& at, const QString& why) {
    if (recordingOn_ && LiveTable_.isOpen())
        results_->linkLost(at, why);
}

void AppSession::onLinkRestored(const QDateTime& at) {
    results_->linkRestored(at);
}

} // namespace kx
