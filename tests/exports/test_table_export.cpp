// Saving a readings table: the text export byte for byte, the keyed copy as another reader
// sees it, and how tables of other shapes are read. What failed saves leave is in
// test_readings_export_failures.cpp.
#include "paradox/px_oracle.h"
#include "support/reading_rows.h"
#include "support/table_files.h"

#include "exports/table_export.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;
using namespace kxtest;

namespace {

struct Export : ::testing::Test {
    QTemporaryDir dir;
    ReadingsTable table;

    void SetUp() override { table.openScratch(readingsFields()); }
    void fill() {
        addRow(table, {1, 45296789, "1.234", kMOhm, "IR:5000V 1000G" + kOhmSign, "Continuous"});
        addRow(table, {2, 45297000, "-10", "V", "DCV  600V", "Timed"});
        addRow(table, {3, 0, "L234", "", "", ""});
    }
    QStringList entries() const { return entriesOf(dir.path()); }
};

} // namespace

TEST_F(Export, TextIsCodePage936WithTabsAndCrLfAfterEveryLine) {
    fill();
    const QString out = dir.filePath("readings.txt");
    const Status s = SaveToText(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    // Times in the long time format of the tests' locale: hours, minutes and seconds.
    const QByteArray expected =
        "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
        "1\t12:34:56\t1.234\tM\xA6\xB8\tIR:5000V 1000G\xA6\xB8\tContinuous\r\n"
        "2\t12:34:57\t-10\tV\tDCV  600V\tTimed\r\n"
        "3\t00:00:00\tL234\t\t\t\r\n";
    EXPECT_EQ(fileBytes(out), expected);
    EXPECT_EQ(entries(), QStringList{"readings.txt"});
}

TEST_F(Export, EmptyTableGivesTheHeaderAlone) {
    for (const char* name : {"empty.txt", "empty.xls", "empty.DB", "noext"}) {
        const QString out = dir.filePath(name);
        ASSERT_TRUE(SaveToText(table, out, ExportKind::Live).ok()) << name;
        EXPECT_EQ(fileBytes(out), "No\tTime\tValue\tUnit\tFunction\tRemark\r\n") << name;
    }
}

// The stored table is read by its own names, a table of another program by position and kind
// (a seventh field is not written), as the grids read them, whichever kind the save is for.
TEST_F(Export, StoredAndOtherProgramsTablesGiveTheSameColumns) {
    ReadingsTable store;
    store.openScratch(readingsFields(true));
    addRow(store, {7, 1000, "5", "V", "ACV", "Timed"}, true);
    ReadingsTable other;
    other.openScratch({{"Nr", px::FieldType::AutoInc, 4},
                       {"Uhrzeit", px::FieldType::Timestamp, 8},
                       {"Wert", px::FieldType::Number, 8},
                       {"Einheit", px::FieldType::Alpha, 4},
                       {"Bereich", px::FieldType::Alpha, 20},
                       {"Notiz", px::FieldType::Alpha, 20},
                       {"Extra", px::FieldType::Alpha, 4}});
    other.append();
    ASSERT_TRUE(other.setFieldInt("Nr", 4).ok());
    ASSERT_TRUE(other.setFieldTime("Uhrzeit", 3723004).ok());
    ASSERT_TRUE(other.setFieldText("Wert", "2.5").ok());
    ASSERT_TRUE(other.setFieldText("Einheit", "k" + kOhmSign).ok());
    ASSERT_TRUE(other.setFieldText("Bereich", "IR").ok());
    ASSERT_TRUE(other.setFieldText("Notiz", "Timed").ok());
    ASSERT_TRUE(other.setFieldText("Extra", "x").ok());
    ASSERT_TRUE(other.post().ok());
    const QString txt = dir.filePath("t.txt"), csv = dir.filePath("t.csv");
    for (ExportKind kind : {ExportKind::Live, ExportKind::Store}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ASSERT_TRUE(SaveToText(store, txt, kind).ok());
        EXPECT_EQ(fileBytes(txt), textExportHeader() + "7\t00:00:01\t5\tV\tACV\tTimed\r\n");
        ASSERT_TRUE(SaveToText(other, txt, kind).ok());
        EXPECT_EQ(fileBytes(txt),
                  textExportHeader() + "4\t01:02:03\t2.5\tk\xA6\xB8\tIR\tTimed\r\n");
        ASSERT_TRUE(saveReadingsCsv(store, csv, kind).ok());
        EXPECT_EQ(fileBytes(csv).mid(3), csvHeader() + "7,00:00:01.000,5,V,ACV,Timed,5,V\r\n");
        ASSERT_TRUE(saveReadingsCsv(other, csv, kind).ok());
        EXPECT_EQ(fileBytes(csv).mid(3).toStdString(),
                  (csvHeader() + "4,01:02:03.004,2.5,kΩ,IR,Timed,2500,Ω\r\n").toStdString());
    }
    const QString jsonl = dir.filePath("o.jsonl");
    ASSERT_TRUE(saveReadingsJsonLines(other, jsonl, ExportKind::Live).ok());
    const QJsonObject o = QJsonDocument::fromJson(fileBytes(jsonl)).object();
    EXPECT_EQ(o["no"].toInt(), 4);
    EXPECT_EQ(o["baseValue"].toDouble(), 2500);
    EXPECT_EQ(o["remark"].toString(), "Timed");
    ASSERT_TRUE(saveReadingsXlsx(other, dir.filePath("o.xlsx"), ExportKind::Live).ok());
    ASSERT_TRUE(SaveToDB(other, dir.filePath("other.db"), ExportKind::Store).ok());
    EXPECT_EQ(px::readTableInfo(dir.filePath("other.db")).value().recordCount, 1);
}

TEST_F(Export, TextCellsAreTheGridsTexts) {
    // Every kind of field a user's file may hold, NULLs and odd times included, read the way
    // the grid shows them.
    const std::vector<px::FieldDef> fields = {
        {"No", px::FieldType::Short, 2},     {"Time", px::FieldType::Time, 4},
        {"Value", px::FieldType::Number, 8}, {"Unit", px::FieldType::Logical, 1},
        {"V_Range", px::FieldType::Date, 4}, {"I_Range", px::FieldType::Long, 4},
    };
    ReadingsTable t;
    t.openScratch(fields);
    const std::int32_t times[] = {0, 999, 1000, 86399999, 43200500, 43200999};
    for (int i = 0; i < 12; ++i) {
        t.append();
        if (i % 5 != 4) {
            ASSERT_TRUE(t.setFieldInt("No", i * 1000 - 6000).ok());
            ASSERT_TRUE(t.setFieldTime("Time", times[i % 6]).ok());
            ASSERT_TRUE(t.setFieldText("Value", i % 2 ? "3.25" : "-1e7").ok());
            ASSERT_TRUE(t.setFieldInt("Unit", i % 2).ok());
            ASSERT_TRUE(t.setFieldText("V_Range", "2024-02-29").ok());
            ASSERT_TRUE(t.setFieldInt("I_Range", i * -70000).ok());
        }
        ASSERT_TRUE(t.post().ok());
    }
    // Written out by hand: whole numbers, times to the second (the tests' locale shows no
    // milliseconds), numbers in their shortest form, the logical words, short dates, and
    // blanks for NULL.
    const QByteArray expected = "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
                                "-6000\t00:00:00\t-10000000\tFalse\t29 Feb 2024\t0\r\n"
                                "-5000\t00:00:00\t3.25\tTrue\t29 Feb 2024\t-70000\r\n"
                                "-4000\t00:00:01\t-10000000\tFalse\t29 Feb 2024\t-140000\r\n"
                                "-3000\t23:59:59\t3.25\tTrue\t29 Feb 2024\t-210000\r\n"
                                "\t\t\t\t\t\r\n"
                                "-1000\t12:00:00\t3.25\tTrue\t29 Feb 2024\t-350000\r\n"
                                "0\t00:00:00\t-10000000\tFalse\t29 Feb 2024\t-420000\r\n"
                                "1000\t00:00:00\t3.25\tTrue\t29 Feb 2024\t-490000\r\n"
                                "2000\t00:00:01\t-10000000\tFalse\t29 Feb 2024\t-560000\r\n"
                                "\t\t\t\t\t\r\n"
                                "4000\t12:00:00\t-10000000\tFalse\t29 Feb 2024\t-700000\r\n"
                                "5000\t12:00:00\t3.25\tTrue\t29 Feb 2024\t-770000\r\n";
    const QString out = dir.filePath("kinds.txt");
    ASSERT_TRUE(SaveToText(t, out, ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(out).toStdString(), expected.toStdString());
}

TEST_F(Export, KeyedCopyReadsBackThroughPxlibWithItsIndex) {
    fill();
    const QString out = dir.filePath("copy.db");
    const Status s = SaveToDB(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const QString index = dir.filePath("copy.px");
    EXPECT_EQ(entries(), (QStringList{"copy.db", "copy.px"}));

    const pxoracle::Table back = pxoracle::read(out, index);
    ASSERT_TRUE(back.error.empty()) << back.error;
    EXPECT_EQ(back.fields, readingsFields());
    ASSERT_EQ(back.rows.size(), 3u);
    EXPECT_EQ(back.rows[0][0], "1");
    EXPECT_EQ(back.rows[0][3], kMOhm);
    EXPECT_EQ(back.rows[0][4], "IR:5000V 1000G" + kOhmSign);
    EXPECT_EQ(back.rows[2][2], "L234");
    EXPECT_EQ(back.rows[2][3], "<null>");

    const Result<px::TableInfo> info = px::readTableInfo(out);
    EXPECT_EQ(info.value().keyFieldCount, 1);
    const Result<px::PrimaryIndex> px = px::readPrimaryIndex(index);
    ASSERT_TRUE(px.ok()) << px.error().toStdString();
    EXPECT_EQ(indexedRecords(px.value()), 3);
    EXPECT_EQ(info.value().fields.front().name, "No") << "keyed on its first field";

    // An empty table gives an empty keyed table with its index.
    ReadingsTable empty;
    empty.openScratch(readingsFields());
    ASSERT_TRUE(SaveToDB(empty, dir.filePath("none.db"), ExportKind::Live).ok());
    EXPECT_EQ(px::readTableInfo(dir.filePath("none.db")).value().recordCount, 0);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("none.px")).value()), 0);
}

TEST_F(Export, StoredCopyIsKeyedOnSNo) {
    ReadingsTable store;
    store.openScratch(readingsFields(true));
    addRow(store, {3, 1000, "5", "V", "ACV", "Timed"}, true);
    addRow(store, {1, 2000, "6", "V", "ACV", "Timed"}, true);
    const QString out = dir.filePath("s.db");
    ASSERT_TRUE(SaveToDB(store, out, ExportKind::Store).ok());
    const pxoracle::Table back = pxoracle::read(out, dir.filePath("s.px"));
    ASSERT_TRUE(back.error.empty()) << back.error;
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0][0], "1") << "stored in key order";
    EXPECT_EQ(px::readTableInfo(out).value().keyFieldCount, 1);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("s.px")).value()), 2);

    // Saved as the live kind, the copy is still keyed on its first field, SNo.
    ASSERT_TRUE(SaveToDB(store, dir.filePath("w.db"), ExportKind::Live).ok());
    EXPECT_EQ(pxoracle::read(dir.filePath("w.db"), dir.filePath("w.px")).rows.size(), 2u);
}

TEST_F(Export, DuplicateNumberIsAKeyViolationAndKeepsTheOldPair) {
    fill();
    const QString out = dir.filePath("k.db");
    ASSERT_TRUE(SaveToDB(table, out, ExportKind::Live).ok());
    const QByteArray oldTable = fileBytes(out), oldIndex = fileBytes(dir.filePath("k.px"));
    addRow(table, {2, 5, "again", "V", "", ""});
    const Status dup = SaveToDB(table, out, ExportKind::Live);
    EXPECT_EQ(dup.error(), "Key violation: No 2 appears twice");
    EXPECT_EQ(fileBytes(out), oldTable);
    EXPECT_EQ(fileBytes(dir.filePath("k.px")), oldIndex);
    EXPECT_EQ(entries(), (QStringList{"k.db", "k.px"}));
}

TEST_F(Export, KeyMustBeTheFirstField) {
    ReadingsTable t;
    t.openScratch({{"Value", px::FieldType::Alpha, 8},
                   {"No", px::FieldType::Long, 4},
                   {"Time", px::FieldType::Time, 4},
                   {"Unit", px::FieldType::Alpha, 8},
                   {"V_Range", px::FieldType::Alpha, 8},
                   {"I_Range", px::FieldType::Alpha, 8}});
    const Status s = SaveToDB(t, dir.filePath("x.db"), ExportKind::Live);
    ASSERT_TRUE(failsWith(s, "first field"));
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(Export, ClosedSourceIsReadFromItsFileForTheCopy) {
    const QString file = dir.filePath("src.db");
    fill();
    ASSERT_TRUE(SaveToDB(table, file, ExportKind::Live).ok());
    ReadingsTable closed;
    closed.setTableName(file);
    const QString out = dir.filePath("again.db");
    ASSERT_TRUE(SaveToDB(closed, out, ExportKind::Live).ok());
    EXPECT_FALSE(closed.isOpen()) << "closed again afterwards";
    EXPECT_EQ(px::readTableInfo(out).value().recordCount, 3);
    // A missing one fails with the engine's message.
    closed.setTableName(dir.filePath("missing.db"));
    const Status s = SaveToDB(closed, dir.filePath("third.db"), ExportKind::Live);
    ASSERT_TRUE(failsWith(s, "missing.db"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("third.db")));
}

TEST_F(Export, TextExportTouchesOnlyItsTarget) {
    fill();
    // A keyed pair named like the text file: neither is touched.
    ASSERT_TRUE(SaveToDB(table, dir.filePath("out.db"), ExportKind::Live).ok());
    const QByteArray db = fileBytes(dir.filePath("out.db"));
    const QByteArray px = fileBytes(dir.filePath("out.px"));
    ASSERT_TRUE(SaveToText(table, dir.filePath("out.txt"), ExportKind::Live).ok());
    ASSERT_TRUE(SaveToText(table, dir.filePath("out.DB"), ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(dir.filePath("out.db")), db);
    EXPECT_EQ(fileBytes(dir.filePath("out.px")), px);
    EXPECT_EQ(entries(), (QStringList{"out.DB", "out.db", "out.px", "out.txt"}));
}

// The command line's export: the target is refused before the source is even looked at, and
// a source that cannot be read is the table's fault, not the file's.
TEST_F(Export, SavingATableFileChecksTheTargetFirst) {
    fill();
    const QString source = dir.filePath("src.db");
    ASSERT_TRUE(SaveToDB(table, source, ExportKind::Live).ok());
    SaveAsOutcome o = saveTableFileAs(source, dir.filePath("copy.txt"), ExportKind::Store);
    ASSERT_TRUE(o.saved()) << o.error.toStdString();
    EXPECT_EQ(o.records, 3);
    EXPECT_TRUE(fileBytes(dir.filePath("copy.txt")).startsWith(textExportHeader() + "1\t"));

    o = saveTableFileAs(dir.filePath("absent.db"), dir.filePath("no/folder/x.txt"),
                        ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_TRUE(o.error.contains("folder does not exist")) << o.error.toStdString();
    o = saveTableFileAs(dir.filePath("absent.db"), dir.filePath("x.txt"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
    EXPECT_TRUE(o.error.contains("absent.db")) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x.txt")));
}

// A table file too long for a workbook is refused from the count its header states, before
// its records are read; only a workbook has that limit, and only past it.
TEST_F(Export, AWorkbookTooLongForASheetIsRefusedFromTheHeader) {
    fill();
    const QString source = dir.filePath("src.db");
    ASSERT_TRUE(SaveToDB(table, source, ExportKind::Live).ok());
    const QByteArray whole = fileBytes(source);
    struct Case {
        std::uint32_t stated; // the count the header states (3 is the truth)
        const char* target;
        SaveAsOutcome::End end;
        const char* message;
    };
    const Case cases[] = {
        {1'048'576, "big.xlsx", SaveAsOutcome::End::WriteFailed, "at most 1048575 readings"},
        {4'000'000, "big.XLSX", SaveAsOutcome::End::WriteFailed, "the table has 4000000"},
        // Not past the limit, or not a workbook: the table is opened and found damaged.
        {1'048'575, "big.xlsx", SaveAsOutcome::End::TableRefused, "src.db"},
        {1'048'576, "big.csv", SaveAsOutcome::End::TableRefused, "src.db"},
        {3, "small.xlsx", SaveAsOutcome::End::Saved, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stated);
        QByteArray bytes = whole;
        px::codec::put32(reinterpret_cast<unsigned char*>(bytes.data()) + 0x06, c.stated);
        ASSERT_TRUE(putFile(source, bytes));
        const QString target = dir.filePath(QLatin1String(c.target));
        const SaveAsOutcome o = saveTableFileAs(source, target, ExportKind::Live);
        EXPECT_EQ(o.end, c.end) << o.error.toStdString();
        EXPECT_TRUE(o.error.contains(QLatin1String(c.message))) << o.error.toStdString();
        EXPECT_EQ(QFileInfo::exists(target), c.end == SaveAsOutcome::End::Saved);
    }
}

// A table whose damage lies in its last record, found only when that record is read, is
// refused whole: no export of it is written, in any format.
TEST_F(Export, ATableDamagedInItsLastRecordIsNotSaved) {
    fill();
    const QString source = dir.filePath("src.db");
    ASSERT_TRUE(SaveToDB(table, source, ExportKind::Live).ok());
    const px::TableInfo info = px::readTableInfo(source).value();
    QByteArray bytes = fileBytes(source);
    const int second = info.headerSize + 6 + info.recordSize;
    bytes.replace(second + info.recordSize, 4, bytes.mid(second, 4)); // No. 3 becomes No. 2
    ASSERT_TRUE(putFile(source, bytes));
    for (const char* name : {"copy.txt", "copy.csv", "copy.jsonl", "copy.xlsx", "copy.db"}) {
        SCOPED_TRACE(name);
        const QString target = dir.filePath(QLatin1String(name));
        const SaveAsOutcome o = saveTableFileAs(source, target, ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
        EXPECT_TRUE(o.error.contains("src.db is damaged: key 2 appears twice"))
            << o.error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(target));
    }
}
