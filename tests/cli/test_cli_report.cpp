#include "cli_runner.h"
#include "paradox/paradox_writer.h"
#include "recording/table_file_io.h"
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

TEST_F(CliReport, StoredReportAsTextAndCsv) {
    const QString db = table("stored.db", 3, true);
    CliRun r = runCli({"report", db, "--store", "--out", path("r.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray text = fileBytes(path("r.txt"));
    EXPECT_TRUE(text.contains("PW60 STORE DATA REPORT"));
    EXPECT_TRUE(text.contains("V_Range"));
    EXPECT_TRUE(text.contains("The Page 1 Of 1\r\n"));
    r = runCli({"report", "--out", path("r.csv"), "--store", db});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray csv = fileBytes(path("r.csv"));
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF")) << "UTF-8 with its byte-order mark";
    EXPECT_TRUE(csv.contains("\r\n3,"));
}

TEST_F(CliReport, StoredReportOfALiveReadingsTablePrintsItsRecords) {
    // A recording (No, Time, ...) printed as stored readings, and stored readings printed as
    // a data report: the fields are matched by position and kind.
    const QString live = table("live.db", 3);
    CliRun r = runCli({"report", live, "--store", "--out", path("s.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines()[0]["records"].toInt(), 3);
    const QString text = QString::fromLatin1(fileBytes(path("s.txt")));
    EXPECT_TRUE(text.contains("PW60 STORE DATA REPORT"));
    for (const char* value : {"1.000", "1.001", "1.002", "10:00:02", "Continuous"})
        EXPECT_TRUE(text.contains(QLatin1String(value))) << value;

    const QString stored = table("stored.db", 2, true);
    r = runCli({"report", stored, "--out", path("d.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(fileBytes(path("d.txt")).contains("1.001"));

    // A table of other fields: the reason, exit 1, nothing written.
    ASSERT_TRUE(kx::px::writeTable(path("ids.db"), {{"Id", kx::px::FieldType::Long, 4}},
                                   {{kx::px::Value(std::int32_t(1))}})
                    .ok());
    r = runCli({"report", path("ids.db"), "--store", "--out", path("ids.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("does not hold readings")) << r.err.constData();
    EXPECT_FALSE(QFile::exists(path("ids.txt")));
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

    ASSERT_TRUE(putFile(path("bad.png"), "no picture"));
    r = runCli({"report", db, "--kind", "data+graph", "--picture", path("bad.png"), "--out",
                path("bad.pdf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("bad.png"));
    EXPECT_FALSE(QFile::exists(path("bad.pdf")));
}

TEST_F(CliReport, BadUsageAndBadFiles) {
    const QString db = table("live.db", 2);
    for (const QStringList& args : {
             QStringList{"report", db},                         // no --out
             QStringList{"report", db, "--out", path("r.doc")}, // unknown kind
             QStringList{"report", db, "--kind", "pie", "--out", path("r.pdf")},
             QStringList{"report", db, "--kind", "graph", "--out", path("r.pdf")}, // no picture
             QStringList{"report", db, "--store", "--kind", "graph", "--picture", "x.png", "--out",
                         path("r.pdf")},
             QStringList{"report", "--out", path("r.pdf")}, // no table
         }) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage: report")) << r.err.constData();
    }
    CliRun r = runCli({"report", path("missing.db"), "--out", path("r.pdf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());

    ASSERT_TRUE(putFile(path("kept.pdf"), "mine"));
    QFile::setPermissions(path("kept.pdf"), QFile::ReadOwner);
    r = runCli({"report", db, "--out", path("kept.pdf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("read-only")) << r.err.constData();
    EXPECT_EQ(fileBytes(path("kept.pdf")), "mine");
}
