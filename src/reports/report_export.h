#pragma once

#include "common/result.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace kx {

class ReplacingFile;

class ReportDocument;

// The kinds of file a report is saved as.
enum class ReportFileKind { Pdf, Text, Csv, Html };

// The kind a file name asks for by its extension (".pdf", ".txt", ".csv", ".htm", ".html", in
// any case); nothing for other names.
std::optional<ReportFileKind> reportFileKindFor(const QString& path);

// Told after each page with the pages done and the pages in all; returning false cancels.
using ReportProgress = std::function<bool(int done, int total)>;

enum class SaveOutcome { Saved, Cancelled };

// Refuses a target that must not be replaced, by the rules of the table exports: a folder,
// something that is not a regular file (a pipe, a device), a read-only file, a table in use,
// or a name in a folder that does not exist or may not be written.
Status checkReportTarget(const QString& path);

// A report file being written: everything goes to a temporary file beside the target (the
// program's one writer, ReplacingFile), which finish() renames into place once it is all on
// disk. A write that failed anywhere (a full disk) fails finish() with the path and the
// system's reason, even when the writer drawing into the device did not notice. A file
// abandoned (destroyed unfinished) leaves the target as it was and no temporary behind.
class ReportFile {
public:
    static Result<std::unique_ptr<ReportFile>> begin(const QString& path);
    ~ReportFile();

    QIODevice& device();
    const QString& path() const { return path_; }
    // The first write failure so far, naming the path.
    Status status() const;
    Status finish();

private:
    ReportFile(const QString& path, std::unique_ptr<ReplacingFile> file);
    QString path_;
    std::unique_ptr<ReplacingFile> file_;
};

// Writes a report as plain text, comma-separated text or an HTML document, page by page.
//  - Text: each band a line, its texts set in columns of 2.54 mm; pages separated by a form
//    feed; code page 936 bytes, CR LF line ends.
//  - CSV: each band that prints texts a line of them, left to right, separated by ",", quoted
//    where a text holds a comma, a quote or a line end (RFC 4180) and kept from being read as
//    a formula as the readings' .csv export has it (appendCsvText); UTF-8 with a byte-order
//    mark, CR LF. A text whose printed form a spreadsheet would misread is written in the form
//    its layout gives for CSV (ReportText::csvText, csvField): a duration in seconds.
//  - HTML: one UTF-8 document that says so (<meta charset="utf-8">), each page a block of A4
//    with its bands and texts at their places and the report's picture embedded.
// Pdf is not a text kind: the page painter writes it.
Result<SaveOutcome> writeReportText(const ReportDocument& doc, ReportFileKind kind, QIODevice& out,
                                    const ReportProgress& progress = {});
// The same into a file, through a temporary file renamed into place; a cancelled or failed
// save leaves an existing file of that name untouched.
Result<SaveOutcome> saveReportText(const ReportDocument& doc, ReportFileKind kind,
                                   const QString& path, const ReportProgress& progress = {});

// One line of the text export: texts at character columns, each pushed right past the one
// before it so that neighbours keep a blank between them; trailing blanks dropped. A
// character outside ASCII takes two columns, as it does in code page 936 text.
struct PlacedText {
    int column = 0;
    QString text;
};
QString layTextLine(std::vector<PlacedText> texts);

} // namespace kx
