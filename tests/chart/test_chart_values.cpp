#include "chart/chart_values.h"
#include "readings/reading_quantity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace kx;

namespace {

const std::string kOhm = "\xA6\xB8";

} // namespace

TEST(ReadingNumber, PlainReadingsInTheirUnitsBase) {
    EXPECT_DOUBLE_EQ(*readingNumber("950", "M" + kOhm), 950e6);
    EXPECT_DOUBLE_EQ(*readingNumber("1.20", "G" + kOhm), 1.2e9);
    EXPECT_LT(*readingNumber("950", "M" + kOhm), *readingNumber("1.20", "G" + kOhm));
    EXPECT_DOUBLE_EQ(*readingNumber("12.5", "k" + kOhm), 12500);
    EXPECT_DOUBLE_EQ(*readingNumber("3.2", "T" + kOhm), 3.2e12);
    EXPECT_DOUBLE_EQ(*readingNumber("0.500", kOhm), 0.5);
    EXPECT_DOUBLE_EQ(*readingNumber("-230", "V"), -230);
    EXPECT_DOUBLE_EQ(*readingNumber("+5", "V"), 5);
    EXPECT_DOUBLE_EQ(*readingNumber("  42 ", " V "), 42) << "blanks around are allowed";
    EXPECT_DOUBLE_EQ(*readingNumber("1234.", ""), 1234) << "a point after the last digit";
    EXPECT_DOUBLE_EQ(*readingNumber(".5", ""), 0.5);
    EXPECT_DOUBLE_EQ(*readingNumber("0000", ""), 0);
    EXPECT_DOUBLE_EQ(*readingNumber("7", "xyz"), 7) << "an unknown unit counts as the base";
    EXPECT_DOUBLE_EQ(*readingNumber("7", "M"), 7) << "a prefix alone is not a unit";
}

TEST(ReadingNumber, TextsThatAreNoNumberAreGaps) {
    for (const char* text :
         {"",    "   ", "-",   "----", "--.--", "0L",   "OL",  ".0L", "L", "1.2.3", "1,5",
          "12a", "a12", "1e5", "inf",  "nan",   "0x10", "- 5", "1 2", ".", "-."}) {
        EXPECT_FALSE(readingNumber(text, "V").has_value()) << '"' << text << '"';
    }
}

TEST(ReadingNumber, LongAndHugeTextsStayFiniteOrAreRefused) {
    EXPECT_NEAR(*readingNumber("1234567890123456789012", ""), 1.234567890123456789e21, 1e7);
    EXPECT_NEAR(*readingNumber("0.0000000000000000000001", ""), 1e-22, 1e-30);
    EXPECT_FALSE(readingNumber(std::string(400, '9'), "").has_value());
    EXPECT_FALSE(readingNumber(std::string(299, '9'), "T" + kOhm).has_value());
    // Bytes of every value must never throw or read outside the text.
    std::string junk;
    for (int c = 0; c < 256; ++c)
        junk.push_back(static_cast<char>(c));
    EXPECT_FALSE(readingNumber(junk, junk).has_value());
    EXPECT_FALSE(readingNumber(std::string_view("1\0"
                                                "2",
                                                3),
                               "")
                     .has_value());
}

TEST(UnitFactor, SiPrefixesOfTheUnits) {
    EXPECT_EQ(unitFactor("V"), 1);
    EXPECT_EQ(unitFactor(kOhm), 1);
    EXPECT_EQ(unitFactor("k" + kOhm), 1e3);
    EXPECT_EQ(unitFactor("K" + kOhm), 1e3);
    EXPECT_EQ(unitFactor("M" + kOhm), 1e6);
    EXPECT_EQ(unitFactor("G" + kOhm), 1e9);
    EXPECT_EQ(unitFactor("T" + kOhm), 1e12);
    EXPECT_EQ(unitFactor("mV"), 1e-3);
    EXPECT_EQ(unitFactor(""), 1);
}

TEST(RoundStep, OneTwoTwoAndAHalfFive) {
    EXPECT_DOUBLE_EQ(roundStep(100, 4), 25);
    EXPECT_DOUBLE_EQ(roundStep(10, 4), 2.5);
    EXPECT_DOUBLE_EQ(roundStep(7, 4), 2);
    EXPECT_DOUBLE_EQ(roundStep(3, 4), 1);
    EXPECT_DOUBLE_EQ(roundStep(0.3, 4), 0.1);
    EXPECT_DOUBLE_EQ(roundStep(15, 4), 5);
    EXPECT_DOUBLE_EQ(roundStep(0, 4), 1);
    EXPECT_DOUBLE_EQ(roundStep(-3, 4), 1);
}

TEST(ValueAxisLayout, HoldsTheValuesOnRoundTicks) {
    const ValueAxisLayout a = valueAxisLayout(950e6, 1.2e9);
    EXPECT_LE(a.lo, 950e6);
    EXPECT_GE(a.hi, 1.2e9);
    EXPECT_EQ(a.prefix, 'G');
    EXPECT_EQ(a.scale, 1e9);
    EXPECT_GE(a.tickCount, 3);
    EXPECT_LE(a.tickCount, 7);
    EXPECT_NEAR(a.lo + (a.tickCount - 1) * a.step, a.hi, a.step * 1e-9);
    // Labels tell the ticks apart: 0.90, 0.95 ... need two decimals, 1.0, 1.1 ... one.
    const double s = a.step / a.scale;
    EXPECT_NEAR(s * std::pow(10, a.decimals), std::round(s * std::pow(10, a.decimals)), 1e-9);
}

TEST(ValueAxisLayout, PrefixesFollowTheLargestEnd) {
    EXPECT_EQ(valueAxisLayout(0, 800).prefix, '\0');
    EXPECT_EQ(valueAxisLayout(0, 800).decimals, 0);
    EXPECT_EQ(valueAxisLayout(1500, 4200).prefix, 'k');
    EXPECT_EQ(valueAxisLayout(-400, 400).prefix, '\0');
    EXPECT_EQ(valueAxisLayout(2e12, 3e12).prefix, 'T');
    EXPECT_EQ(valueAxisLayout(0.001, 0.004).prefix, 'm');
    const ValueAxisLayout tiny = valueAxisLayout(0.10, 0.12);
    EXPECT_EQ(tiny.prefix, 'm');
    EXPECT_GT(tiny.tickCount, 2);
}

TEST(ValueAxisLayout, EqualReversedAndNonFiniteEnds) {
    const ValueAxisLayout one = valueAxisLayout(500, 500);
    EXPECT_LT(one.lo, 500);
    EXPECT_GT(one.hi, 500);
    const ValueAxisLayout zero = valueAxisLayout(0, 0);
    EXPECT_LT(zero.lo, 0);
    EXPECT_GT(zero.hi, 0);
    for (const ValueAxisLayout& a :
         {valueAxisLayout(5, 1), valueAxisLayout(NAN, 1), valueAxisLayout(0, INFINITY)}) {
        EXPECT_EQ(a.lo, 0);
        EXPECT_EQ(a.hi, 1);
    }
    const ValueAxisLayout wide = valueAxisLayout(-1e300, 1e300);
    EXPECT_TRUE(std::isfinite(wide.lo) && std::isfinite(wide.hi) && wide.tickCount > 1);
}
