#include "link/hid_platform_linux.h"

#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>

namespace kx {

// ---------------------------------------------------------------------------------------------
// Parsing

HidReportLayout parseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    struct Globals {
        std::uint32_t reportSize = 0;
        std::uint32_t reportCount = 0;
        std::uint32_t reportId = 0;
    };
    HidReportLayout layout;
    Globals g;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> inputBits, outputBits, featureBits;

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = data[i];
        if (prefix == 0xFE) { // long item: size, tag, data
            if (i + 2 >= size)
                return layout;
            i += 3 + std::size_t(data[i + 1]);
            if (i > size)
                return layout;
            continue;
        }
        std::size_t len = prefix & 3;
        if (len == 3)
            len = 4;
        if (i + 1 + len > size)
            return layout; // truncated item
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < len; ++k)
            value |= std::uint32_t(data[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 0) { // main
            const std::uint64_t bits = std::uint64_t(g.reportSize) * g.reportCount;
            if (tag == 0x8)
                inputBits[g.reportId] += bits;
            else if (tag == 0x9)
                outputBits[g.reportId] += bits;
            else if (tag == 0xB)
                featureBits[g.reportId] += bits;
        } else if (type == 1) { // global
            switch (tag) {
            case 0x7:
                g.reportSize = value;
                break;
            case 0x8:
                g.reportId = value;
                layout.numbered = true;
                break;
            case 0x9:
                g.reportCount = value;
                break;
            case 0xA:
                stack.push_back(g);
                break;
            case 0xB:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        }
        i += 1 + len;
    }

    auto longest = [](const std::map<std::uint32_t, std::uint64_t>& bits) -> std::uint16_t {
        std::uint64_t best = 0;
        for (const auto& [id, n] : bits)
            best = std::max(best, (n + 7) / 8);
        if (best == 0)
            return 0;
        return static_cast<std::uint16_t>(std::min<std::uint64_t>(best + 1, 0xFFFF));
    };
    layout.inputReportByteLength = longest(inputBits);
    layout.outputReportByteLength = longest(outputBits);
    layout.featureReportByteLength = longest(featureBits);
    layout.valid = true;
    return layout;
}

namespace {

bool parseHex(std::string_view s, std::uint32_t& out) {
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 16);
    return ec == std::errc() && end == s.data() + s.size();
}

std::u16string utf16(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
}

const std::string* lookup(const std::map<std::string, std::string>& m, const char* key) {
    const auto it = m.find(key);
    return it == m.end() ? nullptr : &it->second;
}

} // namespace

bool parseHidId(const std::string& text, std::uint16_t& bus, std::uint16_t& vendor,
                std::uint16_t& product) {
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string::npos ? a : text.find(':', a + 1);
    if (b == std::string::npos)
        return false;
    std::uint32_t v[3];
    const std::string_view s(text);
    if (!parseHex(s.substr(0, a), v[0]) || !parseHex(s.substr(a + 1, b - a - 1), v[1]) ||
        !parseHex(s.substr(b + 1), v[2]))
        return false;
    if (v[0] > 0xFFFF || v[1] > 0xFFFF || v[2] > 0xFFFF)
        return false;
    bus = static_cast<std::uint16_t>(v[0]);
    vendor = static_cast<std::uint16_t>(v[1]);
    product = static_cast<std::uint16_t>(v[2]);
    return true;
}

HidNodeFacts nodeFactsFrom(const std::map<std::string, std::string>& hidProperties,
                           const std::map<std::string, std::string>& usbAttributes,
                           const std::vector<std::uint8_t>& reportDescriptor) {
    HidNodeFacts f;
    std::uint16_t bus = 0;
    if (const std::string* id = lookup(hidProperties, "HID_ID"))
        f.identified = parseHidId(*id, bus, f.attributes.VendorID, f.attributes.ProductID);
    if (!usbAttributes.empty()) {
        // The USB device's own descriptors: the product string alone, not the kernel's
        // "manufacturer product" name, and none when the device has none.
        std::uint32_t v = 0;
        if (const std::string* s = lookup(usbAttributes, "idVendor"); s && parseHex(*s, v))
            f.attributes.VendorID = static_cast<std::uint16_t>(v);
        if (const std::string* s = lookup(usbAttributes, "idProduct"); s && parseHex(*s, v))
            f.attributes.ProductID = static_cast<std::uint16_t>(v);
        if (const std::string* s = lookup(usbAttributes, "bcdDevice"); s && parseHex(*s, v))
            f.attributes.VersionNumber = static_cast<std::uint16_t>(v);
        if (const std::string* s = lookup(usbAttributes, "product"))
            f.product = utf16(*s);
        if (const std::string* s = lookup(usbAttributes, "serial"); s && !s->empty())
            f.serial = utf16(*s);
    } else {
        if (const std::string* s = lookup(hidProperties, "HID_NAME"); s && !s->empty())
            f.product = utf16(*s);
        if (const std::string* s = lookup(hidProperties, "HID_UNIQ"); s && !s->empty())
            f.serial = utf16(*s);
    }
    f.layout = parseReportDescriptor(reportDescriptor.data(), reportDescriptor.size());
    return f;
}

// ---------------------------------------------------------------------------------------------
// Handles

namespace {

class LinuxControlHandle : public HidControlHandle {
public:
    LinuxControlHandle(HidNodeFacts facts, int fd) : facts_(std::move(facts)), fd_(fd) {}
    ~LinuxControlHandle() override {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool getAttributes(HidAttributes& out) override {
        if (!facts_.identified)
            return false;
        out = facts_.attributes;
        return true;
    }
    bool getProductString(char16_t* buf, std::size_t units) override {
        return copyHidString(facts_.product, buf, units);
    }
    bool getSerialNumberString(char16_t* buf, std::size_t units) override {
        return copyHidString(facts_.serial, buf, units);
    }
    bool getIndexedString(unsigned index, char16_t* buf, std::size_t units) override {
        // The kernel reads the strings in the device's first language; US English stands for
        // it, which keeps a real serial number apart from a language list.
        if (index != 0)
            return false;
        return copyHidString(std::u16string(1, u'\x0409'), buf, units);
    }
    bool getCaps(HidCaps& out) override {
        if (!facts_.layout.valid)
            return false;
        out.InputReportByteLength = facts_.layout.inputReportByteLength;
        out.OutputReportByteLength = facts_.layout.outputReportByteLength;
        out.FeatureReportByteLength = facts_.layout.featureReportByteLength;
        return true;
    }
    bool setFeature(const std::uint8_t* report, std::size_t length) override {
        if (fd_ < 0 || length == 0 || length > 4096)
            return false;
        std::vector<std::uint8_t> buf(report, report + length);
        return ::ioctl(fd_, HIDIOCSFEATURE(length), buf.data()) >= 0;
    }

private:
    HidNodeFacts facts_;
    int fd_;
};

class LinuxReadHandle : public HidReadHandle {
public:
    LinuxReadHandle(int fd, int wakeFd, bool numbered)
        : fd_(fd), wakeFd_(wakeFd), numbered_(numbered) {}
    ~LinuxReadHandle() override {
        ::close(fd_);
        ::close(wakeFd_);
    }

    HidReadResult read(std::uint8_t* buf, std::size_t length, int timeoutMs) override {
        if (closed_.load())
            return {HidReadStatus::Aborted, 0, 0};
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeoutMs);
        if (r < 0)
            return errno == EINTR ? HidReadResult{HidReadStatus::Timeout, 0, 0}
                                  : HidReadResult{HidReadStatus::Failed, 0, std::uint32_t(errno)};
        if (r == 0)
            return {HidReadStatus::Timeout, 0, 0};
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
            return {HidReadStatus::Aborted, 0, 0};
        }
        if (closed_.load())
            return {HidReadStatus::Aborted, 0, 0};
        // Reports of a device without numbered reports come without ID: put 0 in front.
        const std::size_t offset = numbered_ ? 0 : 1;
        if (length <= offset)
            return {HidReadStatus::Report, 0, 0};
        const ssize_t n = ::read(fd_, buf + offset, length - offset);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return {HidReadStatus::Timeout, 0, 0};
            return {HidReadStatus::Failed, 0, std::uint32_t(errno)};
        }
        if (n == 0)
            return {HidReadStatus::Report, 0, 0};
        if (!numbered_)
            buf[0] = 0;
        return {HidReadStatus::Report, static_cast<std::size_t>(n) + offset, 0};
    }
    void interrupt() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }
    void close() override {
        closed_.store(true);
        interrupt();
    }

private:
    int fd_;
    int wakeFd_;
    bool numbered_;
    std::atomic<bool> closed_{false};
};

std::string str(const char* s) {
    return s ? std::string(s) : std::string();
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Platform

LinuxHidPlatform::LinuxHidPlatform() : udev_(udev_new()) {
    if (!udev_)
        qCWarning(lcHid) << "udev cannot be used";
}

LinuxHidPlatform::~LinuxHidPlatform() {
    stopWatching();
    if (udev_)
        udev_unref(udev_);
}

bool LinuxHidPlatform::enumerate(std::vector<HidInterface>& out) {
    out.clear();
    if (!udev_)
        return false;
    udev_enumerate* en = udev_enumerate_new(udev_);
    if (!en)
        return false;
    udev_enumerate_add_match_subsystem(en, "hidraw");
    if (udev_enumerate_scan_devices(en) < 0) {
        udev_enumerate_unref(en);
        return false;
    }
    std::map<std::string, HidNodeFacts> facts;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
        const std::string syspath = str(udev_list_entry_get_name(entry));
        udev_device* dev = udev_device_new_from_syspath(udev_, syspath.c_str());
        if (!dev)
            continue;
        const std::string node = str(udev_device_get_devnode(dev));
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
        if (!node.empty() && hid) {
            std::map<std::string, std::string> hidProps;
            for (const char* key : {"HID_ID", "HID_NAME", "HID_UNIQ"}) {
                if (const char* v = udev_device_get_property_value(hid, key))
                    hidProps[key] = v;
            }
            std::map<std::string, std::string> usbAttrs;
            if (udev_device* usb =
                    udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
                for (const char* key :
                     {"idVendor", "idProduct", "bcdDevice", "product", "serial"}) {
                    if (const char* v = udev_device_get_sysattr_value(usb, key))
                        usbAttrs[key] = v;
                }
            }
            const std::vector<std::uint8_t> descriptor =
                readFile(str(udev_device_get_syspath(hid)) + "/report_descriptor");
            facts[node] = nodeFactsFrom(hidProps, usbAttrs, descriptor);
            auto [it, added] = instances_.try_emplace(syspath, nextInstance_);
            if (added)
                ++nextInstance_;
            out.push_back({it->second, node});
        }
        udev_device_unref(dev);
    }
    udev_enumerate_unref(en);
    const std::lock_guard lock(factsMutex_);
    facts_ = std::move(facts);
    return true;
}

std::unique_ptr<HidControlHandle> LinuxHidPlatform::openControl(const std::string& path,
                                                                bool readWrite) {
    HidNodeFacts facts;
    {
        const std::lock_guard lock(factsMutex_);
        const auto it = facts_.find(path);
        if (it == facts_.end())
            return nullptr;
        facts = it->second;
    }
    if (readWrite) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        return std::make_unique<LinuxControlHandle>(std::move(facts), fd);
    }
    // Without access the node answers from udev's facts only, as long as it exists.
    if (::access(path.c_str(), F_OK) != 0)
        return nullptr;
    return std::make_unique<LinuxControlHandle>(std::move(facts), -1);
}

std::shared_ptr<HidReadHandle> LinuxHidPlatform::openRead(const std::string& path,
                                                          std::uint32_t& error) {
    bool numbered = false;
    {
        const std::lock_guard lock(factsMutex_);
        const auto it = facts_.find(path);
        numbered = it != facts_.end() && it->second.layout.numbered;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = static_cast<std::uint32_t>(errno);
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        error = static_cast<std::uint32_t>(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_shared<LinuxReadHandle>(fd, wakeFd, numbered);
}

void LinuxHidPlatform::stopWatching() {
    notifier_.reset();
    if (monitor_) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

void LinuxHidPlatform::watchChanges(std::function<void()> onChange) {
    stopWatching();
    onChange_ = std::move(onChange);
    if (!onChange_ || !udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        qCWarning(lcHid) << "no device-change notifications: udev monitor unavailable";
        stopWatching();
        return;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        while (udev_device* d = udev_monitor_receive_device(monitor_))
            udev_device_unref(d);
        if (onChange_)
            onChange_();
    });
}

} // namespace kx
