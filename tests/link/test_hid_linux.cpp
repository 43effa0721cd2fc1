#include "link/hid_platform_linux.h"

#include <gtest/gtest.h>

using namespace kx;

namespace {

// A vendor-defined interface like the cable's: unnumbered, 8-byte input and output reports,
// a 9-byte feature report.
const std::vector<std::uint8_t> kUnnumbered = {
    0x06, 0x00, 0xFF,       // usage page (vendor)
    0x09, 0x01,             // usage
    0xA1, 0x01,             // collection (application)
    0x15, 0x00,             // logical minimum 0
    0x26, 0xFF, 0x00,       // logical maximum 255
    0x75, 0x08,             // report size 8
    0x95, 0x08,             // report count 8
    0x09, 0x01, 0x81, 0x02, // input
    0x09, 0x01, 0x91, 0x02, // output
    0x95, 0x09,             // report count 9
    0x09, 0x01, 0xB1, 0x02, // feature
    0xC0,                   // end collection
};

// A mouse with buttons in report 1 and a longer vendor report 2; push and pop around report 2.
const std::vector<std::uint8_t> kNumbered = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01,                         // report ID 1
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03,                                     // buttons 1..3
    0x75, 0x01, 0x95, 0x03, 0x81, 0x02,                                     // 3 bits
    0x75, 0x05, 0x95, 0x01, 0x81, 0x03,                                     // padding 5 bits
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, // x, y
    0xA4,                                                                   // push
    0x85, 0x02,                                                             // report ID 2
    0x75, 0x10, 0x95, 0x08, 0x81, 0x02,                                     // 8 x 16 bits
    0xB4,       // pop: report 1, size 8, count 2
    0x81, 0x02, // 2 more bytes in report 1
    0xC0,
};

TEST(ReportDescriptor, UnnumberedReportsCountTheIdByte) {
    const HidReportLayout l = parseReportDescriptor(kUnnumbered.data(), kUnnumbered.size());
    EXPECT_TRUE(l.valid);
    EXPECT_FALSE(l.numbered);
    EXPECT_EQ(l.inputReportByteLength, 9);
    EXPECT_EQ(l.outputReportByteLength, 9);
    EXPECT_EQ(l.featureReportByteLength, 10);
}

TEST(ReportDescriptor, NumberedReportsTakeTheLongest) {
    const HidReportLayout l = parseReportDescriptor(kNumbered.data(), kNumbered.size());
    EXPECT_TRUE(l.valid);
    EXPECT_TRUE(l.numbered);
    EXPECT_EQ(l.inputReportByteLength, 17); // report 2: 16 bytes and its ID
    EXPECT_EQ(l.outputReportByteLength, 0);
    EXPECT_EQ(l.featureReportByteLength, 0);

    // After the pop, report 1 carries 1 + 2 + 2 bytes.
    std::vector<std::uint8_t> onlyOne = kNumbered;
    onlyOne[44] = 0x01; // the vendor report shrinks to 1 x 16 bits
    const HidReportLayout m = parseReportDescriptor(onlyOne.data(), onlyOne.size());
    EXPECT_EQ(m.inputReportByteLength, 6);
}

TEST(ReportDescriptor, DamagedDescriptors) {
    // Truncated in the middle of an item.
    const std::vector<std::uint8_t> cut(kUnnumbered.begin(), kUnnumbered.begin() + 10);
    EXPECT_FALSE(parseReportDescriptor(cut.data(), cut.size()).valid);
    EXPECT_TRUE(parseReportDescriptor(nullptr, 0).valid);
    EXPECT_EQ(parseReportDescriptor(nullptr, 0).inputReportByteLength, 0);
    // A long item is skipped whole; one running past the end is damage.
    std::vector<std::uint8_t> withLong = {0xFE, 0x02, 0x10, 0xAA, 0xBB};
    withLong.insert(withLong.end(), kUnnumbered.begin(), kUnnumbered.end());
    EXPECT_EQ(parseReportDescriptor(withLong.data(), withLong.size()).inputReportByteLength, 9);
    const std::vector<std::uint8_t> longCut = {0xFE, 0x09, 0x10, 0xAA};
    EXPECT_FALSE(parseReportDescriptor(longCut.data(), longCut.size()).valid);
}

TEST(UdevFacts, HidIdProperty) {
    std::uint16_t bus = 0, vendor = 0, product = 0;
    ASSERT_TRUE(parseHidId("0003:00001A86:0000E008", bus, vendor, product));
    EXPECT_EQ(bus, 3);
    EXPECT_EQ(vendor, 0x1A86);
    EXPECT_EQ(product, 0xE008);
    EXPECT_FALSE(parseHidId("0003:00001A86", bus, vendor, product));
    EXPECT_FALSE(parseHidId("0003:0001FFFFF:0000E008", bus, vendor, product));
    EXPECT_FALSE(parseHidId("0003:zz:0000E008", bus, vendor, product));
    EXPECT_FALSE(parseHidId("", bus, vendor, product));
}

TEST(UdevFacts, UsbDeviceStringsComeFromItsDescriptors) {
    const HidNodeFacts f =
        nodeFactsFrom({{"HID_ID", "0003:00001A86:0000E008"}, {"HID_NAME", "Maker USB to Serial"}},
                      {{"idVendor", "1a86"},
                       {"idProduct", "e008"},
                       {"bcdDevice", "1200"},
                       {"product", "USB to Serial"}},
                      kUnnumbered);
    EXPECT_TRUE(f.identified);
    EXPECT_EQ(f.attributes.VendorID, 0x1A86);
    EXPECT_EQ(f.attributes.ProductID, 0xE008);
    EXPECT_EQ(f.attributes.VersionNumber, 0x1200);
    EXPECT_EQ(f.product, std::u16string(u"USB to Serial"));
    EXPECT_FALSE(f.serial.has_value());
    EXPECT_EQ(f.layout.inputReportByteLength, 9);

    const HidNodeFacts bare =
        nodeFactsFrom({{"HID_ID", "0003:00001A2B:000000C3"}, {"HID_NAME", "HID 1a2b:00c3"}},
                      {{"idVendor", "1a2b"}, {"idProduct", "00c3"}, {"serial", "Z\xC3\xA9-9"}}, {});
    EXPECT_FALSE(bare.product.has_value()); // not the kernel's made-up name
    EXPECT_EQ(bare.serial, std::u16string(u"Z\u00E9-9"));
}

TEST(UdevFacts, OtherBusesUseTheHidProperties) {
    const HidNodeFacts f = nodeFactsFrom({{"HID_ID", "0005:0000046D:0000B023"},
                                          {"HID_NAME", "Pointer"},
                                          {"HID_UNIQ", "aa:bb:cc:dd:ee:ff"}},
                                         {}, kNumbered);
    EXPECT_TRUE(f.identified);
    EXPECT_EQ(f.attributes.VendorID, 0x046D);
    EXPECT_EQ(f.attributes.VersionNumber, 0);
    EXPECT_EQ(f.product, std::u16string(u"Pointer"));
    EXPECT_EQ(f.serial, std::u16string(u"aa:bb:cc:dd:ee:ff"));
    EXPECT_TRUE(f.layout.numbered);

    EXPECT_FALSE(nodeFactsFrom({{"HID_NAME", "x"}}, {}, {}).identified);
}

TEST(LinuxPlatform, ListsWhatThisMachineHas) {
    LinuxHidPlatform platform;
    std::vector<HidInterface> found;
    if (platform.available()) {
        EXPECT_TRUE(platform.enumerate(found));
    }
    for (const HidInterface& itf : found)
        EXPECT_EQ(itf.path.rfind("/dev/", 0), 0u);
    EXPECT_EQ(platform.openControl("/dev/no-such-hidraw", false), nullptr);
    std::uint32_t error = 0;
    EXPECT_EQ(platform.openRead("/dev/no-such-hidraw", error), nullptr);
    EXPECT_NE(error, 0u);
    // Watching may be refused where udev's monitor is unavailable, but never fails loudly.
    platform.watchChanges([] {});
    platform.watchChanges({});
}

} // namespace
