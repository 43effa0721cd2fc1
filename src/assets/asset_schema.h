// The register's tables, version by version, in the words of each database.
#pragma once

#include <QStringList>

namespace kx {

// The schema this program writes; a database with a higher one is opened for reading only.
inline constexpr int kAssetSchemaVersion = 1;

enum class SqlDialect { Sqlite, Postgresql };

// The statements that bring a database of schema `from` (0: empty) to kAssetSchemaVersion.
// The version in kx_meta is set by the caller, in the same transaction.
QStringList assetSchemaSteps(int from, SqlDialect dialect);

} // namespace kx
