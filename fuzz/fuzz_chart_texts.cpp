// Input: a reading's value and unit texts as a table holds them (split at the first NUL), and
// the points-a-page text the chart's box takes.
#include "recording/chart_model.h"
#include "recording/chart_values.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.find('\0');
    const std::string_view value = all.substr(0, cut);
    const std::string_view unit =
        cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    if (const std::optional<double> n = kx::readingNumber(value, unit); n && !std::isfinite(*n))
        __builtin_trap();
    const kx::Result<int> perPage =
        kx::pointsPerPageFromText(QString::fromUtf8(value.data(), qsizetype(value.size())));
    if (!perPage && perPage.error().isEmpty())
        __builtin_trap();
    return 0;
}
