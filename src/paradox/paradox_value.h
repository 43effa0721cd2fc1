#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <cstdint>
#include <vector>

namespace kx::px {

// Field type codes as stored in a table file's field descriptors.
enum class FieldType : std::uint8_t {
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Memo = 0x0C,
    Blob = 0x0D,
    FormattedMemo = 0x0E,
    Ole = 0x0F,
    Graphic = 0x10,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
    Bytes = 0x18,
};

// One field of a table: name (code page 936 bytes), type and size. For Alpha and Bytes the
// size is the width in bytes; for BCD it is the number of decimals (the field takes 17 bytes);
// for the fixed types it is their storage size.
struct FieldDef {
    QByteArray name;
    FieldType type = FieldType::Alpha;
    int size = 0;

    bool operator==(const FieldDef&) const = default;
};

bool isKnownType(std::uint8_t code);
bool isBlobType(FieldType t);
// Bytes a field takes in a record.
int storageSize(const FieldDef& f);
// The size a descriptor of this type must carry, or 0 when the type has a variable size.
int fixedSize(FieldType t);
// Short name of the type ("Alpha", "Long", ...), used by the command line.
QString typeName(FieldType t);
bool typeFromName(const QString& name, FieldType* out);

// A field value: NULL or one of the kinds below. Text is code page 936 bytes as given.
// Dates are days where 1 is 0001-01-01; times are milliseconds since midnight; timestamps are
// milliseconds since the start of day 1 (0001-01-01 00:00); BCD values are kept as their
// decimal text.
class Value {
public:
    enum class Kind : std::uint8_t {
        Null,
        Text,
        Integer,
        Number,
        Logical,
        Date,
        Time,
        Timestamp,
        Bytes,
        Decimal
    };

    Value() = default;
    Value(const QByteArray& cp936Text) : kind_(Kind::Text), bytes_(cp936Text) {}
    Value(const char* cp936Text) : kind_(Kind::Text), bytes_(cp936Text) {}
    Value(std::int32_t v) : kind_(Kind::Integer), int_(v) {}
    Value(double v) : kind_(Kind::Number), num_(v) {}
    Value(bool v) : kind_(Kind::Logical), int_(v ? 1 : 0) {}

    static Value null() { return Value(); }
    static Value text(const QByteArray& cp936Text) { return Value(cp936Text); }
    static Value timeOfDay(int msecsSinceMidnight);
    static Value date(int days);
    static Value date(const QDate& d);
    static Value timestamp(double msecs);
    static Value timestamp(const QDate& d, int msecsSinceMidnight);
    static Value bytes(const QByteArray& raw);
    static Value decimal(const QByteArray& digits);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }

    // Display form in code page 936: Alpha as stored, numbers in C locale, Date yyyy-mm-dd,
    // Time hh:mm:ss, Timestamp "yyyy-mm-dd hh:mm:ss", Logical True/False, Bytes in hex.
    // NULL gives an empty text.
    QByteArray toText() const;

    std::int64_t toInt() const { return int_; }
    double toNumber() const { return num_; }
    bool toBool() const { return int_ != 0; }
    int msecs() const { return static_cast<int>(int_); }
    int days() const { return static_cast<int>(int_); }
    double timestampMsecs() const { return num_; }
    QDate toDate() const;
    const QByteArray& rawBytes() const { return bytes_; }

    bool operator==(const Value& o) const;

private:
    Kind kind_ = Kind::Null;
    std::int64_t int_ = 0;
    double num_ = 0;
    QByteArray bytes_;
};

using Record = std::vector<Value>;

// The table format's calendar, in one place for the engine and the tables built on it.
// Dates count days where 1 is 0001-01-01; times of day are milliseconds since midnight;
// timestamps are milliseconds since the start of day 1.
inline constexpr qint64 kMsPerDay = 86'400'000;
QDate dateFromDays(int days);
int daysFromDate(const QDate& d);
// Whether a stored timestamp can be taken apart into a date and a time. Damaged files can
// hold any bit pattern (NaN, infinities, 1e300); those read as blank, never as a date.
bool timestampInRange(double ms);
// Splits an in-range timestamp into its day number and the milliseconds of that day.
void splitTimestamp(double ms, qint64* days, int* msOfDay);

// Text to value, the one parser of typed texts: what a caller appends as text and what the
// writer is given as text both go through here. Accepted forms: integers in decimal;
// numbers in the C locale; True/False (also T/F, Yes/No, 1/0, any case); times hh:mm:ss.zzz,
// hh:mm:ss, hh:mm (one-digit hours too); dates yyyy-mm-dd; timestamps a date, a blank or a
// "T", and a time. Whole-field texts (Alpha, BCD, Bytes, blobs) are not parsed here.
// Fails with the message the user sees ("'x' is not a valid integer value", ...).
Result<Value> parseValue(FieldType type, QByteArrayView text);

} // namespace kx::px
