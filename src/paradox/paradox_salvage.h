#pragma once

#include "common/result.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kx::px {

// Records of a damaged table that a salvage left out: positions first to last, counted from 1
// over the data blocks in chain order (the order TableReader reads them in and names them
// in its messages), then over blocks the chain no longer reaches, in file order.
struct SalvageLoss {
    std::int64_t first = 0;
    std::int64_t last = 0;
    int block = 0; // the data block they lie in; 0 when the reason is not the block's
    QString why;
};

// What could still be read from a table file, read without trusting it. The header's layout
// is checked against what the file holds: a field list, record size, block size or header
// size that does not fit is worked out from the other values, the data blocks' links and the
// layouts the caller knows (`known`, matched by field names or kinds); a record count, block
// count or chain that is wrong is not needed, since every block in the file is looked at.
// Then each block's records are taken as far as they lie in the file and hold sound values.
struct SalvagedRecords {
    TableInfo info;                      // the layout the records were read by
    QByteArray records;                  // info.recordSize bytes each, in position order
    std::vector<std::int64_t> positions; // each record's position
    std::vector<SalvageLoss> lost;
    QStringList repairs; // what the file got wrong and what was used instead
    bool damaged() const { return !lost.empty() || !repairs.empty(); }
    std::int64_t count() const { return static_cast<std::int64_t>(positions.size()); }
};

// Reads every record that can still be read. Fails only when no layout fits the file (it is
// too short, or not a table at all). Reads the file only; no lock is taken.
Result<SalvagedRecords> readDamagedTable(const QString& path,
                                         const std::vector<std::vector<FieldDef>>& known = {});

// What salvageTable did.
struct SalvageReport {
    QString source;
    QString target;
    std::int64_t kept = 0; // records written to the target
    std::int64_t leftOut = 0;
    std::vector<SalvageLoss> lost;
    QStringList repairs;
};

// The salvaged table's name: "NAME-salvaged.db" beside the table.
QString salvagedPathFor(const QString& path);

// Writes the records readDamagedTable finds as a new table keyed on its first field, with its
// index, at salvagedPathFor(path), through the keyed writer; a key found again is left out
// (the first record holding it stays) and reported. The damaged file is only read, under its
// lock. An existing salvaged table is replaced only with `replace` (it may hold what an earlier
// salvage found, before the file was damaged further); a salvaged table in use is refused.
// `with` carries what goes in place together with the salvaged table (its companions).
Result<SalvageReport> salvageTable(const QString& path, bool replace,
                                   const std::vector<std::vector<FieldDef>>& known = {},
                                   WriteOptions with = {});

} // namespace kx::px
