#include "paradox/paradox_index.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_codec.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <map>

namespace kx::px {

using codec::le16;
using codec::le16s;
using codec::le32;
using codec::put16;
using codec::put32;

namespace {
constexpr int kHeaderSize = 0x800;
constexpr int kMaxBlocks = 65535;
} // namespace

Result<std::unique_ptr<ReplacingFile>> writePrimaryIndex(const QString& pxPath,
                                                         const FieldDef& keyField,
                                                         const std::vector<IndexEntry>& leaves,
                                                         int blockSize, int fileVersionId,
                                                         const QByteArray& tableName) {
    const QString shown = QDir::toNativeSeparators(pxPath);
    const int keySize = storageSize(keyField);
    const int entrySize = keySize + 6;
    const int perBlock = (blockSize - 6) / entrySize;
    if (perBlock < 2)
        return fail(QStringLiteral("Cannot write %1: the key is too wide for an index").arg(shown));

    // Levels bottom-up; an upper entry holds the first key of its child block and the number
    // of entries in that block.
    std::vector<std::vector<IndexEntry>> levels;
    if (!leaves.empty())
        levels.push_back(leaves);
    while (!levels.empty() && levels.back().size() > static_cast<std::size_t>(perBlock)) {
        const std::vector<IndexEntry>& below = levels.back();
        std::vector<IndexEntry> up;
        for (std::size_t i = 0; i < below.size(); i += static_cast<std::size_t>(perBlock)) {
            IndexEntry e;
            e.key = below[i].key;
            e.count = static_cast<std::uint32_t>(
                std::min<std::size_t>(static_cast<std::size_t>(perBlock), below.size() - i));
            up.push_back(e);
        }
        levels.push_back(std::move(up));
    }
    // Number the blocks from the root down and point each level at the one below.
    std::vector<std::size_t> blocksOf(levels.size());
    std::vector<std::size_t> firstOf(levels.size());
    std::size_t total = 0;
    std::int64_t entries = 0;
    for (std::size_t k = levels.size(); k-- > 0;) {
        blocksOf[k] = (levels[k].size() + static_cast<std::size_t>(perBlock) - 1) /
                      static_cast<std::size_t>(perBlock);
        firstOf[k] = total + 1;
        total += blocksOf[k];
        entries += static_cast<std::int64_t>(levels[k].size());
    }
    if (total > static_cast<std::size_t>(kMaxBlocks))
        return fail(QStringLiteral("Cannot write %1: the index needs too many blocks").arg(shown));
    for (std::size_t k = 1; k < levels.size(); ++k) {
        for (std::size_t j = 0; j < levels[k].size(); ++j)
            levels[k][j].block = static_cast<std::uint32_t>(firstOf[k - 1] + j);
    }

    Result<std::unique_ptr<ReplacingFile>> out = ReplacingFile::begin(pxPath);
    if (!out)
        return out;
    ReplacingFile& f = *out.value();

    QByteArray h(kHeaderSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    put16(p + 0x00, static_cast<std::uint32_t>(entrySize));
    put16(p + 0x02, kHeaderSize);
    p[0x04] = 1;
    p[0x05] = static_cast<unsigned char>(blockSize / 1024);
    put32(p + 0x06, static_cast<std::uint32_t>(entries));
    put16(p + 0x0A, static_cast<std::uint32_t>(total));
    put16(p + 0x0C, static_cast<std::uint32_t>(total));
    put16(p + 0x0E, total ? 1 : 0);
    put16(p + 0x10, static_cast<std::uint32_t>(total));
    put16(p + 0x1E, total ? 1 : 0);
    p[0x20] = static_cast<unsigned char>(levels.empty() ? 1 : levels.size());
    put16(p + 0x21, 1);
    p[0x39] = static_cast<unsigned char>(fileVersionId);
    put16(p + 0x3A, static_cast<std::uint32_t>(total));
    p[0x58] = static_cast<unsigned char>(keyField.type);
    p[0x59] = static_cast<unsigned char>(keyField.size);
    const int nameLen = fileVersionId >= 12 ? 261 : 79;
    const QByteArray tn = tableName.left(nameLen - 1);
    std::memcpy(p + 0x5E, tn.constData(), static_cast<std::size_t>(tn.size()));
    if (Status s = f.writeAt(0, h.constData(), h.size()); !s)
        return fail(s.error());

    QByteArray block(blockSize, '\0');
    auto* b = reinterpret_cast<unsigned char*>(block.data());
    std::size_t number = 0;
    for (std::size_t k = levels.size(); k-- > 0;) {
        const std::vector<IndexEntry>& level = levels[k];
        for (std::size_t i = 0; i < level.size(); i += static_cast<std::size_t>(perBlock)) {
            ++number;
            std::memset(b, 0, static_cast<std::size_t>(blockSize));
            const std::size_t n =
                std::min<std::size_t>(static_cast<std::size_t>(perBlock), level.size() - i);
            put16(b, number == total ? 0 : static_cast<std::uint32_t>(number + 1));
            put16(b + 2, static_cast<std::uint32_t>(number - 1));
            put16(b + 4, static_cast<std::uint32_t>((n - 1) * static_cast<std::size_t>(entrySize)));
            unsigned char* e = b + 6;
            for (std::size_t j = 0; j < n; ++j, e += entrySize) {
                const IndexEntry& ie = level[i + j];
                std::memcpy(e, ie.key.constData(),
                            static_cast<std::size_t>(std::min<qsizetype>(ie.key.size(), keySize)));
                codec::putIndexShort(e + keySize, ie.block);
                codec::putIndexShort(e + keySize + 2, ie.count);
                codec::putIndexShort(e + keySize + 4, 0);
            }
            const qint64 at = kHeaderSize + static_cast<qint64>(number - 1) * blockSize;
            if (Status s = f.writeAt(at, block.constData(), block.size()); !s)
                return fail(s.error());
        }
    }
    return out;
}

Result<PrimaryIndex> readPrimaryIndex(const QString& pxPath) {
    const QString shown = QDir::toNativeSeparators(pxPath);
    auto bad = [&](const QString& what) {
        return fail(QStringLiteral("Index file %1 is damaged: %2").arg(shown, what));
    };
    Result<int> fd = openRegularFile(pxPath, O_RDONLY, QStringLiteral("Cannot open index file"));
    if (!fd)
        return fail(fd.error());
    QFile file;
    if (!file.open(fd.value(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return fail(QStringLiteral("Cannot open index file %1: %2").arg(shown, file.errorString()));
    const QByteArray all = file.readAll();
    if (all.isEmpty())
        return bad(QStringLiteral("the file is empty"));
    if (all.size() < 0x5A)
        return bad(QStringLiteral("the file is shorter than an index header"));
    const auto* p = reinterpret_cast<const unsigned char*>(all.constData());
    const int entrySize = le16(p);
    const int headerSize = le16(p + 2);
    const int factor = p[5];
    if (p[4] != 1)
        return bad(QStringLiteral("not a primary index"));
    if (!((factor >= 1 && factor <= 4) || factor == 8 || factor == 16 || factor == 32))
        return bad(QStringLiteral("invalid block size code %1").arg(factor));
    PrimaryIndex idx;
    idx.blockSize = factor * 1024;
    idx.entrySize = entrySize;
    idx.entryCount = static_cast<std::int32_t>(le32(p + 6));
    const int fileBlocks = le16(p + 0x0C);
    const int firstBlock = le16(p + 0x0E);
    idx.rootBlock = le16(p + 0x1E);
    idx.levelCount = p[0x20];
    if (le16s(p + 0x21) < 1 || headerSize < 0x5A || headerSize > all.size())
        return bad(QStringLiteral("invalid header"));
    idx.keyField.type = static_cast<FieldType>(p[0x58]);
    idx.keyField.size = p[0x59];
    const int keySize = entrySize - 6;
    if (!isKnownType(p[0x58]) || keySize <= 0 || entrySize > idx.blockSize - 6)
        return bad(QStringLiteral("invalid key description"));

    // Walk the chain once, collecting each block's entries. Other engines end a small index
    // inside its last block, after the entries it holds: a block counts as present when what
    // it holds lies in the file.
    const qint64 blocksInFile = (all.size() - headerSize + idx.blockSize - 1) / idx.blockSize;
    std::map<int, std::vector<IndexEntry>> blocks;
    std::int64_t counted = 0;
    int block = fileBlocks ? firstBlock : 0;
    while (block != 0) {
        if (block > blocksInFile)
            return bad(QStringLiteral("block %1 lies beyond the end of the file").arg(block));
        if (blocks.count(block))
            return bad(QStringLiteral("the block chain loops at block %1").arg(block));
        const qint64 at = headerSize + static_cast<qint64>(block - 1) * idx.blockSize;
        if (at + 6 > all.size())
            return bad(QStringLiteral("block %1 lies beyond the end of the file").arg(block));
        const unsigned char* b = p + at;
        const int add = le16s(b + 4);
        std::vector<IndexEntry>& list = blocks[block];
        if (add >= 0) {
            if (add % entrySize || add + entrySize > idx.blockSize - 6)
                return bad(QStringLiteral("block %1 has a bad size").arg(block));
            if (at + 6 + add + entrySize > all.size())
                return bad(QStringLiteral("the entries of block %1 run past the end of the file")
                               .arg(block));
            for (int off = 6; off <= 6 + add; off += entrySize) {
                IndexEntry e;
                e.key = QByteArray(reinterpret_cast<const char*>(b + off), keySize);
                e.block = codec::indexShort(b + off + keySize);
                e.count = codec::indexShort(b + off + keySize + 2);
                list.push_back(e);
            }
        }
        counted += static_cast<std::int64_t>(list.size());
        block = le16(b);
    }
    if (counted != idx.entryCount)
        return bad(QStringLiteral("the header counts %1 entries, the blocks hold %2")
                       .arg(idx.entryCount)
                       .arg(counted));
    if (blocks.empty())
        return idx;
    if (!blocks.count(idx.rootBlock) || idx.levelCount < 1)
        return bad(QStringLiteral("the root block %1 is missing").arg(idx.rootBlock));
    idx.levels.push_back(blocks[idx.rootBlock]);
    std::int64_t seen = static_cast<std::int64_t>(idx.levels.back().size());
    for (int level = 1; level < idx.levelCount; ++level) {
        std::vector<IndexEntry> next;
        for (const IndexEntry& e : idx.levels.back()) {
            auto it = blocks.find(static_cast<int>(e.block));
            if (it == blocks.end())
                return bad(QStringLiteral("an entry points at missing block %1").arg(e.block));
            next.insert(next.end(), it->second.begin(), it->second.end());
        }
        seen += static_cast<std::int64_t>(next.size());
        if (seen > counted)
            return bad(QStringLiteral("the index levels overlap"));
        idx.levels.push_back(std::move(next));
    }
    return idx;
}

} // namespace kx::px
