#include "app/app_session.h"
#include "app/ui/instance_guard.h"
#include "app/ui/main_window.h"
#include "assets/demo_register.h"
#include "common/stop_signals.h"
#include "common/ui/message_boxes.h"
#include "link/hid_platforms.h"
#include "reports/ui/about_box.h"
#include "reports/ui/search_dialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kxlink"));
    // Desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kxlink.kxlink"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Insulation tester link"));
    parser.addHelpOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Work with a simulated meter on a simulated cable instead of the system's "
                       "devices, and with a demonstration asset register."));
    parser.addOption(demo);
    const QCommandLineOption demoFaults(
        QStringLiteral("demo-faults"),
        QStringLiteral("With --demo: faults to play, KIND@START+LENGTH,... in seconds from the "
                       "link's start, KIND silent, unplug or damaged."),
        QStringLiteral("SPEC"));
    parser.addOption(demoFaults);
    // For installation checks: start as usual, then leave through the EXIT panel as soon as
    // the window is up, so a headless run shows that an installed copy starts and ends.
    QCommandLineOption exitAfterStart(QStringLiteral("exit-after-start"),
                                      QStringLiteral("Leave by EXIT once the window is open."));
    exitAfterStart.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(exitAfterStart);
    parser.process(app);
    kx::FaultScript faults;
    if (parser.isSet(demoFaults)) {
        const kx::Result<kx::FaultScript> parsed = kx::FaultScript::parse(parser.value(demoFaults));
        const QString bad = !parser.isSet(demo) ? QStringLiteral("--demo-faults needs --demo")
                            : !parsed           ? QStringLiteral("--demo-faults: ") + parsed.error()
                                                : QString();
        if (!bad.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(bad));
            return 2;
        }
        faults = parsed.value();
    }

    // One window a program folder: a second start offers to bring the running one forward.
    kx::InstanceGuard guard(kx::AppDir());
    if (!guard.claim()) {
        const QString running = kx::InstanceGuard::runningMessage(kx::AppDir());
        std::fprintf(stderr, "%s\n", qPrintable(running.section(QLatin1Char('\n'), 0, 0)));
        // A check that leaves at once has nobody to answer a question.
        if (parser.isSet(exitAfterStart))
            return 1;
        kx::DialogMessageBoxes boxes;
        if (boxes.confirm(nullptr, running))
            guard.bringOtherForward();
        return 0;
    }

    kx::SessionSetup setup;
    // Recorded readings are journalled in the user's data folder until the recording ends.
    setup.journalFolder = kx::AppDirPlaces::system().dataDir;
    if (parser.isSet(demo)) {
        const kx::DemoMeter meter = kx::makeDemoMeter(faults);
        setup.platform = meter.platform;
        setup.demoFaults = meter.faults;
        // The demonstration works on a register of its own, never the user's, filled the
        // first time (what is there already is kept).
        setup.database = kx::demoDatabaseLocation();
        setup.prepareRegister = [](kx::AssetRegister& reg) { return kx::fillDemoRegister(reg); };
    } else {
        setup.platform = kx::makeSystemPlatform();
    }
    // The session outlives the window, which only shows it.
    kx::AppSession session(setup);
    kx::TFrmTest w(session);
    // Start-up found the program's files incomplete and has said so.
    if (w.startUpEnded())
        return 1;
    // The side windows, made once in this order and kept to the end; each command shows its
    // window modally.
    w.setAboutBox(new kx::TFrmAbout(&w));
    w.setSearchDialog(new kx::TFrmsearch(session.liveTable(), session.AppDir, w.boxes(), &w));
    // Told to stop, the program ends as its close box ends it.
    const kx::StopSignals stop([&w, &session](int) {
        session.keepJournal(); // for the next start to recover
        w.endBySignal();
        QCoreApplication::quit(); // also leaves a message box left open
    });
    QObject::connect(&guard, &kx::InstanceGuard::forwardRequested, &w, &kx::TFrmTest::bringForward);
    w.show();
    if (parser.isSet(exitAfterStart))
        QTimer::singleShot(0, &w, &kx::TFrmTest::Panel3Click);
    return app.exec();
}
