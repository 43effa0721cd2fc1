#include "cli/cli_runner.h"
#include "support/table_files.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using namespace kx::px;

TEST(ParadoxCli, CreateThenInfo) {
    QTemporaryDir dir;
    const QString path = dir.filePath("pw60SD.DB");
    CliRun r = runCli({"table", "create", path, "--store"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runCli({"table", "info", path});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<QJsonObject> out = r.jsonLines();
    ASSERT_EQ(out.size(), 1);
    const QJsonObject o = out[0];
    EXPECT_EQ(o["recordCount"].toInt(), 0);
    EXPECT_EQ(o["blockSize"].toInt(), 32768);
    EXPECT_EQ(o["codePage"].toInt(), 936);
    EXPECT_EQ(o["keyFields"].toInt(), 0);
    const QJsonArray fields = o["fields"].toArray();
    ASSERT_EQ(fields.size(), 6);
    EXPECT_EQ(fields[0].toObject()["name"].toString(), "SNo");
    EXPECT_EQ(fields[0].toObject()["type"].toString(), "Long");
    EXPECT_EQ(fields[1].toObject()["type"].toString(), "Time");
    EXPECT_EQ(fields[4].toObject()["name"].toString(), "SV_Range");
    EXPECT_GE(fields[4].toObject()["size"].toInt(), 16);
    EXPECT_GE(fields[5].toObject()["size"].toInt(), 10);
    EXPECT_GE(fields[3].toObject()["size"].toInt(), 3);

    EXPECT_EQ(runCli({"table", "create", path, "--other"}).exitCode, 2);
    EXPECT_EQ(runCli({"table", "info"}).exitCode, 2);
    r = runCli({"table", "info", dir.filePath("none.db")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("none.db"));
}

TEST(ParadoxCli, DumpInFileOrder) {
    KX_NEED_FIXTURES();
    CliRun r = runCli({"table", "dump", fixture("time.db")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Time\n01:00:01\n\n03:00:03\n");

    QTemporaryDir dir;
    const QString path = dir.filePath("r.db");
    ASSERT_TRUE(writeTable(path, readingsLikeFields(),
                           {{Value(std::int32_t{1}), Value::timeOfDay(3723000), Value("-1.5"),
                             Value("M\xA6\xB8"), Value("IR:500V\t20G\xA6\xB8"), Value("Timed")}})
                    .ok());
    r = runCli({"table", "dump", path});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QByteArray("No\tTime\tValue\tUnit\tV_Range\tI_Range\n"
                                "1\t01:02:03\t-1.5\tM\xCE\xA9\tIR:500V 20G\xCE\xA9\tTimed\n"));
    r = runCli({"table", "dump", "--raw", path});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("\tM\xA6\xB8\t"));

    QByteArray damaged = fileBytes(path);
    damaged[0x21] = '\xff';
    damaged[0x22] = '\xff';
    ASSERT_TRUE(putFile(path, damaged));
    r = runCli({"table", "dump", path});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("r.db")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

TEST(ParadoxCli, BuildMadeTheDefaultTables) {
    for (const char* name : {"Pw60bdb.DB", "pw60SD.DB"}) {
        Result<TableInfo> info = readTableInfo(QStringLiteral(KX_BUILD_DIR "/") + name);
        ASSERT_TRUE(info.ok()) << info.error().toStdString();
        EXPECT_EQ(info.value().fields, QByteArray(name).startsWith("Pw") ? readingsLikeFields()
                                                                         : readingsLikeFields("S"));
    }
}

TEST(ParadoxCli, CreateHonoursTheLockAndDropsAnOldIndex) {
    QTemporaryDir dir;
    const QString path = dir.filePath("T.db");
    ASSERT_TRUE(
        writeKeyedTable(path, readingsLikeFields(),
                        {{Value(std::int32_t{1}), Value(), Value("v"), Value(), Value(), Value()}})
            .ok());
    const QByteArray before = fileBytes(path);
    {
        // An existing table keeps its records unless the command is told to replace it.
        const CliRun r = runCli({"table", "create", path, "--readings"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("already exists")) << r.err.constData();
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_TRUE(QFile::exists(dir.filePath("T.px")));
    }
    {
        Result<std::unique_ptr<TableLock>> held = TableLock::acquire(path);
        ASSERT_TRUE(held.ok());
        const CliRun r = runCli({"table", "create", path, "--readings", "--replace"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("is in use by another program")) << r.err.constData();
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_TRUE(QFile::exists(dir.filePath("T.px")));
    }
    const CliRun r = runCli({"table", "create", "--replace", path, "--readings"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_FALSE(QFile::exists(dir.filePath("T.px")));
    EXPECT_EQ(readTableInfo(path).value().recordCount, 0);

    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QStringList& args : QList<QStringList>{{"table", "info", fifo},
                                                      {"table", "dump", fifo},
                                                      {"table", "create", fifo, "--store"},
                                                      {"table", "repair", fifo}}) {
        const CliRun p = runCli(args);
        EXPECT_EQ(p.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(p.err.contains("it is a pipe, not a file")) << p.err.constData();
    }
}

TEST(ParadoxCli, RepairRebuildsTheIndex) {
    QTemporaryDir dir;
    const QString path = dir.filePath("r.db");
    std::vector<Record> rows;
    for (int i = 1; i <= 40; ++i)
        rows.push_back(
            {Value(std::int32_t(i)), Value::timeOfDay(i), Value("v"), Value(), Value(), Value()});
    ASSERT_TRUE(writeKeyedTable(path, readingsLikeFields(), rows, blocks(1024)).ok());
    const QByteArray index = fileBytes(dir.filePath("r.px"));
    ASSERT_TRUE(QFile::remove(dir.filePath("r.px")));
    CliRun r = runCli({"table", "info", path});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("primary index")) << r.err.constData();

    r = runCli({"table", "repair", path});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject o = r.jsonLines().value(0);
    EXPECT_EQ(o["records"].toInt(), 40);
    EXPECT_TRUE(o["keyed"].toBool());
    EXPECT_FALSE(o["reordered"].toBool());
    EXPECT_EQ(fileBytes(dir.filePath("r.px")), index);
    EXPECT_EQ(runCli({"table", "info", path}).exitCode, 0);

    {
        Result<std::unique_ptr<TableLock>> held = TableLock::acquire(path);
        ASSERT_TRUE(held.ok());
        r = runCli({"table", "repair", path});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("in use")) << r.err.constData();
    }
    EXPECT_EQ(runCli({"table", "repair"}).exitCode, 2);
    EXPECT_EQ(runCli({"table", "repair", dir.filePath("none.db")}).exitCode, 1);
}
