// `kxlink-cli assets` on a temporary SQLite register.
#include "cli/cli_runner.h"
#include "filing_fixtures.h"
#include "support/python_reader.h"

#include <QDir>
#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

struct CliAssets : ::testing::Test {
    QTemporaryDir dir;
    mutable int tables = 0; // each table's bytes differ
    QString database() const {
        return QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("assets.sqlite"));
    }
    CliRun assets(QStringList args) const {
        return runCli(QStringList{QStringLiteral("assets")} + args +
                      QStringList{QStringLiteral("--database"), database()});
    }
    // A table in `folder` (below the temporary folder) whose details name `asset` and keep the
    // recording's beginning, unless `began` is null.
    QString namedTable(const QString& rel, const QString& asset,
                       const char* began = "2026-03-01T08:59:30") const {
        const QString path = dir.filePath(rel);
        QDir().mkpath(QFileInfo(path).absolutePath());
        kxtest::writeFilingTable(path, ++tables);
        kx::TestDetails d;
        d.asset = asset;
        d.location = QStringLiteral("Hall B");
        d.settings.temperature = 40; // the 1-minute resistance at 40 °C is the one measured
        if (began)
            d.recording = kx::RecordingDetails{
                {}, QDateTime::fromString(QString::fromLatin1(began), Qt::ISODate)};
        EXPECT_TRUE(kx::writeTestDetails(path, d).ok());
        return path;
    }
};

QJsonObject lastLine(const CliRun& r) {
    const auto lines = r.jsonLines();
    return lines.isEmpty() ? QJsonObject() : lines.back();
}

TEST_F(CliAssets, TextsGoInAndComeOutAsGiven) {
    struct Case {
        const char* tag;
        const char* name;
        const char* location;
    };
    const std::vector<Case> cases = {
        {"M-1", "Pump \"A\"; DROP TABLE assets;--", "O'Brien's hall"},
        {"泵-3", "Ölpumpe Straße", "Цех №2"},
        {"C 7;", "It's a \\ backslash", "%_ wildcards"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        const CliRun added =
            assets({"add", QString::fromUtf8(c.tag), "--name", QString::fromUtf8(c.name),
                    "--location", QString::fromUtf8(c.location), "--kind", "random-wound"});
        ASSERT_EQ(added.exitCode, 0) << added.err.constData();
        EXPECT_EQ(lastLine(added)["name"].toString(), QString::fromUtf8(c.name));
    }
    const CliRun listed = assets({"list"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err.constData();
    const auto lines = listed.jsonLines();
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(cases.size()));
    for (const Case& c : cases) {
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const QJsonObject& o) {
            return o["tag"].toString() == QString::fromUtf8(c.tag);
        });
        ASSERT_NE(it, lines.end()) << c.tag;
        EXPECT_EQ((*it)["name"].toString(), QString::fromUtf8(c.name));
        EXPECT_EQ((*it)["location"].toString(), QString::fromUtf8(c.location));
        EXPECT_EQ((*it)["kind"].toString(), "random-wound");
        for (const char* key : {"lastTest", "lastVerdict", "slopePerYear", "crossing"})
            EXPECT_TRUE((*it)[QLatin1String(key)].isNull()) << key;
    }
    const CliRun search = assets({"list", "--search", "Ölpumpe"});
    ASSERT_EQ(search.jsonLines().size(), 1);
    EXPECT_EQ(search.jsonLines()[0]["tag"].toString(), QString::fromUtf8("泵-3"));
}

TEST_F(CliAssets, EditChangesOnlyTheFieldsGiven) {
    ASSERT_EQ(assets({"add", "M-1", "--name", "Pump", "--kind", "form-wound", "--location", "A",
                      "--minimum", "250", "--thermal-class", "f"})
                  .exitCode,
              0);
    CliRun edited = assets({"edit", "M-1", "--location", "B"});
    ASSERT_EQ(edited.exitCode, 0) << edited.err.constData();
    QJsonObject a = lastLine(edited);
    EXPECT_EQ(a["name"].toString(), "Pump");
    EXPECT_EQ(a["location"].toString(), "B");
    EXPECT_EQ(a["thermalClass"].toString(), "F");
    EXPECT_DOUBLE_EQ(a["minimum"].toDouble(), 250e6);
    edited = assets({"edit", "M-1", "--minimum", "default"});
    a = lastLine(edited);
    EXPECT_DOUBLE_EQ(a["minimum"].toDouble(), 100e6) << "form-wound's own";
    EXPECT_FALSE(a["minimumSet"].toBool());
    const CliRun shown = assets({"show", "M-1"});
    EXPECT_EQ(shown.jsonLines().value(0)["location"].toString(), "B");
}

TEST_F(CliAssets, FilingTheSameTableTwiceFilesNothingNew) {
    ASSERT_EQ(assets({"add", "M-1"}).exitCode, 0);
    const QString db = namedTable(QStringLiteral("t.db"), QStringLiteral("M-1"));
    struct Step {
        QStringList extra;
        int exitCode;
        int filed;
        int already;
    };
    const std::vector<Step> steps = {
        {{}, 0, 3, 0},
        {{}, 0, 0, 3},
        {{"--test", "2"}, 0, 0, 1},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.extra.join(' ').toStdString());
        const CliRun r = assets(QStringList{"file", db, "--asset", "M-1"} + s.extra);
        ASSERT_EQ(r.exitCode, s.exitCode) << r.err.constData();
        EXPECT_EQ(lastLine(r), (QJsonObject{{"filed", s.filed}, {"already", s.already}}));
    }
    const CliRun shown = assets({"show", "M-1"});
    const auto lines = shown.jsonLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0]["tests"].toInt(), 3);
    EXPECT_EQ(lines[1]["testedAt"].toString(), "2026-03-01T09:00:00");
    EXPECT_EQ(lines[1]["source"].toString(), QDir::toNativeSeparators(db));
    EXPECT_EQ(lines[1]["sourceHash"].toString().size(), 64);
    // The history stays when the table goes.
    ASSERT_TRUE(QFile::remove(db));
    EXPECT_EQ(assets({"show", "M-1"}).jsonLines().size(), 4);
}

TEST_F(CliAssets, ATableWithoutItsRecordingDateNeedsADay) {
    ASSERT_EQ(assets({"add", "M-1"}).exitCode, 0);
    struct Case {
        const char* name;
        QStringList extra;
        int exitCode;
        const char* err; // a part of what stderr says
        const char* testedAt;
    };
    const std::vector<Case> cases = {
        {"refused", {}, 1, "--date", nullptr},
        {"a bad day", {"--date", "2026-02-30"}, 2, "YYYY-MM-DD", nullptr},
        {"the day given", {"--date", "2025-11-03"}, 0, "", "2025-11-03T09:00:00"},
        {"the file's day", {"--file-date"}, 0, "last change", "2026-02-03T09:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString db = namedTable(QStringLiteral("%1.db").arg(QString::fromLatin1(c.name)),
                                      QStringLiteral("M-1"), nullptr);
        kxtest::setChanged(db, QDateTime(QDate(2026, 2, 3), QTime(18, 0)));
        const CliRun r = assets(QStringList{"file", db, "--asset", "M-1"} + c.extra);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.constData();
        EXPECT_TRUE(QString::fromUtf8(r.err).contains(QString::fromLatin1(c.err)))
            << r.err.constData();
        if (!c.testedAt)
            continue;
        const auto lines = assets({"show", "M-1"}).jsonLines();
        const bool found = std::any_of(lines.begin(), lines.end(), [&](const QJsonObject& o) {
            return o["testedAt"].toString() == QLatin1String(c.testedAt);
        });
        EXPECT_TRUE(found) << c.testedAt;
    }
}

TEST_F(CliAssets, ImportFilesEveryNamedTableOnceAndAddsItsAssets) {
    ASSERT_EQ(assets({"add", "M-1", "--kind", "form-wound"}).exitCode, 0);
    namedTable(QStringLiteral("in/2024/a.db"), QStringLiteral("M-1"), "2024-03-01T08:59:30");
    namedTable(QStringLiteral("in/2025/b.db"), QStringLiteral("M-1"), "2025-03-01T08:59:30");
    namedTable(QStringLiteral("in/2025/c.db"), QStringLiteral("泵 7"), "2025-04-01T08:59:30");
    namedTable(QStringLiteral("in/old/d.db"), QStringLiteral("M-1"), nullptr);
    const QString in = dir.filePath(QStringLiteral("in"));

    CliRun first = assets({"import", in});
    ASSERT_EQ(first.exitCode, 0) << first.err.constData();
    EXPECT_EQ(
        lastLine(first),
        (QJsonObject{
            {"filed", 9}, {"already", 0}, {"tables", 4}, {"skipped", 1}, {"assetsAdded", 1}}));
    EXPECT_EQ(QString::fromUtf8(first.err).count(QStringLiteral("/4] ")), 5)
        << "a line a table, and one for the new asset:\n"
        << first.err.constData();
    CliRun again = assets({"import", in, "--file-date"});
    ASSERT_EQ(again.exitCode, 0) << again.err.constData();
    EXPECT_EQ(
        lastLine(again),
        (QJsonObject{
            {"filed", 3}, {"already", 9}, {"tables", 4}, {"skipped", 0}, {"assetsAdded", 0}}));
    const auto listed = assets({"list"}).jsonLines();
    ASSERT_EQ(listed.size(), 2);
    const QJsonObject added =
        listed[0]["tag"].toString() == QLatin1String("M-1") ? listed[1] : listed[0];
    EXPECT_EQ(added["kind"].toString(), "other");
    EXPECT_EQ(added["location"].toString(), "Hall B");
}

TEST_F(CliAssets, AnImportKilledMidwayIsCompletedByTheNext) {
    constexpr int kTables = 30;
    for (int i = 0; i < kTables; ++i)
        namedTable(QStringLiteral("in/t%1.db").arg(i, 2, 10, QLatin1Char('0')),
                   QStringLiteral("M-1"));
    const QString in = dir.filePath(QStringLiteral("in"));
    QProcess p;
    p.setProcessEnvironment(cliEnvironment());
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(KX_CLI_PATH), {"assets", "import", in, "--database", database()});
    QByteArray err;
    while (!err.contains("[3/") && p.waitForReadyRead(30000))
        err += p.readAllStandardError();
    ASSERT_TRUE(err.contains("[3/")) << err.constData();
    p.kill(); // SIGKILL: no chance to tidy up
    p.waitForFinished();

    const CliRun again = assets({"import", in});
    ASSERT_EQ(again.exitCode, 0) << again.err.constData();
    const QJsonObject summary = lastLine(again);
    EXPECT_EQ(summary["filed"].toInt() + summary["already"].toInt(), 3 * kTables);
    EXPECT_EQ(summary["already"].toInt() % 3, 0) << "whole tables only";
    const auto shown = assets({"show", "M-1"}).jsonLines();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown[0]["tests"].toInt(), 3 * kTables);
}

TEST_F(CliAssets, TrendEndsWithTheFit) {
    ASSERT_EQ(assets({"add", "M-1", "--kind", "form-wound"}).exitCode, 0);
    for (const char* began : {"2023-03-01T08:59:30", "2024-03-01T08:59:30", "2025-03-01T08:59:30"})
        ASSERT_EQ(assets({"file",
                          namedTable(QStringLiteral("%1.db").arg(QString::fromLatin1(began, 4)),
                                     QStringLiteral("M-1"), began),
                          "--asset", "M-1", "--test", "1"})
                      .exitCode,
                  0);
    const CliRun r = assets({"trend", "M-1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i]["date"].toString().left(4), QString::number(2023 + i));
        EXPECT_DOUBLE_EQ(lines[i]["r60Corrected40"].toDouble(), 420e6);
        EXPECT_TRUE(lines[i].contains("pi"));
        EXPECT_EQ(lines[i]["verdict"].toString(), "pass");
        EXPECT_FALSE(lines[i]["sharpDrop"].toBool());
    }
    EXPECT_EQ(lines[3]["points"].toInt(), 3);
    EXPECT_NEAR(lines[3]["slopePerYear"].toDouble(), 0, 1e-6);
    EXPECT_TRUE(lines[3]["crossing"].isNull()) << "a steady winding crosses nothing";
    // A steady winding has no sharp drop at any ratio up to one.
    const auto strict = assets({"trend", "M-1", "--sharp-drop", "1"}).jsonLines();
    ASSERT_EQ(strict.size(), 4);
    EXPECT_FALSE(strict[2]["sharpDrop"].toBool());
}

TEST_F(CliAssets, BadUsageAndBadDatabasesAreTold) {
    struct Case {
        QStringList args; // --database given here replaces the temporary one
        int exitCode;
        const char* err;
    };
    // A "folder" that is a file cannot hold the register.
    const QString underAFile =
        QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("damaged.sqlite/a.sqlite"));
    QFile damaged(dir.filePath(QStringLiteral("damaged.sqlite")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, '\x5a'));
    damaged.close();
    const std::vector<Case> cases = {
        {{"frob"}, 2, "unknown action"},
        {{"list", "extra"}, 2, "takes no argument"},
        {{"show"}, 2, "needs one argument"},
        {{"list", "--asset", "M-1"}, 2, "does not take --asset"},
        {{"file", "t.db"}, 2, "--asset"},
        {{"add", "M-9", "--kind", "turbine"}, 2, "--kind"},
        {{"add", "M-9", "--minimum", "-3"}, 2, "--minimum"},
        {{"trend", "M-9", "--sharp-drop", "1.5"}, 2, "--sharp-drop"},
        {{"list", "--sharp-drop", "0.3"}, 2, "does not take --sharp-drop"},
        {{"add", "M-9", "--thermal-class", "Z"}, 2, "--thermal-class"},
        {{"export", "out.txt"}, 2, ".xlsx"},
        {{"show", "nobody"}, 1, "no asset"},
        {{"list", "--database", "mysql://x/y"}, 2, ""},
        {{"list", "--database", underAFile}, 1, ""},
        {{"list", "--database", "sqlite:" + damaged.fileName()}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = c.args.contains(QStringLiteral("--database"))
                             ? runCli(QStringList{QStringLiteral("assets")} + c.args)
                             : assets(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.constData();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(QString::fromUtf8(r.err).contains(QString::fromLatin1(c.err)))
            << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
    }
}

TEST_F(CliAssets, TheWorkbookHoldsASheetOfAssetsAndOneOfTests) {
    ASSERT_EQ(assets({"add", "M-1", "--name", "Pump \"A\"; 泵"}).exitCode, 0);
    ASSERT_EQ(assets({"add", "M-2"}).exitCode, 0);
    ASSERT_EQ(assets({"retire", "M-2"}).exitCode, 0);
    const QString db = namedTable(QStringLiteral("t.db"), QStringLiteral("M-1"));
    ASSERT_EQ(assets({"file", db, "--asset", "M-1"}).exitCode, 0);
    const QString out = dir.filePath(QStringLiteral("register.xlsx"));
    const CliRun r = assets({"export", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(lastLine(r)["assets"].toInt(), 2);
    EXPECT_EQ(lastLine(r)["tests"].toInt(), 3);

    const kxtest::PythonRead read = kxtest::readWithPython(QStringLiteral("xlsx"), out);
    if (!read.skip.isEmpty())
        GTEST_SKIP() << read.skip.toStdString();
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(read.json["sheets"].toArray(), (QJsonArray{"Assets", "Tests"}));
    const QJsonArray assetRows = read.json["Assets"].toObject()["rows"].toArray();
    ASSERT_EQ(assetRows.size(), 3);
    EXPECT_EQ(assetRows[0].toArray()[0].toObject()["s"].toString(), "Tag");
    EXPECT_EQ(assetRows[1].toArray()[1].toObject()["s"].toString(),
              QString::fromUtf8("Pump \"A\"; 泵"));
    const QJsonArray testRows = read.json["Tests"].toObject()["rows"].toArray();
    ASSERT_EQ(testRows.size(), 4);
    EXPECT_EQ(testRows[1].toArray()[0].toObject()["s"].toString(), "M-1");
    EXPECT_DOUBLE_EQ(testRows[1].toArray()[5].toObject()["n"].toDouble(), 420) << "R60 in MΩ";

    // The register's own file is never the target.
    const QString named = dir.filePath(QStringLiteral("register-itself.xlsx"));
    const CliRun self = runCli({"assets", "export", named, "--database", "sqlite:" + named});
    EXPECT_EQ(self.exitCode, 1) << self.err.constData();
    EXPECT_TRUE(self.err.contains("register itself")) << self.err.constData();
}

} // namespace
