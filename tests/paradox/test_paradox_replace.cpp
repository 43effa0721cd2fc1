// Replacing table files: a table and its index change together or not at all, no temporary
// file is ever left behind, and a new table never keeps the index of the one it replaces.
#include "support/table_files.h"

#include "common/replacing_file.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/stat.h>

using namespace kx;
using namespace kx::px;

namespace {

const std::vector<FieldDef> kFields = {{"No", FieldType::Long, 4}, {"Text", FieldType::Alpha, 12}};

std::vector<Record> rows(int n, int first = 1) {
    std::vector<Record> out;
    for (int i = 0; i < n; ++i)
        out.push_back({Value(std::int32_t(first + i)), Value(QByteArray::number(i))});
    return out;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path())
        .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                   QDir::Name);
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

struct Replace : ::testing::Test {
    QTemporaryDir dir;
    QString table = dir.filePath("k.db");
    QString index = dir.filePath("k.px");
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
        EXPECT_EQ(filesIn(dir), (QStringList{"k.db", "k.px"})) << "no temporary left";
    }
};

} // namespace

TEST_F(Replace, IndexRenameFailingRestoresTheOldTable) {
    // The table is already renamed into place when the index fails: the old one comes back.
    RenameFails fails(".px");
    const Status s = writeKeyedTable(table, kFields, rows(500, 100));
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("k.px")) << s.error().toStdString();
    expectOldPairIntact();
}

TEST_F(Replace, TableRenameFailingLeavesBoth) {
    RenameFails fails(".db");
    ASSERT_FALSE(writeKeyedTable(table, kFields, rows(500, 100)).ok());
    expectOldPairIntact();
}

TEST_F(Replace, FailureWithoutAnOldPairLeavesNothing) {
    RenameFails fails(".px");
    ASSERT_FALSE(writeKeyedTable(dir.filePath("fresh.db"), kFields, rows(5)).ok());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("fresh.db"))) << "no new table without its index";
    expectOldPairIntact();
}

TEST_F(Replace, FolderInTheWayOfTheIndex) {
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir(dir.path()).mkpath("k.px/inside"));
    const Status s = writeKeyedTable(table, kFields, rows(50));
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("folder")) << s.error().toStdString();
    EXPECT_EQ(fileBytes(table), oldTable);
    EXPECT_TRUE(QFileInfo(index).isDir());
    EXPECT_EQ(filesIn(dir), (QStringList{"k.db", "k.px"}));
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
    EXPECT_FALSE(QFileInfo::exists(index));
    EXPECT_FALSE(readTableInfo(table).value().keyed);
    EXPECT_EQ(filesIn(dir), QStringList{"k.db"});

    // Created anew, the same.
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(10)).ok());
    ASSERT_TRUE(createTable(table, kFields).ok());
    EXPECT_FALSE(QFileInfo::exists(index));
}

TEST_F(Replace, OldIndexThatCannotGoKeepsTheOldTable) {
    // Deleting the old index fails: the new table is taken back.
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir(dir.path()).mkpath("k.px/inside"));
    ASSERT_FALSE(writeTable(table, kFields, rows(3)).ok());
    EXPECT_EQ(fileBytes(table), oldTable);
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

TEST_F(Replace, EmptyingKeepsThePairConsistentOnFailure) {
    RenameFails fails(".px");
    ASSERT_FALSE(emptyTable(table).ok());
    expectOldPairIntact();
}

TEST(ParadoxSpecialFiles, PipesAndFoldersAreRefusedAtOnce) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Neither call may wait for a writer on the pipe.
    const Result<TableReader> r = TableReader::open(fifo);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains("it is a pipe")) << r.error().toStdString();
    const auto lock = TableLock::acquire(fifo);
    ASSERT_FALSE(lock.ok());
    EXPECT_TRUE(lock.error().contains("it is a pipe")) << lock.error().toStdString();

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.db"));
    const auto folderLock = TableLock::acquire(dir.filePath("folder.db"));
    ASSERT_FALSE(folderLock.ok());
    EXPECT_TRUE(folderLock.error().contains("folder")) << folderLock.error().toStdString();
    EXPECT_FALSE(TableReader::open(dir.filePath("folder.db")).ok());
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
            EXPECT_EQ(filesIn(dir), (QStringList{"k.db", "k.px"})) << o.name << " " << step;
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
    EXPECT_EQ(filesIn(dir), (QStringList{"k.db", "k.px"}));
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
    EXPECT_EQ(filesIn(dir), (QStringList{"k.db", "k.px"}));
}

TEST_F(Replace, LinkedTableIsWrittenThroughAndStaysALink) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    const QString real = dir.filePath("data/real.db");
    ASSERT_TRUE(QFile::rename(table, real));
    ASSERT_TRUE(QFile::rename(index, dir.filePath("data/real.px")));
    ASSERT_TRUE(QFile::link("data/real.db", table));
    ASSERT_TRUE(QFile::link("data/real.px", index));
    ASSERT_TRUE(writeKeyedTable(table, kFields, rows(60)).ok());
    EXPECT_TRUE(QFileInfo(table).isSymLink());
    EXPECT_TRUE(QFileInfo(index).isSymLink());
    EXPECT_EQ(readTableInfo(real).value().recordCount, 60);
    EXPECT_EQ(readTableInfo(table).value().recordCount, 60);
}
