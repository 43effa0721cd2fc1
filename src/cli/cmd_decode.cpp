#include "cli/cli_commands.h"
#include "cli/decode_json.h"
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"

#include <QFile>
#include <QJsonObject>

#include <cstdio>
#include <optional>
#include <vector>

namespace kx::cli {
namespace {

constexpr std::size_t kMaxReportBytes = 65; // report ID and up to 64 data bytes

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One report line: hexadecimal bytes separated by blanks, report ID first. Returns the bytes,
// or an error text for a malformed line.
std::optional<std::vector<std::uint8_t>> parseReportLine(const QByteArray& line, QString* error) {
    std::vector<std::uint8_t> bytes;
    for (const QByteArray& token : line.simplified().split(' ')) {
        if (token.isEmpty())
            continue;
        if (token.size() % 2 != 0) {
            *error = QStringLiteral("odd number of hex digits in \"%1\"")
                         .arg(QString::fromLatin1(token));
            return std::nullopt;
        }
        for (qsizetype i = 0; i < token.size(); i += 2) {
            const int hi = hexDigit(token[i]);
            const int lo = hexDigit(token[i + 1]);
            if (hi < 0 || lo < 0) {
                *error = QStringLiteral("not a hex byte in \"%1\"").arg(QString::fromLatin1(token));
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
            if (bytes.size() > kMaxReportBytes) {
                *error = QStringLiteral("more than %1 bytes").arg(kMaxReportBytes);
                return std::nullopt;
            }
        }
    }
    return bytes;
}

} // namespace

int runDecode(const QStringList& args) {
    if (args.isEmpty())
        return usageError(QStringLiteral("kxlink-cli decode FRAME..."));
    FrameDecoder decoder;
    for (const QString& frame : args) {
        const QByteArray text = frame.toLatin1();
        const DecodeResult r = decoder.ShowDataKx30(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        printJson(decodeJson(r, decoder));
    }
    return 0;
}

int runReplay(const QStringList& args) {
    if (args.size() != 1)
        return usageError(QStringLiteral("kxlink-cli replay FILE|-"));
    QFile file;
    bool opened = false;
    if (args[0] == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(args[0]);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        printError(QStringLiteral("cannot read %1: %2").arg(args[0], file.errorString()));
        return 1;
    }

    FrameDecoder decoder;
    FrameReceiver receiver;
    qint64 reports = 0;
    qint64 frames = 0;
    receiver.setFrameHandler([&](std::string_view hex) {
        ++frames;
        const DecodeResult r = decoder.ShowDataKx30(hex);
        QJsonObject o = decodeJson(r, decoder);
        o.insert("hex", QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size())));
        printJson(o);
    });

    qint64 lineNo = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++lineNo;
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        QString error;
        const auto bytes = parseReportLine(trimmed, &error);
        if (!bytes) {
            printError(QStringLiteral("line %1: %2; skipped").arg(lineNo).arg(error));
            continue;
        }
        if (bytes->empty())
            continue;
        ++reports;
        receiver.ReadPw60((*bytes)[0], bytes->data() + 1,
                          static_cast<std::uint16_t>(bytes->size() - 1));
    }

    QJsonObject summary;
    summary.insert("reports", reports);
    summary.insert("frames", frames);
    summary.insert("idle", receiver.IdleReportCount());
    printJson(summary);
    return 0;
}

} // namespace kx::cli
