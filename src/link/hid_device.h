#pragma once

#include "link/hid_platform.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

class QSocketNotifier;

namespace kx {

class THidDevice;
class THidDeviceController;

// Errors raised while creating devices and controllers.
class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A handler bound to its owner. Copies of one handler compare equal, so the controller can tell
// whether a device still carries its default; two handlers made separately are different even
// when they wrap the same callable.
template <class Sig> class THidHandler;

template <class R, class... Args> class THidHandler<R(Args...)> {
public:
    THidHandler() = default;
    THidHandler(std::nullptr_t) {}
    template <class F>
    requires(!std::is_same_v<std::decay_t<F>, THidHandler> && std::is_invocable_r_v<R, F&, Args...>)
        THidHandler(F f)
        : fn_(std::make_shared<const std::function<R(Args...)>>(std::move(f))) {}

    explicit operator bool() const { return fn_ != nullptr; }
    R operator()(Args... args) const { return (*fn_)(args...); }
    friend bool operator==(const THidHandler& a, const THidHandler& b) { return a.fn_ == b.fn_; }

private:
    std::shared_ptr<const std::function<R(Args...)>> fn_;
};

using THidPlugEvent = THidHandler<void(THidDevice* HidDev)>;
// Data: the report bytes after the report ID; Size: their count.
using THidDataEvent = THidHandler<void(THidDevice* HidDev, std::uint8_t ReportID,
                                       const std::uint8_t* Data, std::uint16_t Size)>;
// Error: the system's error code (errno values on Linux).
using THidDataErrorEvent = THidHandler<void(THidDevice* HidDev, std::uint32_t Error)>;
// Returns whether the enumeration goes on.
using THidEnumerateEvent = THidHandler<bool(THidDevice* HidDev, std::int32_t Idx)>;
using THidNotifyEvent = THidHandler<void(THidDeviceController* Sender)>;

// Plug-and-play record of one interface, made by the controller's scan.
class THidPnPInfo {
public:
    THidPnPInfo(std::uint32_t deviceInstance, std::string devicePath)
        : DeviceInstance(deviceInstance), DevicePath(std::move(devicePath)) {}

    const std::uint32_t DeviceInstance;
    const std::string DevicePath;
};

class THidDeviceReadThread;

// One HID interface. Created by the controller; a client that claimed it gives it back by
// destroying it. All operations run on the main thread.
class THidDevice {
public:
    static constexpr std::int32_t kDefaultReadSleepTime = 100;
    static constexpr std::int32_t kMinReadSleepTime = 10;
    static constexpr std::int32_t kMaxReadSleepTime = 10000;
    // String buffers hold 508 bytes.
    static constexpr std::size_t kStringUnits = 254;

    // Throws EControllerError when the device cannot be opened or identified.
    THidDevice(std::shared_ptr<HidPlatform> platform, std::unique_ptr<THidPnPInfo> pnpInfo,
               THidDeviceController* controller);
    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    THidDeviceController* Controller() const { return controller_; }
    bool PluggedIn() const { return pluggedIn_.load(); }
    bool Claimed() const { return claimed_.load(); }
    bool InEventCall() const { return inEventCall_.load(); }
    bool IsAccessible() const { return PluggedIn() && (Claimed() || InEventCall()); }

    const HidAttributes& Attributes() const { return attributes_; }
    std::uint16_t VendorID() const { return attributes_.VendorID; }
    std::uint16_t ProductID() const { return attributes_.ProductID; }
    std::uint16_t VersionNumber() const { return attributes_.VersionNumber; }
    // Null only after the record went to a twin on release.
    const THidPnPInfo* PnPInfo() const { return pnpInfo_.get(); }
    std::string DevicePath() const { return pnpInfo_ ? pnpInfo_->DevicePath : std::string(); }
    std::uint32_t DeviceInstance() const { return pnpInfo_ ? pnpInfo_->DeviceInstance : 0; }

    bool ReadWriteAccess() const { return readWriteAccess_; }
    std::u16string ProductString();
    // Empty when the device has none, answers with its language list, or the list is unreadable.
    std::u16string SerialString();
    HidCaps ReportCaps();
    // Report ID first. Leaves the control handle open.
    bool SendFeatureReport(const std::uint8_t* report, std::size_t length);

    bool OpenControlHandle();
    void CloseControlHandle();
    bool OpenReadHandle();
    void CloseReadHandle();

    // Setting a handler starts the reading of a claimed device with read and write access;
    // none stops it. Replacing one handler by another keeps the running thread.
    void SetDataHandler(THidDataEvent handler);
    const THidDataEvent& DataHandler() const { return dataHandler_; }
    void SetDataErrorHandler(THidDataErrorEvent handler) { dataErrorHandler_ = std::move(handler); }
    const THidDataErrorEvent& DataErrorHandler() const { return dataErrorHandler_; }
    void SetUnplugHandler(THidPlugEvent handler) { unplugHandler_ = std::move(handler); }
    const THidPlugEvent& UnplugHandler() const { return unplugHandler_; }

    void StartReading();
    // Waits for the reading thread's end while delivering its pending reports and errors.
    void StopReading();
    bool Reading() const { return readThread_ != nullptr; }

    std::int32_t ReadSleepTime() const { return readSleepTime_.load(); }
    // Values outside 10..10000 are ignored.
    void SetReadSleepTime(std::int32_t ms);

    // The device was found missing: handles closed, UnplugHandler called once. A running
    // reading thread keeps running and reports an error per pass until it is stopped.
    void MarkUnplugged();

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    bool openControl();
    // Reading thread: the read handle for the next request, or false with an error code.
    bool BeginReportRead(std::shared_ptr<HidReadHandle>& handle, std::uint32_t& error);
    void interruptRead();

    std::shared_ptr<HidPlatform> platform_;
    THidDeviceController* controller_;
    std::atomic<bool> pluggedIn_{true};
    std::atomic<bool> claimed_{false};
    std::atomic<bool> inEventCall_{false};
    std::unique_ptr<HidControlHandle> controlHandle_;
    // Guards readHandle_ and the plugged-in transition against the reading thread.
    std::mutex readMutex_;
    std::shared_ptr<HidReadHandle> readHandle_;
    HidAttributes attributes_;
    std::unique_ptr<THidPnPInfo> pnpInfo_;
    std::u16string productString_;
    bool capsFetched_ = false;
    HidCaps caps_;
    std::u16string serialString_;
    std::atomic<std::int32_t> readSleepTime_{kDefaultReadSleepTime};
    THidDataEvent dataHandler_;
    THidDataErrorEvent dataErrorHandler_;
    THidPlugEvent unplugHandler_;
    bool readWriteAccess_ = false;
    std::unique_ptr<THidDeviceReadThread> readThread_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The reading thread of one device. Every report and error is handed to the main thread, and
// the thread waits until it has been handled there.
class THidDeviceReadThread {
public:
    THidDeviceReadThread(THidDevice& device, std::size_t reportLength);
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void Start();
    // Asks the thread to end and wakes it from any wait. Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Main thread: waits for the end, running the thread's pending hand-offs meanwhile. Also
    // safe from inside one of this thread's own hand-offs.
    void WaitFor();

    // The hand-off between the reading thread and the main thread, shared with the notifier
    // that wakes the main thread so that a hand-off outliving the thread object stays valid.
    struct HandOff;

private:
    void Execute();
    // Runs call on the main thread and waits until it has returned (or was given up by a stop
    // issued from inside it).
    void handOff(std::function<void()> call);
    void pause(int ms);

    THidDevice& device_;
    std::vector<std::uint8_t> reportBuffer_;
    std::shared_ptr<HandOff> handOff_;
    QSocketNotifier* notifier_ = nullptr; // main thread; deleted when the thread object goes
    std::atomic<bool> terminated_{false};
    std::mutex pauseMutex_;
    std::condition_variable pauseCv_;
    std::thread thread_;
};

} // namespace kx
