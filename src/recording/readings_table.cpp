#include "recording/readings_table.h"

#include "app/app_dir.h"
#include "display/decode_json.h"
#include "recording/paradox_lock.h"
#include "recording/paradox_schema.h"
#include "recording/table_file_io.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QTime>

#include <cmath>
#include <limits>

namespace kx {
namespace {

bool isIntKind(FieldKind k) {
    switch (k) {
    case FieldKind::Short:
    case FieldKind::Long:
    case FieldKind::AutoInc:
    case FieldKind::Logical:
    case FieldKind::Date:
    case FieldKind::Time:
        return true;
    default:
        return false;
    }
}

bool isFloatKind(FieldKind k) {
    return k == FieldKind::Number || k == FieldKind::Currency || k == FieldKind::Timestamp;
}

// Cuts code page 936 text to at most n bytes without splitting a two-byte character.
std::string_view cutText(std::string_view s, std::size_t n) {
    if (s.size() <= n)
        return s;
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) ? 2 : 1;
        if (i + len > n)
            break;
        i += len;
    }
    return s.substr(0, i);
}

QString fieldLabel(std::string_view name) {
    return fromCp936(name);
}

// Paradox dates count days from 1 January of year 1.
constexpr qint64 kJulianDayOfDay1 = 1721426; // QDate(1, 1, 1).toJulianDay()

} // namespace

std::string timeOfDayText(std::int32_t msOfDay) {
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        // Drop the time-zone part: the table holds a time of day only.
        f.remove(QLatin1Char('t'));
        return f.simplified();
    }();
    const QTime t = QTime::fromMSecsSinceStartOfDay(msOfDay);
    return QLocale::system().toString(t, format).toStdString();
}

ReadingsTable::ReadingsTable(QObject* parent) : QObject(parent) {}
ReadingsTable::~ReadingsTable() = default;

void ReadingsTable::setTableName(const QString& nameOrPath) {
    tableName_ = nameOrPath;
    scratch_ = false;
}

QString ReadingsTable::filePath() const {
    if (tableName_.contains(QLatin1Char('/')))
        return tableName_;
    QString name = tableName_;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".DB");
    return resolveInAppDir(name);
}

bool ReadingsTable::checkOpen(QString* error) const {
    if (open_)
        return true;
    if (error)
        *error = closedMessage();
    return false;
}

int ReadingsTable::fieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

int ReadingsTable::findField(std::string_view name, QString* error) const {
    const int i = fieldIndex(name);
    if (i < 0 && error)
        *error = QStringLiteral("Field '%1' not found").arg(fieldLabel(name));
    return i;
}

void ReadingsTable::reset(std::vector<TableField> fields) {
    Q_EMIT aboutToReset();
    fields_ = std::move(fields);
    columns_.clear();
    for (const TableField& f : fields_)
        columns_.push_back(Column{f.kind, {}, {}, {}, {}});
    pool_.clear();
    rows_ = 0;
    cursor_ = 0;
    appending_ = false;
    draft_.assign(fields_.size(), PendingValue{});
    Q_EMIT didReset();
}

void ReadingsTable::clearRecords() {
    Q_EMIT aboutToReset();
    for (Column& c : columns_) {
        c.i32 = {};
        c.f64 = {};
        c.text = {};
        c.nulls = {};
    }
    pool_.clear();
    rows_ = 0;
    cursor_ = 0;
    appending_ = false;
    Q_EMIT didReset();
}

void ReadingsTable::openScratch(std::vector<TableField> fields) {
    close();
    reset(std::move(fields));
    scratch_ = true;
    open_ = true;
}

std::vector<TableField> readingsFields(bool store) {
    std::vector<TableField> out;
    for (const px::FieldDef& f : store ? px::storeFields() : px::readingsFields())
        out.push_back(tableFieldFrom(f));
    return out;
}

void ReadingsTable::close() {
    if (!open_)
        return;
    open_ = false;
    lock_.reset();
    clearRecords();
}

bool ReadingsTable::emptyTable(QString* error) {
    if (scratch_ && !open_)
        return true;
    if (open_) {
        if (error)
            *error = QStringLiteral("Table is busy: %1").arg(filePath());
        return false;
    }
    return emptyTableFile(filePath(), error);
}

void ReadingsTable::append() {
    appending_ = true;
    for (PendingValue& v : draft_) {
        v.set = false; // keeps the text buffers for the next record
        v.i = 0;
        v.d = 0;
        v.text.clear();
    }
}

void ReadingsTable::cancel() {
    appending_ = false;
}

bool ReadingsTable::setFieldText(std::string_view field, std::string_view text, QString* error) {
    const int i = settableField(field, error);
    if (i < 0)
        return false;
    const TableField& f = fields_[static_cast<std::size_t>(i)];
    PendingValue& v = draft_[static_cast<std::size_t>(i)];
    if (text.empty()) {
        v = PendingValue{}; // an empty text is a NULL value
        return true;
    }
    switch (f.kind) {
    case FieldKind::Alpha:
    case FieldKind::Bcd:
    case FieldKind::Bytes:
    case FieldKind::Blob:
        v.text.assign(f.size > 0 ? cutText(text, static_cast<std::size_t>(f.size)) : text);
        v.set = true;
        return true;
    default:
        break;
    }
    // Other kinds convert from the text; such texts are plain ASCII numbers and dates.
    const QString qtext = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    bool ok = true;
    switch (f.kind) {
    case FieldKind::Alpha:
    case FieldKind::Bcd:
    case FieldKind::Bytes:
    case FieldKind::Blob:
        break;
    case FieldKind::Short:
    case FieldKind::Long:
    case FieldKind::AutoInc: {
        const int n = qtext.toInt(&ok, 10);
        if (ok && f.kind == FieldKind::Short && (n < -32767 || n > 32767))
            ok = false;
        if (!ok) {
            *error = QStringLiteral("'%1' is not a valid integer value").arg(qtext);
            return false;
        }
        v.i = n;
        break;
    }
    case FieldKind::Number:
    case FieldKind::Currency: {
        const double d = qtext.toDouble(&ok);
        if (!ok || !std::isfinite(d)) {
            *error = QStringLiteral("'%1' is not a valid floating point value").arg(qtext);
            return false;
        }
        v.d = d;
        break;
    }
    case FieldKind::Logical:
        if (qtext.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            v.i = 1;
        else if (qtext.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            v.i = 0;
        else {
            *error = QStringLiteral("'%1' is not a valid boolean value").arg(qtext);
            return false;
        }
        break;
    case FieldKind::Time: {
        const QTime t = QTime::fromString(qtext, Qt::ISODateWithMs).isValid()
                            ? QTime::fromString(qtext, Qt::ISODateWithMs)
                            : QTime::fromString(qtext, Qt::ISODate);
        if (!t.isValid()) {
            *error = QStringLiteral("'%1' is not a valid time").arg(qtext);
            return false;
        }
        v.i = t.msecsSinceStartOfDay();
        break;
    }
    case FieldKind::Date: {
        const QDate d = QDate::fromString(qtext, Qt::ISODate);
        if (!d.isValid()) {
            *error = QStringLiteral("'%1' is not a valid date").arg(qtext);
            return false;
        }
        v.i = d.toJulianDay() - kJulianDayOfDay1 + 1;
        break;
    }
    case FieldKind::Timestamp: {
        const QDateTime dt = QDateTime::fromString(qtext, Qt::ISODateWithMs);
        if (!dt.isValid()) {
            *error = QStringLiteral("'%1' is not a valid date and time").arg(qtext);
            return false;
        }
        const qint64 days = dt.date().toJulianDay() - kJulianDayOfDay1 + 1;
        v.d = static_cast<double>(days) * 86400000.0 + dt.time().msecsSinceStartOfDay();
        break;
    }
    }
    v.set = true;
    return true;
}

int ReadingsTable::settableField(std::string_view field, QString* error) const {
    if (!checkOpen(error))
        return -1;
    return findField(field, error);
}

bool ReadingsTable::setFieldInt(std::string_view field, std::int32_t value, QString* error) {
    const int i = settableField(field, error);
    if (i < 0)
        return false;
    const TableField& f = fields_[static_cast<std::size_t>(i)];
    if (f.kind == FieldKind::Alpha || f.kind == FieldKind::Bcd)
        return setFieldText(field, std::to_string(value), error);
    PendingValue& v = draft_[static_cast<std::size_t>(i)];
    if (f.kind == FieldKind::Short && (value < -32767 || value > 32767)) {
        *error = QStringLiteral("'%1' is not a valid integer value").arg(value);
        return false;
    }
    if (isIntKind(f.kind) && f.kind != FieldKind::Time && f.kind != FieldKind::Date)
        v.i = value;
    else if (f.kind == FieldKind::Number || f.kind == FieldKind::Currency)
        v.d = value;
    else {
        *error = QStringLiteral("Type mismatch for field '%1'").arg(fieldLabel(field));
        return false;
    }
    v.set = true;
    return true;
}

bool ReadingsTable::setFieldTime(std::string_view field, std::int32_t msOfDay, QString* error) {
    const int i = settableField(field, error);
    if (i < 0)
        return false;
    const TableField& f = fields_[static_cast<std::size_t>(i)];
    if (f.kind == FieldKind::Alpha)
        return setFieldText(field, timeOfDayText(msOfDay), error);
    PendingValue& v = draft_[static_cast<std::size_t>(i)];
    if (f.kind == FieldKind::Time)
        v.i = msOfDay;
    else if (f.kind == FieldKind::Timestamp)
        v.d = msOfDay; // a time without a date
    else {
        *error = QStringLiteral("Type mismatch for field '%1'").arg(fieldLabel(field));
        return false;
    }
    v.set = true;
    return true;
}

void ReadingsTable::pushRow() {
    const std::size_t word = rows_ / 64;
    const std::uint64_t bit = std::uint64_t{1} << (rows_ % 64);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        Column& col = columns_[c];
        const PendingValue& v = draft_[c];
        if (col.nulls.size() <= word)
            col.nulls.push_back(0);
        if (!v.set)
            col.nulls[word] |= bit;
        if (isIntKind(col.kind))
            col.i32.push_back(static_cast<std::int32_t>(v.i));
        else if (isFloatKind(col.kind))
            col.f64.push_back(v.d);
        else
            col.text.push_back(v.set ? pool_.intern(v.text) : 0);
    }
    ++rows_;
}

bool ReadingsTable::post(QString* error) {
    if (!checkOpen(error))
        return false;
    if (!appending_) {
        if (error)
            *error = QStringLiteral("Dataset not in edit or insert mode");
        return false;
    }
    appending_ = false;
    Q_EMIT rowAboutToBeAppended(static_cast<qint64>(rows_));
    pushRow();
    Q_EMIT rowAppended(static_cast<qint64>(rows_) - 1);
    return true;
}

void ReadingsTable::holdLock(std::unique_ptr<px::TableLock> lock) {
    lock_ = std::move(lock);
}

void ReadingsTable::setLoadedInt(int field, std::int64_t v) {
    PendingValue& p = draft_[static_cast<std::size_t>(field)];
    p.i = v;
    p.set = true;
}

void ReadingsTable::setLoadedDouble(int field, double v) {
    PendingValue& p = draft_[static_cast<std::size_t>(field)];
    p.d = v;
    p.set = true;
}

void ReadingsTable::setLoadedText(int field, std::string_view v) {
    PendingValue& p = draft_[static_cast<std::size_t>(field)];
    p.text.assign(v);
    p.set = true;
}

void ReadingsTable::appendLoaded() {
    pushRow();
    for (PendingValue& v : draft_) {
        v.set = false;
        v.text.clear();
    }
}

std::optional<qint64> ReadingsTable::recordCount(QString* error) const {
    if (!checkOpen(error))
        return std::nullopt;
    return static_cast<qint64>(rows_);
}

bool ReadingsTable::isNull(qint64 row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    const auto r = static_cast<std::size_t>(row);
    return (c.nulls[r / 64] >> (r % 64)) & 1;
}

std::int64_t ReadingsTable::intValue(qint64 row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (isIntKind(c.kind))
        return c.i32[static_cast<std::size_t>(row)];
    if (isFloatKind(c.kind))
        return static_cast<std::int64_t>(c.f64[static_cast<std::size_t>(row)]);
    return 0;
}

double ReadingsTable::doubleValue(qint64 row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (isFloatKind(c.kind))
        return c.f64[static_cast<std::size_t>(row)];
    if (isIntKind(c.kind))
        return c.i32[static_cast<std::size_t>(row)];
    return 0;
}

std::string_view ReadingsTable::textValue(qint64 row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (c.text.empty())
        return {};
    return pool_.at(c.text[static_cast<std::size_t>(row)]);
}

std::string ReadingsTable::fieldText(qint64 row, std::string_view field) const {
    const int i = fieldIndex(field);
    return i < 0 ? std::string() : fieldText(row, i);
}

std::string ReadingsTable::fieldText(qint64 row, int field) const {
    if (row < 0 || row >= static_cast<qint64>(rows_) || field < 0 ||
        field >= static_cast<int>(columns_.size()) || isNull(row, field))
        return {};
    const Column& c = columns_[static_cast<std::size_t>(field)];
    const auto r = static_cast<std::size_t>(row);
    switch (c.kind) {
    case FieldKind::Short:
    case FieldKind::Long:
    case FieldKind::AutoInc:
        return std::to_string(c.i32[r]);
    case FieldKind::Logical:
        return c.i32[r] ? "True" : "False";
    case FieldKind::Time:
        return timeOfDayText(c.i32[r]);
    case FieldKind::Date:
        return QLocale::system()
            .toString(QDate::fromJulianDay(c.i32[r] + kJulianDayOfDay1 - 1), QLocale::ShortFormat)
            .toStdString();
    case FieldKind::Number:
        return QString::number(c.f64[r], 'g', 15).toStdString();
    case FieldKind::Currency:
        return QString::number(c.f64[r], 'f', 2).toStdString();
    case FieldKind::Timestamp: {
        const double ms = c.f64[r];
        const qint64 days = static_cast<qint64>(std::floor(ms / 86400000.0));
        const auto rest = static_cast<int>(ms - static_cast<double>(days) * 86400000.0);
        if (days <= 0)
            return timeOfDayText(rest);
        const QDate d = QDate::fromJulianDay(days + kJulianDayOfDay1 - 1);
        return (QLocale::system().toString(d, QLocale::ShortFormat) + QLatin1Char(' '))
                   .toStdString() +
               timeOfDayText(rest);
    }
    case FieldKind::Bytes:
        return QByteArray::fromStdString(std::string(pool_.at(c.text[r])))
            .toHex()
            .toUpper()
            .toStdString();
    case FieldKind::Alpha:
    case FieldKind::Bcd:
    case FieldKind::Blob:
        return std::string(pool_.at(c.text[r]));
    }
    return {};
}

bool ReadingsTable::first(QString* error) {
    if (!checkOpen(error))
        return false;
    cursor_ = 0;
    return true;
}

bool ReadingsTable::deleteRecord(qint64 row, QString* error) {
    if (!checkOpen(error))
        return false;
    if (row < 0 || row >= static_cast<qint64>(rows_)) {
        if (error)
            *error = QStringLiteral("No current record");
        return false;
    }
    Q_EMIT rowAboutToBeRemoved(row);
    const auto r = static_cast<std::size_t>(row);
    for (Column& c : columns_) {
        if (!c.i32.empty())
            c.i32.erase(c.i32.begin() + static_cast<std::ptrdiff_t>(r));
        if (!c.f64.empty())
            c.f64.erase(c.f64.begin() + static_cast<std::ptrdiff_t>(r));
        if (!c.text.empty())
            c.text.erase(c.text.begin() + static_cast<std::ptrdiff_t>(r));
        // Shift the null bits above the deleted row down by one.
        for (std::size_t i = r; i + 1 < rows_; ++i) {
            const bool next = (c.nulls[(i + 1) / 64] >> ((i + 1) % 64)) & 1;
            if (next)
                c.nulls[i / 64] |= std::uint64_t{1} << (i % 64);
            else
                c.nulls[i / 64] &= ~(std::uint64_t{1} << (i % 64));
        }
    }
    --rows_;
    if (cursor_ > row)
        --cursor_;
    Q_EMIT rowRemoved(row);
    return true;
}

std::size_t ReadingsTable::memoryUsage() const {
    std::size_t bytes = pool_.memoryUsage();
    for (const Column& c : columns_) {
        bytes += c.i32.capacity() * sizeof(std::int32_t) + c.f64.capacity() * sizeof(double) +
                 c.text.capacity() * sizeof(std::uint32_t) +
                 c.nulls.capacity() * sizeof(std::uint64_t);
    }
    return bytes;
}

} // namespace kx

namespace kx {
bool ReadingsTable::open(QString* error) {
    if (open_)
        return true;
    if (scratch_) {
        clearRecords();
        open_ = true;
        return true;
    }
    if (!loadTableFile(filePath(), *this, error))
        return false;
    open_ = true;
    return true;
}
} // namespace kx
