// A recording kept in a table file: claimed at once, written at checkpoints, journalled in
// between, and what a killed recording left folded in at the next claim.
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "recording/recording_keeper.h"
#include "support/reading_rows.h"
#include "support/table_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using kxtest::failsWith;

namespace {

const QDateTime kNow(QDate(2026, 5, 6), QTime(7, 8));

std::vector<px::Record> numbered(const std::vector<int>& numbers) {
    std::vector<px::Record> rows;
    for (const int n : numbers)
        rows.push_back({px::Value(std::int32_t{n}), px::Value::timeOfDay(1000 * n),
                        px::Value("1.5"), px::Value("V"), px::Value("DCV  600V"),
                        px::Value("Continuous")});
    return rows;
}

std::vector<int> numbersIn(const QString& path) {
    std::vector<int> out;
    const Result<std::vector<px::Record>> rows = px::readTable(path);
    EXPECT_TRUE(rows.ok()) << rows.error().toStdString();
    if (rows.ok()) {
        for (const px::Record& r : rows.value())
            out.push_back(static_cast<int>(r[0].toInt()));
    }
    return out;
}

std::vector<int> range(int from, int to) {
    std::vector<int> out;
    for (int n = from; n <= to; ++n)
        out.push_back(n);
    return out;
}

JournalContents journalOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? parseJournal(f.readAll()) : JournalContents{};
}

struct Keeper : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath("run.db");
    ReadingsTable table;
    RecordingKeeper keeper{table};

    void SetUp() override { table.openScratch(readingsFields()); }

    void appendRecords(int n) {
        for (int i = 0; i < n; ++i) {
            const auto no = static_cast<std::int32_t>(table.rowCount() + 1);
            ASSERT_TRUE(table.appendReading(Reading{no, no * 1000, "1.234", "V", "", ""}).ok());
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
    QString journal() const { return RecordingKeeper::journalBeside(path); }
    QStringList recovered() const {
        return QDir(dir.path()).entryList({QStringLiteral("recovered-*.db")}, QDir::Files);
    }
};

} // namespace

TEST_F(Keeper, NewTargetIsClaimedAtOnceAndFollowsTheRecording) {
    const Result<KeptFile> kept = keeper.keepInFile(path, false, kNow);
    ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
    EXPECT_TRUE(kept.value().notes.isEmpty());
    EXPECT_EQ(onDisk(), 0);
    EXPECT_TRUE(lockedByUs());
    // A second recorder on the same name is refused before it records anything.
    ReadingsTable other;
    other.openScratch(readingsFields());
    RecordingKeeper second(other);
    const Result<KeptFile> refused = second.keepInFile(path, false, kNow);
    ASSERT_TRUE(failsWith(refused, "in use by another program"));

    appendRecords(RecordingKeeper::kEveryRecords - 1);
    EXPECT_EQ(onDisk(), 0) << "not yet due";
    // Each reading is in the journal at once.
    EXPECT_EQ(journalOf(journal()).readings.size(), RecordingKeeper::kEveryRecords - 1u);
    appendRecords(1);
    EXPECT_EQ(onDisk(), RecordingKeeper::kEveryRecords);
    // The new file was locked before it took the name; the journal starts after it.
    EXPECT_TRUE(lockedByUs());
    JournalContents j = journalOf(journal());
    EXPECT_TRUE(j.readings.empty());
    EXPECT_EQ(j.base,
              (JournalBase{RecordingKeeper::kEveryRecords, RecordingKeeper::kEveryRecords}));

    appendRecords(3);
    EXPECT_EQ(journalOf(journal()).readings.size(), 3u);
    ASSERT_TRUE(keeper.finish().ok());
    EXPECT_EQ(onDisk(), RecordingKeeper::kEveryRecords + 3);
    EXPECT_EQ(keeper.checkpoints(), 3);
    EXPECT_FALSE(lockedByUs());
    EXPECT_FALSE(QFile::exists(journal()));
    EXPECT_EQ(QDir(dir.path()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);
}

TEST_F(Keeper, ExistingTargetKeptUntilThereIsSomethingToWrite) {
    ASSERT_TRUE(px::writeKeyedTable(path, readingsFields(), numbered(range(1, 30))).ok());
    const QByteArray before = fileBytes(path);
    {
        RecordingKeeper k(table);
        ASSERT_TRUE(k.keepInFile(path, false, kNow).ok());
        EXPECT_TRUE(lockedByUs());
        // A run that failed before recording anything leaves the old file alone.
        ASSERT_TRUE(k.finish(true).ok());
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_FALSE(QFile::exists(journal()));
    }
    {
        RecordingKeeper k(table);
        ASSERT_TRUE(k.keepInFile(path, false, kNow).ok());
        appendRecords(2);
        ASSERT_TRUE(k.checkpoint().ok());
        EXPECT_EQ(onDisk(), 2);
        ASSERT_TRUE(k.finish().ok());
    }
    // Held by someone else: refused at once, the file untouched.
    const QByteArray now = fileBytes(path);
    {
        Result<std::unique_ptr<px::TableLock>> held = px::TableLock::acquire(path);
        ASSERT_TRUE(held.ok());
        RecordingKeeper k(table);
        const Result<KeptFile> c = k.keepInFile(path, false, kNow);
        ASSERT_TRUE(failsWith(c, "in use"));
    }
    EXPECT_EQ(fileBytes(path), now);
}

TEST_F(Keeper, AppendReadsTheFileAndRefusesOtherTables) {
    ASSERT_TRUE(px::writeKeyedTable(path, readingsFields(), numbered({3, 9, 15})).ok());
    const Result<KeptFile> kept = keeper.keepInFile(path, true, kNow);
    ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
    EXPECT_EQ(kept.value().kept, 3);
    EXPECT_EQ(table.highestNo(), 15);
    EXPECT_EQ(journalOf(journal()).base, (JournalBase{3, 15}));
    ASSERT_TRUE(keeper.finish().ok());

    const QString store = dir.filePath("store.db");
    ASSERT_TRUE(px::writeKeyedTable(store, readingsFields(true), numbered({1})).ok());
    const QByteArray before = fileBytes(store);
    const Result<KeptFile> refused = keeper.keepInFile(store, true, kNow);
    ASSERT_TRUE(failsWith(refused, "is not a readings table"));
    EXPECT_EQ(fileBytes(store), before);
    EXPECT_FALSE(table.isOpen());
    EXPECT_TRUE(px::TableLock::acquire(store).ok()) << "the claim is let go";
}

TEST_F(Keeper, FailedRunLeavesNoFileItMade) {
    ASSERT_TRUE(keeper.keepInFile(path, false, kNow).ok());
    ASSERT_TRUE(QFile::exists(path));
    ASSERT_TRUE(keeper.finish(true).ok());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(px::indexPathFor(path)));
    EXPECT_FALSE(QFile::exists(journal()));

    const QString fifo = dir.filePath("pipe.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Result<KeptFile> p = keeper.keepInFile(fifo, false, kNow);
    ASSERT_TRUE(failsWith(p, "it is a pipe, not a file"));
    const Result<KeptFile> f = keeper.keepInFile(dir.filePath("no/such/folder.db"), false, kNow);
    ASSERT_TRUE(failsWith(f, "folder.db"));
}

TEST_F(Keeper, ReadOnlyTableOrIndexIsRefusedBeforeTheRecording) {
    appendRecords(3);
    ASSERT_TRUE(px::writeKeyedTable(path, readingsFields(), {}).ok());
    const QString index = px::indexPathFor(path);
    for (const QString& protectedFile : {path, index}) {
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0444), 0);
        const QByteArray table0 = fileBytes(path), index0 = fileBytes(index);
        const Result<KeptFile> c = keeper.keepInFile(path, false, kNow);
        ASSERT_TRUE(failsWith(c, "read-only"));
        EXPECT_TRUE(failsWith(c, protectedFile));
        EXPECT_EQ(fileBytes(path), table0);
        EXPECT_EQ(fileBytes(index), index0);
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0644), 0);
    }
}

// Killed after its first checkpoint, a recording loses nothing: the next claim of the file
// adds what the journal holds.
TEST_F(Keeper, AKilledRecordingIsFoldedInAtTheNextClaim) {
    ASSERT_TRUE(keeper.keepInFile(path, false, kNow).ok());
    appendRecords(RecordingKeeper::kEveryRecords + 3);
    ASSERT_EQ(onDisk(), RecordingKeeper::kEveryRecords);
    keeper.leave(); // what a kill leaves: the journal, unlocked
    ASSERT_TRUE(QFile::exists(journal()));

    ReadingsTable next;
    next.openScratch(readingsFields());
    RecordingKeeper again(next);
    const Result<KeptFile> kept = again.keepInFile(path, true, kNow);
    ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
    ASSERT_EQ(kept.value().notes.size(), 1);
    EXPECT_TRUE(kept.value().notes[0].startsWith("3 readings of a recording into"))
        << kept.value().notes[0].toStdString();
    EXPECT_EQ(kept.value().kept, RecordingKeeper::kEveryRecords + 3);
    EXPECT_EQ(numbersIn(path), range(1, RecordingKeeper::kEveryRecords + 3));
    EXPECT_TRUE(journalOf(journal()).readings.empty()) << "the journal is this recording's now";
    EXPECT_TRUE(recovered().isEmpty());
    ASSERT_TRUE(again.finish().ok());
}

// What the next claim makes of a journal left beside the file, by how the file stands and
// whether the new recording follows the file (--append) or replaces it (--out).
TEST_F(Keeper, LeftOverJournalsAreFoldedOnlyIntoTheFileTheyFollow) {
    struct Case {
        const char* name;
        bool append;
        std::vector<int> file;
        std::optional<JournalBase> base;
        std::vector<int> journalled;
        std::vector<int> fileAfter;
        std::vector<int> recoveredAfter; // empty: no recovered table
    };
    const Case cases[] = {
        {"follows the file", true, {1, 2, 3}, JournalBase{3, 3}, {4, 5}, {1, 2, 3, 4, 5}, {}},
        {"file changed since",
         true,
         {1, 2, 3, 4, 9},
         JournalBase{3, 3},
         {4, 5},
         {1, 2, 3, 4, 9},
         {4, 5}},
        {"already written", true, {1, 2, 3, 4, 5}, JournalBase{3, 3}, {4, 5}, {1, 2, 3, 4, 5}, {}},
        {"an old file not yet replaced", true, {7, 8}, std::nullopt, {1, 2}, {7, 8}, {1, 2}},
        {"nothing journalled", true, {1, 2}, JournalBase{2, 2}, {}, {1, 2}, {}},
        // The file is to be replaced: what the journal holds is kept beside it.
        {"follows the file, --out", false, {1, 2, 3}, JournalBase{3, 3}, {4, 5}, {1, 2, 3}, {4, 5}},
        {"already written, --out",
         false,
         {1, 2, 3, 4, 5},
         JournalBase{3, 3},
         {4, 5},
         {1, 2, 3, 4, 5},
         {4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir d;
        const QString file = d.filePath("mine.db");
        ASSERT_TRUE(px::writeKeyedTable(file, readingsFields(), numbered(c.file)).ok());
        {
            auto j = RecordingJournal::create(RecordingKeeper::journalBeside(file), c.base);
            ASSERT_TRUE(j.ok());
            for (const int n : c.journalled)
                ASSERT_TRUE(j.value()->append(Reading{n, n, "2.5", "V", "", ""}).ok());
        }
        ReadingsTable t;
        t.openScratch(readingsFields());
        RecordingKeeper k(t);
        const Result<KeptFile> kept = k.keepInFile(file, c.append, kNow);
        ASSERT_TRUE(kept.ok()) << kept.error().toStdString();
        EXPECT_EQ(numbersIn(file), c.fileAfter);
        const QStringList saved =
            QDir(d.path()).entryList({QStringLiteral("recovered-*.db")}, QDir::Files);
        if (c.recoveredAfter.empty()) {
            EXPECT_TRUE(saved.isEmpty());
        } else {
            ASSERT_EQ(saved, QStringList{"recovered-2605060708.db"});
            EXPECT_EQ(numbersIn(d.filePath(saved[0])), c.recoveredAfter);
            ASSERT_EQ(kept.value().notes.size(), 1);
            EXPECT_TRUE(kept.value().notes[0].contains(saved[0]));
        }
        EXPECT_TRUE(journalOf(RecordingKeeper::journalBeside(file)).readings.empty());
        ASSERT_TRUE(k.finish(true).ok());
    }
}
