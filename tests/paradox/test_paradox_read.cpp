#include "px_oracle.h"
#include "support/table_files.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace kx;
using namespace kx::px;

namespace {

std::vector<Record> rowsOf(const char* name) {
    Result<std::vector<Record>> r = readTable(fixture(name));
    EXPECT_TRUE(r.ok()) << r.error().toStdString();
    return r.ok() ? r.value() : std::vector<Record>{};
}

QByteArray textAt(const std::vector<Record>& rows, std::size_t r, std::size_t f) {
    return rows.at(r).at(f).toText();
}

} // namespace

TEST(ParadoxFixtures, TimeWithNull) {
    KX_NEED_FIXTURES();
    Result<TableInfo> info = readTableInfo(fixture("time.db"));
    ASSERT_TRUE(info.ok()) << info.error().toStdString();
    EXPECT_EQ(info.value().version, 5);
    EXPECT_EQ(info.value().blockSize, 2048);
    ASSERT_EQ(info.value().fields.size(), 1u);
    EXPECT_EQ(info.value().fields[0], (FieldDef{"Time", FieldType::Time, 4}));
    const auto rows = rowsOf("time.db");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0].kind(), Value::Kind::Time);
    EXPECT_EQ(rows[0][0].msecs(), 3601000);
    EXPECT_EQ(textAt(rows, 0, 0), "01:00:01");
    EXPECT_TRUE(rows[1][0].isNull());
    EXPECT_EQ(textAt(rows, 1, 0), "");
    EXPECT_EQ(textAt(rows, 2, 0), "03:00:03");
}

TEST(ParadoxFixtures, KeyedLongWithIndex) {
    KX_NEED_FIXTURES();
    Result<TableInfo> info = readTableInfo(fixture("long.db"));
    ASSERT_TRUE(info.ok());
    EXPECT_TRUE(info.value().keyed);
    EXPECT_EQ(info.value().keyFieldCount, 1);
    EXPECT_EQ(info.value().fields[0], (FieldDef{"Id", FieldType::AutoInc, 4}));
    EXPECT_EQ(info.value().fields[1], (FieldDef{"LONG", FieldType::Long, 4}));
    const auto rows = rowsOf("long.db");
    ASSERT_EQ(rows.size(), 3u);
    double sum = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0].toInt(), static_cast<int>(i) + 1);
        sum += static_cast<double>(rows[i][0].toInt());
    }
    EXPECT_EQ(sum / 3, 2.0);
    EXPECT_EQ(rows[0][1].toInt(), 1);
    EXPECT_EQ(rows[1][1].toInt(), 2);

    Result<PrimaryIndex> px = readPrimaryIndex(fixture("long.px"));
    ASSERT_TRUE(px.ok()) << px.error().toStdString();
    EXPECT_EQ(px.value().levelCount, 1);
    ASSERT_EQ(px.value().levels.size(), 1u);
    ASSERT_EQ(px.value().levels[0].size(), 1u);
    EXPECT_EQ(px.value().levels[0][0].block, 1u);
    EXPECT_EQ(px.value().levels[0][0].count, 3u);
    EXPECT_EQ(px.value().levels[0][0].key, QByteArray::fromHex("80000001"));
}

TEST(ParadoxFixtures, MemoReadsAsEmptyText) {
    KX_NEED_FIXTURES();
    const auto rows = rowsOf("memo.db");
    ASSERT_EQ(rows.size(), 2u);
    for (const Record& r : rows) {
        EXPECT_EQ(r[1].kind(), Value::Kind::Text);
        EXPECT_EQ(r[1].toText(), "");
    }
    EXPECT_EQ(textAt(rows, 1, 0), "2");
}

TEST(ParadoxFixtures, DatesOfEveryVersion) {
    KX_NEED_FIXTURES();
    for (const char* name : {"date4.db", "date5.db", "date7.db"}) {
        const auto rows = rowsOf(name);
        ASSERT_GE(rows.size(), 3u) << name;
        EXPECT_EQ(textAt(rows, 0, 0), "2018-01-01") << name;
        EXPECT_EQ(textAt(rows, 1, 0), "2018-02-01") << name;
        EXPECT_EQ(textAt(rows, 2, 0), "2018-01-02") << name;
        EXPECT_EQ(rows[0][0].toDate(), QDate(2018, 1, 1));
    }
    EXPECT_EQ(readTableInfo(fixture("date4.db")).value().version, 4);
    const auto rows = rowsOf("date7.db");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_TRUE(rows[3][0].isNull());
    EXPECT_EQ(textAt(rows, 3, 1), "10:00:00");
    EXPECT_TRUE(rows[4][1].isNull());
}

TEST(ParadoxFixtures, OtherTypes) {
    KX_NEED_FIXTURES();
    auto rows = rowsOf("logical.db");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(textAt(rows, 0, 0), "True");
    EXPECT_EQ(textAt(rows, 1, 0), "False");

    rows = rowsOf("timestamp.db");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0][0].isNull());
    EXPECT_EQ(textAt(rows, 1, 0), "2020-02-01 01:00:01");

    rows = rowsOf("bcd.db");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(textAt(rows, 0, 0), "1.23");
    EXPECT_EQ(textAt(rows, 0, 1), "1");
    EXPECT_EQ(textAt(rows, 1, 0), "-1.23");
    EXPECT_EQ(textAt(rows, 1, 1), "-1");
    EXPECT_TRUE(rows[2][1].isNull());

    rows = rowsOf("bytes.db");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].rawBytes().left(5), QByteArray("1\0"
                                                        "2\0"
                                                        "3",
                                                        5));
}

TEST(ParadoxFixtures, AgreeWithPxlib) {
    KX_NEED_FIXTURES();
    for (const char* name :
         {"time.db", "long.db", "date5.db", "date7.db", "logical.db", "timestamp.db", "date4.db"}) {
        const pxoracle::Table ref = pxoracle::read(fixture(name));
        ASSERT_TRUE(ref.error.empty()) << name << ": " << ref.error;
        const auto rows = rowsOf(name);
        ASSERT_EQ(rows.size(), ref.rows.size()) << name;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (std::size_t f = 0; f < rows[r].size(); ++f) {
                EXPECT_EQ(pxoracle::neutral(rows[r][f]), ref.rows[r][f]) << name << " row " << r;
            }
        }
    }
}

TEST(ParadoxFixtures, TablesWrittenByPxlib) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<FieldDef> fields = {
        {"Name", FieldType::Alpha, 12},     {"Small", FieldType::Short, 2},
        {"Big", FieldType::Long, 4},        {"Price", FieldType::Currency, 8},
        {"Real", FieldType::Number, 8},     {"Flag", FieldType::Logical, 1},
        {"Day", FieldType::Date, 4},        {"At", FieldType::Time, 4},
        {"Stamp", FieldType::Timestamp, 8},
    };
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 500; ++i) {
        rows.push_back({"name" + std::to_string(i), std::to_string(i - 250),
                        std::to_string(i * 100003 - 7), std::to_string(i * 0.25),
                        std::to_string(-i * 1.5), i % 2 ? "1" : "0", std::to_string(737000 + i),
                        std::to_string(i * 1000 + 5), std::to_string(63716198401000.0 + i)});
    }
    rows.push_back(std::vector<std::string>(fields.size(), "<null>"));
    const QString path = dir.filePath("bypxlib.db");
    std::string err;
    ASSERT_TRUE(pxoracle::write(path, fields, rows, &err)) << err;

    Result<TableReader> r = TableReader::open(path);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().info().fields, fields);
    std::size_t n = 0;
    ASSERT_TRUE(r.value().forEach([&](const Record& rec) {
        for (std::size_t f = 0; f < rec.size(); ++f) {
            std::string want = rows[n][f];
            if (want != "<null>" &&
                (fields[f].type == FieldType::Currency || fields[f].type == FieldType::Number ||
                 fields[f].type == FieldType::Timestamp))
                want = pxoracle::neutral(Value(std::stod(want)));
            EXPECT_EQ(pxoracle::neutral(rec[f]), want) << "row " << n << " field " << f;
        }
        ++n;
        return true;
    }));
    EXPECT_EQ(n, rows.size());
}

TEST(ParadoxFixtures, VersionThreeLayout) {
    // Hand-made version 3 table: field descriptors at 0x58, no code page, 79-byte table name.
    QByteArray h(0x800, '\0');
    auto put16 = [&](int at, int v) {
        h[at] = static_cast<char>(v);
        h[at + 1] = static_cast<char>(v >> 8);
    };
    put16(0x00, 6);     // record size
    put16(0x02, 0x800); // header size
    h[0x04] = 2;
    h[0x05] = 1; // 1 KB blocks
    h[0x06] = 2; // two records
    put16(0x0A, 1);
    put16(0x0C, 1);
    put16(0x0E, 1);
    put16(0x10, 1);
    put16(0x21, 2);
    h[0x39] = 3;
    h[0x58] = 0x01; // Alpha 4
    h[0x59] = 4;
    h[0x5A] = 0x03; // Short
    h[0x5B] = 2;
    const int names = 0x5C + 4 + 8 + 79;
    std::memcpy(h.data() + names, "Code\0Qty\0", 9);
    QByteArray block(1024, '\0');
    block[4] = 6; // two records
    std::memcpy(block.data() + 6,
                "ab\0\0\x80\x05"
                "cd\0\0\x7f\xfe",
                12);
    QTemporaryDir dir;
    const QString path = dir.filePath("v3.db");
    ASSERT_TRUE(putFile(path, h + block));
    Result<TableReader> r = TableReader::open(path);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().info().version, 3);
    EXPECT_EQ(r.value().info().codePage, 0);
    EXPECT_EQ(r.value().info().fields[1], (FieldDef{"Qty", FieldType::Short, 2}));
    Result<std::vector<Record>> rows = r.value().readAll();
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows.value().size(), 2u);
    EXPECT_EQ(rows.value()[0][0].toText(), "ab");
    EXPECT_EQ(rows.value()[0][1].toInt(), 5);
    EXPECT_EQ(rows.value()[1][1].toInt(), -2);
}
