#include "support/table_files.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace kx;
using namespace kx::px;

namespace {

void put16(QByteArray& b, int at, int v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}

class ParadoxDamage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        good = dir.filePath("good.db");
        WriteOptions o;
        o.blockSize = 1024;
        std::vector<Record> rows;
        for (int i = 0; i < 100; ++i)
            rows.push_back({Value(std::int32_t(i)), Value::timeOfDay(i), Value("text\xA6\xB8"),
                            Value(i * 0.5), Value::decimal("12.5"), Value(i % 2 == 0)});
        const std::vector<FieldDef> fields = {
            {"No", FieldType::Long, 4},     {"Time", FieldType::Time, 4},
            {"Text", FieldType::Alpha, 40}, {"Num", FieldType::Number, 8},
            {"Dec", FieldType::Bcd, 3},     {"Flag", FieldType::Logical, 1}};
        ASSERT_TRUE(writeKeyedTable(good, fields, rows, o).ok());
        bytes = fileBytes(good);
        Result<TableInfo> info = readTableInfo(good);
        ASSERT_TRUE(info.ok());
        headerSize = info.value().headerSize;
        ASSERT_GE(info.value().fileBlocks, 3);
    }

    // Writes the damaged copy beside the good index and returns the reader's message (empty
    // if it was accepted).
    QString refusal(const QByteArray& damaged) {
        const QString path = dir.filePath("bad.db");
        EXPECT_TRUE(putFile(path, damaged));
        EXPECT_TRUE(putFile(dir.filePath("bad.px"), fileBytes(indexPathFor(good))));
        Result<TableReader> r = TableReader::open(path);
        if (r.ok())
            return {};
        EXPECT_TRUE(r.error().contains("bad.db")) << r.error().toStdString();
        return r.error();
    }

    QTemporaryDir dir;
    QString good;
    QByteArray bytes;
    int headerSize = 0;
};

} // namespace

TEST_F(ParadoxDamage, RefusedWithAMessage) {
    EXPECT_TRUE(refusal(bytes).isEmpty());
    EXPECT_TRUE(refusal(QByteArray()).contains("shorter than a table header"));
    EXPECT_TRUE(refusal(bytes.left(100)).contains("header size"));
    // Cut inside the last block: refused only when something the block holds is missing.
    const int thirdBlock = headerSize + 2 * 1024;
    const int recordsEnd = thirdBlock + 6 + 13 * 74; // 13 records of 74 bytes a block
    EXPECT_TRUE(refusal(bytes.left(thirdBlock)).contains("block 3 lies beyond the end"));
    EXPECT_TRUE(refusal(bytes.left(thirdBlock + 3)).contains("block 3 lies beyond the end"));
    EXPECT_TRUE(refusal(bytes.left(thirdBlock + 500)).contains("records of block 3 run past"));
    EXPECT_TRUE(refusal(bytes.left(recordsEnd - 1)).contains("records of block 3 run past"));

    QByteArray loop = bytes;
    put16(loop, headerSize + 1024, 1); // block 2 leads back to block 1
    EXPECT_TRUE(refusal(loop).contains("loops")) << refusal(loop).toStdString();

    QByteArray outOfRange = bytes;
    put16(outOfRange, headerSize, 60000);
    EXPECT_TRUE(refusal(outOfRange).contains("beyond the end"));

    QByteArray count = bytes;
    count[6] = '\xff';
    count[7] = '\xff';
    count[8] = '\xff';
    count[9] = '\x7f';
    EXPECT_TRUE(refusal(count).contains("record count")) << refusal(count).toStdString();
    count = bytes;
    count[6] = static_cast<char>(count[6] - 1);
    EXPECT_TRUE(refusal(count).contains("the blocks hold"));

    QByteArray sizes = bytes;
    put16(sizes, 0, 61);
    EXPECT_TRUE(refusal(sizes).contains("add up"));
    sizes = bytes;
    sizes[0x78 + 5] = 41; // Alpha 40 -> 41
    EXPECT_TRUE(refusal(sizes).contains("add up"));
    sizes = bytes;
    sizes[0x78 + 1] = 3; // Long of 3 bytes
    EXPECT_TRUE(refusal(sizes).contains("size 3"));

    QByteArray fields = bytes;
    put16(fields, 0x21, 65535);
    EXPECT_TRUE(refusal(fields).contains("number of fields"));
    put16(fields, 0x21, 255);
    EXPECT_FALSE(refusal(fields).isEmpty());

    QByteArray blockSize = bytes;
    blockSize[5] = 5;
    EXPECT_TRUE(refusal(blockSize).contains("block size"));

    QByteArray addSize = bytes;
    put16(addSize, headerSize + 4, 1000);
    EXPECT_TRUE(refusal(addSize).contains("claims"));

    QByteArray names = bytes;
    for (int i = 0x78 + 12 + 4 + 24 + 261; i < headerSize; ++i)
        names[i] = 'x';
    EXPECT_TRUE(refusal(names).contains("name of field"));

    QByteArray encrypted = bytes;
    encrypted[0x5C] = 1;
    EXPECT_TRUE(refusal(encrypted).contains("encrypted"));

    EXPECT_TRUE(refusal(fileBytes(indexPathFor(good))).contains("not a table file"));
    const Result<TableReader> missing = TableReader::open(dir.filePath("none.db"));
    EXPECT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().contains("none.db"));
}

// Random damage to a valid table and its index must give a clean refusal or a readable table,
// never a crash, a hang or a read outside the file.
TEST_F(ParadoxDamage, MutatedCopiesNeverCrash) {
    std::mt19937 rng(20261209);
    const QByteArray px = fileBytes(indexPathFor(good));
    const QString path = dir.filePath("m.db");
    // Damaged tables keep their good index, damaged indexes sit beside the good table.
    ASSERT_TRUE(putFile(dir.filePath("m.px"), px));
    const QString pxPath = dir.filePath("i.px");
    ASSERT_TRUE(putFile(dir.filePath("i.db"), bytes));
    int accepted = 0;
    for (int iter = 0; iter < 400; ++iter) {
        QByteArray b = (iter % 4 == 3) ? px : bytes;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            int at = 0;
            switch (rng() % 3) {
            case 0: // fixed header
                at = static_cast<int>(rng() % 0x80);
                break;
            case 1: // a block header
                at = headerSize + static_cast<int>(rng() % 4) * 1024 + static_cast<int>(rng() % 6);
                break;
            default:
                at = static_cast<int>(rng() % static_cast<unsigned>(b.size()));
            }
            if (at < b.size())
                b[at] = static_cast<char>(rng());
        }
        if (rng() % 5 == 0)
            b.truncate(static_cast<int>(rng() % static_cast<unsigned>(b.size())));
        if (iter % 4 == 3) {
            ASSERT_TRUE(putFile(pxPath, b));
            (void)readPrimaryIndex(pxPath);
            const Result<TableReader> withIndex = TableReader::open(dir.filePath("i.db"));
            EXPECT_TRUE(withIndex.ok() || !withIndex.error().isEmpty());
            continue;
        }
        ASSERT_TRUE(putFile(path, b));
        Result<TableReader> r = TableReader::open(path);
        if (!r.ok()) {
            EXPECT_FALSE(r.error().isEmpty());
            continue;
        }
        ++accepted;
        std::int64_t n = 0;
        const Status s = r.value().forEach([&](const Record& rec) {
            for (const Value& v : rec)
                (void)v.toText();
            ++n;
            return true;
        });
        if (s.ok()) {
            EXPECT_EQ(n, r.value().info().recordCount);
        }
    }
    EXPECT_GT(accepted, 0);
}

static Value::Kind expectedKind(FieldType t) {
    switch (t) {
    case FieldType::Alpha:
    case FieldType::Memo:
        return Value::Kind::Text;
    case FieldType::Date:
        return Value::Kind::Date;
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
        return Value::Kind::Integer;
    case FieldType::Currency:
    case FieldType::Number:
        return Value::Kind::Number;
    case FieldType::Logical:
        return Value::Kind::Logical;
    case FieldType::Time:
        return Value::Kind::Time;
    case FieldType::Timestamp:
        return Value::Kind::Timestamp;
    case FieldType::Bcd:
        return Value::Kind::Decimal;
    case FieldType::Bytes:
        return Value::Kind::Bytes;
    default:
        return Value::Kind::Null;
    }
}

TEST(ParadoxValues, AnyStoredBytesDecodeToTheirFieldsKind) {
    const std::vector<FieldDef> fields = {
        {"A", FieldType::Alpha, 20},    {"D", FieldType::Date, 4},     {"S", FieldType::Short, 2},
        {"L", FieldType::Long, 4},      {"C", FieldType::Currency, 8}, {"N", FieldType::Number, 8},
        {"B", FieldType::Logical, 1},   {"M", FieldType::Memo, 20},    {"T", FieldType::Time, 4},
        {"@", FieldType::Timestamp, 8}, {"+", FieldType::AutoInc, 4},  {"#", FieldType::Bcd, 40},
        {"Y", FieldType::Bytes, 9}};
    std::mt19937 rng(5);
    unsigned char buf[32];
    for (int i = 0; i < 3000; ++i) {
        for (unsigned char& c : buf)
            c = static_cast<unsigned char>(rng());
        if (i % 3 == 0)
            std::memset(buf, 0xFF, sizeof buf);
        for (const FieldDef& f : fields) {
            const Value v = kx::px::codec::decodeField(f, buf);
            // Whatever the bytes, a value reads as NULL or as its field type's kind.
            EXPECT_TRUE(v.isNull() || v.kind() == expectedKind(f.type))
                << typeName(f.type).toStdString() << " read as kind " << int(v.kind());
            (void)v.toText();
        }
    }
}
