// The link through the window: CONNECT and DISCONNECT, what the panel shows of the frames,
// the watchdog's drop, and closing while connected.
#include "app/ui/connection_menu.h"
#include "app/window_fixture.h"
#include "display/ui/panel_elements.h"
#include "display/ui/virtual_panel.h"
#include "link/demo_faults.h"

#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

using namespace kx;
using kx::test::waitUntil;

namespace {

struct WindowLink : kxtest::WindowTest {
    std::shared_ptr<SimUsbSerialCable> cable;

    // Plugs in the cable with the simulated meter showing 123.4 MΩ at 500 V throughout, on a
    // virtual clock, and waits until the window lists it.
    void plugCable() {
        MeterDisplay d;
        d.reading = "123.4";
        d.unit = MeterUnit::MOhm;
        d.function = MeterFunction::Ir500;
        const MeterFrame frame = encodeFrame(d);
        cable = std::make_shared<SimUsbSerialCable>(
            std::make_unique<SimulatedCable>(
                [frame](std::int64_t) { return std::optional(frame); }),
            CableClock::Virtual);
        bus->plug(cable);
        win.show();
        ASSERT_TRUE(waitUntil([&] { return find<QListWidget>("DevListBox")->count() == 1; }));
        QCoreApplication::processEvents();
    }
    QLabel* panel2() { return find<QLabel>("Panel2"); }
    bool showsReading() {
        return waitUntil([&] { return session.decoder().readingTexts().ReadingValue == "123.4"; });
    }
};

} // namespace

TEST_F(WindowLink, ConnectFollowsTheMeterAndDisconnectStops) {
    plugCable();
    auto* history = find<QListWidget>("HistoryListBox");
    EXPECT_FALSE(history->isVisible());
    EXPECT_EQ(history->item(0)->text(), "Arrival of USB to Serial");
    EXPECT_EQ(find<QListWidget>("DevListBox")->currentItem()->text(), "USB to Serial");

    win.Panel2Click();
    EXPECT_EQ(panel2()->text(), "DISCONNECT");
    EXPECT_TRUE(find<QPushButton>("USBCon")->isChecked());
    EXPECT_FALSE(find<QMenu>("Comset")->isEnabled());
    EXPECT_EQ(history->currentItem()->text(), "60 09 00 00 03 00 00 00 00 ");

    VirtualPanel* panel = win.panel();
    // The link marks as the decoded frame left them: the watchdog switches them back within
    // 300 ms, sooner than a slow (sanitizer) build may get to look afterwards.
    bool conOkShown = false;
    bool conOkNShown = true;
    const QMetaObject::Connection watch =
        QObject::connect(&session, &AppSession::frameDecoded, [&] {
            conOkShown = panel->conOk()->isVisible();
            conOkNShown = panel->conOkN()->isVisible();
        });
    cable->advance(1200000);
    ASSERT_TRUE(showsReading());
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->digit(Digit::LabelA)->text(), "1");
    EXPECT_EQ(panel->digit(Digit::LabelD)->text(), "4");
    EXPECT_TRUE(panel->element(Element::Labmo1)->isVisible());
    EXPECT_TRUE(conOkShown);
    EXPECT_FALSE(conOkNShown);
    QObject::disconnect(watch);

    win.Panel2Click();
    EXPECT_EQ(panel2()->text(), "CONNECT");
    EXPECT_TRUE(find<QMenu>("Comset")->isEnabled());
    EXPECT_EQ(cable->featureReports().size(), 2u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WindowLink, WatchdogDropShowsMessageAndYellowCaption) {
    plugCable();
    win.Panel2Click();
    kxtest::silenceMeter(session);
    ASSERT_EQ(kinds(), std::vector<std::string>{"information"});
    EXPECT_EQ(boxes.shown[0].text, ConnectionControl::meterSilentMessage());
    EXPECT_EQ(panel2()->text(), "CONNECT");
    EXPECT_EQ(panel2()->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    EXPECT_FALSE(win.panel()->conOk()->isVisible());
    EXPECT_TRUE(win.panel()->conOkN()->isVisible());
    win.Panel2Click();
    EXPECT_EQ(panel2()->palette().color(QPalette::WindowText), QColor(Qt::black));
}

TEST_F(WindowLink, NoCableGivesTheMessage) {
    win.Panel2Click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"information"});
    EXPECT_EQ(boxes.shown[0].text, ConnectionControl::notConnectedMessage());
    EXPECT_EQ(panel2()->text(), "CONNECT");
}

TEST_F(WindowLink, ClosingWhileConnected) {
    plugCable();
    win.Panel2Click();
    cable->advance(600000);
    ASSERT_TRUE(showsReading());
    // The close box (or a stop signal) gives the cable its setup report on the way out.
    win.close();
    ASSERT_EQ(cable->featureReports().size(), 2u);
    EXPECT_EQ(cable->featureReports().back(), cable->featureReports().front());
    EXPECT_EQ(panel2()->text(), "CONNECT");
    // Closing again, or closing while not connected, sends nothing more.
    win.close();
    EXPECT_EQ(cable->featureReports().size(), 2u);

    // A session outlives its window: the link stays up and keeps reading without a panel
    // to show the frames on.
    win.Panel2Click();
    windowSlot.reset();
    EXPECT_TRUE(session.link().usbConDown());
    int frames = 0;
    QObject::connect(&session, &AppSession::frameDecoded, [&] { ++frames; });
    cable->advance(600000);
    EXPECT_TRUE(waitUntil([&] { return frames > 0; }));
    // Ending the session stops the reading threads before the devices go.
    sessionSlot.reset();
    EXPECT_EQ(cable->waitingReads(), 0);
}

// Connection > Reconnect automatically: read from the settings file at start, off without it,
// written there when chosen, and what the link does.
TEST_F(WindowLink, ReconnectAutomaticallyIsKeptInTheSettings) {
    const struct {
        const char* name;
        QByteArray connection; // the settings file's [Connection] section
        bool onAtStart;
    } cases[] = {
        {"not set", {}, false},
        {"set", "[Connection]\r\nReconnect=1\r\n", true},
        {"turned off", "[Connection]\r\nReconnect=0\r\n", false},
        {"not a 1", "[Connection]\r\nReconnect=yes\r\n", false},
    };
    QFile t(kxtest::TableFolder::settingsTemplate());
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    const QByteArray base = t.readAll();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart(base + c.connection);
        auto* item = find<QAction>("AutoReconnect");
        EXPECT_EQ(item->isChecked(), c.onAtStart);
        EXPECT_EQ(session.link().autoReconnect(), c.onAtStart);
        item->trigger();
        EXPECT_EQ(session.link().autoReconnect(), !c.onAtStart);
        restart();
        EXPECT_EQ(find<QAction>("AutoReconnect")->isChecked(), !c.onAtStart) << "kept";
    }
    EXPECT_TRUE(boxes.shown.empty());
}

// The Demo menu is there only while the demo runs; each item starts its fault from the cable's
// present time, and one already under way is not started twice.
TEST(DemoMenu, StartsTheFaultsOfTheDemo) {
    auto bus = std::make_shared<SimHidBus>();
    auto cable = std::make_shared<SimUsbSerialCable>(nullptr, CableClock::Virtual);
    bus->plug(cable);
    auto script = std::make_shared<FaultScript>();
    kxtest::TableFolder tables;
    kxtest::RecordedBoxes boxes;
    QMainWindow window;
    auto* bar = new QMenuBar(&window);
    {
        AppSession without(tables.setup());
        EXPECT_EQ(ConnectionMenu(without, bar, boxes, &window).demo(), nullptr);
    }
    SessionSetup setup = tables.setup(bus);
    setup.demoFaults = std::make_shared<DemoFaults>(bus, cable, script);
    AppSession session(setup);
    ASSERT_TRUE(session.connectLink());
    cable->advance(5000000);
    ConnectionMenu menu(session, bar, boxes, &window);
    ASSERT_NE(menu.demo(), nullptr);
    const struct {
        const char* item;
        LinkFault fault;
        bool unplugged;
    } cases[] = {
        {"DemoSilent", {LinkFault::Kind::Silent, 5000000, 30000000}, false},
        {"DemoUnplug", {LinkFault::Kind::Unplug, 5000000, 20000000}, true},
        {"DemoDamaged", {LinkFault::Kind::Damaged, 5000000, 10000000}, true},
    };
    std::vector<LinkFault> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        menu.demo()->findChild<QAction*>(QString::fromLatin1(c.item))->trigger();
        expected.push_back(c.fault);
        EXPECT_EQ(script->faults(), expected);
        EXPECT_EQ(!cable->pluggedIn(), c.unplugged);
    }
    EXPECT_TRUE(boxes.shown.empty());
    menu.demo()->findChild<QAction*>(QStringLiteral("DemoSilent"))->trigger();
    EXPECT_EQ(script->faults().size(), 3u) << "under way already";
    EXPECT_EQ(boxes.shown.size(), 1u);
}
