#include "app/demo_feeder.h"
#include "app/main_window.h"
#include "link/meter_simulator.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kxlink"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Insulation tester link"));
    parser.addHelpOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"), QStringLiteral("Show a simulated meter running its demo script."));
    parser.addOption(demo);
    parser.process(app);

    kx::TFrmTest w;
    w.show();

    // The simulated meter, fed straight to the window's receiver.
    std::unique_ptr<kx::SimulatedCable> cable;
    std::unique_ptr<kx::DemoFeeder> feeder;
    if (parser.isSet(demo)) {
        cable = std::make_unique<kx::SimulatedCable>(
            [script = kx::DemoScript()](std::int64_t t) { return script.frameAt(t); });
        feeder = std::make_unique<kx::DemoFeeder>(*cable, w.session().receiver);
        feeder->start();
    }
    return app.exec();
}
