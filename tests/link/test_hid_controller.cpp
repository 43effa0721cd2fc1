#include "hid_test_support.h"
#include "link/device_display_name.h"
#include "link/hid_device_controller.h"
#include "link/hid_platform_sim.h"

#include <gtest/gtest.h>

#include <string>

using namespace kx;
using kx::test::waitUntil;

namespace {

SimHidDeviceInfo named(const char16_t* product, std::uint16_t productId) {
    SimHidDeviceInfo s;
    s.vendorId = 0x0A0B;
    s.productId = productId;
    s.productString = product;
    return s;
}

struct ControllerTest : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    std::unique_ptr<THidDeviceController> ctl = std::make_unique<THidDeviceController>(bus);
    std::vector<std::string> events;

    static std::string name(THidDevice* d) { return DeviceDisplayName(*d).toStdString(); }

    void logEvents() {
        ctl->SetOnArrival([this](THidDevice* d) {
            EXPECT_TRUE(d->InEventCall());
            events.push_back("arrival " + name(d));
        });
        ctl->SetOnRemoval([this](THidDevice* d) {
            EXPECT_TRUE(d->InEventCall());
            events.push_back("removal " + name(d));
        });
        ctl->SetOnDeviceChange([this](THidDeviceController* c) {
            EXPECT_EQ(c, ctl.get());
            events.push_back("change");
        });
    }

    std::vector<std::string> take() { return std::exchange(events, {}); }
};

TEST(ControllerInstance, OnlyOnePerProgram) {
    auto bus = std::make_shared<SimHidBus>();
    auto first = std::make_unique<THidDeviceController>(bus);
    for (int i = 0; i < 2; ++i) {
        try {
            THidDeviceController second(bus);
            FAIL() << "a second controller was created";
        } catch (const EControllerError& e) {
            EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
        }
    }
    first.reset();
    EXPECT_NO_THROW(THidDeviceController again(bus));
}

TEST_F(ControllerTest, FirstScanRunsFromTheEventLoopAndReportsEveryDevice) {
    bus->plug(named(u"Alpha", 1));
    // Interfaces that cannot be opened or identified are left out without a word.
    SimHidDeviceInfo closed = named(u"Closed", 2);
    closed.openable = false;
    bus->plug(closed);
    SimHidDeviceInfo anonymous = named(u"Anonymous", 5);
    anonymous.identifiable = false;
    bus->plug(anonymous);
    bus->plug(named(u"Gamma", 3));
    logEvents(); // while loading: no scan
    EXPECT_TRUE(ctl->DeviceList().empty());
    ctl->ArmNotifications();
    EXPECT_TRUE(ctl->DeviceList().empty());
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(take(), (std::vector<std::string>{"arrival Alpha", "arrival Gamma", "change"}));
    EXPECT_EQ(ctl->DeviceList().size(), 2u);

    ctl->DeviceChange();
    EXPECT_TRUE(events.empty());

    // Plugging is noticed through the bus's notification.
    bus->plug(named(u"Delta", 4));
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(take(), (std::vector<std::string>{"arrival Delta", "change"}));
}

TEST_F(ControllerTest, AssigningOnDeviceChange) {
    bus->plug(named(u"Alpha", 1));
    int calls = 0;
    THidNotifyEvent handler = [&](THidDeviceController*) { ++calls; };
    ctl->SetOnDeviceChange(handler);
    EXPECT_TRUE(ctl->DeviceList().empty()); // still loading
    ctl->ArmNotifications();
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));

    bus->plug(named(u"Beta", 2)); // notification queued, not yet run
    ctl->SetOnDeviceChange(handler);
    EXPECT_EQ(ctl->DeviceList().size(), 1u);
    ctl->SetOnDeviceChange([&](THidDeviceController*) { calls += 10; });
    EXPECT_EQ(ctl->DeviceList().size(), 2u);
    EXPECT_EQ(calls, 11);
}

TEST_F(ControllerTest, ClaimAndReleaseLeaveAnUnclaimedTwinInPlace) {
    bus->plug(named(u"Alpha", 1));
    bus->plug(named(u"Beta", 2));
    bus->plug(named(u"Gamma", 3));
    ctl->DeviceChange();
    std::unique_ptr<THidDevice> dev;
    for (int bad : {-1, 3}) {
        EXPECT_FALSE(ctl->ClaimDeviceAt(bad, dev)) << bad;
        EXPECT_EQ(dev, nullptr);
    }
    ASSERT_TRUE(ctl->ClaimDeviceAt(1, dev));
    EXPECT_TRUE(dev->Claimed());
    std::unique_ptr<THidDevice> again;
    EXPECT_FALSE(ctl->ClaimDeviceAt(1, again)) << "already claimed";
    EXPECT_EQ(again, nullptr);

    const THidDataEvent data = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {};
    const THidPlugEvent unplug = [](THidDevice*) {};
    dev->SetDataHandler(data);
    EXPECT_TRUE(dev->Reading());
    dev->SetUnplugHandler(unplug);
    dev->SetReadSleepTime(50);
    const std::string path = dev->DevicePath();
    const THidDevice* old = dev.get();
    dev.reset();

    ASSERT_EQ(ctl->DeviceList().size(), 3u);
    THidDevice* twin = ctl->DeviceList()[1];
    EXPECT_NE(twin, old);
    EXPECT_FALSE(twin->Claimed());
    EXPECT_FALSE(twin->Reading());
    EXPECT_EQ(twin->DevicePath(), path);
    EXPECT_TRUE(twin->DataHandler() == data);
    EXPECT_TRUE(twin->UnplugHandler() == unplug);
    EXPECT_EQ(twin->ReadSleepTime(), 50);
    EXPECT_EQ(twin->ProductID(), 2);
}

TEST_F(ControllerTest, RemovalOfUnclaimedAndClaimedDevices) {
    auto alpha = bus->plug(named(u"Alpha", 1));
    auto beta = bus->plug(named(u"Beta", 2));
    logEvents(); // the arrivals cache the names shown at removal
    ctl->DeviceChange();
    take();
    std::unique_ptr<THidDevice> claimed;
    ASSERT_TRUE(ctl->ClaimDeviceAt(1, claimed));

    bus->unplug(alpha);
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"removal Alpha", "change"}));
    ASSERT_EQ(ctl->DeviceList().size(), 1u);

    bus->unplug(beta);
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"removal Beta", "change"}));
    ASSERT_EQ(ctl->DeviceList().size(), 1u);
    EXPECT_EQ(ctl->DeviceList()[0], claimed.get());
    EXPECT_FALSE(claimed->PluggedIn());

    // Every later change raises the removal again until the client lets go.
    bus->plug(named(u"Gamma", 3));
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"removal Beta", "arrival Gamma", "change"}));
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"removal Beta", "change"}));

    claimed.reset();
    ASSERT_EQ(ctl->DeviceList().size(), 1u);
    EXPECT_EQ(name(ctl->DeviceList()[0]), "Gamma");
    ctl->DeviceChange();
    EXPECT_TRUE(events.empty());
}

TEST_F(ControllerTest, FailedScanCountsEveryDeviceAsMissing) {
    bus->plug(named(u"Alpha", 1));
    logEvents();
    ctl->DeviceChange();
    take();
    bus->setEnumerationFails(true);
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"removal Alpha", "change"}));
    EXPECT_TRUE(ctl->DeviceList().empty());
    bus->setEnumerationFails(false);
    ctl->DeviceChange();
    EXPECT_EQ(take(), (std::vector<std::string>{"arrival Alpha", "change"}));
}

TEST_F(ControllerTest, EnumerationVisitsPluggedInDevicesUntilFalse) {
    auto alpha = bus->plug(named(u"Alpha", 1));
    bus->plug(named(u"Beta", 2));
    bus->plug(named(u"Gamma", 3));
    ctl->DeviceChange();
    std::unique_ptr<THidDevice> gone;
    ASSERT_TRUE(ctl->ClaimDeviceAt(0, gone));
    bus->unplug(alpha);
    ctl->DeviceChange(); // Alpha stays listed, not plugged in

    EXPECT_EQ(ctl->EnumerateDevices(), 1); // without a handler the first visit ends it
    std::vector<std::pair<std::string, int>> seen;
    ctl->SetOnEnumerate([&](THidDevice* d, std::int32_t i) {
        EXPECT_TRUE(d->InEventCall());
        seen.emplace_back(name(d), i);
        return true;
    });
    EXPECT_EQ(ctl->EnumerateDevices(), 2);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"Beta", 1}, {"Gamma", 2}}));
    EXPECT_FALSE(ctl->DeviceList()[1]->InEventCall());

    ctl->SetOnEnumerate([](THidDevice*, std::int32_t) { return false; });
    EXPECT_EQ(ctl->EnumerateDevices(), 1);
}

TEST_F(ControllerTest, DefaultHandlersFollowTheControllersProperties) {
    bus->plug(named(u"Alpha", 1));
    bus->plug(named(u"Beta", 2));
    ctl->DeviceChange();
    THidDevice* a = ctl->DeviceList()[0];
    THidDevice* b = ctl->DeviceList()[1];
    const THidDataEvent own = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {};
    b->SetDataHandler(own);
    const THidDataEvent shared = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
    };
    ctl->SetOnDeviceData(shared);
    EXPECT_TRUE(a->DataHandler() == shared);
    EXPECT_TRUE(b->DataHandler() == own);

    const THidPlugEvent unplug = [](THidDevice*) {};
    ctl->SetOnDeviceUnplug(unplug);
    EXPECT_TRUE(a->UnplugHandler() == unplug);

    b->SetReadSleepTime(20);
    ctl->SetDevThreadSleepTime(5); // the controller keeps it; devices refuse it
    EXPECT_EQ(ctl->DevThreadSleepTime(), 5);
    EXPECT_EQ(a->ReadSleepTime(), 100);
    ctl->SetDevThreadSleepTime(100);
    ctl->SetDevThreadSleepTime(300);
    EXPECT_EQ(a->ReadSleepTime(), 300);
    EXPECT_EQ(b->ReadSleepTime(), 20);

    bus->plug(named(u"Gamma", 3));
    ctl->DeviceChange();
    THidDevice* c = ctl->DeviceList()[2];
    EXPECT_TRUE(c->DataHandler() == shared);
    EXPECT_EQ(c->ReadSleepTime(), 100);
}

TEST_F(ControllerTest, DestructionLeavesClaimedDevicesWithTheirClients) {
    bus->plug(named(u"Alpha", 1));
    bus->plug(named(u"Beta", 2));
    ctl->DeviceChange();
    std::unique_ptr<THidDevice> dev;
    ASSERT_TRUE(ctl->ClaimDeviceAt(0, dev));
    int unplugs = 0;
    dev->SetUnplugHandler([&](THidDevice*) { ++unplugs; });
    dev->SetDataHandler([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    ctl.reset();
    EXPECT_EQ(unplugs, 1);
    EXPECT_FALSE(dev->PluggedIn());
    EXPECT_EQ(dev->Controller(), nullptr);
    dev.reset(); // stops its thread and goes without a controller
}

class UnavailableBus : public SimHidBus {
public:
    bool available() const override { return false; }
};

TEST(ControllerUnavailable, NeverScans) {
    auto bus = std::make_shared<UnavailableBus>();
    bus->plug(named(u"Alpha", 1));
    THidDeviceController ctl(bus);
    int changes = 0;
    ctl.SetOnDeviceChange([&](THidDeviceController*) { ++changes; });
    ctl.ArmNotifications();
    ctl.DeviceChange();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ctl.DeviceList().empty());
    EXPECT_EQ(changes, 0);
}

} // namespace
