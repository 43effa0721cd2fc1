#include "link/hid_device.h"

#include "link/hid_device_controller.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kx {

// Device traffic is for those who ask for it (QT_LOGGING_RULES="kx.link.hid.debug=true").
Q_LOGGING_CATEGORY(lcHid, "kx.link.hid", QtInfoMsg)

namespace {

std::u16string upToNul(const char16_t* buf, std::size_t units) {
    const char16_t* end = std::find(buf, buf + units, u'\0');
    return std::u16string(buf, end);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// THidDevice

THidDevice::THidDevice(std::shared_ptr<HidPlatform> platform, std::unique_ptr<THidPnPInfo> pnpInfo,
                       THidDeviceController* controller)
    : platform_(std::move(platform)), controller_(controller), pnpInfo_(std::move(pnpInfo)) {
    if (controller_) {
        SetDataHandler(controller_->OnDeviceData());
        dataErrorHandler_ = controller_->OnDeviceDataError();
        unplugHandler_ = controller_->OnDeviceUnplug();
    }
    if (platform_ && pnpInfo_) {
        controlHandle_ = platform_->openControl(pnpInfo_->DevicePath, true);
        readWriteAccess_ = controlHandle_ != nullptr;
        if (!controlHandle_)
            controlHandle_ = platform_->openControl(pnpInfo_->DevicePath, false);
    }
    if (!controlHandle_)
        throw EControllerError("device cannot be opened");
    if (!controlHandle_->getAttributes(attributes_))
        throw EControllerError("device cannot be identified");
    CloseControlHandle();
}

THidDevice::~THidDevice() {
    *alive_ = false;
    const THidDataEvent data = dataHandler_;
    const THidPlugEvent unplug = unplugHandler_;
    SetDataHandler(nullptr);
    unplugHandler_ = nullptr;
    CloseControlHandle();
    CloseReadHandle();
    if (controller_)
        controller_->ReturnDevice(this, data, unplug, ReadSleepTime());
}

bool THidDevice::openControl() {
    controlHandle_ = platform_->openControl(pnpInfo_->DevicePath, true);
    readWriteAccess_ = controlHandle_ != nullptr;
    if (!controlHandle_)
        controlHandle_ = platform_->openControl(pnpInfo_->DevicePath, false);
    return controlHandle_ != nullptr;
}

bool THidDevice::OpenControlHandle() {
    if (IsAccessible() && !controlHandle_ && pnpInfo_)
        openControl();
    return controlHandle_ != nullptr;
}

void THidDevice::CloseControlHandle() {
    controlHandle_.reset();
}

bool THidDevice::OpenReadHandle() {
    std::shared_ptr<HidReadHandle> handle;
    std::uint32_t error = 0;
    return BeginReportRead(handle, error);
}

void THidDevice::CloseReadHandle() {
    std::shared_ptr<HidReadHandle> handle;
    {
        std::lock_guard lock(readMutex_);
        handle = std::move(readHandle_);
    }
    if (handle)
        handle->close();
}

bool THidDevice::BeginReportRead(std::shared_ptr<HidReadHandle>& handle, std::uint32_t& error) {
    std::lock_guard lock(readMutex_);
    if (!IsAccessible() || !pnpInfo_) {
        error = ENODEV;
        return false;
    }
    if (!readHandle_) {
        readHandle_ = platform_->openRead(pnpInfo_->DevicePath, error);
        if (!readHandle_)
            return false;
    }
    handle = readHandle_;
    return true;
}

void THidDevice::interruptRead() {
    std::lock_guard lock(readMutex_);
    if (readHandle_)
        readHandle_->interrupt();
}

std::u16string THidDevice::ProductString() {
    if (productString_.empty() && OpenControlHandle()) {
        char16_t buf[kStringUnits] = {};
        if (controlHandle_->getProductString(buf, kStringUnits))
            productString_ = upToNul(buf, kStringUnits);
        CloseControlHandle();
    }
    return productString_;
}

std::u16string THidDevice::SerialString() {
    if (serialString_.empty() && OpenControlHandle()) {
        char16_t serial[kStringUnits] = {};
        if (controlHandle_->getSerialNumberString(serial, kStringUnits)) {
            // Some devices answer the serial-number request with their language list.
            char16_t languages[kStringUnits];
            std::fill(std::begin(languages), std::end(languages), char16_t(0xFFFF));
            controlHandle_->getIndexedString(0, languages, kStringUnits);
            std::size_t n = 0;
            for (std::size_t i = kStringUnits; i-- > 0;) {
                if (languages[i] != 0xFFFF) {
                    n = i + 1 - (languages[i] == 0 ? 1 : 0);
                    break;
                }
            }
            if (n > 0 && !std::equal(serial, serial + n, languages))
                serialString_ = upToNul(serial, kStringUnits);
        }
        CloseControlHandle();
    }
    return serialString_;
}

HidCaps THidDevice::ReportCaps() {
    if (!capsFetched_ && OpenControlHandle()) {
        HidCaps caps;
        if (controlHandle_->getCaps(caps)) {
            caps_ = caps;
            capsFetched_ = true;
        }
        CloseControlHandle();
    }
    return capsFetched_ ? caps_ : HidCaps{};
}

bool THidDevice::SendFeatureReport(const std::uint8_t* report, std::size_t length) {
    if (!OpenControlHandle())
        return false;
    return controlHandle_->setFeature(report, length);
}

void THidDevice::SetDataHandler(THidDataEvent handler) {
    if (!handler) {
        // A report delivered while stopping may have its handler release this device.
        const std::shared_ptr<bool> alive = alive_;
        StopReading();
        if (!*alive)
            return;
    }
    dataHandler_ = std::move(handler);
    StartReading();
}

void THidDevice::StartReading() {
    if (!dataHandler_ || !PluggedIn() || !Claimed() || !readWriteAccess_ || readThread_)
        return;
    // A report never exceeds 64 data bytes and its ID; used when the length is unknown.
    constexpr std::size_t kFallbackReportLength = 65;
    const HidCaps caps = ReportCaps();
    const std::size_t length =
        caps.InputReportByteLength ? caps.InputReportByteLength : kFallbackReportLength;
    auto thread = std::make_unique<THidDeviceReadThread>(*this, length);
    thread->Start();
    readThread_ = std::move(thread);
}

void THidDevice::StopReading() {
    if (!readThread_)
        return;
    // Taken out first: a handler run while waiting may stop the reading again or destroy the
    // device, and neither may pull the thread from under this wait.
    std::unique_ptr<THidDeviceReadThread> thread = std::move(readThread_);
    thread->Terminate();
    thread->WaitFor();
}

void THidDevice::SetReadSleepTime(std::int32_t ms) {
    if (ms >= kMinReadSleepTime && ms <= kMaxReadSleepTime)
        readSleepTime_.store(ms);
}

void THidDevice::MarkUnplugged() {
    CloseControlHandle();
    std::shared_ptr<HidReadHandle> handle;
    {
        std::lock_guard lock(readMutex_);
        handle = std::move(readHandle_);
        pluggedIn_.store(false);
    }
    if (handle)
        handle->close();
    if (unplugHandler_) {
        const THidPlugEvent handler = std::move(unplugHandler_);
        unplugHandler_ = nullptr;
        handler(this);
    }
}

// ---------------------------------------------------------------------------------------------
// THidDeviceReadThread

struct THidDeviceReadThread::HandOff {
    std::mutex mutex;
    std::condition_variable cv;
    std::function<void()> call; // the pending hand-off, if any
    std::uint64_t posted = 0;   // hand-offs posted so far
    std::uint64_t done = 0;     // hand-offs the reading thread may go on from
    bool finished = false;      // the thread body has ended
    int wakeFd = -1;            // tells the main thread's event loop a hand-off is pending
    int activations = 0;        // main thread only: notifier callbacks running

    ~HandOff() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    // Main thread: runs the pending hand-off, if any.
    void runPending() {
        std::unique_lock lock(mutex);
        if (!call)
            return;
        std::function<void()> f = std::move(call);
        call = nullptr;
        const std::uint64_t seq = posted;
        lock.unlock();
        f();
        lock.lock();
        done = std::max(done, seq);
        cv.notify_all();
    }
};

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::size_t reportLength)
    : device_(device), reportBuffer_(reportLength), handOff_(std::make_shared<HandOff>()) {}

THidDeviceReadThread::~THidDeviceReadThread() {
    if (thread_.joinable()) {
        Terminate();
        WaitFor();
    }
    if (notifier_) {
        notifier_->setEnabled(false);
        // Never delete the notifier from inside its own callback.
        if (handOff_->activations > 0)
            notifier_->deleteLater();
        else
            delete notifier_;
    }
}

void THidDeviceReadThread::Start() {
    handOff_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (handOff_->wakeFd < 0) {
        qCWarning(lcHid) << "no event descriptor for the reading thread:" << errno;
    } else {
        notifier_ = new QSocketNotifier(handOff_->wakeFd, QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [h = handOff_] {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(h->wakeFd, &count, sizeof count);
            ++h->activations;
            h->runPending();
            --h->activations;
        });
    }
    thread_ = std::thread([this] { Execute(); });
}

void THidDeviceReadThread::Terminate() {
    {
        std::lock_guard lock(pauseMutex_);
        terminated_.store(true);
    }
    pauseCv_.notify_all();
    device_.interruptRead();
}

void THidDeviceReadThread::WaitFor() {
    const std::shared_ptr<HandOff> h = handOff_;
    std::unique_lock lock(h->mutex);
    for (;;) {
        if (h->call) {
            lock.unlock();
            h->runPending();
            lock.lock();
            continue;
        }
        if (h->finished)
            break;
        if (h->done < h->posted) {
            // A hand-off of this thread is running further up this very stack: let the thread
            // go on without waiting for it, or neither side could ever finish.
            h->done = h->posted;
            h->cv.notify_all();
            continue;
        }
        h->cv.wait(lock);
    }
    lock.unlock();
    if (thread_.joinable())
        thread_.join();
}

void THidDeviceReadThread::handOff(std::function<void()> call) {
    HandOff& h = *handOff_;
    std::unique_lock lock(h.mutex);
    h.call = std::move(call);
    const std::uint64_t seq = ++h.posted;
    lock.unlock();
    h.cv.notify_all(); // a stop may be waiting for it
    if (h.wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(h.wakeFd, &one, sizeof one);
    }
    lock.lock();
    h.cv.wait(lock, [&] { return h.done >= seq; });
}

void THidDeviceReadThread::pause(int ms) {
    std::unique_lock lock(pauseMutex_);
    pauseCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void THidDeviceReadThread::Execute() {
    THidDevice* const device = &device_;
    while (!terminated_.load()) {
        std::fill(reportBuffer_.begin(), reportBuffer_.end(), 0);
        std::shared_ptr<HidReadHandle> handle;
        std::uint32_t error = 0;
        if (!device_.BeginReportRead(handle, error)) {
            handOff([device, error] {
                if (const THidDataErrorEvent h = device->DataErrorHandler())
                    h(device, error);
            });
            // A device that is gone fails every request; one report per slice is plenty.
            pause(device_.ReadSleepTime());
            continue;
        }
        HidReadResult result;
        do {
            result =
                handle->read(reportBuffer_.data(), reportBuffer_.size(), device_.ReadSleepTime());
        } while (result.status == HidReadStatus::Timeout && !terminated_.load());
        // A report already read is delivered even when a stop came meanwhile.
        if (terminated_.load() && result.status != HidReadStatus::Report)
            break;
        switch (result.status) {
        case HidReadStatus::Report:
            if (result.length > 0) {
                std::vector<std::uint8_t> report(reportBuffer_.begin(),
                                                 reportBuffer_.begin() + result.length);
                handOff([device, report = std::move(report)] {
                    if (const THidDataEvent h = device->DataHandler())
                        h(device, report[0], report.data() + 1,
                          static_cast<std::uint16_t>(report.size() - 1));
                });
            }
            break;
        case HidReadStatus::Failed:
            handOff([device, error = result.error] {
                if (const THidDataErrorEvent h = device->DataErrorHandler())
                    h(device, error);
            });
            pause(device_.ReadSleepTime());
            break;
        case HidReadStatus::Aborted:
        case HidReadStatus::Timeout:
            break;
        }
    }
    {
        std::lock_guard lock(handOff_->mutex);
        handOff_->finished = true;
    }
    handOff_->cv.notify_all();
}

} // namespace kx
