#include "cli_runner.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
