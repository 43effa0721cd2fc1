#pragma once

#include "link/hid_platform.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace kx {

// What a report descriptor says about the reports' framing.
struct HidReportLayout {
    bool valid = false;
    bool numbered = false; // reports carry a report ID byte
    // Longest report of each kind, one byte for the report ID included even when unnumbered;
    // 0 when the device has none.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
};

HidReportLayout parseReportDescriptor(const std::uint8_t* data, std::size_t size);

// "0003:00001A86:0000E008" (bus, vendor, product) as udev's HID_ID property gives it.
bool parseHidId(const std::string& text, std::uint16_t& bus, std::uint16_t& vendor,
                std::uint16_t& product);

// Everything the backend tells about one hidraw node, gathered from udev.
struct HidNodeFacts {
    bool identified = false;
    HidAttributes attributes;
    std::optional<std::u16string> product;
    std::optional<std::u16string> serial;
    HidReportLayout layout;
};

// hidProperties: the udev properties of the "hid" parent (HID_ID, HID_NAME, HID_UNIQ);
// usbAttributes: the attributes of the "usb_device" parent (idVendor, idProduct, bcdDevice,
// product, serial), empty for a device on another bus.
HidNodeFacts nodeFactsFrom(const std::map<std::string, std::string>& hidProperties,
                           const std::map<std::string, std::string>& usbAttributes,
                           const std::vector<std::uint8_t>& reportDescriptor);

// The kernel's raw HID nodes, found and watched through udev.
class LinuxHidPlatform : public HidPlatform {
public:
    LinuxHidPlatform();
    ~LinuxHidPlatform() override;

    bool available() const override { return udev_ != nullptr; }
    bool enumerate(std::vector<HidInterface>& out) override;
    std::unique_ptr<HidControlHandle> openControl(const std::string& path, bool readWrite) override;
    std::shared_ptr<HidReadHandle> openRead(const std::string& path, std::uint32_t& error) override;
    void watchChanges(std::function<void()> onChange) override;

private:
    void stopWatching();

    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onChange_;
    // Instance ids by sysfs path: a node that comes back after unplugging has a new path.
    std::map<std::string, std::uint32_t> instances_;
    std::uint32_t nextInstance_ = 1;
    // Facts of the last scan, by device node. A reading thread opens its read handle
    // while the main thread may be scanning, so the map is guarded.
    mutable std::mutex factsMutex_;
    std::map<std::string, HidNodeFacts> facts_;
};

} // namespace kx
