#include "exports/readings_exports.h"

#include "common/replacing_file.h"
#include "exports/export_target.h"
#include "exports/readings_row_reader.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/reading_quantity.h"
#include "readings/readings_table.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <charconv>

namespace kx {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::array<const char*, 8> kColumnNames = {"No",       "Time",   "Value",     "Unit",
                                                     "Function", "Remark", "BaseValue", "BaseUnit"};

bool isPlainNumber(std::string_view s) {
    return readingNumber(s, {}).has_value();
}

bool onlyDashes(std::string_view s) {
    for (const char c : s) {
        if (c != '-' && c != ' ')
            return false;
    }
    return true;
}

// What a spreadsheet would run as a formula when it opens the file.
bool looksLikeFormula(std::string_view s) {
    if (s.empty())
        return false;
    switch (s.front()) {
    case '=':
    case '@':
    case '\t':
    case '\r':
        return true;
    case '+':
    case '-':
        return !isPlainNumber(s) && !onlyDashes(s);
    default:
        return false;
    }
}

void appendCsvField(std::string& out, std::string_view s, char delimiter, bool guard) {
    bool quote = false;
    for (const char c : s) {
        if (c == delimiter || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        if (guard)
            out += '\'';
        out += s;
        return;
    }
    out += '"';
    if (guard)
        out += '\'';
    for (const char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

class CsvLine {
public:
    CsvLine(std::string& out, const CsvOptions& options)
        : out_(out), delimiter_(options.delimiter), decimalMark_(options.decimalComma ? ',' : '.') {
    }

    void text(std::string_view s) { field(s, looksLikeFormula(s)); }

    void field(std::string_view s, bool guard) {
        separate();
        appendCsvField(out_, s, delimiter_, guard);
    }

    // A number written by the caller into a field of its own; quoted when the decimal mark is
    // the delimiter.
    void number(std::string_view digits) {
        separate();
        if (digits.find(delimiter_) == std::string_view::npos) {
            out_ += digits;
            return;
        }
        out_ += '"';
        out_ += digits;
        out_ += '"';
    }

    void integer(std::int64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        number(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    }

    void real(double v) {
        scratch_.clear();
        appendPlainNumber(scratch_, v, decimalMark_);
        number(scratch_);
    }

    void value(std::string_view s) {
        if (decimalMark_ != '.' && s.find('.') != std::string_view::npos && isPlainNumber(s)) {
            scratch_.assign(s);
            for (char& c : scratch_) {
                if (c == '.')
                    c = decimalMark_;
            }
            field(scratch_, false); // a number, however it begins
            return;
        }
        text(s);
    }

    // A time of day, its millisecond mark the decimal mark: a spreadsheet set to a decimal
    // comma reads "08:00:07,000" as a time and keeps "08:00:07.000" as a text.
    void time(std::int32_t msOfDay) {
        scratch_.clear();
        appendTimeOfDay(scratch_, msOfDay);
        if (decimalMark_ != '.')
            std::replace(scratch_.begin(), scratch_.end(), '.', decimalMark_);
        number(scratch_);
    }

    void empty() { separate(); }

    void end() {
        out_ += "\r\n";
        first_ = true;
    }

private:
    void separate() {
        if (!first_)
            out_ += delimiter_;
        first_ = false;
    }

    std::string& out_;
    char delimiter_;
    char decimalMark_;
    bool first_ = true;
    std::string scratch_;
};

void appendJsonString(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\') {
            out += c;
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            break;
        }
    }
    out += '"';
}

void appendJsonText(std::string& out, std::string_view s) {
    if (s.empty())
        out += "null";
    else
        appendJsonString(out, s);
}

// The steps every one of these saves takes: the table and the target checked before any
// work, then the file begun beside the target, the records written through `writeRow`, and
// the file put in place.
template <typename WriteFile>
Status saveThrough(const ReadingsTable& table, const QString& path, ExportKind kind,
                   const ExportProgress& progress, WriteFile writeFile) {
    Result<std::unique_ptr<ReadingsRowReader>> reader = ReadingsRowReader::open(table, kind);
    if (!reader)
        return reader.status();
    Result<std::unique_ptr<px::TableLock>> target = claimExportTarget(path, &table);
    if (!target)
        return target.status();
    Result<std::unique_ptr<ReplacingFile>> file = ReplacingFile::begin(path);
    if (!file)
        return file.status();
    // A failed or cancelled save drops the temporary file with the writer.
    if (Status s = writeFile(*reader.value(), *file.value()); !s)
        return s;
    if (Status s = file.value()->commit(); !s)
        return s;
    if (progress) {
        const auto count = static_cast<qint64>(reader.value()->count());
        progress(count, count);
    }
    return {};
}

template <typename WriteRow>
Status writeRows(ReadingsRowReader& reader, ChunkedWriter& out, const ExportProgress& progress,
                 WriteRow writeRow) {
    if (Status s = forEachExportRow(reader, progress,
                                    [&](std::size_t, const ExportRow& row) {
                                        writeRow(row);
                                        return out.maybeWrite();
                                    });
        !s)
        return s;
    return out.write();
}

} // namespace

Status checkReadingsExportTarget(const QString& path, const ReadingsTable* table) {
    return claimExportTarget(path, table).status();
}

void appendCsvText(std::string& out, std::string_view text, char delimiter) {
    appendCsvField(out, text, delimiter, looksLikeFormula(text));
}

QByteArray csvHeader(const CsvOptions& options) {
    QByteArray line;
    for (const char* name : kColumnNames) {
        if (!line.isEmpty())
            line += options.delimiter;
        line += name;
    }
    return line + "\r\n";
}

Status saveReadingsCsv(const ReadingsTable& table, const QString& path, ExportKind kind,
                       const CsvOptions& options, const ExportProgress& progress) {
    if (options.delimiter != ',' && options.delimiter != ';')
        return fail(QStringLiteral("The delimiter of a CSV file is ',' or ';'"));
    return saveThrough(table, path, kind, progress,
                       [&](ReadingsRowReader& reader, ReplacingFile& f) {
                           ChunkedWriter out(f);
                           out.text() += kBom;
                           out.text() += csvHeader(options).toStdString();
                           CsvLine line(out.text(), options);
                           return writeRows(reader, out, progress, [&](const ExportRow& r) {
                               switch (r.no.kind) {
                               case ExportNumber::Kind::Integer:
                                   line.integer(r.no.integer);
                                   break;
                               case ExportNumber::Kind::Real:
                                   line.real(r.no.real);
                                   break;
                               case ExportNumber::Kind::Text:
                                   line.text(r.no.text);
                                   break;
                               case ExportNumber::Kind::Missing:
                                   line.empty();
                                   break;
                               }
                               if (r.timeMs)
                                   line.time(*r.timeMs);
                               else
                                   line.text(r.timeText);
                               line.value(r.value);
                               line.text(r.unit);
                               line.text(r.function);
                               line.text(r.remark);
                               if (r.baseValue)
                                   line.real(*r.baseValue);
                               else
                                   line.empty();
                               line.text(r.baseUnit);
                               line.end();
                           });
                       });
}

Status saveReadingsJsonLines(const ReadingsTable& table, const QString& path, ExportKind kind,
                             const ExportProgress& progress) {
    return saveThrough(
        table, path, kind, progress, [&](ReadingsRowReader& reader, ReplacingFile& f) {
            ChunkedWriter out(f);
            std::string& t = out.text();
            return writeRows(reader, out, progress, [&](const ExportRow& r) {
                t += "{\"no\":";
                switch (r.no.kind) {
                case ExportNumber::Kind::Integer: {
                    char buf[24];
                    const auto e = std::to_chars(buf, buf + sizeof buf, r.no.integer);
                    t.append(buf, e.ptr);
                    break;
                }
                case ExportNumber::Kind::Real:
                    appendPlainNumber(t, r.no.real);
                    break;
                case ExportNumber::Kind::Text:
                    appendJsonString(t, r.no.text);
                    break;
                case ExportNumber::Kind::Missing:
                    t += "null";
                    break;
                }
                t += ",\"time\":";
                if (r.timeMs) {
                    t += '"';
                    appendTimeOfDay(t, *r.timeMs);
                    t += '"';
                } else {
                    appendJsonText(t, r.timeText);
                }
                t += ",\"value\":";
                appendJsonText(t, r.value);
                t += ",\"unit\":";
                appendJsonText(t, r.unit);
                t += ",\"function\":";
                appendJsonText(t, r.function);
                t += ",\"remark\":";
                appendJsonText(t, r.remark);
                t += ",\"baseValue\":";
                if (r.baseValue)
                    appendPlainNumber(t, *r.baseValue);
                else
                    t += "null";
                t += ",\"baseUnit\":";
                appendJsonText(t, r.baseUnit);
                t += "}\n";
            });
        });
}

} // namespace kx
