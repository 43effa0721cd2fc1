#include "cli_runner.h"
#include "reports/report_fixtures.h"

#include <QJsonValue>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// One object per matching row, then the count; Unicode texts find code page records, and
// blank fields are null.
TEST(CliQuery, PrintsOneObjectPerMatchingRowThenTheCount) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Run.db");
    kxtest::writeReadings(file, {{"500", "V"}, {"12.5", "M\xA6\xB8"}, {"499", "V"}, {"", nullptr}});
    CliRun r = runCli({"query", QStringLiteral("select * from \"%1\" where Unit=\"V\"").arg(file)});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    auto objs = r.jsonLines();
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

    r = runCli({"query", QString::fromUtf8("SELECT * FROM '%1' WHERE Unit = 'MΩ'").arg(file)});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    objs = r.jsonLines();
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
