#include "display/display_state.h"

namespace kx {

std::optional<Element> elementByName(std::string_view name) {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        if (kElementNames[i] == name)
            return static_cast<Element>(i);
    }
    return std::nullopt;
}

DisplayState::DisplayState() {
    lit_.set();
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const auto d = static_cast<Digit>(i);
        const bool voltage =
            d == Digit::Label3 || d == Digit::Label7 || d == Digit::Label10 || d == Digit::Label9;
        digits_[i] = DigitState{true, voltage ? '0' : '8'};
    }
}

void DisplayState::DispInit(int mode) {
    if (mode == 0)
        lit_.reset();
    else if (mode == 1)
        lit_.set();
}

} // namespace kx
