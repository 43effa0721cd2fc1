#include "readings/readings_schema.h"

#include <QDir>

#include <algorithm>

namespace kx {
namespace {

static_assert(
    [] {
        for (std::size_t k = 0; k < kReadingsSchema.size(); ++k) {
            if (kReadingsSchema[k].kind != static_cast<ReadingsField>(k))
                return false;
        }
        return true;
    }(),
    "the schema lists the fields in the order of ReadingsField");

bool isNumberKind(px::FieldType t) {
    using T = px::FieldType;
    return t == T::Short || t == T::Long || t == T::AutoInc || t == T::Number || t == T::Currency ||
           t == T::Bcd;
}

bool fitsKind(ReadingsField kind, px::FieldType t) {
    using T = px::FieldType;
    switch (kind) {
    case ReadingsField::Number:
        return isNumberKind(t);
    case ReadingsField::Time:
        return t == T::Time || t == T::Timestamp;
    case ReadingsField::Value:
        // Another program may keep the reading as a number rather than the meter's digits.
        return t == T::Alpha || isNumberKind(t);
    case ReadingsField::Unit:
    case ReadingsField::Function:
    case ReadingsField::Remark:
        return t == T::Alpha;
    }
    return false;
}

std::optional<ReadingsFieldMap> byNames(const std::vector<px::FieldDef>& fields, bool store) {
    const std::array<const char*, kReadingsFieldCount> names = readingsFieldNames(store);
    ReadingsFieldMap map{};
    for (int k = 0; k < kReadingsFieldCount; ++k) {
        map[static_cast<std::size_t>(k)] = -1;
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (fields[f].name == names[static_cast<std::size_t>(k)]) {
                map[static_cast<std::size_t>(k)] = static_cast<int>(f);
                break;
            }
        }
        if (map[static_cast<std::size_t>(k)] < 0)
            return std::nullopt;
    }
    return map;
}

} // namespace

std::vector<px::FieldDef> readingsFields(bool store) {
    std::vector<px::FieldDef> out;
    for (const ReadingsFieldSpec& f : kReadingsSchema) {
        const std::string_view name = store ? f.storeName : f.name;
        out.push_back(
            {QByteArray(name.data(), static_cast<qsizetype>(name.size())), f.type, f.size});
    }
    return out;
}

std::array<const char*, kReadingsFieldCount> readingsFieldNames(bool store) {
    std::array<const char*, kReadingsFieldCount> out{};
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = (store ? kReadingsSchema[k].storeName : kReadingsSchema[k].name).data();
    return out;
}

std::optional<ReadingsFieldMap> matchReadingsFields(const std::vector<px::FieldDef>& fields,
                                                    bool storeNamesFirst) {
    if (std::optional<ReadingsFieldMap> m = byNames(fields, storeNamesFirst))
        return m;
    if (std::optional<ReadingsFieldMap> m = byNames(fields, !storeNamesFirst))
        return m;
    if (fields.size() < static_cast<std::size_t>(kReadingsFieldCount))
        return std::nullopt;
    ReadingsFieldMap map{};
    for (int k = 0; k < kReadingsFieldCount; ++k) {
        if (!fitsKind(static_cast<ReadingsField>(k), fields[static_cast<std::size_t>(k)].type))
            return std::nullopt;
        map[static_cast<std::size_t>(k)] = k;
    }
    return map;
}

QString unmatchedFieldsMessage(const QString& path) {
    return QStringLiteral("%1 does not hold readings: its fields cannot be matched to No, "
                          "Time, Value, Unit, Function and Remark (a number, a time and four "
                          "texts, in that order)")
        .arg(QDir::toNativeSeparators(path));
}

Result<ReadingsFieldMap> readingsFieldMap(const std::vector<px::FieldDef>& fields,
                                          const QString& path, bool storeNamesFirst) {
    if (std::optional<ReadingsFieldMap> m = matchReadingsFields(fields, storeNamesFirst))
        return *m;
    return fail(unmatchedFieldsMessage(path));
}

Status checkRecordableFields(const std::vector<px::FieldDef>& fields, const QString& path) {
    for (const ReadingsFieldSpec& spec : kReadingsSchema) {
        const QByteArray name(spec.name.data(), static_cast<qsizetype>(spec.name.size()));
        if (std::none_of(fields.begin(), fields.end(),
                         [&](const px::FieldDef& f) { return f.name == name; }))
            return fail(QStringLiteral("%1 is not a readings table: it has no field '%2'")
                            .arg(QDir::toNativeSeparators(path), QLatin1String(name)));
    }
    if (fields.front().name != readingsFieldName(ReadingsField::Number).data())
        return fail(QStringLiteral("%1 is not a readings table: its first field is not '%2'")
                        .arg(QDir::toNativeSeparators(path),
                             QLatin1String(readingsFieldName(ReadingsField::Number).data())));
    return {};
}

} // namespace kx
