#include "analysis/details_file.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;
using kxtest::failsWith;

namespace {

TestDetails someDetails() {
    TestDetails d;
    d.asset = QStringLiteral("Pump motor 3");
    d.location = QStringLiteral("Hall B \u2013 bay 4");
    d.operatorName = QStringLiteral("J. Doe");
    d.humidity = QStringLiteral("55 %");
    d.notes = QStringLiteral("Terminals cleaned.\nWinding warm after run.");
    d.settings.temperature = 31.5;
    d.settings.baseTemperature = 20;
    d.settings.minimumOhms = 250e6;
    d.settings.piMinimum = 1.5;
    d.recording = RecordingDetails{{10, false}, QDateTime(QDate(2026, 12, 10), QTime(23, 55, 2))};
    return d;
}

// A details file of the asset "A" with `value` under `key` (none when empty), as read.
TestDetailsRead readWith(const char* key, const QByteArray& value) {
    QByteArray bytes = R"({"kind": "kxlink test details", "asset": "A")";
    if (!value.isEmpty())
        bytes += ", \"" + QByteArray(key) + "\": " + value;
    bytes += "}";
    return parseTestDetails(bytes, QStringLiteral("t.results.json"));
}

// A readings table file of no records at `path`.
void makeTable(const QString& path) {
    ReadingsTable t;
    t.openScratch(readingsFields());
    ASSERT_TRUE(SaveToDB(t, path, ExportKind::Live).ok());
}

} // namespace

TEST(TestDetails, FileNameFollowsTheTable) {
    EXPECT_EQ(testDetailsPath(QStringLiteral("/data/motor.db")),
              QStringLiteral("/data/motor.results.json"));
    EXPECT_EQ(testDetailsPath(QStringLiteral("/data/run.2024.DB")),
              QStringLiteral("/data/run.2024.results.json"));
    EXPECT_EQ(testDetailsPath(QStringLiteral("/data/plain")),
              QStringLiteral("/data/plain.results.json"));
}

TEST(TestDetails, WrittenAndReadBack) {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("motor.db"));
    ASSERT_TRUE(writeTestDetails(table, someDetails()).ok());
    const TestDetailsRead r = readTestDetails(table);
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.problem.isEmpty()) << r.problem.toStdString();
    EXPECT_TRUE(r.details == someDetails());
    // No temporary is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A table without a file of details: not found, the defaults given stand.
    ResultSettings defaults;
    defaults.piMinimum = 3;
    const TestDetailsRead none =
        readTestDetails(dir.filePath(QStringLiteral("other.db")), defaults);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.details.settings.piMinimum, 3);
    EXPECT_FALSE(none.details.hasFields());

    // Details back at their defaults need no file.
    ASSERT_TRUE(writeTestDetails(table, TestDetails{}).ok());
    EXPECT_FALSE(QFile::exists(testDetailsPath(table)));
}

TEST(TestDetails, DamagedFilesAreToldAndNeverHurt) {
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* problem; // part of the message; empty: none
        QString asset;       // what is still read
        double piMinimum;
    };
    const ResultSettings d;
    const std::vector<Case> cases = {
        {"not JSON", "{\"asset\": \"Pump", "damaged", {}, d.piMinimum},
        {"an array", "[1, 2]", "damaged", {}, d.piMinimum},
        {"empty", "", "damaged", {}, d.piMinimum},
        {"binary", QByteArray("\x00\xff\xfe{", 4), "damaged", {}, d.piMinimum},
        {"another kind",
         R"({"kind": "something else", "asset": "X"})",
         "not a file of test",
         {},
         d.piMinimum},
        {"a number for a text",
         R"({"asset": 12, "piMinimum": 1.5})",
         "\"asset\" is not a text",
         {},
         1.5},
        {"PI minimum out of range", R"({"asset": "A", "piMinimum": -1})", "\"piMinimum\"",
         QStringLiteral("A"), d.piMinimum},
        {"a base of 30", R"({"asset": "A", "baseTemperature": 30})", "\"baseTemperature\"",
         QStringLiteral("A"), d.piMinimum},
        {"a text for a number", R"({"asset": "A", "minimum": "100M"})", "\"minimum\"",
         QStringLiteral("A"), d.piMinimum},
        {"a line break in the asset", "{\"asset\": \"A\\nB\"}", "", QStringLiteral("A B"),
         d.piMinimum},
        {"nothing but what is known", R"({"extra": [1, {"x": null}], "asset": "A"})", "",
         QStringLiteral("A"), d.piMinimum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TestDetailsRead r = parseTestDetails(c.bytes, QStringLiteral("/d/t.results.json"));
        EXPECT_TRUE(r.found);
        if (*c.problem) {
            EXPECT_TRUE(r.problem.contains(QLatin1String(c.problem))) << r.problem.toStdString();
            EXPECT_TRUE(r.problem.contains(QLatin1String("/d/t.results.json")));
        } else {
            EXPECT_TRUE(r.problem.isEmpty()) << r.problem.toStdString();
        }
        EXPECT_EQ(r.details.asset, c.asset);
        EXPECT_EQ(r.details.settings.piMinimum, c.piMinimum);
        EXPECT_EQ(r.details.settings.baseTemperature, d.baseTemperature);
    }
    // Far too large to be details.
    const TestDetailsRead big = parseTestDetails(QByteArray(300 * 1024, ' '), QStringLiteral("x"));
    EXPECT_TRUE(big.problem.contains(QLatin1String("too large")));
}

// How the readings were recorded: rules that cannot be read are dropped whole (the tests are
// then found by the readings' own pace), a beginning that cannot be read only loses itself.
TEST(TestDetails, TheRecordingsRules) {
    const QDateTime evening(QDate(2026, 12, 10), QTime(23, 55, 2));
    struct Case {
        const char* name;
        QByteArray recording; // the value of "recording"; empty: none
        std::optional<RecordingRules> rules;
        QDateTime began;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"an older file", "", std::nullopt, {}, ""},
        {"every 10 s", R"({"interval": 10, "repeat": true, "began": "2026-12-10T23:55:02"})",
         RecordingRules{10, true}, evening, ""},
        {"unticked, no repeats",
         R"({"interval": null, "repeat": false, "began": null})",
         RecordingRules{std::nullopt, false},
         {},
         ""},
        {"a time zone and milliseconds",
         R"({"interval": 0, "repeat": true, "began": "2026-12-10T23:55:02.750+05:00"})",
         RecordingRules{0, true}, evening, ""},
        {"null", "null", std::nullopt, {}, ""},
        {"not an object", "[10]", std::nullopt, {}, "\"recording\" is not an object"},
        {"half seconds",
         R"({"interval": 2.5, "repeat": true})",
         std::nullopt,
         {},
         "no interval in whole seconds"},
        {"a negative interval",
         R"({"interval": -10})",
         std::nullopt,
         {},
         "no interval in whole seconds"},
        {"repeat as a text",
         R"({"interval": 10, "repeat": "yes"})",
         std::nullopt,
         {},
         "\"repeat\""},
        {"a date that is none",
         R"({"interval": 60, "repeat": true, "began": "2026-13-40"})",
         RecordingRules{60, true},
         {},
         "\"began\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TestDetailsRead r = readWith("recording", c.recording);
        EXPECT_EQ(r.details.asset, QStringLiteral("A"));
        EXPECT_EQ(r.details.recording.has_value(), c.rules.has_value());
        if (r.details.recording && c.rules) {
            EXPECT_EQ(r.details.recording->rules, *c.rules);
            EXPECT_EQ(r.details.recording->began, c.began);
        }
        if (*c.problem)
            EXPECT_TRUE(r.problem.contains(QLatin1String(c.problem))) << r.problem.toStdString();
        else
            EXPECT_TRUE(r.problem.isEmpty()) << r.problem.toStdString();
        // Written out again, the file reads back the same.
        const TestDetailsRead again =
            parseTestDetails(testDetailsJson(r.details), QStringLiteral("t.results.json"));
        EXPECT_TRUE(again.problem.isEmpty()) << again.problem.toStdString();
        EXPECT_TRUE(again.details == r.details);
    }
}

// `record` writes its rules beside the table: a new table gets them alone, an appended one
// keeps its details and the time its recording began.
TEST(TestDetails, ARecordingWritesItsRulesBesideTheTable) {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("motor.db"));
    const RecordingDetails now{{60, true}, QDateTime(QDate(2026, 12, 11), QTime(8, 0))};
    ASSERT_TRUE(writeTestDetails(table, someDetails()).ok());
    ASSERT_TRUE(writeRecordingDetails(table, now, true).ok());
    TestDetails kept = readTestDetails(table).details;
    EXPECT_EQ(kept.asset, someDetails().asset);
    EXPECT_EQ(kept.recording->rules, now.rules);
    EXPECT_EQ(kept.recording->began, someDetails().recording->began);

    ASSERT_TRUE(writeRecordingDetails(table, now, false).ok());
    const TestDetails fresh = readTestDetails(table).details;
    EXPECT_TRUE(fresh.asset.isEmpty());
    EXPECT_TRUE(fresh.recording == now);
    EXPECT_FALSE(fresh.isDefault());
}

TEST(TestDetails, AFolderOrAPipeInItsPlaceIsToldNotOpened) {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("motor.db"));
    ASSERT_TRUE(QDir().mkdir(testDetailsPath(table)));
    TestDetailsRead r = readTestDetails(table);
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.problem.contains(QLatin1String("folder"))) << r.problem.toStdString();
    // Nor is anything written into a folder.
    EXPECT_FALSE(writeTestDetails(table, someDetails()).ok());

    const QString piped = dir.filePath(QStringLiteral("piped.db"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(testDetailsPath(piped)).constData(), 0600), 0);
    r = readTestDetails(piped); // returns at once: nothing waits for a writer
    EXPECT_TRUE(r.problem.contains(QLatin1String("pipe"))) << r.problem.toStdString();
}

TEST(TestDetails, AFailedWriteLeavesTheOldFile) {
    kxtest::SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << "no small file system for this test (needs root)";
    const QString table = disk.filePath(QStringLiteral("motor.db"));
    ASSERT_TRUE(writeTestDetails(table, someDetails()).ok());
    const QByteArray before = fileBytes(testDetailsPath(table));
    disk.fill(0);
    TestDetails longer = someDetails();
    longer.notes = QString(3000, QLatin1Char('n'));
    const Status s = writeTestDetails(table, longer);
    ASSERT_TRUE(failsWith(s, QLatin1String("No space left on device")));
    EXPECT_EQ(fileBytes(testDetailsPath(table)), before);
    QDir folder(QFileInfo(table).path());
    EXPECT_TRUE(folder.entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST(TestDetails, KeyedSaveTakesThemAlongATextExportDoesNot) {
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from.db"));
    makeTable(from);
    ASSERT_TRUE(writeTestDetails(from, someDetails()).ok());

    // A keyed copy of the file: its details file is copied byte for byte.
    const QString to = dir.filePath(QStringLiteral("to.db"));
    SaveAsOutcome o = saveTableFileAs(from, to, ExportKind::Live);
    ASSERT_TRUE(o.saved()) << o.error.toStdString();
    EXPECT_EQ(fileBytes(testDetailsPath(to)), fileBytes(testDetailsPath(from)));

    // The text export does not.
    const QString text = dir.filePath(QStringLiteral("text.txt"));
    o = saveTableFileAs(from, text, ExportKind::Live);
    ASSERT_TRUE(o.saved());
    EXPECT_FALSE(QFile::exists(testDetailsPath(text)));

    // Details given by the caller (the scratch table's, kept in memory) go to the copy.
    ReadingsTable scratch;
    scratch.openScratch(readingsFields());
    TestDetails mine = someDetails();
    mine.asset = QStringLiteral("Feeder cable 7");
    const QString copy = dir.filePath(QStringLiteral("copy.db"));
    o = saveTableAs(scratch, copy, ExportKind::Live, {}, {}, &mine);
    ASSERT_TRUE(o.saved()) << o.error.toStdString();
    EXPECT_EQ(readTestDetails(copy).details.asset, QStringLiteral("Feeder cable 7"));

    // A copy of a table without details over one that had them: the old details go.
    const QString bare = dir.filePath(QStringLiteral("bare.db"));
    makeTable(bare);
    o = saveTableFileAs(bare, to, ExportKind::Live);
    ASSERT_TRUE(o.saved());
    EXPECT_FALSE(QFile::exists(testDetailsPath(to)));
}

TEST(TestDetails, AKeyedSaveWhoseDetailsCannotGoIsRefusedFirst) {
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from.db"));
    makeTable(from);
    ASSERT_TRUE(writeTestDetails(from, someDetails()).ok());
    const QString to = dir.filePath(QStringLiteral("to.db"));
    ASSERT_TRUE(QDir().mkdir(testDetailsPath(to)));
    const SaveAsOutcome o = saveTableFileAs(from, to, ExportKind::Live);
    EXPECT_FALSE(o.saved());
    EXPECT_TRUE(o.error.contains(QLatin1String("folder"))) << o.error.toStdString();
    EXPECT_FALSE(QFile::exists(to)) << "nothing written";
}

TEST(TestDetails, SettingsLimits) {
    ResultSettings s;
    EXPECT_TRUE(settingsProblem(s).isEmpty());
    s.temperature = -51;
    EXPECT_FALSE(settingsProblem(s).isEmpty());
    s.temperature = 200;
    EXPECT_TRUE(settingsProblem(s).isEmpty());
    s.baseTemperature = 25;
    EXPECT_FALSE(settingsProblem(s).isEmpty());
    s.baseTemperature = 20;
    s.minimumOhms = 0;
    EXPECT_FALSE(settingsProblem(s).isEmpty());
    s.minimumOhms = 1e6;
    s.piMinimum = std::nan("");
    EXPECT_FALSE(settingsProblem(s).isEmpty());
}

// The stretches the link was down in: read, written back alike, a damaged entry told and
// left out while the others stand.
TEST(TestDetails, TheLinkGaps) {
    const LinkGap silent{QTime(10, 42, 13, 250), QTime(10, 42, 31, 4), QStringLiteral("silent")};
    const LinkGap unplugged{QTime(23, 59, 58), QTime(0, 0, 9), QStringLiteral("unplugged")};
    struct Case {
        const char* name;
        QByteArray gaps; // the value of "linkGaps"; empty: none
        std::vector<LinkGap> read;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"an older file", "", {}, ""},
        {"two gaps, one past midnight",
         R"([{"from": "10:42:13.250", "to": "10:42:31.004", "why": "silent"},
             {"from": "23:59:58", "to": "00:00:09.000", "why": "unplugged"}])",
         {silent, unplugged},
         ""},
        {"no reason",
         R"([{"from": "10:42:13.250", "to": "10:42:31.004"}])",
         {{silent.from, silent.to, {}}},
         ""},
        {"null", "null", {}, ""},
        {"not a list", R"({"from": "10:42:13"})", {}, "\"linkGaps\" is not a list"},
        {"a damaged entry among good ones",
         R"([{"from": "25:00:00", "to": "10:42:31"},
             {"from": "10:42:13.250", "to": "10:42:31.004", "why": "silent"}, 7,
             {"from": "10:42:13", "to": 5}, {"from": "10:42:13", "to": "10:42:14", "why": 1}])",
         {silent},
         "entry 1 of \"linkGaps\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TestDetailsRead r = readWith("linkGaps", c.gaps);
        EXPECT_EQ(r.details.asset, QStringLiteral("A"));
        EXPECT_EQ(r.details.linkGaps, c.read);
        if (*c.problem) {
            EXPECT_TRUE(r.problem.contains(QLatin1String(c.problem))) << r.problem.toStdString();
            EXPECT_EQ(r.problem.count(QStringLiteral("of \"linkGaps\"")),
                      QByteArray(c.name).contains("damaged") ? 4 : 0);
        } else {
            EXPECT_TRUE(r.problem.isEmpty()) << r.problem.toStdString();
        }
        const TestDetailsRead again =
            parseTestDetails(testDetailsJson(r.details), QStringLiteral("t.results.json"));
        EXPECT_TRUE(again.problem.isEmpty()) << again.problem.toStdString();
        EXPECT_EQ(again.details.linkGaps, c.read);
    }
}

// A recording's gaps go beside the table with its rules; an appended recording's follow those
// already there.
TEST(TestDetails, ARecordingWritesItsGapsBesideTheTable) {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("motor.db"));
    const RecordingDetails rules{{10, true}, QDateTime(QDate(2026, 12, 11), QTime(8, 0))};
    const LinkGap first{QTime(8, 10), QTime(8, 10, 30), QStringLiteral("unplugged")};
    const LinkGap second{QTime(9, 0), QTime(9, 1), QStringLiteral("silent")};
    ASSERT_TRUE(writeRecordingDetails(table, rules, false, {first}).ok());
    ASSERT_TRUE(writeRecordingDetails(table, rules, true, {second}).ok());
    EXPECT_EQ(readTestDetails(table).details.linkGaps, (std::vector<LinkGap>{first, second}));
    ASSERT_TRUE(writeRecordingDetails(table, rules, false).ok());
    EXPECT_TRUE(readTestDetails(table).details.linkGaps.empty()) << "a new recording's own";
    TestDetails onlyGaps;
    onlyGaps.linkGaps = {first};
    EXPECT_FALSE(onlyGaps.isDefault()) << "gaps alone are worth a file";
}
