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
    EXPECT_EQ(rc.IntervalCountdown, 10) << "the box change loaded the countdown";
    EXPECT_TRUE(offer("0")) << "the first reading begins a stretch: in whatever the countdown";
    EXPECT_FALSE(offer("1")) << "the countdown runs from it";
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

// Every 10 s, the edges of what the meter shows are kept: a reading that begins a stretch
// goes in at once, and the last reading the countdown passed over goes in, at its own time,
// before the reading that ends its stretch.
TEST_F(Recording, SamplingIntervalKeepsEachStretchsFirstAndLastReading) {
    const std::string g = "G\xA6\xB8";
    struct Step {
        int ticks; // of the one-second timer before the reading
        std::int32_t ms;
        std::string value;
        std::string unit;
        std::string_view mode = texts::Continuous;
        bool clearFirst = false;
    };
    using Record = std::string; // "No ms value"
    struct Case {
        const char* what;
        bool repeat;
        std::int32_t limit;
        std::vector<Step> steps;
        std::vector<Record> expected;
    };
    const std::vector<Case> cases = {
        {"dashes end a test and a number after them begins one",
         true,
         1000,
         {{0, 0, "1.00", g},
          {0, 1000, "1.20", g},
          {0, 2000, "----", g},
          {0, 3000, "----", g},
          {0, 4000, "2.00", g},
          {9, 13000, "2.10", g},
          {1, 14000, "2.20", g}},
         {"1 0 1.00", "2 1000 1.20", "3 3000 ----", "4 4000 2.00", "5 14000 2.20"}},
        {"with Repeat unticked a passed-over value the meter went back from is not kept",
         false,
         1000,
         {{0, 0, "1.00", g},
          {0, 1000, "1.20", g},
          {0, 2000, "1.00", g},
          {0, 3000, "----", g},
          {0, 4000, "0.50", g, texts::Timed}},
         {"1 0 1.00", "2 3000 ----", "3 4000 0.50"}},
        {"the record limit takes the kept reading before the one after it",
         true,
         2,
         {{0, 0, "1.00", g}, {0, 1000, "1.20", g}, {0, 2000, "0.50", g, texts::Timed}},
         {"1 0 1.00", "2 1000 1.20"}},
        {"a reading kept back is dropped with the table's records",
         true,
         1000,
         {{0, 0, "1.00", g}, {0, 1000, "1.20", g}, {0, 2000, "0.50", g, texts::Timed, true}},
         {"1 2000 0.50"}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadingsTable t;
        t.openScratch(readingsFields());
        ReadingTexts shown;
        RecordingControl control(shown, t);
        std::int32_t now = 0;
        control.setTimeOfDay([&] { return now; });
        control.setRepeat(c.repeat);
        control.setRecordLimit(c.limit);
        control.setIntervalEnabled(true);
        ASSERT_TRUE(control.RecordSITimeChange("10").ok());
        for (const Step& s : c.steps) {
            if (s.clearFirst) {
                ASSERT_TRUE(control.clearAll().ok());
            }
            for (int i = 0; i < s.ticks; ++i)
                control.SampInterTimeTimer();
            now = s.ms;
            shown.ReadingValue = s.value;
            shown.UnitText = s.unit;
            shown.FunctionText = s.mode == texts::Continuous ? texts::Ir500 : texts::Ir2500;
            shown.ModeText = s.mode;
            control.INDataToTable(1);
        }
        std::vector<Record> got;
        for (qint64 row = 0; row < t.rowCount(); ++row) {
            const std::optional<Reading> r = t.readingAt(row);
            ASSERT_TRUE(r.has_value());
            got.push_back(std::to_string(r->no) + ' ' + std::to_string(r->msOfDay.value_or(-1)) +
                          ' ' + r->value);
        }
        EXPECT_EQ(got, c.expected);
    }
}
