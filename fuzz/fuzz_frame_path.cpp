// Input: a run of cable input reports, each one length byte (data bytes after the report ID,
// taken modulo 65) followed by that many bytes, as the cable's reading thread hands them over.
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kx::FrameDecoder decoder;
    kx::FrameReceiver receiver;
    receiver.setFrameHandler([&](std::string_view hex) { decoder.ShowDataKx30(hex); });
    std::size_t i = 0;
    while (i < size) {
        std::size_t n = data[i++] % 65;
        if (n > size - i)
            n = size - i;
        receiver.ReadPw60(0, n ? data + i : nullptr, static_cast<std::uint16_t>(n));
        i += n;
    }
    // Whatever arrived, the receiver's frame stays bounded.
    if (receiver.FrameHex().size() > 2 * kx::FrameReceiver::kMaxFrameBytes)
        __builtin_trap();
    return 0;
}
