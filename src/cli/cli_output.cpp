#include "cli/cli_commands.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace kx::cli {

void printJson(const QJsonObject& o) {
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
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
