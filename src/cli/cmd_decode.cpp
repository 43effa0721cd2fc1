#include "cli/command_line.h"
#include "cli/decode_json.h"
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/report_line.h"

#include <QFile>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace kx::cli {

int runDecode(const QStringList& args) {
    CommandLine line("decode");
    line.positional(QStringLiteral("FRAME"),
                    QStringLiteral("A meter frame: 44 hexadecimal characters ending 0D0A."), false,
                    true);
    if (const std::optional<int> done = line.parse(args))
        return *done;
    FrameDecoder decoder;
    for (const QString& frame : line.positional()) {
        const QByteArray text = frame.toLatin1();
        const DecodeResult r = decoder.ShowDataKx30(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        printJson(decodeJson(r, decoder));
    }
    return 0;
}

int runReplay(const QStringList& args) {
    CommandLine line("replay");
    line.positional(QStringLiteral("FILE"),
                    QStringLiteral("Cable input reports, one a line, or - for standard input."));
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString name = line.positional().front();
    QFile file;
    bool opened = false;
    if (name == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        printError(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
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

    printJson({{"reports", reports}, {"frames", frames}, {"idle", receiver.IdleReportCount()}});
    return 0;
}

} // namespace kx::cli
