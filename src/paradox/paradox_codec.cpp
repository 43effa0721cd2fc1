#include "paradox/paradox_codec.h"

#include <QFile>

#include <bit>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcParadox, "kx.paradox")

namespace kx::px::codec {

namespace {

bool allZero(const unsigned char* p, int n) {
    for (int i = 0; i < n; ++i) {
        if (p[i])
            return false;
    }
    return true;
}

void putBig(unsigned char* p, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

std::uint64_t getBig(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

void putDouble(unsigned char* p, double d) {
    auto b = std::bit_cast<std::uint64_t>(d);
    if (b >> 63)
        b = ~b;
    else
        b ^= std::uint64_t{1} << 63;
    putBig(p, b, 8);
}

double getDouble(const unsigned char* p) {
    std::uint64_t b = getBig(p, 8);
    if (b >> 63)
        b ^= std::uint64_t{1} << 63;
    else
        b = ~b;
    return std::bit_cast<double>(b);
}

void putInt(unsigned char* p, std::int64_t v, int n) {
    const std::uint64_t signBit = std::uint64_t{1} << (n * 8 - 1);
    putBig(p, static_cast<std::uint64_t>(v) ^ signBit, n);
}

std::int64_t getInt(const unsigned char* p, int n) {
    const std::uint64_t signBit = std::uint64_t{1} << (n * 8 - 1);
    std::uint64_t u = getBig(p, n) ^ signBit;
    if (u & signBit)
        u |= ~((signBit << 1) - 1); // sign-extend
    return static_cast<std::int64_t>(u);
}

// BCD: byte 0 holds the sign (bit 7 set when positive), bit 6 and the count of decimals;
// 32 digit nibbles follow, complemented for negative values.
bool encodeBcd(const QByteArray& text, int decimals, unsigned char* out) {
    QByteArray s = text.trimmed();
    bool negative = false;
    if (s.startsWith('-') || s.startsWith('+')) {
        negative = s.startsWith('-');
        s.remove(0, 1);
    }
    const qsizetype dot = s.indexOf('.');
    QByteArray intPart = dot < 0 ? s : s.left(dot);
    QByteArray fracPart = dot < 0 ? QByteArray() : s.mid(dot + 1);
    if (intPart.isEmpty() && fracPart.isEmpty())
        return false;
    for (char c : intPart + fracPart) {
        if (c < '0' || c > '9')
            return false;
    }
    while (intPart.size() > 1 && intPart.startsWith('0'))
        intPart.remove(0, 1);
    if (intPart.size() > 32 - decimals)
        return false;
    fracPart = fracPart.left(decimals).leftJustified(decimals, '0');
    const QByteArray digits = intPart.rightJustified(32 - decimals, '0') + fracPart;
    if (negative && digits.count('0') == digits.size())
        negative = false;
    out[0] = static_cast<unsigned char>((negative ? 0x40 : 0xC0) | decimals);
    for (int i = 0; i < 16; ++i) {
        unsigned char b =
            static_cast<unsigned char>(((digits[2 * i] - '0') << 4) | (digits[2 * i + 1] - '0'));
        out[1 + i] = negative ? static_cast<unsigned char>(~b) : b;
    }
    return true;
}

Value decodeBcd(const unsigned char* in, int decimals) {
    const bool negative = !(in[0] & 0x80);
    if (decimals < 0 || decimals > 32)
        decimals = 0;
    QByteArray digits;
    digits.reserve(32);
    for (int i = 0; i < 32; ++i) {
        int n = (i % 2 == 0) ? in[1 + i / 2] >> 4 : in[1 + i / 2] & 0x0F;
        if (negative)
            n = 15 - n;
        digits.append(static_cast<char>(n <= 9 ? '0' + n : '?'));
    }
    QByteArray intPart = digits.left(32 - decimals);
    QByteArray fracPart = digits.mid(32 - decimals);
    if (intPart.contains('?'))
        return Value();
    // Engines leave noise past the precision they can hold; stop at the first non-digit.
    const qsizetype bad = fracPart.indexOf('?');
    if (bad >= 0)
        fracPart.truncate(bad);
    while (intPart.size() > 1 && intPart.startsWith('0'))
        intPart.remove(0, 1);
    if (intPart.isEmpty())
        intPart = "0";
    QByteArray text = intPart;
    if (!fracPart.isEmpty())
        text += '.' + fracPart;
    if (negative)
        text.prepend('-');
    return Value::decimal(text);
}

QString conversionError(const FieldDef& f, const Value& v) {
    return QStringLiteral("'%1' is not a valid %2 value for field %3")
        .arg(QString::fromLatin1(v.toText()), typeName(f.type), QString::fromLatin1(f.name));
}

} // namespace

std::optional<std::int64_t> headerRecordCount(const QString& path) {
    QFile f(path);
    unsigned char head[10];
    if (!f.open(QIODevice::ReadOnly) ||
        f.read(reinterpret_cast<char*>(head), sizeof head) != static_cast<qint64>(sizeof head))
        return std::nullopt;
    const std::int32_t count = static_cast<std::int32_t>(le32(head + 0x06));
    if (count < 0)
        return std::nullopt;
    return count;
}

int cutText(const char* s, int len, int width) {
    int i = 0;
    while (i < len) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = (c >= 0x81 && c <= 0xFE && i + 1 < len) ? 2 : 1;
        if (i + n > width)
            break;
        i += n;
    }
    return i;
}

bool encodeField(const FieldDef& f, const Value& v, unsigned char* out, QString* error) {
    const int size = storageSize(f);
    std::memset(out, 0, static_cast<std::size_t>(size));
    if (v.isNull())
        return true;
    const Value::Kind k = v.kind();
    // Texts are converted to the field's type; an empty text is a blank (NULL) field.
    const QByteArray text = (k == Value::Kind::Text) ? v.rawBytes() : QByteArray();
    if (k == Value::Kind::Text && f.type != FieldType::Alpha && text.trimmed().isEmpty())
        return true;
    auto bad = [&] {
        if (error)
            *error = conversionError(f, v);
        return false;
    };
    // Texts for typed fields go through the one parser, then are stored as typed values.
    const bool parsedType = f.type != FieldType::Alpha && f.type != FieldType::Bcd &&
                            f.type != FieldType::Bytes && !isBlobType(f.type);
    if (k == Value::Kind::Text && parsedType) {
        Result<Value> typed = parseValue(f.type, text);
        if (!typed)
            return bad();
        return encodeField(f, typed.value(), out, error);
    }

    switch (f.type) {
    case FieldType::Alpha: {
        const QByteArray t =
            (k == Value::Kind::Text || k == Value::Kind::Bytes) ? v.rawBytes() : v.toText();
        const int n = cutText(t.constData(), static_cast<int>(t.size()), size);
        std::memcpy(out, t.constData(), static_cast<std::size_t>(n));
        return true;
    }
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc: {
        qint64 i = 0;
        if (k == Value::Kind::Integer) {
            i = v.toInt();
        } else {
            return bad();
        }
        // The most negative value of each width is the blank pattern, so it cannot be stored.
        const qint64 limit = f.type == FieldType::Short ? 32767 : 2147483647;
        if (i < -limit || i > limit)
            return bad();
        putInt(out, i, size);
        return true;
    }
    case FieldType::Number:
    case FieldType::Currency: {
        double d = 0;
        if (k == Value::Kind::Number) {
            d = v.toNumber();
        } else if (k == Value::Kind::Integer) {
            d = static_cast<double>(v.toInt());
        } else {
            return bad();
        }
        // No number (NaN, an infinity read from a damaged file) shows blank everywhere, and is
        // stored so: one such value must not refuse a whole copy.
        if (!std::isfinite(d))
            return true;
        putDouble(out, d);
        return true;
    }
    case FieldType::Logical: {
        bool b = false;
        if (k == Value::Kind::Logical || k == Value::Kind::Integer)
            b = v.toInt() != 0;
        else
            return bad();
        out[0] = b ? 0x81 : 0x80;
        return true;
    }
    case FieldType::Date: {
        int days = 0;
        if (k == Value::Kind::Date)
            days = v.days();
        else if (k == Value::Kind::Timestamp)
            days = v.toDate().isValid() ? daysFromDate(v.toDate()) : 0;
        else
            return bad();
        if (days <= 0)
            return bad();
        putInt(out, days, 4);
        return true;
    }
    case FieldType::Time: {
        int ms = 0;
        if (k == Value::Kind::Time)
            ms = v.msecs();
        else
            return bad();
        if (ms < 0 || ms >= kMsPerDay)
            return bad();
        putInt(out, ms, 4);
        return true;
    }
    case FieldType::Timestamp: {
        double ms = 0;
        if (k == Value::Kind::Timestamp)
            ms = v.timestampMsecs();
        else if (k == Value::Kind::Date)
            ms = static_cast<double>(v.days()) * kMsPerDay;
        else
            return bad();
        if (!std::isfinite(ms))
            return true; // shown blank, stored blank
        if (ms <= 0)
            return bad();
        putDouble(out, ms);
        return true;
    }
    case FieldType::Bcd:
        if (!encodeBcd(v.toText(), f.size, out))
            return bad();
        return true;
    case FieldType::Bytes: {
        QByteArray raw;
        if (k == Value::Kind::Bytes) {
            raw = v.rawBytes();
        } else {
            raw = QByteArray::fromHex(v.toText());
            if (raw.isEmpty())
                return bad();
        }
        if (raw.size() > size)
            return bad();
        std::memcpy(out, raw.constData(), static_cast<std::size_t>(raw.size()));
        return true;
    }
    default:
        // Blob fields are never written with content: their blob file is not kept.
        return true;
    }
}

Value decodeField(const FieldDef& f, const unsigned char* in) {
    const int size = storageSize(f);
    if (isBlobType(f.type))
        return Value::text(QByteArray());
    if (allZero(in, size))
        return Value();
    switch (f.type) {
    case FieldType::Alpha: {
        const void* nul = std::memchr(in, 0, static_cast<std::size_t>(size));
        const int n = nul ? static_cast<int>(static_cast<const unsigned char*>(nul) - in) : size;
        return Value::text(QByteArray(reinterpret_cast<const char*>(in), n));
    }
    case FieldType::Short:
        return Value(static_cast<std::int32_t>(getInt(in, 2)));
    case FieldType::Long:
    case FieldType::AutoInc:
        return Value(static_cast<std::int32_t>(getInt(in, 4)));
    case FieldType::Number:
    case FieldType::Currency:
        return Value(getDouble(in));
    case FieldType::Logical:
        return Value((in[0] & 0x7F) != 0);
    case FieldType::Date:
        return Value::date(static_cast<int>(getInt(in, 4)));
    case FieldType::Time:
        return Value::timeOfDay(static_cast<int>(getInt(in, 4)));
    case FieldType::Timestamp:
        return Value::timestamp(getDouble(in));
    case FieldType::Bcd:
        return decodeBcd(in, f.size);
    case FieldType::Bytes:
        return Value::bytes(QByteArray(reinterpret_cast<const char*>(in), size));
    default:
        return Value();
    }
}

} // namespace kx::px::codec
