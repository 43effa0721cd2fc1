#include "assets/ui/asset_page.h"

#include "analysis/live_results.h"
#include "analysis/ui/curve_view.h"
#include "assets/ui/asset_list_model.h"
#include "assets/register_session.h"
#include "assets/ui/asset_dialogs.h"
#include "common/ui/message_boxes.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kx {

namespace {

const QColor kR60Color(0, 0, 192);
const QColor kPiColor(0, 128, 96);
const QColor kLimitColor(221, 0, 0);
const QColor kFitColor(224, 96, 0);

double msOf(const QDateTime& t) {
    return double(t.toMSecsSinceEpoch());
}

QString dash(std::optional<double> v, QString (*text)(double)) {
    return v ? text(*v) : QStringLiteral("–");
}

template <typename S> S* series(QChart& chart, const char* name, const QColor& color) {
    auto* s = new S;
    s->setName(QString::fromUtf8(name));
    s->setColor(color);
    chart.addSeries(s);
    return s;
}

QLineSeries* limitLine(QChart& chart, const char* name, const QColor& color, double from,
                       double to, double value) {
    auto* s = series<QLineSeries>(chart, name, color);
    QPen pen(color, 1.5, Qt::DashLine);
    s->setPen(pen);
    s->append(from, value);
    s->append(to, value);
    return s;
}

} // namespace

std::optional<TrendLine> trendLine(const Trend& trend, const TrendSettings& settings) {
    if (!trend.slopePerYear)
        return std::nullopt;
    std::vector<const TrendPoint*> used;
    for (const TrendPoint& p : trend.points)
        if (p.r60Corrected40 && *p.r60Corrected40 > 0)
            used.push_back(&p);
    if (int(used.size()) < std::max(2, settings.minimumPoints))
        return std::nullopt;
    if (int(used.size()) > settings.fitTests)
        used.erase(used.begin(), used.end() - settings.fitTests);
    // Least squares of log R over days since the first point used.
    const QDateTime origin = used.front()->testedAt;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const TrendPoint* p : used) {
        const double x = double(origin.daysTo(p->testedAt));
        const double y = std::log(*p->r60Corrected40);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = double(used.size());
    const double den = n * sxx - sx * sx;
    if (den == 0)
        return std::nullopt;
    const double b = (n * sxy - sx * sy) / den;
    const double a = (sy - b * sx) / n;
    TrendLine line;
    line.from = origin;
    line.to = trend.crossing ? QDateTime(*trend.crossing, QTime(12, 0)) : used.back()->testedAt;
    line.fromOhms = std::exp(a);
    line.toOhms = std::exp(a + b * double(origin.daysTo(line.to)));
    return line;
}

void fillTrendChart(QChart& chart, const Trend& trend) {
    chart.removeAllSeries();
    for (QAbstractAxis* axis : chart.axes()) {
        chart.removeAxis(axis);
        delete axis;
    }
    const double day = 86400e3;
    double first = msOf(QDateTime::currentDateTime()) - 365 * day, last = first + 365 * day;
    if (!trend.points.empty()) {
        first = msOf(trend.points.front().testedAt);
        last = msOf(trend.points.back().testedAt);
    }
    const std::optional<TrendLine> fit = trendLine(trend);
    if (fit)
        last = std::max(last, msOf(fit->to));
    const double margin = std::max(60 * day, (last - first) * 0.05);
    first -= margin;
    last += margin;

    double low = trend.minimumOhms, high = trend.minimumOhms;
    double piHigh = trend.piMinimum * 1.5;
    auto* r60 = series<QLineSeries>(chart, kTrendR60Series, kR60Color);
    r60->setPen(QPen(kR60Color, 2));
    r60->setPointsVisible(true);
    r60->setMarkerSize(6);
    auto* pi = series<QLineSeries>(chart, kTrendPiSeries, kPiColor);
    pi->setPointsVisible(true);
    pi->setMarkerSize(5);
    auto* drops = series<QScatterSeries>(chart, kTrendDropSeries, kLimitColor);
    drops->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    drops->setMarkerSize(14);
    for (const TrendPoint& p : trend.points) {
        const double x = msOf(p.testedAt);
        if (p.r60Corrected40 && *p.r60Corrected40 > 0) {
            r60->append(x, *p.r60Corrected40 / 1e6);
            low = std::min(low, *p.r60Corrected40);
            high = std::max(high, *p.r60Corrected40);
            if (p.sharpDrop)
                drops->append(x, *p.r60Corrected40 / 1e6);
        }
        if (p.pi) {
            pi->append(x, *p.pi);
            piHigh = std::max(piHigh, *p.pi * 1.1);
        }
    }
    auto* minimum =
        limitLine(chart, kTrendMinimumSeries, kLimitColor, first, last, trend.minimumOhms / 1e6);
    auto* piMinimum = limitLine(chart, kTrendPiMinimumSeries, kPiColor, first, last, trend.piMinimum);
    QLineSeries* fitted = nullptr;
    if (fit) {
        fitted = series<QLineSeries>(chart, kTrendFitSeries, kFitColor);
        fitted->setPen(QPen(kFitColor, 2, Qt::DotLine));
        fitted->append(msOf(fit->from), fit->fromOhms / 1e6);
        fitted->append(msOf(fit->to), fit->toOhms / 1e6);
        low = std::min(low, fit->toOhms);
    }

    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy-MM"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(first)),
                   QDateTime::fromMSecsSinceEpoch(qint64(last)));
    time->setTickCount(6);
    chart.addAxis(time, Qt::AlignBottom);
    auto* ohms = new QLogValueAxis;
    ohms->setBase(10);
    ohms->setLabelFormat(QStringLiteral("%g"));
    ohms->setTitleText(QObject::tr("R60 at 40 °C (MΩ)"));
    // Whole decades around the readings and the minimum.
    ohms->setRange(std::pow(10, std::floor(std::log10(low / 1e6 / 1.5))),
                   std::pow(10, std::ceil(std::log10(high / 1e6 * 1.5))));
    ohms->setMinorTickCount(-1);
    chart.addAxis(ohms, Qt::AlignLeft);
    auto* ratio = new QValueAxis;
    ratio->setTitleText(QObject::tr("PI"));
    ratio->setRange(0, std::ceil(piHigh));
    ratio->setTickCount(int(std::ceil(piHigh)) * 2 + 1); // every half
    ratio->setLabelFormat(QStringLiteral("%.1f"));
    chart.addAxis(ratio, Qt::AlignRight);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(r60), static_cast<QAbstractSeries*>(drops),
                               static_cast<QAbstractSeries*>(minimum)}) {
        s->attachAxis(time);
        s->attachAxis(ohms);
    }
    if (fitted) {
        fitted->attachAxis(time);
        fitted->attachAxis(ohms);
    }
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(pi), static_cast<QAbstractSeries*>(piMinimum)}) {
        s->attachAxis(time);
        s->attachAxis(ratio);
    }
    // No legend entry for drops when there are none.
    if (drops->count() == 0)
        chart.legend()->markers(drops).front()->setVisible(false);
}

TestReadingsDialog::TestReadingsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TestReadings"));
    auto* layout = new QVBoxLayout(this);
    Title = new QLabel;
    Title->setObjectName(QStringLiteral("Title"));
    layout->addWidget(Title);
    auto* split = new QHBoxLayout;
    Readings = new QTableWidget(0, 2);
    Readings->setObjectName(QStringLiteral("Readings"));
    Readings->setHorizontalHeaderLabels({tr("Elapsed"), tr("Resistance")});
    Readings->verticalHeader()->hide();
    Readings->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    Readings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Readings->setMaximumWidth(230);
    Curve = new TestCurveView;
    Curve->setObjectName(QStringLiteral("Curve"));
    split->addWidget(Readings);
    split->addWidget(Curve, 1);
    layout->addLayout(split, 1);
    resize(760, 400);
}

void TestReadingsDialog::showTest(const FiledTest& test, const QString& tag) {
    setWindowTitle(tr("%1, %2").arg(tag, test.testedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    Title->setText(tr("%1 tested %2: %3 readings, %4")
                       .arg(tag, test.testedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                       .arg(test.readings.size())
                       .arg(verdictCaption(test.result.verdict)));
    Readings->setRowCount(int(test.readings.size()));
    std::vector<CurvePoint> points;
    for (std::size_t i = 0; i < test.readings.size(); ++i) {
        const FiledReading& r = test.readings[i];
        Readings->setItem(int(i), 0, new QTableWidgetItem(elapsedText(r.elapsed)));
        Readings->setItem(int(i), 1,
                          new QTableWidgetItem(r.ohms ? ohmsText(*r.ohms) : tr("no value")));
        if (r.ohms)
            points.push_back(CurvePoint{r.elapsed, *r.ohms});
    }
    if (points.empty())
        Curve->clear(tr("No readings were filed with this test."));
    else
        Curve->setCurve(points, test.result);
    show();
    raise();
}

AssetPage::AssetPage(RegisterSession& session, MessageBoxes& boxes, AssetWindowRequests& requests,
                     QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), boxes_(boxes), requests_(requests) {
    setObjectName(QStringLiteral("AssetPage"));
    build();
    connect(&session_, &RegisterSession::assetsChanged, this, [this] {
        if (isVisible())
            reload();
    });
}

AssetPage::~AssetPage() = default;

void AssetPage::build() {
    auto* layout = new QVBoxLayout(this);
    TitleLabel = new QLabel;
    TitleLabel->setObjectName(QStringLiteral("TitleLabel"));
    QFont big = TitleLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    TitleLabel->setFont(big);
    SummaryLabel = new QLabel;
    SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    SummaryLabel->setWordWrap(true);
    layout->addWidget(TitleLabel);
    layout->addWidget(SummaryLabel);

    auto* split = new QSplitter(Qt::Vertical);
    TrendChart = new QChartView(new QChart);
    TrendChart->setObjectName(QStringLiteral("TrendChart"));
    TrendChart->setRenderHint(QPainter::Antialiasing);
    TrendChart->chart()->legend()->setAlignment(Qt::AlignBottom);
    TrendChart->setMinimumHeight(340);
    TestsGrid = new QTableWidget(0, 7);
    TestsGrid->setObjectName(QStringLiteral("TestsGrid"));
    TestsGrid->setHorizontalHeaderLabels({tr("Date"), tr("R60 at 40 °C"), tr("PI"), tr("DAR"),
                                          tr("Verdict"), tr("Operator"), tr("Source file")});
    TestsGrid->verticalHeader()->hide();
    TestsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TestsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    TestsGrid->horizontalHeader()->setStretchLastSection(true);
    TestsGrid->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    TestsGrid->setAlternatingRowColors(true);
    split->addWidget(TrendChart);
    split->addWidget(TestsGrid);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({460, 220});
    layout->addWidget(split, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    PrintBtn = new QPushButton(tr("Print…"));
    PrintBtn->setObjectName(QStringLiteral("PrintBtn"));
    CloseBtn = new QPushButton(tr("Close"));
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    buttons->addWidget(PrintBtn);
    buttons->addWidget(CloseBtn);
    layout->addLayout(buttons);
    resize(960, 780);

    connect(PrintBtn, &QPushButton::clicked, this, &AssetPage::PrintBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(TestsGrid, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { TestsGridDoubleClick(row); });
}

QChart* AssetPage::chart() const {
    return TrendChart->chart();
}

void AssetPage::showAsset(const QString& tag) {
    tag_ = tag;
    reload();
    show();
    raise();
    activateWindow();
}

void AssetPage::reload() {
    Result<std::optional<Asset>> found = session_.asset(tag_);
    Result<std::vector<FiledTest>> tests = session_.tests(tag_);
    Result<Trend> trend = session_.trend(tag_);
    const QString failure = !found ? found.error() : !tests ? tests.error() : trend.error();
    if (!found || !tests || !trend || !found.value()) {
        boxes_.error(this, failure.isEmpty() ? tr("%1 is not in the register.").arg(tag_) : failure);
        return;
    }
    const Asset& a = *found.value();
    tests_ = tests.take();
    trend_ = trend.take();
    setWindowTitle(tr("Asset %1").arg(a.tag));
    TitleLabel->setText(a.name.isEmpty() ? a.tag : QStringLiteral("%1 — %2").arg(a.tag, a.name));
    QString summary = tr("%1%2. Minimum %3 at 40 °C, PI minimum %4.")
                          .arg(assetKindCaption(a.kind),
                               a.location.isEmpty() ? QString() : tr(", %1").arg(a.location),
                               ohmsText(trend_.minimumOhms), ratioText(trend_.piMinimum));
    if (trend_.slopePerYear)
        summary += tr(" Trend %1").arg(slopeText(trend_.slopePerYear));
    summary += trend_.crossing ? tr("; projected to cross the minimum on %1.")
                                     .arg(trend_.crossing->toString(Qt::ISODate))
                               : (trend_.slopePerYear ? tr("; no crossing projected.")
                                                      : tr(" No trend before three tests."));
    if (a.retired)
        summary += tr(" Retired.");
    SummaryLabel->setText(summary);

    TestsGrid->setRowCount(int(tests_.size()));
    for (std::size_t i = 0; i < tests_.size(); ++i) {
        const FiledTest& t = tests_[i];
        std::optional<double> r60 = t.result.r60Corrected;
        for (const TrendPoint& p : trend_.points)
            if (p.testId == t.id)
                r60 = p.r60Corrected40;
        const QStringList cells = {
            t.testedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            dash(r60, ohmsText),
            dash(t.result.pi, ratioText),
            dash(t.result.dar, ratioText),
            verdictCaption(t.result.verdict),
            t.operatorName,
            QFileInfo(t.sourcePath).fileName()};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 6)
                item->setToolTip(t.sourcePath);
            if (c == 4 && t.result.verdict != Verdict::Inconclusive)
                item->setForeground(t.result.verdict == Verdict::Pass ? QColor(0, 136, 0)
                                                                      : QColor(221, 0, 0));
            TestsGrid->setItem(int(i), c, item);
        }
    }
    TestsGrid->resizeColumnsToContents();

    fillTrendChart(*TrendChart->chart(), trend_);
    for (QAbstractSeries* s : TrendChart->chart()->series()) {
        auto* xy = qobject_cast<QXYSeries*>(s);
        // The fitted line lies over the points: a click on it opens the nearest test too.
        if (xy && (s->name() == QString::fromUtf8(kTrendR60Series) ||
                   s->name() == QString::fromUtf8(kTrendPiSeries) ||
                   s->name() == QString::fromUtf8(kTrendDropSeries) ||
                   s->name() == QString::fromUtf8(kTrendFitSeries)))
            connect(xy, &QXYSeries::clicked, this, [this](const QPointF& p) {
                openTestNear(QDateTime::fromMSecsSinceEpoch(qint64(p.x())));
            });
    }
}

void AssetPage::openTestNear(const QDateTime& when) {
    if (tests_.empty())
        return;
    const auto nearest = std::min_element(
        tests_.begin(), tests_.end(), [&when](const FiledTest& a, const FiledTest& b) {
            return std::abs(a.testedAt.msecsTo(when)) < std::abs(b.testedAt.msecsTo(when));
        });
    openTest(nearest->id);
}

void AssetPage::TestsGridDoubleClick(int row) {
    if (row >= 0 && row < int(tests_.size()))
        openTest(tests_[std::size_t(row)].id);
}

void AssetPage::openTest(qint64 testId) {
    Result<FiledTest> test = session_.test(testId);
    if (!test) {
        boxes_.error(this, test.error());
        return;
    }
    if (!readings_)
        readings_ = new TestReadingsDialog(this);
    readings_->showTest(test.value(), tag_);
}

void AssetPage::PrintBtnClick() {
    if (!tag_.isEmpty())
        requests_.printAssetReport(this, tag_);
}

} // namespace kx
