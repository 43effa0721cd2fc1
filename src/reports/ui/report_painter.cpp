#include "reports/ui/report_painter.h"

#include "analysis/ui/curve_painter.h"
#include "reports/results_report.h"

#include <QDir>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <set>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace kx {
namespace {

const QColor kBlue(0, 0, 255);

QColor colourOf(ReportColor c) {
    switch (c) {
    case ReportColor::Blue:
        return kBlue;
    case ReportColor::Green:
        return QColor(0, 136, 0);
    case ReportColor::Red:
        return QColor(221, 0, 0);
    case ReportColor::Grey:
        return QColor(128, 128, 128);
    case ReportColor::Black:
    case ReportColor::ByVerdict:
        break;
    }
    return Qt::black;
}

QFont reportFont(const ReportText& t) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(t.points);
    f.setBold(t.bold);
    f.setUnderline(t.underline);
    f.setKerning(false); // the same advance on every device
    return f;
}

// The PDF engine compresses every page with buffers of about 400 KB that it frees again at
// once. The C library would hand that memory back to the system after each page and fault it
// in again for the next, which costs a quarter of the time of a long report; while pages are
// written it keeps up to 16 MB of freed memory instead.
class KeepFreedMemory {
public:
    KeepFreedMemory() {
#ifdef __GLIBC__
        mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
    }
    ~KeepFreedMemory() {
#ifdef __GLIBC__
        mallopt(M_TRIM_THRESHOLD, 128 * 1024); // the library's default
        malloc_trim(0);
#endif
    }
    KeepFreedMemory(const KeepFreedMemory&) = delete;
    KeepFreedMemory& operator=(const KeepFreedMemory&) = delete;
};

QPageLayout a4Layout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                       QPageLayout::Millimeter);
}

} // namespace

ReportPainter::ReportPainter(const ReportDocument& doc, QImage picture)
    : doc_(doc), picture_(std::move(picture)) {}

void ReportPainter::paintPage(QPainter& p, int index, double dotsPerMm) const {
    const ReportPage page = doc_.page(index);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const double bandWidth = kBandWidthMm * dotsPerMm;
    // A page uses a handful of text styles: each is resolved against the device once, and
    // the painter's font and pen change only between styles.
    struct Style {
        const ReportText* like;
        QFont font;
        QFontMetricsF metrics;
    };
    std::vector<Style> styles;
    std::size_t current = SIZE_MAX;
    auto styleOf = [&](const ReportText& t) {
        for (std::size_t i = 0; i < styles.size(); ++i) {
            const ReportText& o = *styles[i].like;
            if (o.points == t.points && o.bold == t.bold && o.underline == t.underline)
                return i;
        }
        QFont f(reportFont(t), p.device());
        styles.push_back({&t, f, QFontMetricsF(f, p.device())});
        return styles.size() - 1;
    };
    QColor pen = Qt::black;
    p.setPen(pen);
    for (const PlacedBand& placed : page.bands) {
        const ReportBand& band = *placed.band;
        const double bandTop = placed.top * dotsPerMm;
        if (band.picture && band.picture->testCurve) {
            // The band's test's own curve, in labels of 7 points.
            const ReportPictureBox& b = *band.picture;
            const ResultsReportData* results = doc_.results();
            if (results && placed.record >= 0 && placed.record < doc_.recordCount()) {
                const QRectF box(b.left * dotsPerMm, bandTop + b.top * dotsPerMm,
                                 b.width * dotsPerMm, b.height * dotsPerMm);
                const auto test = static_cast<std::size_t>(placed.record);
                QFont labels(QStringLiteral("Arial"));
                labels.setPointSizeF(7);
                paintTestCurve(p, box,
                               layoutTestCurve(results->curve(test), results->tests[test],
                                               static_cast<int>(box.width())),
                               labels);
            }
        } else if (band.picture && !picture_.isNull()) {
            const ReportPictureBox& b = *band.picture;
            p.drawImage(QRectF(b.left * dotsPerMm, bandTop + b.top * dotsPerMm, b.width * dotsPerMm,
                               b.height * dotsPerMm),
                        picture_);
        }
        for (const ReportText& item : band.texts) {
            const QString text = doc_.text(item, placed, page.number);
            if (text.isEmpty())
                continue;
            const std::size_t at = styleOf(item);
            const Style& style = styles[at];
            if (at != current) {
                p.setFont(style.font);
                current = at;
            }
            const QColor colour = colourOf(doc_.colorOf(item, placed));
            if (colour != pen) {
                p.setPen(colour);
                pen = colour;
            }
            const double x = item.centred ? (bandWidth - style.metrics.horizontalAdvance(text)) / 2
                                          : item.left * dotsPerMm;
            const double y = bandTop + item.top * dotsPerMm + style.metrics.ascent();
            p.drawText(QPointF(x, y), text);
        }
    }
    p.restore();
}

QImage ReportPainter::renderPage(int index, double dotsPerMm) const {
    const QSize size(qRound(kPageWidthMm * dotsPerMm), qRound(kPageHeightMm * dotsPerMm));
    QImage image(size, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(dotsPerMm * 1000);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter p(&image);
    p.translate(kMarginMm * dotsPerMm, kMarginMm * dotsPerMm);
    paintPage(p, index, dotsPerMm);
    return image;
}

Result<SaveOutcome> ReportPainter::paintPages(QPainter& p, int first, int last, double dotsPerMm,
                                              const std::function<bool()>& newPage,
                                              const ReportProgress& progress) const {
    const int total = last - first + 1;
    const KeepFreedMemory keep;
    for (int i = first; i <= last; ++i) {
        if (i > first && !newPage())
            return fail(QStringLiteral("Cannot start page %1").arg(i + 1));
        paintPage(p, i, dotsPerMm);
        if (progress && !progress(i - first + 1, total))
            return SaveOutcome::Cancelled;
    }
    return SaveOutcome::Saved;
}

Result<SaveOutcome> ReportPainter::print(QPrinter& printer, const ReportProgress& progress) const {
    printer.setPageLayout(a4Layout());
    int first = 0;
    int last = doc_.pageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::clamp(printer.fromPage() - 1, 0, last);
        last = std::clamp(printer.toPage() > 0 ? printer.toPage() - 1 : last, first, last);
    }
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    QPainter p;
    if (!p.begin(&printer))
        return fail(QStringLiteral("Cannot print on %1")
                        .arg(printer.printerName().isEmpty() ? printer.outputFileName()
                                                             : printer.printerName()));
    const double dotsPerMm = printer.resolution() / 25.4;
    const int pagesPerCopy = last - first + 1;
    Result<SaveOutcome> r = SaveOutcome::Saved;
    for (int c = 0; c < copies && r && r.value() == SaveOutcome::Saved; ++c) {
        if (c > 0 && !printer.newPage()) {
            r = fail(QStringLiteral("Cannot start a new copy"));
            break;
        }
        r = paintPages(
            p, first, last, dotsPerMm, [&] { return printer.newPage(); },
            [&](int done, int) {
                return !progress || progress(c * pagesPerCopy + done, copies * pagesPerCopy);
            });
    }
    if (!r || r.value() == SaveOutcome::Cancelled)
        printer.abort();
    p.end();
    return r;
}

Result<SaveOutcome> ReportPainter::savePdf(const QString& path,
                                           const ReportProgress& progress) const {
    Result<std::unique_ptr<ReportFile>> file = ReportFile::begin(path);
    if (!file)
        return fail(file.error());
    Result<SaveOutcome> r = SaveOutcome::Saved;
    {
        QPdfWriter writer(&file.value()->device());
        writer.setResolution(600);
        writer.setPageLayout(a4Layout());
        writer.setCreator(QStringLiteral("kxlink"));
        if (const ReportBand* h = doc_.layout().band(BandKind::PageHeader); h && !h->texts.empty())
            writer.setTitle(h->texts.front().text.trimmed());
        QPainter p;
        if (!p.begin(&writer)) {
            if (Status s = file.value()->status(); !s)
                return fail(s.error());
            return fail(QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(path)));
        }
        r = paintPages(
            p, 0, doc_.pageCount() - 1, writer.resolution() / 25.4,
            [&] { return writer.newPage(); }, progress);
        p.end(); // writes the document's tail
    }
    // The PDF engine does not look at what its writes returned: the file remembers.
    if (Status s = file.value()->status(); !s)
        return fail(s.error());
    if (!r || r.value() == SaveOutcome::Cancelled)
        return r;
    if (Status s = file.value()->finish(); !s)
        return fail(s.error());
    return SaveOutcome::Saved;
}

Result<SaveOutcome> ReportPainter::save(const QString& path, ReportFileKind kind,
                                        const ReportProgress& progress) const {
    if (kind == ReportFileKind::Pdf)
        return savePdf(path, progress);
    return saveReportText(doc_, kind, path, progress);
}

Result<QImage> loadReportPicture(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return fail(QStringLiteral("Cannot load the picture %1: %2")
                        .arg(QDir::toNativeSeparators(path), reader.errorString()));
    return image;
}

Result<DrawableReport> prepareDrawableReport(ReportKind kind, const ReadingsTable* table,
                                             ReportState& state, QDate date) {
    Result<ReportDocument> doc = prepareReport(kind, table, state, date);
    if (!doc)
        return fail(doc.error());
    QImage picture;
    if (reportNeedsPicture(kind)) {
        Result<QImage> loaded = loadReportPicture(state.GraphPicturePath);
        if (!loaded)
            return fail(loaded.error());
        picture = loaded.take();
    }
    return DrawableReport{doc.take(), std::move(picture)};
}

QStringList pictureFileFilters() {
    std::set<QString> formats;
    for (const QByteArray& f : QImageReader::supportedImageFormats())
        formats.insert(QString::fromLatin1(f).toLower());
    QStringList all;
    for (const QString& f : formats)
        all << QStringLiteral("*.") + f;
    QStringList filters{QStringLiteral("All pictures (%1)").arg(all.join(QLatin1Char(' ')))};
    struct Kind {
        const char* name;
        std::vector<const char*> suffixes;
    };
    const Kind kinds[] = {
        {"Bitmaps", {"bmp"}},
        {"Icons", {"ico", "cur"}},
        {"PNG images", {"png"}},
        {"JPEG images", {"jpg", "jpeg"}},
        {"SVG pictures", {"svg", "svgz"}},
        {"GIF images", {"gif"}},
    };
    for (const Kind& k : kinds) {
        QStringList present;
        for (const char* s : k.suffixes) {
            if (formats.count(QString::fromLatin1(s)))
                present << QStringLiteral("*.") + QLatin1String(s);
        }
        if (!present.isEmpty())
            filters << QStringLiteral("%1 (%2)").arg(QLatin1String(k.name),
                                                     present.join(QLatin1Char(' ')));
    }
    filters << QStringLiteral("All files (*)");
    return filters;
}

} // namespace kx
