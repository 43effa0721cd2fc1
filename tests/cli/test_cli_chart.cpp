#include "cli_runner.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QColor kArea(255, 255, 128);
const QColor kLine(128, 255, 0);

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
    // Readings of 100, 110, ... 190 MΩ over and over.
    const QString table = tableFile(dir, "readings.db", readingRows(250, [](int i) {
                                        return readingRow(i, QByteArray::number(100 + i % 10 * 10));
                                    }));
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

// The command line draws what the window draws: voltage checks between resistance readings
// are gaps, so a table with dashes in their place gives the same picture.
TEST(CliChart, VoltageChecksAreGapsAsInTheWindow) {
    QTemporaryDir dir;
    auto table = [&](const char* name, bool voltages) {
        return tableFile(dir, name, readingRows(120, [voltages](int i) {
                             const bool check = i % 4 == 0;
                             if (!check)
                                 return readingRow(i, QByteArray::number(20 * i));
                             return voltages ? readingRow(i, "500", "V") : readingRow(i, "----");
                         }));
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
