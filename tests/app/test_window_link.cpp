#include "app/ui/main_window.h"
#include "display/ui/panel_elements.h"
#include "display/ui/virtual_panel.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"
#include "window_fixture.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace kx;
using kx::test::waitUntil;

namespace {

// What the simulated meter shows throughout: 123.4 MΩ at 500 V.
MeterDisplay reading() {
    MeterDisplay d;
    d.reading = "123.4";
    d.unit = MeterUnit::MOhm;
    d.function = MeterFunction::Ir500;
    return d;
}

struct WindowLink : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    std::shared_ptr<SimUsbSerialCable> cable;
    kxtest::TableFolder tables;
    kxtest::RecordedBoxes boxes;
    std::unique_ptr<AppSession> session;
    std::unique_ptr<TFrmTest> win;

    void open(bool withCable = true) {
        if (withCable) {
            const MeterFrame frame = encodeFrame(reading());
            cable = std::make_shared<SimUsbSerialCable>(
                std::make_unique<SimulatedCable>(
                    [frame](std::int64_t) { return std::optional(frame); }),
                CableClock::Virtual);
            bus->plug(cable);
        }
        session = std::make_unique<AppSession>(tables.setup(bus));
        win = std::make_unique<TFrmTest>(*session, UiServices{&boxes, nullptr});
        win->show();
        auto* list = win->findChild<QListWidget*>("DevListBox");
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(waitUntil([&] { return list->count() == (withCable ? 1 : 0); }));
        QCoreApplication::processEvents();
    }
    QLabel* panel2() { return win->findChild<QLabel*>("Panel2"); }
    void clickPanel2() { win->Panel2Click(); }
};

} // namespace

TEST_F(WindowLink, ConnectFollowsTheMeterAndDisconnectStops) {
    open();
    auto* history = win->findChild<QListWidget*>("HistoryListBox");
    EXPECT_FALSE(history->isVisible());
    EXPECT_EQ(history->item(0)->text(), "Arrival of USB to Serial");
    EXPECT_EQ(win->findChild<QListWidget*>("DevListBox")->currentItem()->text(), "USB to Serial");

    clickPanel2();
    EXPECT_EQ(panel2()->text(), "DISCONNECT");
    EXPECT_TRUE(win->findChild<QPushButton*>("USBCon")->isChecked());
    EXPECT_FALSE(win->findChild<QMenu*>("Comset")->isEnabled());
    EXPECT_EQ(history->currentItem()->text(), "60 09 00 00 03 00 00 00 00 ");

    VirtualPanel* panel = win->panel();
    // The link marks as the decoded frame left them: the watchdog switches them back within
    // 300 ms, sooner than a slow (sanitizer) build may get to look afterwards.
    bool conOkShown = false;
    bool conOkNShown = true;
    const QMetaObject::Connection watch =
        QObject::connect(session.get(), &AppSession::frameDecoded, [&] {
            conOkShown = panel->conOk()->isVisible();
            conOkNShown = panel->conOkN()->isVisible();
        });
    cable->advance(1200000);
    ASSERT_TRUE(
        waitUntil([&] { return session->decoder().readingTexts().ReadingValue == "123.4"; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->digit(Digit::LabelA)->text(), "1");
    EXPECT_EQ(panel->digit(Digit::LabelD)->text(), "4");
    EXPECT_TRUE(panel->element(Element::Labmo1)->isVisible());
    EXPECT_TRUE(conOkShown);
    EXPECT_FALSE(conOkNShown);
    QObject::disconnect(watch);

    clickPanel2();
    EXPECT_EQ(panel2()->text(), "CONNECT");
    EXPECT_TRUE(win->findChild<QMenu*>("Comset")->isEnabled());
    EXPECT_EQ(cable->featureReports().size(), 2u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WindowLink, WatchdogDropShowsMessageAndYellowCaption) {
    open();
    clickPanel2();
    const std::uint8_t idle[8] = {0xF0};
    for (int i = 0; i < ConnectionControl::kIdleReportLimit; ++i)
        session->receiver().ReadPw60(0, idle, 8);
    for (int i = 0; i < 3; ++i)
        session->link().ConTimerTimer();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_EQ(boxes.shown[0].text, ConnectionControl::meterSilentMessage());
    EXPECT_EQ(panel2()->text(), "CONNECT");
    EXPECT_EQ(panel2()->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    EXPECT_FALSE(win->panel()->conOk()->isVisible());
    EXPECT_TRUE(win->panel()->conOkN()->isVisible());
    clickPanel2();
    EXPECT_EQ(panel2()->palette().color(QPalette::WindowText), QColor(Qt::black));
}

TEST_F(WindowLink, NoCableGivesTheMessage) {
    open(false);
    clickPanel2();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_EQ(boxes.shown[0].text, ConnectionControl::notConnectedMessage());
    EXPECT_EQ(panel2()->text(), "CONNECT");
}

TEST_F(WindowLink, ClosingWhileConnectedAndStreaming) {
    open();
    clickPanel2();
    cable->advance(600000);
    win.reset();
    // The session outlives its window: the link stays up and keeps reading without a panel
    // to show the frames on.
    EXPECT_TRUE(session->link().usbConDown());
    cable->advance(600000);
    EXPECT_TRUE(
        waitUntil([&] { return session->decoder().readingTexts().ReadingValue == "123.4"; }));
    // Ending the session stops the reading threads before the devices go.
    session.reset();
    EXPECT_EQ(cable->waitingReads(), 0);
}
