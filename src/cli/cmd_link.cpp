// The live commands: connect to the cable as the window's CONNECT does, and print or record
// the decoded frames.
#include "app/app_session.h"
#include "app/recording_status.h"
#include "cli/cli_commands.h"
#include "cli/decode_json.h"
#include "common/stop_signals.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"
#include "paradox/paradox_reader.h"
#include "recording/readings_schema.h"
#include "recording/table_checkpoint.h"

#include <QDir>

#include <QCoreApplication>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>

namespace kx::cli {
namespace {

struct LinkOptions {
    bool demo = false;
    qint64 frames = 0; // 0: until stopped
    std::optional<qint64> limit;
    std::optional<QString> interval;
    bool repeat = true;
    QString out;
    QString append; // a table to keep and record after, instead of --out
};

constexpr const char* kRecordUsage =
    "kxlink-cli record [--demo] [--frames N] [--limit N] [--interval S] [--no-repeat] "
    "--out FILE.db|--append FILE.db";

bool parseCount(const QString& text, qint64* out) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < 0)
        return false;
    *out = v;
    return true;
}

bool parseOptions(QStringList args, bool record, LinkOptions* o) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        auto value = [&](QString* v) {
            if (args.isEmpty())
                return false;
            *v = args.takeFirst();
            return true;
        };
        QString v;
        if (a == QLatin1String("--demo"))
            o->demo = true;
        else if (a == QLatin1String("--frames")) {
            if (!value(&v) || !parseCount(v, &o->frames))
                return false;
        } else if (record && a == QLatin1String("--limit")) {
            qint64 n = 0;
            if (!value(&v) || !parseCount(v, &n) || n > RecordingControl::kLimitless)
                return false;
            o->limit = n;
        } else if (record && a == QLatin1String("--interval")) {
            // The sampling interval is a count of seconds to wait: never below 0.
            const std::optional<std::int32_t> seconds =
                value(&v) ? RecordingControl::intervalFromText(v) : std::nullopt;
            if (!seconds || *seconds < 0)
                return false;
            o->interval = v;
        } else if (record && a == QLatin1String("--no-repeat"))
            o->repeat = false;
        else if (record && a == QLatin1String("--out")) {
            if (!value(&o->out))
                return false;
        } else if (record && a == QLatin1String("--append")) {
            if (!value(&o->append))
                return false;
        } else
            return false;
    }
    // A recording goes to exactly one table.
    return !record || (o->out.isEmpty() != o->append.isEmpty());
}

// The records of the table to append to, read into the recording (the checkpoint holds the
// file's lock, so it is read without taking one).
Status loadForAppend(const QString& path, ReadingsTable& table) {
    Result<px::TableReader> reader = px::TableReader::open(path);
    if (!reader)
        return reader.status();
    const std::vector<px::FieldDef>& fields = reader.value().info().fields;
    if (Status s = checkRecordableFields(fields, path); !s)
        return s;
    table.openScratch(fields);
    return reader.value().forEach([&](const px::Record& r) {
        table.appendLoaded(r);
        return true;
    });
}

// Runs the session's link until N frames were decoded, a stop signal arrived or the watchdog
// dropped it. Returns the exit code.
int runLink(const LinkOptions& o, AppSession& session,
            const std::function<void(const DecodeResult&)>& onFrame, qint64* framesOut) {
    ConnectionControl& link = session.link();
    bool dropped = false;
    link.setInformationBox([&](const QString& text) {
        printError(text);
        if (text == ConnectionControl::meterSilentMessage()) {
            dropped = true;
            QCoreApplication::quit();
        }
    });
    qint64 frames = 0;
    link.onDecoded = [&](const DecodeResult& r) {
        ++frames;
        onFrame(r);
        if (o.frames > 0 && frames >= o.frames)
            QCoreApplication::quit();
    };
    // Ctrl+C, SIGTERM and SIGHUP (a closed terminal) end the command as if its frames were done.
    const StopSignals stop([](int) { QCoreApplication::quit(); });
    session.start();
    // The controller's first scan is queued on the event loop; let it run.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    link.Panel2Click();
    if (!link.usbConDown())
        return 1; // the message went to stderr
    QCoreApplication::exec();
    if (!dropped)
        link.Panel2Click(); // disconnect: the setup report goes out again
    *framesOut = frames;
    return dropped ? 1 : 0;
}

SessionSetup sessionSetup(const LinkOptions& o) {
    SessionSetup setup;
    setup.platform = o.demo ? makeDemoMeterPlatform() : makeSystemPlatform();
    return setup;
}

} // namespace

int runMonitor(const QStringList& args) {
    LinkOptions o;
    if (!parseOptions(args, false, &o))
        return usageError(QStringLiteral("kxlink-cli monitor [--demo] [--frames N]"));
    AppSession session(sessionSetup(o));
    session.decoder().setRecordHandler({}); // nothing is recorded
    qint64 frames = 0;
    return runLink(
        o, session, [&](const DecodeResult& r) { printJson(decodeJson(r, session.decoder())); },
        &frames);
}

int runRecord(const QStringList& args) {
    LinkOptions o;
    if (!parseOptions(args, true, &o))
        return usageError(QLatin1String(kRecordUsage));

    AppSession session(sessionSetup(o));
    // The readings are kept in a table with no file behind it; the target follows it at every
    // checkpoint, and is claimed before anything else happens.
    ReadingsTable& table = session.liveTable();
    table.openScratch(readingsFields());
    const QString target = o.append.isEmpty() ? o.out : o.append;
    Result<std::unique_ptr<TableCheckpoint>> claimed = TableCheckpoint::begin(target, table);
    if (!claimed) {
        printError(claimed.error());
        return 1;
    }
    TableCheckpoint& checkpoint = *claimed.value();
    // Appending keeps the table's records and numbers the new ones after its highest; a table
    // that is not there yet is made as --out makes it.
    qint64 kept = 0;
    if (!o.append.isEmpty() && !checkpoint.created()) {
        if (const Status s = loadForAppend(target, table); !s) {
            printError(s.error());
            return 1; // the file stays as it was
        }
        kept = table.rowCount();
        checkpoint.holdsTable();
        session.recording().continueNumbering();
    }
    QObject::connect(&checkpoint, &TableCheckpoint::writeFailed,
                     [](const QString& e) { printError(e); });
    RecordingControl& rc = session.recording();
    rc.setRepeat(o.repeat);
    if (o.limit)
        rc.setRecordLimit(static_cast<std::int32_t>(*o.limit));
    if (o.interval) {
        rc.setIntervalEnabled(true);
        if (const Status s = rc.RecordSITimeChange(*o.interval); !s) {
            printError(s.error());
            return 2;
        }
    }
    QObject::connect(&session, &AppSession::recordingFailed,
                     [](const QString& e) { printError(e); });

    qint64 frames = 0;
    const int code = runLink(
        o, session, [](const DecodeResult&) {}, &frames);
    const bool failed = code != 0 && frames == 0;
    if (const Status s = checkpoint.finish(failed); !s) {
        printError(s.error());
        return 1;
    }
    if (failed)
        return code;
    // Fewer records than readings: say why, as the window's status line does.
    if (rc.limitReached()) {
        RecordingState limited;
        limited.kind = RecordingState::Kind::LimitReached;
        limited.limit = rc.RecordLimit;
        printError(limited.text());
    }
    QJsonObject summary;
    summary.insert("records", table.rowCount());
    summary.insert("frames", frames);
    if (!o.append.isEmpty())
        summary.insert("appended", table.rowCount() - kept);
    printJson(summary);
    return 0;
}

} // namespace kx::cli
