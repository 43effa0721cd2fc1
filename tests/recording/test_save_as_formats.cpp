// The one save command with the formats for other programs: the name picks .csv, .jsonl or
// .xlsx, the options reach the writer, and every way a save can end comes back as the outcome
// the front ends tell.
#include "recording/readings_export_fixture.h"
#include "support/csv_reader.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "recording/table_export.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using namespace kxtest;

namespace {

struct SaveAsFormats : ::testing::Test {
    QTemporaryDir dir;
    ReadingsTable table;

    void SetUp() override {
        table.openScratch(readingsFields());
        for (const kxtest::Reading& r : everyKindOfReading())
            addReading(table, r);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};

struct NewFormat {
    const char* extension;
    ExportFormat format;
    const char* name;
};

constexpr NewFormat kNewFormats[] = {
    {"csv", ExportFormat::Csv, "csv"},
    {"jsonl", ExportFormat::JsonLines, "jsonl"},
    {"xlsx", ExportFormat::Xlsx, "xlsx"},
};

std::string withoutBom(const QByteArray& bytes) {
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3).toStdString() : bytes.toStdString();
}

} // namespace

TEST(SaveAsFormatNames, TheExtensionChoosesTheWriter) {
    struct Case {
        const char* path;
        ExportFormat format;
    };
    const Case cases[] = {
        {"/a/b.csv", ExportFormat::Csv},
        {"/a/DATA.CSV", ExportFormat::Csv},
        {"/a/b.Csv", ExportFormat::Csv},
        {"/a/b.jsonl", ExportFormat::JsonLines},
        {"/a/B.JSONL", ExportFormat::JsonLines},
        {"/a/b.xlsx", ExportFormat::Xlsx},
        {"/a/b.XLSX", ExportFormat::Xlsx},
        // The program's own formats keep their rule.
        {"/a/b.db", ExportFormat::Paradox},
        {"/a/b.DB", ExportFormat::Text},
        {"/a/b.xls", ExportFormat::Text},
        {"/a/b.txt", ExportFormat::Text},
        {"/a/b.json", ExportFormat::Text},
        {"/a/b.csv.txt", ExportFormat::Text},
        {"/a/b.xlsx.bak", ExportFormat::Text},
        {"/a.csv/b", ExportFormat::Text},
        {"/a/b", ExportFormat::Text},
    };
    for (const Case& c : cases)
        EXPECT_EQ(exportFormatFor(QString::fromLatin1(c.path)), c.format) << c.path;
    EXPECT_STREQ(exportFormatName(ExportFormat::Paradox), "paradox");
    EXPECT_STREQ(exportFormatName(ExportFormat::Text), "text");
    for (const NewFormat& f : kNewFormats)
        EXPECT_STREQ(exportFormatName(f.format), f.name);
}

TEST_F(SaveAsFormats, EachFormatIsWrittenAndTheTableStaysWhereItWas) {
    for (const NewFormat& f : kNewFormats) {
        SCOPED_TRACE(f.name);
        table.setCursor(2);
        const QString out = path(QStringLiteral("readings.") + QLatin1String(f.extension));
        std::vector<std::pair<qint64, qint64>> steps;
        const SaveAsOutcome o = saveTableAs(table, out, ExportKind::Live, [&](qint64 d, qint64 t) {
            steps.emplace_back(d, t);
            return true;
        });
        ASSERT_TRUE(o.saved()) << o.error.toStdString();
        EXPECT_EQ(o.format, f.format);
        EXPECT_EQ(o.path, out);
        EXPECT_EQ(o.records, 15);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back(), (std::pair<qint64, qint64>{15, 15}));
        EXPECT_EQ(table.cursor(), 2) << "only the text export walks the table";
    }
    // What each holds is the writers' own business; here the file is the one asked for.
    const auto csv = readStrictCsv(withoutBom(fileBytes(path("readings.csv"))), ',');
    ASSERT_TRUE(csv.has_value());
    EXPECT_EQ(csv->size(), 16u);
    EXPECT_EQ((*csv)[1][6], "941500000");
    const QList<QByteArray> lines = fileBytes(path("readings.jsonl")).split('\n');
    EXPECT_EQ(QJsonDocument::fromJson(lines[0]).object()["baseValue"].toDouble(), 941500000.0);
    EXPECT_TRUE(fileBytes(path("readings.xlsx")).startsWith("PK"));
}

TEST_F(SaveAsFormats, OptionsReachTheCsvWriterOnly) {
    ExportOptions european;
    european.csv.delimiter = ';';
    european.csv.decimalComma = true;
    SaveAsOutcome o = saveTableAs(table, path("eu.csv"), ExportKind::Live, {}, european);
    ASSERT_TRUE(o.saved()) << o.error.toStdString();
    const auto rows = readStrictCsv(withoutBom(fileBytes(path("eu.csv"))), ';');
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ((*rows)[0][0], "No");
    EXPECT_EQ((*rows)[0].size(), 8u);
    EXPECT_EQ((*rows)[1][2], "941,5");
    EXPECT_EQ((*rows)[3][6], "0,5");

    // The same options under another name change nothing there.
    ASSERT_TRUE(saveTableAs(table, path("a.jsonl"), ExportKind::Live, {}, european).saved());
    ASSERT_TRUE(saveTableAs(table, path("b.jsonl"), ExportKind::Live).saved());
    EXPECT_EQ(fileBytes(path("a.jsonl")), fileBytes(path("b.jsonl")));
    ASSERT_TRUE(saveTableAs(table, path("a.txt"), ExportKind::Live, {}, european).saved());
    ASSERT_TRUE(saveTableAs(table, path("b.txt"), ExportKind::Live).saved());
    EXPECT_EQ(fileBytes(path("a.txt")), fileBytes(path("b.txt")));
}

// A closed table is refused as the text export refuses it, before any file is touched; a
// target that cannot take the save, a full disk and a Cancel leave the old file.
TEST_F(SaveAsFormats, EveryFailureEndsAsTheFrontEndsExpect) {
    for (int i = 0; i < 300; ++i) // more than the small file-size limit below takes
        addReading(table, {100 + i, i * 500, "941.5", "M" + kOhm936, "IR:1000V", "Timed"});
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.csv")).constData(), 0644), 0);
    for (const NewFormat& f : kNewFormats) {
        SCOPED_TRACE(f.name);
        const QString ext = QLatin1String(f.extension);
        const QString old = path("old." + ext);
        ASSERT_TRUE(putFile(old, "the good old export"));

        const QString ro = path("ro." + ext);
        ASSERT_TRUE(putFile(ro, "keep me"));
        ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner));
        SaveAsOutcome o = saveTableAs(table, ro, ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_EQ(o.format, f.format);
        EXPECT_TRUE(o.error.contains("read-only")) << o.error.toStdString();
        EXPECT_EQ(fileBytes(ro), "keep me");

        ASSERT_TRUE(QDir(dir.path()).mkdir("folder." + ext));
        o = saveTableAs(table, path("folder." + ext), ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_TRUE(o.error.contains("folder")) << o.error.toStdString();

        o = saveTableAs(table, old, ExportKind::Live, [](qint64, qint64) { return false; });
        EXPECT_EQ(o.end, SaveAsOutcome::End::Cancelled);
        EXPECT_EQ(fileBytes(old), "the good old export");

        {
            FileSizeLimit limit(1024);
            o = saveTableAs(table, old, ExportKind::Live);
        }
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_TRUE(o.error.contains(old)) << o.error.toStdString();
        EXPECT_EQ(fileBytes(old), "the good old export");

        ReadingsTable closed;
        closed.setTableName(path("nowhere.db"));
        o = saveTableAs(closed, path("closed." + ext), ExportKind::Store);
        EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
        EXPECT_EQ(o.error, ReadingsTable::closedMessage());
        EXPECT_FALSE(QFileInfo::exists(path("closed." + ext)));
    }
    const SaveAsOutcome o = saveTableAs(table, path("pipe.csv"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_FALSE(o.error.isEmpty());
    // Nothing of any save is left behind but the files the test made.
    QStringList left = entriesOf(dir.path());
    left.removeIf([](const QString& n) {
        return n.startsWith("old.") || n.startsWith("ro.") || n.startsWith("folder.") ||
               n == "pipe.csv";
    });
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}
