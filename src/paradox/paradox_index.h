#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace kx {
class ReplacingFile;
}

namespace kx::px {

// One entry of a primary index block: the first key of the block it points to (stored form),
// that block's number and the number of records below it.
struct IndexEntry {
    QByteArray key;
    std::uint32_t block = 0;
    std::uint32_t count = 0;
};

// A primary index as read back from a .PX file, level by level (levels[0] is the root level,
// the last level points at data blocks).
struct PrimaryIndex {
    FieldDef keyField;
    int blockSize = 0;
    int entrySize = 0; // key bytes and 6
    int rootBlock = 0;
    int levelCount = 0;
    std::int64_t entryCount = 0;
    std::vector<std::vector<IndexEntry>> levels;
};

// Builds a primary index over data blocks described by leaf entries (one per data block, in
// key order) and writes it to a temporary file beside pxPath; the caller commits it. As many
// levels as needed are built so that the root fits one block. The root is block 1 and the
// blocks follow level by level, top down, in one chain.
Result<std::unique_ptr<ReplacingFile>> writePrimaryIndex(const QString& pxPath,
                                                         const FieldDef& keyField,
                                                         const std::vector<IndexEntry>& leaves,
                                                         int blockSize, int fileVersionId,
                                                         const QByteArray& tableName);

// Reads and checks a .PX file: header, chain, and the tree (each entry's block in range, each
// level pointing at the next, counts adding up).
Result<PrimaryIndex> readPrimaryIndex(const QString& pxPath);

} // namespace kx::px
