#include "link/report_line.h"

#include <QString>

namespace kx {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A token as the user wrote it, for the message; cut so that a huge line gives a short one.
QString shown(QByteArrayView token) {
    constexpr qsizetype kShown = 40;
    QString s = QString::fromLatin1(token.first(std::min(token.size(), kShown)));
    if (token.size() > kShown)
        s += QStringLiteral("...");
    return s;
}

} // namespace

bool isReportLineSkipped(QByteArrayView line) {
    const QByteArrayView t = line.trimmed();
    return t.isEmpty() || t.front() == '#';
}

Result<std::vector<std::uint8_t>> parseReportLine(QByteArrayView line) {
    std::vector<std::uint8_t> bytes;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && !isBlank(line[end]))
            ++end;
        const QByteArrayView token = line.sliced(i, end - i);
        i = end;
        if (token.size() % 2 != 0)
            return fail(QStringLiteral("odd number of hex digits in \"%1\"").arg(shown(token)));
        for (qsizetype k = 0; k < token.size(); k += 2) {
            const int hi = hexDigit(token[k]);
            const int lo = hexDigit(token[k + 1]);
            if (hi < 0 || lo < 0)
                return fail(QStringLiteral("not a hex byte in \"%1\"").arg(shown(token)));
            if (bytes.size() == kMaxReportLineBytes)
                return fail(QStringLiteral("more than %1 bytes").arg(kMaxReportLineBytes));
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
    }
    return bytes;
}

} // namespace kx
