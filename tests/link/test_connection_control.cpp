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

const QString kNotConnected =
    "USB interface cable is not securely connected, please check and re-try.";
const QString kMeterSilent =
    "USB interface cable is securely connected, please check if the meter is ready.";

SimHidDeviceInfo device(const char16_t* product, std::uint16_t vid, std::uint16_t pid,
                        const char16_t* serial = nullptr) {
    SimHidDeviceInfo s;
    s.vendorId = vid;
    s.productId = pid;
    if (product)
        s.productString = product;
    if (serial)
        s.serialString = serial;
    return s;
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
    // A cable whose meter sends nothing unless given a source.
    std::shared_ptr<SimUsbSerialCable> plugCable(std::unique_ptr<InputReportSource> source = {}) {
        if (!source)
            source =
                std::make_unique<test::ScriptedSource>(std::vector<InputReportSource::Report>{});
        auto cable = std::make_shared<SimUsbSerialCable>(std::move(source), CableClock::Virtual);
        bus->plug(cable);
        return cable;
    }
    QStringList listed() const {
        QStringList out;
        for (const auto& item : link->DevListBox())
            out << item.text;
        return out;
    }
    void expectPanel(const char* caption, bool usbConDown) {
        EXPECT_EQ(link->panel2Caption(), caption);
        EXPECT_EQ(link->usbConDown(), usbConDown);
        EXPECT_EQ(link->comsetEnabled(), !usbConDown);
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

TEST_F(Link, NoCableOrNoAccessMeansNoConnection) {
    // Only a cable with a serial number: nothing is selected and CONNECT says so.
    bus->plug(device(u"Keyboard", 0x046D, 0xC31C));
    bus->plug(device(u"USB to Serial", 0x1A86, 0xE008, u"X"));
    start();
    EXPECT_EQ(link->devListSelection(), -1);
    link->Panel2Click();
    EXPECT_EQ(messages, std::vector<QString>{kNotConnected});
    expectPanel("CONNECT", false);

    // The cable without read and write access is selected but not connected, silently.
    SimHidDeviceInfo spec = SimUsbSerialCable::cableInfo();
    spec.readWriteAccess = false;
    bus->plug(spec);
    ASSERT_TRUE(waitUntil([&] { return link->devListSelection() == 2; }));
    messages.clear();
    link->Panel2Click();
    expectPanel("CONNECT", false);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Link, ConnectAndDisconnectSendTheSetupReportEachTime) {
    MeterDisplay shown;
    shown.reading = "1.234";
    const MeterFrame frame = encodeFrame(shown);
    auto cable = plugCable(
        std::make_unique<SimulatedCable>([frame](std::int64_t) { return std::optional(frame); }));
    start();
    link->Panel2Click();
    expectPanel("DISCONNECT", true);
    EXPECT_TRUE(cable->configured());
    EXPECT_EQ(link->HistoryListBox().back(), "60 09 00 00 03 00 00 00 00 ");

    // The simulated meter's frames arrive through the reading thread and reach the decoder.
    cable->advance(1200000);
    ASSERT_TRUE(waitUntil([&] { return decoder.readingTexts().ReadingValue == "1.234"; }));
    EXPECT_TRUE(decoder.state().link().conOk);
    const DisplayState want = displayStateFor(shown);
    for (std::size_t i = 0; i < kDigitCount; ++i)
        EXPECT_EQ(decoder.state().digit(static_cast<Digit>(i)), want.digit(static_cast<Digit>(i)));

    link->Panel2Click();
    expectPanel("CONNECT", false);
    EXPECT_EQ(cable->featureReports(),
              (std::vector<std::vector<std::uint8_t>>(2, test::cableSetupReport())));
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
    EXPECT_EQ(messages, std::vector<QString>{kMeterSilent});
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
    ASSERT_TRUE(link->DevListBox()[0].device->Reading());
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
    EXPECT_EQ(messages, std::vector<QString>{kNotConnected});
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
    expectPanel("CONNECT", false);
    EXPECT_TRUE(messages.empty());
    for (int port : {3, 4, 5, 1}) {
        link->Panel1Click();
        EXPECT_EQ(link->LinkPort, port);
    }
    link->USBClick();
    EXPECT_EQ(link->panel1Caption(), "USB");
    link->Panel2Click();
    EXPECT_EQ(link->panel2Caption(), "DISCONNECT");
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
