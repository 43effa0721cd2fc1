#include "paradox_test_support.h"
#include "px_oracle.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QFileInfo>

#include <algorithm>
#include <random>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

const std::vector<FieldDef> kWide = {{"Id", FieldType::Long, 4}, {"Pad", FieldType::Alpha, 96}};

std::vector<Record> wideRows(int n) {
    std::vector<Record> rows;
    rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        rows.push_back({Value(std::int32_t(i * 3 - n)), Value(QByteArray::number(i))});
    return rows;
}

// Checks every entry of the index against the table: leaf j points at data block j+1 with the
// block's record count and first key; upper entries hold the first key of their child block.
void checkIndex(const QString& dbPath, int expectLevels) {
    Result<TableReader> db = TableReader::open(dbPath);
    ASSERT_TRUE(db.ok()) << db.error().toStdString();
    std::vector<QByteArray> keys;
    ASSERT_TRUE(db.value().forEachRaw([&](const unsigned char* rec) {
        keys.emplace_back(reinterpret_cast<const char*>(rec), 4);
        return true;
    }));
    for (std::size_t i = 1; i < keys.size(); ++i)
        ASSERT_LT(keys[i - 1], keys[i]) << "records out of key order at " << i;
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys[0], storedLong(-static_cast<std::int32_t>(keys.size()))) << "the lowest key";

    Result<PrimaryIndex> px = readPrimaryIndex(indexPathFor(dbPath));
    ASSERT_TRUE(px.ok()) << px.error().toStdString();
    const PrimaryIndex& idx = px.value();
    ASSERT_EQ(idx.levelCount, expectLevels);
    ASSERT_EQ(static_cast<int>(idx.levels.size()), expectLevels);
    const std::vector<IndexEntry>& leaves = idx.levels.back();
    const int perBlock = (db.value().info().blockSize - 6) / db.value().info().recordSize;
    ASSERT_EQ(leaves.size(), (keys.size() + perBlock - 1) / perBlock);
    std::size_t covered = 0;
    for (std::size_t j = 0; j < leaves.size(); ++j) {
        ASSERT_EQ(leaves[j].block, j + 1);
        ASSERT_EQ(leaves[j].key, keys[j * perBlock]) << "leaf " << j;
        covered += leaves[j].count;
    }
    EXPECT_EQ(covered, keys.size());
    for (std::size_t level = 0; level + 1 < idx.levels.size(); ++level) {
        std::size_t child = 0;
        for (const IndexEntry& e : idx.levels[level]) {
            ASSERT_LT(child, idx.levels[level + 1].size());
            EXPECT_EQ(e.key, idx.levels[level + 1][child].key);
            child += e.count;
        }
        EXPECT_EQ(child, idx.levels[level + 1].size());
    }
    EXPECT_LE(idx.levels.front().size(),
              static_cast<std::size_t>((idx.blockSize - 6) / (storageSize(idx.keyField) + 6)));
}

} // namespace

TEST(ParadoxIndex, LevelsGrowWithTheTable) {
    QTemporaryDir dir;
    struct Case {
        const char *name, *indexName;
        int rows, blockSize, levels;
    };
    const Case cases[] = {
        {"one.db", "one.px", 50, 32768, 1},
        {"two.DB", "two.PX", 3000, 1024, 2}, // 300 data blocks of 1 KB, 3 leaf blocks
        // 12,000 data blocks; 101 entries per index block: 119 leaf blocks, 2 above, 1 root.
        {"three.db", "three.px", 120000, 1024, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        const auto rows = wideRows(c.rows);
        ASSERT_TRUE(writeKeyedTable(path, kWide, rows, blocks(c.blockSize)).ok());
        EXPECT_EQ(indexPathFor(path), dir.filePath(c.indexName));
        const TableInfo info = readTableInfo(path).value();
        EXPECT_TRUE(info.keyed);
        EXPECT_EQ(info.keyFieldCount, 1);
        checkIndex(path, c.levels);
        if (c.rows > 3000)
            continue; // pxlib would take its time over the largest
        const pxoracle::Table ref = pxoracle::read(path, indexPathFor(path));
        ASSERT_TRUE(ref.error.empty()) << ref.error;
        ASSERT_EQ(ref.rows.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(ref.rows[i][0], pxoracle::neutral(rows[i][0])) << i;
    }
}

TEST(ParadoxIndex, RecordsAreStoredInKeyOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath("shuffled.db");
    auto rows = wideRows(5000);
    std::mt19937 rng(7);
    std::shuffle(rows.begin(), rows.end(), rng);
    ASSERT_TRUE(writeKeyedTable(path, kWide, rows, blocks(2048)).ok());
    checkIndex(path, 2);

    const std::vector<FieldDef> alpha = {{"Name", FieldType::Alpha, 8}, {"N", FieldType::Long, 4}};
    const QString apath = dir.filePath("alpha.db");
    ASSERT_TRUE(writeKeyedTable(apath, alpha,
                                {{Value("pear"), Value(std::int32_t{1})},
                                 {Value("apple"), Value(std::int32_t{2})},
                                 {Value("fig"), Value(std::int32_t{3})}})
                    .ok());
    Result<std::vector<Record>> back = readTable(apath);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value()[0][0].toText(), "apple");
    EXPECT_EQ(back.value()[2][0].toText(), "pear");
}

TEST(ParadoxIndex, DuplicateKeyIsAKeyViolation) {
    QTemporaryDir dir;
    const QString path = dir.filePath("dup.db");
    ASSERT_TRUE(writeKeyedTable(path, kWide, wideRows(10)).ok());
    ASSERT_TRUE(QFileInfo::exists(dir.filePath("dup.px")));
    const QByteArray oldTable = fileBytes(path);
    const QByteArray oldIndex = fileBytes(dir.filePath("dup.px"));

    auto rows = wideRows(1000);
    rows[700][0] = rows[300][0];
    const Status s = writeKeyedTable(path, kWide, rows);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "Key violation: Id -100 appears twice") << "the field and the number";
    // Nothing was written: the old keyed table and its index are as they were.
    EXPECT_EQ(fileBytes(path), oldTable);
    EXPECT_EQ(fileBytes(dir.filePath("dup.px")), oldIndex);
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"dup.db", "dup.px"}));

    // Without an old table, no file is left at all.
    EXPECT_FALSE(writeKeyedTable(dir.filePath("new.db"), kWide, rows).ok());
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"dup.db", "dup.px"}));
}

TEST(ParadoxIndex, EmptyingAKeyedTableEmptiesItsIndex) {
    QTemporaryDir dir;
    const QString path = dir.filePath("k.db");
    ASSERT_TRUE(writeKeyedTable(path, kWide, wideRows(100)).ok());
    ASSERT_TRUE(emptyTable(path).ok());
    EXPECT_EQ(readTableInfo(path).value().recordCount, 0);
    Result<PrimaryIndex> px = readPrimaryIndex(dir.filePath("k.px"));
    ASSERT_TRUE(px.ok()) << px.error().toStdString();
    EXPECT_EQ(px.value().entryCount, 0);
}
