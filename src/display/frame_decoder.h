#pragma once

#include "display/display_state.h"
#include "display/reading_texts.h"

#include <QObject>

#include <cstdint>
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
    bool record = false;   // a main digit is shown: the reading is offered to recording
};

// Turns meter frames (44 hexadecimal characters ending "0D0A") into the display state and
// the four reading texts. Decoding is immediate; pacing is the link's business, and whether
// the reading is recorded is the caller's (the result says whether it is offered).
class FrameDecoder : public QObject {
    Q_OBJECT
public:
    explicit FrameDecoder(QObject* parent = nullptr) : QObject(parent) {}

    DecodeResult ShowDataKx30(std::string_view frame);

    const DisplayState& state() const { return state_; }
    DisplayState& state() { return state_; }
    const ReadingTexts& readingTexts() const { return texts_; }

    // The watchdog switches the link indicators; listeners are told as for a frame.
    void updateLink(const LinkIndicators& link);

Q_SIGNALS:
    // Once per call of ShowDataKx30 and per change of the link indicators, with the state
    // before and after it; the blanked intermediate state is never seen.
    void displayChanged(const kx::DisplayState& before, const kx::DisplayState& after);

private:
    DecodeResult decode(std::string_view frame);
    // Whether anyone listens to displayChanged: without listeners no state is copied.
    bool watched() const;

    DisplayState state_;
    ReadingTexts texts_;
};

} // namespace kx
