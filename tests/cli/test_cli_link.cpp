#include "cli_runner.h"
#include "recording/recording_journal.h"
#include "support/table_files.h"
#include "support/wait_for.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using kx::test::waitUntil;

namespace {

// A recording left running in the background on the demo cable (two frames a second).
struct BackgroundRecord {
    QProcess p;
    explicit BackgroundRecord(const QStringList& args) {
        p.setProcessEnvironment(cliEnvironment());
        p.start(QStringLiteral(KX_CLI_PATH), QStringList{"record", "--demo"} + args);
        EXPECT_TRUE(p.waitForStarted());
    }
    ~BackgroundRecord() {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
};

// The record count of a table file, or -1 while it cannot be read.
int recordsIn(const QString& path) {
    const CliRun info = runCli({"table", "info", path});
    return info.exitCode == 0 ? info.jsonLines().value(0)["recordCount"].toInt() : -1;
}

// The first field of every record of a table file, in file order.
std::vector<int> numbersIn(const QString& path) {
    const CliRun dump = runCli({"table", "dump", path});
    EXPECT_EQ(dump.exitCode, 0) << dump.err.constData();
    std::vector<int> out;
    const QList<QByteArray> lines = dump.out.trimmed().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        out.push_back(lines[i].split('\t').value(0).toInt());
    return out;
}

std::vector<int> oneTo(int n) {
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = i + 1;
    return v;
}

// Readings a recording journalled since its last checkpoint; 0 while there is no journal.
int journalled(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
               ? static_cast<int>(kx::parseJournal(f.readAll()).readings.size())
               : 0;
}

// The "recording" object of a details file.
QJsonObject recordingOf(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(f.readAll()).object()["recording"].toObject();
}

constexpr int kPatience = 30000;

} // namespace

// The live commands on the simulated cable: the demo meter starts with a 500 V insulation
// test rising from zero.
TEST(CliMonitor, DemoFramesAsJson) {
    const CliRun r = runCli({"monitor", "--demo", "--frames", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 3);
    for (const QJsonObject& o : objs) {
        EXPECT_TRUE(o["accepted"].toBool());
        EXPECT_EQ(o["function"].toString(), QString::fromUtf8("IR:500V 20GΩ"));
        EXPECT_EQ(o["digits"].toObject().size(), 13);
    }
}

// With --reconnect an unplugged cable pauses the run, which goes on when it is back; the link's
// losses and returns are told on stderr as JSON lines. A bad script names the bad fault.
TEST(CliMonitor, ReconnectsAfterTheFaultScriptUnplugsTheCable) {
    const CliRun r = runCli(
        {"monitor", "--demo", "--reconnect", "--demo-faults", "unplug@1+2", "--frames", "6"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines().size(), 6);
    QStringList events;
    QJsonObject lost, back;
    for (const QByteArray& line : r.err.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        events << o["event"].toString();
        if (o["event"] == "linkLost")
            lost = o;
        if (o["event"] == "reconnected")
            back = o;
    }
    EXPECT_EQ(events.first(), "linkLost") << r.err.constData();
    EXPECT_TRUE(events.contains("reconnecting"));
    EXPECT_EQ(lost["why"].toString(), "the cable was unplugged");
    // Out for 2 s, then back with the next whole frame.
    EXPECT_GE(back["after"].toInt(), 2) << r.err.constData();
    EXPECT_LE(back["after"].toInt(), 3) << r.err.constData();

    const CliRun bad = runCli({"monitor", "--demo", "--demo-faults", "unplug@1+2,silent@x+1"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains("Bad fault 'silent@x+1': the start is not a number of seconds"))
        << bad.err.constData();
}

TEST(CliRecord, WritesAKeyedTableOfTheReadingsUpToTheLimit) {
    QTemporaryDir dir;
    const QString out = dir.filePath("run.db");
    // An interval of 0 records every reading.
    const CliRun r = runCli(
        {"record", "--demo", "--frames", "4", "--limit", "3", "--interval", "0", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 1);
    EXPECT_EQ(objs[0]["frames"].toInt(), 4);
    EXPECT_EQ(objs[0]["records"].toInt(), 3);
    EXPECT_TRUE(r.err.contains("Recording stopped: record limit of 3 reached"))
        << r.err.constData();

    const CliRun info = runCli({"table", "info", out});
    ASSERT_EQ(info.exitCode, 0) << info.err.constData();
    EXPECT_EQ(info.jsonLines().value(0)["keyFields"].toInt(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("run.PX")) || QFile::exists(dir.filePath("run.px")));
    EXPECT_EQ(numbersIn(out), oneTo(3));
    // How it was recorded goes beside it, for finding its tests.
    const QJsonObject rules = recordingOf(dir.filePath("run.results.json"));
    EXPECT_EQ(rules["interval"].toInt(-1), 0);
    EXPECT_EQ(rules["repeat"].toBool(false), true);
    EXPECT_TRUE(QDateTime::fromString(rules["began"].toString(), Qt::ISODate).isValid());
}

TEST(CliRecord, ClaimsTheTargetFromTheStart) {
    QTemporaryDir dir;
    const QString out = dir.filePath("run.db");
    BackgroundRecord first({"--frames", "6", "--out", out});
    // The target exists as an empty keyed table before the first reading.
    ASSERT_TRUE(waitUntil([&] { return recordsIn(out) >= 0; }, kPatience));
    const CliRun second = runCli({"record", "--demo", "--frames", "2", "--out", out});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains("is in use by another program")) << second.err.constData();
    EXPECT_TRUE(second.out.isEmpty());
    ASSERT_TRUE(first.p.waitForFinished(60000));
    EXPECT_EQ(first.p.exitCode(), 0) << first.p.readAllStandardError().constData();
    EXPECT_EQ(recordsIn(out), 6);
}

TEST(CliRecord, HangUpEndsTheRecordingLikeTheEnd) {
    QTemporaryDir dir;
    const QString out = dir.filePath("hup.db");
    BackgroundRecord rec({"--out", out});
    ASSERT_TRUE(
        waitUntil([&] { return journalled(dir.filePath(".hup.db.journal")) > 0; }, kPatience));
    ::kill(static_cast<pid_t>(rec.p.processId()), SIGHUP);
    ASSERT_TRUE(rec.p.waitForFinished(30000));
    EXPECT_EQ(rec.p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(rec.p.exitCode(), 0);
    const QJsonObject summary =
        QJsonDocument::fromJson(rec.p.readAllStandardOutput().trimmed()).object();
    EXPECT_GT(summary["records"].toInt(), 0);
    EXPECT_EQ(recordsIn(out), summary["records"].toInt());
}

// kill -9 loses at most what came after the last checkpoint, and not even that once the
// next recording claims the file and finds the journal.
TEST(CliRecord, AKilledRecordingLosesNoReadingOnceTheFileIsClaimedAgain) {
    QTemporaryDir dir;
    const QString out = dir.filePath("killed.db");
    const QString journal = dir.filePath(".killed.db.journal");
    BackgroundRecord rec({"--out", out});
    // Killed with readings on disk and more recorded since the last checkpoint.
    ASSERT_TRUE(
        waitUntil([&] { return recordsIn(out) > 0 && journalled(journal) > 0; }, kPatience));
    rec.p.kill();
    ASSERT_TRUE(rec.p.waitForFinished());
    const int kept = recordsIn(out);
    const int since = journalled(journal);
    ASSERT_GT(kept, 0);
    EXPECT_EQ(numbersIn(out), oneTo(kept));

    const CliRun next = runCli({"record", "--demo", "--frames", "1", "--append", out});
    ASSERT_EQ(next.exitCode, 0) << next.err.constData();
    // A kill just after a checkpoint, before its journal was emptied, has nothing to add.
    const bool added = next.err.contains("of a recording into");
    EXPECT_EQ(numbersIn(out), oneTo(kept + (added ? since : 0) + 1)) << next.err.constData();
    EXPECT_EQ(next.jsonLines().value(0)["appended"].toInt(), 1);
    EXPECT_FALSE(QFile::exists(journal)) << "a finished recording leaves no journal";
}

TEST(CliRecordAppend, KeepsTheRecordsAndNumbersAfterTheHighest) {
    QTemporaryDir dir;
    const QString file =
        tableFile(dir, "mine.db", {readingRow(3), readingRow(15), readingRow(9)}, true);
    const CliRun r = runCli({"record", "--demo", "--frames", "3", "--append", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject summary = r.jsonLines().value(0);
    EXPECT_EQ(summary["records"].toInt(), 6);
    EXPECT_EQ(summary["appended"].toInt(), 3);
    EXPECT_EQ(summary["frames"].toInt(), 3);
    // A valid keyed table: the reader checks the index and that no number appears twice.
    EXPECT_EQ(numbersIn(file), (std::vector<int>{3, 9, 15, 16, 17, 18}));
    const QJsonObject rules = recordingOf(dir.filePath("mine.results.json"));
    EXPECT_TRUE(rules["interval"].isNull());
    EXPECT_EQ(rules["repeat"].toBool(false), true);

    // A missing file is made as --out makes it.
    const QString fresh = dir.filePath("new.db");
    const CliRun made = runCli({"record", "--demo", "--frames", "2", "--append", fresh});
    ASSERT_EQ(made.exitCode, 0) << made.err.constData();
    EXPECT_EQ(made.jsonLines().value(0)["appended"].toInt(), 2);
    EXPECT_EQ(numbersIn(fresh), oneTo(2));
}

TEST(CliRecordAppend, ClaimsTheFileAndKeepsCheckpointsWhenKilled) {
    QTemporaryDir dir;
    const QString file = tableFile(dir, "mine.db", readingRows(4), true);
    BackgroundRecord rec({"--append", file});
    // The journal beside the file shows the claim: only then can a second recorder not take
    // the file first.
    ASSERT_TRUE(
        waitUntil([&] { return QFile::exists(dir.filePath(".mine.db.journal")); }, kPatience));
    // Claimed at once: a second recorder is refused (tried without a cable, so that before
    // the claim it only fails and changes nothing).
    ASSERT_TRUE(waitUntil(
        [&] {
            const CliRun second = runCli({"record", "--frames", "1", "--append", file});
            return second.err.contains("is in use by another program");
        },
        kPatience));
    // The first checkpoint (within five seconds) holds the old records and the new ones.
    ASSERT_TRUE(waitUntil([&] { return recordsIn(file) > 4; }, kPatience));
    rec.p.kill();
    ASSERT_TRUE(rec.p.waitForFinished());
    const std::vector<int> numbers = numbersIn(file);
    ASSERT_GT(numbers.size(), 4u);
    EXPECT_EQ(numbers, oneTo(static_cast<int>(numbers.size())));
}
