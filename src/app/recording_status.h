#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace kx {

class ConnectionControl;
class ReadingsTable;
class RecordingControl;

// Whether readings are being recorded, and if not, why: what the main window's status line
// says in words.
struct RecordingState {
    enum class Kind {
        NotConnected,    // the meter is not connected
        Waiting,         // connected, no reading recorded since
        Recording,       // readings go into the live table
        LimitReached,    // the record limit refuses every reading
        OpenFailed,      // the live table's file could not be opened
        TableClosed,     // the live table is closed
        RecordingFailed, // appending to the live table fails
        LinkDropped,     // the link stopped reading without the user's DISCONNECT
        Reconnecting,    // the link was lost at `at` and is being tried again (`attempt`)
        Reconnected,     // the link came back at `at` after `after` seconds
    };
    Kind kind = Kind::NotConnected;
    QString file;        // the live table's file
    qint64 readings = 0; // records of the live table
    std::int32_t limit = 0;
    QString reason; // in words: why the file did not open, the recording failed, the link dropped
    // Why the readings are not kept safe from a crash (the journal cannot be written); empty
    // while they are. Said before whatever else the line says.
    QString unsafe;
    QString at;       // hh:mm:ss: when the link was lost, or came back
    int attempt = 0;  // the try at reconnecting under way, from 1
    qint64 after = 0; // seconds the link was down

    QString text() const;
    QString mainText() const; // the text without what is said about keeping the readings safe
    bool operator==(const RecordingState&) const = default;
};

// Works out the recording state from the link, the live table and the recording rules, and
// tells it whenever it changes. Changes are gathered for kCoalesceMs before the state is
// worked out again, so a fast recording repaints the status line a few times a second at most.
class RecordingStatus : public QObject {
    Q_OBJECT
public:
    static constexpr int kCoalesceMs = 250;
    // How long "Reconnected at ..." stays before the line says what recording does again.
    static constexpr int kReconnectedShownMs = 10000;
    // Tests on a simulated clock keep it longer than they run.
    void setReconnectedShownMs(int ms) { reconnectedShown_.setInterval(ms); }

    RecordingStatus(ConnectionControl& link, ReadingsTable& live, RecordingControl& control,
                    QObject* parent = nullptr);

    const RecordingState& state() const { return state_; }
    // Works the state out now, without waiting, and tells it when it changed.
    void refresh();

    // The live table's file could not be opened (or emptied before opening): said until the
    // table opens.
    void liveOpenFailed(const QString& path, const QString& reason);
    // Appending a reading failed: said until a reading is appended or the table changes.
    void recordingFailed(const QString& reason);
    // The journal cannot be written (`reason`), or works again (empty): said until it works.
    void keepingFailed(const QString& reason);

Q_SIGNALS:
    void recordingStateChanged(const kx::RecordingState& state);

private:
    void changed();
    void linkChanged();
    RecordingState compute() const;

    ConnectionControl& link_;
    ReadingsTable& live_;
    RecordingControl& control_;
    RecordingState state_;
    QTimer coalesce_;
    QTimer reconnectedShown_;
    QString reconnectedAt_; // empty unless "Reconnected at ..." is shown
    qint64 reconnectedAfter_ = 0;
    bool connected_ = false;
    bool recordedSinceConnect_ = false;
    QString openFailedPath_;
    QString openFailure_;
    QString recordFailure_;
    QString keepFailure_;
};

} // namespace kx

Q_DECLARE_METATYPE(kx::RecordingState)
