#include "cli/cli_commands.h"

#include <QCoreApplication>

#include <cstring>

namespace {

struct Command {
    const char* name;
    int (*run)(const QStringList&);
    const char* usage;
};

constexpr Command kCommands[] = {
    {"decode", kx::cli::runDecode, "decode FRAME..."},
    {"replay", kx::cli::runReplay, "replay FILE|-"},
    {"list", kx::cli::runList, "list [--demo]"},
};

int usage() {
    QString text = QStringLiteral("kxlink-cli COMMAND [ARGS]; commands:");
    for (const Command& c : kCommands)
        text += QStringLiteral("\n  kxlink-cli ") + QLatin1String(c.usage);
    return kx::cli::usageError(text);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kxlink-cli"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usage();
    const QString name = args.takeFirst();
    for (const Command& c : kCommands) {
        if (name == QLatin1String(c.name))
            return c.run(args);
    }
    return usage();
}
