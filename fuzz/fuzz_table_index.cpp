// Input: a table file and its primary index: two bytes giving the table's length (little
// endian), the table's bytes, then the index's bytes (possibly none: an empty index file).
#include "fuzz_support.h"
#include "table_reading.h"

#include "paradox/paradox_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString db = kxfuzz::scratchPath("k.db");
    static const QString px = kxfuzz::scratchPath("k.px");
    if (size < 2)
        return 0;
    std::size_t dbSize = static_cast<std::size_t>(data[0] | (data[1] << 8));
    data += 2;
    size -= 2;
    if (dbSize > size)
        dbSize = size;
    kxfuzz::putFile(db, data, dbSize);
    kxfuzz::putFile(px, data + dbSize, size - dbSize);
    (void)kx::px::readPrimaryIndex(px);
    kxfuzz::readLikeTheProgram(db);
    return 0;
}
