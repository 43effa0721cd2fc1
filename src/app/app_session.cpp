#include "app/app_session.h"

#include "app/file_commands.h"
#include "app/recording_status.h"
#include "common/app_dir.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"
#include "recording/recording_journal.h"
#include "recording/test_results.h"

#include <QDir>
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
    : QObject(parent), chart_(LiveTable_), recording_(decoder_.readingTexts(), LiveTable_) {
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

    link_ = std::make_unique<ConnectionControl>(
        setup.platform ? setup.platform : makeSystemPlatform(), receiver_, decoder_);
    // Every report names the link type on the panel.
    receiver_.setReportHandler([this] {
        LinkIndicators link = decoder_.state().link();
        link.rsUsbCaption = "USB";
        decoder_.updateLink(link);
    });
    decoder_.setRecordHandler([this] { recording_.INDataToTable(1); });
    status_ = std::make_unique<RecordingStatus>(*link_, LiveTable_, recording_);
    recording_.setErrorSink([this](const QString& message) {
        status_->recordingFailed(message);
        recordingError(message);
    });

    connect(&LiveTable_, &ReadingsTable::rowAppended, this, [this] {
        ++unsaved_;
        ++appended_;
    });
    connect(&LiveTable_, &ReadingsTable::rowAboutToBeRemoved, this, &AppSession::countRemoval);
    // Closing, emptying or re-pointing the table drops its readings: nothing is left to save.
    connect(&LiveTable_, &ReadingsTable::didReset, this, [this] { unsaved_ = 0; });

    journalFolder_ = setup.journalFolder;
    connect(&LiveTable_, &ReadingsTable::rowAppended, this, &AppSession::journalRow);
    connect(&LiveTable_, &ReadingsTable::rowAboutToBeRemoved, this, &AppSession::journalDeletion);
    // Clear All, New, Open and the recent entries drop the recording's pending readings on
    // purpose, and the journal with them.
    connect(&LiveTable_, &ReadingsTable::aboutToReset, this, &AppSession::journalRestart);

    SampInterTime_.setObjectName(QStringLiteral("SampInterTime"));
    SampInterTime_.setInterval(1000);
    connect(&SampInterTime_, &QTimer::timeout, this, [this] { recording_.SampInterTimeTimer(); });
}

AppSession::~AppSession() {
    // A journal still open here was neither finished nor kept: the program is going without
    // an ending (a start-up that stopped, a test), so it stays for the next start.
    disconnect(&LiveTable_, nullptr, this, nullptr);
    status_.reset();
    journal_.reset();
    // Reading threads end before the devices, the receiver and the tables go away.
    link_->shutDown();
    decoder_.setStateObserver({});
    decoder_.setRecordHandler({});
}

void AppSession::start() {
    link_->start();
    SampInterTime_.start();
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
    Status s = empty ? LiveTable_.emptyTable() : Status();
    if (s)
        s = LiveTable_.open();
    if (!s)
        status_->liveOpenFailed(LiveTable_.filePath(), s.error());
    return s;
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
    JournalRecovery done;
    if (journalFolder_.isEmpty())
        return done;
    for (const QString& path : leftOverJournals(journalFolder_)) {
        Result<QString> table = recoverJournal(path, AppDir, now);
        if (!table) {
            qCWarning(lcSession).noquote() << table.error();
            done.errors << table.error();
        } else if (!table.value().isEmpty()) {
            qCInfo(lcSession).noquote()
                << "Recovered the readings of an unfinished recording as" << table.value();
            done.tables << table.value();
        }
    }
    return done;
}

Status AppSession::startJournal() {
    if (journalFolder_.isEmpty() || journal_)
        return {};
    if (!QDir().mkpath(journalFolder_))
        return fail(QStringLiteral("Cannot make the folder %1 for the recording journal")
                        .arg(QDir::toNativeSeparators(journalFolder_)));
    Result<std::unique_ptr<RecordingJournal>> j =
        RecordingJournal::create(newJournalPath(journalFolder_));
    if (!j)
        return j.status();
    journal_ = j.take();
    journalFailing_ = false;
    // Readings recorded before the journal began (none at start-up) are written first.
    for (qint64 row = 0; row < LiveTable_.rowCount(); ++row)
        journalRow(row);
    return {};
}

QString AppSession::journalPath() const {
    return journal_ ? journal_->path() : QString();
}

void AppSession::finishJournal() {
    if (!journal_)
        return;
    if (Status s = journal_->finish(); !s)
        qCWarning(lcSession).noquote() << s.error();
    journal_.reset();
}

void AppSession::keepJournal() {
    journal_.reset();
}

void AppSession::journalFailed(const Status& s) {
    if (s) {
        journalFailing_ = false;
        return;
    }
    if (journalFailing_)
        return;
    journalFailing_ = true;
    recordingError(s.error());
}

void AppSession::journalRow(qint64 row) {
    if (!journal_)
        return;
    const RecordStore& r = LiveTable_.records();
    const auto at = static_cast<std::size_t>(row);
    RecordingJournal::Reading reading;
    auto text = [&](std::string_view field) {
        const int f = LiveTable_.fieldIndex(field);
        return f < 0 || r.isNull(at, f) ? std::string() : std::string(r.textValue(at, f));
    };
    const int no = LiveTable_.fieldIndex("No");
    const int time = LiveTable_.fieldIndex("Time");
    // Only recordings have these fields; another table opened in the live one is not
    // journalled.
    if (no < 0 || time < 0 || r.isNull(at, no))
        return;
    reading.no = static_cast<std::int32_t>(r.intValue(at, no));
    if (!r.isNull(at, time))
        reading.msOfDay = static_cast<std::int32_t>(r.intValue(at, time));
    reading.value = text("Value");
    reading.unit = text("Unit");
    reading.function = text("V_Range");
    reading.mode = text("I_Range");
    journalFailed(journal_->append(reading));
}

void AppSession::journalDeletion(qint64 row) {
    if (!journal_)
        return;
    const int no = LiveTable_.fieldIndex("No");
    const auto at = static_cast<std::size_t>(row);
    if (no < 0 || row < 0 || row >= LiveTable_.rowCount() || LiveTable_.records().isNull(at, no))
        return;
    journalFailed(
        journal_->appendDeletion(static_cast<std::int32_t>(LiveTable_.records().intValue(at, no))));
}

void AppSession::journalRestart() {
    if (journal_)
        journalFailed(journal_->restart());
}

} // namespace kx
