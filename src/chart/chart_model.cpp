#include "chart/chart_model.h"

#include "common/app_dir.h"
#include "common/replacing_file.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kx {

qint64 chartPageCount(qint64 points, int perPage) {
    if (perPage < 1 || points <= 0)
        return 1;
    return (points + perPage - 1) / perPage;
}

PageButtons pressPageButton(PageButton button, PageButtons s, qint64 pageCount) {
    switch (button) {
    case PageButton::First:
        s.page = 1;
        s.firstPreviousEnabled = false;
        s.nextLastEnabled = true;
        break;
    case PageButton::Previous:
        if (s.page <= 1)
            s.firstPreviousEnabled = false;
        else
            --s.page;
        s.nextLastEnabled = true;
        break;
    case PageButton::Next:
        if (s.page >= pageCount)
            s.nextLastEnabled = false;
        else
            ++s.page;
        s.firstPreviousEnabled = true;
        break;
    case PageButton::Last:
        s.page = pageCount;
        s.firstPreviousEnabled = true;
        s.nextLastEnabled = false;
        break;
    }
    return s;
}

Result<int> pointsPerPageFromText(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return fail(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return n;
}

bool isPointsPerPageKey(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QChar(8);
}

QString chartPictureName(const QDateTime& when, const QString& pageLabel) {
    return when.toString(QStringLiteral("yyMMddHHmm")) + QStringLiteral("page") + pageLabel +
           QStringLiteral(".bmp");
}

namespace {

// The writer's reason, in the picture's own message.
Failure pictureFailure(const QString& path, const Status& s) {
    QString reason = s.error();
    const QString said = QStringLiteral("Cannot write %1: ")
                             .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    if (reason.startsWith(said))
        reason = reason.mid(said.size());
    return fail(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
}

} // namespace

Status checkPictureTarget(const QString& path) {
    if (const Result<WriteTarget> t = checkWriteTarget(path); !t)
        return pictureFailure(path, t.status());
    return {};
}

Status writePictureFile(const QString& path, const QByteArray& bytes) {
    auto failed = [&](const Status& s) { return pictureFailure(path, s); };
    Result<std::unique_ptr<ReplacingFile>> file = ReplacingFile::begin(path);
    if (!file)
        return failed(file.status());
    if (Status s = file.value()->writeAt(0, bytes.constData(), bytes.size()); !s)
        return failed(s);
    if (Status s = file.value()->commit(); !s)
        return failed(s);
    return {};
}

ChartPlacement enlargeOrRestore(const QRect& chart, bool enlarged, const QPoint& scroll,
                                const QSize& windowOuter, QRect& normalBounds) {
    if (enlarged)
        return {normalBounds, false};
    if (chart.top() - scroll.y() <= 50)
        return {chart, false}; // nothing to enlarge from, and nothing to restore
    normalBounds = chart;
    const QRect over(2, 30, windowOuter.width() - 12, windowOuter.height() - 90);
    return {over.translated(scroll), true};
}

void ChartModel::Extremes::add(double v, qint64 row) {
    if (!any) {
        any = true;
        min = max = v;
        minRow = maxRow = row;
        return;
    }
    if (v < min) {
        min = v;
        minRow = row;
    }
    if (v > max) {
        max = v;
        maxRow = row;
    }
}

ChartModel::ChartModel(ReadingsTable& table, QObject* parent)
    : QObject(parent), table_(table), gapRows_(table), picturesDir_(chartPicturesDir()) {
    resolveFields();
    connect(&gapRows_, &LinkGapRows::changed, this, &ChartModel::changed);
    connect(&table_, &ReadingsTable::didReset, this, &ChartModel::tableReset);
    connect(&table_, &ReadingsTable::rowAppended, this, &ChartModel::rowAppended);
    connect(&table_, &ReadingsTable::rowRemoved, this, &ChartModel::rowRemoved);
}

void ChartModel::resolveFields() {
    // The fields are found as the grids find them; a table that is not all there is still
    // drawn from the fields it has, found by either table's names.
    const std::optional<ReadingsFieldMap> matched = matchReadingsFields(table_.fields());
    auto find = [&](ReadingsField kind) {
        const auto k = static_cast<std::size_t>(kind);
        if (matched)
            return (*matched)[k];
        const int i = table_.fieldIndex(readingsFieldNames(false)[k]);
        return i >= 0 ? i : table_.fieldIndex(readingsFieldNames(true)[k]);
    };
    noField_ = find(ReadingsField::Number);
    valueField_ = find(ReadingsField::Value);
    unitField_ = find(ReadingsField::Unit);
    auto storage = [&](int field) {
        if (field < 0)
            return RecordStore::Storage::None;
        return RecordStore::storageOf(table_.fields()[static_cast<std::size_t>(field)].type);
    };
    noStorage_ = storage(noField_);
    valueStorage_ = storage(valueField_);
}

void ChartModel::tableReset() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    start_ = 0;
    restartQuantity();
    resolveFields();
    // Another table: its first page, and the label and buttons that say so.
    restartPaging();
    Q_EMIT changed();
}

void ChartModel::restartPaging() {
    page_ = 1;
    buttons_ = PageButtons{};
    pageLabel_ = QStringLiteral("1");
    following_ = true;
    Q_EMIT pagingChanged();
}

void ChartModel::rowAppended(qint64 row) {
    const qint64 point = row - start_;
    if (point < 0)
        return;
    // The first resistance reading in a chart of voltages turns them all into gaps.
    const bool otherQuantity = firstResistance_ < 0 && knownQuantity() != quantity();
    const qint64 pageOfPoint = perPage_ < 1 ? 1 : point / perPage_ + 1;
    if (following_ && pageOfPoint != page_ && pageOfPoint == pageCount()) {
        follow();
        return;
    }
    // Otherwise only a record that lands on the page shown changes the picture.
    if (otherQuantity || pageOfPoint == page_)
        Q_EMIT changed();
}

void ChartModel::follow() {
    buttons_.page = page_;
    buttons_ = kx::pressPageButton(PageButton::Last, buttons_, pageCount());
    pageLabel_ = QString::number(buttons_.page);
    page_ = buttons_.page;
    Q_EMIT changed();
    Q_EMIT pagingChanged();
}

void ChartModel::rowRemoved(qint64 row) {
    // Rows below the removed one moved up: their summaries are stale.
    blocks_.resize(
        std::min<std::size_t>(blocks_.size(), static_cast<std::size_t>(row / kBlockRows)));
    if (row < start_)
        --start_;
    if (row == firstResistance_ || row == firstVoltage_) {
        restartQuantity();
    } else if (row < kindsSeen_) {
        --kindsSeen_;
        firstResistance_ -= firstResistance_ > row;
        firstVoltage_ -= firstVoltage_ > row;
    }
    keepPageInRange();
    Q_EMIT changed();
}

void ChartModel::restartQuantity() {
    kindsSeen_ = start_;
    firstResistance_ = -1;
    firstVoltage_ = -1;
}

ReadingQuantity ChartModel::quantityAt(qint64 row) const {
    const RecordStore& records = table_.records();
    const auto r = static_cast<std::size_t>(row);
    std::string_view unit;
    if (unitField_ >= 0 && !records.isNull(r, unitField_))
        unit = records.textValue(r, unitField_);
    if (valueField_ < 0 || records.isNull(r, valueField_))
        return readingQuantity(std::string_view(), unit);
    switch (valueStorage_) {
    case RecordStore::Storage::Text:
        return readingQuantity(records.textValue(r, valueField_), unit);
    case RecordStore::Storage::Int:
    case RecordStore::Storage::Double:
        return readingQuantity(records.doubleValue(r, valueField_), unit);
    case RecordStore::Storage::None:
        break;
    }
    return readingQuantity(std::string_view(), unit);
}

QuantityKind ChartModel::kindAt(qint64 row) const {
    std::string_view unit;
    const auto r = static_cast<std::size_t>(row);
    if (unitField_ >= 0 && !table_.records().isNull(r, unitField_))
        unit = table_.records().textValue(r, unitField_);
    return readingQuantity(std::string_view(), unit).kind;
}

ChartQuantity ChartModel::quantity() const {
    const qint64 rows = table_.rowCount();
    kindsSeen_ = std::max(kindsSeen_, start_);
    while (firstResistance_ < 0 && kindsSeen_ < rows) {
        const QuantityKind k = kindAt(kindsSeen_);
        if (k == QuantityKind::Resistance)
            firstResistance_ = kindsSeen_;
        else if (k == QuantityKind::Voltage && firstVoltage_ < 0)
            firstVoltage_ = kindsSeen_;
        ++kindsSeen_;
    }
    return knownQuantity();
}

ChartQuantity ChartModel::knownQuantity() const {
    if (firstResistance_ >= 0)
        return ChartQuantity::Resistance;
    return firstVoltage_ >= 0 ? ChartQuantity::Voltage : ChartQuantity::Plain;
}

void ChartModel::useQuantity(ChartQuantity q) const {
    if (q == blocksQuantity_)
        return;
    blocks_.clear();
    blocksQuantity_ = q;
}

void ChartModel::keepPageInRange() {
    page_ = std::clamp<qint64>(page_, 1, pageCount());
}

qint64 ChartModel::readingCount() const {
    return std::max<qint64>(0, table_.rowCount() - start_);
}

qint64 ChartModel::pointCount() const {
    return std::max<qint64>(1, readingCount());
}

qint64 ChartModel::pageCount() const {
    if (active_ < 0 || active_ >= kSeriesCount)
        return 1;
    return chartPageCount(pointCount(), perPage_);
}

Status ChartModel::setPointsPerPage(int perPage) {
    if (perPage < 0)
        return fail(QStringLiteral("MaxPointsPerPage must be >= 0"));
    if (perPage == perPage_)
        return {};
    perPage_ = perPage;
    keepPageInRange();
    Q_EMIT changed();
    Q_EMIT settingsChanged();
    return {};
}

Status ChartModel::MaxrecordChange(const QString& text) {
    const Result<int> n = pointsPerPageFromText(text);
    if (!n)
        return n.status();
    return setPointsPerPage(n.value());
}

void ChartModel::setPage(qint64 page) {
    page = std::clamp<qint64>(page, 1, pageCount());
    following_ = page == pageCount();
    if (page == page_)
        return;
    page_ = page;
    Q_EMIT changed();
}

void ChartModel::pressPageButton(PageButton button) {
    buttons_.page = page_;
    buttons_ = kx::pressPageButton(button, buttons_, pageCount());
    pageLabel_ = QString::number(buttons_.page);
    setPage(buttons_.page);
    Q_EMIT changed(); // the buttons and the label may have changed without the page
    Q_EMIT pagingChanged();
}

void ChartModel::ShowSeries(int index) {
    active_ = -1;
    if (index >= 0 && index < kSeriesCount)
        active_ = index;
    keepPageInRange();
    Q_EMIT changed();
}

void ChartModel::BtFillClick(bool fillTicked) {
    const bool switched = fill_ != fillTicked;
    fill_ = fillTicked;
    ShowSeries(fillTicked ? kAreaSeries : kLineSeries);
    if (switched)
        Q_EMIT settingsChanged();
}

void ChartModel::BtNewClick() {
    start_ = table_.rowCount();
    restartQuantity();
    // The series are switched as ShowSeries does, but the page stays where it was, even past
    // the single page now left, and so do the label and the buttons: the page buttons bring
    // the chart back into range.
    active_ = kAreaSeries;
    active_ = fill_ ? kAreaSeries : kLineSeries;
    Q_EMIT changed();
}

std::pair<qint64, qint64> ChartModel::pageRows() const {
    const qint64 rows = table_.rowCount();
    if (perPage_ < 1)
        return {start_, rows};
    const qint64 first = std::min(rows, start_ + (page_ - 1) * perPage_);
    return {first, std::min(rows, first + perPage_)};
}

namespace {

QuantityKind kindOf(ChartQuantity q) {
    switch (q) {
    case ChartQuantity::Resistance:
        return QuantityKind::Resistance;
    case ChartQuantity::Voltage:
        return QuantityKind::Voltage;
    case ChartQuantity::Plain:
        break;
    }
    return QuantityKind::Other;
}

} // namespace

std::optional<double> ChartModel::valueAt(qint64 row) const {
    useQuantity(quantity());
    return numberAt(row);
}

std::optional<double> ChartModel::numberAt(qint64 row) const {
    if (valueField_ < 0 || row < 0 || row >= table_.rowCount())
        return std::nullopt;
    const ReadingQuantity q = quantityAt(row);
    if (q.kind != kindOf(blocksQuantity_))
        return std::nullopt;
    return q.base;
}

double ChartModel::xAt(qint64 row) const {
    const RecordStore& records = table_.records();
    const auto r = static_cast<std::size_t>(row);
    if (noField_ >= 0 && noStorage_ != RecordStore::Storage::Text &&
        noStorage_ != RecordStore::Storage::None && !records.isNull(r, noField_)) {
        const double x = records.doubleValue(r, noField_);
        if (std::isfinite(x))
            return x;
    }
    return static_cast<double>(row - start_ + 1);
}

const ChartModel::Block& ChartModel::block(qint64 index) const {
    const auto i = static_cast<std::size_t>(index);
    if (blocks_.size() <= i) {
        if (blocks_.capacity() <= i)
            blocks_.reserve(static_cast<std::size_t>(table_.rowCount() / kBlockRows) + 1);
        blocks_.resize(i + 1);
    }
    Block& b = blocks_[i];
    if (!b.known) {
        Extremes e;
        const qint64 first = index * kBlockRows;
        for (qint64 r = first; r < first + kBlockRows; ++r) {
            if (const std::optional<double> v = numberAt(r))
                e.add(*v, r);
        }
        b.any = e.any;
        b.min = static_cast<float>(e.min);
        b.max = static_cast<float>(e.max);
        b.minAt = static_cast<std::uint8_t>(e.minRow - first);
        b.maxAt = static_cast<std::uint8_t>(e.maxRow - first);
        b.known = true;
    }
    return b;
}

ChartModel::Extremes ChartModel::scan(qint64 first, qint64 end) const {
    Extremes e;
    const qint64 rows = table_.rowCount();
    qint64 r = first;
    while (r < end) {
        if (r % kBlockRows == 0 && r + kBlockRows <= end && r + kBlockRows <= rows) {
            const Block& b = block(r / kBlockRows);
            // The summaries' single precision only picks the rows; callers read the exact
            // readings of the rows they keep.
            if (b.any) {
                e.add(b.min, r + b.minAt);
                e.add(b.max, r + b.maxAt);
            }
            r += kBlockRows;
        } else {
            if (const std::optional<double> v = numberAt(r))
                e.add(*v, r);
            ++r;
        }
    }
    return e;
}

ChartTrace ChartModel::trace(int columns) const {
    ChartTrace t;
    // Named apart, not bound together: the lambdas below capture them.
    const std::pair<qint64, qint64> rows = pageRows();
    const qint64 first = rows.first;
    const qint64 end = rows.second;
    const double fullSpan = perPage_ >= 1 ? perPage_ - 1 : 0;
    if (readingCount() == 0 || first >= end) {
        t.runs = {{kSamplePoint}};
        t.xLo = kSamplePoint.x();
        t.xHi = t.xLo + std::max(1.0, fullSpan);
        return t;
    }
    t.sample = false;
    t.quantity = quantity();
    useQuantity(t.quantity);
    QList<QPointF> run;
    auto endRun = [&] {
        if (!run.isEmpty())
            t.runs.append(std::exchange(run, {}));
    };
    auto extend = [&](double y) {
        if (!t.anyValue) {
            t.anyValue = true;
            t.yMin = t.yMax = y;
        }
        t.yMin = std::min(t.yMin, y);
        t.yMax = std::max(t.yMax, y);
        if (y > 0 && (t.yLeast == 0 || y < t.yLeast))
            t.yLeast = y;
    };
    auto put = [&](qint64 row, double y) {
        run.append(QPointF(xAt(row), y));
        extend(y);
    };

    const qint64 n = end - first;
    columns = std::max(1, columns);
    if (n <= columns) {
        for (qint64 r = first; r < end; ++r) {
            if (gapRows_.gapBefore(r))
                endRun();
            if (const std::optional<double> v = numberAt(r))
                put(r, *v);
            else
                endRun();
        }
    } else {
        // Columns of several summaries start on a summary's first row: a shift of less than a
        // quarter of a column, and no record of the column is read one by one.
        const bool snap = n / columns >= 4 * kBlockRows;
        auto boundary = [&](qint64 c) {
            const qint64 r = first + n * c / columns;
            return snap && c > 0 && c < columns ? r / kBlockRows * kBlockRows : r;
        };
        for (qint64 c = 0; c < columns; ++c) {
            // A column the link was down in starts a new run.
            if (gapRows_.anyIn(boundary(c), boundary(c + 1)))
                endRun();
            const Extremes e = scan(boundary(c), boundary(c + 1));
            if (!e.any) {
                endRun();
                continue;
            }
            const double low = *numberAt(e.minRow);
            const double high = *numberAt(e.maxRow);
            if (active_ == kAreaSeries) {
                // An area is filled from below: a column shows its largest reading, and one
                // point a column keeps the outline simple to fill.
                put(e.maxRow, high);
                extend(low);
                continue;
            }
            const qint64 lowFirst = std::min(e.minRow, e.maxRow);
            const qint64 highLast = std::max(e.minRow, e.maxRow);
            put(lowFirst, lowFirst == e.minRow ? low : high);
            if (highLast != lowFirst)
                put(highLast, highLast == e.maxRow ? high : low);
        }
    }
    endRun();

    // A page's horizontal span starts at its first record; the last page keeps a full page's
    // span.
    double lo = xAt(first);
    double hi = xAt(end - 1);
    for (const QList<QPointF>& r : std::as_const(t.runs)) {
        for (const QPointF& p : r) {
            lo = std::min(lo, p.x());
            hi = std::max(hi, p.x());
        }
    }
    hi = std::max(hi, lo + fullSpan);
    if (hi <= lo)
        hi = lo + 1;
    t.xLo = lo;
    t.xHi = hi;
    return t;
}

ChartAxis chartAxis(const ChartTrace& t) {
    if (t.sample)
        return sampleAxis();
    if (t.quantity == ChartQuantity::Resistance)
        return t.anyValue ? resistanceAxis(t.yLeast, t.yMax) : resistanceAxis(0, 0);
    if (!t.anyValue)
        return linearAxis(t.quantity, 1, 0);
    return linearAxis(t.quantity, t.yMin, t.yMax);
}

void ChartModel::setPicturesDir(const QString& dir) {
    picturesDir_ = dir;
    if (!picturesDir_.isEmpty() && !picturesDir_.endsWith(QLatin1Char('/')))
        picturesDir_ += QLatin1Char('/');
}

QString ChartModel::picturePath(const QDateTime& when) const {
    return picturesDir_ + chartPictureName(when, pageLabel_);
}

QString ChartModel::pictureSavedMessage(const QString& path) {
    return QStringLiteral("graphic has saved on ") + path;
}

std::size_t ChartModel::memoryUsage() const {
    return blocks_.capacity() * sizeof(Block);
}

} // namespace kx
