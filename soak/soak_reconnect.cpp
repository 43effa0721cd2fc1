// Soak run of unattended logging: a day of simulated time on the stepped clock, the link
// reconnecting by itself. The counting meter (its reading is the half-seconds since it started)
// sends two frames a second through the simulated cable and the HID reading thread; the cable
// is unplugged for 2 s every ten minutes and the meter falls silent for a minute every hour
// (long enough for the watchdog). The readings are recorded with Repeat on into a table file
// kept as the command line keeps it. Every simulated hour it prints resident memory, the
// readings, the stretches the link was down, the table file's size and that of the files
// beside it.
//
//   soak_reconnect [HOURS]
//
// HOURS is 24 when not given. It ends with 1 when a reading was lost outside a stretch the link
// was down, recorded twice, numbered out of turn, or a stretch was not closed.
#include "analysis/details_file.h"
#include "analysis/live_results.h"
#include "app/app_session.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/stepped_link.h"
#include "recording/recording_control.h"

#include "bench_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

constexpr std::int64_t kSecond = 1000000;
constexpr std::int64_t kFramesCounted = 10000; // the reading wraps after 9999

using kxbench::residentKiB;

std::optional<kx::MeterFrame> counting(std::int64_t t) {
    kx::MeterDisplay d;
    d.reading = std::to_string(t / kx::SimulatedCable::kFramePeriodUs % kFramesCounted);
    return kx::encodeFrame(d);
}

// A glitch every ten minutes (the cable out for 2 s), but on the hour's half, where the meter
// falls silent for a minute.
kx::FaultScript dayOfFaults(int hours) {
    kx::FaultScript faults;
    for (std::int64_t m = 0; m < hours * 60; m += 10) {
        if (m % 60 == 30)
            (void)faults.add({kx::LinkFault::Kind::Silent, m * 60 * kSecond, 60 * kSecond});
        else
            (void)faults.add({kx::LinkFault::Kind::Unplug, (m * 60 + 5) * kSecond, 2 * kSecond});
    }
    return faults;
}

// The bytes of the files beside the table (its journal between checkpoints).
qint64 besideBytes(const QString& folder, const QString& table) {
    qint64 n = 0;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (f.absoluteFilePath() != table)
            n += f.size();
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int hours = argc > 1 ? std::atoi(argv[1]) : 24;
    if (hours <= 0) {
        std::fprintf(stderr, "usage: soak_reconnect [HOURS]\n");
        return 2;
    }
    QTemporaryDir dir;
    kx::SteppedLink sim(counting, dayOfFaults(hours),
                        QDateTime(QDate(2026, 12, 10), QTime(8, 0, 0)));
    kx::SessionSetup setup;
    setup.platform = sim.bus();
    setup.appDir = dir.path();
    kx::AppSession session(setup);
    // Every frame is decoded as it completes: the pace is the meter's.
    session.throttle().setClock([t = std::int64_t{0}]() mutable { return t += 500; });
    kx::ConnectionControl& link = session.link();
    sim.drive(link);
    link.setAutoReconnect(true);
    kx::RecordingControl& rc = session.recording();
    rc.setRepeat(true);
    rc.setRecordLimit(kx::RecordingControl::kLimitless);
    const QString table = dir.filePath(QStringLiteral("soak.db"));
    if (const auto kept = session.recordInto(table, false); !kept) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(kept.error()));
        return 1;
    }

    long long lost = 0, doubled = 0, misnumbered = 0, gaps = 0, open = 0;
    long long previous = -1;
    bool afterGap = false;
    QObject::connect(&link, &kx::ConnectionControl::linkLost, [&] {
        ++gaps;
        ++open;
    });
    QObject::connect(&link, &kx::ConnectionControl::linkRestored, [&] {
        --open;
        afterGap = true;
    });
    const kx::ReadingsTable& live = session.liveTable();
    QObject::connect(&session, &kx::AppSession::readingRecorded, [&](qint64 row) {
        const long long value = std::atoll(live.fieldText(row, "Value").c_str());
        if (live.fieldText(row, "No") != std::to_string(row + 1))
            ++misnumbered;
        if (previous >= 0) {
            const long long step = (value - previous + kFramesCounted) % kFramesCounted;
            if (step == 0)
                ++doubled;
            else if (step != 1 && !afterGap)
                lost += step - 1;
        }
        previous = value;
        afterGap = false;
    });
    if (!session.connectLink()) {
        std::fprintf(stderr, "soak: the link did not come up\n");
        return 1;
    }

    QElapsedTimer took;
    took.start();
    std::printf("hour,resident_kib,readings,gaps,table_bytes,beside_bytes,seconds\n");
    std::printf("0,%ld,0,0,%lld,%lld,0\n", residentKiB(), QFileInfo(table).size(),
                besideBytes(dir.path(), table));
    for (int h = 1; h <= hours; ++h) {
        if (!sim.run(3600 * kSecond)) {
            std::fprintf(stderr, "soak: the link got stuck in hour %d\n", h);
            return 1;
        }
        std::printf("%d,%ld,%lld,%lld,%lld,%lld,%.0f\n", h, residentKiB(),
                    static_cast<long long>(live.rowCount()), gaps, QFileInfo(table).size(),
                    besideBytes(dir.path(), table), took.elapsed() / 1000.0);
        std::fflush(stdout);
    }
    session.endLink();
    const kx::Status finished = session.finishRecording();
    // Every stretch the link was down is kept in the recording's details beside the table,
    // written as the command line's recorder writes them.
    if (const auto& recording = session.results().details().recording) {
        if (const kx::Status s = kx::writeRecordingDetails(table, *recording, false,
                                                           session.results().details().linkGaps);
            !s)
            std::fprintf(stderr, "soak: %s\n", qPrintable(s.error()));
    }
    const kx::TestDetailsRead details = kx::readTestDetails(table);
    const long long kept = static_cast<long long>(details.details.linkGaps.size());
    std::printf("lost %lld, doubled %lld, misnumbered %lld, gaps %lld (%lld still open, %lld kept "
                "in the details)%s\n",
                lost, doubled, misnumbered, gaps, open, kept,
                finished ? "" : ", the table was not finished");
    if (!details.problem.isEmpty())
        std::fprintf(stderr, "soak: %s\n", qPrintable(details.problem));
    return lost || doubled || misnumbered || open || kept != gaps || !finished ? 1 : 0;
}
