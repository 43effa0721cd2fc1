#include "reports/report_dialogs.h"
#include "reports/report_fixtures.h"
#include "reports/ui/report_painter.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace kx;

namespace {

constexpr double kDots = 4.0; // pixels a millimetre in the page images

// Pixels of the sheet by their position in millimetres from the paper's corner.
int pix(double mm) {
    return static_cast<int>(mm * kDots);
}

bool isBlue(QRgb c) {
    return qBlue(c) > 180 && qRed(c) < 120 && qGreen(c) < 120;
}
bool isDark(QRgb c) {
    return qRed(c) < 110 && qGreen(c) < 110 && qBlue(c) < 110;
}

// The box holding every pixel that matches within the rows [top, bottom) (in millimetres).
QRect inkBox(const QImage& img, double top, double bottom, const std::function<bool(QRgb)>& ink) {
    return kxtest::inkIn(img, QRect(0, pix(top), img.width(), pix(bottom) - pix(top)), ink).box;
}

struct Painter : ::testing::Test {
    ReadingsTable live;
    ReportState state;
    QTemporaryDir dir;

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // A picture of one colour, saved as PNG.
    QString picture(QColor colour) {
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(colour);
        const QString file = path("graph.png");
        EXPECT_TRUE(img.save(file));
        return file;
    }
};

} // namespace

TEST_F(Painter, PageOneOfTheDataReportFallsWhereItsBandsSay) {
    kxtest::fillReadings(live, 40);
    const ReportDocument doc = prepareDataReport(state, live, QDate(2024, 5, 6));
    const QImage page = ReportPainter(doc).renderPage(0, kDots);
    ASSERT_EQ(page.size(), QSize(840, 1188));

    // Nothing in the top margin.
    EXPECT_TRUE(inkBox(page, 0, 10, isDark).isNull());
    EXPECT_TRUE(inkBox(page, 0, 10, isBlue).isNull());

    // The title: blue, from 2.1 mm into the header band, centred on the page, underlined.
    const QRect title = inkBox(page, 10, 20.6, isBlue);
    ASSERT_FALSE(title.isNull());
    EXPECT_GE(title.top(), pix(12.1));
    EXPECT_LE(title.top(), pix(12.1) + 8);
    EXPECT_NEAR(title.center().x(), pix(105), 6);
    int underline = 0;
    for (int x = title.left(); x <= title.right(); ++x)
        underline += isBlue(page.pixel(x, title.bottom())) ? 1 : 0;
    EXPECT_GT(underline, title.width() * 3 / 4);
    // "Print Date:" at 158.8 mm in the header band.
    const QRect date = inkBox(page, 10, 20.6, isDark);
    EXPECT_NEAR(date.left(), pix(10 + 158.8), 3);

    // The column header "No" at 8.5 mm, 4.2 mm into its band.
    const QRect columns = inkBox(page, 20.6, 31.2, isDark);
    ASSERT_FALSE(columns.isNull());
    EXPECT_NEAR(columns.left(), pix(10 + 8.5), 3);
    EXPECT_GE(columns.top(), pix(20.6 + 4.2));
    EXPECT_LE(columns.top(), pix(20.6 + 4.2) + 6);

    // The first record's row: 2.1 mm into the first detail band, its number at 8.5 mm.
    const QRect row = inkBox(page, 31.2, 37.8, isDark);
    ASSERT_FALSE(row.isNull());
    EXPECT_NEAR(row.left(), pix(10 + 8.5), 4);
    EXPECT_GE(row.top(), pix(31.2 + 2.1));
    // Rows follow every 6.6 mm: the 37th is the last one above the footer.
    EXPECT_FALSE(inkBox(page, 31.2 + 36 * 6.6, 31.2 + 37 * 6.6, isDark).isNull());
    EXPECT_TRUE(inkBox(page, 31.2 + 37 * 6.6, 276.4, isDark).isNull());

    // The footer: "The Page" at 8.5 mm, the blue page number at 24.3 mm and total at 37.0 mm.
    const QRect footer = inkBox(page, 276.4, 287, isDark);
    EXPECT_NEAR(footer.left(), pix(10 + 8.5), 3);
    const QRect numbers = inkBox(page, 276.4, 287, isBlue);
    EXPECT_NEAR(numbers.left(), pix(10 + 24.3), 3);
    EXPECT_NEAR(numbers.right(), pix(10 + 37.0) + 6, 6);
    EXPECT_TRUE(inkBox(page, 287, 297, isDark).isNull());
}

TEST_F(Painter, GraphReportStretchesItsPictureIntoTheBox) {
    const QString file = picture(Qt::red);
    Result<QImage> loaded = loadReportPicture(file);
    ASSERT_TRUE(loaded) << loaded.error().toStdString();
    const ReportDocument doc = prepareGraphReport(file, QDate(2024, 5, 6));
    const QImage page = ReportPainter(doc, loaded.value()).renderPage(0, kDots);
    auto red = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; };
    const QRect box = inkBox(page, 0, 297, red);
    // Band at 15.6 mm; box at 2.1, 6.3, 181.2 x 151.6.
    EXPECT_NEAR(box.left(), pix(10 + 2.1), 2);
    EXPECT_NEAR(box.top(), pix(10 + 15.6 + 6.3), 2);
    EXPECT_NEAR(box.width(), 181.2 * kDots, 3);
    EXPECT_NEAR(box.height(), 151.6 * kDots, 3);
}

TEST_F(Painter, PicturesThatDoNotLoadSayWhy) {
    const QString notAPicture = path("notes.png");
    ASSERT_TRUE(putFile(notAPicture, "plain text"));
    Result<QImage> r = loadReportPicture(notAPicture);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("notes.png")) << r.error().toStdString();

    ASSERT_TRUE(putFile(path("drawing.emf"), QByteArray(64, '\x01')));
    r = loadReportPicture(path("drawing.emf"));
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("drawing.emf"));

    EXPECT_FALSE(loadReportPicture(path("missing.bmp")));
}

TEST(PictureFilters, OfferWhatThisMachineLoads) {
    const QStringList filters = pictureFileFilters();
    ASSERT_GE(filters.size(), 3);
    EXPECT_TRUE(filters.front().startsWith("All pictures ("));
    for (const char* suffix : {"*.bmp", "*.ico", "*.png", "*.jpg", "*.svg"})
        EXPECT_TRUE(filters.front().contains(QLatin1String(suffix))) << suffix;
    EXPECT_FALSE(filters.join(' ').contains("*.emf"));
    EXPECT_TRUE(filters.contains("Bitmaps (*.bmp)"));
    EXPECT_EQ(filters.back(), "All files (*)");
}

TEST_F(Painter, PdfHasTheReportsPagesAndTextAndReplacesTheOldFileOnlyWhenDone) {
    kxtest::fillReadings(live, 100);
    const ReportDocument doc = prepareDataReport(state, live, QDate(2024, 5, 6));
    const QString pdf = path("report.pdf");
    ASSERT_TRUE(putFile(pdf, "old"));
    Result<SaveOutcome> r =
        ReportPainter(doc).save(pdf, ReportFileKind::Pdf, [](int done, int) { return done < 2; });
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value(), SaveOutcome::Cancelled);
    EXPECT_EQ(fileBytes(pdf), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.pdf"});

    r = ReportPainter(doc).save(pdf, ReportFileKind::Pdf);
    ASSERT_TRUE(r) << r.error().toStdString();
    EXPECT_EQ(kxtest::pdfPages(pdf), 3);
    const QString first = kxtest::pdfPageText(pdf, 1);
    for (const char* text : {"TEST DATA REPORT", "Print Date:", "Function", "Remark", "1.000",
                             "1.036", "IR:500V 20G\u03A9", "Continuous"})
        EXPECT_TRUE(first.contains(QString::fromUtf8(text))) << text << "\n" << first.toStdString();
    EXPECT_FALSE(first.contains("1.037"));
    EXPECT_TRUE(first.contains(QRegularExpression("The Page\\s+1\\s+Of\\s+3")))
        << first.toStdString();
    EXPECT_TRUE(
        kxtest::pdfPageText(pdf, 3).contains(QRegularExpression("The Page\\s+3\\s+Of\\s+3")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.pdf"});
}

// Every kind of report file, the PDF drawn by the painter included, fails loudly on a disk
// that fills up: the old file stays, the message names the path and the reason.
TEST_F(Painter, FailedWritesOfEveryKindKeepTheOldFile) {
    kxtest::fillReadings(live, 400);
    const ReportDocument doc = prepareDataReport(state, live, {});
    for (const char* name : {"old.pdf", "old.txt", "old.csv", "old.html"}) {
        const QString target = path(name);
        ASSERT_TRUE(putFile(target, "the good old report"));
        Result<SaveOutcome> r = SaveOutcome::Saved;
        {
            kxtest::FileSizeLimit limit(8 * 1024);
            r = ReportPainter(doc).save(target, *reportFileKindFor(target));
        }
        ASSERT_FALSE(r) << name;
        EXPECT_EQ(r.error(), "Cannot write " + target + ": File too large");
        EXPECT_EQ(fileBytes(target), "the good old report") << name;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

TEST_F(Painter, DataAndGraphReportEndsWithItsPicture) {
    kxtest::fillReadings(live, 30);
    const QString file = picture(Qt::green);
    const ReportDocument doc = prepareDataGraphReport(live, file, {});
    ASSERT_EQ(doc.pageCount(), 2); // 30 rows leave no room for the 91.3 mm summary
    const ReportPainter painter(doc, loadReportPicture(file).value());
    auto green = [](QRgb c) { return qGreen(c) > 100 && qRed(c) < 60 && qBlue(c) < 60; };
    EXPECT_TRUE(inkBox(painter.renderPage(0, kDots), 0, 297, green).isNull());
    const QRect box = inkBox(painter.renderPage(1, kDots), 0, 297, green);
    EXPECT_NEAR(box.left(), pix(10 + 7.4), 2);
    EXPECT_NEAR(box.top(), pix(10 + 21.2 + 9.5), 2);
    EXPECT_NEAR(box.width(), 143.1 * kDots, 3);
}
