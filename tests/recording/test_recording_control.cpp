#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "recording/recording_control.h"

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct Recording : ::testing::Test {
    ReadingTexts texts;
    ReadingsTable table;
    RecordingControl rc{texts, table};
    std::vector<QString> errors;

    void SetUp() override {
        table.openScratch(readingsFields());
        rc.setTimeOfDay([] { return 3723004; }); // 01:02:03.004
        QObject::connect(&rc, &RecordingControl::recordingFailed,
                         [this](const QString& e) { errors.push_back(e); });
    }
    bool offer(std::string value) {
        texts.ReadingValue = std::move(value);
        return rc.INDataToTable(1);
    }
    qint64 count() { return table.recordCount().value(); }
};

} // namespace

TEST_F(Recording, AppendsAllFieldsInTheTable) {
    texts.ReadingValue = "1.234";
    texts.UnitText = "G\xA6\xB8";
    texts.FunctionText = "IR:5000V 1000G\xA6\xB8";
    texts.ModeText = "Continuous";
    EXPECT_TRUE(rc.INDataToTable(1));
    EXPECT_FALSE(rc.INDataToTable(2)) << "only the live table is a target";
    ASSERT_EQ(count(), 1);
    // The function's 16 bytes are kept whole.
    EXPECT_EQ(table.readingAt(0),
              (Reading{1, 3723004, "1.234", "G\xA6\xB8", "IR:5000V 1000G\xA6\xB8", "Continuous"}));
    EXPECT_EQ(rc.NextRecordNo, 2);
    EXPECT_EQ(rc.LastRecordedValue, "1.234");
}

TEST_F(Recording, RecordLimitIsInclusiveAndRaisingItContinues) {
    rc.setRecordLimit(1000);
    for (int i = 0; i < 1005; ++i)
        offer(std::to_string(i));
    EXPECT_EQ(count(), 1000);
    EXPECT_EQ(table.fieldText(999, "No"), "1000");
    rc.setRecordLimit(5000);
    EXPECT_TRUE(offer("x"));
    EXPECT_EQ(table.fieldText(1000, "No"), "1001");

    rc.setRecordLimit(10); // below the count: stops at once, deletes nothing
    EXPECT_FALSE(offer("y"));
    EXPECT_EQ(count(), 1001);
}

TEST_F(Recording, LimitlessStopsAfterTenMillion) {
    rc.setRecordLimit(RecordingControl::kLimitless);
    rc.NextRecordNo = RecordingControl::kLimitless;
    EXPECT_TRUE(offer("a"));
    EXPECT_FALSE(offer("b"));
    EXPECT_EQ(rc.NextRecordNo, RecordingControl::kLimitless + 1);
}

TEST_F(Recording, RepeatRuleComparesTheValueTextOnly) {
    rc.setRepeat(false);
    EXPECT_TRUE(offer("5.00"));
    EXPECT_FALSE(offer("5.00"));
    texts.UnitText = "V";
    texts.FunctionText = "DCV  600V";
    EXPECT_FALSE(offer("5.00")) << "unit and function do not matter";
    EXPECT_TRUE(offer("5.01"));
    ASSERT_TRUE(rc.clearAll().ok());
    EXPECT_FALSE(offer("5.01")) << "the last recorded value survives Clear All";
    EXPECT_TRUE(offer("5.02"));
    EXPECT_EQ(table.fieldText(0, "No"), "1");
    rc.setRepeat(true);
    EXPECT_TRUE(offer("5.02"));
}

TEST_F(Recording, SamplingIntervalCountsDownOnlyWhileTicked) {
    rc.setIntervalEnabled(true);
    EXPECT_TRUE(rc.RecordSITimeChange("10").ok());
    EXPECT_FALSE(offer("1")) << "the box change loaded the countdown";
    for (int i = 0; i < 10; ++i)
        rc.SampInterTimeTimer();
    EXPECT_TRUE(offer("1"));
    EXPECT_EQ(rc.IntervalCountdown, 10);
    for (int i = 0; i < 9; ++i) {
        rc.SampInterTimeTimer();
        EXPECT_FALSE(offer("2"));
    }
    rc.SampInterTimeTimer();
    EXPECT_TRUE(offer("2"));

    // Unticked: every reading passes, each still reloads the countdown, which then waits.
    rc.setIntervalEnabled(false);
    rc.SampInterTimeTimer();
    EXPECT_EQ(rc.IntervalCountdown, 10) << "the countdown keeps its value while unticked";
    EXPECT_TRUE(offer("3"));
    EXPECT_TRUE(offer("4"));
    rc.setIntervalEnabled(true);
    EXPECT_FALSE(offer("5"));
}

TEST_F(Recording, IntervalBoxTexts) {
    rc.setIntervalEnabled(true);
    for (const char* t : {"0", "", "-", "+"}) {
        EXPECT_TRUE(rc.RecordSITimeChange(t).ok()) << t;
        EXPECT_TRUE(offer(std::string("v") + t)) << "'" << t << "' never blocks";
        EXPECT_TRUE(offer(std::string("w") + t));
    }
    // A negative countdown is never counted down: blocked until the box changes.
    EXPECT_TRUE(rc.RecordSITimeChange("-3").ok());
    for (int i = 0; i < 20; ++i)
        rc.SampInterTimeTimer();
    EXPECT_FALSE(offer("n"));
    EXPECT_TRUE(rc.RecordSITimeChange("").ok());
    EXPECT_TRUE(offer("n"));

    // Text that does not convert: reported, the countdown stays, nothing is recorded.
    EXPECT_TRUE(rc.RecordSITimeChange("7").ok());
    const auto msg = rc.RecordSITimeChange("99999999999");
    EXPECT_EQ(msg.error(), "'99999999999' is not a valid integer value");
    EXPECT_EQ(rc.IntervalCountdown, 7);
    rc.setIntervalEnabled(false);
    const qint64 before = count();
    EXPECT_FALSE(offer("z"));
    EXPECT_EQ(count(), before);
    EXPECT_TRUE(errors.empty()) << "no box for each refused reading";

    EXPECT_TRUE(RecordingControl::RecordSITimeKeyPress('5'));
    EXPECT_TRUE(RecordingControl::RecordSITimeKeyPress(QChar(8)));
    EXPECT_FALSE(RecordingControl::RecordSITimeKeyPress('a'));
    EXPECT_FALSE(RecordingControl::RecordSITimeKeyPress('-'));
}

TEST_F(Recording, RepeatRefusalDoesNotReloadTheCountdown) {
    rc.setIntervalEnabled(true);
    rc.setRepeat(false);
    EXPECT_TRUE(rc.RecordSITimeChange("").ok());
    EXPECT_TRUE(offer("1"));
    EXPECT_TRUE(rc.RecordSITimeChange("5").ok());
    EXPECT_TRUE(rc.RecordSITimeChange("").ok());
    EXPECT_TRUE(rc.RecordSITimeChange("5").ok());
    for (int i = 0; i < 5; ++i)
        rc.SampInterTimeTimer();
    EXPECT_FALSE(offer("1")) << "refused by the repeat rule";
    EXPECT_EQ(rc.IntervalCountdown, 0);
    EXPECT_TRUE(offer("2")) << "the next different reading is recorded at once";
}

TEST_F(Recording, ClearAllRestartsNumberingAndEmptyTableIsUntouched) {
    ASSERT_TRUE(rc.clearAll().ok());
    EXPECT_EQ(rc.NextRecordNo, 1);
    EXPECT_TRUE(table.isOpen());
    offer("1");
    offer("2");
    table.close();
    const auto err = rc.clearAll();
    EXPECT_EQ(err.error(), "Cannot perform this operation on a closed dataset");
    EXPECT_EQ(rc.NextRecordNo, 3) << "a failed Clear All leaves the numbering";
}

TEST_F(Recording, TableErrorsAreReportedOnceAndRecordingKeepsTrying) {
    table.close();
    EXPECT_FALSE(offer("1"));
    EXPECT_FALSE(offer("2"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Cannot perform this operation on a closed dataset");
    EXPECT_EQ(rc.NextRecordNo, 1);
    EXPECT_TRUE(rc.LastRecordedValue.empty());
    table.openScratch(readingsFields());
    EXPECT_TRUE(offer("3"));
    EXPECT_EQ(table.fieldText(0, "No"), "1");
    table.close();
    offer("4");
    EXPECT_EQ(errors.size(), 2u) << "a new run of errors is reported again";
}

TEST_F(Recording, MissingFieldFailsWithTheFieldName) {
    auto fields = readingsFields();
    fields.erase(fields.begin() + 3); // no Unit
    table.openScratch(fields);
    EXPECT_FALSE(offer("1"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Field 'Unit' not found");
    EXPECT_EQ(count(), 0);
}
