// The link with automatic reconnection, on the stepped simulated clock: every fault the demo's
// script can play, with the status line's words, the readings recorded and the stretches the
// link was down.
#include "app/app_session.h"
#include "app/recording_status.h"
#include "analysis/live_results.h"
#include "app/session_fixture.h"
#include "link/stepped_link.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kx;

namespace {

struct Gap {
    QString from, to; // hh:mm:ss; `to` empty while the link is still down
    bool operator==(const Gap&) const = default;
};

void PrintTo(const Gap& g, std::ostream* os) {
    *os << g.from.toStdString() << "-" << g.to.toStdString();
}

// The half-seconds since the meter's start on its display, so that a reading recorded twice
// or lost shows in the values.
std::optional<MeterFrame> counting(std::int64_t t) {
    MeterDisplay d;
    d.reading = std::to_string(t / SimulatedCable::kFramePeriodUs % 10000);
    return encodeFrame(d);
}

// A session recording from the counting meter on the stepped clock, reconnecting by itself.
struct Rig {
    SteppedLink sim;
    kxtest::TableFolder tables;
    std::unique_ptr<AppSession> session;
    std::vector<Gap> gaps;
    QString linkText; // the status line after the last event of the link
    int stopped = 0;

    explicit Rig(const QString& spec)
        : sim(counting, FaultScript::parse(spec).value(),
              QDateTime(QDate(2026, 12, 10), QTime(10, 42, 0))) {
        session = std::make_unique<AppSession>(tables.setup(sim.bus()));
        session->throttle().setClock([t = std::int64_t{0}]() mutable { return t += 500; });
        ConnectionControl& link = session->link();
        sim.drive(link);
        link.setAutoReconnect(true);
        session->recordingStatus().setReconnectedShownMs(24 * 3600 * 1000);
        const auto hms = [](const QDateTime& t) { return t.toString(QStringLiteral("HH:mm:ss")); };
        QObject::connect(&link, &ConnectionControl::linkLost, [this, hms](const QDateTime& at) {
            gaps.push_back({hms(at), {}});
            said();
        });
        QObject::connect(&link, &ConnectionControl::linkRestored, [this, hms](const QDateTime& at) {
            gaps.back().to = hms(at);
            said();
        });
        QObject::connect(&link, &ConnectionControl::reconnectAttempted, [this] { said(); });
        QObject::connect(&link, &ConnectionControl::retryingStopped, [this] { ++stopped; });
        EXPECT_TRUE(session->openLiveTableAtStart().ok());
        EXPECT_TRUE(session->connectLink());
    }

    void said() {
        session->recordingStatus().refresh();
        linkText = session->recordingStatus().state().text();
    }

    void run(double seconds) {
        ASSERT_TRUE(sim.run(static_cast<std::int64_t>(seconds * 1e6))) << "the link got stuck";
    }

    // The values recorded, each one more than the last, and numbered 1, 2, 3 ...
    std::vector<std::string> values() const {
        std::vector<std::string> v;
        const ReadingsTable& t = session->liveTable();
        for (qint64 row = 0; row < t.rowCount(); ++row) {
            EXPECT_EQ(t.fieldText(row, "No"), std::to_string(row + 1));
            v.push_back(t.fieldText(row, "Value"));
        }
        return v;
    }
};

// How many readings were recorded, each value above the last: none recorded twice.
int count(const std::vector<std::string>& values) {
    for (std::size_t i = 1; i < values.size(); ++i)
        EXPECT_LT(std::stoi(values[i - 1]), std::stoi(values[i])) << "reading " << i + 1;
    return static_cast<int>(values.size());
}

} // namespace

TEST(SessionReconnect, EachFaultKind) {
    const struct {
        const char* name;
        const char* faults;
        double seconds;
        std::function<void(Rig&)> atTwenty; // what the user does 20 s in
        QString linkText;
        int readings;
        std::vector<Gap> gaps;
        bool connected;
        RecordingState::Kind end = RecordingState::Kind::Recording;
    } cases[] = {
        {"silence shorter than the watchdog", "silent@5+10", 40, {}, {}, 60, {}, true},
        {"silence longer than the watchdog",
         "silent@5+40",
         60,
         {},
         "Reconnected at 10:42:45 after 18 s",
         40,
         {{"10:42:27", "10:42:45"}},
         true,
         RecordingState::Kind::Reconnected},
        {"unplugged and replugged",
         "unplug@10+20",
         40,
         {},
         "Reconnected at 10:42:30 after 20 s",
         40,
         {{"10:42:10", "10:42:30"}},
         true,
         RecordingState::Kind::Reconnected},
        {"unplugged for good",
         "unplug@10+1000",
         60,
         {},
         "Link lost at 10:42:10, reconnecting (attempt 8)",
         20,
         {{"10:42:10", ""}},
         true,
         RecordingState::Kind::Reconnecting},
        {"damaged reports", "damaged@5+5", 20, {}, {}, 30, {}, true},
        {"DISCONNECT while retrying",
         "unplug@10+1000",
         60,
         [](Rig& r) { r.session->link().Panel2Click(); },
         "Link lost at 10:42:10, reconnecting (attempt 4)",
         20,
         {{"10:42:10", ""}},
         false,
         RecordingState::Kind::NotConnected},
        {"reconnecting turned off while retrying",
         "unplug@10+1000",
         60,
         [](Rig& r) { r.session->link().setAutoReconnect(false); },
         "Link lost at 10:42:10, reconnecting (attempt 4)",
         20,
         {{"10:42:10", ""}},
         false,
         RecordingState::Kind::NotConnected},
        {"exit while retrying",
         "unplug@10+1000",
         60,
         [](Rig& r) { r.session->endLink(); },
         "Link lost at 10:42:10, reconnecting (attempt 4)",
         20,
         {{"10:42:10", ""}},
         false,
         RecordingState::Kind::NotConnected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(QString::fromLatin1(c.faults));
        if (c.atTwenty) {
            rig.run(20);
            c.atTwenty(rig);
            EXPECT_EQ(rig.stopped, 1);
            EXPECT_FALSE(rig.session->link().reconnecting()) << "stopped at once";
            rig.run(c.seconds - 20);
        } else {
            rig.run(c.seconds);
        }
        EXPECT_EQ(rig.linkText, c.linkText);
        EXPECT_EQ(count(rig.values()), c.readings);
        EXPECT_EQ(rig.gaps, c.gaps);
        // The recording keeps the same stretches, the open one until it ends.
        std::vector<Gap> kept;
        for (const LinkGap& g : rig.session->results().details().linkGaps)
            kept.push_back({g.from.toString(QStringLiteral("HH:mm:ss")),
                            g.to.toString(QStringLiteral("HH:mm:ss"))});
        if (const auto& open = rig.session->results().openLinkGap())
            kept.push_back({open->from.toString(QStringLiteral("HH:mm:ss")), {}});
        EXPECT_EQ(kept, c.gaps);
        EXPECT_EQ(rig.session->link().usbConDown(), c.connected);
        rig.session->recordingStatus().refresh();
        EXPECT_EQ(rig.session->recordingStatus().state().kind, c.end)
            << rig.session->recordingStatus().state().text().toStdString();
        EXPECT_EQ(rig.stopped, c.atTwenty ? 1 : 0) << "no tries after the stop";
    }
}
