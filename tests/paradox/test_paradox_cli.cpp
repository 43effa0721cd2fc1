#include "cli/cli_runner.h"
#include "support/table_files.h"

#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
