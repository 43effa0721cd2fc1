// Every writer of a new table (a recording, an empty table, a keyed copy, the window's Save As)
// puts the table, its index and its test details in place as one change: an older table's
// details never stay with it, a kill between the renames leaves the old set or the new one,
// details that cannot be written fail the save. Through a link the files beside a table go
// where it really is, with its mode; a file that belongs to the table saved is no target.
#include "analysis/details_file.h"
#include "analysis/live_results.h"
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/session_fixture.h"
#include "common/replacing_file.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"
#include "recording/recording_keeper.h"
#include "support/table_files.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

using namespace kx;

namespace {

TestDetails detailsOf(const char* asset, double temperature) {
    TestDetails d;
    d.asset = QString::fromLatin1(asset);
    d.settings.temperature = temperature;
    return d;
}

Reading reading(qint64 no) {
    const auto n = static_cast<std::int32_t>(no);
    return Reading{n, n * 1000, std::to_string(500 + n), "M", "1000V", "IR"};
}

// A keyed readings table of n readings at `path`, with details when `asset` is given.
void makeTable(const QString& path, int n, const char* asset = nullptr, double temperature = 20) {
    ReadingsTable t;
    t.openScratch(readingsFields());
    for (int i = 1; i <= n; ++i)
        ASSERT_TRUE(t.appendReading(reading(i)).ok());
    ASSERT_TRUE(SaveToDB(t, path, ExportKind::Live).ok());
    if (asset) {
        ASSERT_TRUE(writeTestDetails(path, detailsOf(asset, temperature)).ok());
    }
}

Status saved(const SaveAsOutcome& o) {
    return o.saved() ? Status() : fail(o.error);
}

// One writer of a new table at a path: its records, whether it is keyed, the details it
// carries (nullptr: none).
struct Writer {
    const char* name;
    qint64 records;
    bool keyed;
    const char* asset;
    std::function<Status(const QString& target)> write;
};

// The old set at a path: five readings, keyed, with details that judge them at 75 °C.
struct OldSet {
    QString table, index, details;
    QByteArray bytes[3];

    explicit OldSet(const QString& path)
        : table(path), index(px::indexPathFor(path)), details(testDetailsPath(path)) {
        makeTable(path, 5, "Old motor", 75);
        int i = 0;
        for (const QString& f : {table, index, details})
            bytes[i++] = fileBytes(f);
    }
    void expectKept() const {
        int i = 0;
        for (const QString& f : {table, index, details})
            EXPECT_EQ(fileBytes(f), bytes[i++]) << f.toStdString();
    }
};

// What a reader finds at `path` (a change cut short finished first, as every reader does) is
// the writer's new set, whole.
void expectNewSet(const Writer& w, const QString& path) {
    EXPECT_EQ(kxtest::recordsOnDisk(path), w.records);
    EXPECT_EQ(QFileInfo::exists(px::indexPathFor(path)), w.keyed);
    const TestDetailsRead d = readTestDetails(path);
    EXPECT_EQ(d.found, w.asset != nullptr);
    EXPECT_EQ(d.details.asset, QString::fromLatin1(w.asset));
}

// Hidden files left beside the table (temporaries, old copies, markers), but a recording's
// journal, which a killed recording keeps for the next one.
QString leftovers(const QString& path) {
    const QFileInfo fi(path);
    QStringList names =
        fi.dir().entryList({"." + fi.completeBaseName() + ".*"}, QDir::Files | QDir::Hidden);
    names.removeAll("." + fi.fileName() + ".journal");
    return names.join(' ');
}

int killAt = -1;
bool untilKilled(int step) {
    return step != killAt;
}

int failDetailsRename(const char* from, const char* to) {
    if (!QByteArray(to).endsWith(".results.json"))
        return std::rename(from, to);
    errno = ENOSPC;
    return -1;
}

struct NewTables : ::testing::Test {
    kxtest::TableFolder tables;
    AppSession session{tables.setup()};
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(session.openLiveTableAtStart().ok());
        makeTable(dir.filePath("new.db"), 3, "New pump");
        makeTable(dir.filePath("bare.db"), 3);
        for (qint64 no = 1; no <= 3; ++no)
            ASSERT_TRUE(session.liveTable().appendReading(reading(no)).ok());
    }

    std::vector<Writer> writers() {
        auto exportOf = [this](const char* source) {
            return [this, source](const QString& target) {
                return saved(saveTableFileAs(dir.filePath(source), target, ExportKind::Live));
            };
        };
        // The live table's details (the scratch table keeps them in memory) go with Save As.
        auto saveAs = [this](TestDetails details) {
            return [this, details](const QString& target) {
                EXPECT_TRUE(session.results().setDetails(details).ok());
                return saved(session.files().saveAs(target, ExportKind::Live));
            };
        };
        auto record = [](const QString& target) -> Status {
            ReadingsTable live;
            live.openScratch(readingsFields());
            RecordingKeeper keeper(live);
            if (Result<KeptFile> k = keeper.keepInFile(target, false, QDateTime::currentDateTime());
                !k)
                return k.status();
            for (qint64 no = 1; no <= 3; ++no)
                EXPECT_TRUE(live.appendReading(reading(no)).ok());
            return keeper.finish();
        };
        auto create = [](const QString& target) {
            return createEmptyTable(target, readingsFields());
        };
        return {
            {"record --out", 3, true, nullptr, record},
            {"table create --replace", 0, false, nullptr, create},
            {"export .db", 3, true, "New pump", exportOf("new.db")},
            {"export .db of a table without details", 3, true, nullptr, exportOf("bare.db")},
            {"Save As", 3, true, "Live motor", saveAs(detailsOf("Live motor", 30))},
            {"Save As without details", 3, true, nullptr, saveAs(TestDetails())},
        };
    }
};

} // namespace

TEST_F(NewTables, EveryWriterPutsTableIndexAndDetailsInPlaceTogether) {
    int n = 0;
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        ++n;
        // Over an older table: its details go, or the new table's replace them.
        const OldSet plain(dir.filePath(QStringLiteral("plain%1.db").arg(n)));
        ASSERT_TRUE(w.write(plain.table).ok());
        expectNewSet(w, plain.table);
        EXPECT_EQ(leftovers(plain.table), QString());
        // Killed before each step of the change: the next reader finds the new set whole.
        for (killAt = 0; killAt < 3; ++killAt) {
            SCOPED_TRACE(killAt);
            const OldSet old(dir.filePath(QStringLiteral("killed%1-%2.db").arg(n).arg(killAt)));
            testhooks::setStepFunction(&untilKilled);
            EXPECT_FALSE(w.write(old.table).ok());
            testhooks::setStepFunction(nullptr);
            expectNewSet(w, old.table);
            EXPECT_EQ(leftovers(old.table), QString());
        }
        // Details that cannot be written (a read-only file, a full disk at their rename) fail
        // the save, and the old set stays whole.
        for (const bool full : {false, true}) {
            if (full && !w.asset)
                continue; // nothing is renamed to the details' name
            const OldSet old(dir.filePath(QStringLiteral("fault%1-%2.db").arg(n).arg(full)));
            if (!full) {
                ASSERT_EQ(::chmod(QFile::encodeName(old.details).constData(), 0444), 0);
            }
            testhooks::setRenameFunction(full ? &failDetailsRename : nullptr);
            const Status s = w.write(old.table);
            testhooks::setRenameFunction(nullptr);
            ASSERT_FALSE(s.ok());
            EXPECT_TRUE(s.error().contains(full ? "No space left on device" : "read-only"))
                << s.error().toStdString();
            old.expectKept();
            EXPECT_EQ(leftovers(old.table), QString());
        }
    }
}

TEST_F(NewTables, LinksCompanionsAndModes) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("else"));
    int n = 0;
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        // A link to a 0600 table: the link stays, the files beside the table go where it
        // really is with its mode, and the table opens through the link.
        const OldSet old(dir.filePath(QStringLiteral("else/real%1.db").arg(++n)));
        ASSERT_EQ(::chmod(QFile::encodeName(old.table).constData(), 0600), 0);
        const QString link = dir.filePath(QStringLiteral("link%1.db").arg(n));
        ASSERT_TRUE(QFile::link(old.table, link));
        ASSERT_TRUE(w.write(link).ok());
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        expectNewSet(w, link);
        EXPECT_EQ(leftovers(link), QString());
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("link%1.*").arg(n)}, QDir::Files),
                  QStringList{QFileInfo(link).fileName()});
        for (const QString& file : {old.table, old.index, old.details}) {
            struct stat st {};
            if (::stat(QFile::encodeName(file).constData(), &st) == 0) {
                EXPECT_EQ(st.st_mode & 07777, 0600u) << file.toStdString();
            }
        }
    }

    // A file that belongs to the table saved, in any case of its name, is refused as the table
    // itself is, by the export and (the table opened) by Save As.
    const OldSet k(dir.filePath("k.db"));
    const char* names[] = {"k.db", "k.px", "K.PX", "k.results.json", "K.Results.JSON"};
    for (const bool window : {false, true}) {
        if (window) {
            ASSERT_TRUE(session.files().openDataFile(k.table).ok());
        }
        for (const char* name : names) {
            SCOPED_TRACE(name);
            const SaveAsOutcome o =
                window ? session.files().saveAs(dir.filePath(name), ExportKind::Live)
                       : saveTableFileAs(k.table, dir.filePath(name), ExportKind::Live);
            EXPECT_TRUE(o.error.contains("the table being saved")) << o.error.toStdString();
            k.expectKept();
        }
    }
}
