#include "paradox/paradox_reader.h"

#include "common/file_kind.h"
#include "paradox/paradox_codec.h"

#include <QDir>
#include <QFile>

#include <limits>

namespace kx::px {

using codec::le16;
using codec::le16s;
using codec::le32;

namespace {

constexpr int kCommonHeader = 0x58;
constexpr int kDataHeader4 = 0x78;

bool validBlockFactor(int f) {
    return (f >= 1 && f <= 4) || f == 8 || f == 16 || f == 32;
}

int versionFromId(int id) {
    if (id <= 4)
        return 3;
    if (id <= 9)
        return 4;
    if (id <= 11)
        return 5;
    return 7;
}

bool readAt(QFile& f, qint64 pos, char* buf, qint64 n) {
    return f.seek(pos) && f.read(buf, n) == n;
}

} // namespace

TableReader::TableReader(TableReader&&) noexcept = default;
TableReader& TableReader::operator=(TableReader&&) noexcept = default;
TableReader::~TableReader() = default;

Result<TableReader> TableReader::open(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    auto bad = [&](const QString& what) {
        return fail(QStringLiteral("Table file %1 is damaged: %2").arg(shown, what));
    };

    // Only a regular file can be a table: a pipe or a device would be read forever.
    if (const FileKind kind = fileKind(path); kind == FileKind::Folder || kind == FileKind::Other)
        return fail(QStringLiteral("Cannot open table file %1: %2")
                        .arg(shown, kind == FileKind::Folder
                                        ? QStringLiteral("it is a folder")
                                        : QStringLiteral("it is not a regular file")));

    TableReader r;
    r.path_ = path;
    r.file_ = std::make_unique<QFile>(path);
    QFile& file = *r.file_;
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot open table file %1: %2").arg(shown, file.errorString()));
    const qint64 fileSize = file.size();
    if (fileSize < kCommonHeader)
        return bad(QStringLiteral("the file is shorter than a table header"));

    unsigned char head[kCommonHeader];
    if (!readAt(file, 0, reinterpret_cast<char*>(head), kCommonHeader))
        return fail(QStringLiteral("Cannot read table file %1: %2").arg(shown, file.errorString()));

    TableInfo& info = r.info_;
    info.recordSize = le16(head + 0x00);
    info.headerSize = le16(head + 0x02);
    const int fileType = head[0x04];
    const int blockFactor = head[0x05];
    const std::int64_t numRecords = static_cast<std::int32_t>(le32(head + 0x06));
    info.fileBlocks = le16(head + 0x0C);
    const int firstBlock = le16(head + 0x0E);
    const int numFields = le16s(head + 0x21);
    info.keyFieldCount = le16s(head + 0x23);
    info.fileVersionId = head[0x39];

    if (fileType != 0 && fileType != 2)
        return fail(
            QStringLiteral("%1 is not a table file (file type %2)").arg(shown).arg(fileType));
    if (info.fileVersionId < 3 || info.fileVersionId > 12)
        return bad(QStringLiteral("unknown file version %1").arg(info.fileVersionId));
    info.version = versionFromId(info.fileVersionId);
    info.keyed = fileType == 0;
    if (!validBlockFactor(blockFactor))
        return bad(QStringLiteral("invalid block size code %1").arg(blockFactor));
    info.blockSize = blockFactor * 1024;
    const int fieldInfoAt = info.version >= 4 ? kDataHeader4 : kCommonHeader;
    if (info.headerSize < fieldInfoAt || info.headerSize > fileSize)
        return bad(QStringLiteral("header size %1 does not fit the file").arg(info.headerSize));
    if (numFields <= 0 || numFields > 255)
        return bad(QStringLiteral("invalid number of fields %1").arg(numFields));
    if (info.keyFieldCount < 0 || info.keyFieldCount > numFields)
        return bad(QStringLiteral("invalid number of key fields %1").arg(info.keyFieldCount));
    if (info.recordSize <= 0 || info.recordSize > info.blockSize - 6)
        return bad(QStringLiteral("record size %1 does not fit a block").arg(info.recordSize));

    QByteArray header(info.headerSize, '\0');
    if (!readAt(file, 0, header.data(), info.headerSize))
        return fail(QStringLiteral("Cannot read table file %1: %2").arg(shown, file.errorString()));
    const auto* h = reinterpret_cast<const unsigned char*>(header.constData());

    const bool encrypted = info.version >= 4 ? le32(h + 0x5C) != 0 : le32(h + 0x25) != 0;
    if (encrypted)
        return fail(QStringLiteral("Table file %1 is encrypted and cannot be read").arg(shown));
    if (info.version >= 4)
        info.codePage = le16(h + 0x6A);

    // Field descriptors, then the table name pointer, the name pointers and the table name.
    qint64 pos = fieldInfoAt;
    const int tableNameLen = info.fileVersionId >= 12 ? 261 : 79;
    const qint64 namesAt = pos + 2LL * numFields + 4 + 4LL * numFields + tableNameLen;
    if (namesAt > info.headerSize)
        return bad(QStringLiteral("the field list does not fit the header"));
    int sum = 0;
    for (int i = 0; i < numFields; ++i) {
        const int code = h[pos + 2 * i];
        const int size = h[pos + 2 * i + 1];
        if (!isKnownType(static_cast<std::uint8_t>(code)))
            return bad(QStringLiteral("field %1 has unknown type %2").arg(i + 1).arg(code));
        FieldDef f;
        f.type = static_cast<FieldType>(code);
        f.size = size;
        const int fixed = fixedSize(f.type);
        if (f.type == FieldType::Bcd) {
            if (size > 32)
                return bad(QStringLiteral("field %1 has %2 decimals").arg(i + 1).arg(size));
        } else if (fixed != 0 ? size != fixed : size == 0) {
            return bad(QStringLiteral("field %1 of type %2 has size %3")
                           .arg(i + 1)
                           .arg(typeName(f.type))
                           .arg(size));
        }
        sum += storageSize(f);
        info.fields.push_back(f);
    }
    if (sum != info.recordSize)
        return bad(QStringLiteral("the field sizes add up to %1, the record size is %2")
                       .arg(sum)
                       .arg(info.recordSize));
    const qint64 tableNameAt = pos + 2LL * numFields + 4 + 4LL * numFields;
    {
        const char* tn = header.constData() + tableNameAt;
        const void* nul = std::memchr(tn, 0, static_cast<std::size_t>(tableNameLen));
        info.tableName = QByteArray(tn, nul ? static_cast<const char*>(nul) - tn : tableNameLen);
    }
    pos = namesAt;
    for (int i = 0; i < numFields; ++i) {
        const char* start = header.constData() + pos;
        const void* nul = std::memchr(start, 0, static_cast<std::size_t>(info.headerSize - pos));
        if (!nul)
            return bad(QStringLiteral("the name of field %1 runs past the header").arg(i + 1));
        info.fields[static_cast<std::size_t>(i)].name =
            QByteArray(start, static_cast<const char*>(nul) - start);
        pos += info.fields[static_cast<std::size_t>(i)].name.size() + 1;
    }

    // The block chain: every block present in the file, none visited twice, counts consistent.
    const qint64 blocksInFile = (fileSize - info.headerSize) / info.blockSize;
    const int perBlock = (info.blockSize - 6) / info.recordSize;
    if (numRecords < 0 || numRecords > static_cast<qint64>(info.fileBlocks) * perBlock)
        return bad(QStringLiteral("record count %1 is more than %2 blocks can hold")
                       .arg(numRecords)
                       .arg(info.fileBlocks));
    std::vector<bool> visited(static_cast<std::size_t>(std::min<qint64>(blocksInFile, 65535)) + 1);
    std::int64_t counted = 0;
    int block = info.fileBlocks == 0 ? 0 : firstBlock;
    while (block != 0) {
        if (block > blocksInFile)
            return bad(QStringLiteral("block %1 lies beyond the end of the file").arg(block));
        if (visited[static_cast<std::size_t>(block)])
            return bad(QStringLiteral("the block chain loops at block %1").arg(block));
        visited[static_cast<std::size_t>(block)] = true;
        unsigned char bh[6];
        const qint64 at = info.headerSize + static_cast<qint64>(block - 1) * info.blockSize;
        if (!readAt(file, at, reinterpret_cast<char*>(bh), 6))
            return fail(
                QStringLiteral("Cannot read table file %1: %2").arg(shown, file.errorString()));
        const int addDataSize = le16s(bh + 4);
        int count = 0;
        if (addDataSize >= 0) {
            if (addDataSize % info.recordSize != 0 ||
                addDataSize > (perBlock - 1) * info.recordSize)
                return bad(QStringLiteral("block %1 claims %2 bytes of records")
                               .arg(block)
                               .arg(addDataSize + info.recordSize));
            count = addDataSize / info.recordSize + 1;
        }
        counted += count;
        if (count > 0) {
            r.chain_.push_back(static_cast<std::uint16_t>(block));
            r.counts_.push_back(static_cast<std::uint16_t>(count));
        }
        block = le16(bh);
    }
    if (counted != numRecords)
        return bad(QStringLiteral("the header counts %1 records, the blocks hold %2")
                       .arg(numRecords)
                       .arg(counted));
    info.recordCount = numRecords;
    return r;
}

int TableReader::fieldIndex(const QByteArray& name) const {
    for (std::size_t i = 0; i < info_.fields.size(); ++i) {
        if (info_.fields[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

Status TableReader::forEachRaw(const std::function<bool(const unsigned char*)>& visit) const {
    QByteArray buf(info_.blockSize, '\0');
    auto* b = reinterpret_cast<unsigned char*>(buf.data());
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        const qint64 at = info_.headerSize + static_cast<qint64>(chain_[i] - 1) * info_.blockSize;
        const qint64 want = 6 + static_cast<qint64>(counts_[i]) * info_.recordSize;
        if (!readAt(*file_, at, buf.data(), want))
            return fail(QStringLiteral("Cannot read table file %1: %2")
                            .arg(QDir::toNativeSeparators(path_), file_->errorString()));
        for (int k = 0; k < counts_[i]; ++k) {
            if (!visit(b + 6 + k * info_.recordSize))
                return {};
        }
    }
    return {};
}

Status TableReader::forEach(const std::function<bool(const Record&)>& visit) const {
    Record rec(info_.fields.size());
    std::vector<int> offsets;
    int off = 0;
    for (const FieldDef& f : info_.fields) {
        offsets.push_back(off);
        off += storageSize(f);
    }
    return forEachRaw([&](const unsigned char* raw) {
        for (std::size_t i = 0; i < rec.size(); ++i)
            rec[i] = codec::decodeField(info_.fields[i], raw + offsets[i]);
        return visit(rec);
    });
}

Result<std::vector<Record>> TableReader::readAll() const {
    std::vector<Record> rows;
    rows.reserve(static_cast<std::size_t>(info_.recordCount));
    Status s = forEach([&](const Record& r) {
        rows.push_back(r);
        return true;
    });
    if (!s)
        return fail(s.error());
    return rows;
}

Result<TableInfo> readTableInfo(const QString& path) {
    Result<TableReader> r = TableReader::open(path);
    if (!r)
        return fail(r.error());
    return r.value().info();
}

Result<std::vector<Record>> readTable(const QString& path) {
    Result<TableReader> r = TableReader::open(path);
    if (!r)
        return fail(r.error());
    return r.value().readAll();
}

} // namespace kx::px
