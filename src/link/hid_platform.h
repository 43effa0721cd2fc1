#pragma once

#include <QLoggingCategory>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx {

Q_DECLARE_LOGGING_CATEGORY(lcHid)

// One present HID interface: an id that stays the same across scans while the interface is
// present, and the path that opens it.
struct HidInterface {
    std::uint32_t instance = 0;
    std::string path;
};

struct HidAttributes {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// Report lengths in bytes, report ID byte included (also for devices without numbered reports).
struct HidCaps {
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
    std::uint16_t FeatureReportByteLength = 0;
};

// Copies a device string into a caller's buffer of `units` UTF-16 units, NUL-terminated when
// shorter, as the string queries answer; false when the device has no such string.
inline bool copyHidString(const std::optional<std::u16string>& s, char16_t* buf,
                          std::size_t units) {
    if (!s)
        return false;
    const std::size_t n = std::min(s->size(), units);
    std::copy_n(s->data(), n, buf);
    if (n < units)
        buf[n] = u'\0';
    return true;
}

// Synchronous handle for identification, strings, capabilities and feature reports. A handle
// opened without access answers the identification only.
class HidControlHandle {
public:
    virtual ~HidControlHandle() = default;
    virtual bool getAttributes(HidAttributes& out) = 0;
    // String queries fill at most `units` UTF-16 units, NUL-terminated when shorter.
    virtual bool getProductString(char16_t* buf, std::size_t units) = 0;
    virtual bool getSerialNumberString(char16_t* buf, std::size_t units) = 0;
    // Index 0 is the device's language list.
    virtual bool getIndexedString(unsigned index, char16_t* buf, std::size_t units) = 0;
    virtual bool getCaps(HidCaps& out) = 0;
    // Report ID first.
    virtual bool setFeature(const std::uint8_t* report, std::size_t length) = 0;
};

enum class HidReadStatus {
    Report,  // one input report, report ID first (0 for devices without numbered reports)
    Timeout, // nothing within the time-out; the read may be retried
    Aborted, // the wait was interrupted or the handle closed
    Failed,  // the read request failed with `error`
};

struct HidReadResult {
    HidReadStatus status = HidReadStatus::Timeout;
    std::size_t length = 0;
    std::uint32_t error = 0;
};

// Handle for input reports. read() runs on a reading thread; interrupt() and close() may be
// called from any thread.
class HidReadHandle {
public:
    virtual ~HidReadHandle() = default;
    virtual HidReadResult read(std::uint8_t* buf, std::size_t length, int timeoutMs) = 0;
    // Ends the waiting read, or the next one if none waits, with Aborted.
    virtual void interrupt() = 0;
    // Every read from now on ends with Aborted; the handle's resources go with the object.
    virtual void close() = 0;
};

// The operating system's HID services as the device layer and the controller need them.
// Everything but openRead and the read handle's operations runs on the main thread.
class HidPlatform {
public:
    virtual ~HidPlatform() = default;
    // False when the services cannot be used at all (the controller then never scans).
    virtual bool available() const = 0;
    // The present interfaces in a stable order; false when the set cannot be had.
    virtual bool enumerate(std::vector<HidInterface>& out) = 0;
    // readWrite false opens for identification only. Null when the path cannot be opened.
    virtual std::unique_ptr<HidControlHandle> openControl(const std::string& path,
                                                          bool readWrite) = 0;
    // Null with a system error code when the path cannot be opened for reading. Called from
    // a device's reading thread: it must be safe alongside the main thread's calls.
    virtual std::shared_ptr<HidReadHandle> openRead(const std::string& path,
                                                    std::uint32_t& error) = 0;
    // Calls onChange on the main thread whenever interfaces come or go; an empty callable
    // stops the notifications.
    virtual void watchChanges(std::function<void()> onChange) = 0;
};

} // namespace kx
