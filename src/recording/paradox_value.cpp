#include "recording/paradox_value.h"

#include <QTime>

#include <cmath>

namespace kx::px {

namespace {
// Julian day of 0001-01-01, day 1 of the table format's calendar.
constexpr qint64 kJulianOfDayOne = 1721426;
constexpr qint64 kMsPerDay = 86400000;

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

// Damaged files can hold any bit pattern; only timestamps within a few million years convert.
bool timestampInRange(double ms) {
    return std::isfinite(ms) && std::fabs(ms) < 1e17;
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
    if (kind_ == Kind::Timestamp && timestampInRange(num_))
        return dateFromDays(static_cast<int>(std::floor(num_ / kMsPerDay)));
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
        const double dayPart = std::floor(num_ / kMsPerDay);
        const auto ms = static_cast<qint64>(std::llround(num_ - dayPart * kMsPerDay));
        return dateText(dateFromDays(static_cast<int>(dayPart))) + ' ' + timeText(ms);
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
