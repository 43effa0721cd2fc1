#pragma once

#include "common/result.h"
#include "reports/asset_report.h"

#include <QDate>
#include <QString>

namespace kx {

// Writes the asset history report as PDF (A4, the chart drawn from its SVG), HTML or CSV,
// through the one target check and atomic writer. The window's Print and the command line's
// `report --kind asset` use it.
Status saveAssetReport(const AssetReportData& data, const QString& path, AssetReportFormat f,
                       QDate printed = QDate::currentDate());

} // namespace kx
