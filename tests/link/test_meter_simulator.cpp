#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/meter_simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace kx;

namespace {

const std::string kGlyphs = "0123456789@";

std::string hexByte(std::uint8_t b) {
    static const char* h = "0123456789ABCDEF";
    return {h[b >> 4], h[b & 15]};
}

// Elements that one bit or one digit flag lights together.
std::vector<Element> partners(Element e) {
    using E = Element;
    const std::vector<std::vector<E>> groups = {
        {E::labdc, E::Shape1, E::Shape2, E::Shape3, E::Shape4},
        {E::labt, E::labac},
        {E::T_dPoint1, E::Labtime},
    };
    for (const auto& g : groups)
        for (E x : g)
            if (x == e)
                return g;
    return {e};
}

// Every digit lit, so that every digit flag has a carrier.
DisplayState allDigitsLitNoMarks() {
    DisplayState s;
    s.DispInit(0);
    return s;
}

void expectSameDisplay(const DisplayState& want, const DisplayState& got) {
    for (std::size_t i = 0; i < kElementCount; ++i)
        EXPECT_EQ(want.isLit(static_cast<Element>(i)), got.isLit(static_cast<Element>(i)))
            << kElementNames[i];
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const auto d = static_cast<Digit>(i);
        EXPECT_EQ(want.digit(d).lit, got.digit(d).lit) << kDigitNames[i];
        if (want.digit(d).lit) {
            EXPECT_EQ(want.digit(d).glyph, got.digit(d).glyph) << kDigitNames[i];
        }
    }
    EXPECT_EQ(want.stripShown(), got.stripShown());
}

} // namespace

// Every glyph with and without its flag goes through both segment tables in
// FrameEncoding.EveryDigitShowsEveryGlyphWithAndWithoutFlag; what no digit shows is here.
TEST(SegmentEncoding, BlankAndUnknownGlyphs) {
    EXPECT_TRUE(DecodeSegA(hexByte(*encodeSegA(' ', false))).isBlank());
    EXPECT_TRUE(DecodeSegB(hexByte(*encodeSegB(' ', false))).isBlank());
    EXPECT_FALSE(encodeSegB('X', false));
    EXPECT_FALSE(encodeSegA('L', false)); // the L pattern is '@' on the glass
}

TEST(FrameEncoding, EveryMarkAloneRoundTrips) {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        const auto e = static_cast<Element>(i);
        DisplayState want = allDigitsLitNoMarks();
        for (Element p : partners(e))
            want.setLit(p, true);
        want.setStripShown(!want.isLit(Element::labdc) && !want.isLit(Element::labt));

        const MeterFrame f = encodeFrame(want);
        EXPECT_EQ(f[20], 0x0D);
        EXPECT_EQ(f[21], 0x0A);
        FrameDecoder dec;
        ASSERT_TRUE(dec.ShowDataKx30(frameHex(f)).accepted) << kElementNames[i];
        expectSameDisplay(want, dec.state());
    }
}

TEST(FrameEncoding, EveryDigitShowsEveryGlyphWithAndWithoutFlag) {
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const auto d = static_cast<Digit>(i);
        const DigitLayout l = digitLayout(d);
        for (char g : kGlyphs) {
            for (bool flag : {false, true}) {
                DisplayState want = allDigitsLitNoMarks();
                want.digit(d).glyph = g;
                want.setLit(l.flag, flag);
                if (l.flag2 != Element::Count)
                    want.setLit(l.flag2, flag);
                FrameDecoder dec;
                dec.ShowDataKx30(frameHex(encodeFrame(want)));
                expectSameDisplay(want, dec.state());
            }
        }
        // A blank digit goes dark and keeps its glyph.
        DisplayState blank = allDigitsLitNoMarks();
        blank.digit(d).lit = false;
        FrameDecoder dec;
        const char before = dec.state().digit(d).glyph;
        dec.ShowDataKx30(frameHex(encodeFrame(blank)));
        EXPECT_FALSE(dec.state().digit(d).lit) << kDigitNames[i];
        EXPECT_EQ(dec.state().digit(d).glyph, before);
    }
}

TEST(MeterDisplayEncoding, WorkedExampleIsWhatTheMeterShows) {
    MeterDisplay d;
    d.reading = "1.234";
    d.unit = MeterUnit::GOhm;
    d.function = MeterFunction::Ir1000;
    d.testing = true;
    d.mode = MeterMode::Timed;
    d.timerSeconds = 90;
    d.memory = 5;
    d.battery = 3;
    d.barOhms = 1.234e9;
    EXPECT_EQ(frameHex(encodeFrame(d)), "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A");
    FrameDecoder dec;
    dec.ShowDataKx30(frameHex(encodeFrame(d)));
    const auto& t = dec.readingTexts();
    EXPECT_EQ(t.ReadingValue, "1.234");
    EXPECT_EQ(t.UnitText, texts::UnitGOhm);
    EXPECT_EQ(t.FunctionText, texts::Ir1000);
    EXPECT_EQ(t.ModeText, texts::Timed);
    const DisplayState& s = dec.state();
    EXPECT_TRUE(s.isLit(Element::danger));
    EXPECT_TRUE(s.isLit(Element::bar17));
    EXPECT_FALSE(s.isLit(Element::bar18));
    EXPECT_TRUE(s.isLit(Element::powerv3));
    EXPECT_FALSE(s.isLit(Element::stor1));
    EXPECT_EQ(s.digit(Digit::stor2).glyph, '5');
    EXPECT_EQ(s.digit(Digit::M_Time1).glyph, '3');
    EXPECT_TRUE(s.isLit(Element::T_dPoint1));
    expectSameDisplay(displayStateFor(d), s);
}

TEST(MeterDisplayEncoding, ReadingsFunctionsAndModesDecodeBack) {
    using U = MeterUnit;
    using F = MeterFunction;
    using M = MeterMode;
    struct Case {
        const char* reading;
        U unit;
        F function;
        M mode;
        std::string_view value, unitText, functionText, modeText;
    };
    const Case cases[] = {
        {"480.0", U::MOhm, F::Ir500, M::Continuous, "480.0", texts::UnitMOhm, texts::Ir500,
         "Continuous"},
        {"12.63", U::V, F::DcV, M::Continuous, "12.63", "V", texts::DcV, "Continuous"},
        {"230.4", U::V, F::AcV, M::Continuous, "230.4", "V", texts::AcV, "Continuous"},
        {"-10", U::V, F::DcV, M::Continuous, "-10", "V", texts::DcV, "Continuous"},
        {"L234", U::Ohm, F::Ir2500, M::Continuous, "L234", texts::UnitOhm, texts::Ir2500,
         "Continuous"},
        {"3.42", U::None, F::Ir5000, M::Pi, "3.42", "", texts::Ir5000, "PI"},
        {"250.0", U::MOhm, F::Ir500, M::CompGood, "250.0", texts::UnitMOhm, texts::Ir500,
         "COMP:GOOD"},
        {"52.34", U::MOhm, F::Ir500, M::CompNg, "52.34", texts::UnitMOhm, texts::Ir500, "COMP:NG"},
        // The TΩ mark is the fourth digit's flag, which the value text shows as a point.
        {"1.500", U::TOhm, F::Ir5000, M::Continuous, "1.500.", "", texts::Ir5000, "Continuous"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reading);
        MeterDisplay d;
        d.reading = c.reading;
        d.unit = c.unit;
        d.function = c.function;
        d.mode = c.mode;
        if (c.mode == M::CompNg || c.mode == M::CompGood)
            d.compLimitMOhm = 100;
        FrameDecoder dec;
        dec.ShowDataKx30(frameHex(encodeFrame(d)));
        const auto& t = dec.readingTexts();
        EXPECT_EQ(t.ReadingValue, c.value);
        EXPECT_EQ(t.UnitText, c.unitText);
        EXPECT_EQ(t.FunctionText, c.functionText);
        EXPECT_EQ(t.ModeText, c.modeText);
        expectSameDisplay(displayStateFor(d), dec.state());
    }
}

TEST(MeterDisplayEncoding, CompMarksAndMemoryNumber) {
    MeterDisplay d;
    d.reading = "250.0";
    d.mode = MeterMode::CompGood;
    d.compLimitMOhm = 100;
    d.memory = 18;
    d.battery = 1;
    const DisplayState s = displayStateFor(d);
    EXPECT_TRUE(s.isLit(Element::labCOMP));
    EXPECT_TRUE(s.isLit(Element::Labgood));
    EXPECT_FALSE(s.isLit(Element::Labng));
    EXPECT_TRUE(s.isLit(Element::labmo));
    EXPECT_FALSE(s.isLit(Element::T_dPoint1));
    EXPECT_FALSE(s.digit(Digit::H_Time1).lit); // " 100"
    EXPECT_EQ(s.digit(Digit::H_Time2).glyph, '1');
    EXPECT_TRUE(s.isLit(Element::stor1));
    EXPECT_EQ(s.digit(Digit::stor2).glyph, '8');
    EXPECT_TRUE(s.isLit(Element::powerV1));
    EXPECT_FALSE(s.isLit(Element::powerv2));
    EXPECT_TRUE(s.stripShown());
}

TEST(BarGraph, FourMarksADecadeFromZeroToInfinity) {
    const std::pair<double, int> marks[] = {
        {0, 0},           {99e3, 0},
        {1e5, 1},         {1.9e5, 2},
        {1e6, 5},         {1e7, 9},
        {1.234e9, 17},    {1e12, 29},
        {7e13, 29},       {std::numeric_limits<double>::infinity(), 30},
        {std::nan(""), 0}};
    for (const auto& [ohms, mark] : marks)
        EXPECT_EQ(barMarkFor(ohms), mark) << ohms;

    MeterDisplay d;
    d.barOhms = 1e6;
    const DisplayState s = displayStateFor(d);
    for (int n = 0; n <= 30; ++n)
        EXPECT_EQ(s.isLit(barElement(n)), n <= 5) << n;
}

TEST(BarGraph, ResistanceReadingsKeepFourDigits) {
    using U = MeterUnit;
    const std::tuple<double, const char*, U> cases[] = {
        {0, "0.000", U::MOhm},        {52.34e6, "52.34", U::MOhm}, {480e6, "480.0", U::MOhm},
        {999.99e6, "1.000", U::GOhm}, {2.4e9, "2.400", U::GOhm},   {1.5e12, "1.500", U::TOhm}};
    for (const auto& [ohms, text, unit] : cases)
        EXPECT_EQ(formatResistance(ohms), std::make_pair(std::string(text), unit)) << ohms;
}

TEST(SimulatedCable, PacesBytesAt2400BaudInSevenByteReports) {
    const MeterFrame frame = encodeFrame(MeterDisplay{});
    SimulatedCable cable([&](std::int64_t) { return frame; }, 200000);
    std::size_t delivered = 0;
    std::int64_t firstByteAt = -1, lastByteOfFirstFrameAt = -1;
    for (std::int64_t t = 0; t <= 2000000; t += SimulatedCable::kReportPeriodUs) {
        const auto r = cable.nextReport(t);
        ASSERT_EQ(r[0] & 0xF0, 0xF0);
        const std::size_t n = r[0] & 0x0F;
        ASSERT_LE(n, SimulatedCable::kMaxPayload);
        for (std::size_t k = n + 1; k < r.size(); ++k)
            EXPECT_EQ(r[k], 0) << "bytes past the count";
        if (n > 0 && firstByteAt < 0)
            firstByteAt = t;
        delivered += n;
        if (delivered >= 22 && lastByteOfFirstFrameAt < 0)
            lastByteOfFirstFrameAt = t;
        // Never more than the line can carry: 240 bytes a second.
        EXPECT_LE(delivered, static_cast<std::size_t>(t * 240 / 1000000 + 1)) << t;
    }
    EXPECT_EQ(delivered, 10u * 22u); // one frame every 200 ms, the last still under way
    // 22 bytes take 22 x 4.17 ms on the wire.
    EXPECT_GE(lastByteOfFirstFrameAt - firstByteAt, 80000);
}

TEST(SimulatedCable, LongGapsLoseFramesInsteadOfPilingThemUp) {
    const MeterFrame frame = encodeFrame(MeterDisplay{});
    int asked = 0;
    SimulatedCable cable([&](std::int64_t) {
        ++asked;
        return frame;
    });
    cable.nextReport(0);
    const std::int64_t hour = 3600LL * 1000000;
    const auto r = cable.nextReport(hour);
    EXPECT_LE(r[0] & 0x0F, 7);
    EXPECT_LE(asked, 4); // only the last second's frames were started
    // Afterwards the stream is whole frames again.
    FrameReceiver rx;
    int frames = 0;
    rx.setFrameHandler([&](std::string_view hex) {
        EXPECT_EQ(hex, frameHex(frame));
        ++frames;
    });
    for (std::int64_t t = hour + 12000; t < hour + 2000000; t += 12000) {
        const auto rep = cable.nextReport(t);
        rx.ReadPw60(0, rep.data(), 8);
    }
    EXPECT_GE(frames, 3);
}

TEST(SimulatedCable, SilentMeterGivesIdleReports) {
    SimulatedCable cable([](std::int64_t) { return std::optional<MeterFrame>{}; });
    for (std::int64_t t = 0; t < 1000000; t += SimulatedCable::kReportPeriodUs) {
        const auto r = cable.nextReport(t);
        EXPECT_EQ(r, (InputReportSource::Report{0xF0}));
    }
}

TEST(SimulatedCable, ReceiverAndDecoderGiveBackTheDescriptions) {
    std::vector<MeterDisplay> shown;
    for (const char* reading : {"0.123", "45.67", "-10", "L234", "3.42"}) {
        MeterDisplay d;
        d.reading = reading;
        d.unit = MeterUnit::MOhm;
        d.function = reading[0] == '-' ? MeterFunction::DcV : MeterFunction::Ir1000;
        d.barOhms = 4.5e7;
        shown.push_back(d);
    }
    std::size_t next = 0;
    SimulatedCable cable([&](std::int64_t) { return encodeFrame(shown[next++ % shown.size()]); });

    FrameReceiver rx;
    FrameDecoder dec;
    std::vector<std::string> values;
    std::vector<DisplayState> states;
    rx.setFrameHandler([&](std::string_view hex) {
        ASSERT_TRUE(dec.ShowDataKx30(hex).accepted);
        values.push_back(dec.readingTexts().ReadingValue);
        states.push_back(dec.state());
    });
    for (std::int64_t t = 0; t < 5000000; t += SimulatedCable::kReportPeriodUs) {
        const auto r = cable.nextReport(t);
        rx.ReadPw60(0, r.data(), static_cast<std::uint16_t>(r.size()));
    }
    ASSERT_EQ(values.size(), 10u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], shown[i % shown.size()].reading);
        expectSameDisplay(displayStateFor(shown[i % shown.size()]), states[i]);
    }
}

TEST(DemoScript, CoversTheTestsAndNeverFallsSilent) {
    const DemoScript script;
    const auto& parts = script.stretches();
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.front().startUs, 0);
    for (std::size_t i = 1; i < parts.size(); ++i)
        EXPECT_EQ(parts[i].startUs, parts[i - 1].endUs);
    EXPECT_EQ(parts.back().endUs, script.cycleUs());

    // Not a single half second without a frame: the link's watchdog never trips.
    for (std::int64_t t = 0; t < script.cycleUs(); t += 500000)
        ASSERT_TRUE(script.frameAt(t)) << t;

    // The 500 V test climbs from nothing to hundreds of MΩ.
    const auto first = script.displayAt(0);
    const auto later = script.displayAt(parts[0].endUs - 500000);
    ASSERT_TRUE(first && later);
    EXPECT_EQ(first->reading, "0.000");
    EXPECT_EQ(later->unit, MeterUnit::MOhm);
    EXPECT_GE(std::stod(later->reading), 300.0);

    // The PI test starts within the first minute and lasts ten minutes, the timer counting
    // to 10:00 and the reading ranging up from MΩ to GΩ.
    const auto& pi = parts[1];
    EXPECT_LT(pi.startUs, 60000000);
    EXPECT_GE(pi.endUs - pi.startUs, 600000000);
    EXPECT_LE(pi.endUs, 11 * 60000000LL) << "its result is there within 11 minutes";
    const auto at = [&](const DemoScript::Stretch& p, double s) {
        return script.displayAt(p.startUs + static_cast<std::int64_t>(s * 1e6));
    };
    EXPECT_EQ(at(pi, 10)->unit, MeterUnit::MOhm);
    EXPECT_EQ(at(pi, 60)->unit, MeterUnit::GOhm);
    EXPECT_EQ(at(pi, 125.5)->timerSeconds, 125);
    EXPECT_EQ(at(pi, 602)->timerSeconds, 600);
    EXPECT_TRUE(at(pi, 599)->testing);
    EXPECT_FALSE(at(pi, 601)->testing);
    // Then a test of at least a minute.
    EXPECT_GE(parts[2].endUs - parts[2].startUs, 60000000);
    EXPECT_EQ(at(parts[2], 61)->timerSeconds, 60);

    // The timed 1000 V test's timer counts.
    const auto t1 = at(parts[3], 2);
    const auto t2 = at(parts[3], 7);
    ASSERT_TRUE(t1 && t2 && t1->timerSeconds && t2->timerSeconds);
    EXPECT_EQ(*t2->timerSeconds - *t1->timerSeconds, 5);

    // Each stretch decodes to its function and mode; the script repeats.
    std::vector<std::string> modes, functions;
    for (const auto& p : parts) {
        FrameDecoder dec;
        ASSERT_TRUE(dec.ShowDataKx30(frameHex(*script.frameAt(p.startUs + 100000))).accepted);
        modes.push_back(dec.readingTexts().ModeText);
        functions.push_back(dec.readingTexts().FunctionText);
    }
    EXPECT_EQ(modes,
              (std::vector<std::string>{"Continuous", "PI", "Timed", "Timed", "PI", "COMP:GOOD",
                                        "COMP:NG", "Continuous", "Continuous"}));
    EXPECT_EQ(functions[1], texts::Ir2500);
    EXPECT_EQ(functions[2], texts::Ir500);
    EXPECT_EQ(functions[3], texts::Ir1000);
    EXPECT_EQ(functions[7], texts::DcV);
    EXPECT_EQ(functions[8], texts::AcV);
    EXPECT_EQ(script.frameAt(script.cycleUs() + 1000), script.frameAt(1000));
}

TEST(DemoScript, FallsSilentOnlyWhenAsked) {
    const DemoScript quiet(DemoScript::Options{.silentStretch = true});
    const auto& parts = quiet.stretches();
    ASSERT_EQ(parts.size(), DemoScript().stretches().size() + 1);
    // The last stretch: at least 25 s without a single frame, enough for the watchdog.
    const auto& silent = parts.back();
    EXPECT_EQ(silent.name, "meter silent");
    EXPECT_GE(silent.endUs - silent.startUs, 25000000);
    for (std::int64_t t = silent.startUs; t < silent.endUs; t += 500000)
        EXPECT_FALSE(quiet.frameAt(t)) << t;
    // Everything before it is the ordinary cycle.
    for (std::int64_t t = 0; t < silent.startUs; t += 7000000)
        EXPECT_EQ(quiet.frameAt(t), DemoScript().frameAt(t)) << t;
    EXPECT_EQ(quiet.frameAt(quiet.cycleUs() + 1000), quiet.frameAt(1000));
}
