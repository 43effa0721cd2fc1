#include "readings/readings_table.h"

#include "common/app_dir.h"
#include "common/cp936.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/field_text.h"

#include <QByteArray>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace kx {
namespace {

QString typeMismatch(std::string_view field) {
    return QStringLiteral("Type mismatch for field '%1'").arg(fromCp936(field));
}

} // namespace

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

Status ReadingsTable::checkOpen() const {
    if (open_)
        return {};
    return fail(closedMessage());
}

int ReadingsTable::fieldIndex(std::string_view name) const {
    const std::vector<px::FieldDef>& f = store_.fields();
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (QByteArrayView(f[i].name) == QByteArrayView(name.data(), qsizetype(name.size())))
            return static_cast<int>(i);
    }
    return -1;
}

void ReadingsTable::reset(std::vector<px::FieldDef> fields) {
    Q_EMIT aboutToReset();
    store_.reset(std::move(fields));
    cursor_ = 0;
    appending_ = false;
    draft_.assign(store_.fields().size(), RecordStore::Cell{});
    Q_EMIT didReset();
}

void ReadingsTable::clearRecords() {
    Q_EMIT aboutToReset();
    store_.clear();
    cursor_ = 0;
    appending_ = false;
    Q_EMIT didReset();
}

Status ReadingsTable::open() {
    if (open_)
        return {};
    if (scratch_) {
        clearRecords();
        open_ = true;
        return {};
    }
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(filePath());
    if (!lock)
        return lock.status();
    const Status s = load(filePath(), lock.take());
    if (s)
        open_ = true;
    return s;
}

Status ReadingsTable::openUnheld() {
    if (open_)
        return {};
    const Status s = load(filePath(), nullptr);
    if (s)
        open_ = true;
    return s;
}

Status ReadingsTable::openCopy(const QString& path) {
    close();
    if (Status s = load(path, nullptr); !s)
        return s;
    scratch_ = true;
    open_ = true;
    return {};
}

Status ReadingsTable::load(const QString& path, std::unique_ptr<px::TableLock> lock) {
    // Read once: a damaged record fails the walk, and what was loaded is dropped.
    Result<px::TableReader> reader =
        px::TableReader::open(path, px::IndexCheck::Verify, px::RecordCheck::DuringWalk);
    if (!reader)
        return reader.status();
    reset(reader.value().info().fields);
    const Status s = reader.value().forEachRaw([&](const unsigned char* stored) {
        store_.appendStored(stored);
        return true;
    });
    if (!s) {
        reset({});
        return s;
    }
    holdLock(std::move(lock));
    return {};
}

void ReadingsTable::openScratch(std::vector<px::FieldDef> fields) {
    close();
    reset(std::move(fields));
    scratch_ = true;
    open_ = true;
}

void ReadingsTable::close() {
    if (!open_)
        return;
    open_ = false;
    lock_.reset();
    clearRecords();
}

void ReadingsTable::takeOver(ReadingsTable& other) {
    close();
    Q_EMIT aboutToReset();
    Q_EMIT other.aboutToReset();
    std::swap(store_, other.store_); // `other` gets this table's records: none, it is closed
    tableName_ = other.tableName_;
    scratch_ = other.scratch_;
    open_ = other.open_;
    lock_ = std::move(other.lock_);
    other.open_ = false;
    other.scratch_ = false;
    for (ReadingsTable* t : {this, &other}) {
        t->cursor_ = 0;
        t->appending_ = false;
        t->draft_.assign(t->store_.fields().size(), RecordStore::Cell{});
    }
    Q_EMIT other.didReset();
    Q_EMIT didReset();
}

void ReadingsTable::last() {
    cursor_ = std::max<qint64>(0, rowCount() - 1);
    if (rowCount() > 0)
        Q_EMIT currentMoved(cursor_);
}

Status ReadingsTable::emptyTable() {
    if (scratch_ && !open_)
        return {};
    if (open_)
        return fail(QStringLiteral("Table is busy: %1").arg(filePath()));
    // Emptying needs the file to ourselves, like the engine's exclusive use.
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(filePath());
    if (!lock)
        return lock.status();
    return px::emptyTable(filePath());
}

void ReadingsTable::append() {
    appending_ = true;
    for (RecordStore::Cell& v : draft_) {
        v.set = false; // keeps the text buffers for the next record
        v.i = 0;
        v.d = 0;
        v.text.clear();
    }
}

void ReadingsTable::cancel() {
    appending_ = false;
}

Result<int> ReadingsTable::settableField(std::string_view field) const {
    if (Status s = checkOpen(); !s)
        return fail(s.error());
    const int i = fieldIndex(field);
    if (i < 0)
        return fail(QStringLiteral("Field '%1' not found").arg(fromCp936(field)));
    return i;
}

Status ReadingsTable::setFieldText(std::string_view field, std::string_view text) {
    Result<int> index = settableField(field);
    if (!index)
        return index.status();
    const px::FieldDef& f = store_.fields()[static_cast<std::size_t>(index.value())];
    RecordStore::Cell& v = draft_[static_cast<std::size_t>(index.value())];
    if (text.empty()) {
        v.set = false;
        v.text.clear();
        return {};
    }
    switch (RecordStore::storageOf(f.type)) {
    case RecordStore::Storage::Text:
    case RecordStore::Storage::None: {
        const int width = px::storageSize(f);
        const int n = width > 0
                          ? px::codec::cutText(text.data(), static_cast<int>(text.size()), width)
                          : static_cast<int>(text.size());
        v.text.assign(text.substr(0, static_cast<std::size_t>(n)));
        v.set = true;
        return {};
    }
    case RecordStore::Storage::Int:
    case RecordStore::Storage::Double:
        break;
    }
    Result<px::Value> parsed =
        px::parseValue(f.type, QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!parsed)
        return parsed.status();
    const px::Value& p = parsed.value();
    v.i = p.toInt();
    v.d = p.kind() == px::Value::Kind::Integer ? static_cast<double>(p.toInt()) : p.toNumber();
    v.set = true;
    return {};
}

Status ReadingsTable::setFieldInt(std::string_view field, std::int32_t value) {
    Result<int> index = settableField(field);
    if (!index)
        return index.status();
    const px::FieldDef& f = store_.fields()[static_cast<std::size_t>(index.value())];
    using T = px::FieldType;
    if (f.type == T::Alpha || f.type == T::Bcd)
        return setFieldText(field, std::to_string(value));
    RecordStore::Cell& v = draft_[static_cast<std::size_t>(index.value())];
    switch (f.type) {
    case T::Short:
        if (value < -32767 || value > 32767)
            return fail(QStringLiteral("'%1' is not a valid integer value").arg(value));
        [[fallthrough]];
    case T::Long:
    case T::AutoInc:
    case T::Logical:
        v.i = value;
        break;
    case T::Number:
    case T::Currency:
        v.d = value;
        break;
    default:
        return fail(typeMismatch(field));
    }
    v.set = true;
    return {};
}

Status ReadingsTable::setFieldTime(std::string_view field, std::int32_t msOfDay) {
    Result<int> index = settableField(field);
    if (!index)
        return index.status();
    const px::FieldDef& f = store_.fields()[static_cast<std::size_t>(index.value())];
    if (f.type == px::FieldType::Alpha)
        return setFieldText(field, timeOfDayText(msOfDay));
    RecordStore::Cell& v = draft_[static_cast<std::size_t>(index.value())];
    if (f.type == px::FieldType::Time)
        v.i = msOfDay;
    else if (f.type == px::FieldType::Timestamp)
        v.d = msOfDay; // a time without a date
    else
        return fail(typeMismatch(field));
    v.set = true;
    return {};
}

Status ReadingsTable::post() {
    if (Status s = checkOpen(); !s)
        return s;
    if (!appending_)
        return fail(QStringLiteral("Dataset not in edit or insert mode"));
    appending_ = false;
    const qint64 row = rowCount();
    Q_EMIT rowAboutToBeAppended(row);
    store_.append(draft_);
    Q_EMIT rowAppended(row);
    return {};
}

Status ReadingsTable::appendReading(const Reading& reading) {
    auto name = [](ReadingsField kind) { return readingsFieldName(kind); };
    append();
    Status s = setFieldText(name(ReadingsField::Value), reading.value);
    if (s && reading.msOfDay)
        s = setFieldTime(name(ReadingsField::Time), *reading.msOfDay);
    if (s)
        s = setFieldInt(name(ReadingsField::Number), reading.no);
    if (s)
        s = setFieldText(name(ReadingsField::Function), reading.function);
    if (s)
        s = setFieldText(name(ReadingsField::Remark), reading.mode);
    if (s)
        s = setFieldText(name(ReadingsField::Unit), reading.unit);
    if (s)
        return post();
    cancel();
    return s;
}

std::optional<Reading> ReadingsTable::readingAt(qint64 row) const {
    const int no = fieldIndex(readingsFieldName(ReadingsField::Number));
    const int time = fieldIndex(readingsFieldName(ReadingsField::Time));
    if (no < 0 || time < 0 || row < 0 || row >= rowCount())
        return std::nullopt;
    const auto at = static_cast<std::size_t>(row);
    if (store_.isNull(at, no))
        return std::nullopt;
    Reading r;
    const px::Value number = store_.value(at, no);
    if (number.kind() == px::Value::Kind::Integer)
        r.no = static_cast<std::int32_t>(number.toInt());
    else if (number.kind() == px::Value::Kind::Number && number.toNumber() > -2.2e9 &&
             number.toNumber() < 2.2e9)
        r.no = static_cast<std::int32_t>(number.toNumber());
    else
        return std::nullopt;
    if (const px::Value t = store_.value(at, time); t.kind() == px::Value::Kind::Time)
        r.msOfDay = t.msecs();
    r.value = fieldText(row, readingsFieldName(ReadingsField::Value));
    r.unit = fieldText(row, readingsFieldName(ReadingsField::Unit));
    r.function = fieldText(row, readingsFieldName(ReadingsField::Function));
    r.mode = fieldText(row, readingsFieldName(ReadingsField::Remark));
    return r;
}

std::optional<std::int32_t> ReadingsTable::highestNo() const {
    const int no = fieldIndex(readingsFieldName(ReadingsField::Number));
    if (no < 0)
        return std::nullopt;
    const RecordStore& records = store_;
    const px::FieldType type = records.fields()[static_cast<std::size_t>(no)].type;
    std::optional<qint64> highest;
    for (std::size_t row = 0; row < records.rowCount(); ++row) {
        if (records.isNull(row, no))
            continue;
        qint64 v = 0;
        switch (RecordStore::storageOf(type)) {
        case RecordStore::Storage::Int:
            v = records.intValue(row, no);
            break;
        case RecordStore::Storage::Double: {
            const double d = records.doubleValue(row, no);
            if (!(d > -2.2e9 && d < 2.2e9)) // NaN, and numbers no record number reaches
                continue;
            v = static_cast<qint64>(d);
            break;
        }
        case RecordStore::Storage::Text: {
            // A number kept as text: what converts counts.
            const std::string_view t = records.textValue(row, no);
            bool ok = false;
            v = QByteArray(t.data(), static_cast<qsizetype>(t.size())).trimmed().toLongLong(&ok);
            if (!ok)
                continue;
            break;
        }
        case RecordStore::Storage::None:
            continue;
        }
        if (!highest || v > *highest)
            highest = v;
    }
    if (!highest)
        return std::nullopt;
    return static_cast<std::int32_t>(std::clamp<qint64>(*highest,
                                                        std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max()));
}

void ReadingsTable::holdLock(std::unique_ptr<px::TableLock> lock) {
    lock_ = std::move(lock);
}

Result<qint64> ReadingsTable::recordCount() const {
    if (Status s = checkOpen(); !s)
        return fail(s.error());
    return rowCount();
}

std::string ReadingsTable::fieldText(qint64 row, std::string_view field) const {
    const int i = fieldIndex(field);
    return i < 0 ? std::string() : fieldText(row, i);
}

std::string ReadingsTable::fieldText(qint64 row, int field) const {
    if (row < 0 || row >= rowCount() || field < 0 ||
        field >= static_cast<int>(store_.fields().size()))
        return {};
    const auto r = static_cast<std::size_t>(row);
    if (store_.isNull(r, field))
        return {};
    const px::FieldType type = store_.fields()[static_cast<std::size_t>(field)].type;
    // Texts are the common case and need no conversion.
    if (type == px::FieldType::Alpha || type == px::FieldType::Bcd)
        return std::string(store_.textValue(r, field));
    return displayText(type, store_.value(r, field));
}

Status ReadingsTable::first() {
    if (Status s = checkOpen(); !s)
        return s;
    cursor_ = 0;
    return {};
}

Status ReadingsTable::deleteRecord(qint64 row) {
    if (Status s = checkOpen(); !s)
        return s;
    if (row < 0 || row >= rowCount())
        return fail(QStringLiteral("No current record"));
    Q_EMIT rowAboutToBeRemoved(row);
    store_.erase(static_cast<std::size_t>(row));
    if (cursor_ > row)
        --cursor_;
    Q_EMIT rowRemoved(row);
    return {};
}

} // namespace kx
