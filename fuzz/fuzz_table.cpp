// Input: a table file with no index beside it, read as the commands and the grids read it.
#include "fuzz_support.h"
#include "table_reading.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = kxfuzz::scratchPath("t.db");
    kxfuzz::putFile(path, data, size);
    kxfuzz::readLikeTheProgram(path);
    return 0;
}
