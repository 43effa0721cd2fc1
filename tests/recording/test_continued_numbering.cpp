// Recording into a table that already holds records continues after its highest number.
#include "paradox/paradox_value.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "recording/recording_control.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

using namespace kx;

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct ContinuedNumbering : ::testing::Test {
    ReadingTexts texts;
    ReadingsTable table;
    RecordingControl rc{texts, table};

    // A table with the given `No` field type holding these numbers (nullopt: a blank No);
    // `store`: the stored table's fields, SNo, STime, ...
    void fill(px::FieldType noType, const std::vector<std::optional<std::int32_t>>& numbers,
              bool store = false) {
        std::vector<px::FieldDef> fields = readingsFields(store);
        fields[0].type = noType;
        fields[0].size = noType == px::FieldType::Alpha ? 12 : fields[0].size;
        table.openScratch(fields);
        for (const std::optional<std::int32_t>& n : numbers) {
            px::Record r(fields.size());
            if (n)
                r[0] = noType == px::FieldType::Alpha    ? px::Value(QByteArray::number(*n))
                       : noType == px::FieldType::Number ? px::Value(static_cast<double>(*n))
                                                         : px::Value(*n);
            table.appendLoaded(r);
        }
    }
};

} // namespace

TEST_F(ContinuedNumbering, NextNumberFollowsTheHighest) {
    using T = px::FieldType;
    const struct {
        const char* what;
        T type;
        std::vector<std::optional<std::int32_t>> numbers;
        std::int32_t next;
        bool store = false;
    } cases[] = {
        {"empty table", T::Long, {}, 1},
        {"in order", T::Long, {1, 2, 3, 4}, 5},
        {"gaps, highest not last", T::Long, {3, 15, 9}, 16},
        {"blank numbers are skipped", T::Long, {std::nullopt, 7, std::nullopt}, 8},
        {"only blanks", T::Long, {std::nullopt}, 1},
        {"numbers below 1", T::Long, {-5, 0}, 1},
        {"a Number field", T::Number, {2, 40}, 41},
        {"numbers kept as text", T::Alpha, {12, 100, 9}, 101},
        {"a table without No", T::Long, {5}, 1, true},
        // No number above the largest exists: the limit then refuses every reading.
        {"the largest number", T::Long, {kMax}, kMax},
    };
    for (const auto& c : cases) {
        fill(c.type, c.numbers, c.store);
        rc.NextRecordNo = 77;
        rc.continueNumbering();
        EXPECT_EQ(rc.NextRecordNo, c.next) << c.what;
    }
    EXPECT_TRUE(rc.limitReached());
}

TEST_F(ContinuedNumbering, ContinuedRecordsNeverRepeatANumber) {
    fill(px::FieldType::Long, {1, 2, 3});
    rc.continueNumbering();
    texts.ReadingValue = "5.5";
    ASSERT_TRUE(rc.INDataToTable(1));
    ASSERT_TRUE(rc.INDataToTable(1));
    EXPECT_EQ(table.fieldText(3, "No"), "4");
    EXPECT_EQ(table.fieldText(4, "No"), "5");
}
