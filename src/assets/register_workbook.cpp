#include "assets/register_workbook.h"

#include "common/replacing_file.h"
#include "exports/export_target.h"
#include "exports/xlsx_workbook.h"
#include "paradox/paradox_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace kx {
namespace {

using namespace xlsx;

struct Formats {
    lxw_format* header = nullptr;
    lxw_format* date = nullptr;
    lxw_format* megohms = nullptr;
    lxw_format* ratio = nullptr;

    bool make(lxw_workbook* book) {
        for (lxw_format** f : {&header, &date, &megohms, &ratio}) {
            *f = workbook_add_format(book);
            if (!*f)
                return false;
        }
        format_set_bold(header);
        format_set_num_format(date, "yyyy-mm-dd hh:mm");
        format_set_num_format(megohms, "0.0##");
        format_set_num_format(ratio, "0.00");
        return true;
    }
};

std::string utf8(const QString& s) {
    return s.toStdString();
}

std::optional<double> megohms(const std::optional<double>& ohms) {
    if (!ohms)
        return std::nullopt;
    return *ohms / 1e6;
}

// Days since the sheet's day 0, with the time of day as the fraction.
double sheetDate(const QDateTime& t) {
    return static_cast<double>(QDate(1899, 12, 30).daysTo(t.date())) +
           t.time().msecsSinceStartOfDay() / 86'400'000.0;
}

// Writes a row of headers and fits the widths to them.
void headers(SheetWriter& out, ColumnWidths& widths, const std::vector<const char*>& names,
             lxw_format* f) {
    for (std::size_t c = 0; c < names.size(); ++c) {
        out.text(0, static_cast<lxw_col_t>(c), names[c], f);
        widths.fit(c, textWidth(names[c]) + 1);
    }
}

void finishSheet(SheetWriter& out, lxw_worksheet* sheet, const ColumnWidths& widths,
                 lxw_row_t rows) {
    for (std::size_t c = 0; c < widths.size(); ++c)
        out.note(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                      widths.width(c), nullptr));
    worksheet_freeze_panes(sheet, 1, 0);
    out.note(worksheet_autofilter(sheet, 0, 0, rows, static_cast<lxw_col_t>(widths.size() - 1)));
    setUpPrinting(out, sheet);
}

// Cells of a row left to right.
class RowWriter {
public:
    RowWriter(SheetWriter& out, ColumnWidths& widths, lxw_row_t row)
        : out_(out), widths_(widths), row_(row) {}
    void text(const QString& s) {
        const std::string t = utf8(s);
        out_.text(row_, col_, t);
        widths_.text(col_++, t);
    }
    void number(const std::optional<double>& v, lxw_format* f = nullptr) {
        if (v) {
            out_.number(row_, col_, *v, f);
            widths_.number(col_, *v);
        }
        ++col_;
    }
    void date(const std::optional<QDateTime>& t, lxw_format* f) {
        if (t && t->isValid()) {
            out_.number(row_, col_, sheetDate(*t), f);
            widths_.fit(col_, 16);
        }
        ++col_;
    }

private:
    SheetWriter& out_;
    ColumnWidths& widths_;
    lxw_row_t row_;
    lxw_col_t col_ = 0;
};

} // namespace

Result<RegisterWorkbookCounts> saveRegisterXlsx(AssetRegister& reg, const QString& path) {
    const QString target = QFileInfo(path).absoluteFilePath();
    if (reg.location().driver == DatabaseLocation::Driver::Sqlite) {
        const QString own = QFileInfo(reg.location().path).canonicalFilePath();
        if (!own.isEmpty() && QFileInfo(target).canonicalFilePath() == own)
            return fail(QStringLiteral("Cannot write %1: it is the register itself")
                            .arg(QDir::toNativeSeparators(target)));
    }
    Result<std::unique_ptr<px::TableLock>> claimed = claimExportTarget(target, nullptr);
    if (!claimed)
        return fail(claimed.error());
    AssetFilter all;
    all.includeRetired = true;
    Result<std::vector<AssetSummary>> assets = reg.list(all);
    if (!assets)
        return fail(assets.error());
    Result<std::vector<std::pair<QString, FiledTest>>> tests = reg.allTests();
    if (!tests)
        return fail(tests.error());

    Result<std::unique_ptr<ReplacingFile>> begun = ReplacingFile::begin(target);
    if (!begun)
        return fail(begun.error());
    ReplacingFile& file = *begun.value();
    const QString& shownPath = file.target();
    Workbook book(QFile::encodeName(file.temporaryPath()),
                  QFile::encodeName(QFileInfo(file.targetFile()).absolutePath()), false);
    Formats f;
    if (!book.get() || !f.make(book.get()))
        return fail(QStringLiteral("Cannot write %1: the workbook could not be started")
                        .arg(QDir::toNativeSeparators(shownPath)));

    Result<lxw_worksheet*> assetSheet = book.addSheet("Assets", shownPath);
    if (!assetSheet)
        return fail(assetSheet.error());
    SheetWriter assetsOut(assetSheet.value());
    const std::vector<const char*> assetNames = {
        "Tag",           "Name",         "Kind",           "Location", "Rated voltage (V)",
        "Thermal class", "Minimum (MΩ)", "PI minimum",     "Retired",  "Tests",
        "Last test",     "Last verdict", "Trend (%/year)", "Crossing", "Notes"};
    ColumnWidths assetWidths(assetNames.size());
    headers(assetsOut, assetWidths, assetNames, f.header);
    lxw_row_t row = 1;
    for (const AssetSummary& s : assets.value()) {
        RowWriter w(assetsOut, assetWidths, row++);
        const Asset& a = s.asset;
        w.text(a.tag);
        w.text(a.name);
        w.text(assetKindText(a.kind));
        w.text(a.location);
        w.number(a.ratedVoltage);
        w.text(a.thermalClass);
        w.number(minimumOhmsOf(a) / 1e6, f.megohms);
        w.number(piMinimumOf(a), f.ratio);
        w.text(a.retired ? QStringLiteral("yes") : QString());
        w.number(s.tests);
        w.date(s.lastTest, f.date);
        w.text(s.lastVerdict ? verdictText(*s.lastVerdict) : QString());
        w.number(s.slopePerYear, f.ratio);
        w.text(s.crossing ? s.crossing->toString(Qt::ISODate) : QString());
        w.text(a.notes);
    }
    finishSheet(assetsOut, assetSheet.value(), assetWidths, row - 1);

    Result<lxw_worksheet*> testSheet = book.addSheet("Tests", shownPath);
    if (!testSheet)
        return fail(testSheet.error());
    SheetWriter testsOut(testSheet.value());
    const std::vector<const char*> testNames = {"Tag",
                                                "Date",
                                                "Test voltage (V)",
                                                "R15 (MΩ)",
                                                "R30 (MΩ)",
                                                "R60 (MΩ)",
                                                "R600 (MΩ)",
                                                "DAR",
                                                "PI",
                                                "Temperature (°C)",
                                                "R60 at 40 °C (MΩ)",
                                                "Minimum (MΩ)",
                                                "Verdict",
                                                "Humidity",
                                                "Operator",
                                                "Notes",
                                                "Source file",
                                                "Source test",
                                                "Source SHA-256"};
    ColumnWidths testWidths(testNames.size());
    headers(testsOut, testWidths, testNames, f.header);
    row = 1;
    for (const auto& [tag, t] : tests.value()) {
        RowWriter w(testsOut, testWidths, row++);
        const InsulationResult& r = t.result;
        w.text(tag);
        w.date(t.testedAt, f.date);
        w.number(r.testVoltage ? std::optional<double>(*r.testVoltage) : std::nullopt);
        for (const auto& ohms : {r.r15, r.r30, r.r60, r.r600})
            w.number(megohms(ohms), f.megohms);
        w.number(r.dar, f.ratio);
        w.number(r.pi, f.ratio);
        w.number(r.temperature);
        w.number(megohms(r.r60Corrected), f.megohms);
        w.number(r.minimum / 1e6, f.megohms);
        w.text(verdictText(r.verdict));
        w.text(t.humidity);
        w.text(t.operatorName);
        w.text(t.notes);
        w.text(QDir::toNativeSeparators(t.sourcePath));
        w.number(t.sourceTest);
        w.text(t.sourceHash);
    }
    finishSheet(testsOut, testSheet.value(), testWidths, row - 1);

    assetsOut.note(testsOut.error());
    if (assetsOut.error() != LXW_NO_ERROR)
        return libraryFailure(shownPath, assetsOut.error());
    if (const int err = book.flushRows(); err != 0)
        return fail(QStringLiteral("Cannot write %1: %2")
                        .arg(QDir::toNativeSeparators(shownPath), systemErrorText(err)));
    errno = 0;
    const lxw_error closed = book.close();
    if (closed != LXW_NO_ERROR)
        return libraryFailure(shownPath, closed, errno);
    if (Status s = file.adoptWrittenFile(); !s)
        return fail(s.error());
    if (Status s =
            checkWorkbook(file.temporaryPath(), shownPath, {assetsOut.rows(), testsOut.rows()});
        !s)
        return fail(s.error());
    if (Status s = file.commit(); !s)
        return fail(s.error());
    return RegisterWorkbookCounts{static_cast<qint64>(assets.value().size()),
                                  static_cast<qint64>(tests.value().size())};
}

} // namespace kx
