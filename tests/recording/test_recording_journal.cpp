#include "paradox/paradox_reader.h"
#include "recording/recording_journal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;
using Reading = RecordingJournal::Reading;

namespace {

Reading reading(std::int32_t no, const char* value) {
    return Reading{no, 3723004, value, "M\xA6\xB8", "IR:500V 20G\xA6\xB8", "Continuous"};
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Journal : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath("recording-1.journal");
};

} // namespace

TEST_F(Journal, ReadingsAndDeletionsReadBackInOrder) {
    auto j = RecordingJournal::create(path);
    ASSERT_TRUE(j.ok()) << j.error().toStdString();
    ASSERT_TRUE(j.value()->append(reading(1, "1.00")).ok());
    ASSERT_TRUE(j.value()->append(reading(2, "2 0\n\t")).ok()) << "any bytes";
    Reading untimed = reading(3, "");
    untimed.msOfDay.reset();
    ASSERT_TRUE(j.value()->append(untimed).ok());
    ASSERT_TRUE(j.value()->appendDeletion(1).ok());
    ASSERT_TRUE(j.value()->append(reading(4, "4")).ok());

    // Every reading is in the file as soon as it is recorded, while the journal is open.
    const JournalContents c = parseJournal(bytesOf(path));
    EXPECT_TRUE(c.recognised);
    EXPECT_EQ(c.damagedLines, 0);
    ASSERT_EQ(c.readings.size(), 3u);
    EXPECT_EQ(c.readings[0], reading(2, "2 0\n\t"));
    EXPECT_EQ(c.readings[1], untimed);
    EXPECT_EQ(c.readings[2].no, 4);
    EXPECT_FALSE(journalLeftOver(path)) << "a journal in use is not left over";
}

TEST_F(Journal, CutAndDamagedLinesAreSkipped) {
    auto j = RecordingJournal::create(path);
    ASSERT_TRUE(j.ok());
    ASSERT_TRUE(j.value()->append(reading(1, "1")).ok());
    ASSERT_TRUE(j.value()->append(reading(2, "2")).ok());
    QByteArray b = bytesOf(path);
    b.insert(b.indexOf("\nR 2") + 1, "R x zz\nQ\n");
    b.chop(5); // the last line cut short, as by a crash in the middle of a write
    const JournalContents c = parseJournal(b);
    ASSERT_EQ(c.readings.size(), 1u);
    EXPECT_EQ(c.readings[0].no, 1);
    EXPECT_EQ(c.damagedLines, 3);
    EXPECT_FALSE(parseJournal("not a journal\nR 1 - 31 - - -\n").recognised);
    EXPECT_TRUE(parseJournal("").readings.empty());
}

TEST_F(Journal, RestartFinishAndLeftOvers) {
    {
        auto j = RecordingJournal::create(path);
        ASSERT_TRUE(j.ok());
        ASSERT_TRUE(j.value()->append(reading(1, "1")).ok());
        ASSERT_TRUE(j.value()->restart().ok());
        ASSERT_TRUE(j.value()->append(reading(1, "9")).ok());
        EXPECT_EQ(parseJournal(bytesOf(path)).readings.size(), 1u) << "Clear All starts anew";
        // The program dies here: the journal stays behind, unlocked.
    }
    EXPECT_TRUE(journalLeftOver(path));
    EXPECT_EQ(leftOverJournals(dir.path()), QStringList{path});
    EXPECT_FALSE(RecordingJournal::create(dir.path()).ok()) << "a folder is no journal";

    const QString other = newJournalPath(dir.path());
    EXPECT_NE(other, path);
    auto j = RecordingJournal::create(other);
    ASSERT_TRUE(j.ok());
    EXPECT_EQ(leftOverJournals(dir.path()), QStringList{path}) << "the live one is not listed";
    auto second = RecordingJournal::create(other);
    EXPECT_FALSE(second.ok()) << "one program per journal";
    ASSERT_TRUE(j.value()->finish().ok());
    EXPECT_FALSE(QFile::exists(other));
}

TEST_F(Journal, RecoveryWritesAKeyedTableAndRemovesTheJournal) {
    {
        auto j = RecordingJournal::create(path);
        ASSERT_TRUE(j.ok());
        for (int i = 1; i <= 5; ++i)
            ASSERT_TRUE(j.value()->append(reading(i, std::to_string(i).c_str())).ok());
        ASSERT_TRUE(j.value()->appendDeletion(2).ok());
    }
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6));
    const Result<QString> table = recoverJournal(path, dir.path(), when);
    ASSERT_TRUE(table.ok()) << table.error().toStdString();
    EXPECT_EQ(QFileInfo(table.value()).fileName(), "recovered-2603040506.db");
    EXPECT_FALSE(QFile::exists(path));
    const auto rows = px::readTable(table.value());
    ASSERT_TRUE(rows.ok()) << rows.error().toStdString();
    ASSERT_EQ(rows.value().size(), 4u);
    EXPECT_EQ(rows.value()[1][0].toInt(), 3) << "the deleted record stays deleted";
    EXPECT_EQ(rows.value()[1][1].msecs(), 3723004);
    EXPECT_EQ(rows.value()[1][3].rawBytes(), "M\xA6\xB8");
    EXPECT_EQ(px::readTableInfo(table.value()).value().keyFieldCount, 1);

    // A second recovery in the same minute does not write over the first; repeated numbers
    // (a recording whose numbering restarted) are renumbered so the key holds.
    {
        auto j = RecordingJournal::create(path);
        ASSERT_TRUE(j.ok());
        ASSERT_TRUE(j.value()->append(reading(1, "a")).ok());
        ASSERT_TRUE(j.value()->append(reading(1, "b")).ok());
    }
    const Result<QString> again = recoverJournal(path, dir.path(), when);
    ASSERT_TRUE(again.ok()) << again.error().toStdString();
    EXPECT_EQ(QFileInfo(again.value()).fileName(), "recovered-2603040506-2.db");
    const auto rows2 = px::readTable(again.value());
    ASSERT_TRUE(rows2.ok());
    ASSERT_EQ(rows2.value().size(), 2u);
    EXPECT_EQ(rows2.value()[1][0].toInt(), 2);
    EXPECT_EQ(rows2.value()[1][2].rawBytes(), "b");
}

TEST_F(Journal, RecoveryFailureKeepsTheJournal) {
    {
        auto j = RecordingJournal::create(path);
        ASSERT_TRUE(j.ok());
        ASSERT_TRUE(j.value()->append(reading(1, "1")).ok());
    }
    const Result<QString> r =
        recoverJournal(path, dir.filePath("no/such/folder"), QDateTime::currentDateTime());
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(journalLeftOver(path));

    // An empty journal recovers to nothing and goes away.
    const QString empty = dir.filePath("recording-2.journal");
    { ASSERT_TRUE(RecordingJournal::create(empty).ok()); }
    const Result<QString> none = recoverJournal(empty, dir.path(), QDateTime::currentDateTime());
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().isEmpty());
    EXPECT_FALSE(QFile::exists(empty));
}

TEST_F(Journal, TheTableTheReadingsFollowIsNamedFirst) {
    auto j = RecordingJournal::create(path, JournalBase{3, 15});
    ASSERT_TRUE(j.ok());
    ASSERT_TRUE(j.value()->append(reading(16, "1")).ok());
    JournalContents c = parseJournal(bytesOf(path));
    EXPECT_EQ(c.base, (JournalBase{3, 15}));
    EXPECT_EQ(c.readings.size(), 1u);
    // A checkpoint starts it again after the new table; a reset follows no table.
    ASSERT_TRUE(j.value()->restart(JournalBase{16, 16}).ok());
    c = parseJournal(bytesOf(path));
    EXPECT_EQ(c.base, (JournalBase{16, 16}));
    EXPECT_TRUE(c.readings.empty());
    ASSERT_TRUE(j.value()->restart().ok());
    EXPECT_FALSE(parseJournal(bytesOf(path)).base.has_value());

    const struct {
        const char* text;
        std::optional<JournalBase> base;
        int damaged;
    } cases[] = {
        {"KXJOURNAL 1\nB 5 -\n", JournalBase{5, std::nullopt}, 0},
        {"KXJOURNAL 1\nR 1 - 31 56 44 43\nB 1 1\n", std::nullopt, 1}, // only before readings
        {"KXJOURNAL 1\nB -1 2\n", std::nullopt, 1},
        {"KXJOURNAL 1\nB 2 x\n", std::nullopt, 1},
    };
    for (const auto& k : cases) {
        const JournalContents p = parseJournal(k.text);
        EXPECT_EQ(p.base, k.base) << k.text;
        EXPECT_EQ(p.damagedLines, k.damaged) << k.text;
    }
}
