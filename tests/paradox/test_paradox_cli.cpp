#include "cli/cli_runner.h"
#include "paradox_test_support.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {
using ParadoxCli = InTempDir;
}

TEST_F(ParadoxCli, CreateThenInfo) {
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
    // Wide enough for "IR:5000V 1000GΩ", "Continuous" and "GΩ".
    EXPECT_GE(fields[4].toObject()["size"].toInt(), 16);
    EXPECT_GE(fields[5].toObject()["size"].toInt(), 10);
    EXPECT_GE(fields[3].toObject()["size"].toInt(), 3);
}

TEST_F(ParadoxCli, BadUsageMissingTablesAndPipes) {
    const QString none = dir.filePath("none.db");
    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QStringList args;
        int exitCode;
        const char* told;
    } cases[] = {
        {{"table", "create", none, "--other"}, 2, ""},
        {{"table", "info"}, 2, ""},
        {{"table", "repair"}, 2, ""},
        {{"table", "info", none}, 1, "none.db"},
        {{"table", "repair", none}, 1, "none.db"},
        {{"table", "info", fifo}, 1, "it is a pipe, not a file"},
        {{"table", "dump", fifo}, 1, "it is a pipe, not a file"},
        {{"table", "create", fifo, "--store"}, 1, "it is a pipe, not a file"},
        {{"table", "repair", fifo}, 1, "it is a pipe, not a file"},
        {{"table", "dump", none, "--salvage"}, 2, ""},
        {{"table", "create", none, "--store", "--salvage"}, 2, ""},
        {{"table", "repair", none, "--replace"}, 2, ""},
        {{"table", "repair", none, "--salvage"}, 1, "none.db"},
        {{"table", "repair", fifo, "--salvage"}, 1, "it is a pipe, not a file"},
    };
    for (const auto& c : cases) {
        const CliRun r = runCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.told)) << r.err.constData();
    }
}

TEST_F(ParadoxCli, DumpInFileOrder) {
    KX_NEED_FIXTURES();
    CliRun r = runCli({"table", "dump", fixture("time.db")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Time\n01:00:01\n\n03:00:03\n");

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

TEST(ParadoxCliBuild, BuildMadeTheDefaultTables) {
    for (const char* name : {"Pw60bdb.DB", "pw60SD.DB"}) {
        Result<TableInfo> info = readTableInfo(QStringLiteral(KX_BUILD_DIR "/") + name);
        ASSERT_TRUE(succeeds(info));
        EXPECT_EQ(info.value().fields, QByteArray(name).startsWith("Pw") ? readingsLikeFields()
                                                                         : readingsLikeFields("S"));
    }
}

TEST_F(ParadoxCli, CreateHonoursTheLockAndDropsAnOldIndex) {
    const QString path = dir.filePath("T.db");
    ASSERT_TRUE(
        writeKeyedTable(path, readingsLikeFields(),
                        {{Value(std::int32_t{1}), Value(), Value("v"), Value(), Value(), Value()}})
            .ok());
    const QByteArray before = fileBytes(path);
    auto expectRefused = [&](const QStringList& args, const char* why) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(why)) << r.err.constData();
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_TRUE(QFile::exists(dir.filePath("T.px")));
    };
    // An existing table keeps its records unless the command is told to replace it.
    expectRefused({"table", "create", path, "--readings"}, "already exists");
    {
        Result<std::unique_ptr<TableLock>> held = TableLock::acquire(path);
        ASSERT_TRUE(held.ok());
        expectRefused({"table", "create", path, "--readings", "--replace"},
                      "is in use by another program");
        expectRefused({"table", "repair", path}, "in use");
    }
    const CliRun r = runCli({"table", "create", "--replace", path, "--readings"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_FALSE(QFile::exists(dir.filePath("T.px")));
    EXPECT_EQ(readTableInfo(path).value().recordCount, 0);
}

TEST_F(ParadoxCli, RepairRebuildsTheIndex) {
    const QString path = dir.filePath("r.db");
    ASSERT_TRUE(writeKeyedTable(path, kNumberedFields, numberedRows(40), blocks(1024)).ok());
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
    EXPECT_EQ(runCli({"table", "info", path}).exitCode, 0);
}

TEST_F(ParadoxCli, RepairSalvagesADamagedTable) {
    const QString path = dir.filePath("s.db");
    std::vector<Record> rows;
    for (int i = 1; i <= 40; ++i)
        rows.push_back({Value(std::int32_t(i)), Value::timeOfDay(i * 500), Value("2.5"), Value("G"),
                        Value("IR:1000V"), Value("")});
    ASSERT_TRUE(writeKeyedTable(path, readingsLikeFields(), rows, blocks(1024)).ok());
    QByteArray b = fileBytes(path);
    const int headerSize = readTableInfo(path).value().headerSize;
    b.replace(headerSize + 6 + 2 * 72 + 4, 4, storedLong(301008456)); // record 3's time
    b[6] = static_cast<char>(b[6] + 1);                               // and the count
    ASSERT_TRUE(putFile(path, b));
    EXPECT_EQ(runCli({"table", "dump", path}).exitCode, 1);

    CliRun r = runCli({"table", "repair", path, "--salvage"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QList<QJsonObject> lines = r.jsonLines();
    ASSERT_FALSE(lines.isEmpty());
    const QJsonObject done = lines.back();
    EXPECT_EQ(done["salvaged"].toString(), dir.filePath("s-salvaged.db"));
    EXPECT_EQ(done["records"].toInt(), 39);
    EXPECT_EQ(done["leftOut"].toInt(), 1);
    QStringList damage;
    QJsonObject leftOut;
    for (const QJsonObject& o : lines) {
        if (o.contains("damage"))
            damage << o["damage"].toString();
        if (o.contains("leftOut") && o["leftOut"].isObject())
            leftOut = o["leftOut"].toObject();
    }
    EXPECT_EQ(leftOut["first"].toInt(), 3);
    EXPECT_EQ(leftOut["last"].toInt(), 3);
    EXPECT_TRUE(leftOut["why"].toString().contains("301008456 ms"))
        << leftOut["why"].toString().toStdString();
    EXPECT_TRUE(damage.join('|').contains("header counts 41 records"))
        << damage.join('|').toStdString();
    EXPECT_EQ(fileBytes(path), b);

    r = runCli({"table", "dump", dir.filePath("s-salvaged.db")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out.count('\n'), 40) << "the field names and 39 records";
    EXPECT_FALSE(r.out.contains("\n3\t"));

    r = runCli({"table", "repair", path, "--salvage"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("s-salvaged.db already exists")) << r.err.constData();
    EXPECT_EQ(runCli({"table", "repair", path, "--salvage", "--replace"}).exitCode, 0);
}
