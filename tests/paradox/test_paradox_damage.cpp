// Damaged tables and indexes are refused by name with what is wrong, never with a crash; a
// primary index that does not fit can be rebuilt.
#include "paradox_test_support.h"
#include "px_oracle.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_salvage.h"
#include "paradox/paradox_writer.h"

#include <cstring>
#include <functional>
#include <random>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

struct TableChecks : InTempDir {
    // A keyed table of n numbered records in 1 KB blocks (21 records a block).
    QString keyed(const char* name, int n, int first = 1) {
        const QString p = path(name);
        EXPECT_TRUE(
            succeeds(writeKeyedTable(p, kNumberedFields, numberedRows(n, first), blocks(1024))));
        return p;
    }
    static Result<TableReader> open(const QString& p, IndexCheck check = IndexCheck::Verify) {
        return TableReader::open(p, check);
    }
    // Offset of record `i` of the first block of a table written by our writer (read while
    // the table is still whole).
    static int recordAt(const QString& p, int i) {
        const Result<TableInfo> info = readTableInfo(p);
        EXPECT_TRUE(succeeds(info));
        return info.ok() ? info.value().headerSize + 6 + i * info.value().recordSize : 0;
    }
};

// A keyed table of every kind of value a readings table may hold: 74-byte records, 13 to a
// 1 KB block, 8 blocks.
struct ParadoxDamage : InTempDir {
    QString good = path("good.db");
    QByteArray bytes;
    int headerSize = 0;

    void SetUp() override {
        std::vector<Record> rows;
        for (int i = 0; i < 100; ++i)
            rows.push_back({Value(std::int32_t(i)), Value::timeOfDay(i), Value("text\xA6\xB8"),
                            Value(i * 0.5), Value::decimal("12.5"), Value(i % 2 == 0)});
        const std::vector<FieldDef> fields = {
            {"No", FieldType::Long, 4},     {"Time", FieldType::Time, 4},
            {"Text", FieldType::Alpha, 40}, {"Num", FieldType::Number, 8},
            {"Dec", FieldType::Bcd, 3},     {"Flag", FieldType::Logical, 1}};
        ASSERT_TRUE(succeeds(writeKeyedTable(good, fields, rows, blocks(1024))));
        bytes = fileBytes(good);
        headerSize = readTableInfo(good).value().headerSize;
    }

    // Opens a damaged copy beside the good index; a refusal names the file.
    Result<TableReader> openDamaged(const QByteArray& damaged) {
        EXPECT_TRUE(putFile(path("bad.db"), damaged));
        EXPECT_TRUE(putFile(path("bad.px"), fileBytes(indexPathFor(good))));
        Result<TableReader> r = TableReader::open(path("bad.db"));
        EXPECT_TRUE(r.ok() || r.error().contains("bad.db")) << r.error().toStdString();
        return r;
    }
};

} // namespace

TEST_F(TableChecks, KeyedTableNeedsItsOwnIndex) {
    const QString t = keyed("t.db", 100);
    const QString px = indexPathFor(t);
    EXPECT_TRUE(succeeds(open(t)));

    const QByteArray index = fileBytes(px);
    ASSERT_TRUE(QFile::remove(px));
    EXPECT_TRUE(failsWith(open(t), "t.db is keyed, but its primary index"));
    EXPECT_TRUE(failsWith(open(t), "missing"));
    // Read without the index it still can be (the index is being rebuilt).
    EXPECT_TRUE(succeeds(open(t, IndexCheck::Ignore)));

    ASSERT_TRUE(putFile(px, QByteArray()));
    EXPECT_TRUE(failsWith(open(t), "t.px is damaged: the file is empty"));

    // The index of another table of that name: 30 records, or as many with other keys.
    keyed("other.db", 30);
    ASSERT_TRUE(putFile(px, fileBytes(path("other.px"))));
    EXPECT_TRUE(failsWith(open(t), "does not match its primary index"));
    EXPECT_TRUE(failsWith(open(t), "the index lists 30 records, the table holds 100"));
    keyed("shifted.db", 100, 5);
    ASSERT_TRUE(putFile(px, fileBytes(path("shifted.px"))));
    EXPECT_TRUE(failsWith(open(t), "block 1 starts with key 1, the index says 5"));
    // An index keyed on something else altogether.
    ASSERT_TRUE(writeKeyedTable(path("text.db"), {{"Name", FieldType::Alpha, 4}},
                                {{Value("a")}, {Value("b")}}, blocks(1024))
                    .ok());
    ASSERT_TRUE(putFile(px, fileBytes(path("text.px"))));
    EXPECT_TRUE(failsWith(open(t), "keyed on a field of another kind"));

    // Its own index, named in the other case by another program.
    ASSERT_TRUE(QFile::remove(px));
    ASSERT_TRUE(putFile(path("t.PX"), index));
    EXPECT_TRUE(succeeds(open(t)));
}

TEST_F(TableChecks, IndexCountsAndBlocksMustAgree) {
    // 100 records in five blocks, the last with 16. One index block holds the five leaf
    // entries: key, block number, count (index shorts), 10 bytes each.
    const QString t = keyed("t.db", 100);
    const QString px = indexPathFor(t);
    const QByteArray good = fileBytes(px);
    ASSERT_EQ(readPrimaryIndex(px).value().levelCount, 1);
    auto edit = [&](int entry, int part, int value) {
        QByteArray b = fileBytes(px);
        codec::putIndexShort(reinterpret_cast<unsigned char*>(b.data()) + 0x800 + 6 + entry * 10 +
                                 4 + part * 2,
                             static_cast<std::uint32_t>(value));
        ASSERT_TRUE(putFile(px, b));
    };
    edit(0, 0, 2); // the first two entries swap their blocks
    edit(1, 0, 1);
    EXPECT_TRUE(failsWith(open(t), "block 2 starts with key 22, the index says 1"));

    ASSERT_TRUE(putFile(px, good));
    edit(0, 0, 2);
    EXPECT_TRUE(failsWith(open(t), "the index lists block 2 twice"));

    ASSERT_TRUE(putFile(px, good));
    edit(3, 1, 16); // the counts still add up, but not block by block
    edit(4, 1, 21);
    EXPECT_TRUE(failsWith(open(t), "the index counts 16 records in block 4, it holds 21"));
}

TEST_F(TableChecks, DuplicateKeysAreRefused) {
    const QString t = keyed("t.db", 50);
    const int second = recordAt(t, 1), third = recordAt(t, 2);
    const QByteArray good = fileBytes(t);
    QByteArray b = good;
    b.replace(second, 4, storedLong(1)); // record 2 takes record 1's key
    ASSERT_TRUE(putFile(t, b));
    EXPECT_TRUE(failsWith(open(t), "t.db is damaged: key 1 appears twice"));

    b = good;
    b.replace(third, 4, storedLong(1000)); // record 3 out of order
    ASSERT_TRUE(putFile(t, b));
    EXPECT_TRUE(failsWith(open(t), "out of key order at key 4"));

    // Text keys may follow another program's collation: only repeats are refused, wherever
    // they stand.
    std::vector<Record> rows;
    for (const char* k : {"b", "A", "c", "a"})
        rows.push_back({Value(k)});
    const QString words = path("words.db");
    ASSERT_TRUE(writeKeyedTable(words, {{"Word", FieldType::Alpha, 8}}, rows, blocks(1024)).ok());
    EXPECT_TRUE(succeeds(open(words)));
    b = fileBytes(words);
    const int first = recordAt(words, 0);
    ASSERT_EQ(b.mid(first, 1), "A");
    b[first + 3 * 8] = 'A'; // the last record becomes "A" too
    ASSERT_TRUE(putFile(words, b));
    EXPECT_TRUE(failsWith(open(words), "key A appears twice"));
}

TEST_F(TableChecks, TimesOutsideADayAreRefused) {
    const QString t = path("times.db");
    ASSERT_TRUE(writeTable(t, {{"At", FieldType::Time, 4}},
                           {{Value::timeOfDay(0)}, {Value::timeOfDay(kMsPerDay - 1)}, {Value()}})
                    .ok());
    EXPECT_TRUE(succeeds(open(t)));
    const QByteArray good = fileBytes(t);
    const int second = recordAt(t, 1);
    for (const qint64 ms : {kMsPerDay, qint64{-1}, qint64{2'000'000'000}}) {
        QByteArray b = good;
        b.replace(second, 4, storedLong(static_cast<std::int32_t>(ms)));
        ASSERT_TRUE(putFile(t, b));
        EXPECT_TRUE(failsWith(open(t), "times.db is damaged: record 2 holds a time of " +
                                           QString::number(ms) + " ms in field At, outside a day"));
    }
}

TEST_F(TableChecks, VersionByteThatDoesNotFitTheLayout) {
    const QString t = path("v.db");
    ASSERT_TRUE(writeTable(t, readingsLikeFields(), {}).ok());
    const QByteArray good = fileBytes(t);
    for (const char version : {'\x05', '\x0b'}) {
        QByteArray b = good;
        b[0x39] = version;
        ASSERT_TRUE(putFile(t, b));
        EXPECT_TRUE(failsWith(open(t), "field 1 has no name (file version " +
                                           QString::number(int(version)) + ")"));
    }
}

TEST_F(TableChecks, EngineTablesStillRead) {
    KX_NEED_FIXTURES();
    const QStringList names = QDir(fixturesDir()).entryList({"*.db"}, QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names)
        EXPECT_TRUE(succeeds(open(fixturesDir() + name))) << name.toStdString();
}

TEST_F(TableChecks, RebuildingTheIndex) {
    const QString t = keyed("t.db", 100);
    const QString px = indexPathFor(t);
    const QByteArray table = fileBytes(t);
    const QByteArray index = fileBytes(px);

    // Missing and foreign indexes are rebuilt; the table file stays as it was.
    ASSERT_TRUE(QFile::remove(px));
    Result<IndexRebuild> r = rebuildPrimaryIndex(t);
    ASSERT_TRUE(succeeds(r));
    EXPECT_TRUE(r.value().keyed);
    EXPECT_FALSE(r.value().reordered);
    EXPECT_EQ(r.value().records, 100);
    EXPECT_EQ(fileBytes(t), table);
    EXPECT_EQ(fileBytes(px), index);
    keyed("other.db", 30);
    ASSERT_TRUE(putFile(px, fileBytes(path("other.px"))));
    ASSERT_TRUE(succeeds(rebuildPrimaryIndex(t)));
    EXPECT_TRUE(succeeds(open(t)));

    // Records out of key order are written again, sorted.
    QByteArray b = table;
    const int rs = readTableInfo(t).value().recordSize;
    const int at0 = recordAt(t, 0), at5 = recordAt(t, 5), at7 = recordAt(t, 7);
    const QByteArray first = b.mid(at0, rs);
    b.replace(at0, rs, b.mid(at5, rs));
    b.replace(at5, rs, first);
    ASSERT_TRUE(putFile(t, b));
    r = rebuildPrimaryIndex(t);
    ASSERT_TRUE(succeeds(r));
    EXPECT_TRUE(r.value().reordered);
    EXPECT_TRUE(succeeds(open(t)));
    EXPECT_EQ(readTable(t).value(), numberedRows(100));
    EXPECT_TRUE(pxoracle::read(t, px).error.empty());

    // A key twice cannot be put right: both files stay.
    b = fileBytes(t);
    b.replace(at7, 4, storedLong(3));
    ASSERT_TRUE(putFile(t, b));
    const QByteArray pxBefore = fileBytes(px);
    EXPECT_TRUE(failsWith(rebuildPrimaryIndex(t), "key 3 appears twice"));
    EXPECT_EQ(fileBytes(t), b);
    EXPECT_EQ(fileBytes(px), pxBefore);

    // A table without a key loses an index that lay beside it.
    const QString plain = path("plain.db");
    ASSERT_TRUE(writeTable(plain, kNumberedFields, numberedRows(3)).ok());
    ASSERT_TRUE(putFile(path("plain.px"), index));
    r = rebuildPrimaryIndex(plain);
    ASSERT_TRUE(succeeds(r));
    EXPECT_FALSE(r.value().keyed);
    EXPECT_TRUE(r.value().removedIndex);
    EXPECT_EQ(filesIn(dir.path()),
              (QStringList{"other.db", "other.px", "plain.db", "t.db", "t.px"}))
        << "no temporary is left, and plain.px is gone";
}

TEST_F(ParadoxDamage, RefusedWithAMessage) {
    EXPECT_TRUE(succeeds(openDamaged(bytes)));
    auto with = [&](const std::function<void(QByteArray&)>& edit) {
        QByteArray b = bytes;
        edit(b);
        return b;
    };
    // Cut inside the last block: refused only when something the block holds is missing.
    const int thirdBlock = headerSize + 2 * 1024;
    const int recordsEnd = thirdBlock + 6 + 13 * 74;
    const int fieldNamesEnd = 0x78 + 12 + 4 + 24 + 261;
    const struct {
        QByteArray file;
        const char* part;
    } cases[] = {
        {QByteArray(), "shorter than a table header"},
        {bytes.left(100), "header size"},
        {bytes.left(thirdBlock), "block 3 lies beyond the end"},
        {bytes.left(thirdBlock + 3), "block 3 lies beyond the end"},
        {bytes.left(thirdBlock + 500), "records of block 3 run past"},
        {bytes.left(recordsEnd - 1), "records of block 3 run past"},
        {with([&](QByteArray& b) { put16(b, headerSize + 1024, 1); }), "loops"}, // 2 leads to 1
        {with([&](QByteArray& b) { put16(b, headerSize, 60000); }), "beyond the end"},
        {with([](QByteArray& b) { b.replace(6, 4, "\xff\xff\xff\x7f"); }), "record count"},
        {with([](QByteArray& b) { b[6] = static_cast<char>(b[6] - 1); }), "the blocks hold"},
        {with([](QByteArray& b) { put16(b, 0, 61); }), "add up"},
        {with([](QByteArray& b) { b[0x78 + 5] = 41; }), "add up"}, // Alpha 40 -> 41
        {with([](QByteArray& b) { b[0x78 + 1] = 3; }), "size 3"},  // a Long of 3 bytes
        {with([](QByteArray& b) { put16(b, 0x21, 65535); }), "number of fields"},
        {with([](QByteArray& b) { put16(b, 0x21, 255); }), ""},
        {with([](QByteArray& b) { b[5] = 5; }), "block size"},
        {with([&](QByteArray& b) { put16(b, headerSize + 4, 1000); }), "claims"},
        // 14 whole records: one more than a block of 13 holds.
        {with([&](QByteArray& b) { put16(b, headerSize + 4, 13 * 74); }), "claims 1036 bytes"},
        {with([&](QByteArray& b) {
             b.replace(fieldNamesEnd, headerSize - fieldNamesEnd,
                       QByteArray(headerSize - fieldNamesEnd, 'x'));
         }),
         "name of field"},
        {with([](QByteArray& b) { b[0x5C] = 1; }), "encrypted"},
        {fileBytes(indexPathFor(good)), "not a table file"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(failsWith(openDamaged(c.file), c.part)) << c.part;
    EXPECT_TRUE(failsWith(TableReader::open(path("none.db")), "none.db"));
}

// A table without a key has no index to count its blocks' records: a block that claims more
// records than a block holds must be refused even when the header's count agrees, or the
// bytes after the block would be read as a record.
TEST_F(TableChecks, BlocksClaimingMoreThanTheyHold) {
    const QString t = path("plain.db");
    // 50 records: 21, 21 and 8 to a block.
    ASSERT_TRUE(writeTable(t, kNumberedFields, numberedRows(50), blocks(1024)).ok());
    const QByteArray good = fileBytes(t);
    const int headerSize = readTableInfo(t).value().headerSize;
    const struct {
        int block;
        int claimed; // records
    } cases[] = {{1, 22}, {2, 22}, {1, 23}};
    for (const auto& c : cases) {
        QByteArray b = good;
        put16(b, headerSize + (c.block - 1) * 1024 + 4, (c.claimed - 1) * 48);
        put16(b, 6, 50 + c.claimed - 21); // the header agrees with the block
        ASSERT_TRUE(putFile(t, b));
        EXPECT_TRUE(failsWith(
            open(t),
            QStringLiteral("block %1 claims %2 bytes of records").arg(c.block).arg(c.claimed * 48)))
            << c.block << " claims " << c.claimed;
    }
}

// Random damage to a valid table and its index must give a clean refusal or a readable table,
// never a crash, a hang or a read outside the file.
TEST_F(ParadoxDamage, MutatedCopiesNeverCrash) {
    std::mt19937 rng(20261209);
    const QByteArray px = fileBytes(indexPathFor(good));
    // Damaged tables keep their good index, damaged indexes sit beside the good table.
    ASSERT_TRUE(putFile(path("m.px"), px));
    ASSERT_TRUE(putFile(path("i.db"), bytes));
    int accepted = 0;
    for (int iter = 0; iter < 400; ++iter) {
        const bool index = iter % 4 == 3;
        QByteArray b = index ? px : bytes;
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
        ASSERT_TRUE(putFile(path(index ? "i.px" : "m.db"), b));
        if (index)
            (void)readPrimaryIndex(path("i.px"));
        // A salvage reads whatever is left, and never more than the file holds.
        const Result<SalvagedRecords> salvaged = readDamagedTable(path(index ? "i.db" : "m.db"));
        if (salvaged) {
            EXPECT_EQ(salvaged.value().records.size(),
                      salvaged.value().count() * salvaged.value().info.recordSize);
        }
        const Result<TableReader> r = TableReader::open(path(index ? "i.db" : "m.db"));
        if (!r.ok()) {
            EXPECT_FALSE(r.error().isEmpty());
            continue;
        }
        accepted += !index;
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

TEST(ParadoxValues, AnyStoredBytesDecodeToTheirFieldsKind) {
    using K = Value::Kind;
    const std::pair<FieldDef, K> fields[] = {
        {{"A", FieldType::Alpha, 20}, K::Text},     {{"D", FieldType::Date, 4}, K::Date},
        {{"S", FieldType::Short, 2}, K::Integer},   {{"L", FieldType::Long, 4}, K::Integer},
        {{"C", FieldType::Currency, 8}, K::Number}, {{"N", FieldType::Number, 8}, K::Number},
        {{"B", FieldType::Logical, 1}, K::Logical}, {{"M", FieldType::Memo, 20}, K::Text},
        {{"T", FieldType::Time, 4}, K::Time},       {{"@", FieldType::Timestamp, 8}, K::Timestamp},
        {{"+", FieldType::AutoInc, 4}, K::Integer}, {{"#", FieldType::Bcd, 40}, K::Decimal},
        {{"Y", FieldType::Bytes, 9}, K::Bytes}};
    std::mt19937 rng(5);
    unsigned char buf[32];
    for (int i = 0; i < 3000; ++i) {
        for (unsigned char& c : buf)
            c = static_cast<unsigned char>(rng());
        if (i % 3 == 0)
            std::memset(buf, 0xFF, sizeof buf);
        for (const auto& [f, kind] : fields) {
            const Value v = codec::decodeField(f, buf);
            // Whatever the bytes, a value reads as NULL or as its field type's kind.
            EXPECT_TRUE(v.isNull() || v.kind() == kind)
                << typeName(f.type).toStdString() << " read as kind " << int(v.kind());
            (void)v.toText();
        }
    }
}

// A table read once checks its records as it hands them out: damage only the walk reaches,
// in the last block, fails the walk with open()'s own message, the damaged record not handed
// out, and never passes for a whole table.
TEST_F(TableChecks, DamageFoundDuringTheWalkFailsIt) {
    // 100 records: blocks of 21, the fifth holding records 85 to 100.
    const QString numbered = keyed("t.db", 100);
    const QString times = path("times.db");
    std::vector<Record> rows;
    for (int i = 0; i < 100; ++i)
        rows.push_back({Value(std::int32_t(i + 1)), Value::timeOfDay(i * 1000)});
    ASSERT_TRUE(succeeds(writeTable(times, {{"No", FieldType::Long, 4}, {"At", FieldType::Time, 4}},
                                    rows, blocks(1024))));
    const QString words = path("words.db");
    std::vector<Record> texts;
    for (int i = 0; i < 60; ++i)
        texts.push_back({Value(QByteArray("w") + QByteArray::number(i))});
    ASSERT_TRUE(
        succeeds(writeKeyedTable(words, {{"Word", FieldType::Alpha, 8}}, texts, blocks(1024))));

    struct Case {
        const char* what;
        QString table;
        int record; // 1-based, in file order
        int at;     // offset in the record
        QByteArray stored;
        IndexCheck index;
        QString message;
        std::int64_t handed; // records handed out before the walk ends
    };
    const std::vector<Case> cases = {
        {"the last key repeated", numbered, 100, 0, storedLong(99), IndexCheck::Verify,
         "t.db is damaged: key 99 appears twice", 99},
        {"the last key out of order", numbered, 100, 0, storedLong(50), IndexCheck::Verify,
         "t.db is damaged: the records are out of key order at key 50", 99},
        {"the last block's first key", numbered, 85, 0, storedLong(84), IndexCheck::Verify,
         "block 5 starts with key 84, the index says 85", 84},
        {"a time in the last record", times, 100, 4, storedLong(kMsPerDay), IndexCheck::Verify,
         "times.db is damaged: record 100 holds a time of 86400000 ms in field At", 99},
        {"a key repeated, the index not looked at", numbered, 100, 0, storedLong(99),
         IndexCheck::Ignore, QString(), 100},
        // Keys in another program's collation are compared once all are read.
        {"a text key repeated at the end", words, 60, 0, QByteArray("w0\0", 3), IndexCheck::Verify,
         "words.db is damaged: key w0 appears twice", 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray good = fileBytes(c.table);
        const TableInfo info = readTableInfo(c.table).value();
        const int perBlock = (info.blockSize - 6) / info.recordSize;
        const int i = c.record - 1;
        QByteArray b = good;
        b.replace(info.headerSize + i / perBlock * info.blockSize + 6 +
                      i % perBlock * info.recordSize + c.at,
                  static_cast<int>(c.stored.size()), c.stored);
        ASSERT_TRUE(putFile(c.table, b));

        const Result<TableReader> atOpen = TableReader::open(c.table, c.index);
        Result<TableReader> once = TableReader::open(c.table, c.index, RecordCheck::DuringWalk);
        ASSERT_TRUE(succeeds(once));
        std::int64_t handed = 0;
        const Status walked = once.value().forEachRaw([&](const unsigned char*) {
            ++handed;
            return true;
        });
        if (c.message.isEmpty()) {
            // Nothing to find: the walk hands out every record.
            EXPECT_TRUE(succeeds(atOpen));
            EXPECT_TRUE(succeeds(walked));
        } else {
            EXPECT_TRUE(failsWith(atOpen, c.message));
            EXPECT_TRUE(failsWith(walked, c.message));
            EXPECT_EQ(walked.error(), atOpen.error());
            // Each walk checks again.
            EXPECT_TRUE(failsWith(once.value().readAll(), c.message));
        }
        EXPECT_EQ(handed, c.handed);
        ASSERT_TRUE(putFile(c.table, good));
    }
}
