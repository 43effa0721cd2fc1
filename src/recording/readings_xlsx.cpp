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
#include "recording/readings_exports.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_row_reader.h"
#include "recording/readings_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <unzip.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kx {
namespace {

Q_LOGGING_CATEGORY(lcXlsx, "kx.export.xlsx")

// Bytes read at a time when the workbook is checked.
constexpr std::size_t kCheckChunk = 256 * 1024;

constexpr double kMsPerDay = 86'400'000.0;
constexpr const char* kTimeFormat = "hh:mm:ss.000";

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The workbook being written. Dropped unwritten unless it was closed: a cancelled or failed
// save leaves nothing of the library's behind, its working files included.
class Workbook {
public:
    Workbook(const QByteArray& file, const QByteArray& workFolder, bool zip64)
        : folder_(workFolder) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = folder_.data();
        options.use_zip64 = zip64 ? LXW_TRUE : LXW_FALSE;
        book_ = workbook_new_opt(file.constData(), &options);
    }
    ~Workbook() { discard(); }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    lxw_workbook* get() const { return book_; }

    // A new sheet, or the reason why there is none: in this mode each sheet starts with a
    // working file of its own.
    Result<lxw_worksheet*> addSheet(const char* name, const QString& shownPath) {
        errno = 0;
        lxw_worksheet* sheet = workbook_add_worksheet(book_, name);
        if (!sheet)
            return fail(
                QStringLiteral("Cannot write %1: %2")
                    .arg(shown(shownPath), errno ? systemErrorText(errno)
                                                 : QStringLiteral("the workbook library failed")));
        sheets_.push_back(sheet);
        return sheet;
    }

    // The rows a sheet has written so far are on disk, or the system's reason why not: the
    // library does not look at what its writes to its working files return.
    int flushRows() {
        for (lxw_worksheet* sheet : sheets_) {
            FILE* f = sheet->optimize_tmpfile;
            if (!f)
                continue;
            errno = 0;
            if (std::fflush(f) != 0 || std::ferror(f))
                return errno ? errno : EIO;
        }
        return 0;
    }

    lxw_error close() {
        lxw_workbook* book = book_;
        book_ = nullptr;
        sheets_.clear();
        return workbook_close(book);
    }

    void discard() {
        if (!book_)
            return;
        // The working files of the rows are closed here (they have no name: closing them
        // frees their room); the library's free does not close them.
        for (lxw_worksheet* sheet : sheets_) {
            if (sheet->optimize_tmpfile) {
                std::fclose(sheet->optimize_tmpfile);
                sheet->optimize_tmpfile = nullptr;
                sheet->file = nullptr;
            }
        }
        sheets_.clear();
        lxw_workbook_free(book_);
        book_ = nullptr;
    }

private:
    QByteArray folder_;
    lxw_workbook* book_ = nullptr;
    std::vector<lxw_worksheet*> sheets_;
};

// Cells of one sheet, row by row; the first failure of the library is kept and every later
// call does nothing.
class SheetWriter {
public:
    explicit SheetWriter(lxw_worksheet* sheet) : sheet_(sheet) {}

    void number(lxw_row_t row, lxw_col_t col, double v, lxw_format* format = nullptr) {
        if (error_ != LXW_NO_ERROR)
            return;
        error_ = worksheet_write_number(sheet_, row, col, v, format);
        count(row);
    }
    void text(lxw_row_t row, lxw_col_t col, std::string_view s, lxw_format* format = nullptr) {
        if (s.empty() || error_ != LXW_NO_ERROR)
            return;
        // The library wants the terminating NUL. A line break in a cell is LF alone; a CR
        // would show as "_x000D_" in some readers.
        scratch_.clear();
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '\r')
                scratch_ += s[i];
            else if (i + 1 == s.size() || s[i + 1] != '\n')
                scratch_ += '\n';
        }
        error_ = worksheet_write_string(sheet_, row, col, scratch_.c_str(), format);
        count(row);
    }
    void optionalNumber(lxw_row_t row, lxw_col_t col, const std::optional<double>& v,
                        lxw_format* format = nullptr) {
        if (v)
            number(row, col, *v, format);
    }
    void note(lxw_error e) {
        if (error_ == LXW_NO_ERROR)
            error_ = e;
    }
    lxw_error error() const { return error_; }
    // Rows that hold at least one cell: those the sheet's XML lists.
    qint64 rows() const { return rows_; }

private:
    void count(lxw_row_t row) {
        if (rows_ == 0 || row != lastRow_)
            ++rows_;
        lastRow_ = row;
    }

    lxw_worksheet* sheet_;
    lxw_error error_ = LXW_NO_ERROR;
    std::string scratch_;
    qint64 rows_ = 0;
    lxw_row_t lastRow_ = 0;
};

Failure libraryFailure(const QString& path, lxw_error e, int err = 0) {
    const QString library = QString::fromUtf8(lxw_strerror(e));
    if (err != 0)
        return fail(QStringLiteral("Cannot write %1: %2 (%3)")
                        .arg(shown(path), systemErrorText(err), library));
    return fail(QStringLiteral("Cannot write %1: %2").arg(shown(path), library));
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

// Column widths in characters: the header, or the texts the field can hold, up to a limit.
double columnWidth(const ReadingsTable& table, const ReadingsFieldMap& map, int column) {
    constexpr std::array<double, 8> kMinimum = {8, 13, 10, 8, 12, 10, 16, 10};
    double width = kMinimum[static_cast<std::size_t>(column)];
    if (column >= 2 && column <= 5) {
        const px::FieldDef& f = table.fields()[static_cast<std::size_t>(map[column])];
        if (f.type == px::FieldType::Alpha)
            width = std::max(width, std::min(40.0, f.size + 2.0));
    }
    return width;
}

// Counts a tag in a text that comes in pieces, also where a piece boundary cuts it.
class TagCounter {
public:
    explicit TagCounter(std::string_view tag) : tag_(tag) {}

    qint64 count(std::string_view piece) {
        qint64 n = 0;
        // Across the boundary: the end of the text so far (shorter than the tag) and the start
        // of the piece; any tag found there lies across it.
        std::string joint = carry_;
        joint.append(piece.substr(0, std::min(piece.size(), tag_.size() - 1)));
        for (std::size_t at = joint.find(tag_); at != std::string::npos;
             at = joint.find(tag_, at + 1))
            ++n;
        for (std::size_t at = piece.find(tag_); at != std::string_view::npos;
             at = piece.find(tag_, at + 1))
            ++n;
        const std::size_t keep = tag_.size() - 1;
        if (piece.size() >= keep) {
            carry_.assign(piece.substr(piece.size() - keep));
        } else {
            carry_ += piece;
            if (carry_.size() > keep)
                carry_.erase(0, carry_.size() - keep);
        }
        return n;
    }

private:
    std::string_view tag_;
    std::string carry_;
};

// The name of an XML text's root element, from its start; empty when there is none.
std::string_view rootElement(std::string_view head) {
    std::size_t at = 0;
    for (;;) {
        at = head.find('<', at);
        if (at == std::string_view::npos || at + 1 >= head.size())
            return {};
        if (head[at + 1] != '?' && head[at + 1] != '!')
            break;
        ++at;
    }
    const std::size_t end = head.find_first_of(" \t\r\n/>", at + 1);
    if (end == std::string_view::npos)
        return {};
    return head.substr(at + 1, end - at - 1);
}

// Reads the packed workbook back: every part must inflate to the size and checksum the zip
// lists and, as XML, end with the closing tag of its root element; `sheetRows` holds the rows
// each sheet's XML must list, in sheet order.
Status checkWorkbook(const QString& file, const QString& shownPath,
                     const std::vector<qint64>& sheetRows) {
    auto broken = [&](const QString& why) {
        qCWarning(lcXlsx).noquote() << "workbook" << shown(file) << "failed its check:" << why;
        return fail(QStringLiteral("Cannot write %1: the workbook came out incomplete (%2), "
                                   "most likely for want of room on the disk")
                        .arg(shown(shownPath), why));
    };
    unzFile zip = unzOpen64(QFile::encodeName(file).constData());
    if (!zip)
        return broken(QStringLiteral("it is no zip file"));
    struct Closer {
        unzFile z;
        ~Closer() { unzClose(z); }
    } closer{zip};

    std::vector<char> buf(kCheckChunk);
    std::vector<bool> seen(sheetRows.size(), false);
    int rc = unzGoToFirstFile(zip);
    if (rc != UNZ_OK)
        return broken(QStringLiteral("it lists no parts"));
    for (; rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[256] = {};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            return broken(QStringLiteral("a part cannot be read"));
        const std::string_view part(name);
        // "xl/worksheets/sheetN.xml": which sheet's rows to count.
        int sheet = -1;
        if (part.starts_with("xl/worksheets/sheet") && part.ends_with(".xml")) {
            const std::string_view n = part.substr(19, part.size() - 19 - 4);
            int k = 0;
            const auto r = std::from_chars(n.data(), n.data() + n.size(), k);
            if (r.ec == std::errc() && r.ptr == n.data() + n.size() && k >= 1 &&
                k <= static_cast<int>(sheetRows.size()))
                sheet = k - 1;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK)
            return broken(QStringLiteral("%1 cannot be opened").arg(QString::fromUtf8(name)));
        qint64 rows = 0;
        TagCounter rowTags("<row ");
        std::string head;
        std::string tail;
        for (;;) {
            const int n = unzReadCurrentFile(zip, buf.data(), static_cast<unsigned>(buf.size()));
            if (n < 0) {
                unzCloseCurrentFile(zip);
                return broken(QStringLiteral("%1 is damaged").arg(QString::fromUtf8(name)));
            }
            if (n == 0)
                break;
            std::string_view piece(buf.data(), static_cast<std::size_t>(n));
            if (sheet >= 0)
                rows += rowTags.count(piece);
            if (head.size() < 512)
                head.append(piece.substr(0, 512 - head.size()));
            tail.append(piece.substr(piece.size() - std::min<std::size_t>(piece.size(), 64)));
            if (tail.size() > 64)
                tail.erase(0, tail.size() - 64);
        }
        if (unzCloseCurrentFile(zip) != UNZ_OK)
            return broken(QStringLiteral("%1 fails its checksum").arg(QString::fromUtf8(name)));
        if (part.ends_with(".xml") || part.ends_with(".rels")) {
            while (!tail.empty() &&
                   (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' '))
                tail.pop_back();
            const std::string_view root = rootElement(head);
            if (root.empty() || !std::string_view(tail).ends_with("</" + std::string(root) + ">"))
                return broken(QStringLiteral("%1 is cut short").arg(QString::fromUtf8(name)));
        }
        if (sheet >= 0) {
            seen[static_cast<std::size_t>(sheet)] = true;
            if (rows != sheetRows[static_cast<std::size_t>(sheet)])
                return broken(QStringLiteral("%1 holds %2 rows of %3")
                                  .arg(QString::fromUtf8(name))
                                  .arg(rows)
                                  .arg(sheetRows[static_cast<std::size_t>(sheet)]));
        }
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE)
        return broken(QStringLiteral("its list of parts is damaged"));
    if (std::find(seen.begin(), seen.end(), false) != seen.end())
        return broken(QStringLiteral("a sheet is missing"));
    return {};
}

void writeResults(SheetWriter& out, lxw_worksheet* sheet,
                  const std::vector<InsulationResult>& tests, lxw_format* header,
                  lxw_format* time) {
    const std::array<std::string, 21> names = {
        "Test",
        "Mode",
        "Function",
        "Test voltage (V)",
        "First No",
        "Last No",
        "Start",
        "Duration (s)",
        "R15 (\xCE\xA9)",
        "R30 (\xCE\xA9)",
        "R60 (\xCE\xA9)",
        "R600 (\xCE\xA9)",
        "DAR",
        "DAR15",
        "PI",
        "Temperature (\xC2\xB0"
        "C)",
        "Base temperature (\xC2\xB0"
        "C)",
        "R60 corrected (\xCE\xA9)",
        "Minimum (\xCE\xA9)",
        "Verdict",
        "Reasons",
    };
    for (std::size_t c = 0; c < names.size(); ++c) {
        out.text(0, static_cast<lxw_col_t>(c), names[c], header);
        const double width = c == 2 ? 22 : c == 20 ? 60 : std::max<double>(10, names[c].size() + 2);
        out.note(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                      width, c == 6 ? time : nullptr));
    }
    worksheet_freeze_panes(sheet, 1, 0);
    Utf8Texts modes, functions;
    lxw_row_t row = 1;
    for (const InsulationResult& t : tests) {
        out.number(row, 0, t.test);
        out.text(row, 1, modes.convert(t.mode));
        out.text(row, 2, functions.convert(t.function));
        if (t.testVoltage)
            out.number(row, 3, *t.testVoltage);
        out.number(row, 4, static_cast<double>(t.first));
        out.number(row, 5, static_cast<double>(t.last));
        out.number(row, 6, t.startMs / kMsPerDay, time);
        out.number(row, 7, t.duration);
        out.optionalNumber(row, 8, t.r15);
        out.optionalNumber(row, 9, t.r30);
        out.optionalNumber(row, 10, t.r60);
        out.optionalNumber(row, 11, t.r600);
        out.optionalNumber(row, 12, t.dar);
        out.optionalNumber(row, 13, t.dar15);
        out.optionalNumber(row, 14, t.pi);
        out.optionalNumber(row, 15, t.temperature);
        out.number(row, 16, t.baseTemperature);
        out.optionalNumber(row, 17, t.r60Corrected);
        out.number(row, 18, t.minimum);
        out.text(row, 19, verdictText(t.verdict).toStdString());
        out.text(row, 20, t.reasons.join(QStringLiteral("; ")).toStdString());
        ++row;
    }
    if (!tests.empty())
        out.note(
            worksheet_autofilter(sheet, 0, 0, row - 1, static_cast<lxw_col_t>(names.size() - 1)));
}

} // namespace

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
    if (count > static_cast<std::size_t>(kXlsxMaxReadings))
        return fail(QStringLiteral("Cannot write %1: a sheet holds at most %2 readings and the "
                                   "table has %3; save it as .csv or .jsonl")
                        .arg(shown(QFileInfo(path).absoluteFilePath()))
                        .arg(kXlsxMaxReadings)
                        .arg(count));

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
    for (int c = 0; c < 8; ++c) {
        out.note(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                      columnWidth(table, reader.fields(), c),
                                      c == 1 ? time : nullptr));
        out.text(0, static_cast<lxw_col_t>(c), kNames[static_cast<std::size_t>(c)], header);
    }
    worksheet_freeze_panes(sheet, 1, 0);
    out.note(worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(count), 7));

    const Status rowsWritten = forEachExportRow(reader, progress, [&](std::size_t i,
                                                                      const ExportRow& r) {
        const auto row = static_cast<lxw_row_t>(i + 1);
        switch (r.no.kind) {
        case ExportNumber::Kind::Integer:
            out.number(row, 0, static_cast<double>(r.no.integer));
            break;
        case ExportNumber::Kind::Real:
            out.number(row, 0, r.no.real);
            break;
        case ExportNumber::Kind::Text:
            out.text(row, 0, r.no.text);
            break;
        case ExportNumber::Kind::Missing:
            break;
        }
        if (r.timeMs)
            out.number(row, 1, *r.timeMs / kMsPerDay, time);
        else
            out.text(row, 1, r.timeText);
        out.text(row, 2, r.value);
        out.text(row, 3, r.unit);
        out.text(row, 4, r.function);
        out.text(row, 5, r.remark);
        out.optionalNumber(row, 6, r.baseValue);
        out.text(row, 7, r.baseUnit);
        if (out.error() != LXW_NO_ERROR)
            return Status(libraryFailure(shownPath, out.error()));
        return Status();
    });
    if (!rowsWritten)
        return rowsWritten;

    std::vector<qint64> sheetRows = {out.rows()};
    if (!tests.empty()) {
        Result<lxw_worksheet*> results = book.addSheet("Results", shownPath);
        if (!results)
            return results.status();
        SheetWriter resultsOut(results.value());
        writeResults(resultsOut, results.value(), tests, header, time);
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
