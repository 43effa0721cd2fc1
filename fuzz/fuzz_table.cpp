// Input: a table file with no index beside it, read as the commands and the grids read it, and
// as a salvage reads a damaged one (what it offers, and every record it would keep).
#include "fuzz_support.h"
#include "table_reading.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_salvage.h"
#include "readings/readings_schema.h"
#include "readings/table_salvage.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = kxfuzz::scratchPath("t.db");
    kxfuzz::putFile(path, data, size);
    kxfuzz::readLikeTheProgram(path);

    (void)kx::salvageQuestion(path, QStringLiteral("damaged"));
    const kx::Result<kx::px::SalvagedRecords> s =
        kx::px::readDamagedTable(path, {kx::readingsFields(false), kx::readingsFields(true)});
    if (s) {
        const kx::px::TableInfo& info = s.value().info;
        const auto* p = reinterpret_cast<const unsigned char*>(s.value().records.constData());
        for (std::int64_t i = 0; i < s.value().count(); ++i) {
            int off = 0;
            for (const kx::px::FieldDef& f : info.fields) {
                (void)kx::px::codec::decodeField(f, p + i * info.recordSize + off).toText();
                off += kx::px::storageSize(f);
            }
        }
    }
    return 0;
}
