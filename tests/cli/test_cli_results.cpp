#include "analysis/details_file.h"
#include "cli_runner.h"
#include "exports/table_export.h"
#include "reports/report_fixtures.h"
#include "support/table_files.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct CliResults : ::testing::Test {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // A 70 s timed test at 500 V (R60 420 MΩ), then a 12 s continuous test at 2500 V.
    QString table(const char* name) {
        kx::ReadingsTable t;
        kxtest::fillInsulationTests(t);
        EXPECT_TRUE(kx::SaveToDB(t, path(name), kx::ExportKind::Live).ok());
        return path(name);
    }
};

} // namespace

TEST_F(CliResults, OneObjectATestThenTheCount) {
    const QString db = table("t.db");
    const CliRun r = runCli({"results", db});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();
    const auto lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 3);
    QStringList keys = lines[0].keys();
    QStringList expected =
        QStringLiteral("test mode function testVoltage first last start duration "
                       "r15 r30 r60 r600 dar dar15 pi temperature "
                       "baseTemperature r60Corrected minimum verdict reasons")
            .split(' ');
    std::sort(keys.begin(), keys.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(lines[0]["test"].toInt(), 1);
    EXPECT_EQ(lines[0]["mode"].toString(), "Timed");
    EXPECT_EQ(lines[0]["function"].toString(), QString::fromUtf8("IR:500V 20GΩ"));
    EXPECT_EQ(lines[0]["testVoltage"].toInt(), 500);
    EXPECT_EQ(lines[0]["first"].toInt(), 1);
    EXPECT_EQ(lines[0]["last"].toInt(), 71);
    EXPECT_EQ(lines[0]["start"].toString(), "09:00:00.000");
    EXPECT_DOUBLE_EQ(lines[0]["duration"].toDouble(), 70);
    EXPECT_DOUBLE_EQ(lines[0]["r60"].toDouble(), 420e6);
    EXPECT_TRUE(lines[0]["pi"].isNull());
    EXPECT_TRUE(lines[0]["temperature"].isNull());
    EXPECT_EQ(lines[0]["verdict"].toString(), "pass");
    EXPECT_EQ(lines[1]["verdict"].toString(), "inconclusive");
    EXPECT_EQ(lines[2], (QJsonObject{{"tests", 2}})) << "no details file: no asset";
}

TEST_F(CliResults, TheDetailsFileGivesTheSettingsAndTheOptionsChangeThem) {
    const QString db = table("t.db");
    kx::TestDetails d;
    d.asset = QStringLiteral("Pump motor 3");
    d.operatorName = QStringLiteral("J. Doe");
    d.settings.minimumOhms = 500e6; // 420 MΩ fails
    d.settings.temperature = 30;
    ASSERT_TRUE(kx::writeTestDetails(db, d).ok());

    CliRun r = runCli({"results", db});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    auto lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0]["verdict"].toString(), "fail");
    EXPECT_DOUBLE_EQ(lines[0]["minimum"].toDouble(), 500e6);
    EXPECT_DOUBLE_EQ(lines[0]["r60Corrected"].toDouble(), 210e6);
    const QJsonObject asset = lines[2]["asset"].toObject();
    EXPECT_EQ(asset["asset"].toString(), "Pump motor 3");
    EXPECT_EQ(asset["operator"].toString(), "J. Doe");
    EXPECT_EQ(asset["notes"].toString(), "");
    EXPECT_EQ(lines[2]["tests"].toInt(), 2);

    // Options go before the file's settings: 20 °C base, 40 °C winding, 100 MΩ minimum.
    r = runCli({"results", db, "--base", "20", "--temperature=40", "--minimum", "100"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    lines = r.jsonLines();
    EXPECT_EQ(lines[0]["verdict"].toString(), "pass");
    EXPECT_DOUBLE_EQ(lines[0]["baseTemperature"].toDouble(), 20);
    EXPECT_DOUBLE_EQ(lines[0]["r60Corrected"].toDouble(), 420e6 * 4);
    EXPECT_DOUBLE_EQ(lines[0]["minimum"].toDouble(), 100e6);

    // A damaged details file: said on stderr, the defaults used, the tests given all the same.
    ASSERT_TRUE(putFile(kx::testDetailsPath(db), "{\"asset\": "));
    r = runCli({"results", db});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("damaged")) << r.err.constData();
    lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0]["verdict"].toString(), "pass");
}

TEST_F(CliResults, TheInsulationTestReport) {
    const QString db = table("t.db");
    CliRun r =
        runCli({"report", db, "--kind", "results", "--temperature", "30", "--out", path("r.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0]["pages"].toInt(), 1);
    EXPECT_EQ(lines[0]["records"].toInt(), 84);
    EXPECT_EQ(lines[0]["tests"].toInt(), 2);
    const QByteArray text = fileBytes(path("r.txt"));
    EXPECT_TRUE(text.contains("INSULATION TEST REPORT"));
    EXPECT_TRUE(text.contains("R60           420.0 M\xA6\xB8"));
    EXPECT_TRUE(text.contains("Winding temperature: 30"));
    EXPECT_TRUE(text.contains(" 210.0 M")) << "corrected to 40 \xC2\xB0"
                                              "C";

    r = runCli({"report", db, "--kind", "results", "--out", path("r.pdf")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    r = runCli({"report", db, "--kind", "results", "--out", path("r.html")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(fileBytes(path("r.html")).count("<svg"), 2);
}

// Where the link was down is shown by `results` and `table info`, as the details file has it.
TEST_F(CliResults, TheLinkGapsAreShown) {
    const QString db = table("t.db");
    kx::TestDetails d;
    d.linkGaps = {{QTime(9, 0, 30, 250), QTime(9, 0, 48), QStringLiteral("The meter sent nothing")}};
    ASSERT_TRUE(kx::writeTestDetails(db, d).ok());
    const QJsonArray expected{QJsonObject{
        {"from", "09:00:30.250"}, {"to", "09:00:48.000"}, {"why", "The meter sent nothing"}}};
    for (const QStringList& args : {QStringList{"results", db}, QStringList{"table", "info", db}}) {
        const CliRun r = runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(r.jsonLines().back()["linkGaps"].toArray(), expected) << args[0].toStdString();
    }
}
