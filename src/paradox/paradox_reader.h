// Room paradox: our Paradox table-file engine (reader, writer, primary index, lock). Uses
// common only.
#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QFile;

namespace kx::px {

// What a table file's header says, after validation.
struct TableInfo {
    int fileVersionId =
        0; // raw version byte: 3..4 version 3, 5..9 version 4, 10..11 version 5, 12 version 7
    int version = 0;    // 3, 4, 5 or 7
    bool keyed = false; // file type 0 (has a primary key)
    int headerSize = 0;
    int blockSize = 0;
    int recordSize = 0;
    std::int64_t recordCount = 0;
    int keyFieldCount = 0;
    int codePage = 0; // 0 when the version does not record one
    int fileBlocks = 0;
    std::vector<FieldDef> fields;
    QByteArray tableName;
};

// How open() treats the primary index of a keyed table.
enum class IndexCheck {
    Verify, // the index must be there and describe this table
    Ignore, // the index is not looked at (rebuilding it)
};

// When the stored records are checked.
enum class RecordCheck {
    AtOpen,     // open() reads every record once to check it, before any is handed out
    DuringWalk, // each walk checks every record before handing it out and fails at the first
                // damaged one; the caller drops what it was given then. The table is read once.
};

// Reads and validates a table file. open() checks the header, every field descriptor and
// name, the block chain (visited once each, all in range) and the record counts; it then reads
// the records once: times must lie within a day, and a keyed table must have its primary index
// beside it, listing every data block with its record count and first key, with no key twice.
// A damaged file is so refused with one message naming the damage before any record is handed
// out; with RecordCheck::DuringWalk the records are checked as they are visited instead, and the
// walk fails with that same message. Records are visited in file order, read in long steps
// without moving the file's position: reading is linear in the file size.
class TableReader {
public:
    static Result<TableReader> open(const QString& path, IndexCheck index = IndexCheck::Verify,
                                    RecordCheck records = RecordCheck::AtOpen);

    TableReader(TableReader&&) noexcept;
    TableReader& operator=(TableReader&&) noexcept;
    ~TableReader();

    const TableInfo& info() const { return info_; }
    const QString& path() const { return path_; }
    // Position of a field by name (exact bytes), or -1.
    int fieldIndex(const QByteArray& name) const;

    // Calls visit for each record in file order; visit returns false to stop early. The record
    // passed is reused between calls. A walk that fails may have handed out records before.
    Status forEach(const std::function<bool(const Record&)>& visit) const;
    // Same, but hands out the stored bytes of each record (info().recordSize bytes).
    Status forEachRaw(const std::function<bool(const unsigned char*)>& visit) const;
    Result<std::vector<Record>> readAll() const;

    // A data block that holds records: its number in the file and how many.
    struct DataBlock {
        std::uint16_t number = 0;
        std::uint16_t count = 0;
    };
    // The data blocks with records, in chain order.
    const std::vector<DataBlock>& dataBlocks() const { return blocks_; }
    // Reads the records of one data block, count * recordSize bytes, into buf.
    Status readBlock(const DataBlock& block, QByteArray* buf) const;
    // Bytes of a record's key, the leading keyFieldCount fields; 0 for a table without a key.
    int keySize() const;
    // The primary index file beside the table: the one present in either case of its
    // extension, or the name it would have.
    QString indexPath() const;

private:
    // The checks of the stored records a walk makes: the records' own, and with the primary
    // index the first key of each block, in the order the index lists the blocks.
    struct RecordChecks {
        int keyBytes = 0;
        std::vector<QByteArray> firstKeys; // one per block walked, when the index is verified
    };

    TableReader() = default;
    Status verifyIndex(RecordCheck records);
    Status walk(const std::vector<DataBlock>& order, const RecordChecks* checks,
                const std::function<bool(const unsigned char*)>& visit) const;
    QString damaged(const QString& what) const;
    QString indexMismatch(const QString& why) const;

    QString path_;
    TableInfo info_;
    std::vector<DataBlock> blocks_;
    std::unique_ptr<QFile> file_;
    qint64 fileSize_ = 0;
    // The checks left to each walk, with RecordCheck::DuringWalk.
    std::unique_ptr<RecordChecks> walkChecks_;
};

// Convenience wrappers.
Result<TableInfo> readTableInfo(const QString& path);
Result<std::vector<Record>> readTable(const QString& path);

} // namespace kx::px
