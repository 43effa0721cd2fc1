#include "recording/readings_schema.h"

namespace kx {

std::vector<px::FieldDef> readingsFields(bool store) {
    const QByteArray prefix = store ? QByteArray("S") : QByteArray();
    using T = px::FieldType;
    return {
        {prefix + "No", T::Long, 4},        {prefix + "Time", T::Time, 4},
        {prefix + "Value", T::Alpha, 16},   {prefix + "Unit", T::Alpha, 8},
        {prefix + "V_Range", T::Alpha, 24}, {prefix + "I_Range", T::Alpha, 16},
    };
}

} // namespace kx
