#include "cli/cli_commands.h"
#include "cli/decode_json.h"
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/report_line.h"

#include <QFile>
#include <QJsonObject>

#include <cstdio>
#include <vector>

namespace kx::cli {

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
        if (isReportLineSkipped(line))
            continue;
        const Result<std::vector<std::uint8_t>> bytes = parseReportLine(line);
        if (!bytes) {
            printError(QStringLiteral("line %1: %2; skipped").arg(lineNo).arg(bytes.error()));
            continue;
        }
        const std::vector<std::uint8_t>& b = bytes.value();
        if (b.empty())
            continue;
        ++reports;
        receiver.ReadPw60(b[0], b.data() + 1, static_cast<std::uint16_t>(b.size() - 1));
    }

    QJsonObject summary;
    summary.insert("reports", reports);
    summary.insert("frames", frames);
    summary.insert("idle", receiver.IdleReportCount());
    printJson(summary);
    return 0;
}

} // namespace kx::cli
