#include "display/frame_decoder.h"

#include <QMetaMethod>

#include <array>

namespace kx {
namespace {

constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct SegEntry {
    std::uint8_t code; // two hexadecimal characters as one byte
    char glyph;
    bool flag;
};

// Segment tables: the code of every glyph, without and with the digit's flag bit.
constexpr std::array<SegEntry, 22> kTableA = {{
    {0xD7, '0', false}, {0xDF, '0', true}, {0x50, '1', false}, {0x58, '1', true},
    {0xE3, '2', false}, {0xEB, '2', true}, {0xF1, '3', false}, {0xF9, '3', true},
    {0xF0, '4', false}, {0xF8, '4', true}, {0xB5, '5', false}, {0xBD, '5', true},
    {0xB7, '6', false}, {0xBF, '6', true}, {0xD0, '7', false}, {0xD8, '7', true},
    {0xF7, '8', false}, {0xFF, '8', true}, {0xF5, '9', false}, {0xFD, '9', true},
    {0x07, '@', false}, {0x0F, '@', true},
}};

constexpr std::array<SegEntry, 22> kTableB = {{
    {0x7D, '0', false}, {0xFD, '0', true}, {0x60, '1', false}, {0xE0, '1', true},
    {0x3E, '2', false}, {0xBE, '2', true}, {0x7A, '3', false}, {0xFA, '3', true},
    {0x63, '4', false}, {0xE3, '4', true}, {0x5B, '5', false}, {0xDB, '5', true},
    {0x5F, '6', false}, {0xDF, '6', true}, {0x70, '7', false}, {0xF0, '7', true},
    {0x7F, '8', false}, {0xFF, '8', true}, {0x7B, '9', false}, {0xFB, '9', true},
    {0x0D, '@', false}, {0x8D, '@', true},
}};

constexpr DigitToken kBlank{'H', 'N'};
constexpr DigitToken kUnlisted{'G', 'P'};

using Lookup = std::array<DigitToken, 256>;

constexpr Lookup makeLookup(const std::array<SegEntry, 22>& table) {
    Lookup l{};
    for (auto& t : l)
        t = kUnlisted;
    l[0x00] = kBlank;
    for (const auto& e : table)
        l[e.code] = DigitToken{e.glyph, e.flag ? 'P' : 'N'};
    return l;
}

constexpr Lookup kLookupA = makeLookup(kTableA);
constexpr Lookup kLookupB = makeLookup(kTableB);

DigitToken lookup(const Lookup& l, std::string_view code) {
    if (code.size() < 2)
        return kUnlisted;
    const int hi = hexValue(code[0]);
    const int lo = hexValue(code[1]);
    if (hi < 0 || lo < 0)
        return kUnlisted;
    return l[static_cast<std::size_t>(hi << 4 | lo)];
}

// Which elements each bit of an annunciator nibble lights, bit 0 first.
struct BitElements {
    std::uint8_t count;
    std::array<Element, 5> elements;
};

struct NibbleMap {
    int position;                    // 1-based character position in the frame
    std::array<BitElements, 4> bits; // bit 0 first
};

using E = Element;

// Positions in the order they are decoded.
const std::array<NibbleMap, 15> kNibbles = {{
    {1, {{{1, {E::bar6}}, {1, {E::bar5}}, {1, {E::bar4}}, {1, {E::bar3}}}}},
    {2, {{{1, {E::bar7}}, {1, {E::bar8}}, {1, {E::bar9}}, {1, {E::bar10}}}}},
    {3, {{{1, {E::bar14}}, {1, {E::bar13}}, {1, {E::bar12}}, {1, {E::bar11}}}}},
    {4, {{{1, {E::bar15}}, {1, {E::bar16}}, {1, {E::bar17}}, {1, {E::bar18}}}}},
    {5, {{{1, {E::bar22}}, {1, {E::bar21}}, {1, {E::bar20}}, {1, {E::bar19}}}}},
    {6, {{{1, {E::bar23}}, {1, {E::bar24}}, {1, {E::bar25}}, {1, {E::bar26}}}}},
    {7, {{{1, {E::bar30}}, {1, {E::bar29}}, {1, {E::bar28}}, {1, {E::bar27}}}}},
    {8,
     {{{5, {E::labdc, E::Shape1, E::Shape2, E::Shape3, E::Shape4}},
       {2, {E::labt, E::labac}},
       {1, {E::LabelF}},
       {1, {E::labmo}}}}},
    {9, {{{0, {}}, {0, {}}, {0, {}}, {1, {E::Labgo}}}}},
    {39, {{{1, {E::IMoff}}, {1, {E::Bar0}}, {1, {E::BAR1}}, {1, {E::bar2}}}}},
    {40, {{{1, {E::IGPower}}, {1, {E::powerv3}}, {1, {E::powerv2}}, {1, {E::powerV1}}}}},
    {29, {{{1, {E::Labv}}, {1, {E::Labo}}, {1, {E::Labmo1}}, {1, {E::Labgo1}}}}},
    {20, {{{1, {E::labLoad}}, {1, {E::labsave}}, {1, {E::labtime2}}, {1, {E::labTIME1}}}}},
    {19, {{{1, {E::power}}, {1, {E::labs1}}, {1, {E::labs2}}, {1, {E::labs3}}}}},
    {38, {{{1, {E::IMmike}}, {0, {}}, {1, {E::labp1}}, {1, {E::stor1}}}}},
}};

struct DigitMap {
    Digit digit;
    int first;  // position of the code's first character
    int second; // position of its second character
    bool tableA;
    Element flag;
    Element flag2 = Element::Count; // H_Time2's flag lights two marks
};

const std::array<DigitMap, kDigitCount> kDigits = {{
    {Digit::LabelA, 22, 21, false, E::Point1},
    {Digit::LabelB, 24, 23, false, E::Point2},
    {Digit::LabelC, 26, 25, false, E::Point3},
    {Digit::LabelD, 28, 27, false, E::Labto},
    {Digit::Label3, 31, 30, true, E::danger},
    {Digit::Label7, 33, 32, true, E::Labng},
    {Digit::Label10, 35, 34, true, E::Labgood},
    {Digit::Label9, 37, 36, true, E::Label4},
    {Digit::H_Time1, 15, 16, false, E::Labclr},
    {Digit::H_Time2, 13, 14, false, E::T_dPoint1, E::Labtime},
    {Digit::M_Time1, 11, 12, false, E::labCOMP},
    {Digit::M_Time2, 9, 10, false, E::Labgo},
    {Digit::stor2, 17, 18, false, E::LabFUL},
}};

constexpr int kFrameChars = 44;

} // namespace

int HexNibble(char c) {
    return hexValue(c);
}

DigitToken DecodeSegA(std::string_view code) {
    return lookup(kLookupA, code);
}
DigitToken DecodeSegB(std::string_view code) {
    return lookup(kLookupB, code);
}

namespace {
std::optional<std::uint8_t> encodeSeg(const std::array<SegEntry, 22>& table, char glyph,
                                      bool flag) {
    if (glyph == ' ')
        return std::uint8_t{0x00};
    for (const SegEntry& e : table)
        if (e.glyph == glyph && e.flag == flag)
            return e.code;
    return std::nullopt;
}
} // namespace

std::optional<std::uint8_t> encodeSegA(char glyph, bool flag) {
    return encodeSeg(kTableA, glyph, flag);
}
std::optional<std::uint8_t> encodeSegB(char glyph, bool flag) {
    return encodeSeg(kTableB, glyph, flag);
}

std::optional<NibbleBit> annunciatorBit(Element e) {
    for (const NibbleMap& nm : kNibbles)
        for (int bit = 0; bit < 4; ++bit) {
            const BitElements& be = nm.bits[static_cast<std::size_t>(bit)];
            for (std::size_t k = 0; k < be.count; ++k)
                if (be.elements[k] == e)
                    return NibbleBit{nm.position, bit};
        }
    return std::nullopt;
}

DigitLayout digitLayout(Digit d) {
    for (const DigitMap& dm : kDigits)
        if (dm.digit == d)
            return DigitLayout{dm.first, dm.second, dm.tableA, dm.flag, dm.flag2};
    return DigitLayout{0, 0, false, Element::Count, Element::Count};
}

bool FrameDecoder::watched() const {
    static const QMetaMethod changed = QMetaMethod::fromSignal(&FrameDecoder::displayChanged);
    return isSignalConnected(changed);
}

void FrameDecoder::updateLink(const LinkIndicators& link) {
    if (state_.link() == link)
        return;
    if (watched()) {
        const DisplayState before = state_;
        state_.link() = link;
        Q_EMIT displayChanged(before, state_);
    } else {
        state_.link() = link;
    }
}

DecodeResult FrameDecoder::ShowDataKx30(std::string_view frame) {
    if (!watched())
        return decode(frame);
    const DisplayState before = state_;
    const DecodeResult r = decode(frame);
    Q_EMIT displayChanged(before, state_);
    return r;
}

DecodeResult FrameDecoder::decode(std::string_view frame) {
    DecodeResult result;
    texts_.ReadingValue.clear();
    bool minus = false;
    bool dc = false;
    bool ac = false;
    texts_.ModeText = texts::Continuous;

    LinkIndicators& link = state_.link();
    link.conOk = true;
    link.conOkN = false;
    link.rsUsb = true;

    if (frame.size() < kFrameChars || frame.substr(40, 4) != "0D0A")
        return result;
    // Every character the decoder reads must be an upper-case hexadecimal digit; anything
    // else is treated like a damaged terminator.
    for (int i = 0; i < kFrameChars; ++i) {
        if (hexValue(frame[static_cast<std::size_t>(i)]) < 0)
            return result;
    }
    result.accepted = true;

    state_.DispInit(0);
    state_.setStripShown(true);

    auto at = [&](int pos) { return frame[static_cast<std::size_t>(pos - 1)]; };

    for (const NibbleMap& nm : kNibbles) {
        const int v = hexValue(at(nm.position));
        for (int bit = 0; bit < 4; ++bit) {
            if (!(v & (1 << bit)))
                continue;
            const BitElements& be = nm.bits[static_cast<std::size_t>(bit)];
            for (std::size_t k = 0; k < be.count; ++k)
                state_.setLit(be.elements[k], true);
            switch (nm.position) {
            case 8:
                if (bit == 0) {
                    dc = true;
                    texts_.FunctionText = texts::DcV;
                    state_.setStripShown(false);
                } else if (bit == 1) {
                    ac = true;
                    texts_.FunctionText = texts::AcV;
                    state_.setStripShown(false);
                } else if (bit == 2) {
                    minus = true;
                }
                break;
            case 29: {
                static constexpr std::array<std::string_view, 4> units = {
                    texts::UnitV, texts::UnitOhm, texts::UnitMOhm, texts::UnitGOhm};
                texts_.UnitText = units[static_cast<std::size_t>(bit)];
                break;
            }
            case 19:
                if (bit == 0)
                    texts_.ModeText = texts::Timed;
                break;
            case 38:
                if (bit == 2)
                    texts_.ModeText = texts::Pi;
                break;
            default:
                break;
            }
        }
    }

    for (const DigitMap& dm : kDigits) {
        const char code[2] = {at(dm.first), at(dm.second)};
        const std::string_view sv(code, 2);
        const DigitToken tok = dm.tableA ? DecodeSegA(sv) : DecodeSegB(sv);
        DigitState& ds = state_.digit(dm.digit);
        if (tok.isUnlisted())
            continue;
        if (tok.isBlank()) {
            ds.lit = false;
            continue;
        }
        const bool flag = tok.flag == 'P';
        ds.lit = true;
        ds.glyph = tok.glyph;
        state_.setLit(dm.flag, flag);
        if (dm.flag2 != Element::Count)
            state_.setLit(dm.flag2, flag);
        switch (dm.digit) {
        case Digit::LabelA:
        case Digit::LabelB:
        case Digit::LabelC:
        case Digit::LabelD:
            texts_.ReadingValue.push_back(tok.glyph == '@' ? 'L' : tok.glyph);
            if (flag)
                texts_.ReadingValue.push_back('.');
            break;
        case Digit::Label7:
            if (flag)
                texts_.ModeText = texts::CompNg;
            break;
        case Digit::Label10:
            if (flag)
                texts_.ModeText = texts::CompGood;
            break;
        default:
            break;
        }
    }

    if (!dc && !ac) {
        const DigitState& th = state_.digit(Digit::Label3);
        const char hundreds = state_.digit(Digit::Label7).glyph;
        if (!th.lit && hundreds == '5')
            texts_.FunctionText = texts::Ir500;
        if (th.lit && th.glyph == '1' && hundreds == '0')
            texts_.FunctionText = texts::Ir1000;
        if (th.lit && th.glyph == '2' && hundreds == '5')
            texts_.FunctionText = texts::Ir2500;
        if (th.lit && th.glyph == '5' && hundreds == '0')
            texts_.FunctionText = texts::Ir5000;
    }

    if (minus)
        texts_.ReadingValue.insert(texts_.ReadingValue.begin(), '-');

    const bool mainShown = state_.digit(Digit::LabelA).lit || state_.digit(Digit::LabelB).lit ||
                           state_.digit(Digit::LabelC).lit || state_.digit(Digit::LabelD).lit;
    result.record = mainShown;
    return result;
}

} // namespace kx
