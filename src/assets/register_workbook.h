#pragma once

#include "assets/asset_register.h"
#include "common/result.h"

#include <QString>

namespace kx {

// The register as a workbook: a sheet "Assets" (one row an asset, retired ones too, with its
// minimums, last test and trend) and a sheet "Tests" (one row a filed test of any asset, with
// its figures, verdict, conditions and source file). Written through the target check and
// the atomic writer of every save; the register's own file is refused as a target. Returns
// the number of assets and tests written.
struct RegisterWorkbookCounts {
    qint64 assets = 0;
    qint64 tests = 0;
};
Result<RegisterWorkbookCounts> saveRegisterXlsx(AssetRegister& reg, const QString& path);

} // namespace kx
