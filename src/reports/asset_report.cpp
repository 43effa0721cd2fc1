#include "reports/asset_report.h"

#include "analysis/live_results.h"
#include "exports/readings_exports.h"
#include "reports/report_export.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace kx {
namespace {

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

QString num(double v, int decimals = 2) {
    return QString::number(v, 'f', decimals);
}

// A decade's label: "1 MΩ", "10 MΩ", "100 GΩ".
QString decadeText(int exponent) {
    static const char* const kPrefixes[] = {"", "k", "M", "G", "T"};
    const int group = std::clamp(exponent / 3, 0, 4);
    const double shownValue = std::pow(10.0, exponent - 3 * group);
    return QStringLiteral("%1 %2\u03A9").arg(shownValue).arg(QLatin1String(kPrefixes[group]));
}

QString optionalOhms(const std::optional<double>& ohms) {
    return ohms ? ohmsText(*ohms) : QStringLiteral("\u2013");
}

QString optionalRatio(const std::optional<double>& r) {
    return r ? ratioText(*r) : QStringLiteral("\u2013");
}

// Whether the filed test is marked as a sharp drop in the trend.
bool sharpDrop(const AssetReportData& data, const FiledTest& t) {
    return std::any_of(data.trend.points.begin(), data.trend.points.end(),
                       [&](const TrendPoint& p) { return p.testId == t.id && p.sharpDrop; });
}

std::string utf8(const QString& s) {
    return s.toStdString();
}

void csvNumber(std::string& line, const std::optional<double>& v) {
    line += ',';
    if (v)
        line += QString::number(*v, 'g', 10).toStdString();
}

void csvText(std::string& line, const QString& s, bool first = false) {
    if (!first)
        line += ',';
    appendCsvText(line, utf8(s));
}

} // namespace

Result<AssetReportData> assetReportOf(AssetRegister& reg, const QString& tag) {
    Result<std::optional<Asset>> found = reg.asset(tag);
    if (!found)
        return fail(found.error());
    if (!found.value())
        return fail(
            QStringLiteral("There is no asset '%1' in %2").arg(tag, reg.location().shown()));
    Result<std::vector<FiledTest>> tests = reg.tests(tag);
    if (!tests)
        return fail(tests.error());
    Result<Trend> trend = reg.trend(tag);
    if (!trend)
        return fail(trend.error());
    AssetReportData d;
    d.asset = *found.value();
    d.tests = tests.take();
    d.trend = trend.take();
    return d;
}

QString assetTrendSvg(const AssetReportData& data, double widthMm, double heightMm) {
    const Trend& t = data.trend;
    // Plot areas in mm: the resistance above, the PI below, a margin for the labels.
    const double left = 20, right = widthMm - 4, top = 6;
    const double split = top + (heightMm - 16) * 0.62;
    const double piTop = split + 6, bottom = heightMm - 8;

    std::vector<const TrendPoint*> points;
    for (const TrendPoint& p : t.points) {
        if (p.testedAt.isValid())
            points.push_back(&p);
    }
    QDateTime from =
        points.empty() ? QDateTime(QDate::currentDate(), QTime(0, 0)) : points.front()->testedAt;
    QDateTime to = points.empty() ? from.addYears(1) : points.back()->testedAt;
    if (t.crossing && QDateTime(*t.crossing, QTime(0, 0)) > to)
        to = QDateTime(*t.crossing, QTime(12, 0));
    if (from.secsTo(to) < 86'400 * 30)
        to = from.addDays(30);
    const double span = static_cast<double>(from.secsTo(to));
    auto x = [&](const QDateTime& d) {
        return left + (right - left) * static_cast<double>(from.secsTo(d)) / span;
    };

    double lo = std::log10(t.minimumOhms), hi = lo;
    double piHi = t.piMinimum;
    for (const TrendPoint* p : points) {
        if (p->r60Corrected40 && *p->r60Corrected40 > 0) {
            lo = std::min(lo, std::log10(*p->r60Corrected40));
            hi = std::max(hi, std::log10(*p->r60Corrected40));
        }
        if (p->pi)
            piHi = std::max(piHi, *p->pi);
    }
    const int decLo = static_cast<int>(std::floor(lo));
    const int decHi = std::max(decLo + 1, static_cast<int>(std::ceil(hi)));
    auto y = [&](double ohms) {
        return split - (split - top) * (std::log10(ohms) - decLo) / (decHi - decLo);
    };
    piHi = std::ceil(piHi * 1.15 + 0.01);
    auto yPi = [&](double pi) {
        return bottom - (bottom - piTop) * std::clamp(pi, 0.0, piHi) / piHi;
    };

    QString s;
    s += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1mm\" height=\"%2mm\" "
                        "viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" font-size=\"3\">\n")
             .arg(num(widthMm), num(heightMm));
    s += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"white\"/>\n")
             .arg(num(widthMm), num(heightMm));
    auto line = [&](double x1, double y1, double x2, double y2, const char* style) {
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" %5/>\n")
                 .arg(num(x1), num(y1), num(x2), num(y2), QLatin1String(style));
    };
    auto text = [&](double tx, double ty, const QString& what, const char* anchor,
                    const char* fill = "black") {
        s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\" fill=\"%4\">%5</text>\n")
                 .arg(num(tx), num(ty), QLatin1String(anchor), QLatin1String(fill), esc(what));
    };
    // The frames and their axes.
    for (const auto& [t0, t1] : {std::pair{top, split}, std::pair{piTop, bottom}})
        s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" "
                            "stroke=\"#444\" stroke-width=\"0.25\"/>\n")
                 .arg(num(left), num(t0), num(right - left), num(t1 - t0));
    for (int d = decLo; d <= decHi; ++d) {
        const double yy = y(std::pow(10.0, d));
        line(left, yy, right, yy, "stroke=\"#ccc\" stroke-width=\"0.15\"");
        text(left - 1, yy + 1, decadeText(d), "end");
    }
    for (int k = 0; k <= static_cast<int>(piHi); ++k) {
        const double yy = yPi(k);
        line(left, yy, right, yy, "stroke=\"#eee\" stroke-width=\"0.15\"");
        text(left - 1, yy + 1, QString::number(k), "end");
    }
    text(left, top - 2, QStringLiteral("R60 at 40 \u00B0C"), "start");
    text(left, piTop - 1.5, QStringLiteral("PI"), "start");
    for (int year = from.date().year() + 1; year <= to.date().year(); ++year) {
        const double xx = x(QDateTime(QDate(year, 1, 1), QTime(0, 0)));
        line(xx, top, xx, split, "stroke=\"#eee\" stroke-width=\"0.15\"");
        line(xx, piTop, xx, bottom, "stroke=\"#eee\" stroke-width=\"0.15\"");
        text(xx, bottom + 4, QString::number(year), "middle");
    }
    // The minimums.
    line(left, y(t.minimumOhms), right, y(t.minimumOhms),
         "stroke=\"#c00\" stroke-width=\"0.3\" stroke-dasharray=\"2,1\"");
    text(right - 1, y(t.minimumOhms) - 1, QStringLiteral("minimum %1").arg(ohmsText(t.minimumOhms)),
         "end", "#c00");
    line(left, yPi(t.piMinimum), right, yPi(t.piMinimum),
         "stroke=\"#c00\" stroke-width=\"0.3\" stroke-dasharray=\"2,1\"");
    text(right - 1, yPi(t.piMinimum) - 1, QStringLiteral("minimum %1").arg(ratioText(t.piMinimum)),
         "end", "#c00");
    // The projection: from the last test to the crossing.
    const TrendPoint* last = nullptr;
    for (const TrendPoint* p : points) {
        if (p->r60Corrected40 && *p->r60Corrected40 > 0)
            last = p;
    }
    if (t.crossing && last) {
        const double cx = x(QDateTime(*t.crossing, QTime(12, 0)));
        line(x(last->testedAt), y(*last->r60Corrected40), cx, y(t.minimumOhms),
             "stroke=\"#e07000\" stroke-width=\"0.35\" stroke-dasharray=\"1,1\"");
        text(cx, y(t.minimumOhms) + 4, t.crossing->toString(Qt::ISODate), "middle", "#e07000");
    }
    // The points, joined in date order.
    QString path, piPath;
    for (const TrendPoint* p : points) {
        const double xx = x(p->testedAt);
        const char* fill = p->verdict == Verdict::Fail ? "#c00" : "#1565c0";
        if (p->r60Corrected40 && *p->r60Corrected40 > 0) {
            const double yy = y(*p->r60Corrected40);
            path +=
                QStringLiteral("%1%2,%3 ").arg(path.isEmpty() ? 'M' : 'L').arg(num(xx), num(yy));
            s += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"1\" fill=\"%3\"/>\n")
                     .arg(num(xx), num(yy), QLatin1String(fill));
            if (p->sharpDrop)
                s += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"2.2\" fill=\"none\" "
                                    "stroke=\"#c00\" stroke-width=\"0.4\"/>\n")
                         .arg(num(xx), num(yy));
        }
        if (p->pi) {
            const double yy = yPi(*p->pi);
            piPath +=
                QStringLiteral("%1%2,%3 ").arg(piPath.isEmpty() ? 'M' : 'L').arg(num(xx), num(yy));
            s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"1.6\" height=\"1.6\" "
                                "fill=\"%3\"/>\n")
                     .arg(num(xx - 0.8), num(yy - 0.8), QLatin1String(fill));
        }
    }
    for (const QString& d : {path, piPath}) {
        if (!d.isEmpty())
            s += QStringLiteral("<path d=\"%1\" fill=\"none\" stroke=\"#1565c0\" "
                                "stroke-width=\"0.25\"/>\n")
                     .arg(d.trimmed());
    }
    s += QStringLiteral("</svg>\n");
    return s;
}

QString assetTrendText(const AssetReportData& data) {
    const Trend& t = data.trend;
    if (!t.slopePerYear)
        return QStringLiteral("No trend yet: it needs at least 3 tests with a 1-minute "
                              "resistance.");
    QString text = QStringLiteral("%1 % a year").arg(num(*t.slopePerYear, 1));
    if (t.crossing)
        return text + QStringLiteral("; crosses its minimum of %1 about %2")
                          .arg(ohmsText(t.minimumOhms), t.crossing->toString(Qt::ISODate));
    return text + QStringLiteral("; no crossing of its minimum of %1 is projected")
                      .arg(ohmsText(t.minimumOhms));
}

QByteArray assetReportHtml(const AssetReportData& data, QDate printed, const QString& chartSource) {
    const Asset& a = data.asset;
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Asset "
                        "history: %1</title>\n<style>body{font-family:sans-serif;font-size:10pt}"
                        "table{border-collapse:collapse}td,th{border:1px solid #999;padding:2px "
                        "4px;text-align:left}.fail{color:#c00;font-weight:bold}</style>\n"
                        "</head><body>\n")
             .arg(esc(a.tag));
    h += QStringLiteral("<h1>Asset history: %1</h1>\n").arg(esc(a.tag));
    h += QStringLiteral("<table>\n");
    auto row = [&](const char* key, const QString& value) {
        h += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n")
                 .arg(QString::fromUtf8(key), esc(value));
    };
    row("Name", a.name);
    row("Kind", assetKindText(a.kind));
    row("Location", a.location);
    row("Rated voltage", a.ratedVoltage ? QStringLiteral("%1 V").arg(*a.ratedVoltage) : QString());
    row("Thermal class", a.thermalClass);
    row("Minimum R60 at 40 \u00B0C", ohmsText(minimumOhmsOf(a)));
    row("PI minimum", ratioText(piMinimumOf(a)));
    row("Retired", a.retired ? QStringLiteral("yes") : QStringLiteral("no"));
    row("Notes", a.notes);
    row("Printed", printed.toString(Qt::ISODate));
    h += QStringLiteral("</table>\n<h2>Trend</h2>\n<p>%1</p>\n").arg(esc(assetTrendText(data)));
    if (chartSource.isEmpty())
        h += assetTrendSvg(data, 170, 110);
    else
        h += QStringLiteral("<p><img src=\"%1\" width=\"640\"></p>\n").arg(esc(chartSource));
    h += QStringLiteral("<h2>Tests</h2>\n<table>\n<tr><th>Date</th><th>Voltage</th><th>R60</th>"
                        "<th>Temperature</th><th>R60 at 40 \u00B0C</th><th>DAR</th><th>PI</th>"
                        "<th>Verdict</th><th>Operator</th><th>Humidity</th><th>Notes</th>"
                        "<th>Source</th></tr>\n");
    for (const FiledTest& t : data.tests) {
        const InsulationResult& r = t.result;
        QString verdict = verdictCaption(r.verdict);
        if (sharpDrop(data, t))
            verdict += QStringLiteral(", sharp drop");
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                            "<td>%6</td><td>%7</td><td%8>%9</td><td>%10</td><td>%11</td>"
                            "<td>%12</td><td>%13</td></tr>\n")
                 .arg(esc(t.testedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                      r.testVoltage ? QStringLiteral("%1 V").arg(*r.testVoltage) : QString(),
                      esc(optionalOhms(r.r60)),
                      esc(r.temperature ? celsiusText(*r.temperature) : QString()),
                      esc(optionalOhms(r.r60Corrected)), esc(optionalRatio(r.dar)),
                      esc(optionalRatio(r.pi)),
                      r.verdict == Verdict::Fail ? QStringLiteral(" class=\"fail\"") : QString(),
                      esc(verdict))
                 .arg(esc(t.operatorName), esc(t.humidity), esc(t.notes),
                      esc(QStringLiteral("%1, test %2")
                              .arg(QDir::toNativeSeparators(t.sourcePath))
                              .arg(t.sourceTest)));
    }
    h += QStringLiteral("</table>\n</body></html>\n");
    return h.toUtf8();
}

QByteArray assetReportCsv(const AssetReportData& data) {
    std::string out = "\xEF\xBB\xBF";
    out += "tag,name,date,testVoltage,r60,temperature,r60Corrected40,minimum,dar,pi,verdict,"
           "sharpDrop,operator,humidity,notes,source,sourceTest\r\n";
    for (const FiledTest& t : data.tests) {
        const InsulationResult& r = t.result;
        std::string line;
        csvText(line, data.asset.tag, true);
        csvText(line, data.asset.name);
        csvText(line, t.testedAt.toString(Qt::ISODate));
        csvNumber(line, r.testVoltage ? std::optional<double>(*r.testVoltage) : std::nullopt);
        csvNumber(line, r.r60);
        csvNumber(line, r.temperature);
        csvNumber(line, r.r60Corrected);
        csvNumber(line, r.minimum);
        csvNumber(line, r.dar);
        csvNumber(line, r.pi);
        csvText(line, verdictText(r.verdict));
        csvText(line, sharpDrop(data, t) ? QStringLiteral("yes") : QString());
        csvText(line, t.operatorName);
        csvText(line, t.humidity);
        csvText(line, t.notes);
        csvText(line, QDir::toNativeSeparators(t.sourcePath));
        csvNumber(line, t.sourceTest);
        out += line + "\r\n";
    }
    return QByteArray::fromStdString(out);
}

std::optional<AssetReportFormat> assetReportFormatFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return AssetReportFormat::Pdf;
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return AssetReportFormat::Html;
    if (suffix == QLatin1String("csv"))
        return AssetReportFormat::Csv;
    return std::nullopt;
}

Status saveAssetReportText(const AssetReportData& data, const QString& path, AssetReportFormat f,
                           QDate printed) {
    if (f == AssetReportFormat::Pdf)
        return fail(QStringLiteral("A PDF report is drawn by the page painter"));
    Result<std::unique_ptr<ReportFile>> file = ReportFile::begin(path);
    if (!file)
        return fail(file.error());
    const QByteArray bytes =
        f == AssetReportFormat::Html ? assetReportHtml(data, printed) : assetReportCsv(data);
    file.value()->device().write(bytes);
    if (Status s = file.value()->status(); !s)
        return s;
    return file.value()->finish();
}

} // namespace kx
