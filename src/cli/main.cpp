#include "cli/cli_commands.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstring>
#include <memory>

namespace {

struct Command {
    const char* name;
    int (*run)(const QStringList&);
    const char* usage;
    // Commands that draw (charts, report pages) need the GUI classes; they run on the
    // offscreen platform, so no display is needed.
    bool draws = false;
};

constexpr Command kCommands[] = {
    {"decode", kx::cli::runDecode, "decode FRAME..."},
    {"replay", kx::cli::runReplay, "replay FILE|-"},
    {"table", kx::cli::runTable,
     "table info FILE | table dump [--raw] FILE | table create FILE --readings|--store "
     "[--replace] | table repair FILE"},
    {"list", kx::cli::runList, "list [--demo]"},
    {"monitor", kx::cli::runMonitor, "monitor [--demo] [--frames N]"},
    {"record", kx::cli::runRecord,
     "record [--demo] [--frames N] [--limit N] [--interval S] [--no-repeat] "
     "--out FILE.db|--append FILE.db"},
    {"export", kx::cli::runExport, "export SRC DEST [--store]"},
    {"query", kx::cli::runQuery, "query 'select * from \"FILE.db\" [where FIELD=\"TEXT\"]'"},
    {"chart", kx::cli::runChart,
     "chart FILE.db [--per-page P] [--page N] [--line] --out PICTURE.bmp|.png", true},
    {"report", kx::cli::runReport,
     "report FILE.db [--store] [--kind data|graph|data+graph] [--picture FILE] "
     "--out OUT.pdf|.txt|.csv|.html",
     true},
};

int usage() {
    QString text = QStringLiteral("kxlink-cli COMMAND [ARGS]; commands:");
    for (const Command& c : kCommands)
        text += QStringLiteral("\n  kxlink-cli ") + QLatin1String(c.usage);
    return kx::cli::usageError(text);
}

const Command* findCommand(const char* name) {
    for (const Command& c : kCommands) {
        if (name && std::strcmp(name, c.name) == 0)
            return &c;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that went away (`| head`) is a failed write to report, not a silent death: the
    // command stops, tells the cable goodbye where it has one, and exits 1 with the reason.
    std::signal(SIGPIPE, SIG_IGN);
    const Command* command = findCommand(argc > 1 ? argv[1] : nullptr);
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
    if (!command)
        return usage();
    args.removeFirst();
    return kx::cli::finishOutput(command->run(args));
}
