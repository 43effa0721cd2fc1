#include "reports/report_document.h"

#include "analysis/details_file.h"
#include "common/cp936.h"
#include "readings/readings_table.h"
#include "reports/results_report.h"

#include <QLocale>

#include <algorithm>
#include <limits>

namespace kx {
namespace {

constexpr int kRecordsPerPage = 37;

int heightOf(const ReportLayout& l, BandKind k) {
    const ReportBand* b = l.band(k);
    return b ? tenthsOfMm(b->height) : 0;
}

qint64 recordsOf(const ReadingsTable& t) {
    return t.isOpen() ? t.rowCount() : 0;
}

// What the page total counts: the open table's records, or one for a closed table.
qint64 countForTotal(const ReadingsTable& t) {
    return t.isOpen() ? t.rowCount() : 1;
}

// The stored-data report looks for the stored table's names first.
bool storeNamesFirst(ReportKind kind) {
    return kind == ReportKind::Store;
}

ReadingsFieldMap fieldsOf(ReportKind kind, const ReadingsTable* t) {
    ReadingsFieldMap none;
    none.fill(-1);
    if (!t || !t->isOpen())
        return none;
    return matchReadingsFields(t->fields(), storeNamesFirst(kind)).value_or(none);
}

// Field texts are mostly plain ASCII; only units carry the two-byte ohm sign.
QString fieldString(const std::string& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return fromCp936(bytes);
    }
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

int reportPageTotal(qint64 records) {
    if (records <= kRecordsPerPage)
        return 1;
    const qint64 pages = records / kRecordsPerPage + (records % kRecordsPerPage ? 1 : 0);
    return static_cast<int>(std::min<qint64>(pages, std::numeric_limits<int>::max()));
}

ReportPagination::ReportPagination(const ReportLayout& layout, qint64 records)
    : layout_(&layout), records_(std::max<qint64>(records, 0)) {
    details_ = layout.boundToTable ? std::max<qint64>(records_, 1) : 1;
    const int page = tenthsOfMm(kPrintableHeightMm);
    const int header = heightOf(layout, BandKind::PageHeader);
    const int title = heightOf(layout, BandKind::Title);
    const int columns = heightOf(layout, BandKind::ColumnHeader);
    const int footer = heightOf(layout, BandKind::PageFooter);
    const int detail = std::max(1, heightOf(layout, BandKind::Detail));
    const int summary = heightOf(layout, BandKind::Summary);

    // A band that does not fit still gets a page of its own rather than none.
    first_ = std::max(1, (page - header - title - columns - footer) / detail);
    later_ = std::max(1, (page - header - columns - footer) / detail);

    qint64 pages = 1;
    qint64 lastRows = details_;
    if (details_ > first_) {
        const qint64 rest = details_ - first_;
        pages = 1 + (rest + later_ - 1) / later_;
        lastRows = rest - (pages - 2) * later_;
    }
    if (layout.band(BandKind::Summary)) {
        const qint64 used = header + (pages == 1 ? title : 0) + columns + lastRows * detail;
        summaryOwnPage_ = used + summary > page - footer;
    }
    const qint64 limit = std::numeric_limits<int>::max() - 1;
    detailPages_ = static_cast<int>(std::min(pages, limit));
    pageCount_ = detailPages_ + (summaryOwnPage_ ? 1 : 0);
}

ReportPage ReportPagination::page(int index) const {
    ReportPage p;
    p.number = index + 1;
    if (index < 0 || index >= pageCount_)
        return p;
    const ReportLayout& l = *layout_;
    double y = 0;
    auto place = [&](const ReportBand* b, qint64 record = -1) {
        if (!b)
            return;
        p.bands.push_back({b, y, record});
        y += tenthsOfMm(b->height) / 10.0;
    };
    place(l.band(BandKind::PageHeader));
    if (index == 0)
        place(l.band(BandKind::Title));
    place(l.band(BandKind::ColumnHeader));
    if (index < detailPages_) {
        const qint64 start = index == 0 ? 0 : first_ + qint64(index - 1) * later_;
        const qint64 end = std::min<qint64>(details_, start + (index == 0 ? first_ : later_));
        const ReportBand* detail = l.band(BandKind::Detail);
        for (qint64 r = start; r < end; ++r)
            place(detail, layout_->boundToTable && records_ > 0 ? r : -1);
    }
    const bool summaryHere = summaryOwnPage_ ? index == pageCount_ - 1 : index == detailPages_ - 1;
    if (summaryHere)
        place(l.band(BandKind::Summary));
    if (const ReportBand* footer = l.band(BandKind::PageFooter)) {
        y = (tenthsOfMm(kPrintableHeightMm) - tenthsOfMm(footer->height)) / 10.0;
        place(footer);
    }
    return p;
}

ReportDocument::ReportDocument(ReportKind kind, const ReadingsTable* table, int pageTotal,
                               QDate date, QString picturePath)
    : layout_(&reportLayout(kind)), table_(layout_->boundToTable ? table : nullptr),
      fields_(fieldsOf(kind, table_)), records_(table_ ? recordsOf(*table_) : 0),
      pagination_(*layout_, records_), pageTotal_(pageTotal), date_(date),
      picturePath_(std::move(picturePath)) {}

ReportDocument::ReportDocument(std::shared_ptr<const ResultsReportData> results, QDate date)
    : layout_(&reportLayout(ReportKind::Results)), table_(nullptr),
      fields_(fieldsOf(ReportKind::Results, nullptr)),
      records_(results ? static_cast<qint64>(results->tests.size()) : 0),
      pagination_(*layout_, records_), pageTotal_(pagination_.pageCount()), date_(date),
      results_(std::move(results)) {}

QString ReportDocument::dateText() const {
    return QLocale::system().toString(date_, QLocale::ShortFormat);
}

QString ReportDocument::text(const ReportText& item, const PlacedBand& placed,
                             int pageNumber) const {
    switch (item.source) {
    case ReportText::Source::Literal:
        return item.text;
    case ReportText::Source::Field:
        if (!table_ || placed.record < 0 || placed.record >= records_)
            return {};
        if (item.role >= 0 && item.role < kReadingsFieldCount)
            return fieldString(
                table_->fieldText(placed.record, fields_[static_cast<std::size_t>(item.role)]));
        return fieldString(table_->fieldText(placed.record, std::string_view(item.field)));
    case ReportText::Source::PrintDate:
        return dateText();
    case ReportText::Source::PageNumber:
        return QString::number(pageNumber);
    case ReportText::Source::PageTotal:
        return QString::number(pageTotal_);
    case ReportText::Source::Result:
    case ReportText::Source::Detail:
        if (!results_)
            return {};
        if (item.source == ReportText::Source::Result && placed.record >= records_)
            return {};
        return resultsReportText(*results_, item.source, placed.record, item.field);
    }
    return {};
}

ReportColor ReportDocument::colorOf(const ReportText& item, const PlacedBand& placed) const {
    if (item.color != ReportColor::ByVerdict)
        return item.color;
    return results_ ? resultsVerdictColor(*results_, placed.record) : ReportColor::Black;
}

Status checkReportTable(ReportKind kind, const ReadingsTable& table) {
    if (!reportLayout(kind).boundToTable || !table.isOpen())
        return {};
    if (kind == ReportKind::Results) {
        // The tests need the readings' own fields, found by name.
        if (Result<ReadingsColumns> c = ReadingsColumns::find(table.fields()); !c)
            return fail(QStringLiteral("%1: %2").arg(table.filePath(), c.error()));
        return {};
    }
    return readingsFieldMap(table.fields(), table.filePath(), storeNamesFirst(kind)).status();
}

bool reportNeedsPicture(ReportKind kind) {
    return kind == ReportKind::Graph || kind == ReportKind::DataGraph;
}

QString noPictureMessage() {
    return QStringLiteral(" Warning:Please select graph to print! ");
}

Result<ReportDocument> prepareReport(ReportKind kind, const ReadingsTable* table,
                                     ReportState& state, QDate date) {
    if (reportNeedsPicture(kind) && state.GraphPicturePath.isEmpty())
        return fail(noPictureMessage());
    if (kind == ReportKind::Graph)
        return prepareGraphReport(state.GraphPicturePath, date);
    if (!table)
        return fail(ReadingsTable::closedMessage());
    if (Status s = checkReportTable(kind, *table); !s)
        return fail(s.error());
    switch (kind) {
    case ReportKind::Store:
        return prepareStoreReport(state, *table, date);
    case ReportKind::Results: {
        const TestDetails details = table->tableName().isEmpty()
                                        ? TestDetails{}
                                        : readTestDetails(table->filePath()).details;
        Result<std::shared_ptr<const ResultsReportData>> data = resultsReportOf(*table, details);
        if (!data)
            return fail(data.error());
        return prepareResultsReport(data.take(), date);
    }
    case ReportKind::DataGraph:
        return prepareDataGraphReport(*table, state.GraphPicturePath, date);
    default:
        return prepareDataReport(state, *table, date);
    }
}

ReportDocument prepareDataReport(ReportState& state, const ReadingsTable& live, QDate date) {
    state.DataReportPages = reportPageTotal(countForTotal(live));
    return ReportDocument(ReportKind::Data, &live, state.DataReportPages, date);
}

ReportDocument prepareStoreReport(ReportState& state, const ReadingsTable& store, QDate date) {
    state.StoreReportPages = reportPageTotal(countForTotal(store));
    return ReportDocument(ReportKind::Store, &store, state.StoreReportPages, date);
}

ReportDocument prepareGraphReport(const QString& picture, QDate date) {
    return ReportDocument(ReportKind::Graph, nullptr, 1, date, picture);
}

ReportDocument prepareDataGraphReport(const ReadingsTable& live, const QString& picture,
                                      QDate date) {
    return ReportDocument(ReportKind::DataGraph, &live, 1, date, picture);
}

ReportDocument prepareResultsReport(std::shared_ptr<const ResultsReportData> results, QDate date) {
    return ReportDocument(std::move(results), date);
}

} // namespace kx
