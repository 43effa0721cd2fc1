#include "display/decode_json.h"

#include <QJsonArray>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kx {

QString fromCp936(std::string_view bytes) {
    QStringDecoder dec("GBK");
    if (!dec.isValid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return dec.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string toCp936(const QString& text) {
    QStringEncoder enc("GBK");
    if (!enc.isValid())
        return text.toLatin1().toStdString();
    const QByteArray b = enc.encode(text);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QJsonObject decodeJson(const DecodeResult& result, const FrameDecoder& decoder) {
    const ReadingTexts& t = decoder.readingTexts();
    QJsonObject o;
    o.insert("accepted", result.accepted);
    o.insert("record", result.record);
    o.insert("value", fromCp936(t.ReadingValue));
    o.insert("unit", fromCp936(t.UnitText));
    o.insert("function", fromCp936(t.FunctionText));
    o.insert("mode", fromCp936(t.ModeText));
    if (!result.accepted)
        return o;

    const DisplayState& s = decoder.state();
    o.insert("strip", s.stripShown());
    QJsonArray lit;
    for (std::size_t i = 0; i < kElementCount; ++i) {
        if (s.isLit(static_cast<Element>(i))) {
            const std::string_view n = kElementNames[i];
            lit.append(QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size())));
        }
    }
    o.insert("lit", lit);
    QJsonObject digits;
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const DigitState& d = s.digit(static_cast<Digit>(i));
        QJsonObject dj;
        dj.insert("lit", d.lit);
        dj.insert("glyph", QString(QChar::fromLatin1(d.glyph)));
        const std::string_view n = kDigitNames[i];
        digits.insert(QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size())), dj);
    }
    o.insert("digits", digits);
    return o;
}

} // namespace kx
