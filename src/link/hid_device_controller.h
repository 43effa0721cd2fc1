#pragma once

// The chief header of the HID device layer: the controller, its devices and the platform
// interface they run on.
#include "link/hid_device.h"
#include "link/hid_platform.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace kx {

// Finds the HID interfaces, keeps the device list current as devices come and go, and lends
// devices to clients. One per program; everything runs on the main thread.
class THidDeviceController : public QObject {
public:
    static constexpr const char* Version = "1.0.25";

    // Throws EControllerError when another controller exists. A null or unavailable platform
    // gives a controller that never scans.
    explicit THidDeviceController(std::shared_ptr<HidPlatform> platform, QObject* parent = nullptr);
    ~THidDeviceController() override;

    // The owner has set up its handlers: watch for device changes and queue the first scan.
    void ArmNotifications();
    // Re-scans; raises OnRemoval, OnArrival and, if anything changed, OnDeviceChange.
    void DeviceChange();
    // Calls OnEnumerate for each plugged-in device until it returns false; returns the count.
    int EnumerateDevices();
    // Hands device Idx to the caller, who gives it back by destroying it.
    bool ClaimDeviceAt(std::int32_t Idx, std::unique_ptr<THidDevice>& HidDev);
    // Called by a released device.
    void ReturnDevice(THidDevice* HidDev, const THidDataEvent& dataHandler,
                      const THidPlugEvent& unplugHandler, std::int32_t readSleepTime);

    // Claimed devices stay listed (owned by their clients) until released.
    const std::vector<THidDevice*>& DeviceList() const { return deviceList_; }
    bool Available() const { return available_; }

    std::int32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
    void SetDevThreadSleepTime(std::int32_t ms);

    const THidPlugEvent& OnArrival() const { return onArrival_; }
    void SetOnArrival(THidPlugEvent h) { onArrival_ = std::move(h); }
    const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
    void SetOnEnumerate(THidEnumerateEvent h) { onEnumerate_ = std::move(h); }
    const THidNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
    // A different handler set after ArmNotifications scans at once.
    void SetOnDeviceChange(THidNotifyEvent h);
    const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
    void SetOnDeviceData(THidDataEvent h);
    const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
    void SetOnDeviceDataError(THidDataErrorEvent h);
    const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
    void SetOnDeviceUnplug(THidPlugEvent h);
    const THidPlugEvent& OnRemoval() const { return onRemoval_; }
    void SetOnRemoval(THidPlugEvent h) { onRemoval_ = std::move(h); }

private:
    std::vector<std::unique_ptr<THidDevice>> ScanPresentDevices();
    void destroyUnclaimed(THidDevice* dev);
    static std::atomic<int>& instanceCount();

    std::shared_ptr<HidPlatform> platform_;
    bool available_ = false;
    bool loading_ = true;
    std::int32_t devThreadSleepTime_ = THidDevice::kDefaultReadSleepTime;
    std::vector<THidDevice*> deviceList_;
    // The unclaimed devices of deviceList_.
    std::vector<std::unique_ptr<THidDevice>> owned_;
    THidPlugEvent onArrival_;
    THidEnumerateEvent onEnumerate_;
    THidNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    THidPlugEvent onRemoval_;
};

} // namespace kx
