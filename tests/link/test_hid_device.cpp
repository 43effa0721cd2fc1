#include "hid_test_support.h"
#include "link/device_display_name.h"
#include "link/hid_device_controller.h"
#include "link/hid_platform_sim.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <thread>

using namespace kx;
using kx::test::waitUntil;

namespace {

int threadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

SimHidDeviceInfo deviceInfo(std::u16string product = u"Widget") {
    SimHidDeviceInfo s;
    s.vendorId = 0x1234;
    s.productId = 0x5678;
    s.productString = std::move(product);
    return s;
}

// Waits, without running the event loop, until the reading thread has taken every queued
// report; it then waits for its hand-off to the main thread.
void waitUntilTaken(const SimHidDevice& sim) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim.queuedReports() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

struct Delivered {
    std::uint8_t id;
    std::vector<std::uint8_t> data;
};

struct HidDeviceTest : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    std::unique_ptr<THidDeviceController> ctl = std::make_unique<THidDeviceController>(bus);
    std::vector<Delivered> reports;
    std::vector<std::uint32_t> errors;

    THidDataEvent recorder() {
        return [this](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            reports.push_back({id, std::vector<std::uint8_t>(data, data + size)});
        };
    }

    std::shared_ptr<SimHidDevice> sim; // the device last plugged

    // Plugs a device, lets the controller find it and claims it.
    std::unique_ptr<THidDevice> plugAndClaim(const SimHidDeviceInfo& info = deviceInfo()) {
        sim = bus->plug(info);
        ctl->DeviceChange();
        std::unique_ptr<THidDevice> dev;
        const auto& list = ctl->DeviceList();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i]->DevicePath() == bus->pathOf(sim)) {
                EXPECT_TRUE(ctl->ClaimDeviceAt(static_cast<int>(i), dev));
            }
        }
        EXPECT_NE(dev, nullptr);
        if (dev)
            dev->SetDataErrorHandler([this](THidDevice*, std::uint32_t e) { errors.push_back(e); });
        return dev;
    }
};

TEST_F(HidDeviceTest, FeatureReportsAndReadingNeedReadWriteAccess) {
    const std::vector<std::uint8_t> setup = kx::test::cableSetupReport();
    for (bool access : {true, false}) {
        SCOPED_TRACE(access);
        SimHidDeviceInfo info = deviceInfo(u"Keyboard");
        info.readWriteAccess = access;
        auto dev = plugAndClaim(info);
        ASSERT_NE(dev, nullptr);
        EXPECT_EQ(dev->ReadWriteAccess(), access);
        EXPECT_EQ(dev->ProductString(), u"Keyboard");
        EXPECT_EQ(dev->SendFeatureReport(setup.data(), setup.size()), access);
        EXPECT_EQ(sim->featureReports(),
                  (std::vector<std::vector<std::uint8_t>>(access ? 1 : 0, setup)));
        if (access) {
            EXPECT_EQ(dev->ReportCaps().InputReportByteLength, 9);
        } else {
            // Listed, but no reading thread is ever started for it, whatever handler is set.
            const int before = threadCount();
            dev->SetDataHandler(recorder());
            dev->StartReading();
            EXPECT_FALSE(dev->Reading());
            EXPECT_EQ(threadCount(), before);
        }
        dev.reset();
        bus->unplug(sim);
        ctl->DeviceChange();
    }
}

TEST_F(HidDeviceTest, ReadSleepTimeTakesOnlyTenToTenThousand) {
    auto dev = plugAndClaim();
    EXPECT_EQ(dev->ReadSleepTime(), 100);
    const std::pair<int, int> cases[] = {{9, 100}, {10001, 100}, {10, 10}, {10000, 10000}};
    for (const auto& [set, kept] : cases) {
        dev->SetReadSleepTime(set);
        EXPECT_EQ(dev->ReadSleepTime(), kept) << set;
    }
}

TEST_F(HidDeviceTest, SerialNumberAndDisplayName) {
    struct Case {
        std::optional<std::u16string> serial;
        std::optional<std::u16string> languages;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"A1B2", std::u16string(1, u'\x0409'), u"A1B2"},
        // The serial-number request answered with the language list itself.
        {std::u16string(1, u'\x0409'), std::u16string(1, u'\x0409'), u""},
        {std::u16string{u'\x0409', u'\x0407'}, std::u16string{u'\x0409', u'\x0407'}, u""},
        // Without a readable language list no serial number is believed.
        {u"A1B2", std::nullopt, u""},
        {std::nullopt, std::u16string(1, u'\x0409'), u""},
    };
    for (const Case& c : cases) {
        SimHidDeviceInfo info = deviceInfo(u"USB to Serial");
        info.serialString = c.serial;
        info.languageList = c.languages;
        auto dev = plugAndClaim(info);
        EXPECT_EQ(dev->SerialString(), c.expected);
        const QString name = DeviceDisplayName(*dev);
        EXPECT_EQ(name, c.expected.empty() ? QStringLiteral("USB to Serial")
                                           : QStringLiteral("USB to Serial (Serial=A1B2)"));
        dev.reset();
        bus->unplug(sim);
        ctl->DeviceChange();
    }
}

TEST_F(HidDeviceTest, OneThreadPerReadingWhateverTheHandlerChanges) {
    auto dev = plugAndClaim();
    std::thread([] {}).join(); // tools that watch threads start their own with the first one
    const int before = threadCount();
    dev->SetDataHandler(recorder());
    EXPECT_TRUE(dev->Reading());
    EXPECT_EQ(threadCount(), before + 1);

    int second = 0;
    dev->SetDataHandler(
        [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++second; });
    EXPECT_EQ(threadCount(), before + 1);
    sim->pushReport({0x00, 0xF1, 0x55});
    ASSERT_TRUE(waitUntil([&] { return second == 1; }));
    EXPECT_TRUE(reports.empty());

    dev->SetDataHandler(nullptr);
    EXPECT_FALSE(dev->Reading());
    EXPECT_TRUE(waitUntil([&] { return threadCount() == before; }));
}

TEST_F(HidDeviceTest, ReportsArriveInOrderWithTheirId) {
    SimHidDeviceInfo numbered = deviceInfo();
    numbered.numberedReports = true;
    auto dev = plugAndClaim(numbered);
    dev->SetDataHandler(recorder());
    for (std::uint8_t i = 1; i <= 20; ++i)
        sim->pushReport({0x05, i, std::uint8_t(i * 2)});
    sim->pushReport({}); // a read without bytes delivers nothing
    sim->pushReport({0x07});
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 21; }));
    for (std::uint8_t i = 1; i <= 20; ++i) {
        EXPECT_EQ(reports[i - 1].id, 0x05);
        EXPECT_EQ(reports[i - 1].data, (std::vector<std::uint8_t>{i, std::uint8_t(i * 2)}));
    }
    EXPECT_EQ(reports[20].id, 0x07);
    EXPECT_TRUE(reports[20].data.empty());
}

TEST_F(HidDeviceTest, StopEndsAWaitingReadAtOnceAndCancelsIt) {
    auto dev = plugAndClaim();
    dev->SetReadSleepTime(10000);
    dev->SetDataHandler(recorder());
    sim->pushReport({0x00, 0xF0});
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 1 && sim->waitingReads() == 1; }));

    const auto t0 = std::chrono::steady_clock::now();
    dev->SetDataHandler(nullptr);
    const auto waited = std::chrono::steady_clock::now() - t0;
    // Far less than the 10 s slice: the wait was ended, not sat out.
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_EQ(sim->abortedReads(), 1);

    sim->pushReport({0x00, 0xF0});
    QCoreApplication::processEvents();
    EXPECT_EQ(sim->queuedReports(), 1u);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(HidDeviceTest, AReportReadJustBeforeTheStopStillReachesTheHandler) {
    auto dev = plugAndClaim();
    dev->SetDataHandler(recorder());
    sim->pushReport({0x00, 0xF1, 0x42});
    waitUntilTaken(*sim);
    EXPECT_TRUE(reports.empty());
    dev->StopReading();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].data, (std::vector<std::uint8_t>{0xF1, 0x42}));
}

TEST_F(HidDeviceTest, HandlerMayStopTheReadingOrReleaseItsDevice) {
    auto dev = plugAndClaim();
    int calls = 0;
    dev->SetDataHandler([&](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        ++calls;
        d->SetDataHandler(nullptr);
    });
    sim->pushReport({0x00, 0xF0});
    sim->pushReport({0x00, 0xF0});
    ASSERT_TRUE(waitUntil([&] { return calls == 1 && !dev->Reading(); }));
    EXPECT_EQ(sim->queuedReports(), 1u);

    dev->SetDataHandler([&](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        ++calls;
        EXPECT_EQ(d, dev.get());
        dev.reset(); // released from inside its own handler
    });
    ASSERT_TRUE(waitUntil([&] { return dev == nullptr; }));
    EXPECT_EQ(calls, 2);
    // The released device went back to the controller as an unclaimed twin.
    ASSERT_EQ(ctl->DeviceList().size(), 1u);
    EXPECT_FALSE(ctl->DeviceList()[0]->Claimed());
}

TEST_F(HidDeviceTest, AReportDeliveredWhileStoppingMayReleaseTheDevice) {
    auto dev = plugAndClaim();
    dev->SetDataHandler(
        [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { dev.reset(); });
    sim->pushReport({0x00, 0xF0});
    waitUntilTaken(*sim);
    THidDevice* raw = dev.get();
    raw->SetDataHandler(nullptr); // the pending report runs its handler, which releases raw
    EXPECT_EQ(dev, nullptr);
    ASSERT_EQ(ctl->DeviceList().size(), 1u);
    EXPECT_FALSE(ctl->DeviceList()[0]->Claimed());
}

TEST_F(HidDeviceTest, StopFromAModalLoopInsideAHandlerDoesNotDeadlock) {
    auto dev = plugAndClaim();
    bool stopped = false;
    int calls = 0;
    dev->SetDataHandler([&](THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        if (++calls > 1)
            return;
        // A message box: a nested event loop in which a device change stops the reading.
        QEventLoop modal;
        QTimer::singleShot(0, &modal, [&] {
            d->StopReading();
            stopped = true;
            modal.quit();
        });
        modal.exec();
    });
    sim->pushReport({0x00, 0xF0});
    sim->pushReport({0x00, 0xF0});
    ASSERT_TRUE(waitUntil([&] { return stopped; }));
    EXPECT_FALSE(dev->Reading());
    EXPECT_EQ(calls, 1);
}

TEST_F(HidDeviceTest, HandOffsAreServedInsideANestedEventLoop) {
    auto dev = plugAndClaim();
    dev->SetDataHandler(recorder());
    QEventLoop modal;
    QTimer::singleShot(0, &modal, [&] {
        sim->pushReport({0x00, 0xF1, 0x01});
        sim->pushReport({0x00, 0xF1, 0x02});
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &modal, [&] {
        if (reports.size() == 2)
            modal.quit();
    });
    poll.start(1);
    QTimer::singleShot(10000, &modal, &QEventLoop::quit);
    modal.exec();
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(HidDeviceTest, UnplugWhileReadingCallsUnplugHandlerOnceAndReportsEveryPass) {
    auto dev = plugAndClaim();
    int unplugs = 0;
    dev->SetUnplugHandler([&](THidDevice*) { ++unplugs; });
    dev->SetReadSleepTime(10);
    dev->SetDataHandler(recorder());
    bus->unplug(sim);
    ctl->DeviceChange();
    EXPECT_EQ(unplugs, 1);
    EXPECT_FALSE(dev->PluggedIn());
    EXPECT_TRUE(dev->Reading());
    ASSERT_TRUE(waitUntil([&] { return errors.size() >= 3; }));
    for (std::uint32_t e : errors)
        EXPECT_EQ(e, std::uint32_t(ENODEV));
    ctl->DeviceChange(); // raises the removal again but never the unplug handler
    EXPECT_EQ(unplugs, 1);
    dev->SetDataHandler(nullptr);
    const std::size_t seen = errors.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(errors.size(), seen);
    EXPECT_TRUE(reports.empty());
}

TEST_F(HidDeviceTest, FailedReadRequestsReportTheirCodeAndReadingGoesOn) {
    auto dev = plugAndClaim();
    dev->SetReadSleepTime(10);
    sim->failReads(EIO, 2);
    sim->pushReport({0x00, 0xF1, 0x33});
    dev->SetDataHandler(recorder());
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 1; }));
    EXPECT_EQ(errors, (std::vector<std::uint32_t>{EIO, EIO}));
}

} // namespace
