// kxlink-cli export: a table file saved by the Save As rule, with its target checked first.
#include "cli_runner.h"
#include "support/csv_reader.h"
#include "support/table_files.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "readings/field_text.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct CliExport : ::testing::Test {
    QTemporaryDir dir;
    QString source = tableFile(dir, "readings.DB", readingRows(3, [](int i) {
                                   return readingRow(i, "1.5", "M\xA6\xB8", "IR:500V", "Timed");
                               }));
};

} // namespace

// The format goes by the name: a keyed copy for exactly ".db", the formats for other programs
// by their extension in any case, the tab-separated text for any other name.
TEST_F(CliExport, EachNameGivesItsFormat) {
    struct Case {
        const char* name;
        const char* format;
    };
    for (const Case& c : {Case{"copy.db", "paradox"}, Case{"text.DB", "text"}, Case{"a.csv", "csv"},
                          Case{"B.CSV", "csv"}, Case{"c.jsonl", "jsonl"}, Case{"d.xlsx", "xlsx"},
                          Case{"E.XLSX", "xlsx"}}) {
        SCOPED_TRACE(c.name);
        const QString out = dir.filePath(c.name);
        const CliRun r = runCli({"export", source, out});
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        const auto objs = r.jsonLines();
        ASSERT_EQ(objs.size(), 1);
        EXPECT_EQ(objs[0]["records"].toInt(), 3);
        EXPECT_EQ(objs[0]["format"].toString(), c.format);
        EXPECT_EQ(objs[0]["path"].toString(), out);
    }

    EXPECT_EQ(px::readTableInfo(dir.filePath("copy.db")).value().keyFieldCount, 1);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("copy.px")).value()), 3);

    const QByteArray text = fileBytes(dir.filePath("text.DB"));
    EXPECT_TRUE(text.startsWith("No\tTime\tValue\tUnit\tFunction\tRemark\r\n"));
    EXPECT_TRUE(text.contains(QByteArray("1\t") + QByteArray::fromStdString(timeOfDayText(1000)) +
                              "\t1.5\tM\xA6\xB8\tIR:500V\tTimed\r\n"));
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("text.px")) ||
                 QFileInfo::exists(dir.filePath("text.PX")));

    const QByteArray csv = fileBytes(dir.filePath("a.csv"));
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    const auto rows = kxtest::readStrictCsv(csv.mid(3).toStdString(), ',');
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 4u);
    EXPECT_EQ((*rows)[0], (std::vector<std::string>{"No", "Time", "Value", "Unit", "Function",
                                                    "Remark", "BaseValue", "BaseUnit"}));
    EXPECT_EQ((*rows)[1], (std::vector<std::string>{"1", "00:00:01.000", "1.5", "M\xCE\xA9",
                                                    "IR:500V", "Timed", "1500000", "\xCE\xA9"}));
    EXPECT_EQ(fileBytes(dir.filePath("B.CSV")), csv);

    const QList<QByteArray> lines = fileBytes(dir.filePath("c.jsonl")).split('\n');
    ASSERT_EQ(lines.size(), 4); // three records, each ending in LF
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(first["no"].toInt(), 1);
    EXPECT_EQ(first["unit"].toString(), QStringLiteral("M\u03A9"));
    EXPECT_EQ(first["baseValue"].toDouble(), 1.5e6);

    // The workbook's contents are the writer's (its own tests read it back with openpyxl).
    EXPECT_TRUE(fileBytes(dir.filePath("d.xlsx")).startsWith("PK"));
}

TEST_F(CliExport, StoreUsesTheStoredFieldNames) {
    const QString store = dir.filePath("store.db");
    ASSERT_TRUE(px::writeTable(store, readingsFields(true),
                               {{px::Value(std::int32_t(9)), px::Value(), px::Value("1"),
                                 px::Value("V"), px::Value(), px::Value()}})
                    .ok());
    CliRun r = runCli({"export", "--store", store, dir.filePath("s.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(fileBytes(dir.filePath("s.txt")),
              "No\tTime\tValue\tUnit\tFunction\tRemark\r\n9\t\t1\tV\t\t\r\n");
    // Without --store the same fields are found under their stored names.
    r = runCli({"export", store, dir.filePath("s2.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(fileBytes(dir.filePath("s2.txt")), fileBytes(dir.filePath("s.txt")));
}

TEST_F(CliExport, DelimiterAndDecimalCommaGiveTheEuropeanCsv) {
    const QString out = dir.filePath("eu.csv");
    CliRun r = runCli({"export", source, out, "--delimiter", ";", "--decimal-comma"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["format"].toString(), "csv");
    const auto rows = kxtest::readStrictCsv(fileBytes(out).mid(3).toStdString(), ';');
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ((*rows)[1][2], "1,5");
    EXPECT_EQ((*rows)[1][6], "1500000");
}
