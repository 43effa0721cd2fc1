// Soak run of the whole window path: the simulated interface cable on its virtual clock feeds
// the main window (offscreen) through the HID reading thread and its hand-over, the frame
// receiver, the throttle, the decoder and panel, recording into the live table at the
// "Limitless" record limit, and the grid. Prints resident memory at the start, every tenth of
// the way and at the end, with the records' own share of it, and the record count.
//
//   soak_window [FRAMES] [--hidden] [--limit N]
//
// FRAMES is 10,000,000 when not given. --hidden leaves the window unshown: everything but the
// painting, which at the soak's pace of hundreds of frames a second takes most of the time
// (the meter sends two a second). --limit sets a record limit of N in place of "Limitless":
// past it frames go on without records, and memory must then stay flat.
#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "common/ui/message_boxes.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "link/sim_usb_serial_cable.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "recording/recording_control.h"

#include "bench_support.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

using kxbench::residentKiB;

// A box during the run means something went wrong: say so and stop.
class FailingBoxes : public kx::MessageBoxes {
public:
    void information(QWidget*, const QString& t) override { stop("information", t); }
    void warning(QWidget*, const QString& t) override { stop("warning", t); }
    void error(QWidget*, const QString& t) override { stop("error", t); }
    bool confirm(QWidget*, const QString& t) override {
        stop("confirm", t);
        return false;
    }
    bool confirmDeletion(QWidget*, const QString& t, const QString&) override {
        stop("delete", t);
        return false;
    }
    // The run's readings are not kept: leaving drops them, as asked.
    SaveAnswer askToSave(QWidget*, const QString&) override { return SaveAnswer::Discard; }

private:
    static void stop(const char* kind, const QString& text) {
        std::fprintf(stderr, "soak: unexpected %s box: %s\n", kind, text.toUtf8().constData());
        std::exit(1);
    }
};

bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 60000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The demonstration readings, without the silent stretch so that the link never falls idle,
// one frame each 108 ms of cable time: the 92 ms a frame takes at 2400 baud and one report
// without payload after it, so that every frame ends on its own.
constexpr std::int64_t kFramePeriodUs = 108000;

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    long long total = 10'000'000LL;
    bool hidden = false;
    long long limit = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hidden") == 0)
            hidden = true;
        else if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc)
            limit = std::atoll(argv[++i]);
        else
            total = std::atoll(argv[i]);
    }
    if (total <= 0 || limit == 0 || limit > kx::RecordingControl::kLimitless) {
        std::fprintf(stderr, "usage: soak_window [FRAMES] [--hidden] [--limit N]\n");
        return 2;
    }

    QTemporaryDir dir;
    kx::SessionSetup setup;
    setup.liveTable = dir.filePath(QStringLiteral("Pw60bdb.DB"));
    setup.storeTable = dir.filePath(QStringLiteral("pw60SD.DB"));
    if (!kx::px::createTable(setup.liveTable, kx::readingsFields()).ok() ||
        !kx::px::createTable(setup.storeTable, kx::readingsFields(true)).ok()) {
        std::fprintf(stderr, "soak: cannot create the tables in %s\n", qPrintable(dir.path()));
        return 1;
    }
    auto bus = std::make_shared<kx::SimHidBus>();
    setup.platform = bus;

    FailingBoxes boxes;
    long long frames = 0;
    {
        kx::AppSession session(setup);
        // Every frame is let through as if half a second had passed since the last.
        session.throttle().setClock([t = std::int64_t{0}]() mutable { return t += 500; });
        QObject::connect(&session, &kx::AppSession::frameDecoded, [&] { ++frames; });
        kx::TFrmTest win(session, kx::UiServices{&boxes, nullptr});
        if (!hidden)
            win.show();
        win.setlimitClick();
        if (limit > 0)
            session.recording().setRecordLimit(static_cast<std::int32_t>(limit));

        auto cable = std::make_shared<kx::SimUsbSerialCable>(
            std::make_unique<kx::SimulatedCable>(
                [demo = kx::DemoScript(kx::DemoScript::Options{.silentStretch = false})](
                    std::int64_t t) { return demo.frameAt(t); },
                kFramePeriodUs),
            kx::CableClock::Virtual);
        // Ten frames of reports at a time.
        cable->setInputBufferLimit(256);
        bus->plug(cable);
        if (!waitUntil([&] { return session.link().devListSelection() == 0; })) {
            std::fprintf(stderr, "soak: the cable was not listed\n");
            return 1;
        }
        win.Panel2Click();
        if (!session.link().usbConDown()) {
            std::fprintf(stderr, "soak: CONNECT failed\n");
            return 1;
        }

        const long startKiB = residentKiB();
        std::printf("frames %12s  resident %8ld KiB\n", "0", startKiB);
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        const long long step = std::max(1LL, total / 10);
        long long nextReport = step;
        while (frames < total) {
            cable->advance(10 * kFramePeriodUs);
            if (!waitUntil(
                    [&] { return cable->queuedReports() == 0 && cable->waitingReads() > 0; })) {
                std::fprintf(stderr, "soak: the window stopped taking reports at frame %lld\n",
                             frames);
                return 1;
            }
            if (frames >= nextReport) {
                std::printf("frames %12lld  resident %8ld KiB  records %10lld  (records' own "
                            "%ld KiB)  %.0f s\n",
                            frames, residentKiB(), session.liveTable().rowCount(),
                            static_cast<long>(session.liveTable().memoryUsage() / 1024),
                            clock.elapsed() / 1000.0);
                std::fflush(stdout);
                nextReport += step;
            }
        }
        win.Panel2Click();
        const long endKiB = residentKiB();
        const long recordsKiB = static_cast<long>(session.liveTable().memoryUsage() / 1024);
        std::printf("end: frames %lld, records %lld, resident %ld KiB at the start and %ld KiB at "
                    "the end; the records hold %ld KiB, the rest grew by %ld KiB; %.0f s\n",
                    frames, session.liveTable().rowCount(), startKiB, endKiB, recordsKiB,
                    endKiB - startKiB - recordsKiB, clock.elapsed() / 1000.0);
        std::fflush(stdout);
        // The window's EXIT: tables closed, the window gone, the session after it.
        win.Panel3Click();
    }
    return 0;
}
