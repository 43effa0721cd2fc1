#include "cli/decode_json.h"
#include "common/cp936.h"

#include <QJsonArray>

namespace kx {

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
