#include "common/cp936.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kx {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
// What the system's converter makes of the byte FF, which no code page 936 text holds.
constexpr char16_t kFfByte = 0xF8F5;

bool isLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

bool isTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Whether the text ends in the first byte of a pair without its second: the converter keeps
// such a byte back for a continuation that never comes.
bool endsInLoneLeadByte(QByteArrayView bytes) {
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (!isLeadByte(b)) {
            ++i;
            continue;
        }
        if (i + 1 == n)
            return true;
        // A byte that cannot follow a lead byte is read again on its own.
        i += isTrailByte(static_cast<unsigned char>(bytes[i + 1])) ? 2 : 1;
    }
    return false;
}

// Making a decoder opens a system converter, which costs far more than decoding one field:
// each thread keeps one and starts it afresh for every text.
QStringDecoder& gbkDecoder() {
    thread_local QStringDecoder dec("GBK", QStringConverter::Flag::Stateless);
    dec.resetState();
    return dec;
}

} // namespace

QString fromCp936(QByteArrayView bytes) {
    QStringDecoder& dec = gbkDecoder();
    if (!dec.isValid())
        return QString::fromLatin1(bytes);
    QString text = dec.decode(bytes);
    text.replace(QChar(kFfByte), QChar(kReplacement));
    if (endsInLoneLeadByte(bytes))
        text += QChar(kReplacement);
    return text;
}

std::string toCp936(const QString& text) {
    QStringEncoder enc("GBK");
    if (!enc.isValid())
        return text.toLatin1().toStdString();
    const QByteArray b = enc.encode(text);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

} // namespace kx
