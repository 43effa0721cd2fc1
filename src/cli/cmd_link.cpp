// The live commands: the session's link run, as the window's CONNECT starts it, with the
// decoded frames printed (monitor) or recorded into a table file (record).
#include "app/app_session.h"
#include "app/recording_status.h"
#include "cli/cli_commands.h"
#include "cli/decode_json.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"

#include <QCommandLineParser>
#include <QJsonObject>

namespace kx::cli {
namespace {

constexpr const char* kMonitorUsage = "monitor [--demo] [--frames N]";
constexpr const char* kRecordUsage =
    "record [--demo] [--frames N] [--limit N] [--interval S] [--no-repeat] "
    "--out FILE.db|--append FILE.db";

struct LinkOptions {
    bool demo = false;
    qint64 frames = 0; // 0: until stopped
    std::optional<qint64> limit;
    std::optional<QString> interval;
    bool repeat = true;
    QString out;
    QString append; // a table to keep and record after, instead of --out
};

enum class Parsed { Ok, Help, Bad };

bool parseCount(const QString& text, qint64* out) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < 0)
        return false;
    *out = v;
    return true;
}

// The command's options; --help prints them on stdout.
Parsed parseOptions(const QStringList& args, bool record, LinkOptions* o) {
    QCommandLineParser p;
    p.setApplicationDescription(
        record ? QStringLiteral("Records the meter's readings under the window's rules (record "
                                "limit, sampling interval, repeat rule) into a Paradox table "
                                "keyed on No, written as the recording goes.")
               : QStringLiteral("Prints every decoded frame of the meter as one JSON object a "
                                "line, until N frames, Ctrl+C or SIGTERM."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Use the simulated cable and demo meter."));
    const QCommandLineOption frames(QStringLiteral("frames"),
                                    QStringLiteral("Stop after N decoded frames."),
                                    QStringLiteral("N"));
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("The record limit: highest record number."),
                                   QStringLiteral("N"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("Sampling interval: S seconds (0 or more) between records."),
        QStringLiteral("S"));
    const QCommandLineOption noRepeat(QStringLiteral("no-repeat"),
                                      QStringLiteral("Record a repeated value only once."));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("The table to write (replaced)."),
                                 QStringLiteral("FILE.db"));
    const QCommandLineOption append(
        QStringLiteral("append"),
        QStringLiteral("A readings table to keep and record after, numbered on."),
        QStringLiteral("FILE.db"));
    p.addOptions({help, demo, frames});
    if (record)
        p.addOptions({limit, interval, noRepeat, out, append});

    const QString usage = QLatin1String(record ? kRecordUsage : kMonitorUsage);
    if (!p.parse(QStringList{QStringLiteral("kxlink-cli")} + args) ||
        !p.positionalArguments().isEmpty())
        return Parsed::Bad;
    if (p.isSet(help)) {
        // The parser's own usage line names the program only.
        QString text = p.helpText();
        text = QStringLiteral("Usage: kxlink-cli ") + usage + text.mid(text.indexOf('\n'));
        const QByteArray bytes = text.toUtf8();
        writeOutput(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return Parsed::Help;
    }
    o->demo = p.isSet(demo);
    if (p.isSet(frames) && !parseCount(p.value(frames), &o->frames))
        return Parsed::Bad;
    if (!record)
        return Parsed::Ok;
    if (p.isSet(limit)) {
        qint64 n = 0;
        if (!parseCount(p.value(limit), &n) || n > RecordingControl::kLimitless)
            return Parsed::Bad;
        o->limit = n;
    }
    if (p.isSet(interval)) {
        // The sampling interval is a count of seconds to wait: never below 0.
        const std::optional<std::int32_t> seconds =
            RecordingControl::intervalFromText(p.value(interval));
        if (!seconds || *seconds < 0)
            return Parsed::Bad;
        o->interval = p.value(interval);
    }
    o->repeat = !p.isSet(noRepeat);
    o->out = p.value(out);
    o->append = p.value(append);
    // A recording goes to exactly one table.
    return o->out.isEmpty() != o->append.isEmpty() ? Parsed::Ok : Parsed::Bad;
}

SessionSetup sessionSetup(const LinkOptions& o) {
    SessionSetup setup;
    setup.platform = o.demo ? makeDemoMeterPlatform() : makeSystemPlatform();
    return setup;
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
    switch (parseOptions(args, false, &o)) {
    case Parsed::Help:
        return 0;
    case Parsed::Bad:
        return usageError(QStringLiteral("kxlink-cli ") + QLatin1String(kMonitorUsage));
    case Parsed::Ok:
        break;
    }
    AppSession session(sessionSetup(o));
    session.setRecordingOn(false);
    const LinkMessages messages(session);
    QObject::connect(&session, &AppSession::frameDecoded,
                     [&](const DecodeResult& r) { printJson(decodeJson(r, session.decoder())); });
    return messages.ended(session.runLink(o.frames));
}

int runRecord(const QStringList& args) {
    LinkOptions o;
    switch (parseOptions(args, true, &o)) {
    case Parsed::Help:
        return 0;
    case Parsed::Bad:
        return usageError(QStringLiteral("kxlink-cli ") + QLatin1String(kRecordUsage));
    case Parsed::Ok:
        break;
    }

    AppSession session(sessionSetup(o));
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
