#include "link/frame_receiver.h"

namespace kx {
namespace {
constexpr char kHex[] = "0123456789ABCDEF";
}

void FrameReceiver::ReadPw60(std::uint8_t /*reportId*/, const std::uint8_t* data,
                             std::uint16_t size) {
    if (reportHandler_)
        reportHandler_();

    if (size == 0 || data == nullptr) {
        // No header byte: ends a frame without being counted.
    } else {
        const unsigned count = data[0] & 0x0F;
        if (idleReportCount_ < INT32_MAX)
            ++idleReportCount_;
        if (count >= 1 && count <= 9) {
            idleReportCount_ = 0;
            frameInProgress_ = true;
            // A count larger than the bytes present takes only the bytes present.
            std::size_t n = count;
            if (n > static_cast<std::size_t>(size) - 1)
                n = static_cast<std::size_t>(size) - 1;
            const std::size_t room = frameHex_.size() < 2 * kMaxFrameBytes
                                         ? (2 * kMaxFrameBytes - frameHex_.size()) / 2
                                         : 0;
            if (n > room)
                n = room;
            for (std::size_t b = 0; b < n; ++b) {
                const std::uint8_t v = data[1 + b];
                frameHex_.push_back(kHex[v >> 4]);
                frameHex_.push_back(kHex[v & 0x0F]);
            }
            return;
        }
    }

    if (frameInProgress_) {
        if (frameHex_.size() >= 44 && std::string_view(frameHex_).substr(40, 4) == "0D0A" &&
            frameHandler_) {
            frameHandler_(frameHex_);
        }
        frameHex_.clear();
    }
    frameInProgress_ = false;
}

} // namespace kx
