#include "common/cp936.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kx {

QString fromCp936(QByteArrayView bytes) {
    QStringDecoder dec("GBK");
    if (!dec.isValid())
        return QString::fromLatin1(bytes);
    return dec.decode(bytes);
}

std::string toCp936(const QString& text) {
    QStringEncoder enc("GBK");
    if (!enc.isValid())
        return text.toLatin1().toStdString();
    const QByteArray b = enc.encode(text);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

} // namespace kx
