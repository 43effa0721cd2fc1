#include "link/hid_device_controller.h"

#include <algorithm>

namespace kx {

namespace {

// Keeps a device's InEventCall set while one of its events runs. The handler may destroy the
// device, so the flag is only cleared when the device is still listed afterwards.
class EventCall {
public:
    EventCall(THidDevice* dev, const std::vector<THidDevice*>& list, std::atomic<bool>& flag)
        : dev_(dev), list_(list), flag_(flag) {
        flag_.store(true);
    }
    ~EventCall() {
        if (stillListed())
            flag_.store(false);
    }
    bool stillListed() const { return std::find(list_.begin(), list_.end(), dev_) != list_.end(); }

private:
    THidDevice* dev_;
    const std::vector<THidDevice*>& list_;
    std::atomic<bool>& flag_;
};

} // namespace

std::atomic<int>& THidDeviceController::instanceCount() {
    // The one-controller rule is program-wide by nature.
    static std::atomic<int> count{0};
    return count;
}

THidDeviceController::THidDeviceController(std::shared_ptr<HidPlatform> platform, QObject* parent)
    : QObject(parent), platform_(std::move(platform)) {
    if (instanceCount().fetch_add(1) + 1 > 1) {
        instanceCount().fetch_sub(1);
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    available_ = platform_ && platform_->available();
    if (platform_ && !available_)
        qCWarning(lcHid) << "HID services unavailable; no devices will be listed";
}

THidDeviceController::~THidDeviceController() {
    instanceCount().fetch_sub(1);
    onDeviceChange_ = nullptr;
    onDeviceUnplug_ = nullptr;
    onEnumerate_ = nullptr;
    if (available_)
        platform_->watchChanges({});
    const std::vector<THidDevice*> list = std::move(deviceList_);
    deviceList_.clear();
    for (THidDevice* dev : list)
        dev->controller_ = nullptr;
    for (THidDevice* dev : list) {
        if (dev->Claimed())
            dev->MarkUnplugged();
    }
    owned_.clear();
}

void THidDeviceController::ArmNotifications() {
    loading_ = false;
    if (!available_)
        return;
    platform_->watchChanges([this] { DeviceChange(); });
    // The first scan runs from the event loop, once start-up has finished.
    QMetaObject::invokeMethod(
        this, [this] { DeviceChange(); }, Qt::QueuedConnection);
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanPresentDevices() {
    std::vector<std::unique_ptr<THidDevice>> found;
    if (!available_)
        return found;
    std::vector<HidInterface> interfaces;
    if (!platform_->enumerate(interfaces))
        return found;
    for (const HidInterface& itf : interfaces) {
        try {
            found.push_back(std::make_unique<THidDevice>(
                platform_, std::make_unique<THidPnPInfo>(itf.instance, itf.path), this));
        } catch (const EControllerError& e) {
            qCDebug(lcHid) << "passing over" << itf.path.c_str() << ":" << e.what();
        }
    }
    return found;
}

void THidDeviceController::destroyUnclaimed(THidDevice* dev) {
    auto it = std::find_if(owned_.begin(), owned_.end(),
                           [dev](const std::unique_ptr<THidDevice>& p) { return p.get() == dev; });
    if (it == owned_.end())
        return;
    std::unique_ptr<THidDevice> doomed = std::move(*it);
    owned_.erase(it);
    doomed->controller_ = nullptr;
}

void THidDeviceController::DeviceChange() {
    bool changed = false;
    std::vector<std::unique_ptr<THidDevice>> fresh = ScanPresentDevices();
    auto presentIn = [&fresh](std::uint32_t instance) {
        return std::any_of(fresh.begin(), fresh.end(),
                           [instance](const auto& n) { return n->DeviceInstance() == instance; });
    };

    // Removals, last to first. Handlers may release devices, so the list is re-checked.
    for (std::size_t k = deviceList_.size(); k-- > 0;) {
        if (k >= deviceList_.size())
            continue;
        THidDevice* dev = deviceList_[k];
        if (dev->PluggedIn() && presentIn(dev->DeviceInstance()))
            continue;
        dev->MarkUnplugged();
        bool listed = true;
        if (const THidPlugEvent h = onRemoval_) {
            EventCall call(dev, deviceList_, dev->inEventCall_);
            h(dev);
            listed = call.stillListed();
        }
        if (listed && !dev->Claimed()) {
            deviceList_.erase(std::find(deviceList_.begin(), deviceList_.end(), dev));
            destroyUnclaimed(dev);
        }
        changed = true;
    }

    // Interfaces already listed and present come back from the scan as duplicates.
    for (std::unique_ptr<THidDevice>& n : fresh) {
        const bool duplicate =
            std::any_of(deviceList_.begin(), deviceList_.end(), [&n](const THidDevice* d) {
                return d->PluggedIn() && d->DeviceInstance() == n->DeviceInstance();
            });
        if (duplicate) {
            n->controller_ = nullptr;
            n.reset();
        }
    }

    for (std::unique_ptr<THidDevice>& n : fresh) {
        if (!n)
            continue;
        THidDevice* dev = n.get();
        deviceList_.push_back(dev);
        owned_.push_back(std::move(n));
        if (const THidPlugEvent h = onArrival_) {
            EventCall call(dev, deviceList_, dev->inEventCall_);
            h(dev);
        }
        changed = true;
    }

    if (changed) {
        if (const THidNotifyEvent h = onDeviceChange_)
            h(this);
    }
}

int THidDeviceController::EnumerateDevices() {
    int count = 0;
    for (std::size_t i = 0; i < deviceList_.size(); ++i) {
        THidDevice* dev = deviceList_[i];
        if (!dev->PluggedIn())
            continue;
        ++count;
        bool goOn = false;
        if (const THidEnumerateEvent h = onEnumerate_) {
            bool listed = false;
            {
                EventCall call(dev, deviceList_, dev->inEventCall_);
                goOn = h(dev, static_cast<std::int32_t>(i));
                listed = call.stillListed();
            }
            if (listed && !dev->Claimed()) {
                dev->CloseControlHandle();
                dev->CloseReadHandle();
            }
        }
        if (!goOn)
            break;
    }
    return count;
}

bool THidDeviceController::ClaimDeviceAt(std::int32_t Idx, std::unique_ptr<THidDevice>& HidDev) {
    HidDev.reset();
    if (Idx < 0 || static_cast<std::size_t>(Idx) >= deviceList_.size())
        return false;
    THidDevice* dev = deviceList_[static_cast<std::size_t>(Idx)];
    if (dev->Claimed())
        return false;
    auto it = std::find_if(owned_.begin(), owned_.end(),
                           [dev](const std::unique_ptr<THidDevice>& p) { return p.get() == dev; });
    if (it == owned_.end())
        return false;
    HidDev = std::move(*it);
    owned_.erase(it);
    dev->claimed_.store(true);
    dev->StartReading();
    return true;
}

void THidDeviceController::ReturnDevice(THidDevice* HidDev, const THidDataEvent& dataHandler,
                                        const THidPlugEvent& unplugHandler,
                                        std::int32_t readSleepTime) {
    auto it = std::find(deviceList_.begin(), deviceList_.end(), HidDev);
    if (it == deviceList_.end())
        return;
    const std::size_t pos = static_cast<std::size_t>(it - deviceList_.begin());
    if (!HidDev->PluggedIn() || !HidDev->pnpInfo_) {
        deviceList_.erase(it);
        return;
    }
    try {
        auto twin = std::make_unique<THidDevice>(platform_, std::move(HidDev->pnpInfo_), this);
        twin->SetDataHandler(dataHandler);
        twin->SetUnplugHandler(unplugHandler);
        twin->SetReadSleepTime(readSleepTime);
        deviceList_[pos] = twin.get();
        owned_.push_back(std::move(twin));
    } catch (const EControllerError& e) {
        // Called from the released device's destructor, which must not throw: the interface
        // leaves the list and comes back with the next scan that can open it.
        qCWarning(lcHid) << "released device cannot be reopened:" << e.what();
        deviceList_.erase(deviceList_.begin() + static_cast<std::ptrdiff_t>(pos));
    }
}

void THidDeviceController::SetOnDeviceChange(THidNotifyEvent h) {
    if (h == onDeviceChange_)
        return;
    onDeviceChange_ = std::move(h);
    if (!loading_)
        DeviceChange();
}

void THidDeviceController::SetOnDeviceData(THidDataEvent h) {
    if (h == onDeviceData_)
        return;
    const THidDataEvent previous = onDeviceData_;
    onDeviceData_ = h;
    const std::vector<THidDevice*> snapshot = deviceList_;
    for (THidDevice* dev : snapshot) {
        // Stopping a thread runs its pending handlers, which may change the list.
        if (std::find(deviceList_.begin(), deviceList_.end(), dev) == deviceList_.end())
            continue;
        if (dev->DataHandler() == previous)
            dev->SetDataHandler(h);
    }
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent h) {
    if (h == onDeviceDataError_)
        return;
    for (THidDevice* dev : deviceList_) {
        if (dev->DataErrorHandler() == onDeviceDataError_)
            dev->SetDataErrorHandler(h);
    }
    onDeviceDataError_ = std::move(h);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent h) {
    if (h == onDeviceUnplug_)
        return;
    for (THidDevice* dev : deviceList_) {
        if (dev->UnplugHandler() == onDeviceUnplug_)
            dev->SetUnplugHandler(h);
    }
    onDeviceUnplug_ = std::move(h);
}

void THidDeviceController::SetDevThreadSleepTime(std::int32_t ms) {
    if (ms == devThreadSleepTime_)
        return;
    for (THidDevice* dev : deviceList_) {
        if (dev->ReadSleepTime() == devThreadSleepTime_)
            dev->SetReadSleepTime(ms);
    }
    devThreadSleepTime_ = ms;
}

} // namespace kx
