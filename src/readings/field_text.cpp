#include "readings/field_text.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace kx {

namespace {

const QString& timeFormat() {
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        // Drop the time-zone part: the table holds a time of day only.
        f.remove(QLatin1Char('t'));
        return f.simplified();
    }();
    return format;
}

// How times of day are written: the two formats most systems use, in ASCII digits, are
// written directly (the locale's formatter costs far more than a record's other fields);
// any other goes through the locale.
enum class TimeStyle { Seconds, Milliseconds, Locale };

TimeStyle timeStyle() {
    static const TimeStyle style = [] {
        if (QLocale::system().zeroDigit() != QLatin1String("0"))
            return TimeStyle::Locale;
        if (timeFormat() == QLatin1String("HH:mm:ss"))
            return TimeStyle::Seconds;
        if (timeFormat() == QLatin1String("HH:mm:ss.zzz"))
            return TimeStyle::Milliseconds;
        return TimeStyle::Locale;
    }();
    return style;
}

} // namespace

bool timeOfDayTextShowsMilliseconds() {
    return timeFormat().contains(QLatin1Char('z'));
}

void appendTimeOfDay(std::string& out, std::int32_t msOfDay) {
    const int h = msOfDay / 3'600'000;
    const int m = msOfDay / 60'000 % 60;
    const int s = msOfDay / 1000 % 60;
    const int ms = msOfDay % 1000;
    const char text[12] = {
        static_cast<char>('0' + h / 10),
        static_cast<char>('0' + h % 10),
        ':',
        static_cast<char>('0' + m / 10),
        static_cast<char>('0' + m % 10),
        ':',
        static_cast<char>('0' + s / 10),
        static_cast<char>('0' + s % 10),
        '.',
        static_cast<char>('0' + ms / 100),
        static_cast<char>('0' + ms / 10 % 10),
        static_cast<char>('0' + ms % 10),
    };
    out.append(text, sizeof text);
}

std::string timeOfDayText(std::int32_t msOfDay) {
    if (msOfDay < 0 || msOfDay >= 86'400'000)
        return {}; // not a time of day
    std::string text;
    switch (timeStyle()) {
    case TimeStyle::Seconds:
        appendTimeOfDay(text, msOfDay);
        text.resize(8); // without ".zzz"
        return text;
    case TimeStyle::Milliseconds:
        appendTimeOfDay(text, msOfDay);
        return text;
    case TimeStyle::Locale:
        break;
    }
    static const QLocale locale = QLocale::system();
    return locale.toString(QTime::fromMSecsSinceStartOfDay(msOfDay), timeFormat()).toStdString();
}

std::string dateText(std::int64_t days) {
    // Dates run from 0001-01-01 (day 1) to 9999-12-31; anything else is damage.
    constexpr std::int64_t kLastDay = 3'652'059;
    if (days < 1 || days > kLastDay)
        return {};
    const QDate d = px::dateFromDays(static_cast<int>(days));
    if (!d.isValid())
        return {};
    return QLocale::system().toString(d, QLocale::ShortFormat).toStdString();
}

std::string timestampText(double ms) {
    if (!px::timestampInRange(ms))
        return {};
    qint64 days = 0;
    int rest = 0;
    px::splitTimestamp(ms, &days, &rest);
    if (days <= 0)
        return timeOfDayText(rest);
    const std::string date = dateText(days);
    return date.empty() ? std::string() : date + ' ' + timeOfDayText(rest);
}

std::string displayText(px::FieldType type, const px::Value& v) {
    using T = px::FieldType;
    if (v.isNull())
        return {};
    switch (type) {
    case T::Short:
    case T::Long:
    case T::AutoInc:
        return std::to_string(v.toInt());
    case T::Logical:
        return v.toBool() ? "True" : "False";
    case T::Time:
        return timeOfDayText(v.msecs());
    case T::Date:
        return dateText(v.days());
    case T::Number:
    case T::Currency:
        // Not-a-number and infinities come only from damaged files; they show blank.
        if (!std::isfinite(v.toNumber()))
            return {};
        return QString::number(v.toNumber(), type == T::Number ? 'g' : 'f',
                               type == T::Number ? 15 : 2)
            .toStdString();
    case T::Timestamp:
        return timestampText(v.timestampMsecs());
    case T::Bytes:
        return v.rawBytes().toHex().toUpper().toStdString();
    case T::Alpha:
    case T::Bcd:
        return v.rawBytes().toStdString();
    default:
        return {};
    }
}

} // namespace kx
