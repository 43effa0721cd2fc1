#include "recording/field_text.h"

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

} // namespace

bool timeOfDayTextShowsMilliseconds() {
    return timeFormat().contains(QLatin1Char('z'));
}

std::string timeOfDayText(std::int32_t msOfDay) {
    const QString& format = timeFormat();
    const QTime t = QTime::fromMSecsSinceStartOfDay(msOfDay);
    if (!t.isValid())
        return {};
    return QLocale::system().toString(t, format).toStdString();
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
