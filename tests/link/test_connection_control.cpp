#include "display/frame_decoder.h"
#include "hid_test_support.h"
#include "link/connection_control.h"
#include "link/frame_receiver.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"

#include <gtest/gtest.h>

using namespace kx;
using kx::test::waitUntil;

namespace {

const std::string kExample = "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A";

SimHidDeviceInfo device(const char16_t* product, std::uint16_t vid, std::uint16_t pid,
                        const char16_t* serial = nullptr) {
    SimHidDeviceInfo s;
    s.vendorId = vid;
    s.productId = pid;
    if (product)
        s.productString = product;
    else
        s.productString.reset();
    if (serial)
        s.serialString = serial;
    return s;
}

// The example frame cut into cable reports as the chip delivers them.
std::vector<InputReportSource::Report> frameReports(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    std::vector<InputReportSource::Report> out;
    for (std::size_t i = 0; i < bytes.size(); i += 7) {
        InputReportSource::Report r{};
        const std::size_t n = std::min<std::size_t>(7, bytes.size() - i);
        r[0] = static_cast<std::uint8_t>(0xF0 | n);
        for (std::size_t k = 0; k < n; ++k)
            r[1 + k] = bytes[i + k];
        out.push_back(r);
    }
    out.push_back({0xF0});
    return out;
}

struct Link : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    FrameReceiver receiver;
    FrameDecoder decoder;
    std::unique_ptr<ConnectionControl> link;
    std::vector<QString> messages;

    void start() {
        link = std::make_unique<ConnectionControl>(bus, receiver, decoder);
        link->LinkPort = 5; // USB, as start-up sets it
        receiver.setFrameHandler([this](std::string_view f) { decoder.ShowDataKx30(f); });
        QObject::connect(link.get(), &ConnectionControl::information,
                         [this](const QString& m) { messages.push_back(m); });
        link->start();
        EXPECT_TRUE(link->DevListBox().empty()) << "the first scan runs from the event loop";
        std::vector<HidInterface> present;
        bus->enumerate(present);
        ASSERT_TRUE(waitUntil([&] { return link->DevListBox().size() == present.size(); }));
    }
    std::shared_ptr<SimUsbSerialCable>
    plugCable(std::vector<InputReportSource::Report> script = {}) {
        auto cable = std::make_shared<SimUsbSerialCable>(
            std::make_unique<test::ScriptedSource>(std::move(script)), CableClock::Virtual);
        bus->plug(cable);
        return cable;
    }
    QStringList listed() const {
        QStringList out;
        for (const auto& item : link->DevListBox())
            out << item.text;
        return out;
    }
    void watchdogTicks(int n) {
        for (int i = 0; i < n; ++i)
            link->ConTimerTimer();
    }
};

} // namespace

TEST_F(Link, DeviceListNamesAndCableSelection) {
    bus->plug(device(u"USB to Serial", 0x1A86, 0xE008));
    bus->plug(device(u"Keyboard", 0x046D, 0xC31C));
    bus->plug(device(nullptr, 0x1A2B, 0x00C3));
    bus->plug(device(u"USB to Serial", 0x1A86, 0xE008, u"A1B2"));
    bus->plug(device(u"USB to Serial", 0x1A86, 0xE008));
    start();
    EXPECT_EQ(listed(), (QStringList{"USB to Serial", "Keyboard", "Device VID=1A2B PID=00C3",
                                     "USB to Serial (Serial=A1B2)", "USB to Serial"}));
    EXPECT_EQ(link->devListSelection(), 4) << "the later of two cables is selected";
    const QStringList& h = link->HistoryListBox();
    ASSERT_GE(h.size(), 5);
    EXPECT_EQ(h[0], "Arrival of USB to Serial");
    EXPECT_EQ(h[2], "Arrival of Device VID=1A2B PID=00C3");
}

TEST_F(Link, NoCableMeansMessageAndNoConnection) {
    bus->plug(device(u"Keyboard", 0x046D, 0xC31C));
    bus->plug(device(u"USB to Serial", 0x1A86, 0xE008, u"X"));
    start();
    EXPECT_EQ(link->devListSelection(), -1);
    link->Panel2Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], ConnectionControl::notConnectedMessage());
    EXPECT_FALSE(link->usbConDown());
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
}

TEST_F(Link, ConnectAndDisconnectSendTheSetupReportEachTime) {
    auto cable = plugCable(frameReports(kExample));
    start();
    link->Panel2Click();
    EXPECT_TRUE(link->usbConDown());
    EXPECT_EQ(link->panel2Caption(), "DISCONNECT");
    EXPECT_FALSE(link->comsetEnabled());
    EXPECT_TRUE(cable->configured());
    EXPECT_EQ(link->HistoryListBox().back(), "60 09 00 00 03 00 00 00 00 ");

    // The frame arrives through the reading thread and reaches the decoder.
    cable->advance(12000 * 5);
    ASSERT_TRUE(waitUntil([&] { return decoder.readingTexts().ReadingValue == "1.234"; }));
    EXPECT_TRUE(decoder.state().link().conOk);

    link->Panel2Click();
    EXPECT_FALSE(link->usbConDown());
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
    EXPECT_TRUE(link->comsetEnabled());
    const auto features = cable->featureReports();
    ASSERT_EQ(features.size(), 2u);
    for (const auto& f : features)
        EXPECT_EQ(f, test::cableSetupReport());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Link, WatchdogDropsAfter1900IdleReports) {
    plugCable();
    start();
    link->Panel2Click();
    ASSERT_EQ(link->panel2Caption(), "DISCONNECT");
    const std::uint8_t idle[8] = {0xF0};
    for (int i = 0; i < 1899; ++i)
        receiver.ReadPw60(0, idle, 8);
    watchdogTicks(6);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(link->usbConDown());
    EXPECT_FALSE(decoder.state().link().conOk) << "the watchdog turns the data image off";
    EXPECT_TRUE(decoder.state().link().conOkN);

    EXPECT_TRUE(link->dropReason().isEmpty());
    QString toldBeforeTheBox;
    QObject::connect(link.get(), &ConnectionControl::linkDropped, [&](const QString& why) {
        EXPECT_TRUE(messages.empty()) << "told before the box";
        toldBeforeTheBox = why;
    });
    receiver.ReadPw60(0, idle, 8);
    watchdogTicks(3); // 300 ms
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], ConnectionControl::meterSilentMessage());
    EXPECT_FALSE(toldBeforeTheBox.isEmpty());
    EXPECT_EQ(link->dropReason(), toldBeforeTheBox);
    EXPECT_EQ(receiver.IdleReportCount(), 0);
    EXPECT_FALSE(link->usbConDown());
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
    EXPECT_EQ(link->panel2Color(), ConnectionControl::CaptionColor::Yellow);
    EXPECT_FALSE(link->SelectedDevice->Reading());

    link->Panel2Click();
    EXPECT_EQ(link->panel2Caption(), "DISCONNECT");
    EXPECT_EQ(link->panel2Color(), ConnectionControl::CaptionColor::Black);
    EXPECT_TRUE(link->dropReason().isEmpty()) << "the user connected again";
}

TEST_F(Link, DeviceChangeWhileConnectedStallsTheLink) {
    auto cable = plugCable();
    start();
    link->Panel2Click();
    THidDevice* dev = link->DevListBox()[0].device.get();
    ASSERT_TRUE(dev->Reading());
    bus->plug(device(u"Mouse", 0x046D, 0xC077));
    ASSERT_TRUE(waitUntil([&] { return link->DevListBox().size() == 2; }));
    EXPECT_EQ(link->panel2Caption(), "DISCONNECT") << "stalled: the caption stays";
    EXPECT_FALSE(link->DevListBox()[0].device->Reading());
    EXPECT_EQ(link->devListSelection(), 0);
    EXPECT_FALSE(link->dropReason().isEmpty()) << "the stall is told";
    // DISCONNECT then CONNECT brings it back.
    link->Panel2Click();
    EXPECT_TRUE(link->dropReason().isEmpty());
    link->Panel2Click();
    EXPECT_TRUE(link->DevListBox()[0].device->Reading());
    // A device change while not connected drops nothing.
    link->Panel2Click();
    bus->plug(device(u"Keyboard", 0x046D, 0xC31C));
    ASSERT_TRUE(waitUntil([&] { return link->DevListBox().size() == 3; }));
    EXPECT_TRUE(link->dropReason().isEmpty());
}

TEST_F(Link, UnplugWhileConnectedIsLoggedAndDisconnectFindsNoCable) {
    auto cable = plugCable();
    start();
    link->Panel2Click();
    bus->unplug(cable);
    ASSERT_TRUE(waitUntil([&] { return link->DevListBox().empty(); }));
    EXPECT_TRUE(link->HistoryListBox().contains("Removal of USB to Serial"));
    link->Panel2Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], ConnectionControl::notConnectedMessage());
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
}

TEST_F(Link, SerialPortsDoNothingAndPortChoiceCycles) {
    plugCable();
    start();
    link->COMClick(2);
    EXPECT_EQ(link->LinkPort, 2);
    EXPECT_EQ(link->panel1Caption(), "COM2");
    EXPECT_EQ(link->comChecked, (std::array<bool, 4>{false, true, false, false}));
    link->Panel2Click();
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
    EXPECT_FALSE(link->usbConDown());
    EXPECT_TRUE(messages.empty());
    link->Panel1Click();
    link->Panel1Click();
    EXPECT_EQ(link->LinkPort, 4);
    link->Panel1Click();
    EXPECT_EQ(link->LinkPort, 5);
    EXPECT_EQ(link->panel1Caption(), "USB");
    link->Panel1Click();
    EXPECT_EQ(link->LinkPort, 1);
    link->USBClick();
    link->Panel2Click();
    EXPECT_EQ(link->panel2Caption(), "DISCONNECT");
}

TEST_F(Link, CableWithoutReadWriteAccessIsNotConnected) {
    SimHidDeviceInfo spec = SimUsbSerialCable::cableInfo();
    spec.readWriteAccess = false;
    bus->plug(spec);
    start();
    ASSERT_EQ(link->devListSelection(), 0);
    link->Panel2Click();
    EXPECT_FALSE(link->usbConDown());
    EXPECT_EQ(link->panel2Caption(), "CONNECT");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Link, ReadErrorsAreLogged) {
    auto cable = plugCable();
    start();
    link->Panel2Click();
    cable->failReads(5 /* EIO */, 1);
    ASSERT_TRUE(
        waitUntil([&] { return link->HistoryListBox().back().startsWith("READ ERROR: "); }));
    EXPECT_TRUE(link->HistoryListBox().back().endsWith("(5)"));
}

TEST_F(Link, ShutDownWhileReadingEndsCleanly) {
    auto cable = plugCable();
    start();
    link->Panel2Click();
    cable->advance(12000 * 10);
    ASSERT_TRUE(waitUntil([&] { return cable->waitingReads() > 0; }));
    link.reset(); // threads stop before devices and the controller go away
    EXPECT_EQ(cable->waitingReads(), 0) << "no read is left waiting on the device";
}

TEST(LinkDemo, SimulatedMeterReachesTheDecoder) {
    auto bus = std::make_shared<SimHidBus>();
    const MeterFrame frame = encodeFrame(MeterDisplay{});
    auto cable = std::make_shared<SimUsbSerialCable>(
        std::make_unique<SimulatedCable>([frame](std::int64_t) { return std::optional(frame); }),
        CableClock::Virtual);
    bus->plug(cable);
    FrameReceiver receiver;
    FrameDecoder decoder;
    int decoded = 0;
    receiver.setFrameHandler(
        [&](std::string_view frame) { decoded += decoder.ShowDataKx30(frame).accepted; });
    ConnectionControl link(bus, receiver, decoder);
    link.LinkPort = 5;
    link.start();
    ASSERT_TRUE(waitUntil([&] { return link.devListSelection() == 0; }));
    link.Panel2Click();
    cable->advance(1200000);
    ASSERT_TRUE(waitUntil([&] { return decoded >= 1; }));
    const DisplayState shown = displayStateFor(MeterDisplay{});
    for (std::size_t i = 0; i < kDigitCount; ++i)
        EXPECT_EQ(decoder.state().digit(static_cast<Digit>(i)), shown.digit(static_cast<Digit>(i)));
    link.Panel2Click();
    EXPECT_EQ(cable->featureReports().size(), 2u);
}
