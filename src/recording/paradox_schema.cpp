#include "recording/paradox_schema.h"

namespace kx::px {

namespace {
std::vector<FieldDef> fieldsWithPrefix(const QByteArray& prefix) {
    return {
        {prefix + "No", FieldType::Long, 4},        {prefix + "Time", FieldType::Time, 4},
        {prefix + "Value", FieldType::Alpha, 16},   {prefix + "Unit", FieldType::Alpha, 8},
        {prefix + "V_Range", FieldType::Alpha, 24}, {prefix + "I_Range", FieldType::Alpha, 16},
    };
}
} // namespace

std::vector<FieldDef> readingsFields() {
    return fieldsWithPrefix(QByteArray());
}
std::vector<FieldDef> storeFields() {
    return fieldsWithPrefix("S");
}

} // namespace kx::px
