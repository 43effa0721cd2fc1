// Input: the bytes of a test details file beside a table. Reads them as the window, the
// command line and the report do, and checks that what was read is within its limits and,
// written out again, reads back the same.
#include "analysis/details_file.h"

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const kx::TestDetailsRead read = kx::parseTestDetails(bytes, QStringLiteral("t.results.json"));
    const kx::TestDetails& d = read.details;
    if (!read.found || !kx::settingsProblem(d.settings).isEmpty())
        __builtin_trap();
    if (d.asset.size() > kx::kMaxDetailLength || d.notes.size() > kx::kMaxNotesLength ||
        d.asset.contains(QLatin1Char('\n')))
        __builtin_trap();
    for (const kx::LinkGap& g : d.linkGaps) {
        if (!g.from.isValid() || !g.to.isValid() || g.why.size() > kx::kMaxDetailLength)
            __builtin_trap();
    }
    const kx::TestDetailsRead again =
        kx::parseTestDetails(kx::testDetailsJson(d), QStringLiteral("t.results.json"));
    if (!again.problem.isEmpty() || !(again.details == d))
        __builtin_trap();
    return 0;
}
