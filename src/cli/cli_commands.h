// Room cli: the command-line front end over the same session. Uses every room; ui/ its
// drawing commands.
#pragma once

#include "cli/json_output.h"

#include <QString>
#include <QStringList>

#include <span>

namespace kx::cli {

// Each command takes the arguments after its name and returns the process exit code:
// 0 success, 1 failure (message on stderr), 2 bad usage (usage line on stderr).
int runDecode(const QStringList& args);
int runReplay(const QStringList& args);
int runTable(const QStringList& args);
int runList(const QStringList& args);
int runMonitor(const QStringList& args);
int runRecord(const QStringList& args);
int runExport(const QStringList& args);
int runQuery(const QStringList& args);
int runChart(const QStringList& args);
int runReport(const QStringList& args);
int runResults(const QStringList& args);
int runAssets(const QStringList& args);

// The commands with their usage lines and what each does: the one place the usage text
// lives. The program's own usage, each command's --help and every bad-usage message are made
// from here.
struct CommandInfo {
    const char* name;
    int (*run)(const QStringList& args);
    const char* usage;   // the command's name and its arguments
    const char* summary; // what it does, for --help
    // Commands that draw (charts, report pages) need the GUI classes; they run on the
    // offscreen platform, so no display is needed.
    bool draws = false;
};
std::span<const CommandInfo> commands();
// Nothing for a name that is no command.
const CommandInfo* findCommand(const QString& name);

// "usage: <the command's usage line>" and a pointer to its --help on stderr; returns 2.
int badUsage(const CommandInfo& command);
// "usage: <usage>" on stderr; returns 2. The program's own usage, when no command is named.
int usageError(const QString& usage);

} // namespace kx::cli
