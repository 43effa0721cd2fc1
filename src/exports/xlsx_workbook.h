// The workbook writer every .xlsx save shares: libxlsxwriter in its constant-memory mode,
// writing by name to the temporary file beside the target; cells written row by row with the
// first failure kept; column widths from the texts; and the packed workbook read back before
// it is put in place.
#pragma once

#include "common/regular_file.h"
#include "common/result.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::xlsx {

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
            return fail(QStringLiteral("Cannot write %1: %2")
                            .arg(QDir::toNativeSeparators(shownPath),
                                 errno ? systemErrorText(errno)
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

// "Cannot write PATH: the library's reason", with the system's when there is one.
Failure libraryFailure(const QString& path, lxw_error e, int err = 0);

// Characters a text takes in a cell: its widest line, a wide (East Asian) character as two.
double textWidth(std::string_view utf8);

// The widest cell of each column so far, in characters; a column's width is that with a
// little room on either side, and never wider than kWidestColumn: a longer text wraps (or is
// cut at the cell's edge) rather than pushing every other column off the printed page.
constexpr double kWidestColumn = 60;
constexpr double kColumnPadding = 2;
// The width's unit is a digit of the sheet's font; readers that set the sheet in a font of
// their own (a substitute for one they lack) take up to this much more for a text.
constexpr double kOtherFonts = 1.15;
// "hh:mm:ss.000": twelve characters, and some readers set digits wider than the width's unit.
constexpr double kTimeWidth = 14;

class ColumnWidths {
public:
    explicit ColumnWidths(std::size_t columns) : chars_(columns, 0) {}

    void fit(std::size_t column, double chars) { chars_[column] = std::max(chars_[column], chars); }
    void text(std::size_t column, std::string_view utf8) { fit(column, textWidth(utf8)); }
    void number(std::size_t column, double v);

    double width(std::size_t column, double widest = kWidestColumn) const {
        return std::min(widest, chars_[column] * kOtherFonts + kColumnPadding);
    }
    std::size_t size() const { return chars_.size(); }

private:
    std::vector<double> chars_;
};

// Reads the packed workbook back: every part must inflate to the size and checksum the zip
// lists and, as XML, end with the closing tag of its root element; `sheetRows` holds the rows
// each sheet's XML must list, in sheet order.
Status checkWorkbook(const QString& file, const QString& shownPath,
                     const std::vector<qint64>& sheetRows);

// The sheet prints across the width of a landscape page, its header on every page.
void setUpPrinting(SheetWriter& out, lxw_worksheet* sheet);

} // namespace kx::xlsx
