// Tables whose parts do not fit together, values no table can hold, things at a table's path
// that are not files, and writes the disk cuts short.
#include "px_oracle.h"
#include "support/table_files.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kx;
using namespace kx::px;

namespace {

const std::vector<FieldDef> kKeyedFields = {
    {"No", FieldType::Long, 4}, {"Time", FieldType::Time, 4}, {"Text", FieldType::Alpha, 40}};

std::vector<Record> numbered(int n, int first = 1) {
    std::vector<Record> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({Value(std::int32_t(first + i)), Value::timeOfDay(i * 1000),
                        Value(QByteArray("row ") + QByteArray::number(i))});
    return rows;
}

// Stored form of a Long (sign bit flipped, big-endian).
QByteArray storedLong(std::int32_t v) {
    unsigned char b[4];
    FieldDef f{"x", FieldType::Long, 4};
    QString error;
    EXPECT_TRUE(codec::encodeField(f, Value(v), b, &error));
    return QByteArray(reinterpret_cast<const char*>(b), 4);
}

struct TableChecks : ::testing::Test {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    // A keyed table of n records in 1 KB blocks (about 20 records a block).
    QString keyed(const char* name, int n, int first = 1) {
        const QString p = path(name);
        EXPECT_TRUE(writeKeyedTable(p, kKeyedFields, numbered(n, first), blocks(1024)).ok());
        return p;
    }

    QString openError(const QString& p, IndexCheck check = IndexCheck::Verify) {
        const Result<TableReader> r = TableReader::open(p, check);
        return r.ok() ? QString() : r.error();
    }

    // Offset of record `i` of the first block of a table written by our writer (read while
    // the table is still whole).
    static int recordAt(const QString& p, int i) {
        const Result<TableInfo> info = readTableInfo(p);
        EXPECT_TRUE(info.ok()) << info.error().toStdString();
        return info.ok() ? info.value().headerSize + 6 + i * info.value().recordSize : 0;
    }
};

} // namespace

TEST_F(TableChecks, KeyedTableNeedsItsOwnIndex) {
    const QString t = keyed("t.db", 100);
    EXPECT_EQ(openError(t), QString());

    const QByteArray index = fileBytes(indexPathFor(t));
    ASSERT_TRUE(QFile::remove(indexPathFor(t)));
    QString e = openError(t);
    EXPECT_TRUE(e.contains("t.db is keyed, but its primary index") && e.contains("missing"))
        << e.toStdString();
    // Read without the index it still can be (the index is being rebuilt).
    EXPECT_EQ(openError(t, IndexCheck::Ignore), QString());

    ASSERT_TRUE(putFile(indexPathFor(t), QByteArray()));
    e = openError(t);
    EXPECT_TRUE(e.contains("t.px is damaged: the file is empty")) << e.toStdString();

    // The index of another table of that name: 30 records, or as many with other keys.
    keyed("other.db", 30);
    ASSERT_TRUE(putFile(indexPathFor(t), fileBytes(path("other.px"))));
    e = openError(t);
    EXPECT_TRUE(e.contains("does not match its primary index") &&
                e.contains("the index lists 30 records, the table holds 100"))
        << e.toStdString();
    keyed("shifted.db", 100, 5);
    ASSERT_TRUE(putFile(indexPathFor(t), fileBytes(path("shifted.px"))));
    e = openError(t);
    EXPECT_TRUE(e.contains("block 1 starts with key 1, the index says 5")) << e.toStdString();
    // An index keyed on something else altogether.
    ASSERT_TRUE(writeKeyedTable(path("text.db"), {{"Name", FieldType::Alpha, 4}},
                                {{Value("a")}, {Value("b")}}, blocks(1024))
                    .ok());
    ASSERT_TRUE(putFile(indexPathFor(t), fileBytes(path("text.px"))));
    EXPECT_TRUE(openError(t).contains("keyed on a field of another kind"));

    // Its own index, named in the other case by another program.
    ASSERT_TRUE(QFile::remove(indexPathFor(t)));
    ASSERT_TRUE(putFile(path("t.PX"), index));
    EXPECT_EQ(openError(t), QString());
}

TEST_F(TableChecks, IndexCountsAndBlocksMustAgree) {
    // 100 records of 48 bytes: 21 a block in five blocks, the last with 16. One index block
    // holds the five leaf entries: key, block number, count (index shorts), 10 bytes each.
    const QString t = keyed("t.db", 100);
    const QByteArray good = fileBytes(indexPathFor(t));
    ASSERT_EQ(readPrimaryIndex(indexPathFor(t)).value().levelCount, 1);
    auto edit = [&](int entry, int part, int value) {
        QByteArray b = fileBytes(indexPathFor(t));
        codec::putIndexShort(reinterpret_cast<unsigned char*>(b.data()) + 0x800 + 6 + entry * 10 +
                                 4 + part * 2,
                             static_cast<std::uint32_t>(value));
        ASSERT_TRUE(putFile(indexPathFor(t), b));
    };
    edit(0, 0, 2); // the first two entries swap their blocks
    edit(1, 0, 1);
    EXPECT_TRUE(openError(t).contains("block 2 starts with key 22, the index says 1"))
        << openError(t).toStdString();

    ASSERT_TRUE(putFile(indexPathFor(t), good));
    edit(0, 0, 2);
    EXPECT_TRUE(openError(t).contains("the index lists block 2 twice"))
        << openError(t).toStdString();

    ASSERT_TRUE(putFile(indexPathFor(t), good));
    edit(3, 1, 16); // the counts still add up, but not block by block
    edit(4, 1, 21);
    EXPECT_TRUE(openError(t).contains("the index counts 16 records in block 4, it holds 21"))
        << openError(t).toStdString();
}

TEST_F(TableChecks, DuplicateKeysAreRefused) {
    const QString t = keyed("t.db", 50);
    const int second = recordAt(t, 1);
    const int third = recordAt(t, 2);
    QByteArray b = fileBytes(t);
    const QByteArray good = b;
    b.replace(second, 4, storedLong(1)); // record 2 takes record 1's key
    ASSERT_TRUE(putFile(t, b));
    EXPECT_TRUE(openError(t).contains("t.db is damaged: key 1 appears twice"))
        << openError(t).toStdString();

    b = good;
    b.replace(third, 4, storedLong(1000)); // record 3 out of order
    ASSERT_TRUE(putFile(t, b));
    EXPECT_TRUE(openError(t).contains("out of key order at key 4")) << openError(t).toStdString();

    // Text keys may follow another program's collation: only repeats are refused, wherever
    // they stand.
    std::vector<Record> rows;
    for (const char* k : {"b", "A", "c", "a"})
        rows.push_back({Value(k)});
    const QString words = path("words.db");
    ASSERT_TRUE(writeKeyedTable(words, {{"Word", FieldType::Alpha, 8}}, rows, blocks(1024)).ok());
    EXPECT_EQ(openError(words), QString());
    b = fileBytes(words);
    const int first = recordAt(words, 0);
    ASSERT_EQ(b.mid(first, 1), "A");
    b[first + 3 * 8] = 'A'; // the last record becomes "A" too
    ASSERT_TRUE(putFile(words, b));
    EXPECT_TRUE(openError(words).contains("key A appears twice")) << openError(words).toStdString();
}

TEST_F(TableChecks, TimesOutsideADayAreRefused) {
    const QString t = path("times.db");
    ASSERT_TRUE(writeTable(t, {{"At", FieldType::Time, 4}},
                           {{Value::timeOfDay(0)}, {Value::timeOfDay(kMsPerDay - 1)}, {Value()}})
                    .ok());
    EXPECT_EQ(openError(t), QString());
    const QByteArray good = fileBytes(t);
    const int second = recordAt(t, 1);
    for (const qint64 ms : {kMsPerDay, qint64{-1}, qint64{2'000'000'000}}) {
        QByteArray b = good;
        unsigned char stored[4];
        codec::put32(stored, static_cast<std::uint32_t>(ms) ^ 0x80000000u);
        std::swap(stored[0], stored[3]);
        std::swap(stored[1], stored[2]);
        b.replace(second, 4, QByteArray(reinterpret_cast<char*>(stored), 4));
        ASSERT_TRUE(putFile(t, b));
        const QString e = openError(t);
        EXPECT_TRUE(e.contains("times.db is damaged: record 2 holds a time of " +
                               QString::number(ms) + " ms in field At, outside a day"))
            << e.toStdString();
    }
}

TEST_F(TableChecks, EngineTablesStillRead) {
    KX_NEED_FIXTURES();
    const QStringList names = QDir(fixturesDir()).entryList({"*.db"}, QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        const Result<TableReader> r = TableReader::open(fixturesDir() + name);
        EXPECT_TRUE(r.ok()) << name.toStdString() << ": " << r.error().toStdString();
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
        const QString e = openError(t);
        EXPECT_TRUE(
            e.contains("field 1 has no name (file version " + QString::number(int(version)) + ")"))
            << e.toStdString();
    }
}

TEST_F(TableChecks, RebuildingTheIndex) {
    const QString t = keyed("t.db", 100);
    const QByteArray table = fileBytes(t);
    const QByteArray index = fileBytes(indexPathFor(t));

    // Missing and foreign indexes are rebuilt; the table file stays as it was.
    ASSERT_TRUE(QFile::remove(indexPathFor(t)));
    Result<IndexRebuild> r = rebuildPrimaryIndex(t);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_TRUE(r.value().keyed);
    EXPECT_FALSE(r.value().reordered);
    EXPECT_EQ(r.value().records, 100);
    EXPECT_EQ(fileBytes(t), table);
    EXPECT_EQ(fileBytes(indexPathFor(t)), index);
    keyed("other.db", 30);
    ASSERT_TRUE(putFile(indexPathFor(t), fileBytes(path("other.px"))));
    ASSERT_TRUE(rebuildPrimaryIndex(t).ok());
    EXPECT_EQ(openError(t), QString());

    // Records out of key order are written again, sorted.
    QByteArray b = table;
    const int rs = readTableInfo(t).value().recordSize;
    const int at0 = recordAt(t, 0);
    const int at5 = recordAt(t, 5);
    const int at7 = recordAt(t, 7);
    const QByteArray first = b.mid(at0, rs);
    b.replace(at0, rs, b.mid(at5, rs));
    b.replace(at5, rs, first);
    ASSERT_TRUE(putFile(t, b));
    r = rebuildPrimaryIndex(t);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_TRUE(r.value().reordered);
    EXPECT_EQ(openError(t), QString());
    Result<std::vector<Record>> rows = readTable(t);
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows.value().size(), 100u);
    for (std::size_t i = 0; i < rows.value().size(); ++i)
        ASSERT_EQ(rows.value()[i], numbered(100)[i]) << "record " << i;
    EXPECT_TRUE(pxoracle::read(t, indexPathFor(t)).error.empty());

    // A key twice cannot be put right: both files stay.
    b = fileBytes(t);
    b.replace(at7, 4, storedLong(3));
    ASSERT_TRUE(putFile(t, b));
    const QByteArray pxBefore = fileBytes(indexPathFor(t));
    r = rebuildPrimaryIndex(t);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains("key 3 appears twice")) << r.error().toStdString();
    EXPECT_EQ(fileBytes(t), b);
    EXPECT_EQ(fileBytes(indexPathFor(t)), pxBefore);
    EXPECT_EQ(QDir(dir.path()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);

    // A table without a key loses an index that lay beside it.
    const QString plain = path("plain.db");
    ASSERT_TRUE(writeTable(plain, kKeyedFields, numbered(3)).ok());
    ASSERT_TRUE(putFile(path("plain.px"), index));
    r = rebuildPrimaryIndex(plain);
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.value().keyed);
    EXPECT_TRUE(r.value().removedIndex);
    EXPECT_FALSE(QFile::exists(path("plain.px")));
}

TEST_F(TableChecks, ReplacingWithAnUnkeyedTableDropsTheOldIndex) {
    const QString t = keyed("t.db", 10);
    ASSERT_TRUE(QFile::exists(indexPathFor(t)));
    ASSERT_TRUE(createTable(t, readingsLikeFields()).ok());
    EXPECT_FALSE(QFile::exists(indexPathFor(t)));
    EXPECT_EQ(openError(t), QString());
}

TEST_F(TableChecks, ThingsThatAreNotFilesAreRefusedAtOnce) {
    const QString fifo = path("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.db"));
    struct Case {
        QString path;
        const char* kind;
    };
    for (const Case& c : {Case{fifo, "a pipe"}, Case{path("folder.db"), "a folder"},
                          Case{QStringLiteral("/dev/null"), "a device"}}) {
        const QString name = QDir::toNativeSeparators(c.path);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(
            openError(c.path),
            QStringLiteral("Cannot open table file %1: it is %2, not a file").arg(name, c.kind));
        const Result<std::unique_ptr<TableLock>> lock = TableLock::acquire(c.path);
        ASSERT_FALSE(lock.ok());
        EXPECT_TRUE(lock.error().contains(c.kind));
        const Result<PrimaryIndex> idx = readPrimaryIndex(c.path);
        ASSERT_FALSE(idx.ok());
        EXPECT_TRUE(idx.error().contains(c.kind));
        const Status w = createTable(c.path, readingsLikeFields());
        ASSERT_FALSE(w.ok());
        EXPECT_EQ(w.error(),
                  QStringLiteral("Cannot write %1: it is %2, not a file").arg(name, c.kind));
        EXPECT_LT(clock.elapsed(), 5000) << "nothing waits for a writer";
    }
    // Nothing was put in their place, and nothing was left behind.
    QFileInfo fi(fifo);
    EXPECT_FALSE(fi.isFile());
    EXPECT_TRUE(QFileInfo(path("folder.db")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);
}

// The file-size limit cuts a write short the way a full disk does: part of a block is
// written, then the system refuses the rest.
TEST_F(TableChecks, ShortWritesEndWithTheSystemsReason) {
    const QString t = path("big.db");
    ASSERT_TRUE(writeTable(t, readingsLikeFields(), {}).ok());
    const QByteArray before = fileBytes(t);

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 50000; // past the header, inside the second 32 KB block
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<Record> rows(1000, Record{Value(std::int32_t{1}), Value::timeOfDay(5), Value("x"),
                                          Value("V"), Value("f"), Value("m")});
    const Status s = writeTable(t, readingsLikeFields(), rows);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(),
              QStringLiteral("Cannot write %1: %2")
                  .arg(QDir::toNativeSeparators(t), QString::fromLocal8Bit(std::strerror(EFBIG))));
    EXPECT_EQ(fileBytes(t), before);
    EXPECT_EQ(QDir(dir.path()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);
}
