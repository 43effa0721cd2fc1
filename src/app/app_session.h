// Room app: the application session both front ends drive, settings, file commands. Uses
// every room below it; ui/ the main window.
#pragma once

#include "assets/register_session.h"
#include "chart/chart_model.h"
#include "common/app_dir.h"
#include "common/result.h"
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/frame_throttle.h"
#include "link/hid_platform.h"
#include "readings/readings_table.h"
#include "recording/journalled_readings.h"
#include "recording/recording_control.h"
#include "recording/recording_keeper.h"
#include "reports/report_state.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class QEventLoop;

namespace kx {

class ConnectionControl;
class DemoFaults;
class FileCommands;
class RecordingStatus;
class TestResults;

// A question asked before records are deleted: the warning, and the file whose records go.
struct DeletionQuestion {
    QString text;
    QString file;
};

// What a session is built on. Tests give their own platform and table files.
struct SessionSetup {
    std::shared_ptr<HidPlatform> platform; // the system's HID devices when none is given
    QString liveTable = QStringLiteral("Pw60bdb");
    QString storeTable = QStringLiteral("pw60SD");
    // The program's folder, where bare table names and the settings file are looked up, used
    // as it is. When empty it is worked out from `places`. Tests point it at a folder of their
    // own.
    QString appDir;
    // Where the program's folder is chosen from; the running program's places when not
    // given.
    std::optional<AppDirPlaces> places;
    // Where the window's recording journal is kept (RecordingKeeper::journalIn); empty: no
    // journal. The window journals into the user's data folder; the command line keeps its
    // recording in its target file instead (recordInto).
    QString journalFolder;
    // The demo's fault player, when the demo runs (the window's Demo menu starts faults on it).
    std::shared_ptr<DemoFaults> demoFaults;
    // The asset register: a location of the caller's (the demonstration's own register, a
    // test's); otherwise the settings' Database entry, or the user's default register.
    std::optional<DatabaseLocation> database;
    // Run once on the register when it opens (the demonstration fills its register).
    std::function<Status(AssetRegister&)> prepareRegister;
};

// How a run of the link (AppSession::runLink) ended.
struct LinkRun {
    enum class End {
        NotConnected, // CONNECT found no cable to read; the reason was told as information
        Done,         // the frames asked for were decoded
        Stopped,      // stopLink(), a stop signal (SIGINT, SIGTERM, SIGHUP) or the end of the loop
        Dropped,      // the link dropped (the watchdog, a device change); `reason` says why
    };
    End end = End::NotConnected;
    qint64 frames = 0; // frames decoded during the run
    QString reason;
};

// The program's state and components, shared by the main window and the command-line front
// end: the cable's reports in, frames assembled and decoded, the link to the cable, the two
// readings tables and the rules that record readings into the live one, the chart of the
// live table, the sampling timer. Neither front end wires these itself; both make one
// session, drive it with its commands and listen to its signals (and those of the objects it
// owns: ConnectionControl::information and linkDropped, FrameDecoder::displayChanged,
// RecordingStatus::recordingStateChanged), as many listeners as they like.
//
// The session outlives every view of it: windows and grids attach to its tables and
// detach when they go. Commands report failures as a Status carrying the message the
// user sees; the caller shows it.
class AppSession : public QObject {
    Q_OBJECT
public:
    explicit AppSession(SessionSetup setup = {}, QObject* parent = nullptr);
    // Stops the reading threads before the receiver and tables go.
    ~AppSession() override;

    FrameReceiver& receiver() { return receiver_; }
    // Paces decoding to two frames a second; tests set its clock.
    FrameThrottle& throttle() { return throttle_; }
    FrameDecoder& decoder() { return decoder_; }
    ConnectionControl& link() { return *link_; }
    ReadingsTable& liveTable() { return LiveTable_; }
    ReadingsTable& storeTable() { return StoreTable_; }
    RecordingControl& recording() { return recording_; }
    // The chart of the live table, shared by the window's chart view and the command line.
    ChartModel& chart() { return chart_; }
    QTimer& samplingTimer() { return SampInterTime_; }
    FileCommands& files() { return *files_; }
    ReportState& reports() { return reports_; }
    // Whether readings are being recorded and why not, for the status line.
    RecordingStatus& recordingStatus() { return *status_; }
    // The insulation tests of the live table with their details and settings.
    TestResults& results() { return *results_; }
    // The asset register, opened when first used.
    RegisterSession& assets() { return assets_; }
    // The register's location as the settings keep it ("sqlite:PATH", "postgresql://...");
    // empty for the user's default register.
    QString databaseUrl() const;
    // Keeps `url` in the settings (empty: the default register) and opens the register
    // there from now on. A location that cannot be read is refused with its message.
    Status setDatabaseUrl(const QString& url);

    // Starts the device list's first scan (from the event loop) and the sampling timer.
    void start();

    // One complete frame, as the throttle lets it through: decoded, its reading offered to
    // recording when recording is on, then frameDecoded (and readingRecorded) told.
    void decodeFrame(std::string_view frameHex);
    // Whether decoded readings are offered to recording; on from the start. Off, the link and
    // the panel run as usual and nothing is recorded (the command line's monitor).
    void setRecordingOn(bool on) { recordingOn_ = on; }
    bool recordingOn() const { return recordingOn_; }

    // The link's life as the command line lives it, in the window's terms: start-up's USB
    // port and first device scan, then CONNECT. Returns whether the link is up; when not, the
    // reason was told through ConnectionControl::information.
    bool connectLink();
    // Connects (connectLink), then runs the event loop until `frames` frames were decoded (0:
    // no limit), stopLink() is called or a stop signal arrives (SIGINT, SIGTERM, SIGHUP), or
    // the link drops (with automatic reconnection a drop only pauses the run: see
    // ConnectionControl::setAutoReconnect). On the way out the cable gets its setup report again
    // (endLink).
    LinkRun runLink(qint64 frames = 0);
    // Ends a runLink at the next return to its event loop.
    void stopLink();

    // Start-up's first step: an installed program's data folder gets the files it lacks
    // from the installed templates. Nothing to do when the program runs from its own folder.
    Status prepareAppDir();
    // The demo's fault player; null unless the demo runs.
    DemoFaults* demoFaults() const { return demoFaults_.get(); }

    // Start-up: empties the live table's file, then opens it.
    Status openLiveTableAtStart();
    // Whether the live table is on the program's own scratch file, which holds no records of
    // the user's between runs and may be emptied freely (a data file the user opened may not).
    bool liveIsScratch() const;
    // Whether the stored table is on its default file, which the store's open may empty (a
    // data file the user opened into it may not be).
    bool storeIsDefault() const;
    // The program's own scratch table, where a new recording goes.
    const QString& scratchPath() const { return scratchPath_; }
    // Points the live table at `path` and opens it, its file emptied first when `empty` is
    // set. A failure leaves it closed under that name, and the status line says why. A user's
    // file (not emptied) opens through openTable.
    Status openLive(const QString& path, bool empty = false);
    // Opens a user's table file into `table` (the live or the stored table, or one on the side)
    // and holds it, after giving the journal of a recording into it its due (openTableToRead
    // with TableUse::Hold): readings a recording that did not end normally left are added to
    // the file, or shown when the file cannot be written; a file a recording holds now opens
    // as an unheld copy with the readings since its last checkpoint, which the window does not
    // write to (Clear All and Save As over it are refused while the recording runs). What was
    // found is told by journalNote.
    Result<JournalledReadings> openTable(ReadingsTable& table, const QString& path);

    // Readings recorded into the live table since it was last saved with Save As (or since
    // the recording began). Readings dropped on purpose (Clear All, New, Open, the exits)
    // leave none behind; a reading deleted from the grid is one fewer.
    qint64 unsavedReadings() const { return unsaved_; }
    // The readings recorded up to `mark` (an earlier appendedReadings()) were saved; those
    // recorded while the save ran stay unsaved.
    void savedUpTo(qint64 mark);
    // Readings appended to the live table in this run, counted up for savedUpTo.
    qint64 appendedReadings() const { return appended_; }
    // The user chose to leave behind the unsaved readings recorded up to `mark` (an earlier
    // appendedReadings()); those recorded since stay unsaved.
    void discardUnsaved(qint64 mark) { savedUpTo(mark); }
    // "Save the N readings recorded since the last save?"
    QString saveQuestion() const;
    // Clear All's question: the program's warning and the live table's file.
    DeletionQuestion clearAllQuestion() const;

    // The program or a run of the link is ending: a connected cable gets its setup report
    // again, as it does on DISCONNECT, so it is left as it was found. Every ending of both
    // front ends comes through here.
    void endLink();

    // How the readings of a recording are kept safe from a crash: one keeper for both front
    // ends, configured by each (see RecordingKeeper).
    RecordingKeeper& keeper() { return keeper_; }
    // Start-up: the journals of runs that ended without finishing them (a crash, a kill) are
    // written as keyed tables "recovered-yymmddhhnn.db" in the program's folder.
    JournalRecovery recoverJournals(const QDateTime& now);
    // The recordings earlier runs left in their journals, read before anything is done with
    // them (the window asks about those that continue a file).
    std::vector<LeftOverRecording> leftOverRecordings() const {
        return kx::leftOverRecordings(journalFolder_);
    }
    const QString& journalFolder() const { return journalFolder_; }
    // The window's start-up: every reading recorded from now on is kept in a journal in the
    // journal folder until the recording ends. A failure leaves the program recording
    // without one.
    Status startJournal();
    bool journaling() const { return keeper_.journaling(); }
    QString journalPath() const { return keeper_.journalPath(); }
    // The command line's recording: readings go to a table with no file behind it and are
    // kept in `path` as they come (RecordingKeeper::keepInFile). With `append` the file's
    // records are kept and the numbering continues after the highest.
    Result<KeptFile> recordInto(const QString& path, bool append);
    // The recording ends normally (the window's exits and close box, the end of a
    // command-line recording): kept for good, the journal removed. `runFailed`: see
    // RecordingKeeper::finish.
    Status finishRecording(bool runFailed = false);
    // The program is told to stop (a signal): the journal is closed and left for the next
    // start to recover.
    void keepJournal() { keeper_.leave(); }

    // The link to the meter went down at `at` (`why` says how) and is being tried again, or
    // came back: while readings are recorded the stretch is kept as a gap of the recording
    // (TestResults::linkLost), so that its tests end there and the views mark it. A gap still
    // open when the recording finishes, or when a reading comes without linkRestored (the
    // user connected again), ends then.
    void onLinkLost(const QDateTime& at, const QString& why);
    void onLinkRestored(const QDateTime& at);

    // The EXIT panel's closing of both tables.
    void closeTablesForExit();
    // File > Exit: closes the live table and empties its file when it is the scratch file.
    Status exitWithoutSaving();

    // Module state of the main window, under the names the program uses throughout (the
    // link port is ConnectionControl::LinkPort).
    QString AppDir; // the program's folder, with its trailing separator

Q_SIGNALS:
    // Every frame decodeFrame handled, after its reading was offered to recording.
    void frameDecoded(const kx::DecodeResult& result);
    // A reading was recorded as row `row` of the live table.
    void readingRecorded(qint64 row);
    // A reading could not be recorded or kept (a table error, a journal that cannot be
    // written), already written to the link's history list. Told once until it works again.
    void recordingFailed(const QString& message);
    // The readings are no longer kept safe from a crash (the journal cannot be written:
    // `failure` says why), or are again (`failure` empty).
    void keepingChanged(const QString& failure);
    // A table file opened by openTable had a recording's journal beside it: what became of its
    // readings, or that the recording is in progress (JournalledReadings::message).
    void journalNote(const QString& message);

private:
    // Where the asset register is: see SessionSetup::database.
    void chooseRegister(const SessionSetup& setup);
    void recordingError(const QString& message);
    void countRemoval(qint64 row);

    FrameReceiver receiver_;
    FrameDecoder decoder_;
    ReadingsTable LiveTable_;  // "DBPW60"
    ReadingsTable StoreTable_; // "pw60sd"
    ChartModel chart_;
    RecordingControl recording_;
    FrameThrottle throttle_;
    bool recordingOn_ = true;
    bool started_ = false;
    QEventLoop* linkLoop_ = nullptr; // the loop of a runLink under way
    QTimer SampInterTime_;
    std::unique_ptr<ConnectionControl> link_;
    std::unique_ptr<FileCommands> files_;
    std::unique_ptr<RecordingStatus> status_;
    qint64 unsaved_ = 0;
    qint64 appended_ = 0;
    QString scratchPath_;
    AppDirPlaces places_;
    bool ownFolder_ = false; // the caller gave the folder: nothing is filled into it
    QString storeDefaultPath_;
    ReportState reports_;
    QString journalFolder_;
    RecordingKeeper keeper_{LiveTable_};
    std::unique_ptr<TestResults> results_;
    std::shared_ptr<DemoFaults> demoFaults_;
    RegisterSession assets_;
};

} // namespace kx
