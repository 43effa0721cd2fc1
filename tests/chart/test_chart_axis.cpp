#include "chart/chart_axis.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace kx;

namespace {

const QString kMOhm = QStringLiteral("M\u03A9");
const QString kGOhm = QStringLiteral("G\u03A9");

QStringList labels(const ChartAxis& a) {
    QStringList out;
    for (const ChartTick& t : a.ticks)
        out << t.label;
    return out;
}

QStringList withUnit(std::initializer_list<const char*> numbers, const QString& unit) {
    QStringList out;
    for (const char* n : numbers)
        out << QString::fromLatin1(n) + unit;
    return out;
}

// Labels each in its own unit: "500 M" for 500 MΩ.
QStringList ohms(std::initializer_list<const char*> labels) {
    QStringList out;
    for (const char* l : labels)
        out << QString::fromLatin1(l) + QChar(0x03A9);
    return out;
}

QString joined(const ChartAxis& a) {
    return labels(a).join(QLatin1Char(' '));
}

// What every axis must be: ticks in order from one end to the other, few enough to read,
// each label its own.
void expectSound(const ChartAxis& a, const std::string& what) {
    ASSERT_GE(a.ticks.size(), 2u) << what;
    EXPECT_LE(a.ticks.size(), 7u) << what;
    EXPECT_EQ(a.ticks.front().at, a.lo) << what;
    EXPECT_EQ(a.ticks.back().at, a.hi) << what;
    std::set<QString> seen;
    for (std::size_t i = 0; i < a.ticks.size(); ++i) {
        EXPECT_TRUE(std::isfinite(a.ticks[i].at)) << what;
        if (i > 0) {
            EXPECT_LT(a.ticks[i - 1].at, a.ticks[i].at) << what;
        }
        EXPECT_TRUE(seen.insert(a.ticks[i].label).second)
            << what << ": " << joined(a).toStdString();
    }
}

} // namespace

TEST(ChartAxisLayout, ResistanceTicksByTheSpanOfTheReadings) {
    struct Case {
        double least, most;
        QStringList labels;
    };
    const Case cases[] = {
        // Within a factor of three: evenly spaced round ticks.
        {100e6, 190e6, ohms({"100 M", "125 M", "150 M", "175 M", "200 M"})},
        // 1 GΩ reached: each tick in the unit it reads best in.
        {950e6, 1.2e9, ohms({"900 M", "1.0 G", "1.1 G", "1.2 G"})},
        {500e6, 999e6, ohms({"400 M", "600 M", "800 M", "1.0 G"})},
        // A PI test rising into GΩ: the 1-2-5 sequence.
        {300e6, 1.5e9, ohms({"200 M", "500 M", "1 G", "2 G"})},
        {50e6, 1.2e9, ohms({"50 M", "100 M", "200 M", "500 M", "1 G", "2 G"})},
        {3e6, 40e6, ohms({"2 M", "5 M", "10 M", "20 M", "50 M"})},
        // Decades when 1-2-5 would be too many.
        {10e3, 500e6, ohms({"10 k", "100 k", "1 M", "10 M", "100 M", "1 G"})},
        {15e6, 1.5e9, ohms({"10 M", "100 M", "1 G", "10 G"})},
        // Every other decade when even the decades are too many.
        {1, 10e12, ohms({"1 ", "1 k", "1 M", "1 G", "1 T", "1000 T"})},
        // Below 1 Ω is a short circuit: on the floor.
        {1e-3, 1e-3, ohms({"0.9 ", "1.0 ", "1.1 "})},
        // One reading: a span around it.
        {250e6, 250e6, ohms({"220 M", "240 M", "260 M", "280 M"})},
        // Nothing above zero (short circuits, a page of gaps): 1 MΩ to 1 GΩ.
        {0, 0, ohms({"1 M", "10 M", "100 M", "1 G"})},
        {0, -5, ohms({"1 M", "10 M", "100 M", "1 G"})},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.least) + ".." + std::to_string(c.most);
        const ChartAxis a = resistanceAxis(c.least, c.most);
        EXPECT_EQ(a.quantity, ChartQuantity::Resistance);
        EXPECT_TRUE(a.logarithmic);
        EXPECT_EQ(labels(a), c.labels) << what;
        expectSound(a, what);
        if (c.most > 0) {
            EXPECT_LE(a.lo, a.at(c.least) + 1e-12) << what;
            EXPECT_GE(a.hi, a.at(c.most) - 1e-12) << what;
        }
    }
}

TEST(ChartAxisLayout, ResistanceAxisPlacesReadingsByTheirLogarithm) {
    const ChartAxis a = resistanceAxis(10e3, 500e6);
    EXPECT_EQ(a.unit, kMOhm);
    EXPECT_EQ(a.scale, 1e6);
    EXPECT_DOUBLE_EQ(a.at(50e3), std::log10(0.05));
    // A short circuit sits on the floor, not at minus infinity.
    EXPECT_EQ(a.at(0), a.lo);
    EXPECT_EQ(a.at(-1), a.lo);
    EXPECT_EQ(resistanceAxis(999e6, 999e6).unit, kMOhm);
    EXPECT_EQ(resistanceAxis(999e6, 1e9).unit, kGOhm);
    EXPECT_EQ(resistanceAxis(1e6, 5e12).unit, kGOhm) << "TΩ readings stay in GΩ";
}

// Every span the meter can give, and some it cannot: the axis holds the readings, its ticks
// are in order and readable.
TEST(ChartAxisLayout, ResistanceAxisHoldsEverySpan) {
    for (double least = 1e-3; least < 1e20; least *= 2.7) {
        for (double ratio : {1.0, 1.01, 1.5, 2.99, 3.0, 3.01, 9.9, 10.0, 37.0, 1e3, 1e7, 1e12}) {
            const double most = least * ratio;
            const std::string what = std::to_string(least) + ".." + std::to_string(most);
            const ChartAxis a = resistanceAxis(least, most);
            expectSound(a, what);
            // Inside the axis' span (1 Ω to 1 EΩ) a reading is where it belongs.
            if (least >= 1) {
                EXPECT_LE(a.lo, std::log10(least / a.scale) + 1e-9) << what;
            }
            if (most <= 1e18) {
                EXPECT_GE(a.hi, std::log10(most / a.scale) - 1e-9) << what;
            }
            // The readings fill a fair part of a narrow axis.
            if (ratio > 1 && ratio < 3 && least >= 1 && most <= 1e18) {
                EXPECT_GT(a.at(most) - a.at(least), 0.25 * (a.hi - a.lo)) << what;
            }
        }
    }
    for (const auto& [least, most] : {std::pair{1e-300, 1e300},
                                      {1e300, 1e300},
                                      {5.0, NAN},
                                      {NAN, 5.0},
                                      {INFINITY, INFINITY},
                                      {7e6, 3e6},
                                      // Closer than a double's steps between round ticks.
                                      {1e6, 1000000.0000000002}}) {
        const ChartAxis a = resistanceAxis(least, most);
        expectSound(a, std::to_string(least) + ".." + std::to_string(most));
    }
}

TEST(ChartAxisLayout, LinearAxesForVoltsAndPlainNumbers) {
    ChartAxis v = linearAxis(ChartQuantity::Voltage, 200, 239);
    EXPECT_FALSE(v.logarithmic);
    EXPECT_EQ(labels(v), withUnit({"200", "210", "220", "230", "240"}, "V"));
    EXPECT_EQ(v.at(230), 230);
    expectSound(v, "volts");
    v = linearAxis(ChartQuantity::Voltage, -2500, 2500);
    EXPECT_EQ(labels(v).front(), "-4kV");
    EXPECT_EQ(v.at(2500), 2.5);
    // No voltage on the page: still a voltage axis.
    EXPECT_EQ(labels(linearAxis(ChartQuantity::Voltage, 1, 0)).back(), "1.00kV");

    const ChartAxis plain = linearAxis(ChartQuantity::Plain, 950e6, 1.2e9);
    EXPECT_EQ(labels(plain).back(), "1.2G");
    EXPECT_EQ(linearAxis(ChartQuantity::Plain, 1, 0), sampleAxis());

    expectSound(linearAxis(ChartQuantity::Voltage, 1e6, 1000000.0000000002), "near-equal");
    expectSound(linearAxis(ChartQuantity::Plain, -3e9, -3e9), "equal");

    const ChartAxis s = sampleAxis();
    EXPECT_EQ(s.lo, -11000);
    EXPECT_EQ(s.hi, 11000);
    EXPECT_EQ(labels(s), (QStringList{"-11000", "-5500", "0", "5500", "11000"}));
}
