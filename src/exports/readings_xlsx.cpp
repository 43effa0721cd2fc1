// The .xlsx export, written by libxlsxwriter in its constant-memory mode: rows go to the
// library's working file as they are written, so a million records take no more memory than
// a few. The library writes the workbook by name, to the temporary file beside the target.
//
// The library checks its writes to the workbook but not those to its working files (the rows,
// and each part of the workbook before it is packed): a disk that fills up and frees room
// again while it works could leave a part cut short in a workbook it reports as written. So
// the rows are flushed and their errors looked at before the library packs them, and the
// packed workbook is read back (minizip, the library's own zip code) before it is put in
// place: every part whole (its checksum, and XML that ends with its root element's closing
// tag) and every sheet with the rows written into it.
#include "exports/readings_exports.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "exports/export_target.h"
#include "exports/readings_row_reader.h"
#include "exports/xlsx_workbook.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kx {
namespace {

using namespace xlsx;

constexpr double kMsPerDay = 86'400'000.0;
constexpr const char* kTimeFormat = "hh:mm:ss.000";

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The room the sheet's text may take, from the widest texts the fields can hold (a text byte
// can grow to six in the sheet's XML): past 4 GB a part of the workbook needs the zip format's
// 64-bit extension, which older readers do not know, so it is used only then.
bool needsZip64(const ReadingsTable& table, const ReadingsFieldMap& map, std::size_t records) {
    double perRecord = 400;
    for (const int f : map)
        perRecord += 6.0 * table.fields()[static_cast<std::size_t>(f)].size;
    return perRecord * static_cast<double>(records) > 3.5e9;
}

// Resistances stay in ohms, so that they sort, sum and compare as the readings' BaseValue
// does; the format shows them in the unit a technician reads: 941.5 MΩ, 1.234 GΩ, 12.5 kΩ.
constexpr const char* kOhmsFormat = "[>=1000000000]0.0##,,,\" G\xCE\xA9\";"
                                    "[>=1000000]0.0##,,\" M\xCE\xA9\";0.0##,\" k\xCE\xA9\"";

// What kOhmsFormat shows for `ohms`, to size its column.
std::string ohmsShown(double ohms) {
    const char* unit = ohms >= 1e9 ? " G\xCE\xA9" : ohms >= 1e6 ? " M\xCE\xA9" : " k\xCE\xA9";
    const double v = ohms >= 1e9 ? ohms / 1e9 : ohms >= 1e6 ? ohms / 1e6 : ohms / 1e3;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    std::string shown = buf;
    while (shown.size() > 2 && shown.back() == '0' && shown[shown.size() - 2] != '.')
        shown.pop_back();
    return shown + unit;
}

// The narrowest a header wrapped onto two lines at a blank can be.
double twoLineWidth(std::string_view name) {
    double best = textWidth(name);
    for (std::size_t at = name.find(' '); at != std::string_view::npos; at = name.find(' ', at + 1))
        best =
            std::min(best, std::max(textWidth(name.substr(0, at)), textWidth(name.substr(at + 1))));
    return best;
}

// The reasons as sentences one after the other: "… 100 MΩ. Polarization index …".
std::string reasonsText(const QStringList& reasons) {
    QStringList sentences;
    for (const QString& r : reasons) {
        QString t = r.trimmed();
        if (t.isEmpty())
            continue;
        if (!t.endsWith(QLatin1Char('.')) && !t.endsWith(QLatin1Char('!')) &&
            !t.endsWith(QLatin1Char('?')))
            t += QLatin1Char('.');
        sentences << t;
    }
    return sentences.join(QLatin1Char(' ')).toStdString();
}

// What a column of the results holds, which decides its cells' format.
enum class ResultKind { Number, Text, Time, Ohms, Ratio, Celsius, Reasons };

// Every cell of the results sits at the top of its row, beside the first line of reasons
// that wrap onto more.
struct ResultsFormats {
    lxw_format* header = nullptr; // bold, wrapped onto two lines where it needs them
    lxw_format* plain = nullptr;
    lxw_format* time = nullptr;
    lxw_format* ohms = nullptr;
    lxw_format* ratio = nullptr;   // DAR, PI: two decimals
    lxw_format* celsius = nullptr; // one decimal
    lxw_format* wrapped = nullptr; // the reasons

    bool make(lxw_workbook* book) {
        for (lxw_format** f : {&header, &plain, &time, &ohms, &ratio, &celsius, &wrapped}) {
            *f = workbook_add_format(book);
            if (!*f)
                return false;
            format_set_align(*f, LXW_ALIGN_VERTICAL_TOP);
        }
        format_set_bold(header);
        format_set_text_wrap(header);
        format_set_num_format(time, kTimeFormat);
        format_set_num_format(ohms, kOhmsFormat);
        format_set_num_format(ratio, "0.00");
        format_set_num_format(celsius, "0.0");
        format_set_text_wrap(wrapped);
        return true;
    }

    lxw_format* of(ResultKind kind) const {
        switch (kind) {
        case ResultKind::Number:
        case ResultKind::Text:
            break;
        case ResultKind::Time:
            return time;
        case ResultKind::Ohms:
            return ohms;
        case ResultKind::Ratio:
            return ratio;
        case ResultKind::Celsius:
            return celsius;
        case ResultKind::Reasons:
            return wrapped;
        }
        return plain;
    }
};

// The widest the reasons' column gets before its sentences wrap onto more lines of the row.
constexpr double kReasonsWidth = 60;

// Lines a wrapped text takes in a column `width` characters wide: a little more than its
// characters fill, for the room word breaks leave at the ends of lines.
int wrappedLines(double chars, double width) {
    const double perLine = std::max(1.0, width - kColumnPadding);
    return std::max(1, static_cast<int>(std::ceil(chars * kOtherFonts / perLine)));
}

void writeResults(SheetWriter& out, lxw_worksheet* sheet,
                  const std::vector<InsulationResult>& tests, const ResultsFormats& f) {
    using Kind = ResultKind;
    struct Column {
        const char* name;
        Kind kind;
    };
    static constexpr std::array<Column, 21> kColumns = {{
        {"Test", Kind::Number},
        {"Mode", Kind::Text},
        {"Function", Kind::Text},
        {"Test voltage (V)", Kind::Number},
        {"First No", Kind::Number},
        {"Last No", Kind::Number},
        {"Start", Kind::Time},
        {"Duration (s)", Kind::Number},
        {"R15 (\xCE\xA9)", Kind::Ohms},
        {"R30 (\xCE\xA9)", Kind::Ohms},
        {"R60 (\xCE\xA9)", Kind::Ohms},
        {"R600 (\xCE\xA9)", Kind::Ohms},
        {"DAR", Kind::Ratio},
        {"DAR15", Kind::Ratio},
        {"PI", Kind::Ratio},
        {"Temperature (\xC2\xB0"
         "C)",
         Kind::Celsius},
        {"Base temperature (\xC2\xB0"
         "C)",
         Kind::Celsius},
        {"R60 corrected (\xCE\xA9)", Kind::Ohms},
        {"Minimum (\xCE\xA9)", Kind::Ohms},
        {"Verdict", Kind::Text},
        {"Reasons", Kind::Reasons},
    }};
    constexpr std::size_t kReasons = 20;
    struct Cells {
        std::array<std::optional<double>, 21> numbers;
        std::array<std::string, 21> texts;
    };
    // Each test's cells first: the widths, and the heights of rows whose reasons wrap, go
    // before the rows in the sheet.
    Utf8Texts modes, functions;
    std::vector<Cells> rows;
    rows.reserve(tests.size());
    ColumnWidths widths(kColumns.size());
    for (std::size_t c = 0; c < kColumns.size(); ++c)
        widths.fit(c, twoLineWidth(kColumns[c].name) + 1); // in bold
    for (const InsulationResult& t : tests) {
        Cells& r = rows.emplace_back();
        r.numbers = {double(t.test),
                     std::nullopt,
                     std::nullopt,
                     t.testVoltage,
                     double(t.first),
                     double(t.last),
                     t.startMs / kMsPerDay,
                     t.duration,
                     t.r15,
                     t.r30,
                     t.r60,
                     t.r600,
                     t.dar,
                     t.dar15,
                     t.pi,
                     t.temperature,
                     t.baseTemperature,
                     t.r60Corrected,
                     t.minimum,
                     std::nullopt,
                     std::nullopt};
        r.texts[1] = modes.convert(t.mode);
        r.texts[2] = functions.convert(t.function);
        r.texts[19] = verdictText(t.verdict).toStdString();
        r.texts[kReasons] = reasonsText(t.reasons);
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const std::optional<double>& v = r.numbers[c];
            switch (kColumns[c].kind) {
            case Kind::Text:
            case Kind::Reasons:
                widths.text(c, r.texts[c]);
                break;
            case Kind::Number:
                if (v)
                    widths.number(c, *v);
                break;
            case Kind::Time:
                widths.fit(c, kTimeWidth - kColumnPadding);
                break;
            case Kind::Ohms:
                if (v)
                    widths.text(c, ohmsShown(*v));
                break;
            case Kind::Ratio:
            case Kind::Celsius:
                if (v)
                    widths.fit(c,
                               static_cast<double>(
                                   QString::number(*v, 'f', kColumns[c].kind == Kind::Ratio ? 2 : 1)
                                       .size()));
                break;
            }
        }
    }
    const double reasonsWidth = widths.width(kReasons, kReasonsWidth);
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        out.note(worksheet_set_column(sheet, col, col,
                                      c == kReasons ? reasonsWidth : widths.width(c), nullptr));
    }

    // Two lines of the header's bold type.
    out.note(worksheet_set_row(sheet, 0, 2 * LXW_DEF_ROW_HEIGHT, nullptr));
    for (std::size_t c = 0; c < kColumns.size(); ++c)
        out.text(0, static_cast<lxw_col_t>(c), kColumns[c].name, f.header);
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_row_t row = 1;
    for (const Cells& r : rows) {
        // Readers do not all work out the height of a row whose text wraps.
        const int lines = wrappedLines(textWidth(r.texts[kReasons]), reasonsWidth);
        if (lines > 1)
            out.note(worksheet_set_row(sheet, row, lines * LXW_DEF_ROW_HEIGHT, nullptr));
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            const Kind kind = kColumns[c].kind;
            if (kind == Kind::Text || kind == Kind::Reasons)
                out.text(row, col, r.texts[c], f.of(kind));
            else
                out.optionalNumber(row, col, r.numbers[c], f.of(kind));
        }
        ++row;
    }
    if (!tests.empty())
        out.note(worksheet_autofilter(sheet, 0, 0, row - 1,
                                      static_cast<lxw_col_t>(kColumns.size() - 1)));
    setUpPrinting(out, sheet);
}

} // namespace

Status checkXlsxReadingCount(const QString& path, qint64 count) {
    if (count <= kXlsxMaxReadings)
        return {};
    return fail(QStringLiteral("Cannot write %1: a sheet holds at most %2 readings and the "
                               "table has %3; save it as .csv or .jsonl")
                    .arg(shown(QFileInfo(path).absoluteFilePath()))
                    .arg(kXlsxMaxReadings)
                    .arg(count));
}

Status saveReadingsXlsx(const ReadingsTable& table, const QString& path, ExportKind kind,
                        const XlsxOptions& options, const ExportProgress& progress) {
    Result<std::unique_ptr<ReadingsRowReader>> opened = ReadingsRowReader::open(table, kind);
    if (!opened)
        return opened.status();
    ReadingsRowReader& reader = *opened.value();
    Result<std::unique_ptr<px::TableLock>> target = claimExportTarget(path, &table);
    if (!target)
        return target.status();
    const std::size_t count = reader.count();
    if (Status s = checkXlsxReadingCount(path, static_cast<qint64>(count)); !s)
        return s;

    // The tests are found before the file is begun; a table without the fields they need
    // (one of another program, read by position) simply has no results.
    std::vector<InsulationResult> tests;
    if (Result<std::vector<InsulationResult>> found =
            findInsulationTests(table.records(), options.results))
        tests = found.take();

    Result<std::unique_ptr<ReplacingFile>> begun = ReplacingFile::begin(path);
    if (!begun)
        return begun.status();
    ReplacingFile& file = *begun.value();
    const QString& shownPath = file.target();

    Workbook book(QFile::encodeName(file.temporaryPath()),
                  QFile::encodeName(QFileInfo(file.targetFile()).absolutePath()),
                  needsZip64(table, reader.fields(), count));
    if (!book.get())
        return fail(QStringLiteral("Cannot write %1: the workbook could not be started")
                        .arg(shown(shownPath)));
    lxw_format* header = workbook_add_format(book.get());
    lxw_format* time = workbook_add_format(book.get());
    if (!header || !time)
        return fail(QStringLiteral("Cannot write %1: out of memory").arg(shown(shownPath)));
    Result<lxw_worksheet*> added = book.addSheet("Readings", shownPath);
    if (!added)
        return added.status();
    lxw_worksheet* sheet = added.value();
    format_set_bold(header);
    format_set_num_format(time, kTimeFormat);

    SheetWriter out(sheet);
    constexpr std::array<const char*, 8> kNames = {"No",       "Time",   "Value",     "Unit",
                                                   "Function", "Remark", "BaseValue", "BaseUnit"};
    // No narrower than a sheet's default column, however short the texts.
    constexpr double kNarrowestReadings = 8 - kColumnPadding;
    ColumnWidths widths(kNames.size());
    for (std::size_t c = 0; c < kNames.size(); ++c) {
        out.text(0, static_cast<lxw_col_t>(c), kNames[c], header);
        widths.fit(c, std::max(kNarrowestReadings, textWidth(kNames[c]) + 1));
    }
    widths.fit(1, kTimeWidth - kColumnPadding);
    worksheet_freeze_panes(sheet, 1, 0);
    out.note(worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(count), 7));

    const Status rowsWritten =
        forEachExportRow(reader, progress, [&](std::size_t i, const ExportRow& r) {
            const auto row = static_cast<lxw_row_t>(i + 1);
            switch (r.no.kind) {
            case ExportNumber::Kind::Integer:
                out.number(row, 0, static_cast<double>(r.no.integer));
                widths.number(0, static_cast<double>(r.no.integer));
                break;
            case ExportNumber::Kind::Real:
                out.number(row, 0, r.no.real);
                widths.number(0, r.no.real);
                break;
            case ExportNumber::Kind::Text:
                out.text(row, 0, r.no.text);
                widths.text(0, r.no.text);
                break;
            case ExportNumber::Kind::Missing:
                break;
            }
            if (r.timeMs) {
                out.number(row, 1, *r.timeMs / kMsPerDay, time);
            } else {
                out.text(row, 1, r.timeText);
                widths.text(1, r.timeText);
            }
            const std::array<std::pair<int, std::string_view>, 5> texts = {
                {{2, r.value}, {3, r.unit}, {4, r.function}, {5, r.remark}, {7, r.baseUnit}}};
            for (const auto& [c, text] : texts) {
                out.text(row, static_cast<lxw_col_t>(c), text);
                widths.text(static_cast<std::size_t>(c), text);
            }
            if (r.baseValue) {
                out.number(row, 6, *r.baseValue);
                widths.number(6, *r.baseValue);
            }
            if (out.error() != LXW_NO_ERROR)
                return Status(libraryFailure(shownPath, out.error()));
            return Status();
        });
    // The widths are known once every row is written; the library puts them before the rows.
    for (std::size_t c = 0; c < kNames.size(); ++c)
        out.note(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                      widths.width(c), c == 1 ? time : nullptr));
    setUpPrinting(out, sheet);
    if (!rowsWritten)
        return rowsWritten;

    std::vector<qint64> sheetRows = {out.rows()};
    if (!tests.empty()) {
        Result<lxw_worksheet*> results = book.addSheet("Results", shownPath);
        if (!results)
            return results.status();
        ResultsFormats formats;
        if (!formats.make(book.get()))
            return fail(QStringLiteral("Cannot write %1: out of memory").arg(shown(shownPath)));
        SheetWriter resultsOut(results.value());
        writeResults(resultsOut, results.value(), tests, formats);
        out.note(resultsOut.error());
        sheetRows.push_back(resultsOut.rows());
    }
    if (out.error() != LXW_NO_ERROR)
        return libraryFailure(shownPath, out.error());
    if (const int err = book.flushRows(); err != 0)
        return fail(
            QStringLiteral("Cannot write %1: %2").arg(shown(shownPath), systemErrorText(err)));

    errno = 0;
    const lxw_error closed = book.close();
    const int err = errno;
    if (closed != LXW_NO_ERROR)
        return libraryFailure(shownPath, closed, err);
    if (Status s = file.adoptWrittenFile(); !s)
        return s;
    if (Status s = checkWorkbook(file.temporaryPath(), shownPath, sheetRows); !s)
        return s;
    if (Status s = file.commit(); !s)
        return s;
    if (progress)
        progress(static_cast<qint64>(count), static_cast<qint64>(count));
    return {};
}

} // namespace kx
