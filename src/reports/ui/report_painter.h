#pragma once

#include "common/result.h"
#include "reports/report_document.h"
#include "reports/report_export.h"

#include <QImage>
#include <QStringList>

class QPainter;
class QPrinter;

namespace kx {

// Draws report pages. The preview's screen image, the printer and PDF files all come from
// paintPage(), so what the preview shows is what prints.
class ReportPainter {
public:
    // `picture` is the graph reports' picture, already loaded (null for the others).
    ReportPainter(const ReportDocument& doc, QImage picture = {});

    const ReportDocument& document() const { return doc_; }
    const QImage& picture() const { return picture_; }

    // Draws page `index` (from 0) with the printable area's top-left corner at the painter's
    // origin, at `dotsPerMm` device pixels a millimetre. Fonts are resolved against the
    // painter's device, so point sizes come out right on any of them.
    void paintPage(QPainter& p, int index, double dotsPerMm) const;
    // The whole sheet as an image of white paper with the page inside its margins.
    QImage renderPage(int index, double dotsPerMm) const;

    // Prints the pages the printer's range names (all when it names none), each copy in turn
    // when the printer cannot make copies itself.
    Result<SaveOutcome> print(QPrinter& printer, const ReportProgress& progress = {}) const;
    // A4 PDF with 10 mm margins, through a temporary file renamed into place.
    Result<SaveOutcome> savePdf(const QString& path, const ReportProgress& progress = {}) const;
    // Any of the kinds a report is saved as.
    Result<SaveOutcome> save(const QString& path, ReportFileKind kind,
                             const ReportProgress& progress = {}) const;

private:
    Result<SaveOutcome> paintPages(QPainter& p, int first, int last, double dotsPerMm,
                                   const std::function<bool()>& newPage,
                                   const ReportProgress& progress) const;

    const ReportDocument& doc_;
    QImage picture_;
};

// Loads a picture for the graph reports; the failure carries the loader's reason.
Result<QImage> loadReportPicture(const QString& path);

// A report ready to be drawn: the document and, for the graph reports, its picture loaded.
struct DrawableReport {
    ReportDocument document;
    QImage picture;
};
// The report command as both front ends run it: prepareReport, then the picture loaded. A
// picture that does not load is refused with the loader's reason, and nothing is drawn.
Result<DrawableReport> prepareDrawableReport(ReportKind kind, const ReadingsTable* table,
                                             ReportState& state, QDate date);

// The picture dialog's filters: every kind this machine's image readers load, then one
// filter per common kind present, then all files.
QStringList pictureFileFilters();

} // namespace kx
