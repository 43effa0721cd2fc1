#include "display/frame_decoder.h"

#include "support/example_frame.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace kx;

namespace {

const std::string& kExample = test::kExampleFrame;
using test::with;

// Sets the two-character code of a digit given its code positions (first, second).
std::string withCode(std::string frame, int first, int second, std::string_view code) {
    frame[static_cast<std::size_t>(first - 1)] = code[0];
    frame[static_cast<std::size_t>(second - 1)] = code[1];
    return frame;
}

std::set<std::string> litNames(const DisplayState& s) {
    std::set<std::string> out;
    for (std::size_t i = 0; i < kElementCount; ++i)
        if (s.isLit(static_cast<Element>(i)))
            out.insert(std::string(kElementNames[i]));
    return out;
}

struct Decoder : ::testing::Test {
    FrameDecoder dec;
    const DigitState& d(Digit x) { return dec.state().digit(x); }
    bool lit(Element e) { return dec.state().isLit(e); }
    const ReadingTexts& t() { return dec.readingTexts(); }
};

} // namespace

TEST(SegmentTables, EveryListedCodeAndTheSpecialCodes) {
    const char* glyphs = "0123456789@";
    const char* a[] = {"D7", "50", "E3", "F1", "F0", "B5", "B7", "D0", "F7", "F5", "07"};
    const char* af[] = {"DF", "58", "EB", "F9", "F8", "BD", "BF", "D8", "FF", "FD", "0F"};
    const char* b[] = {"7D", "60", "3E", "7A", "63", "5B", "5F", "70", "7F", "7B", "0D"};
    const char* bf[] = {"FD", "E0", "BE", "FA", "E3", "DB", "DF", "F0", "FF", "FB", "8D"};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(DecodeSegA(a[i]), (DigitToken{glyphs[i], 'N'})) << a[i];
        EXPECT_EQ(DecodeSegA(af[i]), (DigitToken{glyphs[i], 'P'})) << af[i];
        EXPECT_EQ(DecodeSegB(b[i]), (DigitToken{glyphs[i], 'N'})) << b[i];
        EXPECT_EQ(DecodeSegB(bf[i]), (DigitToken{glyphs[i], 'P'})) << bf[i];
    }
    EXPECT_TRUE(DecodeSegA("00").isBlank());
    EXPECT_TRUE(DecodeSegB("00").isBlank());
    EXPECT_TRUE(DecodeSegA("7D").isUnlisted());
    EXPECT_TRUE(DecodeSegB("d7").isUnlisted()) << "lookup is case-sensitive";
    EXPECT_TRUE(DecodeSegB("fd").isUnlisted());
    EXPECT_TRUE(DecodeSegB("F").isUnlisted());
    EXPECT_EQ(HexNibble('A'), 10);
    EXPECT_EQ(HexNibble('F'), 15);
    EXPECT_EQ(HexNibble('7'), 7);
}

TEST_F(Decoder, WorkedExampleFrame) {
    const DecodeResult r = dec.ShowDataKx30(kExample);
    EXPECT_TRUE(r.accepted);
    EXPECT_TRUE(r.record);

    EXPECT_EQ(t().ReadingValue, "1.234");
    EXPECT_EQ(t().UnitText, "G\xA6\xB8");
    EXPECT_EQ(t().FunctionText, "IR:1000V 40G\xA6\xB8");
    EXPECT_EQ(t().ModeText, "Timed");

    const std::string main = {d(Digit::LabelA).glyph, d(Digit::LabelB).glyph,
                              d(Digit::LabelC).glyph, d(Digit::LabelD).glyph};
    EXPECT_EQ(main, "1234");
    const std::string volts = {d(Digit::Label3).glyph, d(Digit::Label7).glyph,
                               d(Digit::Label10).glyph, d(Digit::Label9).glyph};
    EXPECT_EQ(volts, "1000");
    const std::string timer = {d(Digit::H_Time1).glyph, d(Digit::H_Time2).glyph,
                               d(Digit::M_Time1).glyph, d(Digit::M_Time2).glyph};
    EXPECT_EQ(timer, "0130");
    EXPECT_EQ(d(Digit::stor2).glyph, '5');
    for (std::size_t i = 0; i < kDigitCount; ++i)
        EXPECT_TRUE(dec.state().digit(static_cast<Digit>(i)).lit) << kDigitNames[i];

    std::set<std::string> expected = {"Point1",    "Labgo1",  "danger", "Label4",
                                      "T_dPoint1", "Labtime", "power",  "IGPower",
                                      "powerV1",   "powerv2", "powerv3"};
    for (int n = 0; n <= 17; ++n)
        expected.insert(std::string(elementName(barElement(n))));
    EXPECT_EQ(litNames(dec.state()), expected);
    EXPECT_FALSE(lit(Element::stor1));
    EXPECT_TRUE(dec.state().stripShown());
    EXPECT_TRUE(dec.state().link().conOk);
    EXPECT_FALSE(dec.state().link().conOkN);
}

TEST_F(Decoder, DcAndAcMarksHideTheStripAndSkipFunctionRules) {
    dec.ShowDataKx30(with(kExample, 8, "1"));
    EXPECT_TRUE(lit(Element::labdc));
    EXPECT_TRUE(lit(Element::Shape1) && lit(Element::Shape4));
    EXPECT_FALSE(lit(Element::labac));
    EXPECT_EQ(t().FunctionText, "DCV  600V");
    EXPECT_FALSE(dec.state().stripShown());
    EXPECT_TRUE(lit(Element::bar17)) << "bars are rebuilt even while the strip is hidden";

    dec.ShowDataKx30(with(kExample, 8, "3"));
    EXPECT_TRUE(lit(Element::labdc));
    EXPECT_TRUE(lit(Element::labac) && lit(Element::labt));
    EXPECT_EQ(t().FunctionText, "ACV  600V");

    dec.ShowDataKx30(kExample);
    EXPECT_TRUE(dec.state().stripShown()) << "the next resistance frame shows the strip again";
    EXPECT_EQ(t().FunctionText, "IR:1000V 40G\xA6\xB8");
}

TEST_F(Decoder, MinusSignBlankDigitsAndLPattern) {
    std::string f = with(kExample, 8, "4");
    f = withCode(f, 22, 21, "00");
    f = withCode(f, 24, 23, "00");
    f = withCode(f, 26, 25, "60");
    f = withCode(f, 28, 27, "7D");
    dec.ShowDataKx30(f);
    EXPECT_FALSE(d(Digit::LabelA).lit);
    EXPECT_FALSE(d(Digit::LabelB).lit);
    EXPECT_EQ(d(Digit::LabelA).glyph, '8') << "an unlit digit keeps its glyph";
    EXPECT_EQ(t().ReadingValue, "-10");
    EXPECT_TRUE(lit(Element::LabelF));

    dec.ShowDataKx30(withCode(kExample, 22, 21, "0D"));
    EXPECT_EQ(d(Digit::LabelA).glyph, '@');
    EXPECT_EQ(t().ReadingValue, "L234");

    dec.ShowDataKx30(withCode(kExample, 28, 27, "E3"));
    EXPECT_TRUE(lit(Element::Labto));
    EXPECT_EQ(t().ReadingValue, "1.234.");
}

TEST_F(Decoder, UnlistedMainCodesKeepOldDigitsAndStillRecord) {
    dec.ShowDataKx30(kExample);
    std::string f = kExample;
    for (auto [a, b] : {std::pair{22, 21}, {24, 23}, {26, 25}, {28, 27}})
        f = withCode(f, a, b, "12");
    const DecodeResult r = dec.ShowDataKx30(f);
    EXPECT_TRUE(r.record);
    EXPECT_EQ(t().ReadingValue, "");
    EXPECT_TRUE(d(Digit::LabelA).lit);
    EXPECT_EQ(d(Digit::LabelD).glyph, '4');
    EXPECT_FALSE(lit(Element::Point1)) << "flag elements stay unlit after the blanking";
}

TEST_F(Decoder, NoMainDigitShownMeansNoRecording) {
    std::string f = kExample;
    for (auto [a, b] : {std::pair{22, 21}, {24, 23}, {26, 25}, {28, 27}})
        f = withCode(f, a, b, "00");
    const DecodeResult r = dec.ShowDataKx30(f);
    EXPECT_TRUE(r.accepted);
    EXPECT_FALSE(r.record);
}

TEST_F(Decoder, FunctionRulesUseTheThousandsAndHundredsDigits) {
    // 2500 V: thousands "2" (E3), hundreds "5" (B5).
    std::string f2500 = withCode(withCode(kExample, 31, 30, "E3"), 33, 32, "B5");
    dec.ShowDataKx30(f2500);
    EXPECT_EQ(t().FunctionText, "IR:2500 100G\xA6\xB8");
    // 500 V: thousands blank, hundreds 5; the unlit thousands digit keeps its "2".
    dec.ShowDataKx30(withCode(f2500, 31, 30, "00"));
    EXPECT_FALSE(d(Digit::Label3).lit);
    EXPECT_EQ(d(Digit::Label3).glyph, '2');
    EXPECT_EQ(t().FunctionText, "IR:500V 20G\xA6\xB8");
    // 5000 V
    dec.ShowDataKx30(withCode(kExample, 31, 30, "B5"));
    EXPECT_EQ(t().FunctionText, "IR:5000V 1000G\xA6\xB8");
    // No rule matches (thousands 9): the text stays.
    dec.ShowDataKx30(withCode(kExample, 31, 30, "F5"));
    EXPECT_EQ(t().FunctionText, "IR:5000V 1000G\xA6\xB8");
}

TEST_F(Decoder, ModeTextPrecedence) {
    // PI (position 38 bit 2) beats Timed; COMP:GOOD (Label10 flag) beats both.
    std::string f = with(kExample, 38, "5");
    dec.ShowDataKx30(f);
    EXPECT_EQ(t().ModeText, "PI");
    dec.ShowDataKx30(withCode(f, 35, 34, "DF"));
    EXPECT_TRUE(lit(Element::IMmike));
    EXPECT_TRUE(lit(Element::labp1));
    EXPECT_TRUE(lit(Element::Labgood));
    EXPECT_EQ(t().ModeText, "COMP:GOOD");
    dec.ShowDataKx30(withCode(kExample, 33, 32, "DF"));
    EXPECT_EQ(t().ModeText, "COMP:NG");
    dec.ShowDataKx30(with(kExample, 19, "0"));
    EXPECT_EQ(t().ModeText, "Continuous");
}

TEST_F(Decoder, UnitTextHighestBitWinsAndKeepsValueWhenUnset) {
    dec.ShowDataKx30(with(kExample, 29, "3"));
    EXPECT_EQ(t().UnitText, "\xA6\xB8");
    dec.ShowDataKx30(with(kExample, 29, "1"));
    EXPECT_EQ(t().UnitText, "V");
    dec.ShowDataKx30(with(kExample, 29, "0"));
    EXPECT_EQ(t().UnitText, "V");
}

TEST_F(Decoder, RejectedFramesOnlyTouchValueModeAndLink) {
    dec.ShowDataKx30(kExample);
    dec.updateLink(LinkIndicators{false, true, true, "USB"});
    const DisplayState before = dec.state();
    const ReadingTexts textsBefore = t();

    for (const std::string& bad :
         {with(kExample, 41, "0D0B"), kExample.substr(0, 43), with(kExample, 5, "g"),
          with(kExample, 12, "a"), std::string()}) {
        const DecodeResult r = dec.ShowDataKx30(bad);
        EXPECT_FALSE(r.accepted) << bad;
        EXPECT_FALSE(r.record);
        EXPECT_EQ(t().ReadingValue, "");
        EXPECT_EQ(t().ModeText, "Continuous");
        EXPECT_EQ(t().FunctionText, textsBefore.FunctionText);
        EXPECT_EQ(t().UnitText, textsBefore.UnitText);
        EXPECT_EQ(dec.state().litSet(), before.litSet());
        EXPECT_TRUE(dec.state().link().conOk);
        EXPECT_FALSE(dec.state().link().conOkN);
    }
}

TEST_F(Decoder, LongerTextIsDecodedFromItsFirst44Characters) {
    const DecodeResult r = dec.ShowDataKx30(kExample + kExample);
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(t().ReadingValue, "1.234");
}

TEST_F(Decoder, BarGraphBitsAndEmptyStrip) {
    std::string f = kExample;
    f.replace(0, 7, "0000000");
    dec.ShowDataKx30(with(f, 39, "1"));
    EXPECT_TRUE(dec.state().stripShown());
    for (int n = 0; n <= 30; ++n)
        EXPECT_FALSE(lit(barElement(n))) << n;
    EXPECT_TRUE(lit(Element::IMoff));
    dec.ShowDataKx30(with(with(f, 1, "FFFFFFF"), 39, "E"));
    for (int n = 0; n <= 30; ++n)
        EXPECT_TRUE(lit(barElement(n))) << n;
}

TEST_F(Decoder, ObserverSeesOnlyBeforeAndAfterStates) {
    int calls = 0;
    QObject::connect(&dec, &FrameDecoder::displayChanged,
                     [&](const DisplayState& before, const DisplayState& after) {
                         ++calls;
                         EXPECT_TRUE(before.isLit(Element::labmo)) << "start-up picture";
                         EXPECT_FALSE(after.isLit(Element::labmo));
                         EXPECT_NE(after.litSet().count(), 0u) << "blanked state is never reported";
                     });
    dec.ShowDataKx30(kExample);
    EXPECT_EQ(calls, 1);
}

TEST(DisplayStateTest, StartUpPictureAndDispInit) {
    DisplayState s;
    EXPECT_EQ(s.litSet().count(), kElementCount);
    EXPECT_TRUE(s.stripShown());
    EXPECT_FALSE(s.link().conOk);
    EXPECT_TRUE(s.link().conOkN);
    EXPECT_EQ(s.digit(Digit::LabelA).glyph, '8');
    EXPECT_EQ(s.digit(Digit::Label9).glyph, '0');
    EXPECT_EQ(s.digit(Digit::stor2).glyph, '8');
    s.DispInit(0);
    EXPECT_EQ(s.litSet().count(), 0u);
    EXPECT_TRUE(s.digit(Digit::LabelA).lit) << "digits untouched";
    EXPECT_TRUE(s.stripShown());
    s.DispInit(7);
    EXPECT_EQ(s.litSet().count(), 0u);
    s.DispInit(1);
    EXPECT_EQ(s.litSet().count(), kElementCount);
    EXPECT_EQ(elementByName("T_dPoint1"), Element::T_dPoint1);
    EXPECT_FALSE(elementByName("nope").has_value());
}
