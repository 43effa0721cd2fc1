#pragma once

#include <QObject>
#include <QString>
#include <QTime>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kx {

class ReadingsTable;

// A stretch of a recording with the link to the meter down: no reading could come in it. The
// table holds only times of day, so a gap is kept as two of them; a gap past midnight ends
// before it began.
struct LinkGap {
    QTime from; // the link went down
    QTime to;   // it came back (or the recording ended)
    QString why;

    // Its length in ms, across midnight when it ends before it began.
    qint64 lengthMs() const;
    bool operator==(const LinkGap&) const = default;
};

// "HH:MM:SS.zzz", as the details file keeps the times of a gap.
QString linkGapTimeText(const QTime& t);

// The longest of the gaps that lies between two readings taken at `beforeMs` and `afterMs`
// (times of day in ms; a time before the one before it is on the next day). The table keeps
// the times of readings as recorded, so both ends are compared to the second: a reading
// stamped in the second the link came back follows the gap. None when no gap lies between.
const LinkGap* linkGapBetween(std::span<const LinkGap> gaps, std::int64_t beforeMs,
                              std::int64_t afterMs);

// The rows of a readings table that are the first after a gap, kept current as the table
// grows, shrinks or is reset: a view marks them, and the chart breaks its line before them.
// An appended row costs one comparison; new gaps or a removed row walk the table once.
class LinkGapRows : public QObject {
    Q_OBJECT
public:
    explicit LinkGapRows(const ReadingsTable& table, QObject* parent = nullptr);

    // The gaps of the table's recording (its details); the rows are found again.
    void setGaps(std::vector<LinkGap> gaps);
    const std::vector<LinkGap>& gaps() const { return gaps_; }
    // Rows that follow a gap, ascending.
    const std::vector<std::int64_t>& rows() const { return rows_; }
    // The gap before `row` when it is the first after one.
    const LinkGap* gapBefore(std::int64_t row) const;
    // Whether a row in [first, end) is the first after a gap.
    bool anyIn(std::int64_t first, std::int64_t end) const;

Q_SIGNALS:
    // The rows marked changed.
    void changed();

private:
    std::optional<std::int64_t> timeAt(std::int64_t row) const;
    void findAll();
    void rowAppended(std::int64_t row);

    const ReadingsTable& table_;
    std::vector<LinkGap> gaps_;
    int timeField_ = -1;
    std::vector<std::int64_t> rows_;
    std::vector<const LinkGap*> gapOf_; // into gaps_, by rows_
};

} // namespace kx
