#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "common/stop_signals.h"
#include "link/hid_platforms.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kxlink"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Insulation tester link"));
    parser.addHelpOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral(
            "Work with a simulated meter on a simulated cable instead of the system's devices."));
    parser.addOption(demo);
    parser.process(app);

    kx::SessionSetup setup;
    setup.platform = parser.isSet(demo) ? kx::makeDemoMeterPlatform() : kx::makeSystemPlatform();
    // The session outlives the window, which only shows it.
    kx::AppSession session(setup);
    kx::TFrmTest w(session);
    // Told to stop, the program ends as its close box ends it.
    const kx::StopSignals stop([&w](int) {
        w.close();
        QCoreApplication::quit(); // also leaves a message box left open
    });
    w.show();
    return app.exec();
}
