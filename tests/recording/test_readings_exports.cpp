// The .csv, .jsonl and .xlsx exports as other programs read them: the CSV byte for byte and
// through a strict reader, the JSON lines through Qt's reader, the workbook through openpyxl.
#include "recording/reading_rows.h"
#include "support/csv_reader.h"
#include "support/python_reader.h"
#include "support/table_files.h"

#include "recording/insulation_analyser.h"
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

// Every reading's cells as the CSV above holds them, for the formats that say the same in
// their own ways: without the CSV's guard before a text that a spreadsheet would take for a
// formula.
std::vector<std::vector<std::string>> expectedCells() {
    std::vector<std::vector<std::string>> rows =
        readStrictCsv(std::string_view(kExpectedCsv).substr(3), ',').value();
    rows.erase(rows.begin());
    for (auto& row : rows)
        for (std::string& cell : row)
            if (cell.size() > 1 && cell[0] == '\'' &&
                std::string("=+-@").find(cell[1]) != std::string::npos)
                cell.erase(0, 1);
    return rows;
}

constexpr const char* kJsonKeys[] = {"no",       "time",   "value",     "unit",
                                     "function", "remark", "baseValue", "baseUnit"};

TEST_F(ReadingsExport, JsonLinesAreOneObjectPerRecordWithNumbersAndNulls) {
    const QString out = dir.filePath("readings.jsonl");
    ASSERT_TRUE(saveReadingsJsonLines(table, out, ExportKind::Live).ok());
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

    // Numbers as numbers, texts as texts (quotes, line breaks and all), blanks as nulls.
    const auto expected = expectedCells();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        QJsonParseError e{};
        const QJsonObject o = QJsonDocument::fromJson(lines[i], &e).object();
        ASSERT_EQ(e.error, QJsonParseError::NoError);
        EXPECT_EQ(o.keys().size(), 8);
        for (std::size_t c = 0; c < 8; ++c) {
            const std::string& cell = expected[static_cast<std::size_t>(i)][c];
            const QJsonValue v = o[kJsonKeys[c]];
            if (cell.empty())
                EXPECT_TRUE(v.isNull()) << kJsonKeys[c];
            else if (c == 0 || c == 6)
                EXPECT_EQ(v.toDouble(-1), std::strtod(cell.c_str(), nullptr)) << kJsonKeys[c];
            else
                EXPECT_EQ(v.toString().toStdString(), cell) << kJsonKeys[c];
        }
    }
}

// The workbook holds numbers as numbers and times as times of day with their milliseconds; a
// line break in a cell is LF, and "=1+2" is a text, not a formula.
TEST_F(ReadingsExport, WorkbookReadsBackThroughOpenpyxl) {
    const QString out = dir.filePath("readings.xlsx");
    ASSERT_TRUE(saveReadingsXlsx(table, out, ExportKind::Live).ok());
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
    const auto expected = expectedCells();
    for (qsizetype i = 1; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const QJsonArray row = rows[i].toArray();
        ASSERT_EQ(row.size(), 8);
        for (std::size_t c = 0; c < 8; ++c) {
            std::string cell = expected[static_cast<std::size_t>(i - 1)][c];
            const QJsonObject v = row[static_cast<qsizetype>(c)].toObject();
            if (cell.empty()) {
                EXPECT_TRUE(row[static_cast<qsizetype>(c)].isNull()) << c;
            } else if (c == 1) {
                EXPECT_EQ(v["ms"].toInt(), readings[static_cast<std::size_t>(i - 1)].ms);
                EXPECT_EQ(v["format"].toString(), "hh:mm:ss.000");
            } else if (c == 0 || c == 6) {
                EXPECT_EQ(v["n"].toDouble(-1), std::strtod(cell.c_str(), nullptr)) << c;
            } else {
                if (const auto crlf = cell.find("\r\n"); crlf != std::string::npos)
                    cell.erase(crlf, 1);
                EXPECT_EQ(v["s"].toString().toStdString(), cell) << c;
            }
        }
    }
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
