// The link through the window: CONNECT and DISCONNECT, what the panel shows of the frames,
// the watchdog's drop, and closing while connected.
#include "app/window_fixture.h"
#include "display/ui/panel_elements.h"
#include "display/ui/virtual_panel.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
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
