// Input: a fault script as --demo-faults takes it. A script parses into faults of positive
// length that never overlap one of their kind, or fails with a message naming what is wrong.
#include "link/fault_script.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const kx::Result<kx::FaultScript> r = kx::FaultScript::parse(text);
    if (!r) {
        if (r.error().isEmpty())
            __builtin_trap();
        return 0;
    }
    const std::vector<kx::LinkFault> faults = r.value().faults();
    if (faults.empty())
        __builtin_trap();
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const kx::LinkFault& f = faults[i];
        if (f.lengthUs <= 0 || f.startUs < 0 || !r.value().active(f.kind, f.startUs) ||
            !r.value().active(f.kind, f.endUs() - 1))
            __builtin_trap();
        for (std::size_t j = i + 1; j < faults.size(); ++j) {
            const kx::LinkFault& g = faults[j];
            if (g.kind == f.kind && f.startUs < g.endUs() && g.startUs < f.endUs())
                __builtin_trap();
        }
    }
    return 0;
}
