#include "reports/report_layout.h"

#include "readings/readings_schema.h"

#include <array>

namespace kx {
namespace {

ReportText label(const char* text, double left, double top, double points = 10) {
    ReportText t;
    t.text = QString::fromLatin1(text);
    t.left = left;
    t.top = top;
    t.points = points;
    return t;
}

ReportText field(const char* name, double left, double top = 2.1) {
    ReportText t;
    t.source = ReportText::Source::Field;
    t.field = name;
    t.left = left;
    t.top = top;
    return t;
}

ReportText title(const char* text, double top) {
    ReportText t = label(text, 0, top, 14);
    t.bold = true;
    t.underline = true;
    t.color = ReportColor::Blue;
    t.centred = true;
    return t;
}

ReportBand pageHeader(const char* titleText, double titleTop) {
    ReportBand b{BandKind::PageHeader, 10.6, {}, std::nullopt};
    b.texts.push_back(title(titleText, titleTop));
    b.texts.push_back(label("Print Date:", 158.8, 5.3, 7));
    ReportText date = label("", 171.4, 5.3, 7);
    date.source = ReportText::Source::PrintDate;
    b.texts.push_back(date);
    return b;
}

// Column titles at the given positions, 10 pt, top 4.2.
ReportBand columnHeader(double height, std::vector<std::pair<const char*, double>> titles) {
    ReportBand b{BandKind::ColumnHeader, height, {}, std::nullopt};
    for (const auto& [text, left] : titles)
        b.texts.push_back(label(text, left, 4.2));
    return b;
}

// The six readings fields of the live table or the stored one, in their table order, at
// these positions.
ReportBand detail(bool store, std::array<double, kReadingsFieldCount> lefts) {
    ReportBand b{BandKind::Detail, 6.6, {}, std::nullopt};
    const std::array<const char*, kReadingsFieldCount> names = readingsFieldNames(store);
    for (std::size_t k = 0; k < names.size(); ++k) {
        b.texts.push_back(field(names[k], lefts[k]));
        b.texts.back().role = static_cast<int>(k);
    }
    return b;
}

// "The Page n Of total".
ReportBand numberedFooter() {
    ReportBand b{BandKind::PageFooter, 10.6, {}, std::nullopt};
    b.texts.push_back(label("The Page", 8.5, 4.2));
    ReportText number = label("", 24.3, 4.2, 8);
    number.source = ReportText::Source::PageNumber;
    number.color = ReportColor::Blue;
    b.texts.push_back(number);
    b.texts.push_back(label("Of", 31.8, 4.2));
    ReportText total = label("", 37.0, 4.2, 9);
    total.source = ReportText::Source::PageTotal;
    total.color = ReportColor::Blue;
    b.texts.push_back(total);
    return b;
}

ReportLayout dataLayout() {
    ReportLayout l;
    l.kind = ReportKind::Data;
    l.bands = {
        pageHeader(" TEST DATA REPORT", 2.1),
        columnHeader(10.6, {{"No", 8.5},
                            {"Time", 33.9},
                            {"Value", 64.3},
                            {"Unit", 99.5},
                            {"Function", 123.8},
                            {"Remark", 163.0}}),
        detail(false, {8.5, 33.9, 65.6, 99.5, 123.8, 164.0}),
        numberedFooter(),
    };
    return l;
}

ReportLayout storeLayout() {
    ReportLayout l;
    l.kind = ReportKind::Store;
    l.bands = {
        pageHeader("PW60 STORE DATA REPORT", 1.1),
        columnHeader(10.6, {{"No", 8.5},
                            {"Time", 33.9},
                            {"Value", 64.3},
                            {"Unit", 99.5},
                            {"V_Range", 132.3},
                            {"I_Range", 163.0}}),
        detail(true, {8.5, 33.9, 65.6, 99.5, 132.3, 163.0}),
        numberedFooter(),
    };
    return l;
}

ReportLayout graphLayout() {
    ReportLayout l;
    l.kind = ReportKind::Graph;
    l.boundToTable = false;
    ReportBand picture{BandKind::Detail, 156.6, {}, ReportPictureBox{2.1, 6.3, 181.2, 151.6}};
    l.bands = {
        pageHeader("PW60 GRAPH REPORT", 3.2),
        columnHeader(5.0, {{"V_Range", 132.3}, {"I_Range", 163.0}}),
        picture,
    };
    return l;
}

ReportLayout dataGraphLayout() {
    ReportLayout l;
    l.kind = ReportKind::DataGraph;
    l.bands = {
        pageHeader("PW60 TEST DATA+GRAPH  REPORT", 2.1),
        ReportBand{BandKind::Title, 0.3, {}, std::nullopt},
        columnHeader(10.6, {{"No", 8.5},
                            {"Time", 33.9},
                            {"Value", 64.3},
                            {"Unit", 99.5},
                            {"V_Range", 132.3},
                            {"I_Range", 163.0}}),
        detail(false, {8.5, 33.9, 65.6, 99.5, 132.3, 163.0}),
        ReportBand{BandKind::Summary, 91.3, {}, ReportPictureBox{7.4, 9.5, 143.1, 77.5}},
        ReportBand{BandKind::PageFooter, 9.8, {}, std::nullopt}, // no page numbers
    };
    return l;
}

// An entry of the insulation test report: the figure `key` of the band's test, or the
// details' entry `key`.
ReportText entry(ReportText::Source source, const char* key, double left, double top,
                 double points = 10) {
    ReportText t = label("", left, top, points);
    t.source = source;
    t.field = key;
    return t;
}

ReportLayout resultsLayout() {
    using S = ReportText::Source;
    ReportLayout l;
    l.kind = ReportKind::Results;

    // The details, first page only: two columns of label and entry.
    ReportBand details{BandKind::Title, 44.0, {}, std::nullopt};
    details.lines = true;
    struct Row {
        double top;
        const char* label;
        const char* key;
        double at;
        const char* label2;
        const char* key2;
        double at2;
    };
    const std::array<Row, 5> rows = {{
        {1.0, "Table:", "table", 28, nullptr, nullptr, 0},
        {6.5, "Asset:", "asset", 28, "Location:", "location", 128},
        {12.0, "Operator:", "operator", 28, "Humidity:", "humidity", 128},
        {17.5, "Winding temperature:", "temperature", 40, "Base temperature:", "base", 135},
        {23.0, "Minimum R60:", "minimum", 40, "PI minimum:", "piMinimum", 135},
    }};
    for (const Row& r : rows) {
        details.texts.push_back(label(r.label, 0, r.top));
        details.texts.push_back(entry(S::Detail, r.key, r.at, r.top));
        if (r.label2) {
            details.texts.push_back(label(r.label2, 100, r.top));
            details.texts.push_back(entry(S::Detail, r.key2, r.at2, r.top));
        }
    }
    details.texts.push_back(label("Notes:", 0, 28.5));
    details.texts.push_back(entry(S::Detail, "notes1", 28, 28.5));
    details.texts.push_back(entry(S::Detail, "notes2", 28, 33.5));
    ReportText summary = entry(S::Detail, "summary", 0, 38.5);
    summary.bold = true;
    details.texts.push_back(summary);

    // One block a test: what it was, its verdict in large type, the figures beside the
    // curve, then the reasons.
    ReportBand test{BandKind::Detail, 100.0, {}, ReportPictureBox{74, 14, 116, 56, true}};
    test.lines = true;
    ReportText name = entry(S::Result, "test", 0, 2.0, 12);
    name.bold = true;
    name.color = ReportColor::Blue;
    test.texts.push_back(name);
    test.texts.push_back(entry(S::Result, "mode", 24, 2.0));
    test.texts.push_back(entry(S::Result, "function", 48, 2.0));
    test.texts.push_back(label("Start", 100, 2.0));
    test.texts.push_back(entry(S::Result, "start", 112, 2.0));
    ReportText durationLabel = label("Duration", 148, 2.0);
    durationLabel.csvText = QStringLiteral("Duration (s)");
    test.texts.push_back(durationLabel);
    ReportText duration = entry(S::Result, "duration", 167, 2.0);
    duration.csvField = "seconds";
    test.texts.push_back(duration);
    ReportText verdict = entry(S::Result, "verdict", 0, 8.0, 16);
    verdict.bold = true;
    verdict.color = ReportColor::ByVerdict;
    test.texts.push_back(verdict);
    const std::array<std::pair<const char*, const char*>, 8> figures = {{
        {"Test voltage", "voltage"},
        {"R15", "r15"},
        {"R30", "r30"},
        {"R60", "r60"},
        {"R600", "r600"},
        {"DAR", "dar"},
        {"DAR15", "dar15"},
        {"PI", "pi"},
    }};
    double top = 17.0;
    for (const auto& [caption, key] : figures) {
        test.texts.push_back(label(caption, 0, top));
        test.texts.push_back(entry(S::Result, key, 36, top));
        top += 5.5;
    }
    test.texts.push_back(entry(S::Result, "correctedLabel", 0, top));
    test.texts.push_back(entry(S::Result, "corrected", 36, top));
    for (int n = 1; n <= 4; ++n) {
        static constexpr std::array<const char*, 4> kReasons = {"reason1", "reason2", "reason3",
                                                                "reason4"};
        test.texts.push_back(
            entry(S::Result, kReasons[std::size_t(n - 1)], 0, 67.0 + 5.5 * n, 8.5));
    }

    l.bands = {
        pageHeader("INSULATION TEST REPORT", 2.1),
        details,
        test,
        numberedFooter(),
    };
    return l;
}

} // namespace

const ReportBand* ReportLayout::band(BandKind k) const {
    for (const ReportBand& b : bands) {
        if (b.kind == k)
            return &b;
    }
    return nullptr;
}

const ReportLayout& reportLayout(ReportKind kind) {
    static const ReportLayout layouts[] = {dataLayout(), storeLayout(), graphLayout(),
                                           dataGraphLayout(), resultsLayout()};
    return layouts[static_cast<int>(kind)];
}

} // namespace kx
