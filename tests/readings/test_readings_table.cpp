#include "common/app_dir.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/field_text.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/readings_table_model.h"
#include "readings/record_store.h"
#include "readings/table_file_io.h"
#include "recording/recording_control.h"
#include "support/reading_rows.h"
#include "support/table_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTime>

#include <bit>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

using namespace kx;
using kxtest::failsWith;

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
        ASSERT_TRUE(px::createTable(path, readingsFields()).ok());
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
    const Status opened = table.open();
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    const QByteArray before = fileBytes(path);
    record("1.00");
    record("2.00");
    EXPECT_EQ(table.recordCount().value(), 2);
    EXPECT_EQ(table.fieldText(1, "No"), "2");
    table.close();
    EXPECT_EQ(fileBytes(path), before) << "closing discards pending records";
    EXPECT_EQ(px::readTableInfo(path).value().recordCount, 0);
    const Result<qint64> closed = table.recordCount();
    EXPECT_FALSE(closed.ok());
    EXPECT_EQ(closed.error(), "Cannot perform this operation on a closed dataset");
}

TEST_F(FileTable, ExclusiveOpenAndMissingFile) {
    ASSERT_TRUE(table.open().ok());
    ReadingsTable second;
    second.setTableName(path);
    const Status locked = second.open();
    EXPECT_FALSE(locked.ok());
    EXPECT_FALSE(locked.error().isEmpty());
    EXPECT_FALSE(table.emptyTable().ok()) << "an open table is not emptied under its user";
    table.close();
    const Status reopened = second.open();
    EXPECT_TRUE(reopened.ok()) << reopened.error().toStdString();

    ReadingsTable missing;
    missing.setTableName(dir.filePath("nothere.DB"));
    const Status absent = missing.open();
    EXPECT_FALSE(absent.ok());
    EXPECT_TRUE(failsWith(absent, "nothere"));
}

TEST_F(FileTable, BareNamesResolveInTheProgramFolder) {
    ReadingsTable t;
    t.setTableName("Pw60bdb");
    EXPECT_EQ(QFileInfo(t.filePath()).fileName(), "Pw60bdb.DB");
    // The program's folder: the executable's when it holds the settings file, else the
    // user's data folder (as here, for a test executable).
    EXPECT_EQ(QFileInfo(t.filePath()).absolutePath(), QDir(kx::AppDir()).absolutePath());
    t.setTableName(path);
    EXPECT_EQ(t.filePath(), path);
}

TEST_F(FileTable, ClearAllEmptiesTheFileAndRestartsNumbering) {
    // A user's file with committed records: opening shows them, Clear All empties the file.
    std::vector<px::Record> rows;
    for (int i = 1; i <= 3; ++i)
        rows.push_back({px::Value(i), px::Value::timeOfDay(1000 * i), px::Value("5"),
                        px::Value("V"), px::Value("DCV  600V"), px::Value("Continuous")});
    ASSERT_TRUE(px::writeTable(path, readingsFields(), rows).ok());
    ASSERT_TRUE(table.open().ok());
    EXPECT_EQ(table.recordCount().value(), 3);
    EXPECT_EQ(table.fieldText(2, "Value"), "5");
    ASSERT_TRUE(rc.clearAll().ok());
    EXPECT_TRUE(table.isOpen());
    EXPECT_EQ(table.recordCount().value(), 0);
    EXPECT_EQ(px::readTableInfo(path).value().recordCount, 0);
    EXPECT_EQ(px::readTableInfo(path).value().fields.size(), 6u) << "structure kept";
    record("7");
    EXPECT_EQ(table.fieldText(0, "No"), "1");
}

TEST_F(FileTable, KeyedCopyHoldsPendingRecordsAndReadsBack) {
    ASSERT_TRUE(table.open().ok());
    texts.FunctionText = "IR:5000V 1000G\xA6\xB8";
    texts.UnitText = "G\xA6\xB8";
    record("1.234");
    record("-10");
    record("L234");
    ASSERT_TRUE(table.deleteRecord(1).ok());
    record("9.99");
    const QString copy = dir.filePath("saved.db");
    const Status saved = saveKeyedCopy(table, copy);
    ASSERT_TRUE(saved.ok()) << saved.error().toStdString();
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
    ASSERT_TRUE(reopened.open().ok());
    EXPECT_EQ(reopened.rowCount(), 3);
    EXPECT_EQ(reopened.fieldText(2, "Value"), "9.99");
}

TEST_F(FileTable, EngineMadeTablesOpenWithTheirNulls) {
    KX_NEED_FIXTURES();
    QTemporaryDir d;
    const QString t = d.filePath("time.db");
    ASSERT_TRUE(QFile::copy(fixture("time.db"), t));
    ReadingsTable table2;
    table2.setTableName(t);
    const Status opened = table2.open();
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    ASSERT_EQ(table2.rowCount(), 3);
    EXPECT_TRUE(table2.records().isNull(1, 0));
    EXPECT_EQ(table2.fieldText(1, 0), "");
    EXPECT_EQ(table2.records().intValue(0, 0), 3601000);
    EXPECT_NE(table2.fieldText(0, 0).find("01"), std::string::npos);
}

TEST(TimeText, LongFormatWithoutTimeZone) {
    const std::string s = timeOfDayText(13 * 3600000 + 5 * 60000 + 9000);
    EXPECT_NE(s.find("05"), std::string::npos) << s;
    EXPECT_NE(s.find("09"), std::string::npos) << s;
    EXPECT_EQ(s.find("UTC"), std::string::npos) << s;
    EXPECT_EQ(s, timeOfDayText(13 * 3600000 + 5 * 60000 + 9999)) << "milliseconds are not shown";
}

// Times written directly must read as the system's own formatter writes them.
TEST(TimeText, ReadsAsTheLocaleWritesItAndBlankOutsideADay) {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    format = format.simplified();
    for (std::int32_t ms : {0, 999, 1000, 9 * 3600000 + 59 * 60000 + 59999, 12 * 3600000,
                            13 * 3600000 + 5 * 60000 + 9123, 86399999}) {
        const QString expected =
            QLocale::system().toString(QTime::fromMSecsSinceStartOfDay(ms), format);
        EXPECT_EQ(timeOfDayText(ms), expected.toStdString()) << ms;
    }
    for (std::int32_t ms : {-1, 86400000, std::numeric_limits<std::int32_t>::min()})
        EXPECT_EQ(timeOfDayText(ms), "") << ms;
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
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Value");
    EXPECT_TRUE(table.deleteRecord(0).ok());
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "2");
    table.close();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(TableAppend, FailuresComeBackAsMessagesAndLeaveTheRecordUnposted) {
    ReadingsTable table;
    EXPECT_EQ(table.setFieldText("No", "1").error(), ReadingsTable::closedMessage());
    table.openScratch(readingsFields());
    table.append();
    EXPECT_EQ(table.setFieldText("No", "abc").error(), "'abc' is not a valid integer value");
    EXPECT_EQ(table.setFieldText("No", "99999999999").error(),
              "'99999999999' is not a valid integer value");
    EXPECT_EQ(table.setFieldText("Time", "25:00").error(), "'25:00' is not a valid time");
    EXPECT_EQ(table.setFieldText("Nope", "1").error(), "Field 'Nope' not found");
    EXPECT_EQ(table.setFieldTime("No", 1000).error(), "Type mismatch for field 'No'");
    ASSERT_TRUE(table.setFieldText("No", "7").ok());
    ASSERT_TRUE(table.setFieldText("Time", "12:34:56.789").ok());
    ASSERT_TRUE(table.setFieldText("Unit", "M\xA6\xB8 and more").ok());
    ASSERT_TRUE(table.post().ok());
    EXPECT_EQ(table.post().error(), "Dataset not in edit or insert mode");
    EXPECT_EQ(table.rowCount(), 1);
    EXPECT_EQ(table.fieldText(0, "No"), "7");
    EXPECT_EQ(table.records().intValue(0, table.fieldIndex("Time")), 45296789);
    EXPECT_EQ(table.fieldText(0, "Unit"), "M\xA6\xB8 and ") << "cut to the field's 8 bytes";
    EXPECT_EQ(table.fieldText(0, "Value"), "") << "unset fields are NULL";
}

TEST(FieldText, ValuesThatCannotBeDatesShowBlank) {
    using px::FieldType;
    for (double bad : std::vector<double>{std::nan(""), INFINITY, -INFINITY, 1e300, -1e300})
        EXPECT_EQ(displayText(FieldType::Timestamp, px::Value::timestamp(bad)), "") << bad;
    EXPECT_EQ(displayText(FieldType::Number, px::Value(std::nan(""))), "");
    EXPECT_EQ(displayText(FieldType::Currency, px::Value(INFINITY)), "");
    EXPECT_EQ(displayText(FieldType::Date, px::Value::date(2'000'000'000)), "");
    EXPECT_EQ(displayText(FieldType::Number, px::Value(2.5)), "2.5");
    EXPECT_EQ(displayText(FieldType::Currency, px::Value(2.5)), "2.50");
    // A time written into a timestamp field reads back as that time of day.
    EXPECT_EQ(displayText(FieldType::Timestamp, px::Value::timestamp(3723004.0)),
              timeOfDayText(3723004));
}

// Stored bit patterns no engine writes (NaN, infinities, 1e300) reach no integer conversion on
// any path: the grid text, the value's own text, the copy. The sanitizer build checks the
// conversions themselves.
TEST(FieldText, DamagedNumbersFromAFileShowBlank) {
    using px::FieldType;
    QTemporaryDir dir;
    const QString path = dir.filePath("odd.db");
    const std::vector<px::FieldDef> fields = {{"No", FieldType::Long, 4},
                                              {"At", FieldType::Timestamp, 8},
                                              {"N", FieldType::Number, 8},
                                              {"D", FieldType::Date, 4}};
    ASSERT_TRUE(px::writeTable(path, fields,
                               {{px::Value(std::int32_t{1}), px::Value::timestamp(1000.0),
                                 px::Value(1.0), px::Value::date(1)}})
                    .ok());
    QByteArray b = fileBytes(path);
    const int rec = px::readTableInfo(path).value().headerSize + 6;
    // Stored doubles flip the sign bit of positive values, every bit of negative ones.
    auto stored = [](double d) {
        auto u = std::bit_cast<std::uint64_t>(d);
        u = (u >> 63) ? ~u : u ^ (std::uint64_t{1} << 63);
        QByteArray out(8, '\0');
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<char>(u >> (56 - 8 * i));
        return out;
    };
    const QByteArray good = b;
    for (const double bad : std::vector<double>{std::nan(""), INFINITY, -INFINITY, 1e300, -1e300}) {
        b = good;
        b.replace(rec + 4, 8, stored(bad));
        b.replace(rec + 12, 8, stored(bad));
        b.replace(rec + 20, 4, QByteArray("\xFF\xFF\xFF\xFF", 4)); // day 2^31 - 1
        ASSERT_TRUE(putFile(path, b));
        ReadingsTable table;
        table.setTableName(path);
        ASSERT_TRUE(table.open().ok());
        EXPECT_EQ(table.fieldText(0, "No"), "1");
        EXPECT_EQ(table.fieldText(0, "At"), "") << bad;
        // A number may be as large as it likes; one that is no number shows blank.
        EXPECT_EQ(table.fieldText(0, "N"),
                  std::isfinite(bad) ? (bad > 0 ? "1e+300" : "-1e+300") : "")
            << bad;
        EXPECT_EQ(table.fieldText(0, "D"), "");
        for (int f = 1; f < 4; ++f)
            (void)table.records().value(0, f).toText();
        // What shows blank is saved blank: a value that is no number does not refuse the copy.
        // A time before the first day cannot be stored at all and is refused by name.
        const QString copy = dir.filePath("copy.db");
        const Status s = saveKeyedCopy(table, copy);
        table.close();
        if (bad == -1e300) {
            ASSERT_TRUE(failsWith(s, "is not a valid"));
            continue;
        }
        ASSERT_TRUE(s.ok()) << bad << ": " << s.error().toStdString();
        ReadingsTable saved;
        saved.setTableName(copy);
        ASSERT_TRUE(saved.open().ok());
        EXPECT_EQ(saved.fieldText(0, "No"), "1");
        EXPECT_EQ(saved.fieldText(0, "N"), std::isfinite(bad) ? "1e+300" : "") << bad;
        if (!std::isfinite(bad)) {
            EXPECT_TRUE(saved.records().isNull(0, saved.fieldIndex("N"))) << bad;
            EXPECT_TRUE(saved.records().isNull(0, saved.fieldIndex("At"))) << bad;
        }
        saved.close();
    }
}

// The one way a reading becomes a record, and back: recording, the journal's recovery and the
// journal itself rely on the two agreeing.
TEST(ReadingRecords, AppendAndReadBack) {
    ReadingsTable table;
    table.openScratch(readingsFields());
    const Reading timed{7, 45296789, "-1.23", "G\xA6\xB8", "IR:5000V 1000G\xA6\xB8", "COMP:GOOD"};
    const Reading untimed{8, std::nullopt, "L234", "V", "DCV  600V", "Continuous"};
    for (const Reading& r : {timed, untimed})
        ASSERT_TRUE(table.appendReading(r).ok());
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.readingAt(0), timed);
    EXPECT_EQ(table.readingAt(1), untimed);
    EXPECT_EQ(table.fieldText(1, "Time"), "");
    EXPECT_FALSE(table.readingAt(2).has_value());
    EXPECT_FALSE(table.readingAt(-1).has_value());
}

TEST(ReadingRecords, ATableThatCannotTakeTheReadingKeepsNothing) {
    const Reading r{1, 1000, "1.0", "V", "DCV  600V", "Continuous"};
    ReadingsTable closed;
    const Status s = closed.appendReading(r);
    EXPECT_EQ(s.error(), ReadingsTable::closedMessage());

    // The stored table's names are not the live table's: nothing is appended, and its records
    // are no readings to journal.
    ReadingsTable store;
    store.openScratch(readingsFields(true));
    const Status named = store.appendReading(r);
    EXPECT_EQ(named.error(), "Field 'Value' not found");
    EXPECT_EQ(store.rowCount(), 0);
    store.appendLoaded({px::Value(std::int32_t{1}), px::Value::timeOfDay(5), px::Value("x"),
                        px::Value(), px::Value(), px::Value()});
    EXPECT_FALSE(store.readingAt(0).has_value());

    // A number that does not fit the field fails before the record is posted.
    ReadingsTable shortNo;
    shortNo.openScratch({{"No", px::FieldType::Short, 2},
                         {"Time", px::FieldType::Time, 4},
                         {"Value", px::FieldType::Alpha, 8},
                         {"Unit", px::FieldType::Alpha, 8},
                         {"V_Range", px::FieldType::Alpha, 24},
                         {"I_Range", px::FieldType::Alpha, 16}});
    EXPECT_FALSE(shortNo.appendReading(Reading{40000, 0, "1", "V", "", ""}).ok());
    EXPECT_EQ(shortNo.rowCount(), 0);
    ASSERT_TRUE(shortNo.appendReading(Reading{4, 0, "1", "V", "", ""}).ok());
    EXPECT_EQ(shortNo.readingAt(0)->no, 4);
}

// A record loaded from its stored bytes holds what the same record decoded field by field
// holds: texts cut at their first zero byte, NULL only when every byte is zero.
TEST(RecordStoreLoading, StoredBytesHoldWhatTheirDecodedValuesHold) {
    const std::vector<px::FieldDef> fields = {{"Text", px::FieldType::Alpha, 4},
                                              {"No", px::FieldType::Long, 4},
                                              {"Time", px::FieldType::Time, 4},
                                              {"Num", px::FieldType::Number, 8}};
    const QByteArray rest("\x80\x00\x00\x07\x80\x00\x01\xF4\xC0\x24\x00\x00\x00\x00\x00\x00", 16);
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"a text", QByteArray("ab\0\0", 4) + rest},
        {"a text filling its field", QByteArray("abcd") + rest},
        {"a two-byte character", QByteArray("\xA6\xB8\0\0", 4) + rest},
        {"every byte zero", QByteArray(20, '\0')},
        {"a zero, then bytes", QByteArray("\0x\0\0", 4) + rest},
        {"bytes after the zero", QByteArray("a\0yz", 4) + rest},
    };
    RecordStore stored, decoded;
    stored.reset(fields);
    decoded.reset(fields);
    for (const auto& [what, bytes] : cases) {
        const auto* raw = reinterpret_cast<const unsigned char*>(bytes.constData());
        stored.appendStored(raw);
        px::Record rec;
        int at = 0;
        for (const px::FieldDef& f : fields) {
            rec.push_back(px::codec::decodeField(f, raw + at));
            at += px::storageSize(f);
        }
        decoded.append(rec);
    }
    ASSERT_EQ(stored.rowCount(), cases.size());
    for (std::size_t row = 0; row < cases.size(); ++row) {
        SCOPED_TRACE(cases[row].first);
        for (int f = 0; f < static_cast<int>(fields.size()); ++f) {
            EXPECT_EQ(stored.isNull(row, f), decoded.isNull(row, f)) << f;
            EXPECT_EQ(stored.value(row, f), decoded.value(row, f)) << f;
        }
    }
    EXPECT_TRUE(stored.isNull(3, 0));
    EXPECT_FALSE(stored.isNull(4, 0));
    EXPECT_EQ(stored.textValue(5, 0), "a");
}
