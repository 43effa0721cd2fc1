#pragma once

#include "assets/asset_register.h"
#include "cli/command_line.h"

#include <memory>
#include <optional>

namespace kx::cli {

// --database URL, shared by `assets` and `report --kind asset`.
void addDatabaseOption(CommandLine& line);
// The register --database names, or the user's own. A URL that cannot be read is bad usage:
// `bad` is set to its exit code (told). A register that opens read-only says why on stderr.
Result<std::unique_ptr<AssetRegister>> openRegisterOf(const CommandLine& line,
                                                      std::optional<int>& bad);

} // namespace kx::cli
