#include "reports/report_export.h"

#include "common/cp936.h"
#include "common/replacing_file.h"
#include "exports/readings_exports.h"
#include "exports/table_export.h"
#include "reports/report_document.h"
#include "reports/results_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>
#include <cmath>

namespace kx {
namespace {

constexpr double kMmPerColumn = 2.54;
const int kTextColumns = static_cast<int>(kBandWidthMm / kMmPerColumn); // 74

QByteArray cp936(const QString& text) {
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLatin1();
    // Code page 936 has no bullet: its middle dot stands in.
    QString shown = text;
    shown.replace(QChar(0x2022), QChar(0x00B7));
    const std::string b = toCp936(shown);
    return QByteArray(b.data(), static_cast<qsizetype>(b.size()));
}

// A character outside ASCII is two bytes of code page 936 and shows two columns wide.
int columnsOf(const QString& text) {
    int n = 0;
    for (const QChar c : text)
        n += c.unicode() < 0x80 ? 1 : 2;
    return n;
}

QString mm(double v) {
    return QString::number(v, 'f', 1) + QStringLiteral("mm");
}

// Writes through the device, remembering the first failure.
class Sink {
public:
    explicit Sink(QIODevice& out) : out_(out) {}
    void put(const QByteArray& bytes) {
        if (ok_ && out_.write(bytes) != bytes.size())
            ok_ = false;
    }
    Status status() const {
        if (ok_)
            return {};
        return fail(QStringLiteral("Cannot write the report: %1").arg(out_.errorString()));
    }
    bool ok() const { return ok_; }

private:
    QIODevice& out_;
    bool ok_ = true;
};

// Texts as the page shows them, or as comma-separated text writes them (ReportText::csvText).
enum class TextForm { Page, Csv };

QString textOf(const ReportDocument& doc, const ReportText& item, const PlacedBand& placed,
               int pageNumber, TextForm form) {
    if (form == TextForm::Page || (item.csvText.isEmpty() && item.csvField.isEmpty()))
        return doc.text(item, placed, pageNumber);
    ReportText csv = item;
    if (!item.csvText.isEmpty())
        csv.text = item.csvText;
    if (!item.csvField.isEmpty())
        csv.field = item.csvField;
    return doc.text(csv, placed, pageNumber);
}

// The texts of one placed band in reading order, with their character columns.
std::vector<PlacedText> bandTexts(const ReportDocument& doc, const PlacedBand& placed,
                                  int pageNumber, TextForm form) {
    std::vector<PlacedText> out;
    for (const ReportText& item : placed.band->texts) {
        const QString text = textOf(doc, item, placed, pageNumber, form);
        const int column = item.centred ? std::max(0, (kTextColumns - columnsOf(text)) / 2)
                                        : static_cast<int>(std::lround(item.left / kMmPerColumn));
        out.push_back({column, text});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PlacedText& a, const PlacedText& b) { return a.column < b.column; });
    return out;
}

// The lines of a band: one for the whole band, or one for each top its texts stand at (a band
// laid out in lines); lines whose texts are all empty are left out of such a band.
std::vector<std::vector<PlacedText>> bandLines(const ReportDocument& doc, const PlacedBand& placed,
                                               int pageNumber, TextForm form = TextForm::Page) {
    if (!placed.band->lines)
        return {bandTexts(doc, placed, pageNumber, form)};
    std::vector<double> tops;
    for (const ReportText& item : placed.band->texts) {
        if (std::find(tops.begin(), tops.end(), item.top) == tops.end())
            tops.push_back(item.top);
    }
    std::sort(tops.begin(), tops.end());
    std::vector<std::vector<PlacedText>> lines;
    for (double top : tops) {
        ReportBand row = *placed.band;
        row.texts.clear();
        for (const ReportText& item : placed.band->texts) {
            if (item.top == top)
                row.texts.push_back(item);
        }
        PlacedBand one = placed;
        one.band = &row;
        std::vector<PlacedText> texts = bandTexts(doc, one, pageNumber, form);
        if (std::any_of(texts.begin(), texts.end(),
                        [](const PlacedText& t) { return !t.text.isEmpty(); }))
            lines.push_back(std::move(texts));
    }
    return lines;
}

QString cssColor(ReportColor c) {
    switch (c) {
    case ReportColor::Blue:
        return QStringLiteral("#00f");
    case ReportColor::Green:
        return QStringLiteral("#080");
    case ReportColor::Red:
        return QStringLiteral("#d00");
    case ReportColor::Grey:
        return QStringLiteral("#808080");
    case ReportColor::Black:
    case ReportColor::ByVerdict:
        break;
    }
    return {};
}

class TextWriter {
public:
    TextWriter(const ReportDocument& doc, Sink& sink) : doc_(doc), sink_(sink) {}
    void begin() {}
    void page(const ReportPage& page) {
        if (page.number > 1)
            sink_.put("\f");
        for (const PlacedBand& b : page.bands) {
            if (b.band->texts.empty())
                continue;
            for (std::vector<PlacedText>& line : bandLines(doc_, b, page.number))
                sink_.put(cp936(layTextLine(std::move(line))) + "\r\n");
        }
    }
    void end() {}

private:
    const ReportDocument& doc_;
    Sink& sink_;
};

// UTF-8 with a byte-order mark, so that spreadsheets on any system read Ω as Ω, and quoted
// as the readings' .csv export is.
class CsvWriter {
public:
    CsvWriter(const ReportDocument& doc, Sink& sink) : doc_(doc), sink_(sink) {}
    void begin() { sink_.put("\xEF\xBB\xBF"); }
    void page(const ReportPage& page) {
        for (const PlacedBand& b : page.bands) {
            if (b.band->texts.empty())
                continue;
            for (const std::vector<PlacedText>& texts :
                 bandLines(doc_, b, page.number, TextForm::Csv)) {
                std::string line;
                bool firstText = true;
                for (const PlacedText& t : texts) {
                    if (!firstText)
                        line += ',';
                    appendCsvText(line, t.text.toStdString());
                    firstText = false;
                }
                line += "\r\n";
                sink_.put(QByteArray::fromStdString(line));
            }
        }
    }
    void end() {}

private:
    const ReportDocument& doc_;
    Sink& sink_;
};

class HtmlWriter {
public:
    HtmlWriter(const ReportDocument& doc, Sink& sink, QByteArray picture)
        : doc_(doc), sink_(sink), picture_(std::move(picture)) {}

    void begin() {
        const ReportLayout& l = doc_.layout();
        QString title;
        if (const ReportBand* h = l.band(BandKind::PageHeader); h && !h->texts.empty())
            title = h->texts.front().text.trimmed();
        QString css =
            QStringLiteral(
                "body{background:#808080;margin:0;padding:8px}"
                ".page{position:relative;background:#fff;width:%1;height:%2;margin:0 auto 8px;"
                "box-sizing:border-box;padding:%3;page-break-after:always;overflow:hidden}"
                ".area{position:relative;width:%4;height:%5}"
                ".band{position:absolute;left:0;width:%4}"
                ".band span{position:absolute;white-space:pre;font-family:Arial,'Liberation "
                "Sans',sans-serif;line-height:1}"
                ".band img{position:absolute}"
                "@page{size:A4;margin:0}@media print{body{background:none;padding:0}"
                ".page{margin:0}}")
                .arg(mm(kPageWidthMm), mm(kPageHeightMm), mm(kMarginMm), mm(kBandWidthMm),
                     mm(kPrintableHeightMm));
        for (std::size_t bi = 0; bi < l.bands.size(); ++bi) {
            const ReportBand& b = l.bands[bi];
            css += QStringLiteral(".b%1{height:%2}").arg(bi).arg(mm(b.height));
            for (std::size_t ti = 0; ti < b.texts.size(); ++ti) {
                const ReportText& t = b.texts[ti];
                css +=
                    QStringLiteral(".b%1t%2{top:%3;font-size:%4pt;%5%6%7%8}")
                        .arg(bi)
                        .arg(ti)
                        .arg(mm(t.top))
                        .arg(t.points)
                        .arg(t.centred ? QStringLiteral("left:0;width:100%;text-align:center;")
                                       : QStringLiteral("left:%1;").arg(mm(t.left)),
                             t.bold ? QStringLiteral("font-weight:bold;") : QString(),
                             t.underline ? QStringLiteral("text-decoration:underline;") : QString(),
                             cssColor(t.color).isEmpty()
                                 ? QString()
                                 : QStringLiteral("color:%1;").arg(cssColor(t.color)));
            }
            if (b.picture) {
                css += QStringLiteral(".b%1p{left:%2;top:%3;width:%4;height:%5}")
                           .arg(bi)
                           .arg(mm(b.picture->left), mm(b.picture->top), mm(b.picture->width),
                                mm(b.picture->height));
            }
        }
        sink_.put(QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
                                 "<title>%1</title>\n<style>%2</style>\n</head><body>\n")
                      .arg(title.toHtmlEscaped(), css)
                      .toUtf8());
    }

    void page(const ReportPage& page) {
        const ReportLayout& l = doc_.layout();
        QString html = QStringLiteral("<div class=\"page\"><div class=\"area\">\n");
        for (const PlacedBand& b : page.bands) {
            const auto bi = b.band - l.bands.data();
            html +=
                QStringLiteral("<div class=\"band b%1\" style=\"top:%2\">").arg(bi).arg(mm(b.top));
            for (std::size_t ti = 0; ti < b.band->texts.size(); ++ti) {
                const QString text = doc_.text(b.band->texts[ti], b, page.number);
                if (text.isEmpty())
                    continue;
                const ReportText& item = b.band->texts[ti];
                const QString style =
                    item.color == ReportColor::ByVerdict
                        ? QStringLiteral(" style=\"color:%1\"").arg(cssColor(doc_.colorOf(item, b)))
                        : QString();
                html += QStringLiteral("<span class=\"b%1t%2\"%4>%3</span>")
                            .arg(bi)
                            .arg(ti)
                            .arg(text.toHtmlEscaped(), style);
            }
            if (b.band->picture && b.band->picture->testCurve && doc_.results() && b.record >= 0 &&
                b.record < doc_.recordCount()) {
                const ReportPictureBox& box = *b.band->picture;
                const auto test = static_cast<std::size_t>(b.record);
                html += QStringLiteral("<div class=\"b%1p\" style=\"position:absolute\">").arg(bi);
                html += testCurveSvg(layoutTestCurve(doc_.results()->curve(test),
                                                     doc_.results()->tests[test],
                                                     static_cast<int>(box.width * 4)),
                                     box.width, box.height);
                html += QStringLiteral("</div>");
            }
            const bool image =
                b.band->picture && !b.band->picture->testCurve && !picture_.isEmpty();
            if (image)
                html += QStringLiteral("<img class=\"b%1p\" alt=\"\" src=\"").arg(bi);
            sink_.put(html.toUtf8());
            html.clear();
            if (image) {
                sink_.put(picture_);
                html += QStringLiteral("\">");
            }
            html += QStringLiteral("</div>\n");
        }
        html += QStringLiteral("</div></div>\n");
        sink_.put(html.toUtf8());
    }

    void end() { sink_.put("</body></html>\n"); }

private:
    const ReportDocument& doc_;
    Sink& sink_;
    QByteArray picture_; // a data: URL
};

// The report's picture as a data: URL, so the document stands alone.
Result<QByteArray> pictureUrl(const ReportDocument& doc) {
    if (doc.picturePath().isEmpty())
        return QByteArray();
    QFile f(doc.picturePath());
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the picture %1: %2")
                        .arg(QDir::toNativeSeparators(doc.picturePath()), f.errorString()));
    const QByteArray bytes = f.readAll();
    const QString mime =
        QMimeDatabase().mimeTypeForFileNameAndData(doc.picturePath(), bytes).name();
    return QByteArray("data:") + mime.toLatin1() + ";base64," + bytes.toBase64();
}

template <typename Writer>
Result<SaveOutcome> writePages(const ReportDocument& doc, Writer& w, Sink& sink,
                               const ReportProgress& progress) {
    const int pages = doc.pageCount();
    w.begin();
    for (int i = 0; i < pages && sink.ok(); ++i) {
        w.page(doc.page(i));
        if (progress && !progress(i + 1, pages))
            return SaveOutcome::Cancelled;
    }
    w.end();
    if (Status s = sink.status(); !s)
        return fail(s.error());
    return SaveOutcome::Saved;
}

} // namespace

std::optional<ReportFileKind> reportFileKindFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return ReportFileKind::Pdf;
    if (suffix == QLatin1String("txt"))
        return ReportFileKind::Text;
    if (suffix == QLatin1String("csv"))
        return ReportFileKind::Csv;
    if (suffix == QLatin1String("htm") || suffix == QLatin1String("html"))
        return ReportFileKind::Html;
    return std::nullopt;
}

Status checkReportTarget(const QString& path) {
    // The same rules as for the exports of the tables.
    return checkExportTarget(path);
}

ReportFile::ReportFile(const QString& path, std::unique_ptr<ReplacingFile> file)
    : path_(path), file_(std::move(file)) {}

// An unfinished file's temporary goes with it; the target stays as it was.
ReportFile::~ReportFile() = default;

Result<std::unique_ptr<ReportFile>> ReportFile::begin(const QString& path) {
    if (Status s = checkReportTarget(path); !s)
        return fail(s.error());
    Result<std::unique_ptr<ReplacingFile>> file = ReplacingFile::begin(path);
    if (!file)
        return fail(file.error());
    return std::unique_ptr<ReportFile>(new ReportFile(path, file.take()));
}

QIODevice& ReportFile::device() {
    return *file_;
}

Status ReportFile::status() const {
    return file_->status();
}

Status ReportFile::finish() {
    return file_->commit();
}

Result<SaveOutcome> writeReportText(const ReportDocument& doc, ReportFileKind kind, QIODevice& out,
                                    const ReportProgress& progress) {
    Sink sink(out);
    switch (kind) {
    case ReportFileKind::Text: {
        TextWriter w(doc, sink);
        return writePages(doc, w, sink, progress);
    }
    case ReportFileKind::Csv: {
        CsvWriter w(doc, sink);
        return writePages(doc, w, sink, progress);
    }
    case ReportFileKind::Html: {
        Result<QByteArray> picture = pictureUrl(doc);
        if (!picture)
            return fail(picture.error());
        HtmlWriter w(doc, sink, picture.take());
        return writePages(doc, w, sink, progress);
    }
    case ReportFileKind::Pdf:
        break;
    }
    return fail(QStringLiteral("A PDF file is drawn by the page painter"));
}

Result<SaveOutcome> saveReportText(const ReportDocument& doc, ReportFileKind kind,
                                   const QString& path, const ReportProgress& progress) {
    Result<std::unique_ptr<ReportFile>> file = ReportFile::begin(path);
    if (!file)
        return fail(file.error());
    Result<SaveOutcome> r = writeReportText(doc, kind, file.value()->device(), progress);
    // A failed write is told with the file's path and the system's reason.
    if (Status s = file.value()->status(); !s)
        return fail(s.error());
    if (!r || r.value() == SaveOutcome::Cancelled)
        return r;
    if (Status s = file.value()->finish(); !s)
        return fail(s.error());
    return SaveOutcome::Saved;
}

QString layTextLine(std::vector<PlacedText> texts) {
    QString line;
    int width = 0; // columns the line takes
    for (const PlacedText& t : texts) {
        if (t.text.isEmpty())
            continue;
        int column = std::max(0, t.column);
        if (!line.isEmpty())
            column = std::max(column, width + 1);
        line += QString(column - width, QLatin1Char(' '));
        line += t.text;
        width = column + columnsOf(t.text);
    }
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    return line;
}

} // namespace kx
