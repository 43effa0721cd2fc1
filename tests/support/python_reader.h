#pragma once

// Files read back by programs that are not ours: Python's CSV module in strict mode, and
// openpyxl for workbooks.

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace kxtest {

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
        'landscape': sheet.page_setup.orientation == 'landscape',
        'fitToPage': bool(sheet.sheet_properties.pageSetUpPr and
                          sheet.sheet_properties.pageSetUpPr.fitToPage),
        'fitWidth': sheet.page_setup.fitToWidth,
        'fitHeight': sheet.page_setup.fitToHeight,
        'titleRows': sheet.print_title_rows,
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
