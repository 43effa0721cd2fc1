#include "reports/report_document.h"
#include "reports/report_export.h"
#include "reports/report_fixtures.h"
#include "support/csv_reader.h"
#include "support/table_files.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;

namespace {

struct Export : ::testing::Test {
    ReadingsTable live;
    ReportState state;
    QTemporaryDir dir;

    ReportDocument data(int records) {
        kxtest::fillReadings(live, records);
        return prepareDataReport(state, live, QDate(2024, 5, 6));
    }
    QByteArray write(const ReportDocument& doc, ReportFileKind kind) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        Result<SaveOutcome> r = writeReportText(doc, kind, buffer);
        EXPECT_TRUE(r) << r.error().toStdString();
        return buffer.data();
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QStringList leftovers() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
};

QByteArray ohm() {
    return QByteArray("\xA6\xB8");
}

} // namespace

TEST(TextLine, TextsKeepTheirColumnsAndABlankBetweenNeighbours) {
    EXPECT_EQ(layTextLine({{3, "No"}, {13, "Time"}}), "   No        Time");
    // Outside ASCII a character takes two columns, as code page 936 text shows it.
    EXPECT_EQ(layTextLine({{0, QStringLiteral("M\u03A9")}, {4, "x"}}), QStringLiteral("M\u03A9 x"));
    EXPECT_EQ(layTextLine({{0, QStringLiteral("M\u03A9")}, {3, "x"}}), QStringLiteral("M\u03A9 x"));
    EXPECT_EQ(layTextLine({{0, QStringLiteral("\u03A9")}, {5, "x"}}), QStringLiteral("\u03A9   x"));
    // A text that would run into the next pushes it right.
    EXPECT_EQ(layTextLine({{0, "The Page"}, {3, "1"}, {5, "Of"}}), "The Page 1 Of");
    // Empty texts take no room; trailing blanks go.
    EXPECT_EQ(layTextLine({{2, "a"}, {6, ""}, {9, "b  "}}), "  a      b");
    EXPECT_EQ(layTextLine({}), "");
}

TEST_F(Export, PlainTextPutsEachBandOnALine) {
    const ReportDocument doc = data(2);
    const QByteArray text = write(doc, ReportFileKind::Text);
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_TRUE(text.endsWith("\r\n"));
    // Header, column header, two records, footer.
    ASSERT_EQ(lines.size(), 6);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(lines[i].endsWith('\r')) << i;
    const QByteArray header = lines[0].chopped(1);
    EXPECT_EQ(header.indexOf(" TEST DATA REPORT"), 28);
    EXPECT_EQ(header.indexOf("Print Date:"), 63);
    EXPECT_TRUE(header.endsWith("Print Date: " + doc.dateText().toLatin1()));
    EXPECT_EQ(lines[1].chopped(1),
              "   No        Time        Value         Unit      Function       Remark");
    // The record's texts start at their millimetre positions over 2.54 mm a character.
    QByteArray expected;
    auto at = [&](int column, const QByteArray& text) {
        expected += QByteArray(std::max<qsizetype>(1, column - expected.size()), ' ') + text;
    };
    at(3, "2");
    at(13, QByteArray::fromStdString(live.fieldText(1, "Time")));
    at(26, "1.001");
    at(39, "M" + ohm());
    at(49, "IR:500V 20G" + ohm());
    at(65, "Continuous");
    EXPECT_EQ(lines[3].chopped(1), expected);
    EXPECT_EQ(lines[4].chopped(1), "   The Page 1 Of 1");
}

TEST_F(Export, CommaSeparatedTextIsUtf8AndQuotedForAStrictReader) {
    kxtest::fillReadings(live, 1);
    live.append();
    (void)live.setFieldInt("No", 2);
    (void)live.setFieldText("Value", "1,5");
    (void)live.setFieldText("Unit", "M\xA6\xB8");
    (void)live.setFieldText("V_Range", "=1+2");
    (void)live.setFieldText("I_Range", "say \"hi\"\r\nbye");
    ASSERT_TRUE(live.post());
    live.append();
    (void)live.setFieldInt("No", 3);
    (void)live.setFieldText("Value", "-10");
    ASSERT_TRUE(live.post());
    const ReportDocument doc = prepareDataReport(state, live, QDate(2024, 5, 6));
    const QByteArray bytes = write(doc, ReportFileKind::Csv);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const auto rows = kxtest::readStrictCsv(bytes.mid(3).toStdString(), ',');
    ASSERT_TRUE(rows.has_value()) << bytes.constData();
    ASSERT_EQ(rows->size(), 6u);
    using Row = std::vector<std::string>;
    EXPECT_EQ((*rows)[0], (Row{" TEST DATA REPORT", "Print Date:", doc.dateText().toStdString()}));
    EXPECT_EQ((*rows)[1], (Row{"No", "Time", "Value", "Unit", "Function", "Remark"}));
    EXPECT_EQ((*rows)[2], (Row{"1", live.fieldText(0, "Time"), "1.000", "V", "IR:500V 20G\xCE\xA9",
                               "Continuous"}));
    // The ohm sign in UTF-8; a text a spreadsheet would run is kept a text; a line break and
    // quotes stay inside their field.
    EXPECT_EQ((*rows)[3], (Row{"2", "", "1,5", "M\xCE\xA9", "'=1+2", "say \"hi\"\r\nbye"}));
    EXPECT_EQ((*rows)[4], (Row{"3", "", "-10", "", "", ""}));
    EXPECT_EQ((*rows)[5], (Row{"The Page", "1", "Of", "1"}));
}

TEST_F(Export, HtmlIsOneUtf8DocumentWithEscapedTexts) {
    kxtest::fillReadings(live, 2);
    live.append();
    (void)live.setFieldText("Value", "<b>&");
    ASSERT_TRUE(live.post());
    const ReportDocument doc = prepareDataReport(state, live, QDate(2024, 5, 6));
    const QString html = QString::fromUtf8(write(doc, ReportFileKind::Html));
    EXPECT_TRUE(html.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(html.contains("<meta charset=\"utf-8\">"));
    EXPECT_TRUE(html.contains("<title>TEST DATA REPORT</title>"));
    EXPECT_TRUE(html.contains("&lt;b&gt;&amp;"));
    EXPECT_FALSE(html.contains("<b>&"));
    EXPECT_TRUE(html.contains(QStringLiteral(">M\u03A9</span>")));
    EXPECT_EQ(html.count("class=\"page\""), 1);
    EXPECT_TRUE(html.trimmed().endsWith("</html>"));
}

TEST_F(Export, HtmlEmbedsTheGraphPicture) {
    const QString picture = path("graph.png");
    // The smallest PNG: the bytes are copied, not decoded.
    ASSERT_TRUE(putFile(
        picture, QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4"
                                        "2mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==")));
    const ReportDocument doc = prepareGraphReport(picture, QDate(2024, 5, 6));
    const QByteArray html = write(doc, ReportFileKind::Html);
    EXPECT_TRUE(html.contains("src=\"data:image/png;base64,iVBORw0KGgo"));

    const ReportDocument missing = prepareGraphReport(path("gone.png"), {});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const Result<SaveOutcome> r = writeReportText(missing, ReportFileKind::Html, buffer);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("gone.png"));
}

TEST_F(Export, SavingReplacesTheFileOnlyWhenDone) {
    const ReportDocument doc = data(200);
    const QString target = path("report.txt");
    ASSERT_TRUE(putFile(target, "old contents"));

    // Cancelled half way: the old file stays and no temporary is left.
    int calls = 0;
    Result<SaveOutcome> r =
        saveReportText(doc, ReportFileKind::Text, target, [&](int done, int total) {
            ++calls;
            EXPECT_EQ(total, 6);
            return done < 3;
        });
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value(), SaveOutcome::Cancelled);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(fileBytes(target), "old contents");
    EXPECT_EQ(leftovers(), QStringList{"report.txt"});

    r = saveReportText(doc, ReportFileKind::Text, target);
    ASSERT_TRUE(r) << r.error().toStdString();
    EXPECT_EQ(r.value(), SaveOutcome::Saved);
    EXPECT_EQ(leftovers(), QStringList{"report.txt"});
    // A form feed starts each page after the first.
    const QByteArray text = fileBytes(target);
    EXPECT_EQ(text.count('\f'), 5);
    EXPECT_TRUE(text.contains("   The Page 5 Of 6\r\n\f"));
    EXPECT_TRUE(text.endsWith("   The Page 6 Of 6\r\n"));
    // 6 pages of header, column header and footer, and 200 records.
    EXPECT_EQ(text.count("\r\n"), 6 * 3 + 200);
}

TEST_F(Export, TargetsThatMustNotBeReplacedAreRefused) {
    const ReportDocument doc = data(3);
    // A read-only file keeps its contents, even for a user allowed to replace it.
    const QString readOnly = path("kept.csv");
    ASSERT_TRUE(putFile(readOnly, "mine"));
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadUser);
    Result<SaveOutcome> r = saveReportText(doc, ReportFileKind::Csv, readOnly);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("read-only")) << r.error().toStdString();
    EXPECT_EQ(fileBytes(readOnly), "mine");

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.txt"));
    r = saveReportText(doc, ReportFileKind::Text, path("folder.txt"));
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("folder")) << r.error().toStdString();

    const QString fifo = path("pipe.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    r = saveReportText(doc, ReportFileKind::Text, fifo);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("it is a pipe, not a file")) << r.error().toStdString();

    r = saveReportText(doc, ReportFileKind::Text, path("no/such/folder/r.txt"));
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().contains("does not exist")) << r.error().toStdString();
    EXPECT_EQ(leftovers().size(), 2); // the read-only file and the pipe
}

TEST(ReportFileKinds, ByExtensionInAnyCase) {
    EXPECT_EQ(reportFileKindFor("a/b.PDF"), ReportFileKind::Pdf);
    EXPECT_EQ(reportFileKindFor("b.txt"), ReportFileKind::Text);
    EXPECT_EQ(reportFileKindFor("b.Csv"), ReportFileKind::Csv);
    EXPECT_EQ(reportFileKindFor("b.htm"), ReportFileKind::Html);
    EXPECT_EQ(reportFileKindFor("b.html"), ReportFileKind::Html);
    EXPECT_FALSE(reportFileKindFor("b.db").has_value());
    EXPECT_FALSE(reportFileKindFor("pdf").has_value());
}
