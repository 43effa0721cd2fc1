#include "cli_runner.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"
#include "recording/recording_journal.h"
#include "support/table_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>

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

TEST(CliMonitor, NoCableAndBadUsage) {
    const CliRun r = runCli({"monitor", "--frames", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.err.contains("USB interface cable is not securely connected, please check and re-try."));
    EXPECT_EQ(runCli({"monitor", "--frames"}).exitCode, 2);
    EXPECT_EQ(runCli({"monitor", "--frames", "x"}).exitCode, 2);
}

TEST(CliRecord, WritesAKeyedTableOfTheReadings) {
    QTemporaryDir dir;
    const QString out = dir.filePath("run.db");
    const CliRun r = runCli({"record", "--demo", "--frames", "4", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 1);
    EXPECT_EQ(objs[0]["frames"].toInt(), 4);
    EXPECT_EQ(objs[0]["records"].toInt(), 4);

    const CliRun info = runCli({"table", "info", out});
    ASSERT_EQ(info.exitCode, 0) << info.err.constData();
    const QJsonObject i = info.jsonLines().value(0);
    EXPECT_EQ(i["recordCount"].toInt(), 4);
    EXPECT_EQ(i["keyFields"].toInt(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("run.PX")) || QFile::exists(dir.filePath("run.px")));

    const CliRun dump = runCli({"table", "dump", out});
    const QList<QByteArray> lines = dump.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].startsWith("1\t"));
    EXPECT_TRUE(lines[4].startsWith("4\t"));
}

TEST(CliRecord, LimitAndRepeatRule) {
    QTemporaryDir dir;
    const QString out = dir.filePath("limited.db");
    const CliRun r = runCli({"record", "--demo", "--frames", "3", "--limit", "2", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines().value(0)["records"].toInt(), 2);
    EXPECT_TRUE(r.err.contains("Recording stopped: record limit of 2 reached"))
        << r.err.constData();
    EXPECT_EQ(runCli({"record", "--demo", "--frames", "1"}).exitCode, 2) << "--out is required";
    EXPECT_EQ(runCli({"record", "--demo", "--interval", "abc", "--out", out}).exitCode, 2);
}

TEST(CliRecord, NegativeIntervalIsBadUsage) {
    QTemporaryDir dir;
    const CliRun r =
        runCli({"record", "--demo", "--interval", "-5", "--out", dir.filePath("n.db")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("usage"));
    EXPECT_FALSE(QFile::exists(dir.filePath("n.db")));
    EXPECT_EQ(runCli({"record", "--demo", "--frames", "1", "--interval", "0", "--out",
                      dir.filePath("z.db")})
                  .exitCode,
              0);
}

TEST(CliRecord, RefusesWhatIsNotAFile) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("ff");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    CliRun r = runCli({"record", "--demo", "--frames", "1", "--out", fifo});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("it is a pipe, not a file")) << r.err.constData();
    r = runCli({"record", "--demo", "--frames", "1", "--out", dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("it is a folder, not a file")) << r.err.constData();
}

namespace {

// A recording left running in the background on the demo cable (two frames a second).
struct BackgroundRecord {
    QProcess p;
    explicit BackgroundRecord(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KXLINK_DEVICES"), QStringLiteral("none"));
        p.setProcessEnvironment(env);
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

bool eventually(const std::function<bool()>& pred, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace

TEST(CliRecord, ClaimsTheTargetFromTheStart) {
    QTemporaryDir dir;
    const QString out = dir.filePath("run.db");
    BackgroundRecord first({"--frames", "6", "--out", out});
    // The target exists as an empty keyed table before the first reading.
    ASSERT_TRUE(eventually([&] { return recordsIn(out) >= 0; }));
    const CliRun second = runCli({"record", "--demo", "--frames", "2", "--out", out});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains("is in use by another program")) << second.err.constData();
    EXPECT_TRUE(second.out.isEmpty());
    ASSERT_TRUE(first.p.waitForFinished(60000));
    EXPECT_EQ(first.p.exitCode(), 0) << first.p.readAllStandardError().constData();
    EXPECT_EQ(recordsIn(out), 6);
}

TEST(CliRecord, KilledRecordingKeepsWhatItCheckpointed) {
    QTemporaryDir dir;
    const QString out = dir.filePath("killed.db");
    BackgroundRecord rec({"--out", out});
    // A checkpoint comes every five seconds.
    ASSERT_TRUE(eventually([&] { return recordsIn(out) > 0; }));
    rec.p.kill();
    ASSERT_TRUE(rec.p.waitForFinished());
    const int kept = recordsIn(out);
    EXPECT_GT(kept, 0);
    const CliRun dump = runCli({"table", "dump", out});
    ASSERT_EQ(dump.exitCode, 0) << dump.err.constData();
    EXPECT_TRUE(dump.out.split('\n').value(1).startsWith("1\t"));
}

TEST(CliRecord, HangUpEndsTheRecordingLikeTheEnd) {
    QTemporaryDir dir;
    const QString out = dir.filePath("hup.db");
    BackgroundRecord rec({"--out", out});
    ASSERT_TRUE(eventually([&] { return recordsIn(out) >= 0; }));
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(rec.p.processId()), SIGHUP);
    ASSERT_TRUE(rec.p.waitForFinished(30000));
    EXPECT_EQ(rec.p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(rec.p.exitCode(), 0);
    const QJsonObject summary =
        QJsonDocument::fromJson(rec.p.readAllStandardOutput().trimmed()).object();
    EXPECT_GT(summary["records"].toInt(), 0);
    EXPECT_EQ(recordsIn(out), summary["records"].toInt());
}

namespace {

// A readings table of the user's with numbers that have gaps, highest last but one.
QString numberedTable(const QTemporaryDir& dir, const char* name,
                      const std::vector<std::int32_t>& numbers) {
    std::vector<kx::px::Record> rows;
    for (std::int32_t n : numbers)
        rows.push_back({kx::px::Value(n), kx::px::Value::timeOfDay(1000 * n), kx::px::Value("1.0"),
                        kx::px::Value("V"), kx::px::Value("DCV"), kx::px::Value("Continuous")});
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(kx::px::writeKeyedTable(path, kx::readingsFields(), rows).ok());
    return path;
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

} // namespace

TEST(CliRecordAppend, KeepsTheRecordsAndNumbersAfterTheHighest) {
    QTemporaryDir dir;
    const QString file = numberedTable(dir, "mine.db", {3, 15, 9});
    const CliRun r = runCli({"record", "--demo", "--frames", "3", "--append", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject summary = r.jsonLines().value(0);
    EXPECT_EQ(summary["records"].toInt(), 6);
    EXPECT_EQ(summary["appended"].toInt(), 3);
    EXPECT_EQ(summary["frames"].toInt(), 3);
    // A valid keyed table: the reader checks the index and that no number appears twice.
    EXPECT_EQ(numbersIn(file), (std::vector<int>{3, 9, 15, 16, 17, 18}));
}

TEST(CliRecordAppend, MissingFileIsMadeAsOutMakesIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath("new.db");
    const CliRun r = runCli({"record", "--demo", "--frames", "2", "--append", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines().value(0)["appended"].toInt(), 2);
    EXPECT_EQ(numbersIn(file), (std::vector<int>{1, 2}));
}

TEST(CliRecordAppend, RefusesWhatItCannotAppendTo) {
    QTemporaryDir dir;
    const QString file = numberedTable(dir, "mine.db", {1, 2});
    // One target only.
    EXPECT_EQ(runCli({"record", "--demo", "--frames", "1", "--append", file, "--out",
                      dir.filePath("x.db")})
                  .exitCode,
              2);
    EXPECT_EQ(runCli({"record", "--demo", "--append"}).exitCode, 2);

    // A stored-readings table has no field a recording sets; a damaged file is not read.
    const QString store = dir.filePath("store.db");
    ASSERT_EQ(runCli({"table", "create", store, "--store"}).exitCode, 0);
    const QString junk = dir.filePath("junk.db");
    ASSERT_TRUE(putFile(junk, QByteArray(3000, 'x')));
    for (const QString& bad : {store, junk}) {
        const QByteArray before = fileBytes(bad);
        const CliRun r = runCli({"record", "--demo", "--frames", "1", "--append", bad});
        EXPECT_EQ(r.exitCode, 1) << bad.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_EQ(fileBytes(bad), before) << "left as it was";
    }

    // No cable: the file stays as it was.
    const QByteArray before = fileBytes(file);
    const CliRun noCable = runCli({"record", "--frames", "1", "--append", file});
    EXPECT_EQ(noCable.exitCode, 1);
    EXPECT_EQ(fileBytes(file), before);
}

TEST(CliRecordAppend, ClaimsTheFileAndKeepsCheckpointsWhenKilled) {
    QTemporaryDir dir;
    const QString file = numberedTable(dir, "mine.db", {1, 2, 3, 4});
    BackgroundRecord rec({"--append", file});
    // The journal beside the file shows the claim: only then can a second recorder not take
    // the file first.
    ASSERT_TRUE(eventually([&] { return QFile::exists(dir.filePath(".mine.db.journal")); }));
    // Claimed at once: a second recorder is refused (tried without a cable, so that before
    // the claim it only fails and changes nothing).
    ASSERT_TRUE(eventually([&] {
        const CliRun second = runCli({"record", "--frames", "1", "--append", file});
        return second.err.contains("is in use by another program");
    }));
    // The first checkpoint (within five seconds) holds the old records and the new ones.
    ASSERT_TRUE(eventually([&] { return recordsIn(file) > 4; }));
    rec.p.kill();
    ASSERT_TRUE(rec.p.waitForFinished());
    const std::vector<int> numbers = numbersIn(file);
    ASSERT_GT(numbers.size(), 4u);
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], static_cast<int>(i + 1));
}

namespace {

// Readings a recording journalled since its last checkpoint; 0 while there is no journal.
int journalled(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
               ? static_cast<int>(kx::parseJournal(f.readAll()).readings.size())
               : 0;
}

} // namespace

TEST(CliRecord, AKilledRecordingLosesNoReadingOnceTheFileIsClaimedAgain) {
    QTemporaryDir dir;
    const QString out = dir.filePath("killed.db");
    const QString journal = dir.filePath(".killed.db.journal");
    BackgroundRecord rec({"--out", out});
    // Killed with readings on disk and more recorded since the last checkpoint.
    ASSERT_TRUE(eventually([&] { return recordsIn(out) > 0 && journalled(journal) > 0; }));
    rec.p.kill();
    ASSERT_TRUE(rec.p.waitForFinished());
    const int kept = recordsIn(out);
    const int since = journalled(journal);
    ASSERT_GT(kept, 0);

    const CliRun next = runCli({"record", "--demo", "--frames", "1", "--append", out});
    ASSERT_EQ(next.exitCode, 0) << next.err.constData();
    const std::vector<int> numbers = numbersIn(out);
    // A kill just after a checkpoint, before its journal was emptied, has nothing to add.
    const bool added = next.err.contains("left unsaved by a recording into");
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kept + (added ? since : 0) + 1))
        << next.err.constData();
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], static_cast<int>(i + 1));
    EXPECT_EQ(next.jsonLines().value(0)["appended"].toInt(), 1);
    EXPECT_FALSE(QFile::exists(journal)) << "a finished recording leaves no journal";
}
