// Room display: the meter's frames decoded into its display state and reading texts. Uses
// common; ui/ the virtual panel.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kx {

// Every panel element that a frame can light or unlight, except the thirteen digits, the
// bar-graph strip and the three link indicators. The names are the panel's element names.
// clang-format off
enum class Element : std::uint8_t {
    // 31 bar-graph marks
    Bar0, BAR1, bar2, bar3, bar4, bar5, bar6, bar7, bar8, bar9, bar10,
    bar11, bar12, bar13, bar14, bar15, bar16, bar17, bar18, bar19, bar20,
    bar21, bar22, bar23, bar24, bar25, bar26, bar27, bar28, bar29, bar30,
    // annunciator nibbles
    labmo, LabelF, labt, labac, labdc, Shape1, Shape2, Shape3, Shape4, Labgo,
    labs3, labs2, labs1, power, labTIME1, labtime2, labsave, labLoad,
    Labgo1, Labmo1, Labo, Labv, stor1, labp1, IMmike, IMoff,
    powerV1, powerv2, powerv3, IGPower,
    // flag elements carried by digit codes (Labgo above is shared)
    Point1, Point2, Point3, Labto, danger, Labng, Labgood, Label4,
    Labclr, T_dPoint1, Labtime, labCOMP, LabFUL,
    Count
};

constexpr std::size_t kElementCount = static_cast<std::size_t>(Element::Count);

constexpr std::array<std::string_view, kElementCount> kElementNames = {
    "Bar0", "BAR1", "bar2", "bar3", "bar4", "bar5", "bar6", "bar7", "bar8", "bar9", "bar10",
    "bar11", "bar12", "bar13", "bar14", "bar15", "bar16", "bar17", "bar18", "bar19", "bar20",
    "bar21", "bar22", "bar23", "bar24", "bar25", "bar26", "bar27", "bar28", "bar29", "bar30",
    "labmo", "LabelF", "labt", "labac", "labdc", "Shape1", "Shape2", "Shape3", "Shape4", "Labgo",
    "labs3", "labs2", "labs1", "power", "labTIME1", "labtime2", "labsave", "labLoad",
    "Labgo1", "Labmo1", "Labo", "Labv", "stor1", "labp1", "IMmike", "IMoff",
    "powerV1", "powerv2", "powerv3", "IGPower",
    "Point1", "Point2", "Point3", "Labto", "danger", "Labng", "Labgood", "Label4",
    "Labclr", "T_dPoint1", "Labtime", "labCOMP", "LabFUL",
};

constexpr std::string_view elementName(Element e) {
    return kElementNames[static_cast<std::size_t>(e)];
}
std::optional<Element> elementByName(std::string_view name);

// Bar mark n (0..30) as an element.
constexpr Element barElement(int n) {
    return static_cast<Element>(static_cast<int>(Element::Bar0) + n);
}

// The thirteen seven-segment digits, in the order the decoder visits them.
// clang-format off
enum class Digit : std::uint8_t {
    LabelA, LabelB, LabelC, LabelD,     // main display, left to right
    Label3, Label7, Label10, Label9,    // test voltage, thousands to units
    H_Time1, H_Time2, M_Time1, M_Time2, // timer mm:ss
    stor2,                              // memory number, units
    Count
};
// clang-format on

constexpr std::size_t kDigitCount = static_cast<std::size_t>(Digit::Count);

constexpr std::array<std::string_view, kDigitCount> kDigitNames = {
    "LabelA", "LabelB",  "LabelC",  "LabelD",  "Label3",  "Label7", "Label10",
    "Label9", "H_Time1", "H_Time2", "M_Time1", "M_Time2", "stor2",
};

constexpr std::string_view digitName(Digit d) {
    return kDigitNames[static_cast<std::size_t>(d)];
}

struct DigitState {
    bool lit = true;
    char glyph = '8'; // '0'..'9', or '@' for the L pattern

    friend bool operator==(const DigitState&, const DigitState&) = default;
};

// The three indicators of the link, switched by the decoder, the receiver and the watchdog.
struct LinkIndicators {
    bool conOk = false; // computer icon with lit screens: frames arriving
    bool conOkN = true; // computer icon with grey screens
    bool rsUsb = true;  // the "USB" link-type mark
    std::string_view rsUsbCaption = "USB";

    friend bool operator==(const LinkIndicators&, const LinkIndicators&) = default;
};

// The meter display as last decoded. At start it is the meter's all-segments picture.
class DisplayState {
public:
    DisplayState();

    bool isLit(Element e) const { return lit_.test(static_cast<std::size_t>(e)); }
    void setLit(Element e, bool on) { lit_.set(static_cast<std::size_t>(e), on); }

    const DigitState& digit(Digit d) const { return digits_[static_cast<std::size_t>(d)]; }
    DigitState& digit(Digit d) { return digits_[static_cast<std::size_t>(d)]; }

    bool stripShown() const { return strip_; }
    void setStripShown(bool on) { strip_ = on; }

    const LinkIndicators& link() const { return link_; }
    LinkIndicators& link() { return link_; }

    // 0 unlights the whole annunciator set, 1 lights it, anything else does nothing.
    // Digits, the strip and the link indicators are left alone.
    void DispInit(int mode);

    const std::bitset<kElementCount>& litSet() const { return lit_; }

    friend bool operator==(const DisplayState&, const DisplayState&) = default;

private:
    std::bitset<kElementCount> lit_;
    std::array<DigitState, kDigitCount> digits_;
    bool strip_ = true;
    LinkIndicators link_;
};

} // namespace kx
