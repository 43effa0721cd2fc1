#include "readings/link_gaps.h"

#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <algorithm>
#include <cmath>

namespace kx {
namespace {

// How far the times of a gap and of the readings around it may disagree: the link's events
// and the readings are stamped at different steps of a frame's way.
constexpr std::int64_t kSlackMs = 1000;

std::int64_t forward(std::int64_t from, std::int64_t to) {
    const std::int64_t d = (to - from) % px::kMsPerDay;
    return d < 0 ? d + px::kMsPerDay : d;
}

} // namespace

qint64 LinkGap::lengthMs() const {
    if (!from.isValid() || !to.isValid())
        return 0;
    return forward(from.msecsSinceStartOfDay(), to.msecsSinceStartOfDay());
}

QString linkGapTimeText(const QTime& t) {
    return t.toString(QStringLiteral("HH:mm:ss.zzz"));
}

const LinkGap* linkGapBetween(std::span<const LinkGap> gaps, std::int64_t beforeMs,
                              std::int64_t afterMs) {
    // Measured forward from a moment just before the earlier reading, the gap begins, then
    // ends after that reading and no later than (just after) the later one.
    const std::int64_t origin = beforeMs - kSlackMs;
    const std::int64_t until = forward(origin, afterMs + kSlackMs);
    const LinkGap* longest = nullptr;
    for (const LinkGap& g : gaps) {
        if (!g.from.isValid() || !g.to.isValid())
            continue;
        const std::int64_t f = forward(origin, g.from.msecsSinceStartOfDay());
        const std::int64_t t = forward(origin, g.to.msecsSinceStartOfDay());
        if (f <= t && t > kSlackMs && t <= until &&
            (!longest || g.lengthMs() > longest->lengthMs()))
            longest = &g;
    }
    return longest;
}

LinkGapRows::LinkGapRows(const ReadingsTable& table, QObject* parent)
    : QObject(parent), table_(table) {
    connect(&table_, &ReadingsTable::didReset, this, &LinkGapRows::findAll);
    connect(&table_, &ReadingsTable::rowRemoved, this, &LinkGapRows::findAll);
    connect(&table_, &ReadingsTable::rowAppended, this, &LinkGapRows::rowAppended);
    findAll();
}

void LinkGapRows::setGaps(std::vector<LinkGap> gaps) {
    if (gaps == gaps_)
        return;
    gaps_ = std::move(gaps);
    findAll();
}

std::optional<std::int64_t> LinkGapRows::timeAt(std::int64_t row) const {
    const int field = timeField_;
    if (field < 0 || row < 0 || row >= table_.rowCount())
        return std::nullopt;
    const RecordStore& records = table_.records();
    const auto r = static_cast<std::size_t>(row);
    if (records.isNull(r, field))
        return std::nullopt;
    if (table_.fields()[static_cast<std::size_t>(field)].type == px::FieldType::Timestamp) {
        const double ms = std::fmod(records.doubleValue(r, field), double(px::kMsPerDay));
        return std::isfinite(ms) ? std::optional<std::int64_t>(std::llround(ms)) : std::nullopt;
    }
    return records.intValue(r, field);
}

void LinkGapRows::findAll() {
    const std::optional<ReadingsFieldMap> map = matchReadingsFields(table_.fields());
    timeField_ = map ? (*map)[static_cast<std::size_t>(ReadingsField::Time)] : -1;
    std::vector<std::int64_t> rows;
    std::vector<const LinkGap*> gapOf;
    if (!gaps_.empty()) {
        std::optional<std::int64_t> before = timeAt(0);
        for (std::int64_t row = 1; row < table_.rowCount(); ++row) {
            const std::optional<std::int64_t> at = timeAt(row);
            if (before && at) {
                if (const LinkGap* g = linkGapBetween(gaps_, *before, *at)) {
                    rows.push_back(row);
                    gapOf.push_back(g);
                }
            }
            if (at)
                before = at;
        }
    }
    gapOf_ = std::move(gapOf);
    if (rows != rows_) {
        rows_ = std::move(rows);
        Q_EMIT changed();
    }
}

void LinkGapRows::rowAppended(std::int64_t row) {
    if (gaps_.empty() || row < 1 || (!rows_.empty() && rows_.back() >= row))
        return;
    const std::optional<std::int64_t> before = timeAt(row - 1);
    const std::optional<std::int64_t> at = timeAt(row);
    if (!before || !at)
        return;
    if (const LinkGap* g = linkGapBetween(gaps_, *before, *at)) {
        rows_.push_back(row);
        gapOf_.push_back(g);
        Q_EMIT changed();
    }
}

const LinkGap* LinkGapRows::gapBefore(std::int64_t row) const {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), row);
    if (it == rows_.end() || *it != row)
        return nullptr;
    return gapOf_[static_cast<std::size_t>(it - rows_.begin())];
}

bool LinkGapRows::anyIn(std::int64_t first, std::int64_t end) const {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), first);
    return it != rows_.end() && *it < end;
}

} // namespace kx
