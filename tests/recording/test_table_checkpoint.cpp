#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"
#include "recording/table_checkpoint.h"
#include "support/table_files.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;

namespace {

struct Checkpoints : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath("run.db");
    ReadingsTable table;

    void SetUp() override { table.openScratch(readingsFields()); }

    void appendRecords(int n) {
        for (int i = 0; i < n; ++i) {
            const auto no = static_cast<std::int32_t>(table.rowCount() + 1);
            table.append();
            ASSERT_TRUE(table.setFieldInt("No", no).ok());
            ASSERT_TRUE(table.setFieldTime("Time", no * 1000).ok());
            ASSERT_TRUE(table.setFieldText("Value", "1.234").ok());
            ASSERT_TRUE(table.post().ok());
        }
    }

    // Records in the file as another program sees it: a keyed table with its index.
    qint64 onDisk() const {
        const Result<px::TableReader> r = px::TableReader::open(path);
        EXPECT_TRUE(r.ok()) << r.error().toStdString();
        if (!r.ok())
            return -1;
        EXPECT_TRUE(r.value().info().keyed);
        return r.value().info().recordCount;
    }

    bool lockedByUs() const { return !px::TableLock::acquire(path).ok(); }
};

} // namespace

TEST_F(Checkpoints, NewTargetIsClaimedAtOnceAndFollowsTheRecording) {
    Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(onDisk(), 0);
    EXPECT_TRUE(lockedByUs());
    // A second recorder on the same name is refused before it records anything.
    ReadingsTable other;
    other.openScratch(readingsFields());
    const Result<std::unique_ptr<TableCheckpoint>> second = TableCheckpoint::begin(path, other);
    ASSERT_FALSE(second.ok());
    EXPECT_TRUE(second.error().contains("in use by another program"))
        << second.error().toStdString();

    appendRecords(TableCheckpoint::kEveryRecords - 1);
    EXPECT_EQ(onDisk(), 0) << "not yet due";
    appendRecords(1);
    EXPECT_EQ(onDisk(), TableCheckpoint::kEveryRecords);
    // The new file was locked before it took the name.
    EXPECT_TRUE(lockedByUs());

    appendRecords(3);
    ASSERT_TRUE(c.value()->finish(false).ok());
    EXPECT_EQ(onDisk(), TableCheckpoint::kEveryRecords + 3);
    EXPECT_EQ(c.value()->checkpoints(), 3);
    c.value().reset();
    EXPECT_FALSE(lockedByUs());
    EXPECT_EQ(QDir(dir.path()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);
}

TEST_F(Checkpoints, ExistingTargetKeptUntilThereIsSomethingToWrite) {
    std::vector<px::Record> old(30,
                                px::Record{px::Value(std::int32_t{1}), px::Value(), px::Value("x"),
                                           px::Value(), px::Value(), px::Value()});
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i][0] = px::Value(static_cast<std::int32_t>(i + 1));
    ASSERT_TRUE(px::writeKeyedTable(path, readingsFields(), old).ok());
    const QByteArray before = fileBytes(path);
    {
        Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
        ASSERT_TRUE(c.ok()) << c.error().toStdString();
        EXPECT_TRUE(lockedByUs());
        // A run that failed before recording anything leaves the old file alone.
        ASSERT_TRUE(c.value()->finish(true).ok());
        EXPECT_EQ(fileBytes(path), before);
    }
    {
        Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
        ASSERT_TRUE(c.ok());
        appendRecords(2);
        ASSERT_TRUE(c.value()->write().ok());
        EXPECT_EQ(onDisk(), 2);
    }
    // Held by someone else: refused at once, the file untouched.
    const QByteArray now = fileBytes(path);
    {
        Result<std::unique_ptr<px::TableLock>> held = px::TableLock::acquire(path);
        ASSERT_TRUE(held.ok());
        const Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
        ASSERT_FALSE(c.ok());
        EXPECT_TRUE(c.error().contains("in use")) << c.error().toStdString();
    }
    EXPECT_EQ(fileBytes(path), now);
}

TEST_F(Checkpoints, FailedRunLeavesNoFileItMade) {
    Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(QFile::exists(path));
    ASSERT_TRUE(c.value()->finish(true).ok());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(px::indexPathFor(path)));

    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Result<std::unique_ptr<TableCheckpoint>> p = TableCheckpoint::begin(fifo, table);
    ASSERT_FALSE(p.ok());
    EXPECT_TRUE(p.error().contains("it is a pipe, not a file")) << p.error().toStdString();
    const Result<std::unique_ptr<TableCheckpoint>> f =
        TableCheckpoint::begin(dir.filePath("no/such/folder.db"), table);
    ASSERT_FALSE(f.ok());
    EXPECT_TRUE(f.error().contains("folder.db")) << f.error().toStdString();
}

TEST_F(Checkpoints, ReadOnlyTableOrIndexIsRefusedBeforeTheRecording) {
    appendRecords(3);
    ASSERT_TRUE(px::writeKeyedTable(path, readingsFields(), {}).ok());
    const QString index = px::indexPathFor(path);
    for (const QString& protectedFile : {path, index}) {
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0444), 0);
        const QByteArray table0 = fileBytes(path), index0 = fileBytes(index);
        const Result<std::unique_ptr<TableCheckpoint>> c = TableCheckpoint::begin(path, table);
        ASSERT_FALSE(c.ok());
        EXPECT_TRUE(c.error().contains("read-only")) << c.error().toStdString();
        EXPECT_TRUE(c.error().contains(protectedFile)) << c.error().toStdString();
        EXPECT_EQ(fileBytes(path), table0);
        EXPECT_EQ(fileBytes(index), index0);
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0644), 0);
    }
}
