// What every writer of a save refuses before any work, and what a failed or cancelled save
// leaves: the old file (and a keyed table's old index) as it was and nothing else.
#include "support/python_reader.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"

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
        const int first = static_cast<int>(table.rowCount()) + 1;
        for (int i = first; i < first + records; ++i)
            addRow(table, {i, i * 500, std::to_string(100 + i % 900) + ".5", kMOhm,
                           "IR:1000V 40G" + kOhmSign, "Continuous"});
    }
    QString target(const Writer& w, const char* name = "out") const {
        return dir.filePath(QStringLiteral("%1.%2").arg(name, w.extension));
    }
};

// The files a save to `path` writes: a keyed table has its index beside it.
QStringList filesOf(const Writer& w, const QString& path) {
    QStringList files{path};
    if (QLatin1String(w.extension) == QLatin1String("db"))
        files << px::indexPathFor(path);
    return files;
}

QStringList names(const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out << QFileInfo(p).fileName();
    out.sort();
    return out;
}

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
        const auto refused = [&](const QString& path, const char* why) {
            const Status s = w.save(table, path, ExportKind::Live, counting);
            ASSERT_TRUE(failsWith(s, QLatin1String(why)));
        };

        ASSERT_TRUE(putFile(in("ro"), "keep me"));
        ASSERT_TRUE(QFile::setPermissions(in("ro"), QFile::ReadOwner | QFile::ReadGroup));
        refused(in("ro"), "read-only");
        EXPECT_EQ(fileBytes(in("ro")), "keep me");

        // A pipe is refused at once instead of being written to forever.
        ASSERT_EQ(::mkfifo(QFile::encodeName(in("pipe")).constData(), 0600), 0);
        refused(in("pipe"), "it is a pipe, not a file");
        ASSERT_TRUE(QDir(here.path()).mkdir(in("folder")));
        refused(in("folder"), "folder");
        refused(here.filePath(QStringLiteral("no/such/x.") + w.extension),
                "the folder does not exist");

        // A table another program holds open.
        ASSERT_TRUE(putFile(in("held"), "a table in use"));
        {
            Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(in("held"));
            ASSERT_TRUE(lock.ok());
            refused(in("held"), "in use");
        }
        EXPECT_EQ(fileBytes(in("held")), "a table in use");

        EXPECT_EQ(progressCalls, 0) << "refused before any work";
        EXPECT_EQ(entriesOf(here.path()), names({in("folder"), in("held"), in("pipe"), in("ro")}));
    }

    // A read-only index beside a keyed table is protected as the table is.
    const QString pair = dir.filePath("pair.db");
    ASSERT_TRUE(SaveToDB(table, pair, ExportKind::Live).ok());
    ASSERT_TRUE(QFile::setPermissions(px::indexPathFor(pair), QFile::ReadOwner));
    const Status s = SaveToDB(table, pair, ExportKind::Live);
    ASSERT_TRUE(failsWith(s, "pair.px"));
}

TEST_F(ExportFailures, TheTablesOwnFileIsNotItsTarget) {
    fill(2);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        // A readings table that happens to carry the export's extension.
        QTemporaryDir here;
        const QString file = here.filePath(QStringLiteral("table.") + w.extension);
        ASSERT_TRUE(SaveToDB(table, here.filePath("table.db"), ExportKind::Live).ok());
        if (!QFile::exists(file)) {
            ASSERT_TRUE(QFile::rename(here.filePath("table.db"), file));
        }
        ReadingsTable opened;
        opened.setTableName(file);
        const Status o = opened.open();
        ASSERT_TRUE(o.ok()) << o.error().toStdString();
        const QByteArray before = fileBytes(file);
        const Status s = w.save(opened, file, ExportKind::Live, {});
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
        // A keyed copy reads a closed table from its file instead (test_table_export.cpp).
        if (QLatin1String(w.extension) != QLatin1String("db")) {
            EXPECT_EQ(s.error(), ReadingsTable::closedMessage());
        }
        s = w.save(wrong, target(w), ExportKind::Live, {});
        ASSERT_TRUE(failsWith(s, "does not hold readings"));
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
            EXPECT_EQ(s.error(), px::cancelledMessage());
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

// Records removed, or the whole table emptied by a Clear All, while a save runs fail it and
// leave the old file; records appended meanwhile do no harm: the save writes what it began
// with.
TEST_F(ExportFailures, ChangesDuringTheSave) {
    const struct {
        const char* what;
        std::function<void(ReadingsTable&)> change;
        bool fails;
    } changes[] = {
        {"a record removed", [](ReadingsTable& t) { EXPECT_TRUE(t.deleteRecord(0).ok()); }, true},
        {"Clear All", [](ReadingsTable& t) { t.openScratch(readingsFields()); }, true},
        {"a record appended",
         [](ReadingsTable& t) {
             addRow(t, {100000 + t.rowCount(), 0, "2", "V", "", ""});
         },
         false},
    };
    for (const Writer& w : allWriters()) {
        for (const auto& c : changes) {
            SCOPED_TRACE(std::string(w.name) + ", " + c.what);
            table.openScratch(readingsFields());
            fill(20000);
            const QString out = target(w);
            ASSERT_TRUE(putFile(out, "old"));
            int calls = 0;
            const Status s = w.save(table, out, ExportKind::Live, [&](qint64, qint64) {
                if (++calls == 2)
                    c.change(table);
                return true;
            });
            if (c.fails) {
                EXPECT_EQ(s.error(), "The table changed while it was being saved");
                EXPECT_EQ(fileBytes(out), "old");
                EXPECT_EQ(entriesOf(dir.path()), QStringList{QFileInfo(out).fileName()});
            } else {
                ASSERT_TRUE(s.ok()) << s.error().toStdString();
                if (QLatin1String(w.extension) == QLatin1String("db")) {
                    EXPECT_EQ(px::readTableInfo(out).value().recordCount, 20000);
                }
            }
            for (const QString& f : filesOf(w, out))
                QFile::remove(f);
        }
    }
}

// Writes that fail half way (a file-size limit stands in for a full disk where no small disk
// can be mounted) name the path and the reason and leave the old file, and a keyed table's old
// index, whole. The text export used to put the cut file in place and report success.
TEST_F(ExportFailures, FailedWritesKeepTheOldFileAndSayWhy) {
    fill(20000);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString out = target(w);
        const QStringList files = filesOf(w, out);
        for (const QString& f : files)
            ASSERT_TRUE(putFile(f, "the good old " + QFileInfo(f).suffix().toUtf8()));
        Status s;
        {
            FileSizeLimit limit(64 * 1024);
            s = w.save(table, out, ExportKind::Live, {});
        }
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().startsWith("Cannot write " + out + ": ")) << s.error().toStdString();
        EXPECT_TRUE(failsWith(s, "File too large"));
        for (const QString& f : files)
            EXPECT_EQ(fileBytes(f), "the good old " + QFileInfo(f).suffix().toUtf8());
        EXPECT_EQ(entriesOf(dir.path()), names(files));
        for (const QString& f : files)
            QFile::remove(f);
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
        EXPECT_TRUE(failsWith(s, "No space left on device"));
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
    ASSERT_TRUE(failsWith(s, "at most 1048575 readings"));
    EXPECT_TRUE(failsWith(s, ".csv"));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(entriesOf(dir.path()).isEmpty());
}

// A replaced file keeps its mode; a link stays a link and the file it names is written.
TEST_F(ExportFailures, ReplacedFilesKeepTheirModeAndLinksStayLinks) {
    fill(3);
    for (const Writer& w : allWriters()) {
        SCOPED_TRACE(w.name);
        const QString link = target(w, "link");
        const QStringList reals = filesOf(w, target(w, "real"));
        const QStringList links = filesOf(w, link);
        for (qsizetype i = 0; i < reals.size(); ++i) {
            ASSERT_TRUE(putFile(reals[i], "old"));
            ASSERT_EQ(::chmod(QFile::encodeName(reals[i]).constData(), 0640), 0);
            ASSERT_EQ(::symlink(QFile::encodeName(QFileInfo(reals[i]).fileName()).constData(),
                                QFile::encodeName(links[i]).constData()),
                      0);
        }
        const Status s = w.save(table, link, ExportKind::Live, {});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        for (qsizetype i = 0; i < reals.size(); ++i) {
            EXPECT_TRUE(QFileInfo(links[i]).isSymLink()) << links[i].toStdString();
            EXPECT_NE(fileBytes(reals[i]), "old");
            struct stat st {};
            ::stat(QFile::encodeName(reals[i]).constData(), &st);
            EXPECT_EQ(st.st_mode & 07777, 0640u) << reals[i].toStdString();
        }
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
