#include "paradox/paradox_reader.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <unistd.h>

namespace kx::px {

using codec::kCommonHeader;
using codec::kDataHeader4;
using codec::le16;
using codec::le16s;
using codec::le32;

namespace {

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

// Reads n bytes at pos without moving the file's position; on failure *why says what.
bool readAt(QFile& f, qint64 pos, char* buf, qint64 n, QString* why) {
    while (n > 0) {
        const ssize_t got = ::pread(f.handle(), buf, static_cast<std::size_t>(n), pos);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *why = got < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                           : QStringLiteral("the file ends early");
            return false;
        }
        buf += got;
        pos += got;
        n -= got;
    }
    return true;
}

// Where blocks are read: blocks that follow each other in the file are read in long steps,
// each byte once, others one at a time.
class BlockWindow {
public:
    BlockWindow(QFile& file, qint64 fileSize, const TableInfo& info)
        : file_(file), fileSize_(fileSize), info_(info) {}

    // The first `need` bytes of block `number`, or nullptr when they cannot be read (*why says
    // why). They stay valid until the next call.
    const unsigned char* block(int number, qint64 need, QString* why) {
        const qint64 start = info_.headerSize + static_cast<qint64>(number - 1) * info_.blockSize;
        if (start < at_ || start + need > at_ + buf_.size()) {
            constexpr qint64 kStep = 256 << 10;
            const bool onward = last_ < 0 || number == last_ + 1;
            const qint64 step =
                std::max<qint64>(info_.blockSize, kStep / info_.blockSize * info_.blockSize);
            const qint64 want = onward ? std::max(need, std::min(step, fileSize_ - start)) : need;
            buf_.resize(want);
            at_ = start;
            if (!readAt(file_, start, buf_.data(), want, why)) {
                buf_.clear();
                return nullptr;
            }
        }
        last_ = number;
        return reinterpret_cast<const unsigned char*>(buf_.constData()) + (start - at_);
    }

    // The records of a data block.
    const unsigned char* records(const TableReader::DataBlock& b, QString* why) {
        const unsigned char* p =
            block(b.number, 6 + static_cast<qint64>(b.count) * info_.recordSize, why);
        return p ? p + 6 : nullptr;
    }

private:
    QFile& file_;
    qint64 fileSize_;
    const TableInfo& info_;
    QByteArray buf_;
    qint64 at_ = 0;
    int last_ = -1;
};

} // namespace

TableReader::TableReader(TableReader&&) noexcept = default;
TableReader& TableReader::operator=(TableReader&&) noexcept = default;
TableReader::~TableReader() = default;

Result<TableReader> TableReader::open(const QString& path, IndexCheck index, RecordCheck records) {
    const QString shown = QDir::toNativeSeparators(path);
    auto bad = [&](const QString& what) {
        return fail(QStringLiteral("Table file %1 is damaged: %2").arg(shown, what));
    };

    // A save of this table cut short between the renames of table and index is finished
    // first; what cannot be finished shows as the damage it left.
    (void)finishInterruptedReplace(path);

    TableReader r;
    r.path_ = path;
    r.file_ = std::make_unique<QFile>();
    QFile& file = *r.file_;
    Result<int> fd = openRegularFile(path, O_RDONLY, QStringLiteral("Cannot open table file"));
    if (!fd)
        return fail(fd.error());
    if (!file.open(fd.value(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return fail(QStringLiteral("Cannot open table file %1: %2").arg(shown, file.errorString()));
    const qint64 fileSize = file.size();
    r.fileSize_ = fileSize;
    QString why;
    if (fileSize < kCommonHeader)
        return bad(QStringLiteral("the file is shorter than a table header"));

    unsigned char head[kCommonHeader];
    if (!readAt(file, 0, reinterpret_cast<char*>(head), kCommonHeader, &why))
        return fail(QStringLiteral("Cannot read table file %1: %2").arg(shown, why));

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
    if (!readAt(file, 0, header.data(), info.headerSize, &why))
        return fail(QStringLiteral("Cannot read table file %1: %2").arg(shown, why));
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
        QByteArray& name = info.fields[static_cast<std::size_t>(i)].name;
        name = QByteArray(start, static_cast<const char*>(nul) - start);
        // Every field has a name; an empty one means the names are not where the version
        // byte says they are.
        if (name.isEmpty())
            return bad(QStringLiteral("field %1 has no name (file version %2)")
                           .arg(i + 1)
                           .arg(info.fileVersionId));
        pos += name.size() + 1;
    }
    if (info.keyed && info.keyFieldCount < 1)
        return bad(QStringLiteral("a keyed table without key fields"));

    // The block chain: every block present in the file, none visited twice, counts consistent.
    // Other engines may end the file inside its last block, after the records it holds: a block
    // counts as present when what it holds lies in the file.
    const qint64 blocksInFile = (fileSize - info.headerSize + info.blockSize - 1) / info.blockSize;
    const int perBlock = (info.blockSize - 6) / info.recordSize;
    if (numRecords < 0 || numRecords > static_cast<qint64>(info.fileBlocks) * perBlock)
        return bad(QStringLiteral("record count %1 is more than %2 blocks can hold")
                       .arg(numRecords)
                       .arg(info.fileBlocks));
    std::vector<bool> visited(static_cast<std::size_t>(std::min<qint64>(blocksInFile, 65535)) + 1);
    std::int64_t counted = 0;
    BlockWindow heads(file, fileSize, info);
    int block = info.fileBlocks == 0 ? 0 : firstBlock;
    while (block != 0) {
        if (block > blocksInFile)
            return bad(QStringLiteral("block %1 lies beyond the end of the file").arg(block));
        if (visited[static_cast<std::size_t>(block)])
            return bad(QStringLiteral("the block chain loops at block %1").arg(block));
        visited[static_cast<std::size_t>(block)] = true;
        const qint64 at = info.headerSize + static_cast<qint64>(block - 1) * info.blockSize;
        if (at + 6 > fileSize)
            return bad(QStringLiteral("block %1 lies beyond the end of the file").arg(block));
        const unsigned char* bh = heads.block(block, 6, &why);
        if (!bh)
            return fail(QStringLiteral("Cannot read table file %1: %2").arg(shown, why));
        const int addDataSize = le16s(bh + 4);
        int count = 0;
        if (addDataSize >= 0) {
            if (addDataSize % info.recordSize != 0 ||
                addDataSize > (perBlock - 1) * info.recordSize)
                return bad(QStringLiteral("block %1 claims %2 bytes of records")
                               .arg(block)
                               .arg(addDataSize + info.recordSize));
            count = addDataSize / info.recordSize + 1;
            if (at + 6 + static_cast<qint64>(count) * info.recordSize > fileSize)
                return bad(QStringLiteral("the records of block %1 run past the end of the file")
                               .arg(block));
        }
        counted += count;
        if (count > 0)
            r.blocks_.push_back(
                {static_cast<std::uint16_t>(block), static_cast<std::uint16_t>(count)});
        block = le16(bh);
    }
    if (counted != numRecords)
        return bad(QStringLiteral("the header counts %1 records, the blocks hold %2")
                       .arg(numRecords)
                       .arg(counted));
    info.recordCount = numRecords;

    if (info.keyed && index == IndexCheck::Verify) {
        if (Status s = r.verifyIndex(records); !s)
            return fail(s.error());
    } else {
        // Without the index, the records' own values are checked.
        auto checks = std::make_unique<RecordChecks>();
        if (records == RecordCheck::DuringWalk)
            r.walkChecks_ = std::move(checks);
        else if (Status s = r.walk(r.blocks_, checks.get(), {}); !s)
            return fail(s.error());
    }
    return r;
}

QString TableReader::damaged(const QString& what) const {
    return QStringLiteral("Table file %1 is damaged: %2")
        .arg(QDir::toNativeSeparators(path_), what);
}

QString TableReader::indexMismatch(const QString& why) const {
    return QStringLiteral("Table file %1 does not match its primary index %2: %3")
        .arg(QDir::toNativeSeparators(path_), QDir::toNativeSeparators(indexPath()), why);
}

int TableReader::keySize() const {
    if (!info_.keyed)
        return 0;
    int size = 0;
    for (int i = 0; i < info_.keyFieldCount; ++i)
        size += storageSize(info_.fields[static_cast<std::size_t>(i)]);
    return size;
}

QString TableReader::indexPath() const {
    // Another program may have named it in the other case.
    const QStringList names = indexPathsFor(path_);
    for (const QString& name : names) {
        if (QFileInfo::exists(name))
            return name;
    }
    return names.front();
}

Status TableReader::readBlock(const DataBlock& block, QByteArray* buf) const {
    const qint64 at = info_.headerSize + static_cast<qint64>(block.number - 1) * info_.blockSize;
    const qint64 want = static_cast<qint64>(block.count) * info_.recordSize;
    buf->resize(want);
    QString why;
    if (!readAt(*file_, at + 6, buf->data(), want, &why))
        return fail(QStringLiteral("Cannot read table file %1: %2")
                        .arg(QDir::toNativeSeparators(path_), why));
    return {};
}

namespace {

// Checks the stored values open() vouches for, record by record, and the order of the keys.
class RecordChecker {
public:
    RecordChecker(const TableInfo& info, int keySize) : info_(info), keySize_(keySize) {
        int off = 0;
        for (const FieldDef& f : info.fields) {
            if (f.type == FieldType::Time)
                times_.push_back({&f, off});
            off += storageSize(f);
        }
        for (int i = 0; i < info.keyFieldCount && keySize > 0; ++i) {
            const FieldType t = info.fields[static_cast<std::size_t>(i)].type;
            ordered_ =
                ordered_ && t != FieldType::Alpha && t != FieldType::Bcd && t != FieldType::Bytes;
        }
    }

    bool needed() const { return !times_.empty() || keySize_ > 0; }

    // The key's first field as text, for messages.
    QString keyText(const unsigned char* key) const {
        return QString::fromLatin1(codec::decodeField(info_.fields.front(), key).toText());
    }

    // Returns the damage found in one record, or an empty text.
    QString check(const unsigned char* rec) {
        ++seen_;
        for (const auto& [field, off] : times_) {
            const Value v = codec::decodeField(*field, rec + off);
            if (!v.isNull() && (v.msecs() < 0 || v.msecs() >= kMsPerDay))
                return QStringLiteral("record %1 holds a time of %2 ms in field %3, outside a day")
                    .arg(seen_)
                    .arg(v.msecs())
                    .arg(QString::fromLatin1(field->name));
        }
        if (keySize_ == 0)
            return {};
        const auto n = static_cast<std::size_t>(keySize_);
        if (!ordered_) {
            keys_.append(reinterpret_cast<const char*>(rec), keySize_);
            return {};
        }
        if (!last_.isEmpty()) {
            const int c = std::memcmp(last_.constData(), rec, n);
            if (c == 0)
                return QStringLiteral("key %1 appears twice").arg(keyText(rec));
            if (c > 0)
                return QStringLiteral("the records are out of key order at key %1")
                    .arg(keyText(rec));
        }
        last_ = QByteArray(reinterpret_cast<const char*>(rec), keySize_);
        return {};
    }

    // Keys whose order depends on a collation are not checked for order, only for repeats.
    QString finish() const {
        if (ordered_ || keys_.isEmpty())
            return {};
        const auto n = static_cast<std::size_t>(keySize_);
        const std::size_t count = static_cast<std::size_t>(keys_.size()) / n;
        std::vector<std::size_t> order(count);
        for (std::size_t i = 0; i < count; ++i)
            order[i] = i;
        auto at = [&](std::size_t i) {
            return reinterpret_cast<const unsigned char*>(keys_.constData()) + i * n;
        };
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return std::memcmp(at(a), at(b), n) < 0; });
        for (std::size_t i = 1; i < count; ++i) {
            if (std::memcmp(at(order[i - 1]), at(order[i]), n) == 0)
                return QStringLiteral("key %1 appears twice").arg(keyText(at(order[i])));
        }
        return {};
    }

private:
    const TableInfo& info_;
    int keySize_ = 0;
    bool ordered_ = true;
    std::vector<std::pair<const FieldDef*, int>> times_;
    std::int64_t seen_ = 0;
    QByteArray last_;
    QByteArray keys_;
};

} // namespace

Status TableReader::verifyIndex(RecordCheck records) {
    const QString pxPath = indexPath();
    const QString shownTable = QDir::toNativeSeparators(path_);
    const QString shownIndex = QDir::toNativeSeparators(pxPath);
    if (!QFileInfo::exists(pxPath))
        return fail(QStringLiteral("Table file %1 is keyed, but its primary index %2 is missing")
                        .arg(shownTable, shownIndex));
    Result<PrimaryIndex> read = readPrimaryIndex(pxPath);
    if (!read)
        return fail(read.error());
    const PrimaryIndex& idx = read.value();
    auto mismatch = [&](const QString& why) { return fail(indexMismatch(why)); };

    const FieldDef& key = info_.fields.front();
    const int keyBytes = keySize();
    if (idx.keyField.type != key.type || idx.keyField.size != key.size ||
        idx.entrySize != keyBytes + 6)
        return mismatch(QStringLiteral("the index is keyed on a field of another kind"));

    std::int64_t listed = 0;
    const std::vector<IndexEntry> none;
    const std::vector<IndexEntry>& leaves = idx.levels.empty() ? none : idx.levels.back();
    for (const IndexEntry& e : leaves)
        listed += e.count;
    if (listed != info_.recordCount)
        return mismatch(QStringLiteral("the index lists %1 records, the table holds %2")
                            .arg(listed)
                            .arg(info_.recordCount));

    // The leaves in index order are the data blocks in key order.
    std::map<int, DataBlock> byNumber;
    for (const DataBlock& b : blocks_)
        byNumber[b.number] = b;
    std::vector<DataBlock> order;
    std::vector<bool> listedBlock(65536);
    for (const IndexEntry& e : leaves) {
        const auto it = byNumber.find(static_cast<int>(e.block));
        if (it == byNumber.end())
            return mismatch(QStringLiteral("the index points at block %1, which holds no records")
                                .arg(e.block));
        if (listedBlock[e.block])
            return mismatch(QStringLiteral("the index lists block %1 twice").arg(e.block));
        listedBlock[e.block] = true;
        if (it->second.count != e.count)
            return mismatch(QStringLiteral("the index counts %1 records in block %2, it holds %3")
                                .arg(e.count)
                                .arg(e.block)
                                .arg(it->second.count));
        order.push_back(it->second);
    }
    // Counts that add up with every listed block present leave no block out.

    auto checks = std::make_unique<RecordChecks>();
    checks->keyBytes = keyBytes;
    for (const IndexEntry& e : leaves)
        checks->firstKeys.push_back(e.key);
    // The records are checked in key order; a walk goes in file order, so can check them only
    // where the two agree.
    const bool sameOrder =
        std::equal(order.begin(), order.end(), blocks_.begin(), blocks_.end(),
                   [](const DataBlock& a, const DataBlock& b) { return a.number == b.number; });
    if (records == RecordCheck::DuringWalk && sameOrder) {
        walkChecks_ = std::move(checks);
        return {};
    }
    return walk(order, checks.get(), {});
}

// Reads the records of the blocks in the given order and, with checks, checks each before it is
// handed to visit (when there is one).
Status TableReader::walk(const std::vector<DataBlock>& order, const RecordChecks* checks,
                         const std::function<bool(const unsigned char*)>& visit) const {
    std::optional<RecordChecker> checker;
    if (checks) {
        checker.emplace(info_, checks->keyBytes);
        if (!checker->needed() && !visit)
            return {};
        if (!checker->needed())
            checker.reset();
    }
    const auto keyBytes = static_cast<std::size_t>(checks ? checks->keyBytes : 0);
    BlockWindow window(*file_, fileSize_, info_);
    QString why;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const unsigned char* p = window.records(order[i], &why);
        if (!p)
            return fail(QStringLiteral("Cannot read table file %1: %2")
                            .arg(QDir::toNativeSeparators(path_), why));
        if (checker && i < checks->firstKeys.size()) {
            const auto* listed =
                reinterpret_cast<const unsigned char*>(checks->firstKeys[i].constData());
            if (std::memcmp(p, listed, keyBytes) != 0)
                return fail(indexMismatch(QStringLiteral("block %1 starts with key %2, the index "
                                                         "says %3")
                                              .arg(order[i].number)
                                              .arg(checker->keyText(p))
                                              .arg(checker->keyText(listed))));
        }
        for (int k = 0; k < order[i].count; ++k) {
            const unsigned char* rec = p + k * info_.recordSize;
            if (checker) {
                if (const QString bad = checker->check(rec); !bad.isEmpty())
                    return fail(damaged(bad));
            }
            if (visit && !visit(rec))
                return {};
        }
    }
    if (checker) {
        if (const QString bad = checker->finish(); !bad.isEmpty())
            return fail(damaged(bad));
    }
    return {};
}

int TableReader::fieldIndex(const QByteArray& name) const {
    for (std::size_t i = 0; i < info_.fields.size(); ++i) {
        if (info_.fields[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

Status TableReader::forEachRaw(const std::function<bool(const unsigned char*)>& visit) const {
    return walk(blocks_, walkChecks_.get(), visit);
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
