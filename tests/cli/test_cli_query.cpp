#include "cli_runner.h"
#include "reports/readings_files.h"

#include <QJsonValue>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliQuery : ::testing::Test {
    QTemporaryDir dir;
    QString file = dir.filePath("Run.db");

    void SetUp() override {
        writeReadings(file, {{"500", "V"}, {"12.5", "M\xA6\xB8"}, {"499", "V"}, {"", nullptr}});
    }
};

} // namespace

TEST_F(CliQuery, PrintsOneObjectPerMatchingRowThenTheCount) {
    const CliRun r =
        runCli({"query", QStringLiteral("select * from \"%1\" where Unit=\"V\"").arg(file)});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 3);
    EXPECT_EQ(objs[0]["No"].toInt(), 1);
    EXPECT_EQ(objs[0]["Value"].toString(), "500");
    EXPECT_EQ(objs[0]["Unit"].toString(), "V");
    EXPECT_EQ(objs[0]["Time"].toString(), "10:00:01");
    EXPECT_EQ(objs[0]["V_Range"].toString(), QString::fromUtf8("IR:500V 20GΩ"));
    EXPECT_EQ(objs[0].keys().size(), 6);
    EXPECT_EQ(objs[1]["No"].toInt(), 3);
    EXPECT_EQ(objs[2].keys(), QStringList{"rows"});
    EXPECT_EQ(objs[2]["rows"].toInt(), 2);
}

TEST_F(CliQuery, UnicodeTextsFindCodePageRecordsAndBlanksAreNull) {
    CliRun r =
        runCli({"query", QString::fromUtf8("SELECT * FROM '%1' WHERE Unit = 'MΩ'").arg(file)});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 2);
    EXPECT_EQ(objs[0]["Unit"].toString(), QString::fromUtf8("MΩ"));

    r = runCli({"query", QStringLiteral("select * from \"%1\"").arg(file)});
    ASSERT_EQ(r.exitCode, 0);
    objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 5);
    EXPECT_TRUE(objs[3]["Unit"].isNull());
    EXPECT_TRUE(objs[3]["Value"].isNull());
    EXPECT_EQ(objs[4]["rows"].toInt(), 4);
}

TEST_F(CliQuery, RefusalsAndBadUsage) {
    CliRun r = runCli({"query", QStringLiteral("delete from \"%1\"").arg(file)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("The statement 'delete' is not supported")) << r.err.constData();

    r = runCli({"query", QStringLiteral("select * from \"%1\" where Colour='red'").arg(file)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no field 'Colour'"));

    r = runCli({"query", QStringLiteral("select * from \"%1\"").arg(dir.filePath("none.db"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Cannot open table file"));

    EXPECT_EQ(runCli({"query"}).exitCode, 2);
    EXPECT_EQ(runCli({"query", "select", "*"}).exitCode, 2);
}
