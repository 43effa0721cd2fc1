#pragma once

#include "link/hid_platform_sim.h"
#include "link/input_report_source.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace kx {

enum class CableClock {
    Real,    // reports fall due with the steady clock
    Virtual, // cable time moves only through advance()
};

// The meter's "USB to Serial" interface cable. It records the feature reports it is sent; once
// set to 2400 baud by a setup report it delivers an 8-byte input report (report ID 0 in front)
// every 12 ms of cable time, taken from the source, or the idle report 0xF0 without one.
// Before that it delivers nothing, and so it does once unplugged until a setup report comes
// again; cable time goes on from the first setup report meanwhile.
class SimUsbSerialCable : public SimHidDevice {
public:
    static constexpr std::uint16_t kVendorId = 0x1A86;
    static constexpr std::uint16_t kProductId = 0xE008;
    static constexpr std::uint32_t kBaudRate = 2400;
    static constexpr std::int64_t kReportIntervalUs = 12000;

    static SimHidDeviceInfo cableInfo();

    explicit SimUsbSerialCable(std::unique_ptr<InputReportSource> source = nullptr,
                               CableClock clock = CableClock::Real);
    ~SimUsbSerialCable() override;

    bool configured() const;
    // The bit rate of the last setup report, 0 before the first.
    std::uint32_t baudRate() const;
    // Virtual clock: moves cable time on by `us`, queueing every report that falls due.
    void advance(std::int64_t us);
    // Microseconds since configuration.
    std::int64_t cableTimeUs() const;

protected:
    bool onFeatureLocked(const std::vector<std::uint8_t>& report) override;
    std::optional<std::chrono::steady_clock::time_point> produceLocked() override;
    void onPluggedLocked(bool on) override;

private:
    void tickLocked(std::int64_t atUs);
    std::int64_t realTimeUsLocked() const;

    std::unique_ptr<InputReportSource> source_;
    const CableClock clock_;
    bool configured_ = false;
    bool awaitingSetup_ = false; // plugged in again: silent until the next setup report
    std::uint32_t baud_ = 0;
    std::chrono::steady_clock::time_point start_{};
    std::int64_t virtualNowUs_ = 0;
    std::int64_t nextTickUs_ = kReportIntervalUs;
};

// The demo's bus: one cable on the real clock, fed by `source` (idle without one).
std::unique_ptr<HidPlatform> makeDemoPlatform(std::unique_ptr<InputReportSource> source);

} // namespace kx
