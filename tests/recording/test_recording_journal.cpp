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

// A deletion takes the last reading of its number: after a numbering restart the earlier
// reading of that number is kept, in the journal and in the table a recovery writes.
TEST_F(Journal, ADeletionTakesTheLastReadingOfItsNumber) {
    const struct {
        const char* name;
        std::vector<std::pair<std::int32_t, const char*>>
            recorded;                  // {No, value}; value null: deleted
        std::vector<std::string> kept; // the values recovered
    } cases[] = {
        {"numbering restarted once", {{1, "a"}, {2, "b"}, {1, "c"}, {1, nullptr}}, {"a", "b"}},
        {"deleted twice", {{1, "a"}, {1, "b"}, {1, "c"}, {1, nullptr}, {1, nullptr}}, {"a"}},
        {"earlier deletion first",
         {{1, "a"}, {1, nullptr}, {1, "b"}, {2, "c"}, {1, "d"}, {1, nullptr}},
         {"b", "c"}},
        {"no such number", {{1, "a"}, {7, nullptr}, {2, "b"}}, {"a", "b"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        QFile::remove(path);
        {
            auto j = RecordingJournal::create(path);
            ASSERT_TRUE(j.ok());
            for (const auto& [no, value] : k.recorded)
                ASSERT_TRUE(
                    (value ? j.value()->append(reading(no, value)) : j.value()->appendDeletion(no))
                        .ok());
        }
        std::vector<std::string> values;
        for (const Reading& r : parseJournal(bytesOf(path)).readings)
            values.push_back(r.value);
        EXPECT_EQ(values, k.kept);
        const Result<QString> table =
            recoverJournal(path, dir.path(), QDateTime::currentDateTime());
        ASSERT_TRUE(table.ok()) << table.error().toStdString();
        const auto rows = px::readTable(table.value());
        ASSERT_TRUE(rows.ok());
        std::vector<std::string> recovered;
        for (const auto& row : rows.value())
            recovered.push_back(row[2].rawBytes().toStdString());
        EXPECT_EQ(recovered, k.kept);
        QFile::remove(table.value());
        QFile::remove(table.value().chopped(3) + ".px");
    }
}

// What a recovery cannot bring back is named: the readings a journal could no longer keep,
// and each damaged or cut line with the reading it followed.
TEST_F(Journal, WhatCannotBeRecoveredIsNamed) {
    const QByteArray none = "G -----------\n";
    const struct {
        const char* name;
        QByteArray text;
        std::size_t readings;
        QStringList missing;
    } cases[] = {
        {"nothing missing", "KXJOURNAL 1\n" + none + "R 1 - 31 31 31 31\n", 1, {}},
        {"journal lost from No. 56",
         "KXJOURNAL 1\nG 00000000056\nR 55 - 31 31 31 31\nR 56 - 3", // 56 cut short
         1,
         {"the readings from No. 56 on (the recording journal could not be written)"}},
        {"damaged line after No. 2",
         "KXJOURNAL 1\n" + none +
             "R 1 - 31 31 31 31\nR 2 - 31 31 31 31\nR 3 zz\nR 4 - 31 31 31 31\n",
         3,
         {"a damaged line after reading No. 2"}},
        {"cut last line",
         "KXJOURNAL 1\n" + none + "R 1 - 31 31 31 31\nR 2 - 3",
         1,
         {"a damaged line after reading No. 1"}},
        {"damaged before any reading",
         "KXJOURNAL 1\nQ\nR 1 - 31 31 31 31\n",
         1,
         {"a damaged line before the first reading"}},
        {"bad lost field", "KXJOURNAL 1\nG 56\n", 0, {"a damaged line before the first reading"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const JournalContents c = parseJournal(k.text);
        EXPECT_EQ(c.readings.size(), k.readings);
        EXPECT_EQ(unrecoveredStretches(c), k.missing);
    }
}

TEST_F(Journal, TheFileTheReadingsFollowAndTheLostMarkAreKept) {
    auto j = RecordingJournal::create(path, JournalBase{66, 66}, "/data/old \xC3\xA9.db");
    ASSERT_TRUE(j.ok());
    ASSERT_TRUE(j.value()->append(reading(67, "1")).ok());
    const qint64 size = bytesOf(path).size();
    j.value()->markLost(68);
    JournalContents c = parseJournal(bytesOf(path));
    EXPECT_EQ(bytesOf(path).size(), size) << "marking needs no new space";
    EXPECT_EQ(c.follows, QString::fromUtf8("/data/old \xC3\xA9.db"));
    EXPECT_EQ(c.base, (JournalBase{66, 66}));
    EXPECT_EQ(c.lostFrom, 68);
    EXPECT_EQ(recoveredReadingsText(c.readings), QStringLiteral("1 reading (No. 67)"));

    // Written afresh with every reading, the mark is gone and appending goes on.
    ASSERT_TRUE(j.value()->rewrite({reading(67, "1"), reading(68, "2")}).ok());
    ASSERT_TRUE(j.value()->append(reading(69, "3")).ok());
    c = parseJournal(bytesOf(path));
    EXPECT_FALSE(c.lostFrom.has_value());
    EXPECT_EQ(c.follows, QString::fromUtf8("/data/old \xC3\xA9.db"));
    EXPECT_EQ(recoveredReadingsText(c.readings), QStringLiteral("3 readings (No. 67\u201369)"));
    EXPECT_FALSE(journalLeftOver(path)) << "the new file is held as the old one was";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary left";
}
