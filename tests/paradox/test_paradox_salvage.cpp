// A damaged table gives up every record the damage did not touch, and says which it left out.
#include "paradox_test_support.h"
#include "px_oracle.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_salvage.h"
#include "paradox/paradox_writer.h"

#include <functional>
#include <set>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

// 600 readings in 2 KB blocks: 72-byte records, 28 to a block, 22 blocks.
constexpr int kRecords = 600;
constexpr int kPerBlock = 28;
constexpr int kRecordSize = 72;

std::vector<Record> readings() {
    std::vector<Record> rows;
    for (int i = 1; i <= kRecords; ++i)
        rows.push_back({Value(std::int32_t(i)), Value::timeOfDay(i * 1000), Value("1.25"),
                        Value("M\xA6\xB8"), Value("IR:2500V"), Value("PI")});
    return rows;
}

struct Salvage : InTempDir {
    QByteArray good;
    QByteArray goodIndex;
    QByteArray otherIndex; // of a table of the same kind with other keys and block counts
    int headerSize = 0;
    std::vector<std::vector<FieldDef>> known = {readingsLikeFields(), readingsLikeFields("S")};

    void SetUp() override {
        const QString p = path("good.db");
        ASSERT_TRUE(succeeds(writeKeyedTable(p, readingsLikeFields(), readings(), blocks(2048))));
        good = fileBytes(p);
        goodIndex = fileBytes(indexPathFor(p));
        headerSize = readTableInfo(p).value().headerSize;
        std::vector<Record> rows = readings();
        rows.resize(300);
        for (Record& r : rows)
            r[0] = Value(std::int32_t(r[0].toInt() + 1000));
        const QString o = path("other.db");
        ASSERT_TRUE(succeeds(writeKeyedTable(o, readingsLikeFields(), rows, blocks(1024))));
        otherIndex = fileBytes(indexPathFor(o));
    }
    int blockAt(int block) const { return headerSize + (block - 1) * 2048; }
    int recordAt(int position) const {
        return blockAt((position - 1) / kPerBlock + 1) + 6 +
               (position - 1) % kPerBlock * kRecordSize;
    }
};

std::set<std::int64_t> lostPositions(const std::vector<SalvageLoss>& lost) {
    std::set<std::int64_t> out;
    for (const SalvageLoss& l : lost) {
        for (std::int64_t p = l.first; p <= l.last; ++p)
            out.insert(p);
    }
    return out;
}

std::set<std::int64_t> range(std::int64_t first, std::int64_t last) {
    std::set<std::int64_t> out;
    for (std::int64_t p = first; p <= last; ++p)
        out.insert(p);
    return out;
}

} // namespace

TEST_F(Salvage, EveryRecordTheDamageLeftComesBack) {
    using Edit = std::function<void(QByteArray&)>;
    const int last = kRecords / kPerBlock + 1; // block 22 holds the last 12
    const struct {
        const char* name;
        Edit edit;
        QByteArray index;            // the index beside the table, if any
        std::set<std::int64_t> lost; // positions reported, and the keys that do not come back
    } cases[] = {
        {"a time outside a day in record 539",
         [&](QByteArray& b) { b.replace(recordAt(539) + 4, 4, storedLong(301008456)); },
         goodIndex,
         {539}},
        {"header counts one more", [](QByteArray& b) { b[6] = char(b[6] + 1); }, goodIndex, {}},
        {"header counts one fewer", [](QByteArray& b) { b[6] = char(b[6] - 1); }, QByteArray(), {}},
        {"last block claims one more, its index says right",
         [&](QByteArray& b) { put16(b, blockAt(last) + 4, 12 * kRecordSize); },
         goodIndex,
         {}},
        {"last block claims one more, no index",
         [&](QByteArray& b) { put16(b, blockAt(last) + 4, 12 * kRecordSize); },
         QByteArray(),
         {601}},
        {"a full block claims one more than a block holds",
         [&](QByteArray& b) { put16(b, blockAt(5) + 4, kPerBlock * kRecordSize); },
         QByteArray(),
         {}},
        {"a block claims bytes no count gives",
         [&](QByteArray& b) { put16(b, blockAt(5) + 4, 1000); },
         QByteArray(),
         {}},
        {"a block claims too few, its index says right",
         [&](QByteArray& b) { put16(b, blockAt(7) + 4, 4 * kRecordSize); },
         goodIndex,
         {}},
        {"a block claims too few, the header count says right",
         [&](QByteArray& b) { put16(b, blockAt(7) + 4, 4 * kRecordSize); },
         QByteArray(),
         {}},
        {"a block claims to be empty",
         [&](QByteArray& b) { put16(b, blockAt(7) + 4, 0xFFFF - kRecordSize + 1); },
         QByteArray(),
         {}},
        {"header counts one more, another table's index beside it",
         [](QByteArray& b) { b[6] = char(b[6] + 1); },
         otherIndex,
         {}},
        {"chain leads past the file",
         [&](QByteArray& b) { put16(b, blockAt(3), 60000); },
         goodIndex,
         {}},
        {"chain loops back", [&](QByteArray& b) { put16(b, blockAt(9), 2); }, QByteArray(), {}},
        {"chain ends early", [&](QByteArray& b) { put16(b, blockAt(9), 0); }, QByteArray(), {}},
        {"header's first block points into the chain",
         [](QByteArray& b) { put16(b, 0x0E, 4); },
         QByteArray(),
         {}},
        {"a key given twice",
         [&](QByteArray& b) { b.replace(recordAt(100), 4, storedLong(99)); },
         goodIndex,
         {100}},
        {"file cut inside record 260", [&](QByteArray& b) { b.truncate(recordAt(260) + 10); },
         goodIndex, range(260, kRecords)},
        {"file cut between blocks", [&](QByteArray& b) { b.truncate(blockAt(11)); }, QByteArray(),
         range(281, kRecords)},
        {"record size and a field size wrong",
         [](QByteArray& b) {
             put16(b, 0, 80);
             b[0x78 + 5] = 24; // Value 16 -> 24
         },
         QByteArray(),
         {}},
        {"version, field count and block size wrong",
         [](QByteArray& b) {
             b[0x39] = 4;
             put16(b, 0x21, 9);
             b[5] = 8;
         },
         QByteArray(),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray b = good;
        c.edit(b);
        const QString t = path("t.db");
        ASSERT_TRUE(putFile(t, b));
        QFile::remove(path("t.px"));
        QFile::remove(path("t-salvaged.db"));
        if (!c.index.isEmpty()) {
            ASSERT_TRUE(putFile(path("t.px"), c.index));
        }
        EXPECT_FALSE(TableReader::open(t).ok()) << "the damage is one the reader refuses";

        const Result<SalvageReport> r = salvageTable(t, false, known);
        ASSERT_TRUE(succeeds(r));
        EXPECT_EQ(fileBytes(t), b) << "the damaged file stays as it is";
        EXPECT_EQ(r.value().target, path("t-salvaged.db"));
        EXPECT_EQ(lostPositions(r.value().lost), c.lost);
        EXPECT_EQ(r.value().leftOut, static_cast<std::int64_t>(c.lost.size()));
        EXPECT_FALSE(r.value().lost.empty() && r.value().repairs.isEmpty())
            << "what was wrong is said";

        Result<std::vector<Record>> back = readTable(r.value().target);
        ASSERT_TRUE(succeeds(back));
        std::set<std::int64_t> keys;
        for (const Record& rec : back.value()) {
            keys.insert(rec[0].toInt());
            const std::int64_t no = rec[0].toInt();
            EXPECT_EQ(rec, readings()[static_cast<std::size_t>(no - 1)]) << "record " << no;
        }
        for (std::int64_t no = 1; no <= kRecords; ++no)
            EXPECT_EQ(keys.count(no), c.lost.count(no) ? 0u : 1u) << "record " << no;
        EXPECT_EQ(r.value().kept, static_cast<std::int64_t>(keys.size()));
    }

    // Another reader takes the salvaged table (the last case: 600 records and their index) as it
    // is.
    const pxoracle::Table other = pxoracle::read(path("t-salvaged.db"), path("t-salvaged.px"));
    EXPECT_EQ(other.error, "");
    EXPECT_EQ(other.rows.size(), 600u);

    // An earlier salvage is replaced only when asked.
    EXPECT_TRUE(
        failsWith(salvageTable(path("t.db"), false, known), "t-salvaged.db already exists"));
    EXPECT_TRUE(succeeds(salvageTable(path("t.db"), true, known)));
    // Nothing to read: no table at all.
    ASSERT_TRUE(putFile(path("n.db"), QByteArray(4096, 'x')));
    EXPECT_TRUE(failsWith(salvageTable(path("n.db"), false, known), "Nothing can be salvaged"));
    EXPECT_FALSE(QFile::exists(path("n-salvaged.db")));
}

// Any one byte of the header changed, to any of a few values: every record still comes back.
TEST_F(Salvage, AnyHeaderByteChanged) {
    const std::vector<Record> want = readings();
    // Everything up to the end of the field names: "No", "Time", ... "I_Range", each ended.
    const int namesEnd = 0x78 + 6 * 6 + 4 + 261 + 35;
    int refused = 0, changes = 0;
    for (int at = 0; at < namesEnd; ++at) {
        for (const int x : {0x01, 0xFF}) {
            QByteArray b = good;
            b[at] = static_cast<char>(b[at] ^ x);
            ASSERT_TRUE(putFile(path("f.db"), b));
            ASSERT_TRUE(putFile(path("f.px"), goodIndex));
            ++changes;
            refused += !TableReader::open(path("f.db")).ok();
            const Result<SalvagedRecords> r = readDamagedTable(path("f.db"), known);
            ASSERT_TRUE(succeeds(r)) << "byte " << at << " ^ " << x;
            ASSERT_EQ(r.value().count(), kRecords) << "byte " << at << " ^ " << x;
            EXPECT_TRUE(r.value().lost.empty()) << "byte " << at << " ^ " << x;
            EXPECT_EQ(r.value().info.codePage, 936) << "byte " << at << " ^ " << x;
            // The records read as they were written, field by field.
            const SalvagedRecords& s = r.value();
            for (int i : {0, 27, 28, 599}) {
                Record rec;
                int off = 0;
                for (const FieldDef& f : readingsLikeFields()) {
                    rec.push_back(codec::decodeField(
                        f, reinterpret_cast<const unsigned char*>(s.records.constData()) +
                               i * kRecordSize + off));
                    off += storageSize(f);
                }
                ASSERT_EQ(rec, want[static_cast<std::size_t>(i)]) << "byte " << at << " ^ " << x;
            }
        }
    }
    RecordProperty("refusedByTheReader", refused);
    RecordProperty("changes", changes);
    EXPECT_GT(refused, changes / 20) << "the reader refuses many of them";
}
