// kxlink-cli export: a table file saved by the Save As rule, with its target checked first.
#include "cli_runner.h"
#include "support/csv_reader.h"
#include "support/python_reader.h"
#include "support/table_files.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "recording/field_text.h"
#include "recording/readings_schema.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct CliExport : ::testing::Test {
    QTemporaryDir dir;
    QString source = dir.filePath("readings.DB");

    void SetUp() override {
        std::vector<px::Record> rows;
        for (int i = 1; i <= 3; ++i)
            rows.push_back({px::Value(std::int32_t(i)), px::Value::timeOfDay(1000 * i),
                            px::Value("1.5"), px::Value("M\xA6\xB8"), px::Value("IR:500V"),
                            px::Value("Timed")});
        ASSERT_TRUE(px::writeTable(source, readingsFields(), rows).ok());
    }
};

} // namespace

TEST_F(CliExport, DbNameGivesAKeyedCopy) {
    const QString out = dir.filePath("copy.db");
    const CliRun r = runCli({"export", source, out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 1);
    EXPECT_EQ(objs[0]["records"].toInt(), 3);
    EXPECT_EQ(objs[0]["format"].toString(), "paradox");
    EXPECT_EQ(objs[0]["path"].toString(), out);
    EXPECT_EQ(px::readTableInfo(out).value().keyFieldCount, 1);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("copy.px")).value()), 3);
}

TEST_F(CliExport, OtherNamesGiveTheTextExport) {
    const QString out = dir.filePath("copy.DB");
    const CliRun r = runCli({"export", source, out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["format"].toString(), "text");
    const QByteArray text = fileBytes(out);
    EXPECT_TRUE(text.startsWith("No\tTime\tValue\tUnit\tFunction\tRemark\r\n"));
    EXPECT_TRUE(text.contains(QByteArray("1\t") + QByteArray::fromStdString(timeOfDayText(1000)) +
                              "\t1.5\tM\xA6\xB8\tIR:500V\tTimed\r\n"));
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("copy.px")));
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

    // A table that holds no readings: the reason, exit 1, nothing written.
    const QString other = dir.filePath("other.db");
    ASSERT_TRUE(
        px::writeTable(other, {{"Id", px::FieldType::Long, 4}}, {{px::Value(std::int32_t(1))}})
            .ok());
    r = runCli({"export", "--store", other, dir.filePath("o.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("does not hold readings")) << r.err.constData();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("o.txt")));
}

TEST_F(CliExport, TargetIsCheckedBeforeAnythingIsRead) {
    // The source is missing, but the target's fault is told first.
    CliRun r = runCli({"export", dir.filePath("absent.db"), dir.filePath("no/folder/x.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("folder does not exist")) << r.err.constData();

    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.txt"));
    r = runCli({"export", source, dir.filePath("sub.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("folder")) << r.err.constData();

    const QString ro = dir.filePath("ro.txt");
    ASSERT_TRUE(putFile(ro, "mine"));
    ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner));
    r = runCli({"export", source, ro});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("read-only")) << r.err.constData();
    EXPECT_EQ(fileBytes(ro), "mine");

    r = runCli({"export", dir.filePath("absent.db"), dir.filePath("y.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("absent.db")) << r.err.constData();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("y.txt")));

    r = runCli({"export", source, source});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(CliExport, BadUsage) {
    EXPECT_EQ(runCli({"export", source}).exitCode, 2);
    EXPECT_EQ(runCli({"export", source, "a", "b"}).exitCode, 2);
    EXPECT_EQ(runCli({"export", source, "a.txt", "--keyed"}).exitCode, 2);
}

// The formats for other programs, each chosen by its extension in any case; the workbook read
// back by openpyxl, the CSV by a strict reader, the JSON lines by Qt's.
TEST_F(CliExport, WritesCsvJsonLinesAndWorkbooks) {
    struct Case {
        const char* name;
        const char* format;
    };
    for (const Case& c : {Case{"a.csv", "csv"}, Case{"B.CSV", "csv"}, Case{"c.jsonl", "jsonl"},
                          Case{"d.xlsx", "xlsx"}, Case{"E.XLSX", "xlsx"}}) {
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

    const kxtest::PythonRead book = kxtest::readWithPython("xlsx", dir.filePath("d.xlsx"));
    if (!book.skip.isEmpty())
        GTEST_SKIP() << book.skip.toStdString();
    ASSERT_TRUE(book.error.isEmpty()) << book.error.toStdString();
    const QJsonObject sheet = book.json["Readings"].toObject();
    EXPECT_EQ(sheet["freeze"].toString(), "A2");
    const QJsonArray sheetRows = sheet["rows"].toArray();
    ASSERT_EQ(sheetRows.size(), 4);
    double sum = 0;
    for (qsizetype i = 1; i < sheetRows.size(); ++i)
        sum += sheetRows[i].toArray()[6].toObject()["n"].toDouble();
    EXPECT_EQ(sum, 4.5e6);
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

    // Only ',' and ';' part fields, and only a .csv file has them: bad usage, nothing written.
    for (const QStringList& bad : {QStringList{"--delimiter", "\t", dir.filePath("t.csv")},
                                   QStringList{"--delimiter", ";;", dir.filePath("t.csv")},
                                   QStringList{"--delimiter", ";", dir.filePath("t.txt")},
                                   QStringList{"--decimal-comma", dir.filePath("t.xlsx")},
                                   QStringList{"--delimiter", dir.filePath("t.csv")}}) {
        SCOPED_TRACE(bad.join(' ').toStdString());
        r = runCli(QStringList{"export", source} + bad);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains("usage: export")) << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(QDir(dir.path()).entryList({"t.*"}), QStringList());
}

TEST_F(CliExport, NewFormatsRefuseTargetsBeforeReading) {
    const QString ro = dir.filePath("ro.xlsx");
    ASSERT_TRUE(putFile(ro, "mine"));
    ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner));
    CliRun r = runCli({"export", dir.filePath("absent.db"), ro});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("read-only")) << r.err.constData();
    EXPECT_EQ(fileBytes(ro), "mine");

    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.jsonl"));
    r = runCli({"export", source, dir.filePath("sub.jsonl")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("folder")) << r.err.constData();
    EXPECT_TRUE(r.out.isEmpty());
}
