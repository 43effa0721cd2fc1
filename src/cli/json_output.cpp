#include "cli/json_output.h"

#include "common/cp936.h"
#include "common/regular_file.h"
#include "paradox/paradox_value.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cerrno>
#include <cmath>
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

void writeOutput(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    writeOutput(bytes.constData(), static_cast<std::size_t>(bytes.size()));
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

QString jsonText(const QByteArray& cp936) {
    return fromCp936(cp936);
}

QJsonValue jsonValue(const px::Value& v) {
    using K = px::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return QJsonValue::Null;
    case K::Integer:
        return static_cast<qint64>(v.toInt());
    case K::Number:
        return std::isfinite(v.toNumber()) ? QJsonValue(v.toNumber()) : QJsonValue::Null;
    case K::Logical:
        return v.toBool();
    default:
        return jsonText(v.toText());
    }
}

} // namespace kx::cli
