#include "link/hid_platform_sim.h"

#include <QObject>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kx {

namespace {} // namespace

class SimReadHandle : public HidReadHandle {
public:
    explicit SimReadHandle(std::shared_ptr<SimHidDevice> device) : device_(std::move(device)) {}

    HidReadResult read(std::uint8_t* buf, std::size_t length, int timeoutMs) override {
        return device_->read(*this, buf, length, timeoutMs);
    }
    void interrupt() override {
        {
            std::lock_guard lock(device_->mutex_);
            interrupted_ = true;
        }
        device_->cv_.notify_all();
    }
    void close() override {
        {
            std::lock_guard lock(device_->mutex_);
            closed_ = true;
        }
        device_->cv_.notify_all();
    }

private:
    friend class SimHidDevice;
    std::shared_ptr<SimHidDevice> device_;
    bool interrupted_ = false; // guarded by the device's mutex
    bool closed_ = false;
};

class SimControlHandle : public HidControlHandle {
public:
    SimControlHandle(std::shared_ptr<SimHidDevice> device, bool readWrite)
        : device_(std::move(device)), readWrite_(readWrite) {}

    bool getAttributes(HidAttributes& out) override {
        const SimHidDeviceInfo& s = device_->info();
        if (!device_->pluggedIn() || !s.identifiable)
            return false;
        out.VendorID = s.vendorId;
        out.ProductID = s.productId;
        out.VersionNumber = s.versionNumber;
        return true;
    }
    bool getProductString(char16_t* buf, std::size_t units) override {
        return device_->pluggedIn() && copyHidString(device_->info().productString, buf, units);
    }
    bool getSerialNumberString(char16_t* buf, std::size_t units) override {
        return device_->pluggedIn() && copyHidString(device_->info().serialString, buf, units);
    }
    bool getIndexedString(unsigned index, char16_t* buf, std::size_t units) override {
        return index == 0 && device_->pluggedIn() &&
               copyHidString(device_->info().languageList, buf, units);
    }
    bool getCaps(HidCaps& out) override {
        if (!device_->pluggedIn())
            return false;
        out = HidCaps{};
        out.InputReportByteLength = device_->info().inputReportByteLength;
        return true;
    }
    bool setFeature(const std::uint8_t* report, std::size_t length) override {
        return readWrite_ && device_->setFeature(report, length);
    }

private:
    std::shared_ptr<SimHidDevice> device_;
    bool readWrite_;
};

// ---------------------------------------------------------------------------------------------

SimHidDevice::SimHidDevice(SimHidDeviceInfo info) : info_(std::move(info)) {}

SimHidDevice::~SimHidDevice() = default;

bool SimHidDevice::pluggedIn() const {
    std::lock_guard lock(mutex_);
    return pluggedIn_;
}

void SimHidDevice::setPluggedIn(bool on) {
    {
        std::lock_guard lock(mutex_);
        pluggedIn_ = on;
        if (!on)
            queue_.clear(); // what the system buffered goes with the device
        onPluggedLocked(on);
    }
    cv_.notify_all();
}

void SimHidDevice::pushReport(std::vector<std::uint8_t> report) {
    {
        std::lock_guard lock(mutex_);
        enqueueLocked(std::move(report));
    }
    cv_.notify_all();
}

void SimHidDevice::enqueueLocked(std::vector<std::uint8_t> report) {
    if (queue_.size() < limit_)
        queue_.push_back(std::move(report));
}

void SimHidDevice::failReads(std::uint32_t error, int count) {
    {
        std::lock_guard lock(mutex_);
        failError_ = error;
        failCount_ = count;
    }
    cv_.notify_all();
}

std::size_t SimHidDevice::queuedReports() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

std::size_t SimHidDevice::inputBufferLimit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

void SimHidDevice::setInputBufferLimit(std::size_t limit) {
    std::lock_guard lock(mutex_);
    limit_ = std::max<std::size_t>(limit, 1);
}

std::vector<std::vector<std::uint8_t>> SimHidDevice::featureReports() const {
    std::lock_guard lock(mutex_);
    return features_;
}

int SimHidDevice::abortedReads() const {
    std::lock_guard lock(mutex_);
    return aborted_;
}

int SimHidDevice::waitingReads() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

std::chrono::steady_clock::time_point SimHidDevice::lastDelivery() const {
    std::lock_guard lock(mutex_);
    return lastDelivery_;
}

void SimHidDevice::onPluggedLocked(bool) {}

bool SimHidDevice::onFeatureLocked(const std::vector<std::uint8_t>&) {
    return true;
}

std::optional<std::chrono::steady_clock::time_point> SimHidDevice::produceLocked() {
    return std::nullopt;
}

bool SimHidDevice::setFeature(const std::uint8_t* report, std::size_t length) {
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        if (!pluggedIn_ || length == 0)
            return false;
        features_.emplace_back(report, report + length);
        ok = onFeatureLocked(features_.back());
    }
    cv_.notify_all();
    return ok;
}

HidReadResult SimHidDevice::read(SimReadHandle& handle, std::uint8_t* buf, std::size_t length,
                                 int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (handle.closed_ || handle.interrupted_) {
            handle.interrupted_ = false;
            ++aborted_;
            return {HidReadStatus::Aborted, 0, 0};
        }
        if (failCount_ > 0) {
            --failCount_;
            return {HidReadStatus::Failed, 0, failError_};
        }
        const std::optional<Clock::time_point> next = produceLocked();
        if (!queue_.empty()) {
            const std::vector<std::uint8_t> report = std::move(queue_.front());
            queue_.pop_front();
            const std::size_t n = std::min(report.size(), length);
            std::copy_n(report.data(), n, buf);
            lastDelivery_ = Clock::now();
            return {HidReadStatus::Report, n, 0};
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return {HidReadStatus::Timeout, 0, 0};
        ++waiting_;
        cv_.wait_until(lock, next && *next < deadline ? *next : deadline);
        --waiting_;
    }
}

// ---------------------------------------------------------------------------------------------

SimHidBus::SimHidBus() : context_(std::make_unique<QObject>()) {}

SimHidBus::~SimHidBus() = default;

std::shared_ptr<SimHidDevice> SimHidBus::plug(SimHidDeviceInfo info) {
    auto device = std::make_shared<SimHidDevice>(std::move(info));
    plug(device);
    return device;
}

void SimHidBus::plug(std::shared_ptr<SimHidDevice> device) {
    {
        const std::lock_guard lock(slotsMutex_);
        const std::uint32_t instance = nextInstance_++;
        device->setPluggedIn(true);
        slots_.push_back({instance, "sim:hid#" + std::to_string(instance), std::move(device)});
    }
    notify();
}

void SimHidBus::unplug(const std::shared_ptr<SimHidDevice>& device) {
    {
        const std::lock_guard lock(slotsMutex_);
        auto it = std::find_if(slots_.begin(), slots_.end(),
                               [&](const Slot& s) { return s.device == device; });
        if (it == slots_.end())
            return;
        device->setPluggedIn(false);
        slots_.erase(it);
    }
    notify();
}

std::string SimHidBus::pathOf(const std::shared_ptr<SimHidDevice>& device) const {
    const std::lock_guard lock(slotsMutex_);
    for (const Slot& s : slots_) {
        if (s.device == device)
            return s.path;
    }
    return {};
}

std::shared_ptr<SimHidDevice> SimHidBus::find(const std::string& path) const {
    const std::lock_guard lock(slotsMutex_);
    for (const Slot& s : slots_) {
        if (s.path == path)
            return s.device;
    }
    return nullptr;
}

bool SimHidBus::enumerate(std::vector<HidInterface>& out) {
    out.clear();
    if (enumerationFails_)
        return false;
    const std::lock_guard lock(slotsMutex_);
    for (const Slot& s : slots_)
        out.push_back({s.instance, s.path});
    return true;
}

std::unique_ptr<HidControlHandle> SimHidBus::openControl(const std::string& path, bool readWrite) {
    const std::shared_ptr<SimHidDevice> device = find(path);
    if (!device || !device->info().openable || (readWrite && !device->info().readWriteAccess))
        return nullptr;
    return std::make_unique<SimControlHandle>(device, readWrite);
}

std::shared_ptr<HidReadHandle> SimHidBus::openRead(const std::string& path, std::uint32_t& error) {
    const std::shared_ptr<SimHidDevice> device = find(path);
    if (!device) {
        error = ENODEV;
        return nullptr;
    }
    if (!device->info().openable || !device->info().readWriteAccess) {
        error = EACCES;
        return nullptr;
    }
    return std::make_shared<SimReadHandle>(device);
}

void SimHidBus::watchChanges(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

void SimHidBus::notify() {
    if (!onChange_)
        return;
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            if (onChange_)
                onChange_();
        },
        Qt::QueuedConnection);
}

} // namespace kx
