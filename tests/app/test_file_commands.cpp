// The File menu's commands on a session without a window: which files each one changes and
// what reaches the recent-files list. The window's own tests cover the rest.
#include "analysis/details_file.h"
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/session_fixture.h"
#include "common/app_dir.h"
#include "exports/table_export.h"
#include "readings/table_salvage.h"
#include "support/table_files.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;

namespace {

using kxtest::recordsOnDisk;

struct Files : ::testing::Test {
    kxtest::TableFolder tables;
    AppSession session{tables.setup()};
    FileCommands& files = session.files();

    void SetUp() override {
        ASSERT_TRUE(session.openLiveTableAtStart().ok());
        ASSERT_TRUE(files.loadSettings());
    }
    void record(const std::string& value) {
        const std::int32_t next = session.recording().NextRecordNo;
        session.decodeFrame(kxtest::frameShowing(value));
        ASSERT_EQ(session.recording().NextRecordNo, next + 1) << value;
    }
    // A user's data file of n readings.
    QString usersFile(const char* name, int n) {
        for (int i = 0; i < n; ++i)
            record(std::to_string(100 + i));
        const QString path = tables.path(name);
        EXPECT_TRUE(SaveToDB(session.liveTable(), path, ExportKind::Live).ok());
        return path;
    }
};

} // namespace

TEST_F(Files, RecentEntryEmptiesOnlyTheScratchFile) {
    const QString mine = usersFile("mine.db", 2);
    const QString scratch = tables.path("Pw60bdb.DB");
    // Give the scratch file records of its own to see it emptied.
    session.liveTable().close();
    ASSERT_TRUE(QFile::remove(scratch));
    ASSERT_TRUE(QFile::copy(mine, scratch));
    // A keyed table goes with its index.
    QFile::remove(tables.path("Pw60bdb.PX"));
    ASSERT_TRUE(QFile::copy(tables.path("mine.px"), tables.path("Pw60bdb.PX")));
    ASSERT_TRUE(session.liveTable().open().ok());
    ASSERT_TRUE(session.liveIsScratch());

    ASSERT_TRUE(files.openDataFile(mine).ok());
    ASSERT_TRUE(files.openDataFile(tables.path("pw60SD.DB")).ok());
    EXPECT_EQ(files.recent().path(2), mine);

    // Entry 2 opens its file as entry 1 does; the user's file that was open keeps its records.
    ASSERT_TRUE(files.openRecent(2).ok());
    EXPECT_EQ(session.liveTable().filePath(), mine);
    EXPECT_EQ(session.liveTable().rowCount(), 2);
    EXPECT_EQ(files.recent().path(1), tables.path("pw60SD.DB")) << "the list is not changed";
    ASSERT_TRUE(files.openRecent(1).ok());
    EXPECT_EQ(recordsOnDisk(mine), 2);

    // From the scratch file: it is emptied on the way.
    session.liveTable().close();
    session.liveTable().setTableName(scratch);
    ASSERT_TRUE(session.liveTable().open().ok());
    ASSERT_TRUE(files.openRecent(2).ok());
    EXPECT_EQ(recordsOnDisk(scratch), 0);
    EXPECT_EQ(recordsOnDisk(mine), 2);
    // Hidden entries do nothing.
    EXPECT_TRUE(files.openRecent(5).ok());
}

TEST_F(Files, PathWithALineBreakOpensButIsNotListed) {
    const QString odd = tables.path("two\nlines.db");
    ASSERT_TRUE(QFile::copy(tables.path("pw60SD.DB"), odd));
    ASSERT_TRUE(files.openDataFile(odd).ok());
    EXPECT_TRUE(session.liveTable().isOpen());
    EXPECT_FALSE(files.recent().visible(1));
    EXPECT_TRUE(files.exitPanel().ok()) << "the list can still be written";
}

TEST_F(Files, OpenOffersToSalvageADamagedTable) {
    const QString path = usersFile("dam.db", 5);
    const px::TableInfo info = px::readTableInfo(path).value();
    QByteArray b = fileBytes(path);
    // Record 3 holds a time of 301008456 ms.
    const QByteArray bad("\x91\xF1\x06\x48", 4); // big-endian, sign bit flipped
    b.replace(info.headerSize + 6 + 2 * info.recordSize + 4, 4, bad);
    ASSERT_TRUE(putFile(path, b));
    TestDetails motor;
    motor.asset = QStringLiteral("Pump 7");
    ASSERT_TRUE(writeTestDetails(path, motor).ok());
    ASSERT_TRUE(files.openDataFile(tables.path("pw60SD.DB")).ok());

    const Status opened = files.openDataFile(path);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(files.recent().path(1), tables.path("pw60SD.DB"));
    const QString question = FileCommands::salvageQuestion(path, opened.error());
    EXPECT_TRUE(question.startsWith(opened.error())) << question.toStdString();
    EXPECT_TRUE(question.contains("record 3 holds a time of 301008456 ms"))
        << question.toStdString();
    EXPECT_TRUE(question.contains("Salvage the 4 records")) << question.toStdString();
    EXPECT_TRUE(question.contains("dam-salvaged.db")) << question.toStdString();
    EXPECT_FALSE(question.contains("replaced"));
    // Nothing is offered for a table that reads, or a file that is no table.
    EXPECT_TRUE(FileCommands::salvageQuestion(tables.path("mine.db"), "in use").isEmpty());
    ASSERT_TRUE(putFile(tables.path("text.db"), QByteArray(300, 'x')));
    EXPECT_TRUE(FileCommands::salvageQuestion(tables.path("text.db"), "damaged").isEmpty());

    const Result<px::SalvageReport> r = files.salvage(path);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().kept, 4);
    ASSERT_EQ(r.value().lost.size(), 1u);
    EXPECT_EQ(r.value().lost[0].first, 3);
    const QString said = salvageReportText(r.value());
    EXPECT_TRUE(said.contains("4 records of")) << said.toStdString();
    EXPECT_TRUE(said.contains("record 3: a time of 301008456 ms")) << said.toStdString();
    // The salvaged table is open, listed first, and the damaged file is as it was.
    EXPECT_EQ(session.liveTable().filePath(), tables.path("dam-salvaged.db"));
    EXPECT_EQ(session.liveTable().rowCount(), 4);
    EXPECT_EQ(files.recent().path(1), tables.path("dam-salvaged.db"));
    EXPECT_EQ(fileBytes(path), b);
    // The salvaged readings keep their test details.
    const QString salvaged = tables.path("dam-salvaged.db");
    EXPECT_EQ(readTestDetails(salvaged).details.asset, motor.asset);
    // Asked again, the question says the salvaged table is replaced; a salvage of the table
    // without details then leaves the replaced table's details behind with it.
    EXPECT_TRUE(FileCommands::salvageQuestion(path, opened.error()).contains("replaced"));
    ASSERT_TRUE(QFile::remove(testDetailsPath(path)));
    ASSERT_TRUE(files.openDataFile(tables.path("pw60SD.DB")).ok());
    ASSERT_TRUE(files.salvage(path).ok());
    EXPECT_FALSE(QFileInfo::exists(testDetailsPath(salvaged)));
}

TEST_F(Files, SaveAsSavesTheTableItsKindNames) {
    record("1");
    const QString out = tables.path("out.txt");
    SaveAsOutcome o = files.saveAs(out, ExportKind::Live);
    EXPECT_TRUE(o.saved());
    EXPECT_EQ(session.unsavedReadings(), 0);
    EXPECT_TRUE(fileBytes(out).startsWith(textExportHeader() + "1\t"));

    // The stored table's save writes the stored table, not the live one.
    ASSERT_TRUE(session.storeTable().open().ok());
    record("2");
    o = files.saveAs(tables.path("store.txt"), ExportKind::Store);
    EXPECT_TRUE(o.saved());
    EXPECT_EQ(fileBytes(tables.path("store.txt")), textExportHeader());
    EXPECT_EQ(session.unsavedReadings(), 1) << "the live readings are still unsaved";

    files.setSaveFilter(2);
    EXPECT_EQ(files.saveFilter(), 2);
    files.setSaveFilter(9);
    EXPECT_EQ(files.saveFilter(), 2) << "no such filter";
    EXPECT_EQ(FileCommands::saveFilters().size(), FileCommands::saveFilterSuffixes().size());
}

TEST(FilesChartFolder, MadeOnceAndSilently) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const QString pictures = chartPicturesDir();
    EXPECT_TRUE(pictures.startsWith(home.path()));
    EXPECT_FALSE(QFileInfo::exists(pictures));
    FileCommands::makeChartPicturesDir();
    EXPECT_TRUE(QFileInfo(pictures).isDir());
    ASSERT_TRUE(putFile(pictures + "kept.bmp", "x"));
    FileCommands::makeChartPicturesDir();
    EXPECT_EQ(fileBytes(pictures + "kept.bmp"), "x") << "an existing folder is left alone";

    // A file in its place: nothing is said, nothing breaks.
    QTemporaryDir other;
    qputenv("HOME", QFile::encodeName(other.path()));
    ASSERT_TRUE(putFile(other.filePath("TestGraph"), "a file"));
    FileCommands::makeChartPicturesDir();
    EXPECT_EQ(fileBytes(other.filePath("TestGraph")), "a file");
    qputenv("HOME", oldHome);
}
