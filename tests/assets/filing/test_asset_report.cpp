// The demo register, the asset history report in its three forms and its trend chart.
#include "cli/cli_runner.h"
#include "support/python_reader.h"

#include "assets/demo_register.h"
#include "reports/asset_report.h"

#include <QJsonArray>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

struct AssetReports : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("demo.sqlite")); }
    std::unique_ptr<kx::AssetRegister> open() const {
        kx::DatabaseLocation l;
        l.path = path();
        auto r = kx::AssetRegister::open(l);
        EXPECT_TRUE(r.ok()) << r.error().toStdString();
        return r.ok() ? r.take() : nullptr;
    }
};

const QDate kLastDay(2026, 11, 10);

TEST_F(AssetReports, TheDemoRegisterShowsAFallAndASharpDrop) {
    auto reg = open();
    ASSERT_TRUE(reg);
    ASSERT_TRUE(kx::fillDemoRegister(*reg, kLastDay).ok());
    const auto listed = reg->list();
    ASSERT_TRUE(listed.ok()) << listed.error().toStdString();
    EXPECT_GE(listed.value().size(), 9u);
    int tests = 0;
    for (const kx::AssetSummary& s : listed.value()) {
        EXPECT_GE(s.tests, 3) << s.asset.tag.toStdString();
        EXPECT_LE(s.tests, 8) << s.asset.tag.toStdString();
        tests += s.tests;
    }
    const auto falling = reg->trend(QStringLiteral("M-205"));
    ASSERT_TRUE(falling.ok());
    ASSERT_TRUE(falling.value().slopePerYear.has_value());
    EXPECT_LT(*falling.value().slopePerYear, -30);
    ASSERT_TRUE(falling.value().crossing.has_value());
    EXPECT_GT(*falling.value().crossing, kLastDay);
    EXPECT_LT(*falling.value().crossing, kLastDay.addYears(2));
    const auto dropped = reg->trend(QStringLiteral("M-330"));
    ASSERT_TRUE(dropped.ok());
    EXPECT_TRUE(dropped.value().points.back().sharpDrop);
    const auto steady = reg->trend(QStringLiteral("M-102"));
    ASSERT_TRUE(steady.ok());
    EXPECT_FALSE(steady.value().crossing.has_value());

    // Filling again adds nothing; the same day gives the same register.
    ASSERT_TRUE(kx::fillDemoRegister(*reg, kLastDay).ok());
    int again = 0;
    const auto relisted = reg->list();
    ASSERT_TRUE(relisted.ok());
    for (const kx::AssetSummary& s : relisted.value())
        again += s.tests;
    EXPECT_EQ(again, tests);
    EXPECT_NE(kx::demoDatabaseLocation().path, kx::defaultDatabaseLocation().path);
}

TEST_F(AssetReports, TheChartIsWellFormedWithAPointATest) {
    struct Case {
        const char* name;
        std::vector<std::optional<double>> r60; // MΩ, one a year
        bool crossing;
    };
    const std::vector<Case> cases = {
        {"no tests", {}, false},
        {"one test", {500}, false},
        {"a test without R60", {500, std::nullopt, 300}, false},
        {"falling", {800, 400, 200}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kx::AssetReportData d;
        d.asset.tag = QStringLiteral("<M&1>");
        for (std::size_t i = 0; i < c.r60.size(); ++i) {
            kx::TrendPoint p;
            p.testId = static_cast<qint64>(i + 1);
            p.testedAt = QDateTime(QDate(2020 + static_cast<int>(i), 5, 1), QTime(9, 0));
            if (c.r60[i])
                p.r60Corrected40 = *c.r60[i] * 1e6;
            p.pi = 2.5;
            d.trend.points.push_back(p);
        }
        if (c.crossing)
            d.trend.crossing = QDate(2024, 6, 1);
        const QString svg = kx::assetTrendSvg(d, 170, 110);
        QXmlStreamReader xml(svg);
        int circles = 0;
        bool projection = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("circle"))
                ++circles;
            if (xml.isStartElement() &&
                xml.attributes().value(QLatin1String("stroke")) == QLatin1String("#e07000"))
                projection = true;
        }
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_EQ(circles, std::count_if(c.r60.begin(), c.r60.end(),
                                         [](const auto& r) { return r.has_value(); }));
        EXPECT_EQ(projection, c.crossing);
    }
}

TEST_F(AssetReports, TheReportComesAsPdfHtmlAndCsv) {
    {
        auto reg = open();
        ASSERT_TRUE(reg);
        ASSERT_TRUE(kx::fillDemoRegister(*reg, kLastDay).ok());
    }
    struct Case {
        const char* file;
        const char* starts;   // the file's first bytes
        const char* contains; // somewhere in it
    };
    const std::vector<Case> cases = {
        {"r.pdf", "%PDF", nullptr},
        {"r.html", "<!DOCTYPE html>", "<svg"},
        {"r.HTM", "<!DOCTYPE html>", "Conveyor drive motor"},
        {"r.csv", "\xEF\xBB\xBFtag,name,date", "M-205"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString out = dir.filePath(QString::fromLatin1(c.file));
        const CliRun r = runCli({"report", "--kind", "asset", "--asset", "M-205", "--database",
                                 "sqlite:" + path(), "--out", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(r.jsonLines().value(0)["tests"].toInt(), 6);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith(c.starts)) << bytes.left(40).constData();
        if (c.contains) {
            EXPECT_TRUE(bytes.contains(c.contains));
        }
    }
    const kxtest::PythonRead csv =
        kxtest::readWithPython(QStringLiteral("csv"), dir.filePath(QStringLiteral("r.csv")));
    ASSERT_TRUE(csv.error.isEmpty()) << csv.error.toStdString();
    if (csv.skip.isEmpty()) {
        EXPECT_EQ(csv.json["rows"].toArray().size(), 7) << "the header and a row a test";
    }

    // Bad requests are told before anything is written.
    for (const QStringList& bad :
         {QStringList{"report", "--kind", "asset", "--out", dir.filePath("x.pdf")},
          QStringList{"report", "--kind", "asset", "--asset", "M-205", "--out",
                      dir.filePath("x.txt")},
          QStringList{"report", "t.db", "--asset", "M-205", "--out", dir.filePath("x.pdf")}}) {
        const CliRun r = runCli(bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
    }
    const CliRun missing = runCli({"report", "--kind", "asset", "--asset", "nobody", "--database",
                                   "sqlite:" + path(), "--out", dir.filePath("x.pdf")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("x.pdf")));
}

} // namespace
