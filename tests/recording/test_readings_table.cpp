#include "recording/paradox_reader.h"
#include "recording/paradox_schema.h"
#include "recording/paradox_writer.h"
#include "recording/readings_table.h"
#include "recording/readings_table_model.h"
#include "recording/recording_control.h"
#include "recording/table_file_io.h"
#include "test_helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct FileTable : ::testing::Test {
    QTemporaryDir dir;
    QString path;
    ReadingsTable table;
    ReadingTexts texts;
    RecordingControl rc{texts, table};

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("Pw60bdb.DB");
        ASSERT_TRUE(px::createTable(path, px::readingsFields()).ok());
        table.setTableName(path);
        rc.setTimeOfDay([] { return 45296789; }); // 12:34:56.789
    }
    void record(const char* value) {
        texts.ReadingValue = value;
        ASSERT_TRUE(rc.INDataToTable(1));
    }
};

} // namespace

TEST_F(FileTable, PendingRecordsNeverReachTheFile) {
    QString error;
    ASSERT_TRUE(table.open(&error)) << error.toStdString();
    const QByteArray before = fileBytes(path);
    record("1.00");
    record("2.00");
    EXPECT_EQ(*table.recordCount(nullptr), 2);
    EXPECT_EQ(table.fieldText(1, "No"), "2");
    table.close();
    EXPECT_EQ(fileBytes(path), before) << "closing discards pending records";
    EXPECT_EQ(px::readTableInfo(path).value().recordCount, 0);
    EXPECT_FALSE(table.recordCount(&error).has_value());
    EXPECT_EQ(error, "Cannot perform this operation on a closed dataset");
}

TEST_F(FileTable, ExclusiveOpenAndMissingFile) {
    QString error;
    ASSERT_TRUE(table.open(&error));
    ReadingsTable second;
    second.setTableName(path);
    EXPECT_FALSE(second.open(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(table.emptyTable(&error)) << "an open table is not emptied under its user";
    table.close();
    EXPECT_TRUE(second.open(&error)) << error.toStdString();

    ReadingsTable missing;
    missing.setTableName(dir.filePath("nothere.DB"));
    EXPECT_FALSE(missing.open(&error));
    EXPECT_TRUE(error.contains("nothere")) << error.toStdString();
}

TEST_F(FileTable, BareNamesResolveInTheProgramFolder) {
    ReadingsTable t;
    t.setTableName("Pw60bdb");
    EXPECT_EQ(QFileInfo(t.filePath()).fileName(), "Pw60bdb.DB");
    EXPECT_EQ(QFileInfo(t.filePath()).absolutePath(),
              QDir(QCoreApplication::applicationDirPath()).absolutePath());
    t.setTableName(path);
    EXPECT_EQ(t.filePath(), path);
}

TEST_F(FileTable, ClearAllEmptiesTheFileAndRestartsNumbering) {
    // A user's file with committed records: opening shows them, Clear All empties the file.
    std::vector<px::Record> rows;
    for (int i = 1; i <= 3; ++i)
        rows.push_back({px::Value(i), px::Value::timeOfDay(1000 * i), px::Value("5"),
                        px::Value("V"), px::Value("DCV  600V"), px::Value("Continuous")});
    ASSERT_TRUE(px::writeTable(path, px::readingsFields(), rows).ok());
    QString error;
    ASSERT_TRUE(table.open(&error));
    EXPECT_EQ(*table.recordCount(nullptr), 3);
    EXPECT_EQ(table.fieldText(2, "Value"), "5");
    ASSERT_FALSE(rc.clearAll().has_value());
    EXPECT_TRUE(table.isOpen());
    EXPECT_EQ(*table.recordCount(nullptr), 0);
    EXPECT_EQ(px::readTableInfo(path).value().recordCount, 0);
    EXPECT_EQ(px::readTableInfo(path).value().fields.size(), 6u) << "structure kept";
    record("7");
    EXPECT_EQ(table.fieldText(0, "No"), "1");
}

TEST_F(FileTable, KeyedCopyHoldsPendingRecordsAndReadsBack) {
    QString error;
    ASSERT_TRUE(table.open(&error));
    texts.FunctionText = "IR:5000V 1000G\xA6\xB8";
    texts.UnitText = "G\xA6\xB8";
    record("1.234");
    record("-10");
    record("L234");
    ASSERT_TRUE(table.deleteRecord(1, &error));
    record("9.99");
    const QString copy = dir.filePath("saved.db");
    ASSERT_TRUE(saveKeyedCopy(table, copy, &error)) << error.toStdString();
    EXPECT_TRUE(QFile::exists(px::indexPathFor(copy)));

    auto rows = px::readTable(copy);
    ASSERT_TRUE(rows.ok()) << rows.error().toStdString();
    ASSERT_EQ(rows.value().size(), 3u);
    EXPECT_EQ(rows.value()[0][0].toInt(), 1);
    EXPECT_EQ(rows.value()[1][0].toInt(), 3) << "the deleted record leaves a gap";
    EXPECT_EQ(rows.value()[2][0].toInt(), 4);
    EXPECT_EQ(rows.value()[2][1].msecs(), 45296789);
    EXPECT_EQ(rows.value()[1][2].rawBytes(), "L234");
    EXPECT_EQ(rows.value()[0][4].rawBytes(), "IR:5000V 1000G\xA6\xB8");
    EXPECT_EQ(rows.value()[0][3].rawBytes(), "G\xA6\xB8");
    EXPECT_EQ(px::readTableInfo(copy).value().keyFieldCount, 1);

    // The copy opens as a table of its own, with the same fields.
    ReadingsTable reopened;
    reopened.setTableName(copy);
    ASSERT_TRUE(reopened.open(&error)) << error.toStdString();
    EXPECT_EQ(reopened.rowCount(), 3);
    EXPECT_EQ(reopened.fieldText(2, "Value"), "9.99");
}

TEST_F(FileTable, DuplicateNumbersGiveKeyViolation) {
    QString error;
    ASSERT_TRUE(table.open(&error));
    record("1");
    rc.NextRecordNo = 1;
    record("2");
    EXPECT_FALSE(saveKeyedCopy(table, dir.filePath("dup.db"), &error));
    EXPECT_EQ(error, "Key violation");
    EXPECT_FALSE(QFile::exists(px::indexPathFor(dir.filePath("dup.db"))));
}

TEST_F(FileTable, EngineMadeTablesOpenWithTheirNulls) {
    QTemporaryDir d;
    const QString t = d.filePath("time.db");
    ASSERT_TRUE(QFile::copy(fixture("time.db"), t));
    ReadingsTable table2;
    table2.setTableName(t);
    QString error;
    ASSERT_TRUE(table2.open(&error)) << error.toStdString();
    ASSERT_EQ(table2.rowCount(), 3);
    EXPECT_TRUE(table2.isNull(1, 0));
    EXPECT_EQ(table2.fieldText(1, 0), "");
    EXPECT_EQ(table2.intValue(0, 0), 3601000);
    EXPECT_NE(table2.fieldText(0, 0).find("01"), std::string::npos);
}

TEST(TimeText, LongFormatWithoutTimeZone) {
    const std::string s = timeOfDayText(13 * 3600000 + 5 * 60000 + 9000);
    EXPECT_NE(s.find("05"), std::string::npos) << s;
    EXPECT_NE(s.find("09"), std::string::npos) << s;
    EXPECT_EQ(s.find("UTC"), std::string::npos) << s;
    EXPECT_EQ(s, timeOfDayText(13 * 3600000 + 5 * 60000 + 9999)) << "milliseconds are not shown";
}

TEST(TableModel, FollowsAppendsAndDeletes) {
    ReadingsTable table;
    table.openScratch(readingsFields());
    ReadingsTableModel model(table);
    ReadingTexts texts;
    RecordingControl rc(texts, table);
    int inserted = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    texts.ReadingValue = "3.14";
    texts.UnitText = "M\xA6\xB8";
    rc.INDataToTable(1);
    rc.INDataToTable(1);
    EXPECT_EQ(inserted, 2);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 6);
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), "2");
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QString::fromUtf8("MΩ"));
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
    model.setColumnTitle(4, "Function");
    EXPECT_EQ(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "Function");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Value");
    table.deleteRecord(0, nullptr);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "2");
    table.close();
    EXPECT_EQ(model.rowCount(), 0);
}
