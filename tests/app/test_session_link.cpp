// The session's frame path and its link run, as both front ends drive them: frames told to
// any number of listeners after their reading was offered to recording, and a run of the link
// that ends after N frames, when stopped, or when the link drops.
#include "analysis/live_results.h"
#include "app/app_session.h"
#include "app/session_fixture.h"
#include "link/sim_usb_serial_cable.h"

#include <QTimer>

#include <utility>

#include <gtest/gtest.h>

using namespace kx;
using kxtest::frameShowing;

namespace {

struct SessionLink : ::testing::Test {
    std::shared_ptr<SimHidBus> bus = std::make_shared<SimHidBus>();
    kxtest::TableFolder tables;
    std::shared_ptr<SimUsbSerialCable> cable;
    std::unique_ptr<AppSession> session;
    QStringList told; // the link's information messages

    // The cable with a meter showing 12.5 throughout, on the real clock, and every frame let
    // through the throttle at once.
    void open(bool withCable = true) {
        if (withCable) {
            MeterDisplay shown;
            shown.reading = "12.5";
            const MeterFrame frame = encodeFrame(shown);
            cable = std::make_shared<SimUsbSerialCable>(std::make_unique<SimulatedCable>(
                [frame](std::int64_t) { return std::optional(frame); }, 100000));
            bus->plug(cable);
        }
        session = std::make_unique<AppSession>(tables.setup(bus));
        session->throttle().setClock([t = std::int64_t{0}]() mutable { return t += 500; });
        QObject::connect(&session->link(), &ConnectionControl::information,
                         [this](const QString& m) { told << m; });
        ASSERT_TRUE(session->openLiveTableAtStart().ok());
    }
    // A run that should have ended long ago is stopped, so the test fails instead of waiting.
    LinkRun run(qint64 frames = 0) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, session.get(), [this] { session->stopLink(); });
        guard.start(30000);
        return session->runLink(frames);
    }
    std::size_t setupReports() const { return cable ? cable->featureReports().size() : 0; }
};

} // namespace

TEST_F(SessionLink, FramesAreToldAfterTheirReadingWasOffered) {
    open(false);
    std::vector<std::pair<bool, qint64>> first, second; // (record, live rows when told)
    std::vector<qint64> recorded;
    for (auto* seen : {&first, &second}) {
        QObject::connect(session.get(), &AppSession::frameDecoded,
                         [&, seen](const DecodeResult& r) {
                             seen->push_back({r.record, session->liveTable().rowCount()});
                         });
    }
    QObject::connect(session.get(), &AppSession::readingRecorded,
                     [&](qint64 row) { recorded.push_back(row); });

    session->decodeFrame(frameShowing("12.5"));
    session->decodeFrame(frameShowing("    ")); // no main digit: nothing to offer
    session->setRecordingOn(false);
    session->decodeFrame(frameShowing("13.5"));

    const std::vector<std::pair<bool, qint64>> expected = {{true, 1}, {false, 1}, {true, 1}};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected) << "every listener is told";
    EXPECT_EQ(recorded, std::vector<qint64>{0});
    EXPECT_EQ(session->decoder().readingTexts().ReadingValue, "13.5") << "the panel goes on";
}

TEST_F(SessionLink, ARunEndsAfterItsFramesAndSaysGoodbyeToTheCable) {
    open();
    qint64 told = 0;
    QObject::connect(session.get(), &AppSession::frameDecoded, [&] { ++told; });
    const LinkRun run = this->run(3);
    EXPECT_EQ(run.end, LinkRun::End::Done);
    EXPECT_EQ(run.frames, 3);
    EXPECT_EQ(told, 3);
    EXPECT_EQ(session->link().LinkPort, 5);
    EXPECT_FALSE(session->link().usbConDown());
    EXPECT_EQ(setupReports(), 2u) << "on CONNECT and on the way out";
    EXPECT_EQ(session->liveTable().rowCount(), 3);
    EXPECT_TRUE(this->told.isEmpty());
}

TEST_F(SessionLink, StopLinkEndsTheRunAsItsEnd) {
    open();
    QObject::connect(session.get(), &AppSession::frameDecoded, session.get(),
                     [this] { session->stopLink(); });
    const LinkRun run = this->run();
    EXPECT_EQ(run.end, LinkRun::End::Stopped);
    EXPECT_EQ(run.frames, 1);
    EXPECT_EQ(setupReports(), 2u);
}

TEST_F(SessionLink, WithoutACableNothingRuns) {
    open(false);
    const LinkRun run = session->runLink(1);
    EXPECT_EQ(run.end, LinkRun::End::NotConnected);
    EXPECT_EQ(run.frames, 0);
    EXPECT_EQ(told, QStringList{ConnectionControl::notConnectedMessage()});
}

// A run never waits on a link that stopped reading: the watchdog's drop and a device change
// (which stops the reading until the user connects again) both end it with the reason.
TEST_F(SessionLink, ADroppedLinkEndsTheRun) {
    const struct {
        const char* name;
        std::function<void(SessionLink&)> drop;
        std::size_t setupReports; // a device change leaves the link to be disconnected
        QStringList told;
    } cases[] = {
        {"meter silent",
         [](SessionLink& t) { kxtest::silenceMeter(*t.session); },
         1u,
         {ConnectionControl::meterSilentMessage()}},
        {"device change", [](SessionLink& t) { t.bus->plug(SimHidDeviceInfo{}); }, 2u, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session.reset();
        bus = std::make_shared<SimHidBus>();
        told.clear();
        open();
        // Dropped once the link is up and reading.
        bool dropped = false;
        QObject::connect(session.get(), &AppSession::frameDecoded, session.get(), [&] {
            if (!std::exchange(dropped, true))
                c.drop(*this);
        });
        const LinkRun run = this->run();
        EXPECT_EQ(run.end, LinkRun::End::Dropped);
        EXPECT_FALSE(run.reason.isEmpty());
        EXPECT_EQ(setupReports(), c.setupReports);
        EXPECT_EQ(told, c.told);
        EXPECT_FALSE(session->link().usbConDown());
    }
}

// The link's losses and returns reach the recording: each stretch down is kept in the details
// with its reason, the chart breaks before the reading after it, and one still open when the
// recording finishes ends there.
TEST_F(SessionLink, LinkGapsAreKeptWhileRecording) {
    const QDate today = QDate::currentDate();
    auto at = [&](int s) { return QDateTime(today, QTime(10, 0).addSecs(s)); };
    const struct {
        const char* name;
        bool recording;
        std::function<void(AppSession&)> between; // after the first three readings
        std::vector<QString> whys;                // of the gaps kept
        std::vector<std::int64_t> chartBreaks;    // rows after a gap
    } cases[] = {
        {"lost and back",
         true,
         [&](AppSession& s) {
             s.onLinkLost(at(3), QStringLiteral("silent"));
             s.onLinkRestored(at(20));
         },
         {QStringLiteral("silent")},
         {3}},
        {"lost twice, back once",
         true,
         [&](AppSession& s) {
             s.onLinkLost(at(3), QStringLiteral("unplugged"));
             s.onLinkLost(at(5), QStringLiteral("silent"));
             s.onLinkRestored(at(20));
         },
         {QStringLiteral("unplugged")},
         {3}},
        {"back without a loss", true, [&](AppSession& s) { s.onLinkRestored(at(20)); }, {}, {}},
        // CONNECT again after DISCONNECT: no return told, the next reading ends the gap.
        {"back with a reading",
         true,
         [&](AppSession& s) { s.onLinkLost(at(3), QStringLiteral("unplugged")); },
         {QStringLiteral("unplugged")},
         {3}},
        {"monitoring only",
         false,
         [&](AppSession& s) {
             s.onLinkLost(at(3), QStringLiteral("silent"));
             s.onLinkRestored(at(20));
         },
         {},
         {}},
        {"down at the finish",
         true,
         [&](AppSession& s) {
             s.onLinkLost(at(3), QStringLiteral("silent"));
             ASSERT_TRUE(s.finishRecording().ok());
         },
         {QStringLiteral("silent")},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session.reset();
        open(false);
        int second = 0; // the readings' times of day, from 10:00
        session->recording().setTimeOfDay(
            [&second] { return QTime(10, 0).addSecs(second).msecsSinceStartOfDay(); });
        session->setRecordingOn(c.recording);
        for (int i = 0; i < 6; ++i) {
            if (i == 3) {
                c.between(*session);
                second = 21;
            }
            session->decodeFrame(frameShowing(std::to_string(100 + i)));
            ++second;
        }
        const std::vector<LinkGap>& gaps = session->results().details().linkGaps;
        std::vector<QString> whys;
        for (const LinkGap& g : gaps) {
            whys.push_back(g.why);
            EXPECT_EQ(g.from, QTime(10, 0, 3));
            EXPECT_TRUE(g.to.isValid());
        }
        EXPECT_EQ(whys, c.whys);
        EXPECT_EQ(session->chart().linkGapRows().rows(), c.chartBreaks);
        EXPECT_FALSE(session->results().openLinkGap()) << "nothing left open";
    }
}
