#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace kx {

// The printed reports. Each is a fixed page layout: bands stacked down an A4 page, their
// contents placed in millimetres. The layouts are plain data here; the page painter and the
// text exports read them, so what is previewed, printed and saved comes from one description.

enum class ReportKind {
    Data,      // live readings
    Store,     // stored readings
    Graph,     // one picture
    DataGraph, // live readings followed by a picture
    Results,   // insulation tests: the asset's details, then a block per test
};

// Page geometry shared by every report, in millimetres.
inline constexpr double kPageWidthMm = 210.0;
inline constexpr double kPageHeightMm = 297.0;
inline constexpr double kMarginMm = 10.0;
inline constexpr double kBandWidthMm = kPageWidthMm - 2 * kMarginMm;        // 190
inline constexpr double kPrintableHeightMm = kPageHeightMm - 2 * kMarginMm; // 277

// The core names colours; the painter maps them. ByVerdict is the colour of the verdict of the
// band's test: green for a pass, red for a fail, grey otherwise (ReportDocument::colorOf).
enum class ReportColor { Black, Blue, Green, Red, Grey, ByVerdict };

// One text of a band, positioned from the band's top-left corner.
struct ReportText {
    enum class Source {
        Literal,    // `text`
        Field,      // the record's field `field`, in its display form
        PrintDate,  // the report's date
        PageNumber, // this page's number
        PageTotal,  // the total the report was given before its preview
        Result,     // the figure `field` names of the band's test (insulation test report)
        Detail,     // the test details' entry `field` names (insulation test report)
    };
    Source source = Source::Literal;
    QString text;
    QByteArray field;
    // Field texts: which of the six readings fields (ReadingsField) `field` is, so that a
    // table of the other kind, whose names differ, prints the same columns.
    int role = -1;
    double left = 0; // mm
    double top = 0;  // mm
    double points = 10;
    bool bold = false;
    bool underline = false;
    ReportColor color = ReportColor::Black;
    bool centred = false; // across the band's width; `left` is then ignored
    // What the comma-separated text writes instead, when a spreadsheet would misread the
    // printed form: the literal `csvText`, or the figure `csvField` names ("600" seconds
    // where the page says "10:00", which a spreadsheet takes for a time of day).
    QString csvText;
    QByteArray csvField;
};

// The report's picture, stretched into this box of its band.
struct ReportPictureBox {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool testCurve = false; // the R(t) curve of the band's test instead of the picture
};

enum class BandKind { PageHeader, Title, ColumnHeader, Detail, Summary, PageFooter };

struct ReportBand {
    BandKind kind = BandKind::Detail;
    double height = 0; // mm
    std::vector<ReportText> texts;
    std::optional<ReportPictureBox> picture;
    // The text exports give the band one line for each top its texts stand at, rather than
    // one line for the band.
    bool lines = false;
};

struct ReportLayout {
    ReportKind kind = ReportKind::Data;
    // A report bound to a table prints one detail band per record; the graph report prints
    // its detail band once.
    bool boundToTable = true;
    std::vector<ReportBand> bands; // at most one of each kind
    // The band of this kind, or null.
    const ReportBand* band(BandKind kind) const;
};

// The layout of a report, built once.
const ReportLayout& reportLayout(ReportKind kind);

// Tenths of a millimetre: page arithmetic is done in whole numbers so that 37 rows of 6.6 mm
// fit exactly where they should.
inline int tenthsOfMm(double mm) {
    return static_cast<int>(mm * 10.0 + (mm >= 0 ? 0.5 : -0.5));
}

} // namespace kx
