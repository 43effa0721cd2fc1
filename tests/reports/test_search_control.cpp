// The search: its statements and their control, and the dialog that shows them.
#include "reports/search_control.h"

#include "app/window_fixture.h"
#include "readings/readings_table.h"
#include "reports/report_fixtures.h"
#include "reports/table_query_model.h"
#include "reports/ui/search_dialog.h"

#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;
using Outcome = SearchControl::Outcome;

namespace {

struct Search : ::testing::Test {
    QTemporaryDir dir;
    QString appDir = dir.path() + QLatin1Char('/');
    QString file = dir.filePath("Data.DB");
    ReadingsTable live;
    TableQueryModel query;
    SearchControl control{live, query, appDir};

    void SetUp() override {
        kxtest::writeReadings(file,
                              {{"500", "V"}, {"0.12", "A"}, {"99", "M\xA6\xB8"}, {"250", "V"}});
        openLive(file);
    }
    void openLive(const QString& name) {
        live.close();
        live.setTableName(name);
        const Status s = live.open();
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
    }
    // The live table under `name` with one reading loaded, whatever the file holds.
    void loadedLive(const QString& name) {
        live.close();
        live.setTableName(name);
        live.reset(readingsFields());
        live.appendLoaded(kxtest::readingRecord(1, {"1", "V"}));
    }
    // Records recorded during the run: pending in the open table, never in its file.
    void recordPending(const char* unit, int count) {
        for (int i = 0; i < count; ++i) {
            live.append();
            ASSERT_TRUE(live.setFieldInt("No", 100 + i).ok());
            ASSERT_TRUE(live.setFieldText("Unit", unit).ok());
            ASSERT_TRUE(live.post().ok());
        }
    }
};

std::vector<std::string> column(const TableQueryModel& m, int field) {
    std::vector<std::string> v;
    for (qint64 r = 0; r < m.recordCount(); ++r)
        v.push_back(m.fieldText(r, field));
    return v;
}

struct SearchDialog : Search {
    kxtest::RecordedBoxes boxes;
    std::unique_ptr<TFrmsearch> dialog;

    void SetUp() override {
        Search::SetUp();
        dialog = std::make_unique<TFrmsearch>(live, appDir, boxes);
    }
    void TearDown() override { dialog->hide(); }

    QTableView* grid() const { return dialog->findChild<QTableView*>("DBGrid1"); }
    void press(const char* name) { dialog->findChild<QPushButton*>(name)->click(); }
    void search(int choice) {
        dialog->radioButton(choice)->setChecked(true);
        press("BitBtn1");
    }
    int rows() const { return grid()->model()->rowCount(); }
};

} // namespace

TEST(SearchTexts, NameTheScratchTableInTheProgramsFolderAndOtherFilesAsTheyAre) {
    SearchTexts t = buildSearchTexts(QStringLiteral("Pw60bdb"), QStringLiteral("/opt/kx/"));
    EXPECT_EQ(t.tablePath, "/opt/kx/Pw60bdb");
    EXPECT_EQ(t.base, "select * from\"/opt/kx/Pw60bdb\"");
    EXPECT_EQ(t.conditions[0], "select * from\"/opt/kx/Pw60bdb\"where Unit=\"V\"");
    EXPECT_EQ(t.conditions[2], "select * from\"/opt/kx/Pw60bdb\"where Unit=\"KW\"");
    EXPECT_EQ(t.conditions[5], "select * from\"/opt/kx/Pw60bdb\"where Unit=\"KWh\"");
    EXPECT_EQ(t.conditions[6], "select * from\"/opt/kx/Pw60bdb\"where Unit=\"0C\"");

    // Only the exact bare name is the scratch table; an opened file keeps its full path.
    t = buildSearchTexts(QStringLiteral("/home/u/run 1.DB"), QStringLiteral("/opt/kx/"));
    EXPECT_EQ(t.base, "select * from\"/home/u/run 1.DB\"");
    EXPECT_EQ(buildSearchTexts(QStringLiteral("pw60bdb"), QStringLiteral("/x/")).tablePath,
              "pw60bdb");
}

TEST_F(Search, AFileWithAQuoteInItsNameIsStillFound) {
    const QString odd = dir.filePath("run \"7\".DB");
    kxtest::writeReadings(odd, {{"1", "V"}, {"2", "A"}});
    openLive(odd);
    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(query.recordCount(), 2);
    ASSERT_TRUE(control.search(1).ok());
    EXPECT_EQ(column(query, 2), (std::vector<std::string>{"2"}));
}

TEST_F(Search, FindsCommittedRecordsOnlyWhileEmptinessCountsPendingOnes) {
    // A fresh recording: the file holds nothing, the open table holds pending readings.
    const QString fresh = dir.filePath("Fresh.DB");
    kxtest::writeReadings(fresh, {});
    openLive(fresh);
    recordPending("0C", 3);
    ASSERT_FALSE(live.isEmpty());

    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(query.recordCount(), 0);
    const Result<Outcome> r = control.search(kTempeChoice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::NoMatch) << "pending records are not in the file";

    // The same with committed records beside pending ones.
    openLive(file);
    recordPending("V", 5);
    ASSERT_TRUE(control.activate().ok());
    ASSERT_TRUE(control.search(0).ok());
    EXPECT_EQ(column(query, 0), (std::vector<std::string>{"1", "4"}));
}

TEST_F(Search, TheScratchTableIsFoundInTheProgramsFolder) {
    kxtest::writeReadings(appDir + "Pw60bdb.DB", {{"1", "V"}, {"2", "0C"}});
    loadedLive(QStringLiteral("Pw60bdb")); // something to search: not empty
    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(control.texts().tablePath, appDir + "Pw60bdb");
    EXPECT_EQ(query.recordCount(), 2);
    const Result<Outcome> r = control.search(kTempeChoice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::Listed);
    EXPECT_EQ(column(query, 2), (std::vector<std::string>{"2"}));
}

TEST(TableQueryModelTest, ResetsItsViewsOnEachRun) {
    QTemporaryDir dir;
    const QString file = dir.filePath("t.DB");
    kxtest::writeReadings(file, {{"1", "V"}, {"2", "A"}});
    TableQueryModel m;
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    m.setText(QStringLiteral("select * from \"%1\" where Unit='A'").arg(file));
    ASSERT_TRUE(m.open().ok());
    EXPECT_EQ(m.rowCount(), 1);
    EXPECT_EQ(resets.count(), 1);
    m.setText(QStringLiteral("select * from \"%1\" where Colour='A'").arg(file));
    EXPECT_FALSE(m.open().ok());
    EXPECT_FALSE(m.isOpen());
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_EQ(resets.count(), 2);
    // Executing keeps no rows and does not disturb the query.
    m.setText(QStringLiteral("select * from \"%1\"").arg(file));
    EXPECT_TRUE(m.execute().ok());
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_EQ(resets.count(), 2);
}

TEST_F(SearchDialog, LaidOutWithItsSevenQuantities) {
    EXPECT_EQ(dialog->windowTitle(), "Search");
    EXPECT_EQ(dialog->size(), QSize(541, 363));
    EXPECT_EQ(grid()->size(), QSize(535, 250));
    const char* captions[] = {"Voltage",      "Current",       "Active_Power", "Apparent_Power",
                              "Power_Factor", "Active_Energy", "Tempe"};
    // Every caption shows whole, in one row inside the frame.
    dialog->show();
    for (int i = 0; i < 7; ++i) {
        QRadioButton* b = dialog->radioButton(i);
        EXPECT_EQ(b->text(), captions[i]);
        EXPECT_GE(b->width(), b->sizeHint().width()) << i;
        EXPECT_EQ(b->y(), dialog->radioButton(0)->y());
        EXPECT_LE(b->geometry().right(), b->parentWidget()->width());
    }
    auto* search = dialog->findChild<QPushButton*>("BitBtn1");
    EXPECT_EQ(search->text(), "&Search");
    EXPECT_TRUE(search->isDefault());
    // The grid shows the query's own rows.
    EXPECT_EQ(grid()->model(), &dialog->query());
}

TEST_F(SearchDialog, EachShowingListsEverythingAndChecksVoltage) {
    dialog->show();
    EXPECT_EQ(dialog->control().texts().tablePath, file);
    EXPECT_EQ(rows(), 4);
    const TableQueryModel& m = dialog->query();
    EXPECT_EQ(m.columnCount(), 6);
    EXPECT_EQ(m.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Unit");
    EXPECT_EQ(m.data(m.index(2, 3)).toString(), QString::fromUtf8("MΩ"));
    EXPECT_TRUE(dialog->radioButton(0)->isChecked());

    press("BitBtn1");
    EXPECT_EQ(column(m, 2), (std::vector<std::string>{"500", "250"}));
    search(1);
    EXPECT_EQ(column(m, 2), (std::vector<std::string>{"0.12"}));
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open after a search";

    dialog->radioButton(6)->setChecked(true);
    press("BitBtn2"); // Cancel
    EXPECT_FALSE(dialog->isVisible());
    dialog->show();
    EXPECT_TRUE(dialog->radioButton(0)->isChecked());
    EXPECT_EQ(rows(), 4);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SearchDialog, OnlyTempeSaysSoWhenNothingMatches) {
    kxtest::writeReadings(file, {{"500", "V"}, {"250", "V"}});
    dialog->show();
    for (int choice = 1; choice < kTempeChoice; ++choice) {
        search(choice);
        EXPECT_EQ(rows(), 0) << choice;
    }
    EXPECT_TRUE(boxes.shown.empty()) << "an empty result shows no message";
    search(kTempeChoice);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_EQ(boxes.shown[0].text, " No records for you searching ! ");
    EXPECT_EQ(rows(), 0);
}

TEST_F(SearchDialog, AnEmptyLiveTableIsReportedWhateverIsChecked) {
    dialog->show();
    live.close(); // a closed table holds no records either
    for (int i = 0; i < 7; ++i)
        search(i);
    ASSERT_EQ(boxes.shown.size(), 7u);
    for (const auto& b : boxes.shown) {
        EXPECT_EQ(b.kind, "information");
        EXPECT_EQ(b.text, "no records in database!");
    }
    EXPECT_EQ(rows(), 4) << "the grid keeps its previous result";
}

TEST_F(SearchDialog, AnUnreadableFileGoesToTheErrorBox) {
    loadedLive(dir.filePath("Missing.DB"));
    dialog->show();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Cannot open table file"));
    EXPECT_TRUE(boxes.shown[0].text.contains("Missing.DB"));
    EXPECT_FALSE(dialog->query().isOpen());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(grid()->model()->columnCount(), 0);

    search(0);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].kind, "error");
    EXPECT_TRUE(boxes.shown[1].text.startsWith("Cannot open table file"));
}
