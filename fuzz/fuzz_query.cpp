// Input: a search statement as the search window and `kxlink-cli query` take it.
#include "reports/local_query.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const kx::Result<kx::QueryStatement> parsed = kx::parseQueryStatement(text);
    if (!parsed) {
        // A refusal always says why.
        if (parsed.error().isEmpty())
            __builtin_trap();
        return 0;
    }
    const kx::QueryStatement& q = parsed.value();
    if (!q.hasCondition && (!q.field.isEmpty() || !q.text.isEmpty()))
        __builtin_trap();
    return 0;
}
