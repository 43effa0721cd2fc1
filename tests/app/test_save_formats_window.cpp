// Save As and the store row's Save with the formats for other programs: the filter chosen, the
// file written, and what the user hears when it fails.
#include "app/file_commands.h"
#include "app/window_fixture.h"
#include "support/csv_reader.h"
#include "support/python_reader.h"

#include <QJsonArray>

#include <algorithm>

using namespace kx;

namespace {

struct SaveFormatsWindow : kxtest::WindowTest {
    // Readings whose texts sort wrongly (950 MΩ after 1.200 GΩ) and whose values do not.
    void recordMixedUnits() {
        show("950.0", MeterUnit::MOhm);
        show("1.200", MeterUnit::GOhm);
        show("12.50", MeterUnit::MOhm);
    }
    void saveAs(const QString& path, int filter) {
        answer(path, filter);
        win.Save_asClick();
    }
};

} // namespace

// A workbook opens in another program with the readings as numbers in ohms that sort and sum,
// whatever their unit; the window says nothing when it worked, as for a keyed copy.
TEST_F(SaveFormatsWindow, WorkbookHoldsNumbersThatSortAndSum) {
    recordMixedUnits();
    const QString out = tables.path("readings.xlsx");
    saveAs(out, 4);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown[0].text.toStdString();
    EXPECT_EQ(session.unsavedReadings(), 0);
    ASSERT_FALSE(progress.updates.empty());
    EXPECT_EQ(progress.updates.back(), (std::pair<qint64, qint64>{3, 3}));

    const kxtest::PythonRead read = kxtest::readWithPython(QStringLiteral("xlsx"), out);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    const QJsonArray rows = read.json["Readings"].toObject()["rows"].toArray();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].toArray()[6].toObject()["s"].toString(), "BaseValue");
    std::vector<double> ohms;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QJsonObject base = rows[i].toArray()[6].toObject();
        ASSERT_TRUE(base.contains("n")) << "row " << i << " holds no number";
        ohms.push_back(base["n"].toDouble());
        EXPECT_EQ(rows[i].toArray()[7].toObject()["s"].toString(), QStringLiteral("\u03A9"));
        EXPECT_TRUE(rows[i].toArray()[0].toObject().contains("n")) << "No is a number";
        EXPECT_TRUE(rows[i].toArray()[1].toObject().contains("ms")) << "Time is a time";
    }
    EXPECT_EQ(ohms, (std::vector<double>{950e6, 1.2e9, 12.5e6}));
    std::sort(ohms.begin(), ohms.end());
    EXPECT_EQ(ohms, (std::vector<double>{12.5e6, 950e6, 1.2e9}));
    EXPECT_DOUBLE_EQ(ohms[0] + ohms[1] + ohms[2], 2162.5e6);
}

TEST_F(SaveFormatsWindow, SemicolonFilterIsRememberedAndGivesDecimalCommas) {
    recordMixedUnits();
    saveAs(tables.path("eu.csv"), FileCommands::kSemicolonCsvFilter);
    // Offered first next time, and with it the same variant.
    saveAs(tables.path("again.CSV"), FileCommands::kSemicolonCsvFilter);
    EXPECT_EQ(dialogs.asked.back().filter, FileCommands::kSemicolonCsvFilter);
    EXPECT_TRUE(boxes.shown.empty());
    for (const char* name : {"eu.csv", "again.CSV"}) {
        SCOPED_TRACE(name);
        const QByteArray bytes = fileBytes(tables.path(name));
        ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
        const auto rows = kxtest::readStrictCsv(bytes.mid(3).toStdString(), ';');
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->size(), 4u);
        EXPECT_EQ((*rows)[1][2], "950,0");
        EXPECT_EQ((*rows)[1][3], "M\xCE\xA9");
        EXPECT_EQ((*rows)[3][6], "12500000");
    }
    // Another filter gives the comma CSV for the same name.
    saveAs(tables.path("eu.csv"), 5);
    EXPECT_TRUE(fileBytes(tables.path("eu.csv")).contains("\r\n1,"));
}

TEST_F(SaveFormatsWindow, FailuresAreToldInTheErrorBox) {
    recordMixedUnits();
    const QString ro = tables.path("ro.jsonl");
    ASSERT_TRUE(putFile(ro, "mine"));
    ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner));
    saveAs(ro, 7);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("read-only")) << boxes.shown[0].text.toStdString();
    EXPECT_EQ(fileBytes(ro), "mine");
    EXPECT_EQ(session.unsavedReadings(), 3);

    // Cancelled: nothing to tell, the old file kept.
    const QString old = tables.path("old.xlsx");
    ASSERT_TRUE(putFile(old, "old"));
    progress.cancelAt = 0;
    saveAs(old, 4);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(fileBytes(old), "old");
}

// The store row's Save writes the stored table in the formats for other programs too.
TEST_F(SaveFormatsWindow, StoreRowSavesTheStoredTableInTheNewFormats) {
    ASSERT_TRUE(session.storeTable().open().ok());
    const QString out = tables.path("store.csv");
    answer(out, 5);
    win.SpeedButton8Click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(fileBytes(out),
              "\xEF\xBB\xBFNo,Time,Value,Unit,Function,Remark,BaseValue,BaseUnit\r\n");
}
