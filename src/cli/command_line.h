#pragma once

#include "cli/cli_commands.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace kx::cli {

// The arguments of one command, parsed by the library's parser with the front end's rules:
//  - "--help" or "-h" prints the command's usage line, what it does, and its options and
//    arguments on stdout, and the command ends with exit code 0;
//  - an unknown option, a missing value, a wrong number of arguments or a value a command
//    refuses is bad usage: the reason and the usage line on stderr, exit code 2;
//  - "--" ends the options; a lone "-" is an argument (standard input).
// The usage line and the summary come from the command table (cli_commands.h).
//
//   CommandLine line("export");
//   line.flag("store", "...");
//   line.positional("SRC", "...");
//   line.positional("DEST", "...");
//   if (const std::optional<int> done = line.parse(args))
//       return *done;
class CommandLine {
public:
    explicit CommandLine(const char* command);

    void flag(const QString& name, const QString& help);
    void option(const QString& name, const QString& valueName, const QString& help);
    // Arguments in their order. The last may be repeated when `repeats` is set.
    void positional(const QString& name, const QString& help, bool optional = false,
                    bool repeats = false);

    // Parses the arguments after the command's name. Nothing when the command goes on;
    // otherwise the exit code it ends with (0 after --help, 2 after bad usage, both told).
    std::optional<int> parse(const QStringList& args);

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name) const { return parser_.value(name); }
    QStringList positional() const { return parser_.positionalArguments(); }

    // Bad usage the command found itself: the reason, when given, then the usage line;
    // returns 2.
    int usageError(const QString& reason = {}) const;

    // A whole number from min to max given to option `name`; nothing when the option is not
    // given. A text that is no such number is bad usage: `bad` is set to the exit code.
    std::optional<qint64> number(const QString& name, qint64 min, qint64 max,
                                 std::optional<int>& bad) const;

    // The help text --help prints.
    QString helpText() const;

private:
    const CommandInfo& command_;
    QCommandLineParser parser_;
    int required_ = 0;
    int allowed_ = 0; // -1: no limit
};

} // namespace kx::cli
