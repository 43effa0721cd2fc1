#include "exports/xlsx_workbook.h"

#include "exports/readings_row_reader.h"

#include <QFile>
#include <QLoggingCategory>

#include <unzip.h>

#include <charconv>
#include <cstring>

namespace kx::xlsx {
namespace {

Q_LOGGING_CATEGORY(lcXlsx, "kx.export.xlsx")

// Bytes read at a time when the workbook is checked.
constexpr std::size_t kCheckChunk = 256 * 1024;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
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

} // namespace

Failure libraryFailure(const QString& path, lxw_error e, int err) {
    const QString library = QString::fromUtf8(lxw_strerror(e));
    if (err != 0)
        return fail(QStringLiteral("Cannot write %1: %2 (%3)")
                        .arg(shown(path), systemErrorText(err), library));
    return fail(QStringLiteral("Cannot write %1: %2").arg(shown(path), library));
}

double textWidth(std::string_view utf8) {
    double widest = 0;
    double line = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
        for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (c == '\n') {
            widest = std::max(widest, line);
            line = 0;
            continue;
        }
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
        line += wide ? 2 : 1;
    }
    return std::max(widest, line);
}

void ColumnWidths::number(std::size_t column, double v) {
    std::string shown;
    appendPlainNumber(shown, v);
    // The General format shows at most eleven characters of a number.
    fit(column, std::min<double>(11, static_cast<double>(shown.size())));
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

void setUpPrinting(SheetWriter& out, lxw_worksheet* sheet) {
    worksheet_set_landscape(sheet);
    worksheet_fit_to_pages(sheet, 1, 0);
    out.note(worksheet_repeat_rows(sheet, 0, 0));
}

} // namespace kx::xlsx
