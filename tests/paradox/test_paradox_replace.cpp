// Replacing table files: a table and its index change together or not at all, no temporary
// file is ever left behind, and a new table never keeps the index of the one it replaces.
#include "paradox_test_support.h"

#include "common/replacing_file.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

const std::vector<FieldDef>& kFields = kNumberedFields;
std::vector<Record> rows(int n, int first = 1) {
    return numberedRows(n, first);
}

// Fails every rename onto a path with the given ending, as a full disk or a file held
// elsewhere would.
const char* failingSuffix = nullptr;
int failingRename(const char* from, const char* to) {
    const std::size_t n = std::strlen(to), m = std::strlen(failingSuffix);
    if (n >= m && std::strcmp(to + n - m, failingSuffix) == 0) {
        errno = EIO;
        return -1;
    }
    return std::rename(from, to);
}

struct RenameFails {
    explicit RenameFails(const char* suffix) {
        failingSuffix = suffix;
        testhooks::setRenameFunction(&failingRename);
    }
    ~RenameFails() { testhooks::setRenameFunction(nullptr); }
};

struct Replace : InTempDir {
    QString table = path("k.db");
    QString index = path("k.px");
    QByteArray oldTable, oldIndex;

    void SetUp() override {
        ASSERT_TRUE(writeKeyedTable(table, kFields, rows(10)).ok());
        oldTable = fileBytes(table);
        oldIndex = fileBytes(index);
        ASSERT_FALSE(oldIndex.isEmpty());
    }
    void expectOldPairIntact() {
        EXPECT_EQ(fileBytes(table), oldTable);
        EXPECT_EQ(fileBytes(index), oldIndex);
        EXPECT_EQ(filesIn(dir.path()), (QStringList{"k.db", "k.px"})) << "no temporary left";
    }
};

} // namespace

TEST_F(Replace, FailedRenameLeavesTheOldPair) {
    struct Case {
        const char* failing; // the rename that fails
        std::function<Status()> change;
        const char* named;
    };
    const Case cases[] = {
        // The table is already renamed into place when the index fails: the old one comes back.
        {".px", [&] { return writeKeyedTable(table, kFields, rows(500, 100)); }, "k.px"},
        {".db", [&] { return writeKeyedTable(table, kFields, rows(500, 100)); }, "k.db"},
        // Without an old pair nothing is left, not even a new table without its index.
        {".px", [&] { return writeKeyedTable(path("fresh.db"), kFields, rows(5)); }, "fresh.px"},
        {".px", [&] { return emptyTable(table); }, "k.px"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        RenameFails fails(c.failing);
        EXPECT_TRUE(failsWith(c.change(), c.named));
        expectOldPairIntact();
    }
}

TEST_F(Replace, FolderInTheWayOfTheIndex) {
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir(dir.path()).mkpath("k.px/inside"));
    EXPECT_TRUE(failsWith(writeKeyedTable(table, kFields, rows(50)), "folder"));
    // Nor is an unkeyed table written whose old index cannot go: the new table is taken back.
    EXPECT_FALSE(writeTable(table, kFields, rows(3)).ok());
    EXPECT_EQ(fileBytes(table), oldTable);
    EXPECT_TRUE(QFileInfo(index).isDir());
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"k.db", "k.px"}));
}

TEST_F(Replace, ReadOnlyTableOrIndexIsRefusedBeforeTheWork) {
    // A file its owner protected is not replaced, whatever the folder allows; the refusal
    // comes before the rows are read.
    for (const QString& protectedFile : {index, table}) {
        ASSERT_TRUE(QFile::setPermissions(protectedFile, QFile::ReadOwner));
        bool asked = false;
        const Status s = writeKeyedTable(table, kFields, 300, [&](std::size_t) -> const Record& {
            asked = true;
            static const Record r{Value(std::int32_t{1}), Value(QByteArray("x"))};
            return r;
        });
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("read-only")) << s.error().toStdString();
        EXPECT_FALSE(asked);
        EXPECT_FALSE(emptyTable(table).ok());
        EXPECT_FALSE(writeTable(table, kFields, rows(3)).ok());
        expectOldPairIntact();
        ASSERT_TRUE(QFile::setPermissions(protectedFile, QFile::ReadOwner | QFile::WriteOwner));
    }
}

TEST_F(Replace, NewTableDropsTheOldIndex) {
    ASSERT_TRUE(writeTable(table, kFields, rows(3)).ok());
    EXPECT_FALSE(readTableInfo(table).value().keyed);
    EXPECT_EQ(filesIn(dir.path()), QStringList{"k.db"});

    // Created anew, the same; and the table opens without the index it no longer needs.
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(10)).ok());
    ASSERT_TRUE(createTable(table, readingsLikeFields()).ok());
    EXPECT_FALSE(QFileInfo::exists(index));
    EXPECT_TRUE(succeeds(TableReader::open(table)));
}

TEST_F(Replace, CancelledWriteLeavesThePair) {
    // Rows in key order are written in one pass; others take a pass over the keys first.
    auto shuffled = rows(20000);
    std::swap(shuffled[5], shuffled[19000]);
    struct Case {
        std::vector<Record> rows;
        std::int64_t total;
    };
    for (const Case& c : {Case{rows(20000), 20000}, Case{shuffled, 40000}}) {
        WriteOptions o;
        std::int64_t seen = 0, lastTotal = 0;
        o.progress = [&](std::int64_t done, std::int64_t total) {
            seen = done;
            lastTotal = total;
            return done < c.total / 2 + 1000; // stop while writing records
        };
        const Status s = writeKeyedTable(table, kFields, c.rows, o);
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), cancelledMessage());
        EXPECT_EQ(lastTotal, c.total);
        EXPECT_GE(seen, c.total / 2);
        expectOldPairIntact();
    }
    // Out of order, the rows are stored sorted.
    ASSERT_TRUE(writeKeyedTable(table, kFields, shuffled).ok());
    Result<std::vector<Record>> back = readTable(table);
    ASSERT_TRUE(back.ok());
    for (std::size_t i = 0; i < back.value().size(); ++i)
        ASSERT_EQ(back.value()[i][0].toInt(), static_cast<std::int64_t>(i + 1));
}

namespace {

int dieAt = -1;
bool stepsUntilKilled(int step) {
    return step != dieAt;
}

// The process "dies" before the given rename of a change of several files.
struct KilledBeforeRename {
    explicit KilledBeforeRename(int step) {
        dieAt = step;
        testhooks::setStepFunction(&stepsUntilKilled);
    }
    ~KilledBeforeRename() { testhooks::setStepFunction(nullptr); }
};

} // namespace

// Random kills never land between the renames of table and index; the hook puts one there.
// Whoever opens the table next finds it whole, with the new records.
TEST_F(Replace, KilledBetweenTheRenamesIsFinishedOnOpen) {
    struct Opener {
        const char* name;
        std::function<bool(const QString&)> open;
    };
    const Opener openers[] = {
        {"reader", [](const QString& p) { return TableReader::open(p).ok(); }},
        {"lock", [](const QString& p) { return TableLock::acquire(p).ok(); }},
        {"repair", [](const QString& p) { return rebuildPrimaryIndex(p).ok(); }},
    };
    int n = 20;
    for (const Opener& o : openers) {
        for (int step : {0, 1}) {
            n += 7;
            {
                KilledBeforeRename killed(step);
                ASSERT_FALSE(writeKeyedTable(table, kFields, rows(n, 3)).ok());
            }
            if (step == 1) {
                // What a crash there left: the new table beside the old index.
                EXPECT_EQ(fileBytes(index), oldIndex);
            }
            ASSERT_TRUE(o.open(table)) << o.name << " " << step;
            const Result<TableReader> r = TableReader::open(table);
            ASSERT_TRUE(r.ok()) << r.error().toStdString();
            EXPECT_EQ(r.value().info().recordCount, n) << o.name << " " << step;
            EXPECT_EQ(filesIn(dir.path()), (QStringList{"k.db", "k.px"})) << o.name << " " << step;
            oldIndex = fileBytes(index);
        }
    }
}

TEST_F(Replace, RepairOutOfOrderChangesTableAndIndexTogether) {
    // A table written out of key order by hand: the repair rewrites both in one change.
    ASSERT_TRUE(writeTable(table, kFields, {rows(3, 5)[2], rows(3, 5)[0], rows(3, 5)[1]}).ok());
    QByteArray b = fileBytes(table);
    b[0x04] = 0; // keyed
    b[0x23] = 1; // on one field
    ASSERT_TRUE(putFile(table, b));
    {
        KilledBeforeRename killed(1);
        ASSERT_FALSE(rebuildPrimaryIndex(table).ok());
    }
    const Result<std::vector<Record>> back = readTable(table);
    ASSERT_TRUE(back.ok()) << back.error().toStdString();
    EXPECT_EQ(back.value()[0][0].toInt(), 5);
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"k.db", "k.px"}));
}

TEST_F(Replace, TableAndIndexKeepTheirModes) {
    for (const QString& p : {table, index})
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0640), 0);
    auto modes = [&] {
        QList<unsigned> m;
        for (const QString& p : {table, index}) {
            struct stat st {};
            ::stat(QFile::encodeName(p).constData(), &st);
            m << (st.st_mode & 07777);
        }
        return m;
    };
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(40)).ok());
    EXPECT_EQ(modes(), (QList<unsigned>{0640, 0640})) << "keyed write";
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(rebuildPrimaryIndex(table).ok());
    ASSERT_EQ(::chmod(QFile::encodeName(index).constData(), 0640), 0);
    ASSERT_TRUE(emptyTable(table).ok());
    EXPECT_EQ(modes(), (QList<unsigned>{0640, 0640})) << "emptied";
}

TEST_F(Replace, LeftoversOfKilledSavesGoWithTheNextSave) {
    // What 33 killed saves of a large table left, in small.
    const QStringList dead = {".k.db.00000001.tmp", ".k.db.0000abcd.tmp", ".k.px.12345678.tmp",
                              ".k.db.87654321.old"};
    for (const QString& n : dead)
        ASSERT_TRUE(putFile(dir.filePath(n), QByteArray(100000, 'x')));
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(12)).ok());
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"k.db", "k.px"}));
}

TEST_F(Replace, LinkedTableIsWrittenThroughAndStaysALink) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    const QString real = path("data/real.db");
    ASSERT_TRUE(QFile::rename(table, real));
    ASSERT_TRUE(QFile::rename(index, path("data/real.px")));
    ASSERT_TRUE(QFile::link("data/real.db", table));
    ASSERT_TRUE(QFile::link("data/real.px", index));
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(60)).ok());
    EXPECT_TRUE(QFileInfo(table).isSymLink());
    EXPECT_TRUE(QFileInfo(index).isSymLink());
    EXPECT_EQ(readTableInfo(real).value().recordCount, 60);
    EXPECT_EQ(readTableInfo(table).value().recordCount, 60);
}

TEST(ParadoxSpecialFiles, ThingsThatAreNotFilesAreRefusedAtOnce) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.db"));
    struct Case {
        QString path;
        const char* kind;
    };
    for (const Case& c : {Case{fifo, "a pipe"}, Case{dir.filePath("folder.db"), "a folder"},
                          Case{QStringLiteral("/dev/null"), "a device"}}) {
        const QString name = QDir::toNativeSeparators(c.path);
        QElapsedTimer clock;
        clock.start();
        const Result<TableReader> r = TableReader::open(c.path);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(
            r.error(),
            QStringLiteral("Cannot open table file %1: it is %2, not a file").arg(name, c.kind));
        EXPECT_TRUE(failsWith(TableLock::acquire(c.path), c.kind));
        EXPECT_TRUE(failsWith(readPrimaryIndex(c.path), c.kind));
        const Status w = createTable(c.path, readingsLikeFields());
        ASSERT_FALSE(w.ok());
        EXPECT_EQ(w.error(),
                  QStringLiteral("Cannot write %1: it is %2, not a file").arg(name, c.kind));
        EXPECT_LT(clock.elapsed(), 5000) << "nothing waits for a writer";
    }
    // Nothing was put in their place, and nothing was left behind.
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_TRUE(QFileInfo(dir.filePath("folder.db")).isDir());
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"folder.db", "pipe.db"}));
}

// The file-size limit cuts a write short the way a full disk does: part of a block is
// written, then the system refuses the rest.
TEST(ParadoxSpecialFiles, ShortWritesEndWithTheSystemsReason) {
    QTemporaryDir dir;
    const QString t = dir.filePath("big.db");
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
    EXPECT_EQ(filesIn(dir.path()), QStringList{"big.db"});
}
