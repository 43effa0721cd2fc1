#include "hid_test_support.h"
#include "link/hid_device_controller.h"
#include "link/sim_usb_serial_cable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

using namespace kx;
using kx::test::ScriptedSource;

namespace {

using Report = InputReportSource::Report;

struct CableTest : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    std::vector<std::int64_t> times;
    std::shared_ptr<SimUsbSerialCable> cable;
    std::unique_ptr<HidControlHandle> control;
    std::shared_ptr<HidReadHandle> reader;

    void plug(std::vector<Report> script, CableClock clock = CableClock::Virtual) {
        cable = std::make_shared<SimUsbSerialCable>(
            std::make_unique<ScriptedSource>(std::move(script), &times), clock);
        bus->plug(cable);
        const std::string path = bus->pathOf(cable);
        control = bus->openControl(path, true);
        std::uint32_t error = 0;
        reader = bus->openRead(path, error);
        ASSERT_NE(control, nullptr);
        ASSERT_NE(reader, nullptr);
    }
    bool configure(std::vector<std::uint8_t> report = kx::test::cableSetupReport()) {
        return control->setFeature(report.data(), report.size());
    }
    std::vector<std::uint8_t> readNow(int timeoutMs = 0) {
        std::uint8_t buf[9] = {};
        const HidReadResult r = reader->read(buf, sizeof buf, timeoutMs);
        if (r.status != HidReadStatus::Report)
            return {};
        return std::vector<std::uint8_t>(buf, buf + r.length);
    }
};

TEST_F(CableTest, IdentifiesAsTheInterfaceCable) {
    plug({});
    HidAttributes a;
    ASSERT_TRUE(control->getAttributes(a));
    EXPECT_EQ(a.VendorID, 0x1A86);
    EXPECT_EQ(a.ProductID, 0xE008);
    char16_t buf[254] = {};
    EXPECT_TRUE(control->getProductString(buf, 254));
    EXPECT_EQ(std::u16string(buf), u"USB to Serial");
    EXPECT_FALSE(control->getSerialNumberString(buf, 254));
}

TEST_F(CableTest, SilentUntilSetTo2400Baud) {
    plug({Report{0xF2, 0x12, 0x34}});
    cable->advance(100000);
    EXPECT_TRUE(readNow().empty());
    std::vector<std::uint8_t> other = kx::test::cableSetupReport();
    other[1] = 0x80; // 9600 baud
    other[2] = 0x25;
    EXPECT_TRUE(configure(other));
    cable->advance(100000);
    EXPECT_FALSE(cable->configured());
    EXPECT_TRUE(readNow().empty());
    EXPECT_TRUE(configure());
    EXPECT_TRUE(cable->configured());
    EXPECT_EQ(cable->baudRate(), 2400u);
    EXPECT_EQ(cable->featureReports().size(), 2u);
    EXPECT_EQ(cable->featureReports()[1], kx::test::cableSetupReport());
}

TEST_F(CableTest, DeliversTheSourceEvery12msThenIdles) {
    plug({Report{0xF2, 0x12, 0x34}, Report{0xF1, 0x56}});
    ASSERT_TRUE(configure());
    cable->advance(11999);
    EXPECT_TRUE(readNow().empty());
    cable->advance(1);
    EXPECT_EQ(readNow(), (std::vector<std::uint8_t>{0x00, 0xF2, 0x12, 0x34, 0, 0, 0, 0, 0}));
    cable->advance(24000);
    EXPECT_EQ(readNow(), (std::vector<std::uint8_t>{0x00, 0xF1, 0x56, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(readNow(), (std::vector<std::uint8_t>{0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(readNow().empty());
    EXPECT_EQ(times, (std::vector<std::int64_t>{12000, 24000, 36000}));
    EXPECT_EQ(cable->cableTimeUs(), 36000);
}

TEST_F(CableTest, WithoutSourceSendsIdleReports) {
    cable = std::make_shared<SimUsbSerialCable>(nullptr, CableClock::Virtual);
    bus->plug(cable);
    control = bus->openControl(bus->pathOf(cable), true);
    std::uint32_t error = 0;
    reader = bus->openRead(bus->pathOf(cable), error);
    ASSERT_TRUE(configure());
    cable->advance(12000);
    EXPECT_EQ(readNow(), (std::vector<std::uint8_t>{0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CableTest, FullInputBufferDropsNewerReports) {
    plug({});
    ASSERT_TRUE(configure());
    cable->advance(12000 * 100);
    EXPECT_EQ(cable->queuedReports(), 64u);
    EXPECT_EQ(times.size(), 100u); // the source still saw every tick
    cable->setInputBufferLimit(1000);
    cable->advance(12000 * 100);
    EXPECT_EQ(cable->queuedReports(), 164u);
}

TEST_F(CableTest, RealClockReadWaitsForTheNextTickAndCanBeInterrupted) {
    plug({Report{0xF1, 0x77}}, CableClock::Real);
    EXPECT_TRUE(readNow(0).empty());
    ASSERT_TRUE(configure());
    // A generous time-out: the report falls due 12 ms after configuration.
    EXPECT_EQ(readNow(10000), (std::vector<std::uint8_t>{0x00, 0xF1, 0x77, 0, 0, 0, 0, 0, 0}));
    EXPECT_GE(cable->cableTimeUs(), 12000);

    std::uint8_t buf[9];
    reader->interrupt();
    EXPECT_EQ(reader->read(buf, sizeof buf, 10000).status, HidReadStatus::Aborted);
    reader->close();
    EXPECT_EQ(reader->read(buf, sizeof buf, 10000).status, HidReadStatus::Aborted);
    EXPECT_EQ(cable->abortedReads(), 2);
}

TEST(DemoPlatform, ListsOneCable) {
    std::shared_ptr<HidPlatform> platform = makeDemoPlatform(nullptr);
    THidDeviceController ctl(platform);
    ctl.DeviceChange();
    ASSERT_EQ(ctl.DeviceList().size(), 1u);
    THidDevice* cable = ctl.DeviceList()[0];
    EXPECT_EQ(cable->VendorID(), 0x1A86);
    EXPECT_EQ(cable->ProductID(), 0xE008);
    EXPECT_TRUE(cable->ReadWriteAccess());
}

} // namespace
