#include "link/sim_usb_serial_cable.h"

namespace kx {

SimHidDeviceInfo SimUsbSerialCable::cableInfo() {
    SimHidDeviceInfo s;
    s.vendorId = kVendorId;
    s.productId = kProductId;
    s.versionNumber = 0x0100;
    s.productString = u"USB to Serial";
    s.serialString.reset();
    s.numberedReports = false;
    s.inputReportByteLength = 9;
    return s;
}

SimUsbSerialCable::SimUsbSerialCable(std::unique_ptr<InputReportSource> source, CableClock clock)
    : SimHidDevice(cableInfo()), source_(std::move(source)), clock_(clock) {}

SimUsbSerialCable::~SimUsbSerialCable() = default;

bool SimUsbSerialCable::configured() const {
    std::lock_guard lock(mutex_);
    return configured_;
}

std::uint32_t SimUsbSerialCable::baudRate() const {
    std::lock_guard lock(mutex_);
    return baud_;
}

std::int64_t SimUsbSerialCable::cableTimeUs() const {
    std::lock_guard lock(mutex_);
    if (!configured_)
        return 0;
    return clock_ == CableClock::Virtual ? virtualNowUs_ : realTimeUsLocked();
}

std::int64_t SimUsbSerialCable::realTimeUsLocked() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

bool SimUsbSerialCable::onFeatureLocked(const std::vector<std::uint8_t>& report) {
    // Report 0: the serial side's bit rate as a 32-bit little-endian number, then the format.
    if (report.size() < 5 || report[0] != 0)
        return false;
    baud_ = std::uint32_t(report[1]) | std::uint32_t(report[2]) << 8 |
            std::uint32_t(report[3]) << 16 | std::uint32_t(report[4]) << 24;
    const bool was = configured_;
    configured_ = baud_ == kBaudRate;
    if (configured_)
        awaitingSetup_ = false;
    if (configured_ && !was) {
        start_ = std::chrono::steady_clock::now();
        virtualNowUs_ = 0;
        nextTickUs_ = kReportIntervalUs;
    }
    return true;
}

void SimUsbSerialCable::tickLocked(std::int64_t atUs) {
    InputReportSource::Report r{};
    if (source_) {
        r = source_->nextReport(atUs);
    } else {
        r.fill(0);
        r[0] = 0xF0;
    }
    if (!pluggedInLocked() || awaitingSetup_)
        return; // the meter's bytes of this time are lost
    std::vector<std::uint8_t> report(1 + r.size(), 0);
    std::copy(r.begin(), r.end(), report.begin() + 1);
    enqueueLocked(std::move(report));
}

void SimUsbSerialCable::onPluggedLocked(bool on) {
    if (!on && configured_)
        awaitingSetup_ = true;
}

std::optional<std::chrono::steady_clock::time_point> SimUsbSerialCable::produceLocked() {
    if (!configured_ || clock_ != CableClock::Real)
        return std::nullopt;
    const std::int64_t now = realTimeUsLocked();
    if (now >= nextTickUs_) {
        // After a long pause only the latest reports fit the buffer; skip the older ticks.
        const std::int64_t due = (now - nextTickUs_) / kReportIntervalUs + 1;
        const auto limit = static_cast<std::int64_t>(inputBufferLimitLocked());
        if (due > limit)
            nextTickUs_ += (due - limit) * kReportIntervalUs;
        while (nextTickUs_ <= now) {
            tickLocked(nextTickUs_);
            nextTickUs_ += kReportIntervalUs;
        }
    }
    return start_ + std::chrono::microseconds(nextTickUs_);
}

void SimUsbSerialCable::advance(std::int64_t us) {
    {
        std::lock_guard lock(mutex_);
        if (!configured_ || clock_ != CableClock::Virtual || us <= 0)
            return;
        virtualNowUs_ += us;
        while (nextTickUs_ <= virtualNowUs_) {
            tickLocked(nextTickUs_);
            nextTickUs_ += kReportIntervalUs;
        }
    }
    cv_.notify_all();
}

std::unique_ptr<HidPlatform> makeDemoPlatform(std::unique_ptr<InputReportSource> source) {
    auto bus = std::make_unique<SimHidBus>();
    bus->plug(std::make_shared<SimUsbSerialCable>(std::move(source), CableClock::Real));
    return bus;
}

} // namespace kx
