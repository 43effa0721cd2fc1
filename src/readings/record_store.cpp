#include "readings/record_store.h"

#include "paradox/paradox_codec.h"

#include <algorithm>
#include <cstring>

namespace kx {

RecordStore::Storage RecordStore::storageOf(px::FieldType t) {
    using T = px::FieldType;
    switch (t) {
    case T::Short:
    case T::Long:
    case T::AutoInc:
    case T::Logical:
    case T::Date:
    case T::Time:
        return Storage::Int;
    case T::Number:
    case T::Currency:
    case T::Timestamp:
        return Storage::Double;
    case T::Alpha:
    case T::Bcd:
    case T::Bytes:
        return Storage::Text;
    default:
        return Storage::None; // blobs: their content is not kept
    }
}

void RecordStore::reset(std::vector<px::FieldDef> fields) {
    fields_ = std::move(fields);
    columns_.clear();
    for (const px::FieldDef& f : fields_)
        columns_.push_back(Column{storageOf(f.type), {}, {}, {}, {}});
    pool_.clear();
    rows_ = 0;
}

void RecordStore::clear() {
    for (Column& c : columns_)
        c = Column{c.storage, {}, {}, {}, {}};
    pool_.clear();
    rows_ = 0;
}

void RecordStore::markNull(Column& c, bool isNull) {
    const std::size_t word = rows_ / 64;
    if (c.nulls.size() <= word)
        c.nulls.push_back(0);
    if (isNull)
        c.nulls[word] |= std::uint64_t{1} << (rows_ % 64);
}

void RecordStore::append(const std::vector<Cell>& cells) {
    for (std::size_t f = 0; f < columns_.size(); ++f) {
        Column& c = columns_[f];
        const Cell& v = cells[f];
        markNull(c, !v.set);
        switch (c.storage) {
        case Storage::Int:
            c.i32.push_back(static_cast<std::int32_t>(v.i));
            break;
        case Storage::Double:
            c.f64.push_back(v.d);
            break;
        case Storage::Text:
            c.text.push_back(v.set ? pool_.intern(v.text) : 0);
            break;
        case Storage::None:
            break;
        }
    }
    ++rows_;
}

void RecordStore::append(const px::Record& values) {
    const px::Value empty;
    for (std::size_t f = 0; f < columns_.size(); ++f)
        put(columns_[f], f < values.size() ? values[f] : empty);
    ++rows_;
}

void RecordStore::appendStored(const unsigned char* stored) {
    for (std::size_t f = 0; f < columns_.size(); ++f) {
        const px::FieldDef& def = fields_[f];
        const auto size = static_cast<std::size_t>(px::storageSize(def));
        if (def.type == px::FieldType::Alpha) {
            // A text goes to the pool straight from the record: the bytes before the first
            // zero, NULL when every byte is zero.
            Column& c = columns_[f];
            const void* nul = std::memchr(stored, 0, size);
            const std::size_t n =
                nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - stored)
                    : size;
            const bool isNull = n == 0 && std::all_of(stored, stored + size,
                                                      [](unsigned char b) { return b == 0; });
            markNull(c, isNull);
            c.text.push_back(
                isNull ? 0
                       : pool_.intern(std::string_view(reinterpret_cast<const char*>(stored), n)));
        } else {
            put(columns_[f], px::codec::decodeField(def, stored));
        }
        stored += size;
    }
    ++rows_;
}

void RecordStore::put(Column& c, const px::Value& v) {
    using K = px::Value::Kind;
    markNull(c, v.isNull() || c.storage == Storage::None);
    switch (c.storage) {
    case Storage::Int:
        c.i32.push_back(v.kind() == K::Number || v.kind() == K::Timestamp
                            ? 0
                            : static_cast<std::int32_t>(v.toInt()));
        break;
    case Storage::Double:
        c.f64.push_back(v.kind() == K::Integer ? static_cast<double>(v.toInt()) : v.toNumber());
        break;
    case Storage::Text: {
        const QByteArray& b = v.rawBytes();
        c.text.push_back(v.isNull() ? 0
                                    : pool_.intern(std::string_view(
                                          b.constData(), static_cast<std::size_t>(b.size()))));
        break;
    }
    case Storage::None:
        break;
    }
}

void RecordStore::erase(std::size_t r) {
    for (Column& c : columns_) {
        if (!c.i32.empty())
            c.i32.erase(c.i32.begin() + static_cast<std::ptrdiff_t>(r));
        if (!c.f64.empty())
            c.f64.erase(c.f64.begin() + static_cast<std::ptrdiff_t>(r));
        if (!c.text.empty())
            c.text.erase(c.text.begin() + static_cast<std::ptrdiff_t>(r));
        // Shift the null bits above the erased row down by one.
        for (std::size_t i = r; i + 1 < rows_; ++i) {
            const bool next = (c.nulls[(i + 1) / 64] >> ((i + 1) % 64)) & 1;
            if (next)
                c.nulls[i / 64] |= std::uint64_t{1} << (i % 64);
            else
                c.nulls[i / 64] &= ~(std::uint64_t{1} << (i % 64));
        }
    }
    --rows_;
}

bool RecordStore::isNull(std::size_t row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    return (c.nulls[row / 64] >> (row % 64)) & 1;
}

std::int64_t RecordStore::intValue(std::size_t row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (c.storage == Storage::Int)
        return c.i32[row];
    return 0;
}

double RecordStore::doubleValue(std::size_t row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (c.storage == Storage::Double)
        return c.f64[row];
    if (c.storage == Storage::Int)
        return c.i32[row];
    return 0;
}

std::string_view RecordStore::textValue(std::size_t row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    if (c.storage != Storage::Text)
        return {};
    return pool_.at(c.text[row]);
}

px::Value RecordStore::value(std::size_t row, int field) const {
    if (isNull(row, field))
        return px::Value::null();
    using T = px::FieldType;
    auto text = [&] {
        const std::string_view s = textValue(row, field);
        return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
    };
    switch (fields_[static_cast<std::size_t>(field)].type) {
    case T::Alpha:
        return px::Value::text(text());
    case T::Bcd:
        return px::Value::decimal(text());
    case T::Bytes:
        return px::Value::bytes(text());
    case T::Short:
    case T::Long:
    case T::AutoInc:
        return px::Value(static_cast<std::int32_t>(intValue(row, field)));
    case T::Logical:
        return px::Value(intValue(row, field) != 0);
    case T::Date:
        return px::Value::date(static_cast<int>(intValue(row, field)));
    case T::Time:
        return px::Value::timeOfDay(static_cast<int>(intValue(row, field)));
    case T::Number:
    case T::Currency:
        return px::Value(doubleValue(row, field));
    case T::Timestamp:
        return px::Value::timestamp(doubleValue(row, field));
    default:
        return px::Value::null();
    }
}

std::size_t RecordStore::memoryUsage() const {
    std::size_t bytes = pool_.memoryUsage();
    for (const Column& c : columns_) {
        bytes += c.i32.capacity() * sizeof(std::int32_t) + c.f64.capacity() * sizeof(double) +
                 c.text.capacity() * sizeof(std::uint32_t) +
                 c.nulls.capacity() * sizeof(std::uint64_t);
    }
    return bytes;
}

} // namespace kx
