// Input: a reading's value and unit texts as a table holds them (split at the first NUL), and
// the points-a-page text the chart's box takes. The reading then lays out the value axes of a
// page that holds it, alone and beside a fixed reading.
#include "chart/chart_axis.h"
#include "chart/chart_model.h"
#include "chart/chart_values.h"
#include "readings/reading_quantity.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

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
    const kx::ReadingQuantity q = kx::readingQuantity(value, unit);
    if (q.base) {
        const double v = *q.base;
        for (const auto& [lo, hi] :
             {std::pair{v, v}, std::pair{std::min(v, 1e6), std::max(v, 1e6)}}) {
            const kx::ChartAxis axes[] = {kx::resistanceAxis(lo > 0 ? lo : 0, hi),
                                          kx::linearAxis(kx::ChartQuantity::Voltage, lo, hi),
                                          kx::linearAxis(kx::ChartQuantity::Plain, lo, hi)};
            for (const kx::ChartAxis& a : axes) {
                if (a.ticks.size() < 2 || !std::isfinite(a.lo) || !std::isfinite(a.hi) ||
                    a.lo >= a.hi || !std::isfinite(a.at(v)))
                    __builtin_trap();
                for (std::size_t i = 1; i < a.ticks.size(); ++i)
                    if (!(a.ticks[i - 1].at < a.ticks[i].at))
                        __builtin_trap();
            }
        }
    }
    return 0;
}
