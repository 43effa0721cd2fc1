#include "reports/search_control.h"

#include "recording/readings_schema.h"
#include "recording/readings_table.h"
#include "recording/record_store.h"
#include "reports/report_fixtures.h"
#include "reports/table_query_model.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;
using Outcome = SearchControl::Outcome;

namespace {

struct Search : ::testing::Test {
    QTemporaryDir dir;
    QString appDir;
    QString file;
    ReadingsTable live;
    TableQueryModel query;
    SearchControl control{live, query, appDir};

    Search() : appDir(dir.path() + QLatin1Char('/')), file(dir.filePath("Data.DB")) {}

    void SetUp() override {
        kxtest::writeReadings(file,
                              {{"500", "V"}, {"0.12", "A"}, {"99", "M\xA6\xB8"}, {"250", "V"}});
        live.setTableName(file);
        const Status s = live.open();
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
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

    std::vector<std::string> column(int field) const {
        std::vector<std::string> v;
        for (qint64 r = 0; r < query.recordCount(); ++r)
            v.push_back(query.fieldText(r, field));
        return v;
    }
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
    live.close();
    live.setTableName(odd);
    ASSERT_TRUE(live.open().ok());
    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(query.recordCount(), 2);
    ASSERT_TRUE(control.search(1).ok());
    EXPECT_EQ(column(2), (std::vector<std::string>{"2"}));
}

TEST_F(Search, ActivationListsEveryRecordOfTheFile) {
    ASSERT_TRUE(control.activate().ok());
    EXPECT_TRUE(query.isOpen());
    EXPECT_EQ(query.recordCount(), 4);
    EXPECT_EQ(query.columnCount(), 6);
    EXPECT_EQ(query.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Unit");
    EXPECT_EQ(query.data(query.index(2, 3)).toString(), QString::fromUtf8("MΩ"));
    EXPECT_EQ(control.texts().tablePath, file);
}

TEST_F(Search, EachQuantityListsItsUnit) {
    ASSERT_TRUE(control.activate().ok());
    Result<Outcome> r = control.search(0); // Voltage
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::Listed);
    EXPECT_EQ(column(2), (std::vector<std::string>{"500", "250"}));

    r = control.search(1); // Current
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(column(2), (std::vector<std::string>{"0.12"}));
}

TEST_F(Search, OnlyTempeSaysSoWhenNothingMatches) {
    ASSERT_TRUE(control.activate().ok());
    Result<Outcome> r = control.search(kTempeChoice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::NoMatch);
    EXPECT_EQ(query.recordCount(), 0);
    for (int choice = 2; choice < kTempeChoice; ++choice) {
        r = control.search(choice);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.value(), Outcome::Listed) << choice;
        EXPECT_EQ(query.recordCount(), 0);
    }
    EXPECT_EQ(SearchControl::noMatchMessage(), " No records for you searching ! ");
}

TEST_F(Search, AnEmptyLiveTableIsReportedAndTheGridKeepsItsRows) {
    ASSERT_TRUE(control.activate().ok());
    live.close(); // a closed table holds no records either
    for (int choice = 0; choice < static_cast<int>(kSearchChoices.size()); ++choice) {
        const Result<Outcome> r = control.search(choice);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.value(), Outcome::EmptyDatabase);
        EXPECT_EQ(query.recordCount(), 4) << "the previous result stays";
    }
    EXPECT_EQ(SearchControl::emptyDatabaseMessage(), "no records in database!");
}

TEST_F(Search, FindsCommittedRecordsOnlyWhileEmptinessCountsPendingOnes) {
    // A fresh recording: the file holds nothing, the open table holds pending readings.
    live.close();
    const QString fresh = dir.filePath("Fresh.DB");
    kxtest::writeReadings(fresh, {});
    live.setTableName(fresh);
    ASSERT_TRUE(live.open().ok());
    recordPending("0C", 3);
    ASSERT_FALSE(live.isEmpty());

    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(query.recordCount(), 0);
    const Result<Outcome> r = control.search(kTempeChoice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::NoMatch) << "pending records are not in the file";

    // The same with committed records beside pending ones.
    live.close();
    live.setTableName(file);
    ASSERT_TRUE(live.open().ok());
    recordPending("V", 5);
    ASSERT_TRUE(control.activate().ok());
    ASSERT_TRUE(control.search(0).ok());
    EXPECT_EQ(column(0), (std::vector<std::string>{"1", "4"}));
}

TEST_F(Search, TheScratchTableIsFoundInTheProgramsFolder) {
    kxtest::writeReadings(appDir + "Pw60bdb.DB", {{"1", "V"}, {"2", "0C"}});
    live.close();
    live.setTableName(QStringLiteral("Pw60bdb"));
    live.reset(readingsFields()); // something to search: not empty
    live.appendLoaded(kxtest::readingRecord(1, {"1", "V"}));
    ASSERT_TRUE(control.activate().ok());
    EXPECT_EQ(control.texts().tablePath, appDir + "Pw60bdb");
    EXPECT_EQ(query.recordCount(), 2);
    const Result<Outcome> r = control.search(kTempeChoice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), Outcome::Listed);
    EXPECT_EQ(column(2), (std::vector<std::string>{"2"}));
}

TEST_F(Search, AFileThatCannotBeReadGivesTheExecutionsError) {
    ASSERT_TRUE(control.activate().ok());
    live.close();
    live.setTableName(dir.filePath("Gone.DB"));
    live.reset(readingsFields());
    live.appendLoaded(kxtest::readingRecord(1, {"1", "V"}));
    const Status s = control.activate();
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().startsWith("Cannot open table file")) << s.error().toStdString();
    EXPECT_FALSE(query.isOpen());
    EXPECT_EQ(query.rowCount(), 0);
    EXPECT_EQ(query.columnCount(), 0);

    const Result<Outcome> r = control.search(0);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().startsWith("Cannot open table file"));
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
