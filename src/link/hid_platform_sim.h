#pragma once

#include "link/hid_platform.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace kx {

// What a simulated interface looks like to the device layer.
struct SimHidDeviceInfo {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::optional<std::u16string> productString; // none: the query fails
    std::optional<std::u16string> serialString;  // the raw answer to the serial-number query
    std::optional<std::u16string> languageList = std::u16string(1, u'\x0409'); // none: unreadable
    bool readWriteAccess = true; // false: opens only without access
    bool openable = true;        // false: cannot be opened at all
    bool identifiable = true;    // false: attributes cannot be read
    bool numberedReports = false;
    std::uint16_t inputReportByteLength = 9; // report ID byte included
};

class SimReadHandle;

// One simulated interface. Input reports queue up as in the system's buffer for the device;
// the queue holds at most inputBufferLimit() reports and drops newer ones when full.
class SimHidDevice {
public:
    explicit SimHidDevice(SimHidDeviceInfo info);
    virtual ~SimHidDevice();
    SimHidDevice(const SimHidDevice&) = delete;
    SimHidDevice& operator=(const SimHidDevice&) = delete;

    const SimHidDeviceInfo& info() const { return info_; }
    bool pluggedIn() const;

    // Queues an input report, report ID first (0 for devices without numbered reports).
    void pushReport(std::vector<std::uint8_t> report);
    // The next `count` read requests fail with the system error code `error`.
    void failReads(std::uint32_t error, int count = 1);
    std::size_t queuedReports() const;
    std::size_t inputBufferLimit() const;
    void setInputBufferLimit(std::size_t limit);
    // Feature reports received, in order, report ID first.
    std::vector<std::vector<std::uint8_t>> featureReports() const;
    // Reads that ended because they were interrupted or their handle closed while waiting.
    int abortedReads() const;
    // Reads waiting for a report right now.
    int waitingReads() const;
    // Time the last report left the device (steady clock).
    std::chrono::steady_clock::time_point lastDelivery() const;

protected:
    // Called with mutex_ held. Subclasses may answer feature reports (after they are recorded).
    virtual bool onFeatureLocked(const std::vector<std::uint8_t>& report);
    // Called with mutex_ held before each wait of a read: refills the queue from the device's
    // own clock and returns when the next report of its own falls due, if it makes any.
    virtual std::optional<std::chrono::steady_clock::time_point> produceLocked();
    // Called with mutex_ held when the device is plugged in or out (its queue already emptied
    // when out).
    virtual void onPluggedLocked(bool on);
    void enqueueLocked(std::vector<std::uint8_t> report);
    std::size_t inputBufferLimitLocked() const { return limit_; }
    bool pluggedInLocked() const { return pluggedIn_; }

    mutable std::mutex mutex_;
    std::condition_variable cv_;

private:
    friend class SimHidBus;
    friend class SimReadHandle;
    friend class SimControlHandle;

    HidReadResult read(SimReadHandle& handle, std::uint8_t* buf, std::size_t length, int timeoutMs);
    bool setFeature(const std::uint8_t* report, std::size_t length);
    void setPluggedIn(bool on);

    const SimHidDeviceInfo info_;
    bool pluggedIn_ = false;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::size_t limit_ = 64;
    std::uint32_t failError_ = 0;
    int failCount_ = 0;
    std::vector<std::vector<std::uint8_t>> features_;
    int aborted_ = 0;
    int waiting_ = 0;
    std::chrono::steady_clock::time_point lastDelivery_{};
};

// An in-process HID bus: code plugs and unplugs devices, and the bus notifies the watcher
// from the event loop as the system would.
class SimHidBus : public HidPlatform {
public:
    SimHidBus();
    ~SimHidBus() override;

    std::shared_ptr<SimHidDevice> plug(SimHidDeviceInfo info);
    void plug(std::shared_ptr<SimHidDevice> device);
    void unplug(const std::shared_ptr<SimHidDevice>& device);
    // The set of present interfaces cannot be had while this is on.
    void setEnumerationFails(bool fails) { enumerationFails_ = fails; }
    std::string pathOf(const std::shared_ptr<SimHidDevice>& device) const;

    bool available() const override { return true; }
    bool enumerate(std::vector<HidInterface>& out) override;
    std::unique_ptr<HidControlHandle> openControl(const std::string& path, bool readWrite) override;
    std::shared_ptr<HidReadHandle> openRead(const std::string& path, std::uint32_t& error) override;
    void watchChanges(std::function<void()> onChange) override;

private:
    struct Slot {
        std::uint32_t instance;
        std::string path;
        std::shared_ptr<SimHidDevice> device;
    };
    std::shared_ptr<SimHidDevice> find(const std::string& path) const;
    void notify();

    // Read handles are opened from reading threads while the main thread plugs and unplugs.
    mutable std::mutex slotsMutex_;
    std::vector<Slot> slots_;
    std::uint32_t nextInstance_ = 1;
    bool enumerationFails_ = false;
    std::function<void()> onChange_;
    std::unique_ptr<QObject> context_; // drops queued notifications when the bus goes
};

} // namespace kx
