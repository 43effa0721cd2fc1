#pragma once

#include "assets/asset_register.h"
#include "common/result.h"

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

Result<AssetReportData> assetReportOf(AssetRegister& reg, const QString& tag);

// The trend chart (log resistance with the minimum line, PI with its minimum) as SVG.
QString assetTrendSvg(const AssetReportData& data, double widthMm, double heightMm);

enum class AssetReportFormat { Pdf, Html, Csv };
// Writes the report through the one target check and atomic writer.
Status saveAssetReport(const AssetReportData& data, const QString& path, AssetReportFormat f);

} // namespace kx
