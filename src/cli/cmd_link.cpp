// The live commands: the session's link run, as the window's CONNECT starts it, with the
// decoded frames printed (monitor) or recorded into a table file (record).
#include "analysis/live_results.h"
#include "app/app_session.h"
#include "app/recording_status.h"
#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/decode_json.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>
#include <optional>

namespace kx::cli {
namespace {

struct LinkOptions {
    bool demo = false;
    bool reconnect = false;
    FaultScript faults;
    qint64 frames = 0; // 0: until stopped
    std::optional<qint64> limit;
    std::optional<QString> interval;
    bool repeat = true;
    QString out;
    QString append; // a table to keep and record after, instead of --out
};

// The command's options (the usage line and summary come from the command table); nothing
// when the command goes on, else its exit code (0 after --help, 2 after bad usage).
std::optional<int> parseOptions(const QStringList& args, bool record, LinkOptions* o) {
    CommandLine line(record ? "record" : "monitor");
    line.flag(QStringLiteral("demo"), QStringLiteral("Use the simulated cable and demo meter."));
    line.option(QStringLiteral("demo-faults"), QStringLiteral("SPEC"),
                QStringLiteral("With --demo: faults to play, KIND@START+LENGTH,... in seconds "
                               "from the link's start, KIND silent, unplug or damaged."));
    line.flag(QStringLiteral("reconnect"),
              QStringLiteral("Reconnect by itself after the link drops, instead of ending."));
    line.option(QStringLiteral("frames"), QStringLiteral("N"),
                QStringLiteral("Stop after N decoded frames."));
    if (record) {
        line.option(QStringLiteral("limit"), QStringLiteral("N"),
                    QStringLiteral("The record limit: highest record number."));
        line.option(QStringLiteral("interval"), QStringLiteral("S"),
                    QStringLiteral("Sampling interval: S seconds (0 or more) between records."));
        line.flag(QStringLiteral("no-repeat"),
                  QStringLiteral("Record a repeated value only once."));
        line.option(QStringLiteral("out"), QStringLiteral("FILE.db"),
                    QStringLiteral("The table to write (replaced)."));
        line.option(QStringLiteral("append"), QStringLiteral("FILE.db"),
                    QStringLiteral("A readings table to keep and record after, numbered on."));
    }
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> bad;
    o->demo = line.isSet(QStringLiteral("demo"));
    o->reconnect = line.isSet(QStringLiteral("reconnect"));
    if (line.isSet(QStringLiteral("demo-faults"))) {
        if (!o->demo)
            return line.usageError(QStringLiteral("--demo-faults needs --demo"));
        const Result<FaultScript> faults =
            FaultScript::parse(line.value(QStringLiteral("demo-faults")));
        if (!faults)
            return line.usageError(QStringLiteral("--demo-faults: ") + faults.error());
        o->faults = faults.value();
    }
    o->frames = line.number(QStringLiteral("frames"), 0, std::numeric_limits<qint64>::max(), bad)
                    .value_or(0);
    if (bad || !record)
        return bad;
    o->limit = line.number(QStringLiteral("limit"), 0, RecordingControl::kLimitless, bad);
    if (bad)
        return bad;
    if (line.isSet(QStringLiteral("interval"))) {
        // The sampling interval is a count of seconds to wait: never below 0.
        const QString text = line.value(QStringLiteral("interval"));
        const std::optional<std::int32_t> seconds = RecordingControl::intervalFromText(text);
        if (!seconds || *seconds < 0)
            return line.usageError(
                QStringLiteral("--interval needs a whole number of seconds, 0 or more, not '%1'")
                    .arg(text));
        o->interval = text;
    }
    o->repeat = !line.isSet(QStringLiteral("no-repeat"));
    o->out = line.value(QStringLiteral("out"));
    o->append = line.value(QStringLiteral("append"));
    // A recording goes to exactly one table.
    if (o->out.isEmpty() == o->append.isEmpty())
        return line.usageError(QStringLiteral("Give either --out or --append"));
    // A recording is a Paradox table, and its name says so.
    const QString table = o->out.isEmpty() ? o->append : o->out;
    if (QFileInfo(table).suffix().compare(QLatin1String("db"), Qt::CaseInsensitive) != 0)
        return line.usageError(
            QStringLiteral("The table to record into must be named FILE.db, not '%1'").arg(table));
    return std::nullopt;
}

SessionSetup sessionSetup(const LinkOptions& o) {
    SessionSetup setup;
    if (o.demo) {
        const DemoMeter meter = makeDemoMeter(o.faults);
        setup.platform = meter.platform;
        setup.demoFaults = meter.faults;
    } else {
        setup.platform = makeSystemPlatform();
    }
    return setup;
}

// With --reconnect: the link's losses and returns go to stderr as JSON lines, as they come.
void printReconnects(AppSession& session) {
    ConnectionControl& link = session.link();
    link.setAutoReconnect(true);
    const auto print = [](const QJsonObject& o) {
        printError(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    };
    const auto time = [](const QDateTime& t) { return t.toString(QStringLiteral("HH:mm:ss")); };
    QObject::connect(&link, &ConnectionControl::linkLost, &link,
                     [print, time](const QDateTime& at, const QString& why) {
                         print({{"event", "linkLost"}, {"at", time(at)}, {"why", why}});
                     });
    QObject::connect(
        &link, &ConnectionControl::reconnectAttempted, &link, [print, time, &link](int attempt) {
            print({{"event", "reconnecting"}, {"at", time(link.now())}, {"attempt", attempt}});
        });
    QObject::connect(&link, &ConnectionControl::linkRestored, &link,
                     [print, time, &link](const QDateTime& at) {
                         print({{"event", "reconnected"},
                                {"at", time(at)},
                                {"after", (link.lostAt().msecsTo(at) + 500) / 1000}});
                     });
    QObject::connect(&link, &ConnectionControl::retryingStopped, &link,
                     [print, time](const QDateTime& at) {
                         print({{"event", "reconnectingStopped"}, {"at", time(at)}});
                     });
}

// The link's messages go to stderr as they come. A drop that came with none says why.
class LinkMessages {
public:
    explicit LinkMessages(AppSession& session)
        : told_(QObject::connect(&session.link(), &ConnectionControl::information,
                                 [this](const QString& t) {
                                     printError(t);
                                     ++count_;
                                 })) {}
    ~LinkMessages() { QObject::disconnect(told_); }
    LinkMessages(const LinkMessages&) = delete;
    LinkMessages& operator=(const LinkMessages&) = delete;

    // The exit code of a run: 1 when the cable could not be read or the link dropped.
    int ended(const LinkRun& run) const {
        if (run.end == LinkRun::End::Dropped && count_ == 0)
            printError(QStringLiteral("Link dropped: ") + run.reason);
        return run.end == LinkRun::End::NotConnected || run.end == LinkRun::End::Dropped ? 1 : 0;
    }

private:
    QMetaObject::Connection told_;
    int count_ = 0;
};

} // namespace

int runMonitor(const QStringList& args) {
    LinkOptions o;
    if (const std::optional<int> done = parseOptions(args, false, &o))
        return *done;
    AppSession session(sessionSetup(o));
    session.setRecordingOn(false);
    if (o.reconnect)
        printReconnects(session);
    const LinkMessages messages(session);
    QObject::connect(&session, &AppSession::frameDecoded,
                     [&](const DecodeResult& r) { printJson(decodeJson(r, session.decoder())); });
    return messages.ended(session.runLink(o.frames));
}

int runRecord(const QStringList& args) {
    LinkOptions o;
    if (const std::optional<int> done = parseOptions(args, true, &o))
        return *done;

    AppSession session(sessionSetup(o));
    if (o.reconnect)
        printReconnects(session);
    // Table errors and failed checkpoints are said as they come; the recording goes on.
    QObject::connect(&session, &AppSession::recordingFailed,
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
    // The target is claimed before anything else happens; an append keeps its records and
    // numbers the new ones after its highest (a missing one is made as --out makes it).
    const bool append = !o.append.isEmpty();
    const Result<KeptFile> kept = session.recordInto(append ? o.append : o.out, append);
    if (!kept) {
        printError(kept.error());
        return 1; // the file stays as it was
    }
    for (const QString& note : kept.value().notes)
        printError(note);

    const LinkMessages messages(session);
    const LinkRun run = session.runLink(o.frames);
    const int code = messages.ended(run);
    const bool failed = code != 0 && run.frames == 0;
    if (const Status s = session.finishRecording(failed); !s) {
        printError(s.error());
        return 1;
    }
    if (failed)
        return code;
    // How the readings were recorded goes beside the table, for finding its tests.
    if (const std::optional<RecordingDetails>& rules = session.results().details().recording) {
        if (const Status s = writeRecordingDetails(append ? o.append : o.out, *rules, append,
                                                   session.results().details().linkGaps);
            !s)
            printError(s.error());
    }
    // Fewer records than readings: say why, as the window's status line does.
    if (rc.limitReached()) {
        RecordingState limited;
        limited.kind = RecordingState::Kind::LimitReached;
        limited.limit = rc.RecordLimit;
        printError(limited.text());
    }
    const qint64 records = session.liveTable().rowCount();
    QJsonObject summary;
    summary.insert("records", records);
    summary.insert("frames", run.frames);
    if (append)
        summary.insert("appended", records - kept.value().kept);
    printJson(summary);
    return 0;
}

} // namespace kx::cli
