#include "cli/command_line.h"

#include <cstdlib>
#include <limits>

namespace kx::cli {
namespace {

const CommandInfo& commandNamed(const char* name) {
    const CommandInfo* c = findCommand(QLatin1String(name));
    if (!c)
        std::abort(); // a command missing from the table is a programming error
    return *c;
}

constexpr QLatin1String kHelp("help");

} // namespace

CommandLine::CommandLine(const char* command) : command_(commandNamed(command)) {
    parser_.setApplicationDescription(QLatin1String(command_.summary));
    parser_.addOption(QCommandLineOption({QStringLiteral("h"), QString(kHelp)},
                                         QStringLiteral("Shows this help and ends.")));
}

void CommandLine::flag(const QString& name, const QString& help) {
    parser_.addOption(QCommandLineOption(name, help));
}

void CommandLine::option(const QString& name, const QString& valueName, const QString& help) {
    parser_.addOption(QCommandLineOption(name, help, valueName));
}

void CommandLine::positional(const QString& name, const QString& help, bool optional,
                             bool repeats) {
    QString syntax = repeats ? name + QStringLiteral("...") : name;
    if (optional)
        syntax = QLatin1Char('[') + syntax + QLatin1Char(']');
    parser_.addPositionalArgument(name, help, syntax);
    if (!optional)
        ++required_;
    if (allowed_ >= 0)
        allowed_ = repeats ? -1 : allowed_ + 1;
}

std::optional<int> CommandLine::parse(const QStringList& args) {
    if (!parser_.parse(QStringList{QLatin1String(command_.name)} + args))
        return usageError(parser_.errorText());
    if (parser_.isSet(kHelp)) {
        writeOutput(helpText());
        return 0;
    }
    const auto n = parser_.positionalArguments().size();
    if (n < required_)
        return usageError();
    if (allowed_ >= 0 && n > allowed_)
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser_.positionalArguments().at(allowed_)));
    return std::nullopt;
}

int CommandLine::usageError(const QString& reason) const {
    if (!reason.isEmpty())
        printError(reason);
    return badUsage(command_);
}

std::optional<qint64> CommandLine::number(const QString& name, qint64 min, qint64 max,
                                          std::optional<int>& bad) const {
    if (!parser_.isSet(name))
        return std::nullopt;
    bool ok = false;
    const QString text = parser_.value(name);
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < min || n > max) {
        const QString range = max == std::numeric_limits<qint64>::max()
                                  ? QStringLiteral("%1 or more").arg(min)
                                  : QStringLiteral("from %1 to %2").arg(min).arg(max);
        bad = usageError(
            QStringLiteral("--%1 needs a whole number %2, not '%3'").arg(name, range, text));
        return std::nullopt;
    }
    return n;
}

QString CommandLine::helpText() const {
    // The library's own first line names the executable; ours gives the command's usage.
    QString text = parser_.helpText();
    text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
    return QStringLiteral("usage: kxlink-cli %1\n").arg(QLatin1String(command_.usage)) + text;
}

} // namespace kx::cli
