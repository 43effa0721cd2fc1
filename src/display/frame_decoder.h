#pragma once

#include "display/display_state.h"
#include "display/reading_texts.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace kx {

// Result of a segment-table lookup: the glyph ('0'..'9', '@' for the L pattern, 'H' for a
// blank digit, 'G' for an unlisted code) and 'N' or 'P' for the digit's flag.
struct DigitToken {
    char glyph;
    char flag;

    bool isBlank() const { return glyph == 'H' && flag == 'N'; }
    bool isUnlisted() const { return glyph == 'G' && flag == 'P'; }
    friend bool operator==(const DigitToken&, const DigitToken&) = default;
};

// "A".."F" give 10..15, "0".."9" their value; -1 for anything else (the decoder rejects
// frames holding such characters before any nibble is read).
int HexNibble(char c);

// Look up the first two characters of a code (exact, case-sensitive) in segment table A
// (test-voltage digits) or B (all other digits).
DigitToken DecodeSegA(std::string_view code);
DigitToken DecodeSegB(std::string_view code);

// The inverse lookups: the code byte that shows glyph ('0'..'9', '@') with or without the
// digit's flag; 0x00 (blank) for ' '. Empty for glyphs the tables do not hold.
std::optional<std::uint8_t> encodeSegA(char glyph, bool flag);
std::optional<std::uint8_t> encodeSegB(char glyph, bool flag);

// Where the frame carries each part of the display (positions are 1-based characters).
struct NibbleBit {
    int position;
    int bit;
};
// The nibble bit that lights an annunciator; empty for the flag elements of digits, which
// ride on their digit's code (Labgo is both, and reports its nibble bit).
std::optional<NibbleBit> annunciatorBit(Element e);

struct DigitLayout {
    int first;  // position of the code's first (high) character
    int second; // position of its second (low) character
    bool tableA;
    Element flag;
    Element flag2; // Element::Count when the flag lights one mark only
};
DigitLayout digitLayout(Digit d);

struct DecodeResult {
    bool accepted = false; // the frame passed the terminator and character checks
    bool record = false;   // the reading was offered to recording
};

// Turns meter frames (44 hexadecimal characters ending "0D0A") into the display state and
// the four reading texts. Decoding is immediate; pacing is the link's business.
class FrameDecoder {
public:
    using RecordHandler = std::function<void()>;
    using StateObserver =
        std::function<void(const DisplayState& before, const DisplayState& after)>;

    DecodeResult ShowDataKx30(std::string_view frame);

    const DisplayState& state() const { return state_; }
    DisplayState& state() { return state_; }
    const ReadingTexts& readingTexts() const { return texts_; }

    // Called with the reading to be offered to recording (at most once per frame).
    void setRecordHandler(RecordHandler h) { recordHandler_ = std::move(h); }
    // Called once per call of ShowDataKx30 with the state before and after it; the blanked
    // intermediate state is never seen.
    void setStateObserver(StateObserver o) { observer_ = std::move(o); }

    // Lets the watchdog switch the link indicators through the same observer.
    void updateLink(const LinkIndicators& link);

private:
    DecodeResult decode(std::string_view frame);

    DisplayState state_;
    ReadingTexts texts_;
    RecordHandler recordHandler_;
    StateObserver observer_;
};

} // namespace kx
