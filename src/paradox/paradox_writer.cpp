#include "paradox/paradox_writer.h"

#include "common/replacing_file.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_index.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unistd.h>

namespace kx::px {

using codec::put16;
using codec::put32;

namespace {

constexpr int kVersionId = 0x0C; // version 7 layout
constexpr int kTableNameLen = 261;
constexpr int kMaxBlocks = 65535;
constexpr int kMaxNameLen = 25;

bool validBlockSize(int b) {
    return b == 1024 || b == 2048 || b == 3072 || b == 4096 || b == 8192 || b == 16384 ||
           b == 32768;
}

QString shownPath(const QString& p) {
    return QDir::toNativeSeparators(p);
}

// Puts a table, its index and the caller's companions in place in one change; the files
// beside the table take its mode and owner. With options.keepLock the new table file is locked
// under its temporary name before it takes the target's, and the lock is handed out after, so
// the name is never free of a lock in between.
Status commitTable(ReplacingFile& table, const std::vector<ReplacingFile*>& files,
                   const QStringList& remove, const WriteOptions& options, const QString& path) {
    std::vector<ReplacingFile*> all = files;
    all.insert(all.end(), options.companions.begin(), options.companions.end());
    for (ReplacingFile* f : all) {
        if (f == &table)
            continue;
        if (Status s = f->takeModeOf(table.temporaryPath()); !s)
            return s;
    }
    // The new file's own lock, held since it was created, goes with it to its name.
    const int lockFd = options.keepLock ? table.takeLock() : -1;
    if (Status s = commitTogether(all, remove + options.removeWith); !s) {
        if (lockFd >= 0)
            ::close(lockFd);
        return s;
    }
    if (options.keepLock)
        *options.keepLock = TableLock::adopt(path, lockFd);
    return {};
}

} // namespace

QString indexPathFor(const QString& tablePath) {
    const QFileInfo fi(linkedFile(tablePath));
    const QString ext = fi.suffix();
    const QString pxExt =
        (!ext.isEmpty() && ext == ext.toLower()) ? QStringLiteral("px") : QStringLiteral("PX");
    return fi.dir().filePath(fi.completeBaseName() + QLatin1Char('.') + pxExt);
}

QStringList indexPathsFor(const QString& tablePath) {
    const QFileInfo fi(linkedFile(tablePath));
    const QString base = fi.dir().filePath(fi.completeBaseName());
    const QString named = indexPathFor(tablePath);
    const QString other = named.endsWith(QLatin1String(".px")) ? base + QStringLiteral(".PX")
                                                               : base + QStringLiteral(".px");
    return {named, other};
}

Status checkFields(const std::vector<FieldDef>& fields, int blockSize) {
    if (!validBlockSize(blockSize))
        return fail(QStringLiteral("Invalid block size %1").arg(blockSize));
    if (fields.empty() || fields.size() > 255)
        return fail(QStringLiteral("A table needs 1 to 255 fields, not %1").arg(fields.size()));
    int recordSize = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        const QString name = QString::fromLatin1(f.name);
        if (f.name.isEmpty() || f.name.size() > kMaxNameLen || f.name.contains('\0'))
            return fail(QStringLiteral("Invalid field name '%1'").arg(name));
        for (std::size_t j = 0; j < i; ++j) {
            if (fields[j].name.toLower() == f.name.toLower())
                return fail(QStringLiteral("Duplicate field name '%1'").arg(name));
        }
        if (!isKnownType(static_cast<std::uint8_t>(f.type)))
            return fail(QStringLiteral("Field '%1' has an unknown type").arg(name));
        if (isBlobType(f.type))
            return fail(QStringLiteral("Field '%1': %2 fields cannot be written")
                            .arg(name, typeName(f.type)));
        const int fixed = fixedSize(f.type);
        bool sizeOk = true;
        if (f.type == FieldType::Bcd)
            sizeOk = f.size >= 0 && f.size <= 32;
        else if (fixed != 0)
            sizeOk = f.size == fixed;
        else
            sizeOk = f.size >= 1 && f.size <= 255;
        if (!sizeOk)
            return fail(QStringLiteral("Field '%1' of type %2 cannot have size %3")
                            .arg(name, typeName(f.type))
                            .arg(f.size));
        recordSize += storageSize(f);
    }
    if (recordSize > blockSize - 6)
        return fail(QStringLiteral("Records of %1 bytes do not fit blocks of %2 bytes")
                        .arg(recordSize)
                        .arg(blockSize));
    return {};
}

Result<std::unique_ptr<TableWriter>> TableWriter::create(const QString& path,
                                                         const std::vector<FieldDef>& fields,
                                                         const WriteOptions& options) {
    std::vector<FieldDef> defs = fields;
    for (FieldDef& f : defs) {
        if (fixedSize(f.type) != 0 && f.type != FieldType::Bcd && f.size == 0)
            f.size = fixedSize(f.type);
    }
    if (Status s = checkFields(defs, options.blockSize); !s)
        return fail(QStringLiteral("Cannot create %1: %2").arg(shownPath(path), s.error()));

    std::unique_ptr<TableWriter> w(new TableWriter);
    w->path_ = path;
    w->fields_ = defs;
    w->options_ = options;
    if (w->options_.tableName.isEmpty())
        w->options_.tableName = QFile::encodeName(QFileInfo(path).fileName());
    for (const FieldDef& f : defs) {
        w->offsets_.push_back(w->recordSize_);
        w->recordSize_ += storageSize(f);
    }
    w->perBlock_ = (options.blockSize - 6) / w->recordSize_;
    int need = 0x78 + 2 * static_cast<int>(defs.size()) + 4 + 4 * static_cast<int>(defs.size()) +
               kTableNameLen + 2 * static_cast<int>(defs.size()) + 6;
    for (const FieldDef& f : defs)
        need += static_cast<int>(f.name.size()) + 1;
    w->headerSize_ = (need + 0x7FF) / 0x800 * 0x800;
    w->block_ = QByteArray(options.blockSize, '\0');
    w->scratch_ = QByteArray(w->recordSize_, '\0');

    Result<std::unique_ptr<ReplacingFile>> f = ReplacingFile::begin(path);
    if (!f)
        return fail(f.error());
    w->file_ = f.take();
    return w;
}

TableWriter::~TableWriter() = default;

std::int64_t TableWriter::capacity() const {
    return static_cast<std::int64_t>(kMaxBlocks) * perBlock_;
}

Status TableWriter::appendStored(const unsigned char* stored) {
    if (closed_)
        return fail(QStringLiteral("Table %1 is closed").arg(shownPath(path_)));
    if (blocks_ == 0) {
        blocks_ = 1;
        inBlock_ = 0;
    } else if (inBlock_ == perBlock_) {
        if (blocks_ >= kMaxBlocks)
            return fail(QStringLiteral("Table %1 is full: it holds at most %2 records")
                            .arg(shownPath(path_))
                            .arg(capacity()));
        if (Status s = writeBlock(false); !s)
            return s;
        ++blocks_;
        inBlock_ = 0;
        std::memset(block_.data(), 0, static_cast<std::size_t>(block_.size()));
    }
    std::memcpy(block_.data() + 6 + static_cast<qsizetype>(inBlock_) * recordSize_, stored,
                static_cast<std::size_t>(recordSize_));
    ++inBlock_;
    ++count_;
    return {};
}

Status TableWriter::append(const Record& record) {
    if (record.size() != fields_.size())
        return fail(QStringLiteral("Table %1 has %2 fields, the record %3")
                        .arg(shownPath(path_))
                        .arg(fields_.size())
                        .arg(record.size()));
    auto* out = reinterpret_cast<unsigned char*>(scratch_.data());
    QString error;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldDef& f = fields_[i];
        const Value* v = &record[i];
        Value next;
        if (f.type == FieldType::AutoInc) {
            if (v->isNull()) {
                next = Value(autoInc_ + 1);
                v = &next;
            }
        }
        if (!codec::encodeField(f, *v, out + offsets_[i], &error))
            return fail(error);
        if (f.type == FieldType::AutoInc) {
            const std::int32_t n =
                static_cast<std::int32_t>(codec::decodeField(f, out + offsets_[i]).toInt());
            autoInc_ = std::max(autoInc_, n);
        }
    }
    return appendStored(out);
}

Status TableWriter::writeBlock(bool last) {
    auto* b = reinterpret_cast<unsigned char*>(block_.data());
    put16(b, last ? 0 : static_cast<std::uint32_t>(blocks_ + 1));
    put16(b + 2, static_cast<std::uint32_t>(blocks_ - 1));
    put16(b + 4, static_cast<std::uint32_t>((inBlock_ - 1) * recordSize_));
    const qint64 at = headerSize_ + static_cast<qint64>(blocks_ - 1) * options_.blockSize;
    return file_->writeAt(at, block_.constData(), block_.size());
}

QByteArray TableWriter::header() const {
    QByteArray h(headerSize_, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    const auto nf = static_cast<std::uint32_t>(fields_.size());
    const auto blocks = static_cast<std::uint32_t>(blocks_);
    put16(p + 0x00, static_cast<std::uint32_t>(recordSize_));
    put16(p + 0x02, static_cast<std::uint32_t>(headerSize_));
    p[0x04] = keyed_ ? 0 : 2;
    p[0x05] = static_cast<unsigned char>(options_.blockSize / 1024);
    put32(p + 0x06, static_cast<std::uint32_t>(count_));
    put16(p + 0x0A, blocks);
    put16(p + 0x0C, blocks);
    put16(p + 0x0E, blocks ? 1 : 0);
    put16(p + 0x10, blocks);
    put16(p + 0x21, nf);
    put16(p + 0x23, keyed_ ? 1 : 0);
    put32(p + 0x25, 0xFF00FF00u);
    p[0x39] = kVersionId;
    put16(p + 0x3A, blocks);
    p[0x3E] = 0x1F;
    p[0x3F] = 0x0F;
    put32(p + 0x49, static_cast<std::uint32_t>(autoInc_));
    put16(p + 0x58, 0x0100 | kVersionId);
    put16(p + 0x5A, 0x0100 | kVersionId);
    put16(p + 0x64, nf + 1);
    put16(p + 0x6A, static_cast<std::uint32_t>(options_.codePage));
    int pos = 0x78;
    for (const FieldDef& f : fields_) {
        p[pos++] = static_cast<unsigned char>(f.type);
        p[pos++] = static_cast<unsigned char>(f.size);
    }
    pos += 4 + 4 * static_cast<int>(nf); // name pointers, meaningful only in memory
    const QByteArray tn = options_.tableName.left(kTableNameLen - 1);
    std::memcpy(p + pos, tn.constData(), static_cast<std::size_t>(tn.size()));
    pos += kTableNameLen;
    for (const FieldDef& f : fields_) {
        std::memcpy(p + pos, f.name.constData(), static_cast<std::size_t>(f.name.size()));
        pos += static_cast<int>(f.name.size()) + 1;
    }
    for (std::uint32_t i = 1; i <= nf; ++i, pos += 2)
        put16(p + pos, i);
    std::memcpy(p + pos, "ascii", 6);
    return h;
}

Status TableWriter::flush() {
    if (closed_)
        return fail(QStringLiteral("Table %1 is closed").arg(shownPath(path_)));
    if (blocks_ > 0) {
        if (Status s = writeBlock(true); !s)
            return s;
    }
    const QByteArray h = header();
    return file_->writeAt(0, h.constData(), h.size());
}

Result<std::unique_ptr<ReplacingFile>> TableWriter::finish() {
    if (Status s = flush(); !s) {
        file_->abandon();
        closed_ = true;
        return fail(s.error());
    }
    closed_ = true;
    return std::move(file_);
}

Status TableWriter::close() {
    Result<std::unique_ptr<ReplacingFile>> f = finish();
    if (!f)
        return f.status();
    // An index left beside the old file (in either case of its name) would describe another
    // table: it goes in the same change.
    return commitTable(*f.value(), {f.value().get()}, indexPathsFor(path_), options_, path_);
}

Status createTable(const QString& path, const std::vector<FieldDef>& fields,
                   const WriteOptions& options) {
    return writeTable(path, fields, {}, options);
}

Status writeTable(const QString& path, const std::vector<FieldDef>& fields,
                  const std::vector<Record>& rows, const WriteOptions& options) {
    // The old index goes with the old table: one that may not go is refused before the work.
    for (const QString& px : indexPathsFor(path)) {
        if (QFileInfo::exists(px) || QFileInfo(px).isSymLink()) {
            if (Result<WriteTarget> t = checkWriteTarget(px); !t)
                return t.status();
        }
    }
    Result<std::unique_ptr<TableWriter>> w = TableWriter::create(path, fields, options);
    if (!w)
        return w.status();
    for (const Record& r : rows) {
        if (Status s = w.value()->append(r); !s)
            return s;
    }
    return w.value()->close();
}

Status writeKeyedTable(const QString& path, const std::vector<FieldDef>& fields,
                       const std::vector<Record>& rows, const WriteOptions& options) {
    return writeKeyedTable(
        path, fields, rows.size(), [&rows](std::size_t i) -> const Record& { return rows[i]; },
        options);
}

namespace {

// How a keyed write reads its rows: the stored form of one row's key, and the appending of one
// row to a writer.
struct KeyedRows {
    std::function<Status(std::size_t row, unsigned char* key)> keyOf;
    std::function<Status(TableWriter& w, std::size_t row)> append;
};

// The index over a table written in key order, and both put in place together.
Status finishKeyed(const QString& path, TableWriter& w, std::size_t n,
                   const std::function<const unsigned char*(std::size_t)>& keyAt,
                   const WriteOptions& options) {
    const FieldDef key = w.fields().front();
    const auto keySize = static_cast<qsizetype>(storageSize(key));
    const auto perBlock = static_cast<std::size_t>(w.recordsPerBlock());
    std::vector<IndexEntry> leaves;
    for (std::size_t i = 0; i < n; i += perBlock) {
        IndexEntry e;
        e.key = QByteArray(reinterpret_cast<const char*>(keyAt(i)), keySize);
        e.block = static_cast<std::uint32_t>(i / perBlock + 1);
        e.count = static_cast<std::uint32_t>(std::min(perBlock, n - i));
        leaves.push_back(e);
    }
    if (leaves.size() > static_cast<std::size_t>(kMaxBlocks))
        return fail(QStringLiteral("Table %1 is full: it holds at most %2 records")
                        .arg(shownPath(path))
                        .arg(w.capacity()));
    const QString pxPath = indexPathFor(path);
    Result<std::unique_ptr<ReplacingFile>> px =
        writePrimaryIndex(pxPath, key, leaves, options.blockSize, kVersionId,
                          QFile::encodeName(QFileInfo(pxPath).fileName()));
    if (!px)
        return px.status();
    Result<std::unique_ptr<ReplacingFile>> table = w.finish();
    if (!table)
        return table.status();
    return commitTable(*table.value(), {table.value().get(), px.value().get()}, {}, options, path);
}

// The keyed write shared by both row sources. A recording is numbered in order, so the rows
// are first written as they come, checking the order on the way; rows out of order (or a
// duplicate) send the write back to the start for a pass over the keys and a sorted one.
Status writeKeyed(const QString& path, const std::vector<FieldDef>& fields, std::size_t n,
                  const KeyedRows& rows, const WriteOptions& options) {
    const int keySizeInt = storageSize(fields.front());
    const auto keySize = static_cast<std::size_t>(keySizeInt);
    // The index is written last: a target it cannot have is refused before the work starts.
    if (Result<WriteTarget> px = checkWriteTarget(indexPathFor(path)); !px)
        return px.status();
    auto goOn = [&](std::int64_t done, std::int64_t total) {
        return !options.progress || (done & 0x1FFF) != 0 || options.progress(done, total);
    };
    auto total = static_cast<std::int64_t>(n);
    {
        Result<std::unique_ptr<TableWriter>> created = TableWriter::create(path, fields, options);
        if (!created)
            return created.status();
        TableWriter& w = *created.value();
        w.setKeyed(true);
        const auto perBlock = static_cast<std::size_t>(w.recordsPerBlock());
        // The first key of each block, and the key before the current one.
        std::vector<unsigned char> firstKeys;
        std::vector<unsigned char> key(keySize), previous(keySize);
        bool ascending = true;
        for (std::size_t i = 0; i < n && ascending; ++i) {
            if (!goOn(static_cast<std::int64_t>(i), total))
                return fail(cancelledMessage());
            if (Status s = rows.keyOf(i, key.data()); !s)
                return s;
            if (i > 0 && std::memcmp(previous.data(), key.data(), keySize) >= 0) {
                ascending = false;
                break;
            }
            if (i % perBlock == 0)
                firstKeys.insert(firstKeys.end(), key.begin(), key.end());
            if (Status s = rows.append(w, i); !s)
                return s;
            previous.swap(key);
        }
        if (ascending) {
            return finishKeyed(
                path, w, n,
                [&](std::size_t i) { return firstKeys.data() + i / perBlock * keySize; }, options);
        }
        // The writer goes, and its temporary file with it.
    }

    Result<std::unique_ptr<TableWriter>> created = TableWriter::create(path, fields, options);
    if (!created)
        return created.status();
    TableWriter& w = *created.value();
    // Two passes over the rows (keys, then records) make up the progress from here on.
    total = static_cast<std::int64_t>(n) * 2;
    std::vector<unsigned char> keys(n * keySize);
    for (std::size_t i = 0; i < n; ++i) {
        if (!goOn(static_cast<std::int64_t>(i), total))
            return fail(cancelledMessage());
        if (Status s = rows.keyOf(i, keys.data() + i * keySize); !s)
            return s;
    }
    auto keyAt = [&](std::size_t i) { return keys.data() + i * keySize; };
    auto less = [&](std::size_t a, std::size_t b) {
        return std::memcmp(keyAt(a), keyAt(b), keySize) < 0;
    };
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), less);
    for (std::size_t i = 1; i < n; ++i) {
        // Nothing is written: the old table and its index stay as they were.
        if (!less(order[i - 1], order[i]))
            return fail(
                QStringLiteral("Key violation: %1 %2 appears twice")
                    .arg(QString::fromLatin1(fields.front().name),
                         QString::fromLatin1(
                             codec::decodeField(fields.front(), keyAt(order[i])).toText())));
    }
    w.setKeyed(true);
    for (std::size_t i = 0; i < n; ++i) {
        if (!goOn(static_cast<std::int64_t>(n + i), total))
            return fail(cancelledMessage());
        if (Status s = rows.append(w, order[i]); !s)
            return s;
    }
    return finishKeyed(
        path, w, n, [&](std::size_t i) { return keyAt(order[i]); }, options);
}

} // namespace

Status writeKeyedTable(const QString& path, const std::vector<FieldDef>& fields, std::size_t count,
                       const RowSource& rowAt, const WriteOptions& options) {
    if (fields.empty())
        return checkFields(fields, options.blockSize);
    const FieldDef key = fields.front();
    QString error;
    KeyedRows rows;
    rows.keyOf = [&](std::size_t i, unsigned char* keyOut) -> Status {
        const Record& row = rowAt(i);
        if (row.empty())
            return fail(QStringLiteral("Table %1 has %2 fields, a record 0")
                            .arg(shownPath(path))
                            .arg(fields.size()));
        std::memset(keyOut, 0, static_cast<std::size_t>(storageSize(key)));
        if (!codec::encodeField(key, row[0], keyOut, &error))
            return fail(error);
        return {};
    };
    rows.append = [&](TableWriter& w, std::size_t i) { return w.append(rowAt(i)); };
    return writeKeyed(path, fields, count, rows, options);
}

Status writeKeyedTableStored(const QString& path, const std::vector<FieldDef>& fields,
                             std::size_t count, const StoredRowSource& rowAt,
                             const WriteOptions& options) {
    if (fields.empty())
        return checkFields(fields, options.blockSize);
    const auto keySize = static_cast<std::size_t>(storageSize(fields.front()));
    std::vector<unsigned char> record;
    KeyedRows rows;
    rows.keyOf = [&](std::size_t i, unsigned char* keyOut) -> Status {
        std::fill(keyOut, keyOut + keySize, 0);
        return rowAt(i, keyOut, 1);
    };
    rows.append = [&](TableWriter& w, std::size_t i) -> Status {
        record.assign(static_cast<std::size_t>(w.recordSize()), 0);
        if (Status s = rowAt(i, record.data(), fields.size()); !s)
            return s;
        return w.appendStored(record.data());
    };
    return writeKeyed(path, fields, count, rows, options);
}

Status emptyTable(const QString& path) {
    Result<TableReader> r = TableReader::open(path);
    if (!r)
        return r.status();
    const TableInfo& info = r.value().info();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("Cannot open table file %1: %2").arg(shownPath(path), in.errorString()));
    QByteArray h = in.read(info.headerSize);
    in.close();
    if (h.size() != info.headerSize)
        return fail(QStringLiteral("Cannot read table file %1").arg(shownPath(path)));
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    put32(p + 0x06, 0);
    put16(p + 0x0A, 0);
    put16(p + 0x0C, 0);
    put16(p + 0x0E, 0);
    put16(p + 0x10, 0);
    put16(p + 0x3A, 0);

    const QString pxPath = indexPathFor(path);
    std::unique_ptr<ReplacingFile> px;
    if (info.keyed && QFile::exists(pxPath)) {
        const FieldDef key = info.fields.front();
        Result<std::unique_ptr<ReplacingFile>> f =
            writePrimaryIndex(pxPath, key, {}, info.blockSize, info.fileVersionId,
                              QFile::encodeName(QFileInfo(pxPath).fileName()));
        if (!f)
            return f.status();
        px = f.take();
        if (Status s = px->takeModeOf(path); !s)
            return s;
    }
    Result<std::unique_ptr<ReplacingFile>> out = ReplacingFile::begin(path);
    if (!out)
        return out.status();
    if (Status s = out.value()->writeAt(0, h.constData(), h.size()); !s)
        return s;
    if (px)
        return commitTogether({out.value().get(), px.get()});
    return out.value()->commit();
}

} // namespace kx::px

namespace kx::px {

Result<IndexRebuild> rebuildPrimaryIndex(const QString& path) {
    const QString shown = shownPath(path);
    Result<TableReader> opened = TableReader::open(path, IndexCheck::Ignore);
    if (!opened)
        return fail(opened.error());
    const TableReader& table = opened.value();
    const TableInfo& info = table.info();
    IndexRebuild done;
    done.records = info.recordCount;
    // A repair may rewrite the table and its index: a read-only one (or one that is no plain
    // file) is refused before anything changes.
    if (Result<WriteTarget> t = checkWriteTarget(path); !t)
        return fail(t.error());
    for (const QString& px : indexPathsFor(path)) {
        if (QFileInfo::exists(px) || QFileInfo(px).isSymLink() || px == table.indexPath()) {
            if (Result<WriteTarget> t = checkWriteTarget(px); !t)
                return fail(t.error());
        }
    }
    if (!info.keyed) {
        for (const QString& px : indexPathsFor(path)) {
            if (!QFileInfo::exists(px))
                continue;
            if (!QFile::remove(px))
                return fail(QStringLiteral("Cannot remove the index %1").arg(shownPath(px)));
            done.removedIndex = true;
        }
        return done;
    }
    if (info.keyFieldCount != 1)
        return fail(QStringLiteral("Cannot rebuild the index of %1: it is keyed on %2 fields")
                        .arg(shown)
                        .arg(info.keyFieldCount));
    done.keyed = true;
    const FieldDef key = info.fields.front();
    const auto keySize = static_cast<std::size_t>(table.keySize());
    const auto recordSize = static_cast<std::size_t>(info.recordSize);

    // Keys in chain order, and whether that already is key order.
    std::vector<unsigned char> keys;
    keys.reserve(static_cast<std::size_t>(info.recordCount) * keySize);
    std::vector<IndexEntry> leaves;
    bool sorted = true;
    QByteArray buf;
    for (const TableReader::DataBlock& b : table.dataBlocks()) {
        if (Status s = table.readBlock(b, &buf); !s)
            return fail(s.error());
        const auto* p = reinterpret_cast<const unsigned char*>(buf.constData());
        leaves.push_back(
            {QByteArray(buf.constData(), static_cast<qsizetype>(keySize)), b.number, b.count});
        for (int k = 0; k < b.count; ++k) {
            const unsigned char* rec = p + static_cast<std::size_t>(k) * recordSize;
            if (!keys.empty() && std::memcmp(&keys[keys.size() - keySize], rec, keySize) >= 0)
                sorted = false;
            keys.insert(keys.end(), rec, rec + keySize);
        }
    }
    const std::size_t n = keys.size() / std::max<std::size_t>(keySize, 1);
    auto keyAt = [&](std::size_t i) { return keys.data() + i * keySize; };
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (!sorted) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return std::memcmp(keyAt(a), keyAt(b), keySize) < 0;
        });
        for (std::size_t i = 1; i < n; ++i) {
            if (std::memcmp(keyAt(order[i - 1]), keyAt(order[i]), keySize) == 0)
                return fail(
                    QStringLiteral("Cannot rebuild the index of %1: key %2 appears twice")
                        .arg(shown, QString::fromLatin1(
                                        codec::decodeField(key, keyAt(order[i])).toText())));
        }
    }
    const QString pxPath = table.indexPath();
    const QByteArray pxName = QFile::encodeName(QFileInfo(pxPath).fileName());
    if (sorted) {
        // Only the index is new: the table file stays as it is.
        Result<std::unique_ptr<ReplacingFile>> px =
            writePrimaryIndex(pxPath, key, leaves, info.blockSize, info.fileVersionId, pxName);
        if (!px)
            return fail(px.error());
        if (Status s = px.value()->takeModeOf(path); !s)
            return fail(s.error());
        if (Status s = px.value()->commit(); !s)
            return fail(s.error());
        return done;
    }

    // Out of order: the records are written again, sorted, in a table of the same structure.
    done.reordered = true;
    QByteArray all;
    all.reserve(static_cast<qsizetype>(n * recordSize));
    if (Status s = table.forEachRaw([&](const unsigned char* rec) {
            all.append(reinterpret_cast<const char*>(rec), static_cast<qsizetype>(recordSize));
            return true;
        });
        !s)
        return fail(s.error());
    WriteOptions options;
    options.blockSize = info.blockSize;
    options.codePage = info.codePage ? info.codePage : options.codePage;
    options.tableName = info.tableName;
    Result<std::unique_ptr<TableWriter>> created = TableWriter::create(path, info.fields, options);
    if (!created)
        return fail(created.error());
    std::unique_ptr<TableWriter> w = created.take();
    w->setKeyed(true);
    const auto perBlock = static_cast<std::size_t>(w->recordsPerBlock());
    leaves.clear();
    for (std::size_t i = 0; i < n; i += perBlock) {
        leaves.push_back({QByteArray(reinterpret_cast<const char*>(keyAt(order[i])),
                                     static_cast<qsizetype>(keySize)),
                          static_cast<std::uint32_t>(i / perBlock + 1),
                          static_cast<std::uint32_t>(std::min(perBlock, n - i))});
    }
    Result<std::unique_ptr<ReplacingFile>> px =
        writePrimaryIndex(pxPath, key, leaves, info.blockSize, kVersionId, pxName);
    if (!px)
        return fail(px.error());
    for (std::size_t i : order) {
        const auto* rec = reinterpret_cast<const unsigned char*>(all.constData()) + i * recordSize;
        if (Status s = w->appendStored(rec); !s)
            return fail(s.error());
    }
    // Table and index change together, as every keyed write does.
    Result<std::unique_ptr<ReplacingFile>> rewritten = w->finish();
    if (!rewritten)
        return fail(rewritten.error());
    if (Status s = px.value()->takeModeOf(rewritten.value()->temporaryPath()); !s)
        return fail(s.error());
    if (Status s = commitTogether({rewritten.value().get(), px.value().get()}); !s)
        return fail(s.error());
    return done;
}

} // namespace kx::px
