#include "cli_runner.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QColor kArea(255, 255, 128);
const QColor kLine(128, 255, 0);

// A readings table file of `n` records, readings 100, 110, ... 190 MΩ over and over.
QString readingsFile(const QTemporaryDir& dir, int n) {
    const QString path = dir.filePath("readings.db");
    std::vector<kx::px::Record> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back({kx::px::Value(std::int32_t(i)), kx::px::Value::timeOfDay(1000 * i),
                        kx::px::Value(QByteArray::number(100 + (i % 10) * 10)),
                        kx::px::Value("M\xA6\xB8"), kx::px::Value("IR:500V 20G\xA6\xB8"),
                        kx::px::Value("Continuous")});
    EXPECT_TRUE(kx::px::writeTable(path, kx::readingsFields(), rows).ok());
    return path;
}

int count(const QImage& img, const QColor& c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}

} // namespace

TEST(CliChart, DrawsATableFilesChart) {
    QTemporaryDir dir;
    const QString table = readingsFile(dir, 250);
    const QString out = dir.filePath("chart.bmp");
    CliRun r = runCli({"chart", table, "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 1);
    EXPECT_EQ(objs[0]["points"].toInt(), 250);
    EXPECT_EQ(objs[0]["pages"].toInt(), 3);
    EXPECT_EQ(objs[0]["page"].toInt(), 1);
    EXPECT_EQ(objs[0]["path"].toString(), out);
    QImage img(out, "BMP");
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(361, 209));
    EXPECT_GT(count(img, kArea), 1000);
    EXPECT_EQ(count(img, kLine), 0);

    const QString png = dir.filePath("line.png");
    r = runCli({"chart", table, "--per-page", "0", "--page", "9", "--line", "--out", png});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    objs = r.jsonLines();
    EXPECT_EQ(objs[0]["pages"].toInt(), 1);
    EXPECT_EQ(objs[0]["page"].toInt(), 1) << "limited to the page count";
    img = QImage(png, "PNG");
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(count(img, kLine), 50);
    EXPECT_EQ(count(img, kArea), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3) << "no temporaries left";
}

TEST(CliChart, BadArgumentsAndFiles) {
    QTemporaryDir dir;
    const QString table = readingsFile(dir, 5);
    for (const QStringList& args :
         {QStringList{"chart", table}, QStringList{"chart", "--out", dir.filePath("x.bmp")},
          QStringList{"chart", table, "--out", dir.filePath("x.jpg")},
          QStringList{"chart", table, "--per-page", "-1", "--out", dir.filePath("x.bmp")},
          QStringList{"chart", table, "--per-page", "many", "--out", dir.filePath("x.bmp")},
          QStringList{"chart", table, "--page", "0", "--out", dir.filePath("x.bmp")},
          QStringList{"chart", table, table, "--out", dir.filePath("x.bmp")}}) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    CliRun r = runCli({"chart", dir.filePath("none.db"), "--out", dir.filePath("x.bmp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());

    QFile junk(dir.filePath("junk.db"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(3000, '\x5a'));
    junk.close();
    r = runCli({"chart", junk.fileName(), "--out", dir.filePath("x.bmp")});
    EXPECT_EQ(r.exitCode, 1);

    // An unwritable place for the picture: a message, and nothing left behind.
    r = runCli({"chart", table, "--out", dir.filePath("no/such/folder/x.bmp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Cannot create file")) << r.err.constData();
    EXPECT_FALSE(QFile::exists(dir.filePath("x.bmp")));
}

// The command line draws what the window draws: voltage checks between resistance readings
// are gaps, so a table with dashes in their place gives the same picture.
TEST(CliChart, VoltageChecksAreGapsAsInTheWindow) {
    QTemporaryDir dir;
    auto table = [&](const char* name, bool voltages) {
        const QString path = dir.filePath(name);
        std::vector<kx::px::Record> rows;
        for (int i = 1; i <= 120; ++i) {
            const bool check = i % 4 == 0;
            rows.push_back({kx::px::Value(std::int32_t(i)), kx::px::Value::timeOfDay(1000 * i),
                            kx::px::Value(check ? QByteArray(voltages ? "500" : "----")
                                                : QByteArray::number(20 * i)),
                            kx::px::Value(check && voltages ? "V" : "M\xA6\xB8"),
                            kx::px::Value("IR:500V 20G\xA6\xB8"), kx::px::Value("Continuous")});
        }
        EXPECT_TRUE(kx::px::writeTable(path, kx::readingsFields(), rows).ok());
        return path;
    };
    const QString mixed = table("mixed.db", true);
    const QString dashes = table("dashes.db", false);
    for (const char* series : {"--line", ""}) {
        QStringList args{"--page", "2"};
        if (*series)
            args << series;
        const CliRun a = runCli(QStringList{"chart", mixed} + args +
                                QStringList{"--out", dir.filePath("a.png")});
        const CliRun b = runCli(QStringList{"chart", dashes} + args +
                                QStringList{"--out", dir.filePath("b.png")});
        ASSERT_EQ(a.exitCode, 0) << a.err.constData();
        ASSERT_EQ(b.exitCode, 0) << b.err.constData();
        const auto objs = a.jsonLines();
        ASSERT_EQ(objs.size(), 1);
        EXPECT_EQ(objs[0].keys(), (QStringList{"page", "pages", "path", "points"}));
        EXPECT_EQ(objs[0]["points"].toInt(), 120);
        EXPECT_EQ(objs[0]["page"].toInt(), 2);
        const QImage pa(dir.filePath("a.png"), "PNG");
        ASSERT_FALSE(pa.isNull());
        EXPECT_EQ(pa, QImage(dir.filePath("b.png"), "PNG")) << series;
        EXPECT_GT(count(pa, *series ? kLine : kArea), 20);
    }
}
