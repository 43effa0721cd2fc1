#include "readings/link_gaps.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/reading_rows.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kx;

namespace {

LinkGap gap(const char* from, const char* to, const char* why = "") {
    return {QTime::fromString(QString::fromLatin1(from), QStringLiteral("HH:mm:ss.zzz")),
            QTime::fromString(QString::fromLatin1(to), QStringLiteral("HH:mm:ss.zzz")),
            QString::fromLatin1(why)};
}

std::int64_t ms(const char* t) {
    return QTime::fromString(QString::fromLatin1(t), QStringLiteral("HH:mm:ss.zzz"))
        .msecsSinceStartOfDay();
}

} // namespace

// Which gap, if any, lies between two readings: the times of both are compared with a second's
// slack, and midnight does not hide a gap.
TEST(LinkGaps, TheGapBetweenTwoReadings) {
    const std::vector<LinkGap> gaps = {
        gap("10:42:13.250", "10:42:31.004", "silent"),
        gap("10:50:00.000", "10:50:02.000", "short"),
        gap("10:50:03.000", "10:50:20.000", "long"),
        gap("23:59:50.000", "00:00:10.000", "midnight"),
    };
    struct Case {
        const char* what;
        const char* before;
        const char* after;
        const char* found; // why of the gap found, nullptr for none
    };
    const std::vector<Case> cases = {
        {"the readings around it", "10:42:12.900", "10:42:31.500", "silent"},
        {"the next reading a moment early", "10:42:12.900", "10:42:30.600", "silent"},
        {"the last reading stamped after the drop", "10:42:13.700", "10:42:32.000", "silent"},
        {"two readings before it", "10:42:11.000", "10:42:12.000", nullptr},
        {"two readings after it", "10:42:32.000", "10:42:33.000", nullptr},
        {"the reading after it and the next", "10:42:31.500", "10:42:32.500", nullptr},
        {"two gaps between: the longest", "10:49:59.000", "10:50:21.000", "long"},
        {"across midnight", "23:59:49.000", "00:00:11.000", "midnight"},
        {"around midnight, no gap", "23:59:40.000", "23:59:45.000", nullptr},
    };
    for (const Case& c : cases) {
        const LinkGap* g = linkGapBetween(gaps, ms(c.before), ms(c.after));
        EXPECT_EQ(g ? g->why : QStringLiteral("none"),
                  c.found ? QString::fromLatin1(c.found) : QStringLiteral("none"))
            << c.what;
    }
    EXPECT_EQ(gaps[3].lengthMs(), 20000) << "a gap past midnight";
    EXPECT_EQ(linkGapTimeText(gaps[0].from), QStringLiteral("10:42:13.250"));
}

// The rows marked follow the table: appended readings, new gaps, a removed row, a reset.
TEST(LinkGaps, RowsAfterAGapFollowTheTable) {
    ReadingsTable table;
    table.openScratch(readingsFields());
    LinkGapRows rows(table);
    int changes = 0;
    QObject::connect(&rows, &LinkGapRows::changed, [&] { ++changes; });
    const std::int64_t t0 = ms("10:00:00.000");
    auto add = [&](int no, std::int64_t at) {
        kxtest::addRow(table, {no, at, "100", kxtest::kMOhm, "", ""});
    };
    add(1, t0);
    add(2, t0 + 1000);
    rows.setGaps({gap("10:00:01.500", "10:00:20.000"), gap("10:01:00.000", "10:01:30.000")});
    EXPECT_TRUE(rows.rows().empty()) << "no reading after the gaps yet";
    add(3, t0 + 20'100);
    add(4, t0 + 21'000);
    add(5, t0 + 95'000);
    EXPECT_EQ(rows.rows(), (std::vector<std::int64_t>{2, 4}));
    EXPECT_EQ(changes, 2);
    ASSERT_NE(rows.gapBefore(4), nullptr);
    EXPECT_EQ(rows.gapBefore(4)->from, QTime(10, 1));
    EXPECT_EQ(rows.gapBefore(3), nullptr);
    EXPECT_TRUE(rows.anyIn(3, 5));
    EXPECT_FALSE(rows.anyIn(3, 4));

    ASSERT_TRUE(table.deleteRecord(2).ok());
    EXPECT_EQ(rows.rows(), (std::vector<std::int64_t>{2, 3}))
        << "the first reading after a gap gone, the next one is marked";
    rows.setGaps({});
    EXPECT_TRUE(rows.rows().empty());
    rows.setGaps({gap("10:00:01.500", "10:00:20.000")});
    table.openScratch(readingsFields());
    EXPECT_TRUE(rows.rows().empty()) << "an emptied table has no marks";
}
