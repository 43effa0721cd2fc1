// The Assets window, an asset's page and filing a test from the Test Results window, on a
// register in a temporary SQLite file; the register's place in the settings; the list's
// texts and the trend line.
#include "analysis/live_results.h"
#include "analysis/ui/curve_view.h"
#include "analysis/ui/results_window.h"
#include "app/file_commands.h"
#include "app/settings_file.h"
#include "app/window_fixture.h"
#include "assets/ui/asset_list_model.h"
#include "assets/ui/asset_page.h"
#include "assets/ui/assets_window.h"
#include "support/reading_rows.h"

#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include <cmath>
#include <set>

using namespace kx;

namespace {

QDateTime yearsAgo(int years) {
    return QDateTime(QDate(QDate::currentDate().year() - years, 6, 1), QTime(10, 0));
}

// Yearly tests at 40 °C, the last one a year ago; each with three readings.
std::vector<FiledTest> yearly(const QString& tag, const std::vector<double>& megaohms) {
    std::vector<FiledTest> out;
    for (std::size_t i = 0; i < megaohms.size(); ++i) {
        FiledTest t;
        t.testedAt = yearsAgo(int(megaohms.size() - i));
        t.result.test = 1;
        t.result.r60 = megaohms[i] * 1e6;
        t.result.r600 = megaohms[i] * 2.5e6;
        t.result.pi = 2.5;
        t.result.temperature = 40;
        t.operatorName = QStringLiteral("Ann");
        t.sourcePath = QStringLiteral("/plant/%1-%2.db").arg(tag).arg(i);
        t.sourceHash = QStringLiteral("%1-%2").arg(tag).arg(i);
        t.sourceTest = 1;
        for (double s : {15.0, 30.0, 60.0})
            t.readings.push_back({s, megaohms[i] * 1e6 * s / 60});
        out.push_back(t);
    }
    return out;
}

Asset asset(const char* tag, AssetKind kind, const char* location) {
    Asset a;
    a.tag = QString::fromLatin1(tag);
    a.name = QStringLiteral("Motor ") + a.tag;
    a.kind = kind;
    a.location = QString::fromLatin1(location);
    return a;
}

// A readings table file holding one timed test of 70 s.
QString timedTestFile(const QString& path) {
    const auto rows = kxtest::curveRows(
        kxtest::everyMs(1000, 70000), [](double s) { return 300e6 + 2e6 * s; }, 9 * 3'600'000,
        1, "Timed", kxtest::kIr500);
    EXPECT_TRUE(kxtest::writeRowsTable(path, rows).ok());
    return path;
}

// The main window with its session's register in a temporary SQLite file.
struct AssetsWindowTest : kxtest::WindowTest {
    QTemporaryDir dir;

    AssetsWindowTest() { useRegisterAt(dir.filePath(QStringLiteral("assets.sqlite"))); }
    void useRegisterAt(const QString& path) {
        DatabaseLocation at;
        at.path = path;
        session.assets().setLocation(at);
    }
    AssetRegister& reg() {
        Result<AssetRegister*> r = session.assets().open();
        EXPECT_TRUE(r.ok()) << r.error().toStdString();
        return *r.value();
    }
    // M-101 falls fast (sharp drops), M-102 slowly, C-201 holds, X-301 has no tests; R-9 is
    // retired.
    void fillPlant() {
        for (const Asset& a : {asset("M-101", AssetKind::FormWound, "Pump house"),
                               asset("M-102", AssetKind::RandomWound, "Substation"),
                               asset("C-201", AssetKind::Cable, "Substation"),
                               asset("X-301", AssetKind::Other, "Pump house"),
                               asset("R-9", AssetKind::Other, "Yard")})
            ASSERT_TRUE(reg().addAsset(a).ok());
        ASSERT_TRUE(reg().fileTests(QStringLiteral("M-101"), yearly("M-101", {2000, 900, 400})).ok());
        ASSERT_TRUE(reg().fileTests(QStringLiteral("M-102"), yearly("M-102", {5000, 3500, 2450})).ok());
        ASSERT_TRUE(reg().fileTests(QStringLiteral("C-201"), yearly("C-201", {1000, 1000, 1000})).ok());
        ASSERT_TRUE(reg().retireAsset(QStringLiteral("R-9")).ok());
    }
    AssetsWindow* shown() {
        win.SpeedButton11Click();
        return win.assetsWindow();
    }
    QStringList column(AssetsWindow* w, int column) {
        QAbstractItemModel* m = find<QTableView>("AssetList", w)->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, column).data().toString();
        return out;
    }
    QString lastBox() const { return boxes.shown.empty() ? QString() : boxes.shown.back().text; }
};

QLineSeries* seriesNamed(QChart* chart, const char* name) {
    for (QAbstractSeries* s : chart->series())
        if (s->name() == QString::fromUtf8(name))
            return qobject_cast<QLineSeries*>(s);
    return nullptr;
}

} // namespace

TEST_F(AssetsWindowTest, TheListShowsItsColumnsWithTheSoonestCrossingFirst) {
    fillPlant();
    AssetsWindow* w = shown();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    QAbstractItemModel* m = find<QTableView>("AssetList", w)->model();
    QStringList headers;
    for (int c = 0; c < m->columnCount(); ++c)
        headers << m->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, (QStringList{"Tag", "Name", "Location", "Kind", "Last test", "Last verdict",
                                    "Trend per year", "Projected crossing"}));
    const QStringList tags = column(w, AssetListModel::Tag);
    ASSERT_EQ(tags.size(), 4) << tags.join(u',').toStdString();
    EXPECT_EQ(tags.mid(0, 2), (QStringList{"M-101", "M-102"})) << "the soonest crossing first";
    EXPECT_FALSE(column(w, AssetListModel::Crossing)[0].isEmpty());
    EXPECT_TRUE(column(w, AssetListModel::Crossing)[3].isEmpty()) << "no crossing after";
    EXPECT_EQ(column(w, AssetListModel::LastTest)[0], yearsAgo(1).date().toString(Qt::ISODate));
    EXPECT_TRUE(column(w, AssetListModel::TrendPerYear)[0].startsWith(u'-'));
    EXPECT_EQ(win.findChild<QAction*>(QStringLiteral("AssetsR"))->text(), QStringLiteral(" Assets"));
}

TEST_F(AssetsWindowTest, SearchAndFiltersNarrowTheList) {
    fillPlant();
    AssetsWindow* w = shown();
    struct Case {
        const char* search;
        std::optional<AssetKind> kind;
        const char* location;
        bool retired;
        std::set<QString> tags;
    };
    const Case cases[] = {
        {"", {}, "", false, {"M-101", "M-102", "C-201", "X-301"}},
        {"m-10", {}, "", false, {"M-101", "M-102"}},
        {"pump", {}, "", false, {"M-101", "X-301"}},
        {"", AssetKind::Cable, "", false, {"C-201"}},
        {"", {}, "Substation", false, {"M-102", "C-201"}},
        {"", {}, "", true, {"M-101", "M-102", "C-201", "X-301", "R-9 (retired)"}},
        {"nothing like it", {}, "", true, {}},
    };
    auto* kinds = find<QComboBox>("KindBox", w);
    auto* locations = find<QComboBox>("LocationBox", w);
    for (const Case& c : cases) {
        find<QLineEdit>("SearchEdit", w)->setText(QString::fromLatin1(c.search));
        kinds->setCurrentIndex(c.kind ? kinds->findData(int(*c.kind)) : 0);
        locations->setCurrentIndex(std::max(0, locations->findText(QString::fromLatin1(c.location))));
        find<QCheckBox>("RetiredCheck", w)->setChecked(c.retired);
        const QStringList tags = column(w, AssetListModel::Tag);
        EXPECT_EQ(std::set<QString>(tags.begin(), tags.end()), c.tags)
            << c.search << " / " << c.location;
    }
}

TEST_F(AssetsWindowTest, AddEditAndRetireGoThroughTheRegister) {
    AssetsWindow* w = shown();
    Asset fresh = asset("P-7", AssetKind::RandomWound, "Boiler room");
    fresh.ratedVoltage = 400;
    fresh.thermalClass = QStringLiteral("A");
    assetDialogs.assets = {fresh};
    find<QPushButton>("AddBtn", w)->click();
    ASSERT_EQ(assetDialogs.assetsAsked.size(), 1u);
    EXPECT_EQ(assetDialogs.assetsAsked[0].id, 0) << "a new asset's dialog";
    EXPECT_EQ(column(w, AssetListModel::Tag), QStringList{"P-7"});
    EXPECT_EQ(w->selectedTag(), QStringLiteral("P-7"));

    Asset edited = fresh;
    edited.name = QStringLiteral("Feed pump «Nord»; 2");
    assetDialogs.assets = {edited};
    find<QPushButton>("EditBtn", w)->click();
    ASSERT_EQ(assetDialogs.assetsAsked.size(), 2u);
    EXPECT_EQ(assetDialogs.assetsAsked[1].thermalClass, QStringLiteral("A"));
    EXPECT_EQ(column(w, AssetListModel::Name), QStringList{edited.name});
    EXPECT_EQ(reg().asset(QStringLiteral("P-7")).value()->name, edited.name);

    // A tag taken is refused with the register's message; nothing changes.
    assetDialogs.assets = {fresh};
    find<QPushButton>("AddBtn", w)->click();
    EXPECT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(column(w, AssetListModel::Tag).size(), 1);

    boxes.confirmAnswer = true;
    find<QPushButton>("RetireBtn", w)->click();
    EXPECT_TRUE(column(w, AssetListModel::Tag).isEmpty());
    EXPECT_TRUE(reg().asset(QStringLiteral("P-7")).value()->retired);
}

TEST_F(AssetsWindowTest, AnAssetsPageShowsItsTestsAndTrendChart) {
    fillPlant();
    AssetsWindow* w = shown();
    ASSERT_TRUE(w->selectTag(QStringLiteral("M-101")));
    find<QPushButton>("OpenBtn", w)->click();
    AssetPage* page = w->page();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(page->testsGrid()->rowCount(), 3);
    EXPECT_EQ(page->testsGrid()->item(2, 1)->text(), ohmsText(400e6));

    QChart* chart = page->chart();
    for (const char* name : {kTrendR60Series, kTrendMinimumSeries, kTrendPiSeries,
                             kTrendPiMinimumSeries, kTrendFitSeries})
        EXPECT_NE(seriesNamed(chart, name), nullptr) << name;
    QLineSeries* minimum = seriesNamed(chart, kTrendMinimumSeries);
    ASSERT_NE(minimum, nullptr);
    EXPECT_DOUBLE_EQ(minimum->at(0).y(), 100) << "form-wound: 100 MΩ";
    const QList<QAbstractAxis*> axes = minimum->attachedAxes();
    EXPECT_TRUE(std::any_of(axes.begin(), axes.end(),
                            [](QAbstractAxis* a) { return qobject_cast<QLogValueAxis*>(a); }))
        << "the minimum on the log resistance axis";
    EXPECT_DOUBLE_EQ(seriesNamed(chart, kTrendPiMinimumSeries)->at(0).y(), 2.0);
    int drops = 0;
    for (QAbstractSeries* s : chart->series())
        if (s->name() == QString::fromUtf8(kTrendDropSeries))
            drops = static_cast<QXYSeries*>(s)->count();
    EXPECT_EQ(drops, 2) << "900 after 2000, 400 after 900";
    ASSERT_TRUE(page->trend().crossing.has_value());
    const QLineSeries* fit = seriesNamed(chart, kTrendFitSeries);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(qint64(fit->at(1).x())).date(), *page->trend().crossing);
    EXPECT_NEAR(fit->at(1).y(), 100, 5) << "the line ends on the minimum";

    // A test's row, or its point, opens its readings and curve.
    page->TestsGridDoubleClick(0);
    ASSERT_NE(page->readingsDialog(), nullptr);
    EXPECT_EQ(page->readingsDialog()->readings()->rowCount(), 3);
    EXPECT_EQ(page->readingsDialog()->readings()->item(2, 1)->text(), ohmsText(2000e6));
    page->openTestNear(yearsAgo(1).addDays(20));
    EXPECT_EQ(page->readingsDialog()->readings()->item(2, 1)->text(), ohmsText(400e6));
    EXPECT_TRUE(page->readingsDialog()->isVisible());
}

TEST_F(AssetsWindowTest, FileUnderAssetFilesOnceThenSaysAlreadyFiled) {
    const QString table = timedTestFile(dir.filePath(QStringLiteral("feed pump.db")));
    ASSERT_TRUE(session.files().openDataFile(table).ok());
    session.results().flush();
    win.SpeedButton10Click();
    TFrmresults* results = win.resultsWindow();
    results->selectTest(0);

    FilingChoice choice;
    choice.tag = QStringLiteral("FP-1");
    choice.newAsset = asset("FP-1", AssetKind::RandomWound, "Boiler room");
    choice.testedAt = QDateTime(QDate(2024, 3, 5), QTime(9, 0));
    choice.temperature = 30;
    choice.operatorName = QStringLiteral("Бо");
    FilingChoice again = choice;
    again.newAsset.reset();
    assetDialogs.filings = {choice, again};
    struct Step {
        const char* expected;
        int filed;
    };
    for (const Step& step : {Step{"Filed under FP-1.", 1}, Step{"Already filed", 1}}) {
        find<QPushButton>("FileBtn", results)->click();
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back().kind, "information");
        EXPECT_TRUE(lastBox().startsWith(QString::fromLatin1(step.expected))) << lastBox().toStdString();
        Result<std::vector<FiledTest>> filed = reg().tests(QStringLiteral("FP-1"));
        ASSERT_TRUE(filed.ok()) << filed.error().toStdString();
        EXPECT_EQ(filed.value().size(), std::size_t(step.filed));
    }
    ASSERT_EQ(assetDialogs.filingsAsked.size(), 2u);
    const FilingQuestion& q = assetDialogs.filingsAsked[0];
    ASSERT_EQ(q.table.tests.size(), 1u);
    EXPECT_EQ(q.table.tablePath, table);
    const FiledTest filed = reg().tests(QStringLiteral("FP-1")).value().front();
    EXPECT_EQ(filed.testedAt, choice.testedAt) << "the date confirmed";
    EXPECT_EQ(filed.operatorName, choice.operatorName);
    EXPECT_EQ(filed.result.temperature, 30);
    ASSERT_TRUE(reg().asset(QStringLiteral("FP-1")).value().has_value()) << "created";
}

TEST_F(AssetsWindowTest, ARegisterThatCannotOpenIsToldAndTheProgramGoesOn) {
    const QString notADatabase = dir.filePath(QStringLiteral("junk.sqlite"));
    ASSERT_TRUE(putFile(notADatabase, QByteArray(4096, 'x')));
    const QString underAFile = notADatabase + QStringLiteral("/assets.sqlite");
    for (const QString& path : {notADatabase, underAFile}) {
        useRegisterAt(path);
        AssetsWindow* w = shown();
        auto* status = find<QLabel>("StatusLabel", w);
        EXPECT_FALSE(status->isHidden()) << path.toStdString();
        EXPECT_FALSE(status->text().isEmpty());
        EXPECT_EQ(status->text(), session.assets().failure());
        EXPECT_FALSE(find<QPushButton>("AddBtn", w)->isEnabled());
        EXPECT_EQ(column(w, AssetListModel::Tag).size(), 0);
        w->close();
    }
    EXPECT_TRUE(boxes.shown.empty()) << "told in the window, no box";
    // The rest of the program works.
    win.ResultsRClick();
    EXPECT_TRUE(win.resultsWindow()->isVisible());
    showReadings(2);
    EXPECT_EQ(session.liveTable().rowCount(), 2);
}

TEST_F(AssetsWindowTest, TheDatabaseEntryIsKeptInTheSettings) {
    const QString team = dir.filePath(QStringLiteral("team.sqlite"));
    const QString mine = QStringLiteral("sqlite:") + team;
    struct Case {
        QString url;
        bool accepted;
        QString kept; // the settings' entry afterwards
    };
    const Case cases[] = {
        {mine, true, mine},
        {QStringLiteral("mysql://somewhere/db"), false, mine},
        {QStringLiteral("postgresql://"), false, mine},
    };
    AssetsWindow* w = shown();
    for (const Case& c : cases) {
        boxes.shown.clear();
        assetDialogs.databases = {c.url};
        find<QPushButton>("DatabaseBtn", w)->click();
        EXPECT_EQ(boxes.shown.empty(), c.accepted) << c.url.toStdString();
        EXPECT_EQ(databaseSetting(SettingsFile(tables.settingsPath())), c.kept);
        EXPECT_EQ(session.databaseUrl(), c.kept);
    }
    EXPECT_EQ(assetDialogs.databasesAsked.back(), mine) << "the dialog starts from the entry";
    EXPECT_TRUE(QFileInfo::exists(team)) << "the window reads the new register at once";
    w->close();
    // Empty: the user's default register (not opened here).
    ASSERT_TRUE(session.setDatabaseUrl(QString()).ok());
    EXPECT_EQ(session.assets().location().path, defaultDatabaseLocation().path);
    EXPECT_TRUE(databaseSetting(SettingsFile(tables.settingsPath())).isEmpty());
    ASSERT_TRUE(session.setDatabaseUrl(mine).ok());
    restart();
    EXPECT_EQ(session.databaseUrl(), mine);
    EXPECT_EQ(session.assets().location().path, team);
}

TEST(AssetListTexts, SlopesKindsAndOutcomes) {
    struct Case {
        std::optional<double> slope;
        const char* text;
    };
    for (const Case& c : {Case{{}, ""}, Case{-12.345, "-12.3 %/year"}, Case{3.0, "+3.0 %/year"},
                          Case{0.0, "+0.0 %/year"}})
        EXPECT_EQ(slopeText(c.slope), QString::fromLatin1(c.text));

    struct Outcome {
        FilingOutcome outcome;
        const char* text;
    };
    for (const Outcome& o : {Outcome{{1, 0}, "Filed under M-1."},
                             Outcome{{3, 0}, "3 tests filed under M-1."},
                             Outcome{{0, 1}, "Already filed: this test of this file is in the register."},
                             Outcome{{0, 2}, "Already filed: these 2 tests of this file are in the register."},
                             Outcome{{2, 1}, "2 filed under M-1, 1 already filed."}})
        EXPECT_EQ(RegisterSession::outcomeText(o.outcome, QStringLiteral("M-1")),
                  QString::fromLatin1(o.text));
}

TEST(AssetFiling, TheChoiceOverridesOnlyWhatWasGiven) {
    TableTests table;
    for (int i = 0; i < 2; ++i) {
        FiledTest t;
        t.testedAt = QDateTime(QDate(2019, 1, 1), QTime(8 + i, 30));
        t.result.temperature = 25;
        t.operatorName = QStringLiteral("Ann");
        t.humidity = QStringLiteral("60 %");
        table.tests.push_back(t);
    }
    struct Case {
        const char* name;
        int tests;
        FilingChoice choice;
        QDateTime firstAt;
        std::optional<double> temperature;
        QString operatorName;
    };
    FilingChoice dated;
    dated.testedAt = QDateTime(QDate(2020, 5, 6), QTime(14, 0));
    FilingChoice conditions;
    conditions.temperature = 31.5;
    conditions.operatorName = QStringLiteral("Bea");
    const Case cases[] = {
        {"nothing given", 2, {}, table.tests[0].testedAt, 25, QStringLiteral("Ann")},
        {"one test takes the date and time", 1, dated, dated.testedAt, 25, QStringLiteral("Ann")},
        {"several keep their times", 2, dated, QDateTime(QDate(2020, 5, 6), QTime(8, 30)), 25,
         QStringLiteral("Ann")},
        {"conditions", 2, conditions, table.tests[0].testedAt, 31.5, QStringLiteral("Bea")},
    };
    for (const Case& c : cases) {
        TableTests t = table;
        t.tests.resize(std::size_t(c.tests));
        const std::vector<FiledTest> out = testsAsChosen(t, c.choice);
        ASSERT_EQ(out.size(), std::size_t(c.tests)) << c.name;
        EXPECT_EQ(out[0].testedAt, c.firstAt) << c.name;
        EXPECT_EQ(out[0].result.temperature, c.temperature) << c.name;
        EXPECT_EQ(out[0].operatorName, c.operatorName) << c.name;
        EXPECT_EQ(out[0].humidity, QStringLiteral("60 %")) << c.name;
    }
}

TEST(AssetTrendLine, FollowsTheFitToTheCrossing) {
    const auto at = [](int year) { return QDateTime(QDate(2020 + year, 1, 1), QTime(12, 0)); };
    struct Case {
        const char* name;
        std::vector<double> megaohms; // yearly from 2020
        std::optional<double> slope;
        std::optional<QDate> crossing;
        bool line;
        double toMegaohms; // where the line ends
    };
    const Case cases[] = {
        {"halving yearly to the crossing", {800, 400, 200}, -50, QDate(2024, 1, 1), true, 50},
        {"steady, ends at the last test", {300, 300, 300, 300}, 0, {}, true, 300},
        {"no fit", {800, 400}, {}, {}, false, 0},
        {"fits the last five only", {1, 800, 400, 200, 100, 50}, -50, {}, true, 50},
    };
    for (const Case& c : cases) {
        Trend trend;
        trend.slopePerYear = c.slope;
        trend.crossing = c.crossing;
        for (std::size_t i = 0; i < c.megaohms.size(); ++i) {
            TrendPoint p;
            p.testedAt = at(int(i));
            p.r60Corrected40 = c.megaohms[i] * 1e6;
            trend.points.push_back(p);
        }
        const std::optional<TrendLine> line = trendLine(trend);
        ASSERT_EQ(line.has_value(), c.line) << c.name;
        if (!line)
            continue;
        // Leap years make a year 365 or 366 days: within 1 %.
        EXPECT_NEAR(line->toOhms / 1e6, c.toMegaohms, c.toMegaohms * 0.01) << c.name;
        EXPECT_EQ(line->from, at(int(c.megaohms.size()) - std::min<int>(5, int(c.megaohms.size()))))
            << c.name;
    }
}
