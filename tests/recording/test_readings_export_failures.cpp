// What the .csv, .jsonl and .xlsx exports refuse before any work, and what a failed or
// cancelled one leaves: the old file as it was and nothing else.
#include "recording/readings_export_fixture.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "paradox/paradox_lock.h"
#include "recording/table_export.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace kx;
using namespace kxtest;

namespace {

struct ExportFailures : ::testing::Test {
    QTemporaryDir dir;
    ReadingsTable table;

    void SetUp() override { table.openScratch(readingsFields()); }

    void fill(int records) {
        for (int i = 0; i < records; ++i)
            addReading(table, {i + 1, i * 500, std::to_string(100 + i % 900) + ".5", "M" + kOhm936,
                               "IR:1000V 40G" + kOhm936, "Continuous"});
    }
    QString target(const Writer& w, const char* name = "out") const {
        return dir.filePath(QStringLiteral("%1.%2").arg(name, w.extension));
    }
};

int openDescriptors() {
    return static_cast<int>(
        QDir("/proc/self/fd")
            .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs)
            .size());
}

} // namespace

TEST_F(ExportFailures, UnwritableTargetsAreRefusedBeforeAnyWork) {
    fill(3);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        QTemporaryDir here;
        const auto in = [&](const char* name) {
            return here.filePath(QStringLiteral("%1.%2").arg(name, w.extension));
        };
        int progressCalls = 0;
        const ExportProgress counting = [&](qint64, qint64) {
            ++progressCalls;
            return true;
        };

        const QString ro = in("ro");
        ASSERT_TRUE(putFile(ro, "keep me"));
        ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner | QFile::ReadGroup));
        Status s = w.save(table, ro, ExportKind::Live, counting);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("read-only")) << s.error().toStdString();
        EXPECT_EQ(fileBytes(ro), "keep me");

        const QString fifo = in("pipe");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        s = w.save(table, fifo, ExportKind::Live, counting);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("it is a pipe, not a file")) << s.error().toStdString();

        ASSERT_TRUE(QDir(here.path()).mkdir(QStringLiteral("folder.") + w.extension));
        s = w.save(table, in("folder"), ExportKind::Live, counting);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("folder")) << s.error().toStdString();

        s = w.save(table, here.filePath(QStringLiteral("no/such/x.") + w.extension),
                   ExportKind::Live, counting);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("the folder does not exist")) << s.error().toStdString();

        // A table another program holds open.
        const QString held = in("held");
        ASSERT_TRUE(putFile(held, "a table in use"));
        {
            Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(held);
            ASSERT_TRUE(lock.ok());
            s = w.save(table, held, ExportKind::Live, counting);
            ASSERT_FALSE(s.ok());
            EXPECT_TRUE(s.error().contains("in use")) << s.error().toStdString();
        }
        EXPECT_EQ(fileBytes(held), "a table in use");

        EXPECT_EQ(progressCalls, 0) << "refused before any work";
        EXPECT_EQ(entriesOf(here.path()), (QStringList{QStringLiteral("folder.") + w.extension,
                                                       QStringLiteral("held.") + w.extension,
                                                       QStringLiteral("pipe.") + w.extension,
                                                       QStringLiteral("ro.") + w.extension}));
    }
}

TEST_F(ExportFailures, TheTablesOwnFileIsNotItsTarget) {
    fill(2);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        // A readings table that happens to carry the export's extension.
        QTemporaryDir here;
        const QString file = here.filePath(QStringLiteral("table.") + w.extension);
        ASSERT_TRUE(SaveToDB(table, here.filePath("table.db"), ExportKind::Live).ok());
        ASSERT_TRUE(QFile::rename(here.filePath("table.db"), file));
        ReadingsTable opened;
        opened.setTableName(file);
        const Status o = opened.open();
        ASSERT_TRUE(o.ok()) << o.error().toStdString();
        const QByteArray before = fileBytes(file);
        const Status s = w.save(opened, file, ExportKind::Live, {});
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), "Cannot write " + file + ": it is the table being saved");
        EXPECT_EQ(fileBytes(file), before);
    }
}

TEST_F(ExportFailures, ClosedOrUnmatchedTablesWriteNothing) {
    ReadingsTable wrong;
    wrong.openScratch({{"Id", px::FieldType::Long, 4}, {"LONG", px::FieldType::Long, 4}});
    ReadingsTable closed;
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        Status s = w.save(closed, target(w), ExportKind::Live, {});
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), ReadingsTable::closedMessage());
        s = w.save(wrong, target(w), ExportKind::Live, {});
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("does not hold readings")) << s.error().toStdString();
    }
    EXPECT_TRUE(entriesOf(dir.path()).isEmpty());
}

// Cancel, at the start or part way, leaves the old file and no temporary file; the library's
// working files and descriptors go too.
TEST_F(ExportFailures, CancelKeepsTheOldFile) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString out = target(w);
        ASSERT_TRUE(putFile(out, "the old export"));
        for (int stopAt : {1, 2}) {
            const int descriptors = openDescriptors();
            int calls = 0;
            std::vector<std::pair<qint64, qint64>> seen;
            const Status s = w.save(table, out, ExportKind::Live, [&](qint64 done, qint64 total) {
                seen.emplace_back(done, total);
                return ++calls < stopAt;
            });
            ASSERT_FALSE(s.ok());
            EXPECT_EQ(s.error(), "Cancelled");
            EXPECT_EQ(fileBytes(out), "the old export");
            EXPECT_EQ(entriesOf(dir.path()), QStringList{QFileInfo(out).fileName()});
            EXPECT_EQ(openDescriptors(), descriptors);
            ASSERT_EQ(seen.size(), static_cast<std::size_t>(stopAt));
            EXPECT_EQ(seen.back().second, 20000);
        }
        QFile::remove(out);
    }
}

TEST_F(ExportFailures, ProgressRunsFromNothingToEveryRecord) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        std::vector<qint64> done;
        ASSERT_TRUE(w.save(table, target(w), ExportKind::Live, [&](qint64 d, qint64 total) {
                         EXPECT_EQ(total, 20000);
                         done.push_back(d);
                         return true;
                     }).ok());
        ASSERT_GE(done.size(), 3u);
        EXPECT_EQ(done.front(), 0);
        EXPECT_EQ(done.back(), 20000);
        EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    }
}

TEST_F(ExportFailures, RecordsRemovedDuringTheSaveFailIt) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString out = target(w);
        ASSERT_TRUE(putFile(out, "old"));
        int calls = 0;
        const Status s = w.save(table, out, ExportKind::Live, [&](qint64, qint64) {
            if (++calls == 2) {
                EXPECT_TRUE(table.deleteRecord(0).ok());
            }
            return true;
        });
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), "The table changed while it was being saved");
        EXPECT_EQ(fileBytes(out), "old");
        EXPECT_EQ(entriesOf(dir.path()), QStringList{QFileInfo(out).fileName()});
        QFile::remove(out);
        fill(1);
    }
}

// Writes that fail half way (a file-size limit stands in for a full disk where no small disk
// can be mounted) name the path and the reason and leave the old file whole.
TEST_F(ExportFailures, FailedWritesKeepTheOldFileAndSayWhy) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString out = target(w);
        ASSERT_TRUE(putFile(out, "the good old export"));
        Status s;
        {
            FileSizeLimit limit(64 * 1024);
            s = w.save(table, out, ExportKind::Live, {});
        }
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().startsWith("Cannot write " + out + ": ")) << s.error().toStdString();
        EXPECT_TRUE(s.error().contains("File too large")) << s.error().toStdString();
        EXPECT_EQ(fileBytes(out), "the good old export");
        EXPECT_EQ(entriesOf(dir.path()), QStringList{QFileInfo(out).fileName()});
        QFile::remove(out);
    }
}

TEST_F(ExportFailures, FullDiskIsReportedWithThePath) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        SmallDisk disk(256);
        if (!disk.mounted())
            GTEST_SKIP() << "no small disk can be mounted here (needs root)";
        const QString out = disk.filePath(QStringLiteral("old.") + w.extension);
        ASSERT_TRUE(putFile(out, "the good old export"));
        const Status s = w.save(table, out, ExportKind::Live, {});
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().startsWith("Cannot write " + out + ": ")) << s.error().toStdString();
        EXPECT_TRUE(s.error().contains("No space left on device")) << s.error().toStdString();
        EXPECT_EQ(fileBytes(out), "the good old export");
        EXPECT_EQ(disk.names(), QStringList{QFileInfo(out).fileName()});
    }
}

TEST_F(ExportFailures, WorkbookHoldsAtMostASheetOfReadings) {
    // One record more than a sheet takes below its header.
    table.reset(readingsFields());
    for (qint64 i = 0; i <= kXlsxMaxReadings; ++i) {
        px::Record r(6);
        r[0] = px::Value(static_cast<std::int32_t>(i + 1));
        table.appendLoaded(r);
    }
    const QString out = dir.filePath("big.xlsx");
    int calls = 0;
    const Status s = saveReadingsXlsx(table, out, ExportKind::Live, {}, [&](qint64, qint64) {
        ++calls;
        return true;
    });
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("at most 1048575 readings")) << s.error().toStdString();
    EXPECT_TRUE(s.error().contains(".csv")) << s.error().toStdString();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(entriesOf(dir.path()).isEmpty());
}

TEST_F(ExportFailures, ReplacedFilesKeepTheirModeAndLinksStayLinks) {
    fill(3);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString real = target(w, "real");
        ASSERT_TRUE(putFile(real, "old"));
        ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
        const QString link = target(w, "link");
        ASSERT_EQ(::symlink(QFile::encodeName(QFileInfo(real).fileName()).constData(),
                            QFile::encodeName(link).constData()),
                  0);
        const Status s = w.save(table, link, ExportKind::Live, {});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_NE(fileBytes(real), "old");
        struct stat st {};
        ::stat(QFile::encodeName(real).constData(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
}

// The workbook library does not look at what its writes to its own working files return: a
// disk that is full while it packs a sheet leaves that sheet cut short in a workbook it
// reports as written. The workbook is read back before it is put in place, so that never
// replaces the old file. A file-size limit just below what the packed sheet needs cuts it.
TEST_F(ExportFailures, WorkbookCutShortByTheLibraryIsNeverPutInPlace) {
    fill(2000);
    const QString out = dir.filePath("cut.xlsx");
    ASSERT_TRUE(putFile(out, "the good old workbook"));
    const auto saveWithin = [&](rlim_t bytes) {
        FileSizeLimit limit(bytes);
        return saveReadingsXlsx(table, out, ExportKind::Live);
    };
    // The least limit under which the save goes through, to 64 bytes.
    rlim_t low = 4096, high = 16 << 20;
    ASSERT_FALSE(saveWithin(low).ok());
    while (high - low > 64) {
        const rlim_t mid = (low + high) / 2;
        if (saveWithin(mid).ok()) {
            high = mid;
            ASSERT_TRUE(putFile(out, "the good old workbook"));
        } else {
            low = mid;
        }
    }
    // Where the save first goes through, the workbook is whole as another reader sees it.
    ASSERT_TRUE(saveWithin(high).ok());
    const PythonRead read = readWithPython(QStringLiteral("xlsx"), out);
    if (read.skip.isEmpty()) {
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        EXPECT_EQ(read.json["Readings"].toObject()["rows"].toArray().size(), 2001);
    }
    ASSERT_TRUE(putFile(out, "the good old workbook"));
    int incomplete = 0;
    for (rlim_t bytes = high - 64; bytes + 8192 > high; bytes -= 64) {
        const Status s = saveWithin(bytes);
        ASSERT_FALSE(s.ok()) << bytes;
        EXPECT_TRUE(s.error().startsWith("Cannot write " + out + ": ")) << s.error().toStdString();
        if (s.error().contains("incomplete"))
            ++incomplete;
        ASSERT_EQ(fileBytes(out), "the good old workbook") << bytes;
    }
    EXPECT_GT(incomplete, 0) << "the library reported success for a cut workbook at no limit";
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"cut.xlsx"});
}
