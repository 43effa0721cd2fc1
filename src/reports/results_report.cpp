#include "reports/results_report.h"

#include "analysis/live_results.h"
#include "common/cp936.h"
#include "readings/readings_table.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>

namespace kx {
namespace {

// Line `n` (from 0) of the notes, cut to what a line of the page holds.
QString notesLine(const QString& notes, int n) {
    constexpr int kLineChars = 110;
    const QStringList lines = notes.split(QLatin1Char('\n'));
    if (n >= lines.size())
        return {};
    QString line = lines[n];
    const bool more = n == 1 && lines.size() > 2;
    if (line.size() > kLineChars || more)
        line = line.left(kLineChars - 1) + QStringLiteral("\u2026");
    return line;
}

QString summaryText(const ResultsReportData& d) {
    if (d.tests.empty())
        return QStringLiteral("No insulation tests were found in this table.");
    std::array<int, 3> verdicts{}; // pass, fail, inconclusive
    for (std::size_t i = 0; i < d.tests.size(); ++i) {
        if (static_cast<int>(i) != d.runningIndex)
            ++verdicts[static_cast<std::size_t>(d.tests[i].verdict)];
    }
    QStringList parts;
    parts << QStringLiteral("%1 passed").arg(verdicts[0])
          << QStringLiteral("%1 failed").arg(verdicts[1]);
    if (verdicts[2])
        parts << QStringLiteral("%1 inconclusive").arg(verdicts[2]);
    if (d.runningIndex >= 0)
        parts << QStringLiteral("1 in progress");
    const QString count = d.tests.size() == 1 ? QStringLiteral("1 test")
                                              : QStringLiteral("%1 tests").arg(d.tests.size());
    return count + QStringLiteral(": ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
}

QString detailText(const ResultsReportData& d, const QByteArray& key) {
    const TestDetails& t = d.details;
    const ResultSettings& s = t.settings;
    if (key == "table")
        return d.tableName;
    if (key == "asset")
        return t.asset;
    if (key == "location")
        return t.location;
    if (key == "operator")
        return t.operatorName;
    if (key == "humidity")
        return t.humidity;
    if (key == "temperature")
        return s.temperature ? celsiusText(*s.temperature) : QStringLiteral("not given");
    if (key == "base")
        return celsiusText(s.baseTemperature);
    if (key == "minimum")
        return ohmsText(s.minimumOhms);
    if (key == "piMinimum")
        return QString::number(s.piMinimum, 'f',
                               s.piMinimum == std::round(s.piMinimum * 10) / 10 ? 1 : 2);
    if (key == "notes1")
        return notesLine(t.notes, 0);
    if (key == "notes2")
        return notesLine(t.notes, 1);
    if (key == "summary")
        return summaryText(d);
    return {};
}

QString resultText(const ResultsReportData& d, std::size_t i, const QByteArray& key) {
    const InsulationResult& r = d.tests[i];
    const bool running = static_cast<int>(i) == d.runningIndex;
    if (key == "test")
        return QStringLiteral("Test %1").arg(r.test);
    if (key == "mode")
        return fromCp936(QByteArrayView(r.mode));
    if (key == "function")
        return fromCp936(QByteArrayView(r.function));
    if (key == "start")
        return startText(r.startMs);
    if (key == "duration")
        return elapsedText(r.duration) + (running ? QStringLiteral(" so far") : QString());
    if (key == "seconds")
        return QString::number(std::round(r.duration * 1000) / 1000, 'g', 15);
    if (key == "records")
        return QStringLiteral("No %1 to %2").arg(r.first).arg(r.last);
    if (key == "verdict")
        return verdictShown(r, running);
    static constexpr std::array<std::pair<const char*, ResultFigure>, 9> kFigures = {{
        {"voltage", ResultFigure::Voltage},
        {"r15", ResultFigure::R15},
        {"r30", ResultFigure::R30},
        {"r60", ResultFigure::R60},
        {"r600", ResultFigure::R600},
        {"dar", ResultFigure::Dar},
        {"dar15", ResultFigure::Dar15},
        {"pi", ResultFigure::Pi},
        {"corrected", ResultFigure::Corrected},
    }};
    for (const auto& [name, figure] : kFigures) {
        if (key == name)
            return resultFigureText(r, figure, running);
    }
    if (key == "correctedLabel")
        return QStringLiteral("R60 at %1").arg(celsiusText(r.baseTemperature));
    if (key.startsWith("reason")) {
        const int n = key.mid(6).toInt() - 1;
        const QStringList reasons = reasonsShown(r, running);
        // A bullet no spreadsheet reads as the start of a formula, as "- " would be.
        return n >= 0 && n < reasons.size() ? QStringLiteral("\u2022 ") + reasons[n] : QString();
    }
    return {};
}

QString svgNumber(double v) {
    return QString::number(v, 'f', 2);
}

// The live table as the report names it: its file, or for the program's scratch table the
// file it was last saved as, and what has come since.
QString recordingName(const TestResults& results, const ReadingsTable& table) {
    if (!results.scratch())
        return QDir::toNativeSeparators(table.filePath());
    if (results.savedPath().isEmpty())
        return QStringLiteral("the recording in progress (not saved)");
    const QString saved = QDir::toNativeSeparators(results.savedPath());
    const qint64 since = table.rowCount() - results.rowsSaved();
    if (since <= 0)
        return saved;
    return QStringLiteral("%1 and %2 reading%3 recorded since (not saved)")
        .arg(saved)
        .arg(since)
        .arg(since == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

std::vector<CurvePoint> ResultsReportData::curve(std::size_t test) const {
    if (test < curves.size())
        return curves[test];
    if (table && columns && test < tests.size() && table->isOpen())
        return testCurve(table->records(), *columns, tests[test]);
    return {};
}

std::shared_ptr<const ResultsReportData> resultsReportOf(TestResults& results,
                                                         const ReadingsTable& table) {
    auto d = std::make_shared<ResultsReportData>();
    results.flush();
    d->details = results.details();
    d->tableName = recordingName(results, table);
    const int n = results.count();
    for (int i = 0; i < n; ++i) {
        d->tests.push_back(results.test(i));
        d->curves.push_back(results.curve(i));
        if (results.isRunning(i))
            d->runningIndex = i;
    }
    return d;
}

Result<std::shared_ptr<const ResultsReportData>>
resultsReportOf(const ReadingsTable& table, const TestDetails& details, bool storeNamesFirst) {
    Result<TableResults> found = resultsOfTable(table, details, storeNamesFirst);
    if (!found)
        return fail(found.error());
    auto d = std::make_shared<ResultsReportData>();
    d->tableName = table.tableName().isEmpty() ? QStringLiteral("(no file)")
                                               : QDir::toNativeSeparators(table.filePath());
    d->details = details;
    d->tests = found.take().tests;
    d->table = &table;
    d->columns = ReadingsColumns::find(table.fields(), storeNamesFirst).value();
    return std::shared_ptr<const ResultsReportData>(std::move(d));
}

QString resultsReportText(const ResultsReportData& data, ReportText::Source source, qint64 test,
                          const QByteArray& key) {
    if (source == ReportText::Source::Detail)
        return detailText(data, key);
    if (test < 0 || static_cast<std::size_t>(test) >= data.tests.size())
        return {};
    return resultText(data, static_cast<std::size_t>(test), key);
}

ReportColor resultsVerdictColor(const ResultsReportData& data, qint64 test) {
    if (test < 0 || static_cast<std::size_t>(test) >= data.tests.size())
        return ReportColor::Black;
    switch (data.tests[static_cast<std::size_t>(test)].verdict) {
    case Verdict::Pass:
        return ReportColor::Green;
    case Verdict::Fail:
        return ReportColor::Red;
    case Verdict::Inconclusive:
        break;
    }
    return ReportColor::Grey;
}

QString testCurveSvg(const TestCurveLayout& l, double widthMm, double heightMm) {
    constexpr double h = 2.6; // text height in mm
    const QRectF plot = curvePlotArea(QRectF(0, 0, widthMm, heightMm), h);
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1mm\" "
                                 "height=\"%2mm\" viewBox=\"0 0 %1 %2\" font-family=\"Arial, "
                                 "'Liberation Sans', sans-serif\" font-size=\"%3\">")
                      .arg(svgNumber(widthMm), svgNumber(heightMm), svgNumber(h));
    auto line = [&](QPointF a, QPointF b, const char* style) {
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" %5/>")
                   .arg(svgNumber(a.x()), svgNumber(a.y()), svgNumber(b.x()), svgNumber(b.y()),
                        QLatin1String(style));
    };
    auto text = [&](QPointF at, const QString& t, const char* anchor) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>")
                   .arg(svgNumber(at.x()), svgNumber(at.y()), QLatin1String(anchor),
                        t.toHtmlEscaped());
    };
    for (const CurveTick& t : l.yTicks) {
        const QPointF a = curvePlotPoint(plot, {0, t.at});
        line(a, curvePlotPoint(plot, {1, t.at}), "stroke=\"#d0d0d0\" stroke-width=\"0.15\"");
        text(a + QPointF(-0.6 * h, 0.35 * h), t.label, "end");
    }
    // A label centred on its place unless that would take it past the picture's edge: then it
    // ends (or starts) at the edge, as the page painter keeps it inside its box. The width is
    // a generous guess at the letters' width; the anchor keeps the edge exact.
    struct Placed {
        double x;
        const char* anchor;
    };
    auto inside = [&](double centre, const QString& label) {
        const double w = 0.6 * h * label.size();
        if (centre + w / 2 > widthMm)
            return Placed{widthMm, "end"};
        if (centre - w / 2 < 0)
            return Placed{0, "start"};
        return Placed{centre, "middle"};
    };
    for (const CurveTick& t : l.xTicks) {
        const QPointF a = curvePlotPoint(plot, {t.at, 0});
        line(a, a + QPointF(0, 0.4 * h), "stroke=\"#808080\" stroke-width=\"0.2\"");
        const Placed p = inside(a.x(), t.label);
        text(QPointF(p.x, a.y() + 1.5 * h), t.label, p.anchor);
    }
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" "
                          "stroke=\"#808080\" stroke-width=\"0.2\"/>")
               .arg(svgNumber(plot.x()), svgNumber(plot.y()), svgNumber(plot.width()),
                    svgNumber(plot.height()));
    text(QPointF(plot.left() - 0.6 * h, plot.top() - 0.6 * h), l.unit, "end");
    std::vector<std::pair<double, double>> spans;
    for (const CurveMark& m : l.marks) {
        const QPointF top = curvePlotPoint(plot, {m.x, 1});
        line(top, curvePlotPoint(plot, {m.x, 0}),
             "stroke=\"#c06000\" stroke-width=\"0.15\" stroke-dasharray=\"0.8,0.6\"");
        const double w = 0.5 * h * m.label.size(); // about the width of the label's letters
        const double x = std::clamp(top.x() - w / 2, 0.0, std::max(0.0, widthMm - w));
        spans.emplace_back(x, x + w);
    }
    const std::vector<int> rows = markLabelRows(l.marks, spans, 0.3 * h);
    for (std::size_t i = 0; i < l.marks.size(); ++i) {
        if (rows[i] < 0)
            continue;
        const Placed p = inside((spans[i].first + spans[i].second) / 2, l.marks[i].label);
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%4\" "
                              "fill=\"#c06000\">%3</text>")
                   .arg(svgNumber(p.x), svgNumber(plot.top() - 0.4 * h - rows[i] * h),
                        l.marks[i].label.toHtmlEscaped(), QLatin1String(p.anchor));
    }
    if (l.hasCurve()) {
        svg += QStringLiteral("<polyline fill=\"none\" stroke=\"#0000c0\" stroke-width=\"0.35\" "
                              "points=\"");
        for (const QPointF& f : l.line) {
            const QPointF p = curvePlotPoint(plot, f);
            svg += svgNumber(p.x()) + QLatin1Char(',') + svgNumber(p.y()) + QLatin1Char(' ');
        }
        svg += QStringLiteral("\"/>");
    }
    for (const CurveMark& m : l.marks) {
        if (!m.y)
            continue;
        const QPointF p = curvePlotPoint(plot, {m.x, *m.y});
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"0.9\" fill=\"#e06000\"/>")
                   .arg(svgNumber(p.x()), svgNumber(p.y()));
    }
    svg += QStringLiteral("</svg>");
    return svg;
}

} // namespace kx
