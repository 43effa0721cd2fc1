#pragma once

// Readings tables and file helpers shared by the tests of the .csv, .jsonl and .xlsx exports.

#include "recording/readings_exports.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kxtest {

inline const std::string kOhm936 = "\xA6\xB8";
inline const std::string kOhmUtf8 = "\xCE\xA9";

struct Reading {
    std::int32_t no;
    std::int32_t ms; // time of day; negative: none
    std::string value, unit, function, remark;
};

inline void addReading(kx::ReadingsTable& t, const Reading& r, bool store = false) {
    const std::string p = store ? "S" : "";
    t.append();
    ASSERT_TRUE(t.setFieldInt(p + "No", r.no).ok());
    if (r.ms >= 0) {
        ASSERT_TRUE(t.setFieldTime(p + "Time", r.ms).ok());
    }
    ASSERT_TRUE(t.setFieldText(p + "Value", r.value).ok());
    ASSERT_TRUE(t.setFieldText(p + "Unit", r.unit).ok());
    ASSERT_TRUE(t.setFieldText(p + "V_Range", r.function).ok());
    ASSERT_TRUE(t.setFieldText(p + "I_Range", r.remark).ok());
    ASSERT_TRUE(t.post().ok());
}

// Readings of every kind a recording holds: every unit, blanks, overloads, dashes, negative
// values, voltages, and texts that need quoting or are not ASCII.
inline std::vector<Reading> everyKindOfReading() {
    const std::string ir = "IR:1000V 40G" + kOhm936;
    return {
        {1, 45296789, "941.5", "M" + kOhm936, ir, "Continuous"},
        {2, 0, "1.2", "T" + kOhm936, ir, "PI"},
        {3, 86399999, "0.500", kOhm936, ir, "Timed"},
        {4, 1000, "12.5", "k" + kOhm936, ir, "Timed"},
        {5, 2000, "1.234", "G" + kOhm936, ir, "Timed"},
        {6, 3000, "230.4", "V", "ACV  600V", "Timed"},
        {7, 4000, "-10", "V", "DCV  600V", "Timed"},
        {8, 5000, "0L", "M" + kOhm936, ir, "Timed"},
        {9, 6000, "L0.20", "G" + kOhm936, ir, "Timed"},
        {10, 7000, "----", "G" + kOhm936, ir, "Timed"},
        {11, -1, "", "", "", ""},
        {12, 8000, "941.5   ", "M" + kOhm936, ir, "a \"q\", b\r\nc"},
        {13, 9000, "12", "mV", "DCV  600mV", "\xB2\xE2\xCA\xD4 " + kOhm936}, // 测试 Ω
        {14, 10000, "-1.0", "M" + kOhm936, "=1+2", "@x"},
        {15, 11000, "3.5", "A", "ACA", "a,b;c"},
    };
}

inline QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

using ExportProgress = kx::ExportProgress;

// One of the three writers, with the options of its kind left at their defaults.
struct Writer {
    const char* name;
    const char* extension;
    std::function<kx::Status(const kx::ReadingsTable&, const QString&, kx::ExportKind,
                             const ExportProgress&)>
        save;
};

inline std::vector<Writer> allWriters() {
    return {
        {"csv", "csv",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsCsv(t, p, k, {}, g); }},
        {"jsonl", "jsonl",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsJsonLines(t, p, k, g); }},
        {"xlsx", "xlsx",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsXlsx(t, p, k, {}, g); }},
    };
}

// What another program reads in a file, through Python: the CSV module in strict mode, or
// openpyxl for a workbook. The outcome is JSON (see kReaderScript); `skip` tells why there is
// none when Python or openpyxl is missing.
struct PythonRead {
    QJsonObject json;
    QString skip;
    QString error;
};

inline constexpr const char* kReaderScript = R"PY(
import sys, json, csv, io, datetime
kind, path = sys.argv[1], sys.argv[2]
if kind == 'csv':
    raw = open(path, 'rb').read()
    text = raw.decode('utf-8-sig')
    rows = list(csv.reader(io.StringIO(text, newline=''), delimiter=sys.argv[3], strict=True))
    print(json.dumps({'bom': raw.startswith(b'\xef\xbb\xbf'), 'rows': rows}))
    sys.exit(0)
try:
    import openpyxl
except ImportError:
    sys.exit(77)
def cell(c):
    v = c.value
    if v is None:
        return None
    if isinstance(v, bool):
        return {'b': v}
    if isinstance(v, (int, float)):
        return {'n': v, 'format': c.number_format}
    if isinstance(v, (datetime.time, datetime.datetime)):
        t = v.time() if isinstance(v, datetime.datetime) else v
        ms = round(((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.microsecond / 1000)
        return {'ms': ms, 'format': c.number_format}
    return {'s': str(v)}
book = openpyxl.load_workbook(path)
out = {'sheets': book.sheetnames}
for sheet in book.worksheets:
    out[sheet.title] = {
        'freeze': sheet.freeze_panes,
        'filter': sheet.auto_filter.ref,
        'widths': {k: d.width for k, d in sheet.column_dimensions.items()},
        'rows': [[cell(c) for c in row] for row in sheet.iter_rows()],
    }
print(json.dumps(out))
)PY";

inline PythonRead readWithPython(const QString& kind, const QString& path,
                                 const QString& delimiter = QStringLiteral(",")) {
    PythonRead r;
    // Debian's own interpreter first: python3-openpyxl is installed for it, and a python3
    // earlier on the PATH (a virtual environment) may not see it.
    QString python = QStringLiteral("/usr/bin/python3");
    if (!QFileInfo(python).isExecutable())
        python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        r.skip = QStringLiteral("python3 is not installed");
        return r;
    }
    QProcess p;
    p.start(python,
            {QStringLiteral("-c"), QString::fromUtf8(kReaderScript), kind, path, delimiter});
    if (!p.waitForFinished(120000)) {
        r.error = QStringLiteral("python3 did not finish");
        return r;
    }
    if (p.exitCode() == 77) {
        r.skip = QStringLiteral("python3-openpyxl is not installed");
        return r;
    }
    if (p.exitCode() != 0) {
        r.error = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QJsonParseError e{};
    r.json = QJsonDocument::fromJson(p.readAllStandardOutput(), &e).object();
    if (e.error != QJsonParseError::NoError)
        r.error = e.errorString();
    return r;
}

} // namespace kxtest
