// The .csv, .jsonl and .xlsx exports as other programs read them: the CSV byte for byte and
// through a strict reader, the JSON lines through Qt's reader, the workbook through openpyxl.
#include "support/csv_reader.h"
#include "support/python_reader.h"
#include "support/reading_rows.h"
#include "support/table_files.h"

#include "analysis/insulation_analyser.h"
#include "exports/readings_row_reader.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <cmath>

using namespace kx;
using namespace kxtest;

namespace {

using ReadingsExport = EveryKindOfReadingTable;

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
    // Times with a decimal comma before their milliseconds, which such a spreadsheet reads as
    // times (with a point it keeps them as texts).
    EXPECT_EQ((*records)[1][1], "12:34:56,789");
    EXPECT_EQ((*records)[2][1], "00:00:00,000");
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
    EXPECT_EQ((*quoted)[3][1], "23:59:59,999");

    CsvOptions tab;
    tab.delimiter = '\t';
    EXPECT_FALSE(saveReadingsCsv(table, out, ExportKind::Live, tab).ok());
}

// One field as the CSV writer puts it: quoted when it holds the delimiter, a quote or a line
// end of either kind (a bare CR ends a row for a strict reader as LF does), guarded when a
// spreadsheet would run it.
TEST(ReadingsExportCsvField, QuotedAndGuardedAsAStrictReaderNeeds) {
    struct Case {
        std::string text;
        char delimiter;
        std::string written;
    };
    const Case cases[] = {
        {"plain", ',', "plain"},   {"a\rb", ',', "\"a\rb\""},
        {"a\nb", ',', "\"a\nb\""}, {"a\r\nb", ',', "\"a\r\nb\""},
        {"a,b", ',', "\"a,b\""},   {"a,b", ';', "a,b"},
        {"a;b", ';', "\"a;b\""},   {"say \"x\"", ',', "\"say \"\"x\"\"\""},
        {"=1+2", ',', "'=1+2"},    {"\rx", ',', "\"'\rx\""},
        {"-12.5", ',', "-12.5"},   {"- x", ',', "'- x"},
        {"----", ',', "----"},
    };
    for (const Case& c : cases) {
        std::string out;
        appendCsvText(out, c.text, c.delimiter);
        EXPECT_EQ(out, c.written) << c.text;
        // A strict reader gets the text back (less the guard) as one field.
        const auto back = readStrictCsv(out + "\r\n", c.delimiter);
        ASSERT_TRUE(back.has_value()) << c.text;
        ASSERT_EQ(back->size(), 1u) << c.text;
        ASSERT_EQ(back->front().size(), 1u) << c.text;
    }
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

// A recording that holds an insulation test gets a second sheet with one row per test. Every
// column is read back and compared with what the curve gives by hand: R(t) = 1 GΩ (1 + t/100 s),
// read every second for 620 s from 10:00:00.
TEST(ReadingsExportResults, WorkbookListsTheTestsOnASecondSheet) {
    QTemporaryDir dir;
    ReadingsTable table;
    table.openScratch(readingsFields());
    const auto curve = [](double s) { return 1e9 * (1 + s / 100); };
    for (const Row& r : curveRows(everyMs(1000, 620'000), curve))
        addRow(table, r);
    const QString out = dir.filePath("test.xlsx");

    enum class Kind { Blank, Number, Ms, Text, Ohms };
    struct Cell {
        const char* column;
        Kind kind;
        double number = 0;
        const char* text = "";
    };
    const double r15 = 1.15e9, r30 = 1.3e9, r60 = 1.6e9, r600 = 7e9;
    const std::vector<Cell> common = {
        {"Test", Kind::Number, 1},
        {"Mode", Kind::Text, 0, "PI"},
        {"Function", Kind::Text, 0, "IR:2500 100G\u03A9"},
        {"Test voltage (V)", Kind::Number, 2500},
        {"First No", Kind::Number, 1},
        {"Last No", Kind::Number, 621},
        {"Start", Kind::Ms, 36'000'000},
        {"Duration (s)", Kind::Number, 620},
        {"R15 (\u03A9)", Kind::Ohms, r15},
        {"R30 (\u03A9)", Kind::Ohms, r30},
        {"R60 (\u03A9)", Kind::Ohms, r60},
        {"R600 (\u03A9)", Kind::Ohms, r600},
        {"DAR", Kind::Number, r60 / r30},
        {"DAR15", Kind::Number, r60 / r15},
        {"PI", Kind::Number, r600 / r60},
    };
    struct Judged {
        const char* what;
        ResultSettings settings;
        std::vector<Cell> cells;
    };
    ResultSettings strict;
    strict.temperature = 20;
    strict.minimumOhms = 1e12;
    const Judged judgements[] = {
        {"the defaults",
         {},
         {{"Temperature (\u00B0C)", Kind::Blank},
          {"Base temperature (\u00B0C)", Kind::Number, 40},
          {"R60 corrected (\u03A9)", Kind::Blank},
          {"Minimum (\u03A9)", Kind::Ohms, 100e6},
          {"Verdict", Kind::Text, 0, "pass"}}},
        // At 20 °C the resistance at 40 °C is a quarter.
        {"a winding at 20 \u00B0C and a minimum of 1 T\u03A9",
         strict,
         {{"Temperature (\u00B0C)", Kind::Number, 20},
          {"Base temperature (\u00B0C)", Kind::Number, 40},
          {"R60 corrected (\u03A9)", Kind::Ohms, r60 / 4},
          {"Minimum (\u03A9)", Kind::Ohms, 1e12},
          {"Verdict", Kind::Text, 0, "fail"}}},
    };
    for (const Judged& j : judgements) {
        SCOPED_TRACE(j.what);
        XlsxOptions options;
        options.results = j.settings;
        const Status s = saveReadingsXlsx(table, out, ExportKind::Live, options);
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
        ASSERT_EQ(head.size(), 21);
        ASSERT_LE(row.size(), 21);

        std::vector<Cell> cells = common;
        cells.insert(cells.end(), j.cells.begin(), j.cells.end());
        cells.push_back({"Reasons", Kind::Text});
        ASSERT_EQ(cells.size(), 21u) << "every column";
        for (qsizetype c = 0; c < head.size(); ++c) {
            const Cell& e = cells[static_cast<std::size_t>(c)];
            SCOPED_TRACE(e.column);
            EXPECT_EQ(head[c].toObject()["s"].toString(), QString::fromUtf8(e.column));
            const QJsonValue v = c < row.size() ? row[c] : QJsonValue();
            const QJsonObject o = v.toObject();
            switch (e.kind) {
            case Kind::Blank:
                EXPECT_TRUE(v.isNull());
                break;
            case Kind::Number:
                EXPECT_NEAR(o["n"].toDouble(-1), e.number, 1e-9 * e.number);
                break;
            case Kind::Ms:
                EXPECT_EQ(o["ms"].toInt(), e.number);
                EXPECT_EQ(o["format"].toString(), "hh:mm:ss.000");
                break;
            case Kind::Ohms:
                // Kept in ohms, shown in MΩ or GΩ.
                EXPECT_NEAR(o["n"].toDouble(-1), e.number, 1e-9 * e.number);
                EXPECT_TRUE(o["format"].toString().contains(QStringLiteral(" M\u03A9")) &&
                            o["format"].toString().contains(QStringLiteral(" G\u03A9")))
                    << o["format"].toString().toStdString();
                break;
            case Kind::Text:
                if (*e.text) {
                    EXPECT_EQ(o["s"].toString(), QString::fromUtf8(e.text));
                }
                break;
            }
        }
        // The reasons one sentence after another, not "….; …".
        const QString reasons = row.last().toObject()["s"].toString();
        EXPECT_EQ(reasons.count(QStringLiteral(". ")), 1) << reasons.toStdString();
        EXPECT_FALSE(reasons.contains(QLatin1Char(';'))) << reasons.toStdString();
        EXPECT_TRUE(reasons.endsWith(QLatin1Char('.'))) << reasons.toStdString();

        // Wide enough for what each column shows, and printed across a landscape page.
        const QJsonObject widths = results["widths"].toObject();
        for (const auto& [column, least] : {std::pair{"G", 12.0}, {"I", 8.0}, {"U", 40.0}})
            EXPECT_GE(widths[column].toDouble(), least) << column;
        EXPECT_LE(widths["U"].toDouble(), 100);
        for (const char* sheet : {"Readings", "Results"}) {
            const QJsonObject o = read.json[sheet].toObject();
            EXPECT_TRUE(o["landscape"].toBool()) << sheet;
            EXPECT_TRUE(o["fitToPage"].toBool()) << sheet;
            EXPECT_EQ(o["fitHeight"].toInt(-1), 0) << sheet << ": as many pages down as it takes";
            EXPECT_EQ(o["titleRows"].toString(), "$1:$1") << sheet;
        }
    }
}

// Texts that are no code page 936 (a damaged table, another program's) show the replacement
// character in every format, as the table's dump shows them: never an empty cell.
TEST(ReadingsExportTexts, BytesThatAreNoTextShowTheReplacementCharacter) {
    QTemporaryDir dir;
    ReadingsTable table;
    table.openScratch(readingsFields());
    addRow(table, {1, 1000, "12\xFF", kMOhm, "IR\x81", "\x81"});
    const std::string r = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
    const std::pair<const char*, std::string> lines[] = {
        {"t.csv", "1,00:00:01.000,12" + r + ",M\xCE\xA9,IR" + r + "," + r + ",,\xCE\xA9\r\n"},
        {"t.jsonl", "{\"no\":1,\"time\":\"00:00:01.000\",\"value\":\"12" + r +
                        "\",\"unit\":\"M\xCE\xA9\",\"function\":\"IR" + r + "\",\"remark\":\"" + r +
                        "\",\"baseValue\":null,\"baseUnit\":\"\xCE\xA9\"}\n"},
    };
    for (const auto& [name, line] : lines) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(saveTableAs(table, path, ExportKind::Live).saved()) << name;
        EXPECT_TRUE(fileBytes(path).toStdString().ends_with(line)) << fileBytes(path).constData();
    }
    const QString book = dir.filePath("t.xlsx");
    ASSERT_TRUE(saveTableAs(table, book, ExportKind::Live).saved());
    const PythonRead read = readWithPython(QStringLiteral("xlsx"), book);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    const QJsonArray row = read.json["Readings"].toObject()["rows"].toArray()[1].toArray();
    for (const auto& [column, text] : {std::pair{2, "12" + r}, {4, "IR" + r}, {5, r}})
        EXPECT_EQ(row[column].toObject()["s"].toString().toStdString(), text) << column;
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
