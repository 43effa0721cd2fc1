// Input: a report file as `kxlink-cli replay` reads it, one report a line.
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/report_line.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kx::FrameDecoder decoder;
    kx::FrameReceiver receiver;
    receiver.setFrameHandler([&](std::string_view hex) { decoder.ShowDataKx30(hex); });
    const QByteArrayView all(data, static_cast<qsizetype>(size));
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(start, end - start);
        start = end + 1;
        if (kx::isReportLineSkipped(line))
            continue;
        const kx::Result<std::vector<std::uint8_t>> bytes = kx::parseReportLine(line);
        if (!bytes) {
            if (bytes.error().isEmpty())
                __builtin_trap();
            continue;
        }
        const std::vector<std::uint8_t>& b = bytes.value();
        if (b.size() > kx::kMaxReportLineBytes)
            __builtin_trap();
        if (!b.empty())
            receiver.ReadPw60(b[0], b.data() + 1, static_cast<std::uint16_t>(b.size() - 1));
    }
    return 0;
}
