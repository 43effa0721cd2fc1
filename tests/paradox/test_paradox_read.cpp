// Tables and indexes as other engines write them: the fixture tables, tables and indexes
// written by pxlib, small files that end inside their last block and a version 3 layout.
// Whatever can be read opens; only what is really missing is refused.
#include "paradox_test_support.h"
#include "px_oracle.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QFile>

#include <cstring>
#include <optional>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

std::vector<Record> rowsOf(const char* name) {
    Result<std::vector<Record>> r = readTable(fixture(name));
    EXPECT_TRUE(succeeds(r)) << name;
    return r.ok() ? r.value() : std::vector<Record>{};
}

// 24-byte records: 42 to a 1 KB block.
const std::vector<FieldDef> kFields = {{"No", FieldType::Long, 4}, {"Text", FieldType::Alpha, 20}};

} // namespace

TEST(ParadoxFixtures, HeadersAndIndex) {
    KX_NEED_FIXTURES();
    Result<TableInfo> info = readTableInfo(fixture("time.db"));
    ASSERT_TRUE(succeeds(info));
    EXPECT_EQ(info.value().version, 5);
    EXPECT_EQ(info.value().blockSize, 2048);
    EXPECT_EQ(info.value().fields, (std::vector<FieldDef>{{"Time", FieldType::Time, 4}}));
    EXPECT_EQ(readTableInfo(fixture("date4.db")).value().version, 4);

    info = readTableInfo(fixture("long.db"));
    ASSERT_TRUE(succeeds(info));
    EXPECT_TRUE(info.value().keyed);
    EXPECT_EQ(info.value().keyFieldCount, 1);
    EXPECT_EQ(info.value().fields,
              (std::vector<FieldDef>{{"Id", FieldType::AutoInc, 4}, {"LONG", FieldType::Long, 4}}));
    Result<PrimaryIndex> px = readPrimaryIndex(fixture("long.px"));
    ASSERT_TRUE(succeeds(px));
    EXPECT_EQ(px.value().levelCount, 1);
    ASSERT_EQ(px.value().levels.size(), 1u);
    ASSERT_EQ(px.value().levels[0].size(), 1u);
    EXPECT_EQ(px.value().levels[0][0].block, 1u);
    EXPECT_EQ(px.value().levels[0][0].count, 3u);
    EXPECT_EQ(px.value().levels[0][0].key, storedLong(1));
}

TEST(ParadoxFixtures, ValuesOfEveryKind) {
    KX_NEED_FIXTURES();
    struct Cell {
        const char* table;
        std::size_t row, field;
        const char* text; // nullptr: NULL, shown as nothing
    };
    const Cell cells[] = {
        {"time.db", 0, 0, "01:00:01"},
        {"time.db", 1, 0, nullptr},
        {"time.db", 2, 0, "03:00:03"},
        {"long.db", 0, 1, "1"},
        {"long.db", 1, 1, "2"},
        {"memo.db", 0, 1, ""}, // memo text is not kept
        {"memo.db", 1, 1, ""},
        {"memo.db", 1, 0, "2"},
        {"date7.db", 3, 0, nullptr},
        {"date7.db", 3, 1, "10:00:00"},
        {"date7.db", 4, 1, nullptr},
        {"logical.db", 0, 0, "True"},
        {"logical.db", 1, 0, "False"},
        {"timestamp.db", 0, 0, nullptr},
        {"timestamp.db", 1, 0, "2020-02-01 01:00:01"},
        {"bcd.db", 0, 0, "1.23"},
        {"bcd.db", 0, 1, "1"},
        {"bcd.db", 1, 0, "-1.23"},
        {"bcd.db", 1, 1, "-1"},
        {"bcd.db", 2, 1, nullptr},
    };
    for (const Cell& c : cells) {
        const auto rows = rowsOf(c.table);
        ASSERT_LT(c.row, rows.size()) << c.table;
        const Value& v = rows[c.row].at(c.field);
        EXPECT_EQ(v.isNull(), c.text == nullptr) << c.table << " " << c.row << "/" << c.field;
        EXPECT_EQ(v.toText(), c.text ? c.text : "") << c.table << " " << c.row << "/" << c.field;
    }
    for (const char* name : {"date4.db", "date5.db", "date7.db"}) {
        const auto rows = rowsOf(name);
        ASSERT_GE(rows.size(), 3u) << name;
        EXPECT_EQ(rows[0][0].toDate(), QDate(2018, 1, 1)) << name;
        EXPECT_EQ(rows[0][0].toText(), "2018-01-01") << name;
        EXPECT_EQ(rows[1][0].toText(), "2018-02-01") << name;
        EXPECT_EQ(rows[2][0].toText(), "2018-01-02") << name;
    }
    const std::pair<const char*, std::size_t> counts[] = {
        {"memo.db", 2}, {"date7.db", 5}, {"bcd.db", 3}, {"bytes.db", 1}};
    for (const auto& [name, n] : counts)
        EXPECT_EQ(rowsOf(name).size(), n) << name;
    EXPECT_EQ(rowsOf("time.db")[0][0].msecs(), 3601000);
    EXPECT_EQ(rowsOf("time.db")[0][0].kind(), Value::Kind::Time);
    EXPECT_EQ(rowsOf("memo.db")[0][1].kind(), Value::Kind::Text);
    const auto ids = rowsOf("long.db");
    for (std::size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(ids[i][0].toInt(), static_cast<int>(i) + 1);
    EXPECT_EQ(rowsOf("bytes.db")[0][0].rawBytes().left(5), QByteArray("1\0"
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
            for (std::size_t f = 0; f < rows[r].size(); ++f)
                EXPECT_EQ(pxoracle::neutral(rows[r][f]), ref.rows[r][f]) << name << " row " << r;
        }
    }
}

TEST(OtherEngines, TablesWrittenByPxlib) {
    QTemporaryDir dir;
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
    ASSERT_TRUE(succeeds(r));
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

// pxlib builds its own index, with one level or more: our reader takes every one of them.
TEST(OtherEngines, PxlibKeyedTablesOpenWithTheirIndex) {
    QTemporaryDir dir;
    for (int n : {0, 1, 85, 86, 3000, 40000}) {
        const QString table = dir.filePath(QStringLiteral("p%1.db").arg(n));
        const QString index = dir.filePath(QStringLiteral("p%1.px").arg(n));
        std::vector<std::vector<std::string>> rows;
        for (int i = 1; i <= n; ++i)
            rows.push_back({std::to_string(i * 2), "t" + std::to_string(i)});
        std::string error;
        ASSERT_TRUE(pxoracle::writeKeyed(table, index, kFields, rows, &error)) << error;
        const Result<TableReader> r = TableReader::open(table);
        ASSERT_TRUE(succeeds(r)) << n;
        EXPECT_EQ(r.value().info().recordCount, n);
        EXPECT_TRUE(r.value().info().keyed);
        const Result<PrimaryIndex> px = readPrimaryIndex(index);
        ASSERT_TRUE(succeeds(px));
        EXPECT_EQ(indexedRecords(px.value()), n);
    }
}

TEST(OtherEngines, IndexEndingInsideItsLastBlockOpens) {
    QTemporaryDir dir;
    const QString table = dir.filePath("old.db");
    const QString index = dir.filePath("old.px");
    ASSERT_TRUE(writeKeyedTable(table, kFields, numberedRows(5), blocks(2048)).ok());
    const QByteArray whole = fileBytes(index);
    // As such engines write it: 2048 header bytes, 2 KB blocks, one block in use, and the
    // file ending 1024 bytes into that block, after the one entry the block holds.
    ASSERT_EQ(le16(whole, 2), 2048);
    ASSERT_EQ(whole[5], 2);
    ASSERT_EQ(le16(whole, 0x0C), 1);
    ASSERT_EQ(whole.size(), 4096);
    const int entryEnd = 2048 + 6 + 10; // block header and one entry of a Long key

    const std::pair<int, const char*> cuts[] = {
        {3072, nullptr}, // nullptr: opens
        {entryEnd, nullptr},
        {entryEnd - 1, "entries of block 1 run past the end"},
        {2048 + 4, "block 1 lies beyond the end"}};
    for (const auto& [size, refusal] : cuts) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(putFile(index, whole.left(size)));
        if (!refusal) {
            ASSERT_TRUE(succeeds(readPrimaryIndex(index)));
            const Result<TableReader> r = TableReader::open(table);
            ASSERT_TRUE(succeeds(r));
            EXPECT_EQ(r.value().info().recordCount, 5);
            EXPECT_TRUE(pxoracle::read(table, index).error.empty()) << "pxlib reads it too";
        } else {
            EXPECT_TRUE(failsWith(readPrimaryIndex(index), refusal));
            EXPECT_FALSE(TableReader::open(table).ok());
        }
    }
}

TEST(OtherEngines, TableEndingInsideItsLastBlockOpens) {
    QTemporaryDir dir;
    const QString table = dir.filePath("short.db");
    ASSERT_TRUE(writeTable(table, kFields, numberedRows(100), blocks(1024)).ok());
    const QByteArray whole = fileBytes(table);
    const int headerSize = readTableInfo(table).value().headerSize;
    const int lastCount = 100 - 2 * 42; // 16 in the third block
    const int lastEnd = headerSize + 2 * 1024 + 6 + lastCount * 24;
    ASSERT_EQ(whole.size(), headerSize + 3 * 1024);

    ASSERT_TRUE(putFile(table, whole.left(lastEnd)));
    const Result<std::vector<Record>> rows = readTable(table);
    ASSERT_TRUE(succeeds(rows));
    ASSERT_EQ(rows.value().size(), 100u);
    EXPECT_EQ(rows.value().back()[1].toText(), "row 99");

    ASSERT_TRUE(putFile(table, whole.left(lastEnd - 1)));
    EXPECT_TRUE(failsWith(TableReader::open(table), "records of block 3 run past the end"));
}

TEST(OtherEngines, VersionThreeLayout) {
    // Hand-made version 3 table: field descriptors at 0x58, no code page, 79-byte table name.
    QByteArray h(0x800, '\0');
    put16(h, 0x00, 6);     // record size
    put16(h, 0x02, 0x800); // header size
    h[0x04] = 2;
    h[0x05] = 1; // 1 KB blocks
    h[0x06] = 2; // two records
    for (int at : {0x0A, 0x0C, 0x0E, 0x10})
        put16(h, at, 1);
    put16(h, 0x21, 2);
    h[0x39] = 3;
    h[0x58] = 0x01; // Alpha 4
    h[0x59] = 4;
    h[0x5A] = 0x03; // Short
    h[0x5B] = 2;
    std::memcpy(h.data() + 0x5C + 4 + 8 + 79, "Code\0Qty\0", 9);
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
    ASSERT_TRUE(succeeds(r));
    EXPECT_EQ(r.value().info().version, 3);
    EXPECT_EQ(r.value().info().codePage, 0);
    EXPECT_EQ(r.value().info().fields[1], (FieldDef{"Qty", FieldType::Short, 2}));
    Result<std::vector<Record>> rows = r.value().readAll();
    ASSERT_TRUE(succeeds(rows));
    ASSERT_EQ(rows.value().size(), 2u);
    EXPECT_EQ(rows.value()[0][0].toText(), "ab");
    EXPECT_EQ(rows.value()[0][1].toInt(), 5);
    EXPECT_EQ(rows.value()[1][1].toInt(), -2);
}

// The record count a header states is read from the first bytes alone: a header that cannot
// be read, or states a negative count, gives none.
TEST(HeaderRecordCount, ReadFromTheFirstBytesAlone) {
    QTemporaryDir dir;
    const QString table = dir.filePath("t.db");
    ASSERT_TRUE(writeTable(table, kFields, numberedRows(100), blocks(1024)).ok());
    const QByteArray whole = fileBytes(table);
    auto withCount = [&](std::uint32_t n) {
        QByteArray b = whole;
        codec::put32(reinterpret_cast<unsigned char*>(b.data()) + 0x06, n);
        return b;
    };
    struct Case {
        const char* what;
        std::optional<QByteArray> bytes; // none: no file
        std::optional<std::int64_t> count;
    };
    const Case cases[] = {
        {"a whole table", whole, 100},
        {"a header alone", whole.left(10), 100},
        {"a count past the blocks", withCount(5'000'000), 5'000'000},
        {"a negative count", withCount(0x80000000u), std::nullopt},
        {"cut inside the count", whole.left(9), std::nullopt},
        {"empty", QByteArray(), std::nullopt},
        {"missing", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("case.db"));
        QFile::remove(path);
        if (c.bytes) {
            ASSERT_TRUE(putFile(path, *c.bytes)) << c.what;
        }
        EXPECT_EQ(codec::headerRecordCount(path), c.count) << c.what;
    }
}
