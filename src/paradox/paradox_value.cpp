#include "paradox/paradox_value.h"

#include <QTime>

#include <cmath>

namespace kx::px {

namespace {
// Julian day of 0001-01-01, day 1 of the table format's calendar.
constexpr qint64 kJulianOfDayOne = 1721426;

struct TypeInfo {
    FieldType type;
    const char* name;
    int fixed;
};

constexpr TypeInfo kTypes[] = {
    {FieldType::Alpha, "Alpha", 0},       {FieldType::Date, "Date", 4},
    {FieldType::Short, "Short", 2},       {FieldType::Long, "Long", 4},
    {FieldType::Currency, "Currency", 8}, {FieldType::Number, "Number", 8},
    {FieldType::Logical, "Logical", 1},   {FieldType::Memo, "Memo", 0},
    {FieldType::Blob, "Blob", 0},         {FieldType::FormattedMemo, "FormattedMemo", 0},
    {FieldType::Ole, "OLE", 0},           {FieldType::Graphic, "Graphic", 0},
    {FieldType::Time, "Time", 4},         {FieldType::Timestamp, "Timestamp", 8},
    {FieldType::AutoInc, "AutoInc", 4},   {FieldType::Bcd, "BCD", 17},
    {FieldType::Bytes, "Bytes", 0},
};

const TypeInfo* findType(std::uint8_t code) {
    for (const TypeInfo& t : kTypes) {
        if (static_cast<std::uint8_t>(t.type) == code)
            return &t;
    }
    return nullptr;
}

QByteArray twoDigits(int v) {
    return QByteArray::number(v).rightJustified(2, '0');
}

QByteArray timeText(qint64 ms) {
    ms %= kMsPerDay;
    if (ms < 0)
        ms += kMsPerDay;
    const int s = static_cast<int>(ms / 1000);
    return twoDigits(s / 3600) + ':' + twoDigits(s / 60 % 60) + ':' + twoDigits(s % 60);
}

QByteArray dateText(const QDate& d) {
    if (!d.isValid())
        return {};
    return QByteArray::number(d.year()).rightJustified(4, '0') + '-' + twoDigits(d.month()) + '-' +
           twoDigits(d.day());
}
} // namespace

bool isKnownType(std::uint8_t code) {
    return findType(code) != nullptr;
}

bool isBlobType(FieldType t) {
    return t == FieldType::Memo || t == FieldType::Blob || t == FieldType::FormattedMemo ||
           t == FieldType::Ole || t == FieldType::Graphic;
}

int fixedSize(FieldType t) {
    const TypeInfo* i = findType(static_cast<std::uint8_t>(t));
    return i ? i->fixed : 0;
}

int storageSize(const FieldDef& f) {
    return f.type == FieldType::Bcd ? 17 : f.size;
}

QString typeName(FieldType t) {
    const TypeInfo* i = findType(static_cast<std::uint8_t>(t));
    return i ? QString::fromLatin1(i->name) : QStringLiteral("Unknown");
}

bool typeFromName(const QString& name, FieldType* out) {
    for (const TypeInfo& t : kTypes) {
        if (name.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0) {
            *out = t.type;
            return true;
        }
    }
    return false;
}

bool timestampInRange(double ms) {
    // Within a few million years of day 1: far beyond any real date, and well inside what a
    // 64-bit day count and QDate can hold.
    return std::isfinite(ms) && std::fabs(ms) < 1e17;
}

void splitTimestamp(double ms, qint64* days, int* msOfDay) {
    const double dayPart = std::floor(ms / kMsPerDay);
    *days = static_cast<qint64>(dayPart);
    qint64 rest = std::llround(ms - dayPart * kMsPerDay);
    if (rest >= kMsPerDay) { // rounding up to the next midnight
        ++*days;
        rest -= kMsPerDay;
    }
    *msOfDay = static_cast<int>(rest);
}

namespace {

bool parseTime(QByteArrayView t, int* ms) {
    const QString s = QString::fromLatin1(t.trimmed());
    for (const char* fmt : {"hh:mm:ss.zzz", "hh:mm:ss", "h:mm:ss", "hh:mm", "h:mm"}) {
        const QTime time = QTime::fromString(s, QLatin1String(fmt));
        if (time.isValid()) {
            *ms = time.msecsSinceStartOfDay();
            return true;
        }
    }
    return false;
}

bool parseDate(QByteArrayView t, int* days) {
    const QDate d = QDate::fromString(QString::fromLatin1(t.trimmed()), Qt::ISODate);
    if (!d.isValid() || d.year() < 1)
        return false;
    *days = daysFromDate(d);
    return true;
}

bool parseTimestamp(QByteArrayView t, double* ms) {
    const QByteArrayView s = t.trimmed();
    qsizetype sep = s.indexOf('T');
    if (sep < 0)
        sep = s.indexOf(' ');
    int days = 0;
    int time = 0;
    if (sep < 0) {
        if (!parseDate(s, &days))
            return false;
    } else if (!parseDate(s.first(sep), &days) || !parseTime(s.sliced(sep + 1), &time)) {
        return false;
    }
    *ms = static_cast<double>(days) * kMsPerDay + time;
    return true;
}

bool parseLogical(QByteArrayView t, bool* b) {
    const QByteArray s = t.trimmed().toByteArray().toLower();
    if (s == "true" || s == "t" || s == "yes" || s == "1") {
        *b = true;
        return true;
    }
    if (s == "false" || s == "f" || s == "no" || s == "0") {
        *b = false;
        return true;
    }
    return false;
}

} // namespace

Result<Value> parseValue(FieldType type, QByteArrayView text) {
    const QString shown = QString::fromLatin1(text);
    switch (type) {
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc: {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok, 10);
        // The most negative value of each width is the blank pattern, so it cannot be stored.
        const qlonglong limit = type == FieldType::Short ? 32767 : 2147483647;
        if (!ok || n < -limit || n > limit)
            return fail(QStringLiteral("'%1' is not a valid integer value").arg(shown));
        return Value(static_cast<std::int32_t>(n));
    }
    case FieldType::Number:
    case FieldType::Currency: {
        bool ok = false;
        const double d = text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return fail(QStringLiteral("'%1' is not a valid floating point value").arg(shown));
        return Value(d);
    }
    case FieldType::Logical: {
        bool b = false;
        if (!parseLogical(text, &b))
            return fail(QStringLiteral("'%1' is not a valid boolean value").arg(shown));
        return Value(b);
    }
    case FieldType::Time: {
        int ms = 0;
        if (!parseTime(text, &ms))
            return fail(QStringLiteral("'%1' is not a valid time").arg(shown));
        return Value::timeOfDay(ms);
    }
    case FieldType::Date: {
        int days = 0;
        if (!parseDate(text, &days))
            return fail(QStringLiteral("'%1' is not a valid date").arg(shown));
        return Value::date(days);
    }
    case FieldType::Timestamp: {
        double ms = 0;
        if (!parseTimestamp(text, &ms))
            return fail(QStringLiteral("'%1' is not a valid date and time").arg(shown));
        return Value::timestamp(ms);
    }
    default:
        return Value(text.toByteArray());
    }
}

QDate dateFromDays(int days) {
    return QDate::fromJulianDay(days - 1 + kJulianOfDayOne);
}

int daysFromDate(const QDate& d) {
    return static_cast<int>(d.toJulianDay() - kJulianOfDayOne + 1);
}

Value Value::timeOfDay(int msecsSinceMidnight) {
    Value v;
    v.kind_ = Kind::Time;
    v.int_ = msecsSinceMidnight;
    return v;
}

Value Value::date(int days) {
    Value v;
    v.kind_ = Kind::Date;
    v.int_ = days;
    return v;
}

Value Value::date(const QDate& d) {
    return d.isValid() ? date(daysFromDate(d)) : Value();
}

Value Value::timestamp(double msecs) {
    Value v;
    v.kind_ = Kind::Timestamp;
    v.num_ = msecs;
    return v;
}

Value Value::timestamp(const QDate& d, int msecsSinceMidnight) {
    if (!d.isValid())
        return Value();
    return timestamp(static_cast<double>(daysFromDate(d)) * kMsPerDay + msecsSinceMidnight);
}

Value Value::bytes(const QByteArray& raw) {
    Value v;
    v.kind_ = Kind::Bytes;
    v.bytes_ = raw;
    return v;
}

Value Value::decimal(const QByteArray& digits) {
    Value v;
    v.kind_ = Kind::Decimal;
    v.bytes_ = digits;
    return v;
}

QDate Value::toDate() const {
    if (kind_ == Kind::Date)
        return dateFromDays(static_cast<int>(int_));
    if (kind_ == Kind::Timestamp && timestampInRange(num_)) {
        qint64 days = 0;
        int ms = 0;
        splitTimestamp(num_, &days, &ms);
        return dateFromDays(static_cast<int>(days));
    }
    return {};
}

QByteArray Value::toText() const {
    switch (kind_) {
    case Kind::Null:
        return {};
    case Kind::Text:
    case Kind::Decimal:
        return bytes_;
    case Kind::Integer:
        return QByteArray::number(static_cast<qlonglong>(int_));
    case Kind::Number:
        return QByteArray::number(num_, 'g', 15);
    case Kind::Logical:
        return int_ ? QByteArray("True") : QByteArray("False");
    case Kind::Date:
        return dateText(toDate());
    case Kind::Time:
        return timeText(int_);
    case Kind::Timestamp: {
        if (!timestampInRange(num_))
            return {};
        qint64 days = 0;
        int ms = 0;
        splitTimestamp(num_, &days, &ms);
        return dateText(dateFromDays(static_cast<int>(days))) + ' ' + timeText(ms);
    }
    case Kind::Bytes: {
        qsizetype n = bytes_.size();
        while (n > 0 && bytes_.at(n - 1) == 0)
            --n;
        return bytes_.left(n).toHex().toUpper();
    }
    }
    return {};
}

bool Value::operator==(const Value& o) const {
    if (kind_ != o.kind_)
        return false;
    switch (kind_) {
    case Kind::Null:
        return true;
    case Kind::Text:
    case Kind::Bytes:
    case Kind::Decimal:
        return bytes_ == o.bytes_;
    case Kind::Number:
    case Kind::Timestamp:
        return num_ == o.num_;
    default:
        return int_ == o.int_;
    }
}

} // namespace kx::px
