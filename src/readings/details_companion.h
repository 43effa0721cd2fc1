#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace kx {

class ReplacingFile;
namespace px {
struct WriteOptions;
}

// The test details file that travels with a readings table (NAME.results.json beside NAME.db)
// as a file: where it lies, its bytes, and its place in the change that puts a new table in
// place. What it holds is the insulation tests' business (analysis/details_file.h).

// Far more than any details file holds; a bigger file is something else under that name.
inline constexpr qint64 kMaxDetailsFileBytes = 256 * 1024;

// "NAME.results.json" beside "NAME.db" (any extension); for a table reached through a symbolic
// link, beside the file the link names (linkedFile), where the table really is.
QString testDetailsPath(const QString& tablePath);

// The file's bytes, opened without ever waiting on whatever may have been put there since it
// was looked at; at most one byte more than a details file may hold.
Result<QByteArray> readDetailsBytes(const QString& path);
// The bytes of the details file beside a table, as a copy of the table takes them along;
// empty when there is none (or no table).
Result<QByteArray> testDetailsBytes(const QString& tablePath);

// The details file beside `tablePath` written with `bytes`, not yet in place, with the mode
// and owner of its table.
Result<std::unique_ptr<ReplacingFile>> beginDetails(const QString& tablePath,
                                                    const QByteArray& bytes);
// Removes the details file at `path` (a missing one is fine; anything but a plain file is
// refused).
Status removeDetails(const QString& path);

// The details of a new table, which replace those of an older table of its name in the same
// change that puts the table in place (px::WriteOptions::companions): a table never inherits
// older details, and a kill or a full disk leaves the old set or the new one, never a mix.
class DetailsCompanion {
public:
    // The file beside `tablePath` written with `bytes` (not yet in place), or, when `bytes` is
    // empty (the new table has none), an old file of that name set to go. Fails, before the
    // table is written, when the details file cannot be written or removed.
    static Result<DetailsCompanion> prepare(const QString& tablePath, const QByteArray& bytes);
    DetailsCompanion(DetailsCompanion&&) noexcept;
    DetailsCompanion& operator=(DetailsCompanion&&) noexcept;
    ~DetailsCompanion();

    // Adds the details to the table's write.
    void addTo(px::WriteOptions& options) const;

private:
    DetailsCompanion();
    std::unique_ptr<ReplacingFile> file_;
    QString remove_;
};

} // namespace kx
