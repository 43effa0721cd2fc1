// A readings table's tests as they are filed: the date rules, the conditions, the readings,
// the file's hash, and the walk that finds the tables naming an asset.
#include "filing_fixtures.h"

#include "assets/table_filing.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using kx::TestDateSource;

QDateTime at(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
}

// The tests of `filingTable` begin at 09:00:00 and 09:10:00; the short continuous run at
// 09:25:00. A recording across midnight: 23:50:00, 23:58:30 and 00:05:00.
TEST(TableFiling, DatesFollowTheRecordingTheGivenDayOrTheFile) {
    struct Case {
        const char* name;
        bool acrossMidnight;
        const char* began;       // details' recording.began, or null
        const char* given;       // --date, or null
        const char* fileChanged; // the file's last change
        TestDateSource source;
        std::vector<const char*> expected;
    };
    const std::vector<Case> cases = {
        {"recording began that morning",
         false,
         "2026-03-01T08:59:30",
         nullptr,
         "2026-04-01T10:00:00",
         TestDateSource::Recording,
         {"2026-03-01T09:00:00", "2026-03-01T09:10:00"}},
        {"a first record a few seconds before the kept beginning",
         false,
         "2026-03-01T09:00:20",
         nullptr,
         "2026-04-01T10:00:00",
         TestDateSource::Recording,
         {"2026-03-01T09:00:00", "2026-03-01T09:10:00"}},
        {"began the evening before",
         false,
         "2026-03-01T22:00:00",
         nullptr,
         "2026-04-01T10:00:00",
         TestDateSource::Recording,
         {"2026-03-02T09:00:00", "2026-03-02T09:10:00"}},
        {"past midnight inside the recording",
         true,
         "2026-12-31T23:49:00",
         nullptr,
         "2027-02-01T10:00:00",
         TestDateSource::Recording,
         {"2026-12-31T23:50:00", "2026-12-31T23:58:30", "2027-01-01T00:05:00"}},
        {"the given day without a beginning",
         false,
         nullptr,
         "2025-01-05",
         "2026-04-01T10:00:00",
         TestDateSource::Given,
         {"2025-01-05T09:00:00", "2025-01-05T09:10:00"}},
        {"the given day over the details'",
         false,
         "2026-03-01T08:59:30",
         "2024-06-07",
         "2026-04-01T10:00:00",
         TestDateSource::Given,
         {"2024-06-07T09:00:00", "2024-06-07T09:10:00"}},
        {"the file's day",
         false,
         nullptr,
         nullptr,
         "2026-02-03T18:00:00",
         TestDateSource::FileDate,
         {"2026-02-03T09:00:00", "2026-02-03T09:10:00"}},
        {"changed the next morning before the tests' hour",
         false,
         nullptr,
         nullptr,
         "2026-02-04T08:00:00",
         TestDateSource::FileDate,
         {"2026-02-03T09:00:00", "2026-02-03T09:10:00"}},
        {"the file's day ends the midnight run",
         true,
         nullptr,
         nullptr,
         "2027-01-01T07:00:00",
         TestDateSource::FileDate,
         {"2026-12-31T23:50:00", "2026-12-31T23:58:30", "2027-01-01T00:05:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString db = c.acrossMidnight ? kxtest::midnightTable(dir) : kxtest::filingTable(dir);
        kx::TestDetails d;
        d.asset = QStringLiteral("M-1");
        if (c.began)
            d.recording = kx::RecordingDetails{{}, at(c.began)};
        ASSERT_TRUE(kx::writeTestDetails(db, d).ok());
        kxtest::setChanged(db, at(c.fileChanged));
        const auto given =
            c.given
                ? std::optional<QDate>(QDate::fromString(QString::fromLatin1(c.given), Qt::ISODate))
                : std::nullopt;
        const kx::Result<kx::TableTests> r = kx::tableTestsToFile(db, std::nullopt, given);
        ASSERT_TRUE(r.ok()) << r.error().toStdString();
        EXPECT_EQ(r.value().dateSource, c.source);
        std::vector<QString> dates;
        // The timed tests; the short continuous run of filingTable is left out here.
        for (const kx::FiledTest& t : r.value().tests) {
            if (t.result.mode != "Continuous")
                dates.push_back(t.testedAt.toString(Qt::ISODate));
        }
        std::vector<QString> expected;
        for (const char* e : c.expected)
            expected.push_back(QString::fromLatin1(e));
        EXPECT_EQ(dates, expected);
    }
}

TEST(TableFiling, KeepsConditionsReadingsAndTheFilesHash) {
    QTemporaryDir dir;
    const QString db = kxtest::filingTable(dir);
    kx::TestDetails d;
    d.asset = QStringLiteral(" Pump motor 3 ");
    d.location = QStringLiteral("Hall B");
    d.operatorName = QStringLiteral("J. O'Brien; \"night shift\"");
    d.humidity = QStringLiteral("55 %");
    d.notes = QStringLiteral("泵 after rewind");
    d.settings.temperature = 30;
    d.recording = kx::RecordingDetails{{}, at("2026-03-01T08:59:30")};
    ASSERT_TRUE(kx::writeTestDetails(db, d).ok());
    QFile f(db);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());

    const auto r = kx::tableTestsToFile(db);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(r.value().detailsAsset, "Pump motor 3");
    EXPECT_EQ(r.value().detailsLocation, "Hall B");
    ASSERT_EQ(r.value().tests.size(), 3u);
    const kx::FiledTest& t = r.value().tests[0];
    EXPECT_EQ(t.sourceTest, 1);
    EXPECT_EQ(t.sourcePath, QFileInfo(db).absoluteFilePath());
    EXPECT_EQ(t.sourceHash, hash);
    EXPECT_EQ(t.operatorName, d.operatorName);
    EXPECT_EQ(t.humidity, d.humidity);
    EXPECT_EQ(t.notes, d.notes);
    ASSERT_TRUE(t.result.temperature.has_value());
    EXPECT_DOUBLE_EQ(*t.result.temperature, 30);
    ASSERT_TRUE(t.result.r60.has_value());
    EXPECT_DOUBLE_EQ(*t.result.r60, 420e6);
    // 71 readings a second apart, 300 MΩ rising 2 MΩ a second.
    ASSERT_EQ(t.readings.size(), 71u);
    EXPECT_DOUBLE_EQ(t.readings.front().elapsed, 0);
    EXPECT_DOUBLE_EQ(t.readings.back().elapsed, 70);
    EXPECT_DOUBLE_EQ(*t.readings.front().ohms, 300e6);
    EXPECT_DOUBLE_EQ(*t.readings.back().ohms, 440e6);
    EXPECT_EQ(r.value().tests[1].sourceTest, 2);
}

TEST(TableFiling, ChoosesOneTestOrSaysThereIsNone) {
    QTemporaryDir dir;
    const QString db = kxtest::filingTable(dir);
    struct Case {
        int test;
        bool ok;
        const char* time; // of the one test filed
    };
    for (const Case& c : std::vector<Case>{{1, true, "09:00:00"},
                                           {2, true, "09:10:00"},
                                           {3, true, "09:25:00"},
                                           {4, false, ""},
                                           {0, false, ""}}) {
        SCOPED_TRACE(c.test);
        const auto r = kx::tableTestsToFile(db, c.test, QDate(2026, 5, 1));
        ASSERT_EQ(r.ok(), c.ok);
        if (!c.ok) {
            EXPECT_TRUE(r.error().contains(QStringLiteral("has no test")))
                << r.error().toStdString();
            continue;
        }
        ASSERT_EQ(r.value().tests.size(), 1u);
        EXPECT_EQ(r.value().tests[0].sourceTest, c.test);
        EXPECT_EQ(r.value().tests[0].testedAt.time().toString(), QString::fromLatin1(c.time));
    }
}

TEST(TableFiling, BadTablesFailWithTheirPath) {
    QTemporaryDir dir;
    QFile junk(dir.filePath(QStringLiteral("junk.db")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a table at all");
    junk.close();
    for (const QString& path : {junk.fileName(), dir.filePath(QStringLiteral("missing.db"))}) {
        const auto r = kx::tableTestsToFile(path);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(r.error().contains(QFileInfo(path).fileName())) << r.error().toStdString();
    }
}

TEST(TableFiling, FindsTheTablesNamingAnAssetBelowAFolder) {
    QTemporaryDir dir;
    QDir root(dir.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("a/b")) && root.mkpath(QStringLiteral("c")));
    auto table = [&](const QString& rel, const char* asset) {
        const QString path = root.filePath(rel);
        kxtest::writeFilingTable(path);
        if (asset) {
            kx::TestDetails d;
            d.asset = QString::fromUtf8(asset);
            EXPECT_TRUE(kx::writeTestDetails(path, d).ok());
        }
        return path;
    };
    const QString t1 = table(QStringLiteral("a/b/t1.db"), "M-1");
    table(QStringLiteral("a/none.db"), nullptr);
    table(QStringLiteral("a/blank.db"), "   ");
    const QString t3 = table(QStringLiteral("c/T3.DB"), "泵 3");
    // A link back up the tree is not followed.
    ASSERT_TRUE(QFile::link(root.path(), root.filePath(QStringLiteral("c/loop"))));
    const auto found = kx::tablesNamingAnAsset(root.path());
    ASSERT_TRUE(found.ok()) << found.error().toStdString();
    EXPECT_EQ(found.value(), (QStringList{t1, t3}));

    EXPECT_FALSE(kx::tablesNamingAnAsset(root.filePath(QStringLiteral("nowhere"))).ok());
    EXPECT_FALSE(kx::tablesNamingAnAsset(t1).ok());
}

} // namespace
