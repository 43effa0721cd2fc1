#include "cli/cli_commands.h"

#include <QStringView>

#include <array>

namespace kx::cli {
namespace {

constexpr std::array kCommands{
    CommandInfo{"decode", runDecode, "decode FRAME...",
                "Decodes meter frames (44 hexadecimal characters ending 0D0A) in order, carrying "
                "the display state from one frame to the next; one object per frame."},
    CommandInfo{"replay", runReplay, "replay FILE|-",
                "Feeds recorded cable input reports (one a line, hexadecimal bytes, report ID "
                "first) through the frame receiver and the decoder; one object per frame, then "
                "the counts."},
    CommandInfo{"table", runTable,
                "table info FILE | table dump [--raw] FILE | table create FILE --readings|--store "
                "[--replace] | table repair FILE",
                "Inspects, dumps, creates and repairs Paradox tables."},
    CommandInfo{"list", runList, "list [--demo]", "Lists the HID devices present."},
    CommandInfo{"monitor", runMonitor, "monitor [--demo] [--frames N]",
                "Connects to the cable as the window's CONNECT does and prints each decoded "
                "frame until N frames, Ctrl+C or SIGTERM."},
    CommandInfo{"record", runRecord,
                "record [--demo] [--frames N] [--limit N] [--interval S] [--no-repeat] "
                "--out FILE.db|--append FILE.db",
                "Records the readings under the window's rules into a Paradox table keyed on No, "
                "written as the recording goes."},
    CommandInfo{"export", runExport,
                "export SRC DEST [--store] [--delimiter ','|';'] [--decimal-comma]",
                "Saves the readings table file SRC under DEST as the window's Save As does: a "
                "keyed Paradox copy for a name ending exactly in .db; UTF-8 CSV, JSON lines or "
                "a workbook for .csv, .jsonl or .xlsx in any case; the tab-separated text for "
                "any other."},
    CommandInfo{"query", runQuery, "query 'select * from \"FILE.db\" [where FIELD=\"TEXT\"]'",
                "Lists the records of a table file, all of them or those whose field holds "
                "exactly that text, then the count."},
    CommandInfo{"chart", runChart,
                "chart FILE.db [--per-page P] [--page N] [--line] --out PICTURE.bmp|.png",
                "Draws the chart of a table file as the window shows it, offscreen, into a "
                "picture.",
                true},
    CommandInfo{"report", runReport,
                "report FILE.db [--store] [--kind data|graph|data+graph|results] [--picture FILE] "
                "[--temperature C] [--base 40|20] [--minimum MOHM] [--pi-minimum X] "
                "--out OUT.pdf|.txt|.csv|.html | report --kind asset --asset TAG "
                "[--database URL] --out OUT.pdf|.csv|.html",
                "Writes a printed report as the window's preview shows it, as PDF, text, "
                "comma-separated text or HTML; with --kind asset the history of an asset of the "
                "register: its tests, the trend chart and the projection.",
                true},
    CommandInfo{"results", runResults,
                "results FILE.db [--store] [--temperature C] [--base 40|20] [--minimum MOHM] "
                "[--pi-minimum X]",
                "Finds the insulation tests of a readings table file and works out their figures "
                "and verdicts as the results window does; one object per test, then the count. "
                "The table's test details give the settings; the options change them."},
    CommandInfo{
        "assets", runAssets,
        "assets add|edit TAG [--name N] [--kind K] [--location L] [--rated-voltage V] "
        "[--thermal-class C] [--minimum MOHM] [--pi-minimum X] [--notes TEXT] | "
        "assets list [--search TEXT] [--retired] | assets show|retire|trend TAG | "
        "assets file FILE.db --asset TAG [--test N] [--date YYYY-MM-DD] [--file-date] | "
        "assets import FOLDER [--file-date] | assets export OUT.xlsx; each with "
        "[--database URL]",
        "Keeps the asset register: assets with their minimums, the tests filed under "
        "them from readings tables (filing the same test again files nothing), their "
        "trend of the 1-minute resistance (corrected to 40 degrees) with the projected crossing of "
        "the minimum, and the workbook of it all. One object per asset, test or point; "
        "file and import end with {\"filed\":N,\"already\":M}."},
};

} // namespace

std::span<const CommandInfo> commands() {
    return kCommands;
}

const CommandInfo* findCommand(const QString& name) {
    for (const CommandInfo& c : kCommands) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

int badUsage(const CommandInfo& command) {
    printError(QStringLiteral("usage: %1\nSee 'kxlink-cli %2 --help'.")
                   .arg(QLatin1String(command.usage), QLatin1String(command.name)));
    return 2;
}

int usageError(const QString& usage) {
    printError(QStringLiteral("usage: ") + usage);
    return 2;
}

} // namespace kx::cli
