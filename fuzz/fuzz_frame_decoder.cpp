// Input: one text handed to the decoder, as `kxlink-cli decode` passes its arguments on; the
// decoder keeps its state from frame to frame, so each input is decoded twice.
#include "display/frame_decoder.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kx::FrameDecoder decoder;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    decoder.ShowDataKx30(text);
    decoder.ShowDataKx30(text);
    // The value text holds at most four digits with their points and a sign.
    if (decoder.readingTexts().ReadingValue.size() > 9)
        __builtin_trap();
    return 0;
}
