#include "recording/readings_schema.h"

#include <QDir>

namespace kx {
namespace {

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
    const QByteArray prefix = store ? QByteArray("S") : QByteArray();
    using T = px::FieldType;
    return {
        {prefix + "No", T::Long, 4},        {prefix + "Time", T::Time, 4},
        {prefix + "Value", T::Alpha, 16},   {prefix + "Unit", T::Alpha, 8},
        {prefix + "V_Range", T::Alpha, 24}, {prefix + "I_Range", T::Alpha, 16},
    };
}

std::array<const char*, kReadingsFieldCount> readingsFieldNames(bool store) {
    if (store)
        return {"SNo", "STime", "SValue", "SUnit", "SV_Range", "SI_Range"};
    return {"No", "Time", "Value", "Unit", "V_Range", "I_Range"};
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

} // namespace kx
