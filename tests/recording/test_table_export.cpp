// Saving a readings table: the text export byte for byte, the keyed copy as another reader
// sees it, and failed or cancelled saves that leave the old file as it was.
#include "paradox/px_oracle.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"
#include "recording/table_export.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace kx;

namespace {

constexpr const char* kOhm = "\xA6\xB8";

struct Row {
    std::int32_t no;
    std::int32_t ms;
    const char* value;
    std::string unit;
    std::string function;
    const char* mode;
};

void add(ReadingsTable& t, const Row& r, bool store = false) {
    const QByteArray p = store ? "S" : "";
    t.append();
    ASSERT_TRUE(t.setFieldInt((p + "No").constData(), r.no).ok());
    ASSERT_TRUE(t.setFieldTime((p + "Time").constData(), r.ms).ok());
    ASSERT_TRUE(t.setFieldText((p + "Value").constData(), r.value).ok());
    ASSERT_TRUE(t.setFieldText((p + "Unit").constData(), r.unit).ok());
    ASSERT_TRUE(t.setFieldText((p + "V_Range").constData(), r.function).ok());
    ASSERT_TRUE(t.setFieldText((p + "I_Range").constData(), r.mode).ok());
    ASSERT_TRUE(t.post().ok());
}

QStringList entries(const QTemporaryDir& dir) {
    return QDir(dir.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
}

struct Export : ::testing::Test {
    QTemporaryDir dir;
    ReadingsTable table;

    void SetUp() override { table.openScratch(readingsFields()); }
    void fill() {
        add(table, {1, 45296789, "1.234", std::string("M") + kOhm,
                    std::string("IR:5000V 1000G") + kOhm, "Continuous"});
        add(table, {2, 45297000, "-10", "V", "DCV  600V", "Timed"});
        add(table, {3, 0, "L234", "", "", ""});
    }
};

} // namespace

TEST_F(Export, TextIsCodePage936WithTabsAndCrLfAfterEveryLine) {
    fill();
    const QString out = dir.filePath("readings.txt");
    const Status s = SaveToText(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    // Times in the long time format of the tests' locale: hours, minutes and seconds.
    const QByteArray expected =
        "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
        "1\t12:34:56\t1.234\tM\xA6\xB8\tIR:5000V 1000G\xA6\xB8\tContinuous\r\n"
        "2\t12:34:57\t-10\tV\tDCV  600V\tTimed\r\n"
        "3\t00:00:00\tL234\t\t\t\r\n";
    EXPECT_EQ(fileBytes(out), expected);
    EXPECT_TRUE(fileBytes(out).contains(QByteArray("\t\x4D\xA6\xB8\t"))) << "M and the ohm sign";
    EXPECT_EQ(entries(dir), QStringList{"readings.txt"});
}

TEST_F(Export, EmptyTableGivesTheHeaderAlone) {
    for (const char* name : {"empty.txt", "empty.xls", "empty.DB", "noext"}) {
        const QString out = dir.filePath(name);
        ASSERT_TRUE(SaveToText(table, out, ExportKind::Live).ok()) << name;
        EXPECT_EQ(fileBytes(out), "No\tTime\tValue\tUnit\tFunction\tRemark\r\n") << name;
    }
}

TEST_F(Export, StoredTableWritesItsOwnFieldsUnderTheSameHeader) {
    ReadingsTable store;
    store.openScratch(readingsFields(true));
    add(store, {7, 1000, "5", "V", "ACV", "Timed"}, true);
    const QString out = dir.filePath("store.txt");
    ASSERT_TRUE(SaveToText(store, out, ExportKind::Store).ok());
    const QByteArray expected = "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
                                "7\t00:00:01\t5\tV\tACV\tTimed\r\n";
    EXPECT_EQ(fileBytes(out), expected);
    // Saved as the live table's kind, the same fields are found under their own names.
    ASSERT_TRUE(SaveToText(store, dir.filePath("live.txt"), ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(dir.filePath("live.txt")), expected);
}

TEST_F(Export, TablesOfOtherProgramsAreReadByPositionAndKind) {
    // Fields of the six kinds under names of another program's choosing; a seventh field is
    // not written.
    ReadingsTable other;
    other.openScratch({{"Nr", px::FieldType::AutoInc, 4},
                       {"Uhrzeit", px::FieldType::Timestamp, 8},
                       {"Wert", px::FieldType::Number, 8},
                       {"Einheit", px::FieldType::Alpha, 4},
                       {"Bereich", px::FieldType::Alpha, 20},
                       {"Notiz", px::FieldType::Alpha, 20},
                       {"Extra", px::FieldType::Alpha, 4}});
    other.append();
    ASSERT_TRUE(other.setFieldInt("Nr", 4).ok());
    ASSERT_TRUE(other.setFieldTime("Uhrzeit", 3723000).ok());
    ASSERT_TRUE(other.setFieldText("Wert", "2.5").ok());
    ASSERT_TRUE(other.setFieldText("Einheit", "V").ok());
    ASSERT_TRUE(other.setFieldText("Bereich", "ACV").ok());
    ASSERT_TRUE(other.setFieldText("Notiz", "Timed").ok());
    ASSERT_TRUE(other.setFieldText("Extra", "x").ok());
    ASSERT_TRUE(other.post().ok());
    for (ExportKind kind : {ExportKind::Live, ExportKind::Store}) {
        const int k = static_cast<int>(kind);
        const QString out = dir.filePath(QStringLiteral("other%1.txt").arg(k));
        ASSERT_TRUE(SaveToText(other, out, kind).ok()) << k;
        EXPECT_EQ(fileBytes(out), "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
                                  "4\t01:02:03\t2.5\tV\tACV\tTimed\r\n")
            << k;
    }
    ASSERT_TRUE(SaveToDB(other, dir.filePath("other.db"), ExportKind::Store).ok());
    EXPECT_EQ(px::readTableInfo(dir.filePath("other.db")).value().recordCount, 1);

    // Fields that are not those kinds: the reason, and nothing written.
    ReadingsTable wrong;
    wrong.openScratch({{"Id", px::FieldType::Long, 4}, {"LONG", px::FieldType::Long, 4}});
    for (const char* name : {"wrong.txt", "wrong.db"}) {
        const SaveAsOutcome o = saveTableAs(wrong, dir.filePath(name), ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused) << name;
        EXPECT_TRUE(o.error.contains("does not hold readings")) << o.error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(name))) << name;
    }
}

TEST_F(Export, TextCellsAreTheGridsTexts) {
    // Every kind of field a user's file may hold, NULLs and odd times included, read the way
    // the grid shows them.
    const std::vector<px::FieldDef> fields = {
        {"No", px::FieldType::Short, 2},     {"Time", px::FieldType::Time, 4},
        {"Value", px::FieldType::Number, 8}, {"Unit", px::FieldType::Logical, 1},
        {"V_Range", px::FieldType::Date, 4}, {"I_Range", px::FieldType::Long, 4},
    };
    ReadingsTable t;
    t.openScratch(fields);
    const std::int32_t times[] = {0, 999, 1000, 86399999, 43200500, 43200999};
    for (int i = 0; i < 12; ++i) {
        t.append();
        if (i % 5 != 4) {
            ASSERT_TRUE(t.setFieldInt("No", i * 1000 - 6000).ok());
            ASSERT_TRUE(t.setFieldTime("Time", times[i % 6]).ok());
            ASSERT_TRUE(t.setFieldText("Value", i % 2 ? "3.25" : "-1e7").ok());
            ASSERT_TRUE(t.setFieldInt("Unit", i % 2).ok());
            ASSERT_TRUE(t.setFieldText("V_Range", "2024-02-29").ok());
            ASSERT_TRUE(t.setFieldInt("I_Range", i * -70000).ok());
        }
        ASSERT_TRUE(t.post().ok());
    }
    // Written out by hand: whole numbers, times to the second (the tests' locale shows no
    // milliseconds), numbers in their shortest form, the logical words, short dates, and
    // blanks for NULL.
    const QByteArray expected = "No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
                                "-6000\t00:00:00\t-10000000\tFalse\t29 Feb 2024\t0\r\n"
                                "-5000\t00:00:00\t3.25\tTrue\t29 Feb 2024\t-70000\r\n"
                                "-4000\t00:00:01\t-10000000\tFalse\t29 Feb 2024\t-140000\r\n"
                                "-3000\t23:59:59\t3.25\tTrue\t29 Feb 2024\t-210000\r\n"
                                "\t\t\t\t\t\r\n"
                                "-1000\t12:00:00\t3.25\tTrue\t29 Feb 2024\t-350000\r\n"
                                "0\t00:00:00\t-10000000\tFalse\t29 Feb 2024\t-420000\r\n"
                                "1000\t00:00:00\t3.25\tTrue\t29 Feb 2024\t-490000\r\n"
                                "2000\t00:00:01\t-10000000\tFalse\t29 Feb 2024\t-560000\r\n"
                                "\t\t\t\t\t\r\n"
                                "4000\t12:00:00\t-10000000\tFalse\t29 Feb 2024\t-700000\r\n"
                                "5000\t12:00:00\t3.25\tTrue\t29 Feb 2024\t-770000\r\n";
    const QString out = dir.filePath("kinds.txt");
    ASSERT_TRUE(SaveToText(t, out, ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(out).toStdString(), expected.toStdString());
}

TEST_F(Export, ClosedTableIsAnErrorAndWritesNothing) {
    table.close();
    const Status text = SaveToText(table, dir.filePath("t.txt"), ExportKind::Live);
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error(), ReadingsTable::closedMessage());
    EXPECT_TRUE(entries(dir).isEmpty());
}

TEST_F(Export, KeyedCopyReadsBackThroughPxlibWithItsIndex) {
    fill();
    const QString out = dir.filePath("copy.db");
    const Status s = SaveToDB(table, out, ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const QString index = dir.filePath("copy.px");
    EXPECT_EQ(entries(dir), (QStringList{"copy.db", "copy.px"}));

    const pxoracle::Table back = pxoracle::read(out, index);
    ASSERT_TRUE(back.error.empty()) << back.error;
    EXPECT_EQ(back.fields, readingsFields());
    ASSERT_EQ(back.rows.size(), 3u);
    EXPECT_EQ(back.rows[0][0], "1");
    EXPECT_EQ(back.rows[0][3], std::string("M") + kOhm);
    EXPECT_EQ(back.rows[0][4], std::string("IR:5000V 1000G") + kOhm);
    EXPECT_EQ(back.rows[2][2], "L234");
    EXPECT_EQ(back.rows[2][3], "<null>");

    const Result<px::TableInfo> info = px::readTableInfo(out);
    EXPECT_EQ(info.value().keyFieldCount, 1);
    const Result<px::PrimaryIndex> px = px::readPrimaryIndex(index);
    ASSERT_TRUE(px.ok()) << px.error().toStdString();
    EXPECT_EQ(indexedRecords(px.value()), 3);
    EXPECT_EQ(info.value().fields.front().name, "No") << "keyed on its first field";

    // An empty table gives an empty keyed table with its index.
    ReadingsTable empty;
    empty.openScratch(readingsFields());
    ASSERT_TRUE(SaveToDB(empty, dir.filePath("none.db"), ExportKind::Live).ok());
    EXPECT_EQ(px::readTableInfo(dir.filePath("none.db")).value().recordCount, 0);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("none.px")).value()), 0);
}

TEST_F(Export, StoredCopyIsKeyedOnSNo) {
    ReadingsTable store;
    store.openScratch(readingsFields(true));
    add(store, {3, 1000, "5", "V", "ACV", "Timed"}, true);
    add(store, {1, 2000, "6", "V", "ACV", "Timed"}, true);
    const QString out = dir.filePath("s.db");
    ASSERT_TRUE(SaveToDB(store, out, ExportKind::Store).ok());
    const pxoracle::Table back = pxoracle::read(out, dir.filePath("s.px"));
    ASSERT_TRUE(back.error.empty()) << back.error;
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0][0], "1") << "stored in key order";
    EXPECT_EQ(px::readTableInfo(out).value().keyFieldCount, 1);
    EXPECT_EQ(indexedRecords(px::readPrimaryIndex(dir.filePath("s.px")).value()), 2);

    // Saved as the live kind, the copy is still keyed on its first field, SNo.
    ASSERT_TRUE(SaveToDB(store, dir.filePath("w.db"), ExportKind::Live).ok());
    EXPECT_EQ(pxoracle::read(dir.filePath("w.db"), dir.filePath("w.px")).rows.size(), 2u);
}

TEST_F(Export, DuplicateNumberIsAKeyViolationAndKeepsTheOldPair) {
    fill();
    const QString out = dir.filePath("k.db");
    ASSERT_TRUE(SaveToDB(table, out, ExportKind::Live).ok());
    const QByteArray oldTable = fileBytes(out), oldIndex = fileBytes(dir.filePath("k.px"));
    add(table, {2, 5, "again", "V", "", ""});
    const Status dup = SaveToDB(table, out, ExportKind::Live);
    ASSERT_FALSE(dup.ok());
    EXPECT_EQ(dup.error(), "Key violation: No 2 appears twice");
    EXPECT_EQ(fileBytes(out), oldTable);
    EXPECT_EQ(fileBytes(dir.filePath("k.px")), oldIndex);
    EXPECT_EQ(entries(dir), (QStringList{"k.db", "k.px"}));
}

TEST_F(Export, KeyMustBeTheFirstField) {
    ReadingsTable t;
    t.openScratch({{"Value", px::FieldType::Alpha, 8},
                   {"No", px::FieldType::Long, 4},
                   {"Time", px::FieldType::Time, 4},
                   {"Unit", px::FieldType::Alpha, 8},
                   {"V_Range", px::FieldType::Alpha, 8},
                   {"I_Range", px::FieldType::Alpha, 8}});
    const Status s = SaveToDB(t, dir.filePath("x.db"), ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("first field")) << s.error().toStdString();
    EXPECT_TRUE(entries(dir).isEmpty());
}

TEST_F(Export, ClosedSourceIsReadFromItsFileForTheCopy) {
    const QString file = dir.filePath("src.db");
    fill();
    ASSERT_TRUE(SaveToDB(table, file, ExportKind::Live).ok());
    ReadingsTable closed;
    closed.setTableName(file);
    const QString out = dir.filePath("again.db");
    ASSERT_TRUE(SaveToDB(closed, out, ExportKind::Live).ok());
    EXPECT_FALSE(closed.isOpen()) << "closed again afterwards";
    EXPECT_EQ(px::readTableInfo(out).value().recordCount, 3);
    // A missing one fails with the engine's message.
    closed.setTableName(dir.filePath("missing.db"));
    const Status s = SaveToDB(closed, dir.filePath("third.db"), ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("missing.db")) << s.error().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("third.db")));
}

TEST_F(Export, TheNameDecidesTheFormat) {
    EXPECT_EQ(exportFormatFor("/a/b.db"), ExportFormat::Paradox);
    EXPECT_EQ(exportFormatFor("/a/b.DB"), ExportFormat::Text);
    EXPECT_EQ(exportFormatFor("/a/b.Db"), ExportFormat::Text);
    EXPECT_EQ(exportFormatFor("/a/b.db.txt"), ExportFormat::Text);
    EXPECT_EQ(exportFormatFor("/a/b.xls"), ExportFormat::Text);
    EXPECT_EQ(exportFormatFor("/a.db/b"), ExportFormat::Text) << "a dot in a folder's name";
    EXPECT_EQ(exportFormatFor("/a/.db"), ExportFormat::Paradox);
}

TEST_F(Export, TextExportTouchesOnlyItsTarget) {
    fill();
    // A keyed pair named like the text file: neither is touched.
    ASSERT_TRUE(SaveToDB(table, dir.filePath("out.db"), ExportKind::Live).ok());
    const QByteArray db = fileBytes(dir.filePath("out.db"));
    const QByteArray px = fileBytes(dir.filePath("out.px"));
    ASSERT_TRUE(SaveToText(table, dir.filePath("out.txt"), ExportKind::Live).ok());
    ASSERT_TRUE(SaveToText(table, dir.filePath("out.DB"), ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(dir.filePath("out.db")), db);
    EXPECT_EQ(fileBytes(dir.filePath("out.px")), px);
    EXPECT_EQ(entries(dir), (QStringList{"out.DB", "out.db", "out.px", "out.txt"}));
}

TEST_F(Export, TargetsThatCannotTakeASaveAreRefusedAndKept) {
    fill();
    const QString ro = dir.filePath("ro.txt");
    ASSERT_TRUE(putFile(ro, "keep me"));
    ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner | QFile::ReadGroup));
    Status s = SaveToText(table, ro, ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("read-only")) << s.error().toStdString();
    EXPECT_EQ(fileBytes(ro), "keep me");

    const QString roDb = dir.filePath("ro.db");
    ASSERT_TRUE(putFile(roDb, "old table"));
    ASSERT_TRUE(QFile::setPermissions(roDb, QFile::ReadOwner));
    EXPECT_FALSE(SaveToDB(table, roDb, ExportKind::Live).ok());
    EXPECT_EQ(fileBytes(roDb), "old table");

    // A read-only index beside a table is protected the same way.
    const QString pair = dir.filePath("pair.db");
    ASSERT_TRUE(SaveToDB(table, pair, ExportKind::Live).ok());
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("pair.px"), QFile::ReadOwner));
    s = SaveToDB(table, pair, ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("pair.px")) << s.error().toStdString();

    EXPECT_FALSE(SaveToText(table, dir.filePath("no/such/folder.txt"), ExportKind::Live).ok());
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.txt"));
    s = SaveToText(table, dir.filePath("folder.txt"), ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("folder")) << s.error().toStdString();

    // A pipe is refused at once instead of being written to forever.
    const QString fifo = dir.filePath("pipe.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    s = SaveToText(table, fifo, ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("it is a pipe, not a file")) << s.error().toStdString();
    EXPECT_FALSE(SaveToDB(table, dir.filePath("pipe.txt"), ExportKind::Live).ok());

    // No temporary file was left by any of them.
    EXPECT_EQ(entries(dir),
              (QStringList{"folder.txt", "pair.db", "pair.px", "pipe.txt", "ro.db", "ro.txt"}));
}

// A write that fails half way (a full disk) leaves the old files whole and says where and
// why; the text export used to put the cut file in place and report success.
TEST_F(Export, FailedWritesKeepTheOldFilesAndNameThePath) {
    for (int i = 0; i < 2000; ++i)
        add(table, {i + 1, i * 10, "1.0", "V", "DCV  600V", "Continuous"});
    const QString text = dir.filePath("old.txt");
    const QString db = dir.filePath("old.db");
    ASSERT_TRUE(putFile(text, "the good old export"));
    ASSERT_TRUE(SaveToDB(table, db, ExportKind::Live).ok());
    const QByteArray oldDb = fileBytes(db), oldPx = fileBytes(dir.filePath("old.px"));
    add(table, {5000, 0, "2.0", "V", "", ""});
    {
        kxtest::FileSizeLimit limit(16 * 1024);
        const Status t = SaveToText(table, text, ExportKind::Live);
        ASSERT_FALSE(t.ok());
        EXPECT_EQ(t.error(), "Cannot write " + text + ": File too large");
        const Status d = SaveToDB(table, db, ExportKind::Live);
        ASSERT_FALSE(d.ok());
        EXPECT_TRUE(d.error().startsWith("Cannot write " + db + ": ")) << d.error().toStdString();
    }
    EXPECT_EQ(fileBytes(text), "the good old export");
    EXPECT_EQ(fileBytes(db), oldDb);
    EXPECT_EQ(fileBytes(dir.filePath("old.px")), oldPx);
    EXPECT_EQ(entries(dir), (QStringList{"old.db", "old.px", "old.txt"}));
}

TEST_F(Export, ReplacedFilesKeepTheirModeAndLinksStayLinks) {
    fill();
    const QString text = dir.filePath("private.txt");
    const QString db = dir.filePath("private.db");
    ASSERT_TRUE(putFile(text, "old"));
    ASSERT_TRUE(SaveToDB(table, db, ExportKind::Live).ok());
    for (const QString& p : {text, db, dir.filePath("private.px")})
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0600), 0);
    ASSERT_TRUE(SaveToText(table, text, ExportKind::Live).ok());
    ASSERT_TRUE(SaveToDB(table, db, ExportKind::Live).ok());
    for (const QString& p : {text, db, dir.filePath("private.px")}) {
        struct stat st {};
        ::stat(QFile::encodeName(p).constData(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << p.toStdString();
    }

    // One rule for links, whatever the format: the file they name is written, the link stays.
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    for (const char* name : {"l.txt", "l.db", "l.px"}) {
        ASSERT_TRUE(putFile(dir.filePath(QStringLiteral("real/") + name), "old"));
        ASSERT_TRUE(QFile::link(QStringLiteral("real/") + name, dir.filePath(name)));
    }
    ASSERT_TRUE(SaveToText(table, dir.filePath("l.txt"), ExportKind::Live).ok());
    ASSERT_TRUE(SaveToDB(table, dir.filePath("l.db"), ExportKind::Live).ok());
    for (const char* name : {"l.txt", "l.db", "l.px"})
        EXPECT_TRUE(QFileInfo(dir.filePath(name)).isSymLink()) << name;
    EXPECT_TRUE(fileBytes(dir.filePath("real/l.txt")).startsWith("No\tTime"));
    EXPECT_EQ(px::readTableInfo(dir.filePath("real/l.db")).value().recordCount, 3);
}

TEST_F(Export, TableInUseIsNotWrittenOver) {
    fill();
    const QString file = dir.filePath("inuse.db");
    ASSERT_TRUE(SaveToDB(table, file, ExportKind::Live).ok());
    const QByteArray before = fileBytes(file);
    {
        auto lock = px::TableLock::acquire(file);
        ASSERT_TRUE(lock.ok());
        const Status s = SaveToDB(table, file, ExportKind::Live);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().contains("in use")) << s.error().toStdString();
        EXPECT_FALSE(SaveToText(table, file, ExportKind::Live).ok()) << "nor replaced by text";
    }
    EXPECT_EQ(fileBytes(file), before);

    // The open table's own file is not a target either.
    ReadingsTable open;
    open.setTableName(file);
    ASSERT_TRUE(open.open().ok());
    Status s = SaveToDB(open, file, ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("being saved")) << s.error().toStdString();
    s = SaveToText(open, file, ExportKind::Live);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(fileBytes(file), before);
}

TEST_F(Export, CancelledSavesLeaveTheOldFilesAndNoTemporary) {
    for (int i = 0; i < 30000; ++i)
        add(table, {i + 1, i * 10, "1.0", "V", "", ""});
    const QString text = dir.filePath("c.txt");
    const QString db = dir.filePath("c.db");
    ASSERT_TRUE(putFile(text, "old text"));
    ASSERT_TRUE(putFile(db, "old table"));

    qint64 calls = 0, lastTotal = 0;
    auto cancelSoon = [&](qint64 done, qint64 total) {
        ++calls;
        lastTotal = total;
        return done < 10000;
    };
    Status s = SaveToText(table, text, ExportKind::Live, cancelSoon);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), px::cancelledMessage());
    EXPECT_GT(calls, 1);
    EXPECT_EQ(lastTotal, 30000);
    s = SaveToDB(table, db, ExportKind::Live, cancelSoon);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(fileBytes(text), "old text");
    EXPECT_EQ(fileBytes(db), "old table");
    EXPECT_EQ(entries(dir), (QStringList{"c.db", "c.txt"}));

    // Carried through, the last report says all is done.
    qint64 last = -1;
    ASSERT_TRUE(SaveToText(table, text, ExportKind::Live, [&](qint64 done, qint64 total) {
                    last = done;
                    EXPECT_EQ(total, 30000);
                    return true;
                }).ok());
    EXPECT_EQ(last, 30000);
}

TEST_F(Export, TableEmptiedDuringTheSaveStopsIt) {
    for (int i = 0; i < 20000; ++i)
        add(table, {i + 1, 0, "1", "V", "", ""});
    const QString out = dir.filePath("moving.txt");
    ASSERT_TRUE(putFile(out, "old"));
    auto clearing = [&](qint64 done, qint64) {
        if (done > 0)
            table.openScratch(readingsFields()); // a Clear All while the save runs
        return true;
    };
    const Status s = SaveToText(table, out, ExportKind::Live, clearing);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("changed")) << s.error().toStdString();
    EXPECT_EQ(fileBytes(out), "old");

    // Appends are no harm: the save writes what it started with.
    for (int i = 0; i < 20000; ++i)
        add(table, {i + 1, 0, "1", "V", "", ""});
    int appended = 0;
    ASSERT_TRUE(SaveToDB(table, dir.filePath("grow.db"), ExportKind::Live, [&](qint64, qint64) {
                    add(table, {100000 + appended++, 0, "2", "V", "", ""});
                    return true;
                }).ok());
    EXPECT_EQ(px::readTableInfo(dir.filePath("grow.db")).value().recordCount, 20000);
}

TEST_F(Export, SaveAsTellsHowTheSaveEnded) {
    fill();
    table.setCursor(0);
    const QString text = dir.filePath("a.txt");
    SaveAsOutcome o = saveTableAs(table, text, ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::Saved);
    EXPECT_EQ(o.format, ExportFormat::Text);
    EXPECT_EQ(o.path, text);
    EXPECT_EQ(o.records, 3);
    EXPECT_EQ(table.cursor(), 2) << "the text export leaves the table on its last record";

    ASSERT_TRUE(QFile::setPermissions(text, QFile::ReadOwner));
    table.setCursor(0);
    o = saveTableAs(table, text, ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_TRUE(o.error.contains("read-only")) << o.error.toStdString();
    EXPECT_EQ(table.cursor(), 2) << "walked all the same";

    table.setCursor(0);
    o = saveTableAs(table, dir.filePath("b.db"), ExportKind::Live);
    EXPECT_TRUE(o.saved());
    EXPECT_EQ(o.format, ExportFormat::Paradox);
    EXPECT_EQ(table.cursor(), 0) << "a keyed copy does not walk the table";

    add(table, {1, 0, "dup", "", "", ""});
    o = saveTableAs(table, dir.filePath("c.db"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_EQ(o.error, "Key violation: No 1 appears twice");

    table.setCursor(0);
    o = saveTableAs(table, dir.filePath("d.txt"), ExportKind::Live,
                    [](qint64, qint64) { return false; });
    EXPECT_EQ(o.end, SaveAsOutcome::End::Cancelled);
    EXPECT_EQ(table.cursor(), 0) << "a cancelled walk does not move the table";
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("d.txt")));

    table.close();
    o = saveTableAs(table, dir.filePath("e.txt"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
    EXPECT_EQ(o.error, ReadingsTable::closedMessage());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("e.txt")));
}

// The command line's export: the target is refused before the source is even looked at, and
// a source that cannot be read is the table's fault, not the file's.
TEST_F(Export, SavingATableFileChecksTheTargetFirst) {
    fill();
    const QString source = dir.filePath("src.db");
    ASSERT_TRUE(SaveToDB(table, source, ExportKind::Live).ok());
    SaveAsOutcome o = saveTableFileAs(source, dir.filePath("copy.txt"), ExportKind::Store);
    ASSERT_TRUE(o.saved()) << o.error.toStdString();
    EXPECT_EQ(o.records, 3);
    EXPECT_TRUE(fileBytes(dir.filePath("copy.txt")).startsWith(textExportHeader() + "1\t"));

    o = saveTableFileAs(dir.filePath("absent.db"), dir.filePath("no/folder/x.txt"),
                        ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_TRUE(o.error.contains("folder does not exist")) << o.error.toStdString();
    o = saveTableFileAs(dir.filePath("absent.db"), dir.filePath("x.txt"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
    EXPECT_TRUE(o.error.contains("absent.db")) << o.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x.txt")));
}
