#include "cli/cli_commands.h"

#include "common/regular_file.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>

namespace kx::cli {
namespace {

// The first failure writing to stdout: its errno (0: none yet).
int& outputError() {
    static int err = 0;
    return err;
}

void noteFailure() {
    if (outputError() == 0)
        outputError() = errno != 0 ? errno : EIO;
    // A command waiting in its event loop (monitor) has nobody left to print for.
    QCoreApplication::exit(1);
}

} // namespace

void writeOutput(const char* data, std::size_t size) {
    if (outputError() != 0)
        return;
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, stdout) != size)
        noteFailure();
}

void printJson(const QJsonObject& o) {
    QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact);
    line += '\n';
    writeOutput(line.constData(), static_cast<std::size_t>(line.size()));
    // Each object is whole on its own line as soon as it is known (monitor runs until stopped).
    errno = 0;
    if (outputError() == 0 && std::fflush(stdout) != 0)
        noteFailure();
}

bool outputFailed() {
    return outputError() != 0;
}

int finishOutput(int code) {
    errno = 0;
    if (outputError() == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        outputError() = errno != 0 ? errno : EIO;
    if (outputError() == 0)
        return code;
    printError(
        QStringLiteral("Cannot write to standard output: %1").arg(systemErrorText(outputError())));
    return code == 2 ? 2 : 1;
}

void printError(const QString& message) {
    const QByteArray b = message.toUtf8();
    std::fprintf(stderr, "%s\n", b.constData());
}

int usageError(const QString& usage) {
    printError(QStringLiteral("usage: ") + usage);
    return 2;
}

} // namespace kx::cli
