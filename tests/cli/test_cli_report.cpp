#include "cli_runner.h"
#include "readings/table_file_io.h"
#include "reports/report_dialogs.h"
#include "reports/report_fixtures.h"
#include "support/table_files.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliReport : ::testing::Test {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString table(const char* name, int n, bool store = false) {
        kx::ReadingsTable t;
        kxtest::fillReadings(t, n, store);
        EXPECT_TRUE(kx::saveKeyedCopy(t, path(name)));
        return path(name);
    }
};

} // namespace

TEST_F(CliReport, DataReportAsPdf) {
    const QString db = table("live.db", 40);
    const CliRun r = runCli({"report", db, "--out", path("r.pdf")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto lines = r.jsonLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0]["pages"].toInt(), 2);
    EXPECT_EQ(lines[0]["records"].toInt(), 40);
    EXPECT_EQ(lines[0]["path"].toString(), path("r.pdf"));
    EXPECT_EQ(kxtest::pdfPages(path("r.pdf")), 2);
    EXPECT_TRUE(kxtest::pdfPageText(path("r.pdf"), 2).contains("1.039"));
}

TEST_F(CliReport, StoredReportsAsTextAndCsvOfEitherKindOfTable) {
    const QString stored = table("stored.db", 3, true);
    CliRun r = runCli({"report", stored, "--store", "--out", path("r.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray text = fileBytes(path("r.txt"));
    EXPECT_TRUE(text.contains("PW60 STORE DATA REPORT"));
    EXPECT_TRUE(text.contains("V_Range"));
    EXPECT_TRUE(text.contains("The Page 1 Of 1\r\n"));
    r = runCli({"report", "--out", path("r.csv"), "--store", stored});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray csv = fileBytes(path("r.csv"));
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF")) << "UTF-8 with its byte-order mark";
    EXPECT_TRUE(csv.contains("\r\n3,"));

    // A recording (No, Time, ...) printed as stored readings, and stored readings printed as
    // a data report: the fields are matched by position and kind.
    r = runCli({"report", table("live.db", 3), "--store", "--out", path("s.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["records"].toInt(), 3);
    const QString live = QString::fromLatin1(fileBytes(path("s.txt")));
    EXPECT_TRUE(live.contains("PW60 STORE DATA REPORT"));
    for (const char* value : {"1.000", "1.001", "1.002", "10:00:02", "Continuous"})
        EXPECT_TRUE(live.contains(QLatin1String(value))) << value;
    r = runCli({"report", stored, "--out", path("d.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(fileBytes(path("d.txt")).contains("1.002"));
}

TEST_F(CliReport, GraphReportsTakeAPicture) {
    QImage img(12, 12, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    ASSERT_TRUE(img.save(path("g.png")));
    CliRun r =
        runCli({"report", "--kind", "graph", "--picture", path("g.png"), "--out", path("g.html")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["pages"].toInt(), 1);
    EXPECT_EQ(r.jsonLines()[0]["records"].toInt(), 0);
    EXPECT_TRUE(fileBytes(path("g.html")).contains("data:image/png;base64,"));

    const QString db = table("live.db", 30);
    r = runCli({"report", db, "--kind", "data+graph", "--picture", path("g.png"), "--out",
                path("dg.pdf")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["pages"].toInt(), 2);
    EXPECT_EQ(kxtest::pdfPages(path("dg.pdf")), 2);
}
