#include "app/app_session.h"

#include "app/file_commands.h"
#include "common/app_dir.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"

#include <QFileInfo>
#include <QLoggingCategory>

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
    recording_.setErrorSink([this](const QString& message) { recordingError(message); });

    SampInterTime_.setObjectName(QStringLiteral("SampInterTime"));
    SampInterTime_.setInterval(1000);
    connect(&SampInterTime_, &QTimer::timeout, this, [this] { recording_.SampInterTimeTimer(); });
}

AppSession::~AppSession() {
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
    LiveTable_.close();
    if (Status s = LiveTable_.emptyTable(); !s)
        return s;
    return LiveTable_.open();
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

} // namespace kx
