// Input: a small readings table. Byte 0 chooses: bit 0 also a workbook, bit 1 ';' as the CSV
// delimiter, bit 2 decimal commas, bits 3-4 the fields (the live table's, the stored one's,
// another program's read by position, or the live names over odd kinds), bit 5 a workbook
// cancelled once begun (nothing may stay behind). Then records: a
// 2-byte number, a 4-byte time (any value, out of range too) and four texts, each a 1-byte
// length and its bytes. Every format must be written; the CSV must read back through a strict
// RFC 4180 reader and the JSON lines through Qt's, each cell as the exports' reader gave it.
#include "fuzz_support.h"

#include "exports/readings_exports.h"
#include "exports/readings_row_reader.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "support/csv_reader.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using kxfuzz::check;
using kxfuzz::Input;

std::vector<kx::px::FieldDef> fieldsFor(int layout) {
    using T = kx::px::FieldType;
    switch (layout) {
    case 0:
        return kx::readingsFields();
    case 1:
        return kx::readingsFields(true);
    case 2:
        return {{"Nr", T::AutoInc, 4},    {"Zeit", T::Timestamp, 8}, {"Wert", T::Number, 8},
                {"Einheit", T::Alpha, 8}, {"Bereich", T::Alpha, 24}, {"Notiz", T::Alpha, 24}};
    default:
        return {{"No", T::Alpha, 12},  {"Time", T::Alpha, 12},  {"Value", T::Number, 8},
                {"Unit", T::Alpha, 8}, {"V_Range", T::Date, 4}, {"I_Range", T::Logical, 1}};
    }
}

std::string fileText(const QString& path) {
    QFile f(path);
    check(f.open(QIODevice::ReadOnly));
    return f.readAll().toStdString();
}

// A CSV cell holds the text as it is, or with the apostrophe that keeps a spreadsheet from
// taking it for a formula.
bool sameText(const std::string& cell, std::string_view text) {
    return cell == text || (cell.size() == text.size() + 1 && cell[0] == '\'' &&
                            std::string_view(cell).substr(1) == text);
}

bool validUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toUtf8().toStdString() ==
           s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const int layout = flags >> 3 & 3;
    const std::vector<kx::px::FieldDef> fields = fieldsFor(layout);
    kx::ReadingsTable table;
    table.openScratch(fields);
    Input in(data + 1, size - 1);
    while (!in.empty() && table.rowCount() < 200) {
        const auto no = static_cast<std::int16_t>(in.word(2));
        const auto ms = static_cast<std::int32_t>(in.word(4));
        table.append();
        // Values that do not fit a field are left out, as a table of another program could
        // leave them; only what the table holds is exported.
        const auto name = [&](int k) {
            return std::string_view(fields[static_cast<std::size_t>(k)].name.constData());
        };
        (void)table.setFieldInt(name(0), no);
        (void)table.setFieldTime(name(1), ms);
        for (int k = 2; k < 6; ++k)
            (void)table.setFieldText(name(k), in.text());
        (void)table.post();
    }

    kx::CsvOptions csv;
    csv.delimiter = flags & 2 ? ';' : ',';
    csv.decimalComma = (flags & 4) != 0;
    const kx::ExportKind kind = layout == 1 ? kx::ExportKind::Store : kx::ExportKind::Live;
    const QString csvPath = kxfuzz::scratchPath("t.csv");
    const QString jsonPath = kxfuzz::scratchPath("t.jsonl");
    check(kx::saveReadingsCsv(table, csvPath, kind, csv).ok());
    check(kx::saveReadingsJsonLines(table, jsonPath, kind).ok());
    if (flags & 1)
        check(kx::saveReadingsXlsx(table, kxfuzz::scratchPath("t.xlsx"), kind).ok());
    if (flags & 32 && table.rowCount() > 0) { // an empty table is written before any report
        const QString cancelled = kxfuzz::scratchPath("cancelled.xlsx");
        const kx::Status s =
            kx::saveReadingsXlsx(table, cancelled, kind, {}, [](qint64, qint64) { return false; });
        check(!s.ok() && !QFileInfo::exists(cancelled));
    }

    // What the writers were given, record by record.
    auto reader = kx::ReadingsRowReader::open(table, kind);
    check(reader.ok());
    const std::size_t count = reader.value()->count();

    const std::string csvText = fileText(csvPath);
    check(csvText.starts_with("\xEF\xBB\xBF"));
    check(validUtf8(csvText.substr(3))); // Qt's decoder drops a byte-order mark
    const auto records = kxtest::readStrictCsv(std::string_view(csvText).substr(3), csv.delimiter);
    check(records.has_value() && records->size() == count + 1);
    const std::string header = kx::csvHeader(csv).toStdString();
    check(kxtest::readStrictCsv(header, csv.delimiter)->front() == records->front());

    const std::string jsonText = fileText(jsonPath);
    check(validUtf8(jsonText));
    std::size_t at = 0;
    kx::ExportRow row;
    for (std::size_t i = 0; i < count; ++i) {
        reader.value()->read(i, row);
        const std::vector<std::string>& cells = (*records)[i + 1];
        check(cells.size() == 8);
        check(sameText(cells[3], row.unit) && sameText(cells[4], row.function) &&
              sameText(cells[5], row.remark) && sameText(cells[7], row.baseUnit));
        check(cells[6].empty() == !row.baseValue);

        const std::size_t end = jsonText.find('\n', at);
        check(end != std::string::npos);
        QJsonParseError e{};
        const QJsonObject o =
            QJsonDocument::fromJson(
                QByteArray::fromRawData(jsonText.data() + at, static_cast<qsizetype>(end - at)), &e)
                .object();
        check(e.error == QJsonParseError::NoError && o.size() == 8);
        if (row.baseValue)
            check(o["baseValue"].toDouble() == *row.baseValue);
        else
            check(o["baseValue"].isNull());
        check(o["unit"].isNull() == row.unit.empty());
        check(row.unit.empty() || o["unit"].toString().toStdString() == row.unit);
        check(row.remark.empty() || o["remark"].toString().toStdString() == row.remark);
        at = end + 1;
    }
    check(at == jsonText.size());
    return 0;
}
