// The one save command: the name picks the format, the options reach the writer, and every
// way a save can end comes back as the outcome the front ends tell.
#include "support/csv_reader.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "paradox/paradox_reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using namespace kxtest;

namespace {

using SaveAsFormats = EveryKindOfReadingTable;

struct Format {
    const char* extension;
    ExportFormat format;
    const char* name;
    bool walks; // the text export walks the table to its last record
};

constexpr Format kFormats[] = {
    {"txt", ExportFormat::Text, "text", true},   {"db", ExportFormat::Paradox, "paradox", false},
    {"csv", ExportFormat::Csv, "csv", false},    {"jsonl", ExportFormat::JsonLines, "jsonl", false},
    {"xlsx", ExportFormat::Xlsx, "xlsx", false},
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
        // A keyed copy only for exactly ".db"; every other name gives the text.
        {"/a/b.db", ExportFormat::Paradox},
        {"/a/.db", ExportFormat::Paradox},
        {"/a/b.DB", ExportFormat::Text},
        {"/a/b.Db", ExportFormat::Text},
        {"/a/b.db.txt", ExportFormat::Text},
        {"/a.db/b", ExportFormat::Text}, // a dot in a folder's name
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
    for (const Format& f : kFormats)
        EXPECT_STREQ(exportFormatName(f.format), f.name);
}

TEST_F(SaveAsFormats, EachFormatIsWrittenAndOnlyTheTextWalksTheTable) {
    for (const Format& f : kFormats) {
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
        EXPECT_EQ(table.cursor(), f.walks ? 14 : 2);
    }
    // What each holds is the writers' own business; here the file is the one asked for.
    EXPECT_TRUE(fileBytes(path("readings.txt")).startsWith(textExportHeader()));
    EXPECT_EQ(px::readTableInfo(path("readings.db")).value().recordCount, 15);
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
    EXPECT_EQ((*rows)[0].size(), 8u);
    EXPECT_EQ((*rows)[1][2], "941,5");
    EXPECT_EQ((*rows)[3][6], "0,5");

    // The same options under another name change nothing there.
    for (const char* ext : {"jsonl", "txt"}) {
        const QString a = path(QStringLiteral("a.") + ext), b = path(QStringLiteral("b.") + ext);
        ASSERT_TRUE(saveTableAs(table, a, ExportKind::Live, {}, european).saved());
        ASSERT_TRUE(saveTableAs(table, b, ExportKind::Live).saved());
        EXPECT_EQ(fileBytes(a), fileBytes(b)) << ext;
    }
}

// A closed table or one that holds no readings is refused before any file is touched; a
// target that cannot take the save, a full disk and a Cancel leave the old file. The text
// export walks the table even when its target is refused, but a cancelled walk does not move
// it.
TEST_F(SaveAsFormats, EveryFailureEndsAsTheFrontEndsExpect) {
    for (int i = 0; i < 300; ++i) // more than the small file-size limit below takes
        addRow(table, {100 + i, i * 500, "941.5", kMOhm, "IR:1000V", "Timed"});
    ReadingsTable wrong;
    wrong.openScratch({{"Id", px::FieldType::Long, 4}, {"LONG", px::FieldType::Long, 4}});
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.csv")).constData(), 0644), 0);
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        const QString ext = QLatin1String(f.extension);
        const QString old = path("old." + ext);
        ASSERT_TRUE(putFile(old, "the good old export"));

        const QString ro = path("ro." + ext);
        ASSERT_TRUE(putFile(ro, "keep me"));
        ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner));
        table.setCursor(0);
        SaveAsOutcome o = saveTableAs(table, ro, ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_EQ(o.format, f.format);
        EXPECT_TRUE(o.error.contains("read-only")) << o.error.toStdString();
        EXPECT_EQ(fileBytes(ro), "keep me");
        EXPECT_EQ(table.cursor(), f.walks ? table.rowCount() - 1 : 0);

        ASSERT_TRUE(QDir(dir.path()).mkdir("folder." + ext));
        o = saveTableAs(table, path("folder." + ext), ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_TRUE(o.error.contains("folder")) << o.error.toStdString();

        table.setCursor(0);
        o = saveTableAs(table, old, ExportKind::Live, [](qint64, qint64) { return false; });
        EXPECT_EQ(o.end, SaveAsOutcome::End::Cancelled);
        EXPECT_EQ(fileBytes(old), "the good old export");
        EXPECT_EQ(table.cursor(), 0);

        {
            FileSizeLimit limit(1024);
            o = saveTableAs(table, old, ExportKind::Live);
        }
        EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
        EXPECT_TRUE(o.error.contains(path("old."))) << o.error.toStdString(); // or its index
        EXPECT_EQ(fileBytes(old), "the good old export");

        // A keyed copy reads a closed table from its file, here a missing one.
        ReadingsTable closed;
        closed.setTableName(path("nowhere.db"));
        o = saveTableAs(closed, path("closed." + ext), ExportKind::Store);
        EXPECT_FALSE(o.saved());
        if (f.format == ExportFormat::Paradox) {
            EXPECT_TRUE(o.error.contains("nowhere.db")) << o.error.toStdString();
        } else {
            EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
            EXPECT_EQ(o.error, ReadingsTable::closedMessage());
        }
        o = saveTableAs(wrong, path("wrong." + ext), ExportKind::Live);
        EXPECT_EQ(o.end, SaveAsOutcome::End::TableRefused);
        EXPECT_TRUE(o.error.contains("does not hold readings")) << o.error.toStdString();
    }
    SaveAsOutcome o = saveTableAs(table, path("pipe.csv"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_FALSE(o.error.isEmpty());
    addRow(table, {1, 0, "dup", "", "", ""});
    o = saveTableAs(table, path("dup.db"), ExportKind::Live);
    EXPECT_EQ(o.end, SaveAsOutcome::End::WriteFailed);
    EXPECT_EQ(o.error, "Key violation: No 1 appears twice");
    // Nothing of any save is left behind but the files the test made.
    QStringList left = entriesOf(dir.path());
    left.removeIf([](const QString& n) {
        return n.startsWith("old.") || n.startsWith("ro.") || n.startsWith("folder.") ||
               n == "pipe.csv";
    });
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}
