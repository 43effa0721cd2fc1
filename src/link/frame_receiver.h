#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

// Assembles the meter's frames from the cable's input reports. Data byte 0 of a report is a
// header whose low four bits count the meter bytes that follow (1..9); any other count, or a
// report without data bytes, ends the frame being assembled.
class FrameReceiver {
public:
    // Receives the whole assembled text (upper-case hex, two characters a byte) of a frame
    // whose 21st and 22nd bytes are CR LF. Frames that ran together arrive as one longer text.
    using FrameHandler = std::function<void(std::string_view frameHex)>;
    // Called first for every report: the panel's link-type caption becomes "USB".
    using ReportHandler = std::function<void()>;

    // Guard against a stream that never ends a frame: past this many payload bytes the rest
    // of the frame is dropped (a real frame holds 22).
    static constexpr std::size_t kMaxFrameBytes = 64 * 1024;

    void ReadPw60(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

    void setFrameHandler(FrameHandler h) { frameHandler_ = std::move(h); }
    void setReportHandler(ReportHandler h) { reportHandler_ = std::move(h); }

    const std::string& FrameHex() const { return frameHex_; }
    bool FrameInProgress() const { return frameInProgress_; }
    std::int32_t IdleReportCount() const { return idleReportCount_; }
    void resetIdleReportCount() { idleReportCount_ = 0; }
    void setIdleReportCount(std::int32_t n) { idleReportCount_ = n; }

private:
    std::string frameHex_;
    bool frameInProgress_ = false;
    std::int32_t idleReportCount_ = 0;
    FrameHandler frameHandler_;
    ReportHandler reportHandler_;
};

} // namespace kx
