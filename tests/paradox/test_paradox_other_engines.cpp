// Tables and indexes as other engines write them: small files that end inside their last block,
// and keyed tables with the index pxlib builds. Whatever can be read opens; only what is
// really missing is refused.
#include "px_oracle.h"
#include "support/table_files.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;
using namespace kx::px;

namespace {

std::vector<Record> numbered(int n) {
    std::vector<Record> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back(
            {Value(std::int32_t(i)), Value(QByteArray("reading ") + QByteArray::number(i))});
    return rows;
}

const std::vector<FieldDef> kFields = {{"No", FieldType::Long, 4}, {"Text", FieldType::Alpha, 20}};

int le16(const QByteArray& b, int at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

} // namespace

TEST(OtherEngines, IndexEndingInsideItsLastBlockOpens) {
    QTemporaryDir dir;
    const QString table = dir.filePath("old.db");
    const QString index = dir.filePath("old.px");
    ASSERT_TRUE(writeKeyedTable(table, kFields, numbered(5), blocks(2048)).ok());
    const QByteArray whole = fileBytes(index);
    // As such engines write it: 2048 header bytes, 2 KB blocks, one block in use, and the
    // file ending 1024 bytes into that block, after the one entry the block holds.
    ASSERT_EQ(le16(whole, 2), 2048);
    ASSERT_EQ(whole[5], 2);
    ASSERT_EQ(le16(whole, 0x0C), 1);
    ASSERT_EQ(whole.size(), 4096);
    const int entryEnd = 2048 + 6 + 10; // block header and one entry of a Long key

    struct Cut {
        int size;
        const char* refusal; // nullptr: opens
    };
    for (const Cut& c : {Cut{3072, nullptr}, Cut{entryEnd, nullptr},
                         Cut{entryEnd - 1, "entries of block 1 run past the end"},
                         Cut{2048 + 4, "block 1 lies beyond the end"}}) {
        ASSERT_TRUE(putFile(index, whole.left(c.size)));
        const Result<PrimaryIndex> px = readPrimaryIndex(index);
        const Result<TableReader> r = TableReader::open(table);
        if (!c.refusal) {
            ASSERT_TRUE(px.ok()) << c.size << ": " << px.error().toStdString();
            ASSERT_TRUE(r.ok()) << c.size << ": " << r.error().toStdString();
            EXPECT_EQ(r.value().info().recordCount, 5);
            EXPECT_TRUE(pxoracle::read(table, index).error.empty()) << "pxlib reads it too";
        } else {
            ASSERT_FALSE(px.ok()) << c.size;
            EXPECT_TRUE(px.error().contains(c.refusal)) << px.error().toStdString();
            EXPECT_FALSE(r.ok()) << c.size;
        }
    }
}

TEST(OtherEngines, TableEndingInsideItsLastBlockOpens) {
    QTemporaryDir dir;
    const QString table = dir.filePath("short.db");
    ASSERT_TRUE(writeTable(table, kFields, numbered(100), blocks(1024)).ok());
    const QByteArray whole = fileBytes(table);
    const Result<TableInfo> info = readTableInfo(table);
    ASSERT_TRUE(info.ok());
    const int perBlock = (1024 - 6) / 24;     // 42 records of 24 bytes
    const int lastCount = 100 - 2 * perBlock; // 16 in the third block
    const int lastEnd = info.value().headerSize + 2 * 1024 + 6 + lastCount * 24;
    ASSERT_EQ(whole.size(), info.value().headerSize + 3 * 1024);

    ASSERT_TRUE(putFile(table, whole.left(lastEnd)));
    const Result<std::vector<Record>> rows = readTable(table);
    ASSERT_TRUE(rows.ok()) << rows.error().toStdString();
    ASSERT_EQ(rows.value().size(), 100u);
    EXPECT_EQ(rows.value().back()[1].toText(), "reading 100");

    ASSERT_TRUE(putFile(table, whole.left(lastEnd - 1)));
    const Result<TableReader> cut = TableReader::open(table);
    ASSERT_FALSE(cut.ok());
    EXPECT_TRUE(cut.error().contains("records of block 3 run past the end"))
        << cut.error().toStdString();
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
        ASSERT_TRUE(r.ok()) << n << ": " << r.error().toStdString();
        EXPECT_EQ(r.value().info().recordCount, n);
        EXPECT_TRUE(r.value().info().keyed);
        const Result<PrimaryIndex> px = readPrimaryIndex(index);
        ASSERT_TRUE(px.ok()) << px.error().toStdString();
        EXPECT_EQ(indexedRecords(px.value()), n);
    }
}
