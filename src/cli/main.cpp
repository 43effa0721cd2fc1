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
    {"table", kx::cli::runTable,
     "table info FILE | table dump [--raw] FILE | table create FILE --readings|--store"},
    {"list", kx::cli::runList, "list [--demo]"},
    {"monitor", kx::cli::runMonitor, "monitor [--demo] [--frames N]"},
    {"record", kx::cli::runRecord,
     "record [--demo] [--frames N] [--limit N] [--interval S] [--no-repeat] --out FILE.db"},
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
