#include "cli/cli_commands.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <memory>

namespace {

// The program's own usage: every command's usage line, from the command table.
QString programUsage(bool withSummaries) {
    QString text = QStringLiteral("kxlink-cli COMMAND [ARGS]; commands:");
    for (const kx::cli::CommandInfo& c : kx::cli::commands()) {
        text += QStringLiteral("\n  kxlink-cli ") + QLatin1String(c.usage);
        if (withSummaries)
            text += QStringLiteral("\n      ") + QLatin1String(c.summary);
    }
    if (withSummaries)
        text += QStringLiteral("\n'kxlink-cli COMMAND --help' tells more of each.\n");
    return text;
}

bool asksForHelp(const QString& arg) {
    return arg == QLatin1String("--help") || arg == QLatin1String("-h") ||
           arg == QLatin1String("help");
}

} // namespace

int main(int argc, char** argv) {
    // A reader that went away (`| head`) is a failed write to report, not a silent death: the
    // command stops, tells the cable goodbye where it has one, and exits 1 with the reason.
    std::signal(SIGPIPE, SIG_IGN);
    const QString name = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const kx::cli::CommandInfo* command = kx::cli::findCommand(name);
    std::unique_ptr<QCoreApplication> app;
    if (command && command->draws) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("kxlink-cli"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (!command) {
        if (args.size() == 1 && asksForHelp(name)) {
            kx::cli::writeOutput(programUsage(true));
            return kx::cli::finishOutput(0);
        }
        return kx::cli::usageError(programUsage(false));
    }
    args.removeFirst();
    return kx::cli::finishOutput(command->run(args));
}
