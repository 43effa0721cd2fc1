// The .csv, .jsonl and .xlsx exports as other programs read them: the CSV byte for byte and
// through a strict reader, the JSON lines through Qt's reader, the workbook through openpyxl.
#include "recording/reading_rows.h"
#include "support/csv_reader.h"
#include "support/python_reader.h"
#include "support/table_files.h"

#include "recording/insulation_analyser.h"
#include "recording/reading_quantity.h"
#include "recording/readings_row_reader.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <cmath>

using namespace kx;
using namespace kxtest;

namespace {

struct ReadingsExport : ::testing::Test {
    QTemporaryDir dir;
    ReadingsTable table;

    void SetUp() override {
        table.openScratch(readingsFields());
        for (const Row& r : everyKindOfReading())
            addRow(table, r);
    }
};

// The CSV of everyKindOfReading(), comma and decimal point.
const std::string kExpectedCsv =
    "\xEF\xBB\xBF"
    "No,Time,Value,Unit,Function,Remark,BaseValue,BaseUnit\r\n"
    "1,12:34:56.789,941.5,MΩ,IR:1000V 40GΩ,Continuous,941500000,Ω\r\n"
    "2,00:00:00.000,1.2,TΩ,IR:1000V 40GΩ,PI,1200000000000,Ω\r\n"
    "3,23:59:59.999,0.500,Ω,IR:1000V 40GΩ,Timed,0.5,Ω\r\n"
    "4,00:00:01.000,12.5,kΩ,IR:1000V 40GΩ,Timed,12500,Ω\r\n"
    "5,00:00:02.000,1.234,GΩ,IR:1000V 40GΩ,Timed,1234000000,Ω\r\n"
    "6,00:00:03.000,230.4,V,ACV  600V,Timed,230.4,V\r\n"
    "7,00:00:04.000,-10,V,DCV  600V,Timed,-10,V\r\n"
    "8,00:00:05.000,0L,MΩ,IR:1000V 40GΩ,Timed,,Ω\r\n"
    "9,00:00:06.000,L0.20,GΩ,IR:1000V 40GΩ,Timed,,Ω\r\n"
    "10,00:00:07.000,----,GΩ,IR:1000V 40GΩ,Timed,,Ω\r\n"
    "11,,,,,,,\r\n"
    "12,00:00:08.000,941.5,MΩ,IR:1000V 40GΩ,\"a \"\"q\"\", b\r\nc\",941500000,Ω\r\n"
    "13,00:00:09.000,12,mV,DCV  600mV,测试 Ω,12,mV\r\n"
    "14,00:00:10.000,-1.0,MΩ,'=1+2,'@x,-1000000,Ω\r\n"
    "15,00:00:11.000,3.5,A,ACA,\"a,b;c\",3.5,A\r\n";

} // namespace

TEST_F(ReadingsExport, CsvIsUtf8WithItsHeaderQuotingAndNumbersInBaseUnits) {
    const QString out = dir.filePath("readings.csv");
    const Status s = saveReadingsCsv(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const QByteArray bytes = fileBytes(out);
    EXPECT_EQ(bytes.toStdString(), kExpectedCsv);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"readings.csv"});

    // A strict reader takes every line apart into the eight columns, the quoted line break
    // kept inside its field.
    const auto records = readStrictCsv(std::string_view(bytes).substr(3), ',');
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 16u);
    for (const auto& r : *records)
        EXPECT_EQ(r.size(), 8u);
    EXPECT_EQ((*records)[12][5], "a \"q\", b\r\nc");
    EXPECT_EQ((*records)[15][5], "a,b;c");
}

TEST_F(ReadingsExport, CsvReadsBackThroughPythonsStrictReader) {
    const QString out = dir.filePath("readings.csv");
    ASSERT_TRUE(saveReadingsCsv(table, out, ExportKind::Live).ok());
    const PythonRead read = readWithPython(QStringLiteral("csv"), out);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_TRUE(read.json["bom"].toBool());
    const QJsonArray rows = read.json["rows"].toArray();
    const auto ours = readStrictCsv(std::string_view(kExpectedCsv).substr(3), ',');
    ASSERT_TRUE(ours.has_value());
    ASSERT_EQ(rows.size(), static_cast<qsizetype>(ours->size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonArray row = rows[i].toArray();
        ASSERT_EQ(row.size(), 8) << i;
        for (qsizetype c = 0; c < 8; ++c)
            EXPECT_EQ(row[c].toString().toStdString(),
                      (*ours)[static_cast<std::size_t>(i)][static_cast<std::size_t>(c)])
                << i << ' ' << c;
    }
}

// With ';' and a decimal comma, numbers read as numbers where the comma is the decimal mark;
// texts that are no numbers stay as they are.
TEST_F(ReadingsExport, EuropeanCsvHasSemicolonsAndDecimalCommas) {
    const QString out = dir.filePath("eu.csv");
    CsvOptions eu;
    eu.delimiter = ';';
    eu.decimalComma = true;
    ASSERT_TRUE(saveReadingsCsv(table, out, ExportKind::Live, eu).ok());
    const QByteArray bytes = fileBytes(out);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBFNo;Time;Value;Unit;Function;Remark;BaseValue;"
                                 "BaseUnit\r\n"));
    EXPECT_EQ(csvHeader(eu), "No;Time;Value;Unit;Function;Remark;BaseValue;BaseUnit\r\n");
    const auto records = readStrictCsv(std::string_view(bytes).substr(3), ';');
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 16u);
    struct Expected {
        std::size_t row;
        std::string value, base;
    };
    for (const Expected& e : std::vector<Expected>{{1, "941,5", "941500000"},
                                                   {3, "0,500", "0,5"},
                                                   {6, "230,4", "230,4"},
                                                   {7, "-10", "-10"},
                                                   {8, "0L", ""},
                                                   {9, "L0.20", ""},
                                                   {14, "-1,0", "-1000000"},
                                                   {15, "3,5", "3,5"}}) {
        EXPECT_EQ((*records)[e.row][2], e.value) << e.row;
        EXPECT_EQ((*records)[e.row][6], e.base) << e.row;
    }
    EXPECT_EQ((*records)[1][1], "12:34:56.789") << "times keep their point";
    EXPECT_EQ((*records)[15][5], "a,b;c");
    EXPECT_TRUE(bytes.contains(";\"a,b;c\";")) << "quoted for the semicolon";

    // A comma both delimits and marks decimals: the numbers are quoted.
    CsvOptions both;
    both.decimalComma = true;
    ASSERT_TRUE(saveReadingsCsv(table, out, ExportKind::Live, both).ok());
    const auto quoted = readStrictCsv(std::string_view(fileBytes(out)).substr(3), ',');
    ASSERT_TRUE(quoted.has_value());
    EXPECT_EQ((*quoted)[3][6], "0,5");
    EXPECT_EQ((*quoted)[3][2], "0,500");

    CsvOptions tab;
    tab.delimiter = '\t';
    EXPECT_FALSE(saveReadingsCsv(table, out, ExportKind::Live, tab).ok());
}

TEST_F(ReadingsExport, JsonLinesAreOneObjectPerRecordWithNumbersAndNulls) {
    const QString out = dir.filePath("readings.jsonl");
    const Status s = saveReadingsJsonLines(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const QByteArray bytes = fileBytes(out);
    EXPECT_FALSE(bytes.contains('\r'));
    ASSERT_TRUE(bytes.endsWith('\n'));
    const QList<QByteArray> lines = bytes.chopped(1).split('\n');
    ASSERT_EQ(lines.size(), 15);
    EXPECT_EQ(lines[0].toStdString(),
              "{\"no\":1,\"time\":\"12:34:56.789\",\"value\":\"941.5\",\"unit\":\"MΩ\","
              "\"function\":\"IR:1000V 40GΩ\",\"remark\":\"Continuous\","
              "\"baseValue\":941500000,\"baseUnit\":\"Ω\"}");
    EXPECT_TRUE(lines[1].contains("\"baseValue\":1200000000000,")) << "no exponent";
    EXPECT_EQ(lines[10], "{\"no\":11,\"time\":null,\"value\":null,\"unit\":null,\"function\":null,"
                         "\"remark\":null,\"baseValue\":null,\"baseUnit\":null}");

    const std::vector<Row> readings = everyKindOfReading();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError e{};
        const QJsonObject o = QJsonDocument::fromJson(lines[i], &e).object();
        ASSERT_EQ(e.error, QJsonParseError::NoError) << lines[i].toStdString();
        const Row& r = readings[static_cast<std::size_t>(i)];
        EXPECT_EQ(o.keys().size(), 8);
        EXPECT_TRUE(o["no"].isDouble());
        EXPECT_EQ(o["no"].toInt(), r.no);
        const ReadingQuantity q = readingQuantity(r.value, r.unit);
        if (q.base) {
            ASSERT_TRUE(o["baseValue"].isDouble()) << i;
            EXPECT_EQ(o["baseValue"].toDouble(), *q.base) << i;
        } else {
            EXPECT_TRUE(o["baseValue"].isNull()) << i;
        }
        EXPECT_EQ(o["unit"].isNull(), r.unit.empty()) << i;
    }
    EXPECT_EQ(QJsonDocument::fromJson(lines[11]).object()["remark"].toString(),
              QStringLiteral("a \"q\", b\r\nc"));
    EXPECT_EQ(QJsonDocument::fromJson(lines[11]).object()["value"].toString(), "941.5");
    EXPECT_EQ(QJsonDocument::fromJson(lines[12]).object()["remark"].toString(),
              QStringLiteral("\u6d4b\u8bd5 \u03a9"));
    EXPECT_EQ(QJsonDocument::fromJson(lines[0]).object()["baseUnit"].toString(),
              QStringLiteral("\u03a9"));
}

TEST_F(ReadingsExport, WorkbookReadsBackThroughOpenpyxl) {
    const QString out = dir.filePath("readings.xlsx");
    const Status s = saveReadingsXlsx(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"readings.xlsx"}) << "no working files left";
    const PythonRead read = readWithPython(QStringLiteral("xlsx"), out);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(read.json["sheets"].toArray(), QJsonArray{"Readings"}) << "no tests, no results";
    const QJsonObject sheet = read.json["Readings"].toObject();
    EXPECT_EQ(sheet["freeze"].toString(), "A2");
    EXPECT_EQ(sheet["filter"].toString(), "A1:H16");
    const QJsonObject widths = sheet["widths"].toObject();
    for (const char* col : {"A", "B", "C", "D", "E", "F", "G", "H"})
        EXPECT_GE(widths[col].toDouble(), 8) << col;

    const QJsonArray rows = sheet["rows"].toArray();
    ASSERT_EQ(rows.size(), 16);
    QStringList header;
    for (const QJsonValue& c : rows[0].toArray())
        header << c.toObject()["s"].toString();
    EXPECT_EQ(header.join(','), "No,Time,Value,Unit,Function,Remark,BaseValue,BaseUnit");

    const std::vector<Row> readings = everyKindOfReading();
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const Row& r = readings[static_cast<std::size_t>(i - 1)];
        const QJsonArray row = rows[i].toArray();
        ASSERT_EQ(row.size(), 8) << i;
        EXPECT_EQ(row[0].toObject()["n"].toDouble(), r.no) << i;
        if (r.ms >= 0) {
            EXPECT_EQ(row[1].toObject()["ms"].toInt(), r.ms) << i;
            EXPECT_EQ(row[1].toObject()["format"].toString(), "hh:mm:ss.000") << i;
        } else {
            EXPECT_TRUE(row[1].isNull()) << i;
        }
        const ReadingQuantity q = readingQuantity(r.value, r.unit);
        if (q.base)
            EXPECT_EQ(row[6].toObject()["n"].toDouble(), *q.base) << i;
        else
            EXPECT_TRUE(row[6].isNull()) << i;
        EXPECT_EQ(row[2].isNull(), r.value.empty()) << i;
    }
    EXPECT_EQ(rows[1].toArray()[2].toObject()["s"].toString(), "941.5");
    EXPECT_EQ(rows[1].toArray()[3].toObject()["s"].toString(), QStringLiteral("M\u03a9"));
    EXPECT_EQ(rows[1].toArray()[7].toObject()["s"].toString(), QStringLiteral("\u03a9"));
    EXPECT_EQ(rows[12].toArray()[2].toObject()["s"].toString(), "941.5");
    EXPECT_EQ(rows[12].toArray()[5].toObject()["s"].toString(), "a \"q\", b\nc")
        << "a line break in a cell is LF";
    EXPECT_EQ(rows[13].toArray()[5].toObject()["s"].toString(),
              QStringLiteral("\u6d4b\u8bd5 \u03a9"));
    EXPECT_EQ(rows[14].toArray()[4].toObject()["s"].toString(), "=1+2") << "a text, no formula";
    EXPECT_EQ(rows[7].toArray()[7].toObject()["s"].toString(), "V");
}

// A recording that holds an insulation test gets a second sheet with one row per test.
TEST(ReadingsExportResults, WorkbookListsTheTestsOnASecondSheet) {
    QTemporaryDir dir;
    ReadingsTable table;
    table.openScratch(readingsFields());
    const auto curve = [](double s) { return 1e9 * (1 + s / 100); };
    for (const Row& r : curveRows(everyMs(1000, 620'000), curve))
        addRow(table, r);
    const auto tests = findInsulationTests(table.records());
    ASSERT_TRUE(tests.ok());
    ASSERT_EQ(tests.value().size(), 1u);
    const InsulationResult& t = tests.value()[0];

    const QString out = dir.filePath("test.xlsx");
    const Status s = saveReadingsXlsx(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const PythonRead read = readWithPython(QStringLiteral("xlsx"), out);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(read.json["sheets"].toArray(), (QJsonArray{"Readings", "Results"}));
    EXPECT_EQ(read.json["Readings"].toObject()["rows"].toArray().size(), 622);
    const QJsonObject results = read.json["Results"].toObject();
    EXPECT_EQ(results["freeze"].toString(), "A2");
    const QJsonArray rows = results["rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    const QJsonArray head = rows[0].toArray();
    const QJsonArray row = rows[1].toArray();
    auto column = [&](const QString& name) {
        for (qsizetype c = 0; c < head.size(); ++c) {
            if (head[c].toObject()["s"].toString() == name)
                return row[c].toObject();
        }
        ADD_FAILURE() << "no column " << name.toStdString();
        return QJsonObject();
    };
    EXPECT_EQ(column("Test")["n"].toInt(), 1);
    EXPECT_EQ(column("Mode")["s"].toString(), "PI");
    EXPECT_EQ(column("Test voltage (V)")["n"].toInt(), 2500);
    EXPECT_EQ(column("First No")["n"].toInt(), 1);
    EXPECT_EQ(column("Last No")["n"].toInt(), 621);
    EXPECT_EQ(column("Start")["ms"].toInt(), 36'000'000);
    EXPECT_EQ(column("Duration (s)")["n"].toDouble(), t.duration);
    EXPECT_EQ(column(QStringLiteral("R60 (\u03a9)"))["n"].toDouble(), *t.r60);
    EXPECT_EQ(column("PI")["n"].toDouble(), *t.pi);
    EXPECT_EQ(column("Verdict")["s"].toString(), verdictText(t.verdict));
    EXPECT_TRUE(column("Temperature (\u00b0C)").isEmpty()) << "none given: blank";

    // The results follow the settings given.
    XlsxOptions strict;
    strict.results.minimumOhms = 1e12;
    ASSERT_TRUE(saveReadingsXlsx(table, out, ExportKind::Live, strict).ok());
    const PythonRead again = readWithPython(QStringLiteral("xlsx"), out);
    ASSERT_TRUE(again.error.isEmpty()) << again.error.toStdString();
    const QJsonArray judged = again.json["Results"].toObject()["rows"].toArray();
    ASSERT_EQ(judged.size(), 2);
    bool failed = false;
    for (const QJsonValue& c : judged[1].toArray())
        failed = failed || c.toObject()["s"].toString() == "fail";
    EXPECT_TRUE(failed);
}

TEST(ReadingsExportNumbers, PlainDecimalsInTheFewestDigits) {
    struct Case {
        double v;
        const char* point;
        const char* comma;
    };
    for (const Case& c : std::vector<Case>{
             {1.2e12, "1200000000000", "1200000000000"},
             {941.5e6, "941500000", "941500000"},
             {0.5, "0.5", "0,5"},
             {1e-7, "0.0000001", "0,0000001"},
             {-10, "-10", "-10"},
             {-0.0, "0", "0"},
             {230.4, "230.4", "230,4"},
             {0.1 + 0.2, "0.30000000000000004", "0,30000000000000004"},
             {1e21, "1000000000000000000000", "1000000000000000000000"},
         }) {
        std::string point, comma;
        appendPlainNumber(point, c.v);
        appendPlainNumber(comma, c.v, ',');
        EXPECT_EQ(point, c.point) << c.v;
        EXPECT_EQ(comma, c.comma) << c.v;
        EXPECT_EQ(std::strtod(point.c_str(), nullptr), c.v) << "reads back the same";
    }
    std::string t;
    for (std::int32_t ms : {0, 45296789, 86399999}) {
        appendTimeOfDay(t, ms);
        t += ' ';
    }
    EXPECT_EQ(t, "00:00:00.000 12:34:56.789 23:59:59.999 ");
}

TEST(ReadingsExportFormats, TheExtensionNamesTheFormat) {
    EXPECT_EQ(readingsFormatFor("/a/b.csv"), ReadingsFormat::Csv);
    EXPECT_EQ(readingsFormatFor("/a/b.CSV"), ReadingsFormat::Csv);
    EXPECT_EQ(readingsFormatFor("/a/b.jsonl"), ReadingsFormat::JsonLines);
    EXPECT_EQ(readingsFormatFor("/a/b.Xlsx"), ReadingsFormat::Xlsx);
    EXPECT_EQ(readingsFormatFor("/a/b.xls"), std::nullopt);
    EXPECT_EQ(readingsFormatFor("/a.csv/b"), std::nullopt);
    EXPECT_EQ(readingsFormatFor("/a/b.db"), std::nullopt);
    EXPECT_STREQ(readingsFormatName(ReadingsFormat::JsonLines), "jsonl");
}
