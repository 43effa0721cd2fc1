#pragma once

#include "assets/asset_register.h"
#include "common/result.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <vector>

namespace kx {

// What an asset history report shows: the asset, each filed test's results, the trend chart
// and the projection.
struct AssetReportData {
    Asset asset;
    std::vector<FiledTest> tests;
    Trend trend;
};

// Fails when the register has no asset of that tag, or cannot be read.
Result<AssetReportData> assetReportOf(AssetRegister& reg, const QString& tag);

// The trend chart as SVG, `widthMm` by `heightMm`: above, the corrected 1-minute resistance on
// a logarithmic axis with the asset's minimum as a line, each test a point (a failed one red,
// a sharp drop ringed) and, when the fit falls, the projection to its crossing of the minimum;
// below, the PI with its minimum. The window's asset page, the HTML report and the PDF show it.
QString assetTrendSvg(const AssetReportData& data, double widthMm, double heightMm);

// The trend in words: "-40.2 % a year; crosses its minimum of 5 MΩ about 2028-02-11", or why
// there is no projection.
QString assetTrendText(const AssetReportData& data);

// The report as one UTF-8 HTML document with the chart inline. `chartSource`, when given,
// replaces the inline chart by an image of that name (the PDF draws its own picture).
QByteArray assetReportHtml(const AssetReportData& data, QDate printed,
                           const QString& chartSource = {});
// One line per filed test (UTF-8 with a byte-order mark, CR LF, RFC 4180 quoting): the asset's
// tag and name, the date, the figures, the verdict and the conditions; figures in plain
// numbers (ohms, °C) so that a spreadsheet sorts and plots them.
QByteArray assetReportCsv(const AssetReportData& data);

enum class AssetReportFormat { Pdf, Html, Csv };
// The format a file name asks for (.pdf, .html, .htm, .csv in any case); none for others.
std::optional<AssetReportFormat> assetReportFormatFor(const QString& path);
// Writes the HTML or CSV report through the one target check and atomic writer. The PDF is
// drawn by the page painter's room: saveAssetReport in reports/ui/asset_report_pdf.h takes
// every format.
Status saveAssetReportText(const AssetReportData& data, const QString& path, AssetReportFormat f,
                           QDate printed);

} // namespace kx
