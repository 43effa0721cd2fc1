#include "chart/ui/chart_view.h"

#include "chart/chart_model.h"
#include "chart/chart_values.h"
#include "common/ui/message_boxes.h"
#include "common/ui/window_fonts.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGraphicsLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QValueAxis>

#include <memory>

#include <algorithm>
#include <cmath>

// Resource registration has to happen outside any namespace.
static void registerChartResources() {
    Q_INIT_RESOURCE(chart);
}

namespace kx {
namespace {

const QColor kSilver(192, 192, 192);
const QColor kAreaColor(255, 255, 128);
const QColor kAreaLineColor(0, 128, 255);
const QColor kLineColor(128, 255, 0);

} // namespace

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

ChartView::ChartView(ChartModel& model, MessageBoxes& boxes, QWidget* parent)
    : QChartView(parent), model_(model), boxes_(boxes),
      clock_([] { return QDateTime::currentDateTime(); }) {
    static const bool resources = [] {
        registerChartResources();
        return true;
    }();
    Q_UNUSED(resources);
    setObjectName(QStringLiteral("Chtshow"));
    setGeometry(kDesignGeometry);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette silver = palette();
    silver.setColor(QPalette::Window, kSilver);
    silver.setColor(QPalette::Base, kSilver);
    setPalette(silver);
    setBackgroundBrush(kSilver);
    viewport()->setCursor(Qt::CrossCursor);
    setFont(arial(11));
    setRenderHint(QPainter::Antialiasing, false);
    // Dragging a rectangle zooms, in one step.
    setRubberBand(QChartView::RectangleRubberBand);

    buildChart();
    buildToolbar();

    redraw_.setSingleShot(true);
    redraw_.setInterval(kRedrawIntervalMs);
    connect(&redraw_, &QTimer::timeout, this, [this] { refresh(false); });
    connect(&model_, &ChartModel::changed, this, &ChartView::scheduleRedraw);
    connect(&model_, &ChartModel::settingsChanged, this, &ChartView::showSettings);
    connect(&model_, &ChartModel::pagingChanged, this, &ChartView::showPageButtons);
    showSettings();
    showPageButtons();
    refresh();
}

ChartView::~ChartView() = default;

void ChartView::buildChart() {
    QChart* c = new QChart;
    c->setObjectName(QStringLiteral("Chart"));
    c->setAnimationOptions(QChart::NoAnimation);
    c->setBackgroundRoundness(0);
    c->setDropShadowEnabled(false);
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, kSilver);
    gradient.setColorAt(1, Qt::white);
    c->setBackgroundBrush(gradient);
    c->setPlotAreaBackgroundBrush(Qt::white);
    c->setPlotAreaBackgroundPen(QPen(kSilver));
    c->setPlotAreaBackgroundVisible(true);
    c->legend()->hide();
    c->setTitle(QStringLiteral("  "));
    c->setTitleFont(arial(9));
    c->layout()->setContentsMargins(0, 0, 0, 0);
    // Room for the toolbar at the top; small margins elsewhere.
    c->setMargins(QMargins(4, 14, 6, 2));

    AxisX = new QValueAxis(c);
    AxisX->setObjectName(QStringLiteral("AxisX"));
    AxisY = new QCategoryAxis(c);
    AxisY->setObjectName(QStringLiteral("AxisY"));
    AxisY->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (QValueAxis* a : {AxisX, static_cast<QValueAxis*>(AxisY)}) {
        a->setLabelsFont(arial(9));
        a->setGridLineColor(QColor(224, 224, 224));
        a->setMinorGridLineVisible(false);
    }
    AxisY->setMinorTickCount(4);
    AxisX->setTickType(QValueAxis::TicksDynamic);
    AxisX->setTickAnchor(0);
    AxisX->setLabelFormat(QStringLiteral("%i"));
    c->addAxis(AxisX, Qt::AlignBottom);
    c->addAxis(AxisY, Qt::AlignLeft);
    // The view starts with a chart of its own, which it gives up without deleting.
    std::unique_ptr<QChart> placeholder(chart());
    setChart(c);

    Series2 = areaRun(0);
    Series2->setObjectName(QStringLiteral("Series2"));
    Series1 = lineRun(0);
    Series1->setObjectName(QStringLiteral("Series1"));
}

QLineSeries* ChartView::lineRun(std::size_t i) {
    while (lineRuns_.size() <= i) {
        auto* s = new QLineSeries;
        s->setPen(QPen(kLineColor, 1));
        s->setPointsVisible(false);
        s->setPointLabelsVisible(false);
        chart()->addSeries(s);
        s->attachAxis(AxisX);
        s->attachAxis(AxisY);
        lineRuns_.push_back(s);
    }
    return lineRuns_[i];
}

QAreaSeries* ChartView::areaRun(std::size_t i) {
    while (areaRuns_.size() <= i) {
        auto* upper = new QLineSeries;
        auto* s = new QAreaSeries(upper);
        upper->setParent(s);
        s->setBrush(kAreaColor);
        s->setPen(QPen(kAreaLineColor, 1));
        s->setPointsVisible(false);
        s->setPointLabelsVisible(false);
        chart()->addSeries(s);
        s->attachAxis(AxisX);
        s->attachAxis(AxisY);
        areaRuns_.push_back(s);
    }
    return areaRuns_[i];
}

void ChartView::buildToolbar() {
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(2, 2, 40, 20);
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    BtFill = new QCheckBox(QStringLiteral("Fill"), this);
    BtFill->setObjectName(QStringLiteral("BtFill"));
    BtFill->setToolTip(QStringLiteral("Graphic Fill"));
    BtFill->setGeometry(1, 5, 36, 17); // inside the bevel's frame, drawn over it
    connect(BtFill, &QCheckBox::toggled, this, &ChartView::BtFillClick);

    Maxrecord = new QLineEdit(this);
    Maxrecord->setObjectName(QStringLiteral("Maxrecord"));
    Maxrecord->setGeometry(48, 3, 41, 21);
    Maxrecord->installEventFilter(this);
    connect(Maxrecord, &QLineEdit::textChanged, this, &ChartView::MaxrecordChange);

    auto button = [this](const char* name, const char* hint, const char* icon, QRect geometry) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(hint));
        b->setIcon(QIcon(QString::fromLatin1(icon)));
        b->setGeometry(geometry);
        return b;
    };
    BtSave = button("BtSave", "Save  Active Graphic", ":/chart/save.svg", {93, 3, 35, 21});
    BtNew = button("BtNew", "Delete Graphic", ":/chart/clear.svg", {127, 3, 35, 21});
    BtFirst = button("BtFirst", "First", ":/chart/first.svg", {163, 3, 25, 21});
    BTPrevious = button("BTPrevious", "Previous", ":/chart/previous.svg", {187, 3, 25, 21});
    BtNext = button("BtNext", "Next", ":/chart/next.svg", {235, 3, 25, 21});
    BTlast = button("BTlast", "last", ":/chart/last.svg", {263, 3, 25, 21});
    connect(BtSave, &QToolButton::clicked, this, &ChartView::BtSaveClick);
    connect(BtNew, &QToolButton::clicked, this, &ChartView::BtNewClick);
    connect(BtFirst, &QToolButton::clicked, this, &ChartView::BtFirstClick);
    connect(BTPrevious, &QToolButton::clicked, this, &ChartView::BTPreviousClick);
    connect(BtNext, &QToolButton::clicked, this, &ChartView::BtNextClick);
    connect(BTlast, &QToolButton::clicked, this, &ChartView::BTlastClick);

    // The page label is a button that does nothing.
    Bt10 = new QPushButton(QStringLiteral("1"), this);
    Bt10->setObjectName(QStringLiteral("Bt10"));
    Bt10->setToolTip(QStringLiteral("Page No."));
    Bt10->setGeometry(211, 3, 25, 21);
    Bt10->setFocusPolicy(Qt::NoFocus);
    QPalette blue = Bt10->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(blue);

    auto image = [this](const char* name, const char* hint, const char* icon, QRect geometry) {
        auto* b = new ImageButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(hint));
        b->setPixmap(QIcon(QString::fromLatin1(icon)).pixmap(geometry.size()));
        b->setGeometry(geometry);
        connect(b, &ImageButton::clicked, this, &ChartView::enlargeClicked);
        return b;
    };
    TbFd = image("TbFd", "Graphic Enlarge", ":/chart/enlarge.svg", {288, 3, 25, 25});
    TbSx = image("TbSx", "Graphic Restore", ":/chart/restore.svg", {288, 4, 25, 25});
    TbSx->hide();

    // Over the chart's surface, not under it.
    for (QWidget* w :
         std::initializer_list<QWidget*>{Bevel1, BtFill, Maxrecord, BtSave, BtNew, BtFirst,
                                         BTPrevious, Bt10, BtNext, BTlast, TbFd, TbSx})
        w->raise();
}

void ChartView::prepareAtStart() {
    // The live table was just emptied: each series shows its sample point.
    ShowSeries(ChartModel::kAreaSeries);
    ShowSeries(model_.fillTicked() ? ChartModel::kAreaSeries : ChartModel::kLineSeries);
}

void ChartView::showSettings() {
    // The chart's settings may be set elsewhere (the Graph menu, the command line): the
    // controls show them without reporting a change back.
    const QSignalBlocker fill(BtFill);
    BtFill->setChecked(model_.fillTicked());
    // A box the user is typing into keeps its text while it says the same number.
    const Result<int> shown = pointsPerPageFromText(Maxrecord->text());
    if (!shown || shown.value() != model_.pointsPerPage()) {
        const QSignalBlocker box(Maxrecord);
        Maxrecord->setText(QString::number(model_.pointsPerPage()));
    }
}

void ChartView::ShowSeries(int index) {
    model_.ShowSeries(index);
    refresh();
}

void ChartView::BtFillClick() {
    model_.BtFillClick(BtFill->isChecked());
    refresh();
}

void ChartView::MaxrecordChange(const QString& text) {
    if (const Status s = model_.MaxrecordChange(text); !s)
        boxes_.error(this, s.error());
    refresh();
}

bool ChartView::MaxrecordKeyPress(const QKeyEvent& key) const {
    // Keys that type nothing and shortcuts pass: a pasted text still reaches the change
    // handler, which reports what does not convert.
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    for (const QChar c : key.text()) {
        if (c.isPrint() && !isPointsPerPageKey(c))
            return true;
    }
    return false;
}

bool ChartView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Maxrecord && event->type() == QEvent::KeyPress)
        return MaxrecordKeyPress(static_cast<const QKeyEvent&>(*event));
    return QChartView::eventFilter(watched, event);
}

void ChartView::pageButton(int button) {
    model_.pressPageButton(static_cast<PageButton>(button));
    refresh();
}

void ChartView::BtFirstClick() {
    pageButton(static_cast<int>(PageButton::First));
}

void ChartView::BTPreviousClick() {
    pageButton(static_cast<int>(PageButton::Previous));
}

void ChartView::BtNextClick() {
    pageButton(static_cast<int>(PageButton::Next));
}

void ChartView::BTlastClick() {
    pageButton(static_cast<int>(PageButton::Last));
}

void ChartView::showPageButtons() {
    BtFirst->setEnabled(model_.firstPreviousEnabled());
    BTPrevious->setEnabled(model_.firstPreviousEnabled());
    BtNext->setEnabled(model_.nextLastEnabled());
    BTlast->setEnabled(model_.nextLastEnabled());
    Bt10->setText(model_.pageLabel());
    placePageLabel();
}

void ChartView::placePageLabel() {
    // The label grows with its number (page 10000 and on), pushing the buttons after it to
    // the right; it never shrinks below its first width, so the bar keeps its usual look.
    constexpr int kLeft = 211;
    constexpr int kWidth = 25;
    const int margins = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, Bt10) +
                        style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, Bt10);
    const int width =
        std::max(kWidth, Bt10->fontMetrics().horizontalAdvance(Bt10->text()) + margins + 2);
    const int shift = width - kWidth;
    Bt10->setGeometry(kLeft, 3, width, 21);
    BtNext->move(235 + shift, 3);
    BTlast->move(263 + shift, 3);
    TbFd->move(288 + shift, 3);
    TbSx->move(288 + shift, 4);
}

void ChartView::BtNewClick() {
    model_.BtNewClick();
    refresh();
}

void ChartView::BtSaveClick() {
    const QString path = model_.picturePath(clock_());
    boxes_.information(this, ChartModel::pictureSavedMessage(path));
    if (const Status s = savePicture(path, QByteArrayLiteral("BMP")); !s)
        boxes_.error(this, s.error());
}

Status ChartView::savePicture(const QString& path, const QByteArray& format) {
    Result<QByteArray> bytes = encodePicture(picture(), format);
    if (!bytes)
        return bytes.status();
    return writePictureFile(path, bytes.value());
}

void ChartView::showEnlarged(bool enlarged) {
    TbFd->setVisible(!enlarged);
    TbSx->setVisible(enlarged);
}

bool ChartView::isEnlarged() const {
    return !TbSx->isHidden();
}

void ChartView::scheduleRedraw() {
    if (!redraw_.isActive())
        redraw_.start();
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    // The right button goes back to the whole page rather than one zoom step.
    if (event->button() == Qt::RightButton) {
        refresh(true);
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ChartView::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    scheduleRedraw(); // the plot has a different number of pixel columns
}

int ChartView::plotColumns() const {
    const int w = static_cast<int>(chart()->plotArea().width());
    // Before the first layout the plot has no size yet; guess from the view's.
    return w > 0 ? w : std::max(1, width() - 60);
}

void ChartView::refresh(bool wholePage) {
    redraw_.stop();
    ++redraws_;
    if (wholePage && chart()->isZoomed())
        chart()->zoomReset();
    const ChartTrace t = model_.trace(plotColumns());
    // A zoom keeps its axes while records arrive; the points are placed on the axis kept.
    if (!chart()->isZoomed())
        setAxes(t);
    showTrace(t);
}

void ChartView::setAxes(const ChartTrace& t) {
    // The axis lays out its ticks at every change: an interval that suits only the new range
    // (or only the old one) would ask for millions of ticks on the way. Wide first, then the
    // range, then the interval that suits it.
    const double interval = std::max(1.0, roundStep(t.xHi - t.xLo, 4));
    AxisX->setTickInterval(std::max({interval, AxisX->max() - AxisX->min(), t.xHi - t.xLo}));
    AxisX->setRange(t.xLo, t.xHi);
    AxisX->setTickInterval(interval);
    showValueAxis(chartAxis(t));
}

void ChartView::showValueAxis(const ChartAxis& axis) {
    // Relaid out only when it changes: most redraws while records arrive keep their ticks.
    const bool sameTicks = axis.ticks == yAxis_.ticks && AxisY->count() > 0;
    yAxis_ = axis;
    if (AxisY->min() != axis.lo || AxisY->max() != axis.hi)
        AxisY->setRange(axis.lo, axis.hi);
    if (sameTicks)
        return;
    for (const QString& l : AxisY->categoriesLabels())
        AxisY->remove(l);
    // Labels sit on the categories' ends; the first category is an empty one ending on the
    // lowest tick, so that it is labelled too.
    AxisY->setStartValue(axis.lo - (axis.hi - axis.lo) * 1e-6);
    for (const ChartTick& t : axis.ticks)
        AxisY->append(t.label, t.at);
}

QPoint ChartView::pictureAt(double x, double base) const {
    const QPointF scene = chart()->mapToPosition(QPointF(x, yAxis_.at(base)), Series1);
    return scene.toPoint() + viewport()->geometry().topLeft();
}

void ChartView::showTrace(const ChartTrace& t) {
    const int active = model_.activeSeries();
    const std::size_t runs = static_cast<std::size_t>(t.runs.size());
    auto scaled = [&](const QList<QPointF>& run) {
        QList<QPointF> out;
        out.reserve(run.size());
        for (const QPointF& p : run)
            out.append(QPointF(p.x(), yAxis_.at(p.y())));
        return out;
    };
    // Only the active series is drawn; the other keeps nothing to draw.
    if (active == ChartModel::kAreaSeries) {
        for (std::size_t i = 0; i < runs; ++i)
            areaRun(i)->upperSeries()->replace(scaled(t.runs[static_cast<qsizetype>(i)]));
    }
    if (active == ChartModel::kLineSeries) {
        for (std::size_t i = 0; i < runs; ++i)
            lineRun(i)->replace(scaled(t.runs[static_cast<qsizetype>(i)]));
    }
    for (std::size_t i = 0; i < areaRuns_.size(); ++i) {
        const bool shown = active == ChartModel::kAreaSeries && i < runs;
        if (!shown && areaRuns_[i]->upperSeries()->count() > 0)
            areaRuns_[i]->upperSeries()->clear();
        areaRuns_[i]->setVisible(shown);
    }
    for (std::size_t i = 0; i < lineRuns_.size(); ++i) {
        const bool shown = active == ChartModel::kLineSeries && i < runs;
        if (!shown && lineRuns_[i]->count() > 0)
            lineRuns_[i]->clear();
        lineRuns_[i]->setVisible(shown);
    }
}

QAbstractSeries* ChartView::series(int index) const {
    if (index == ChartModel::kAreaSeries)
        return Series2;
    if (index == ChartModel::kLineSeries)
        return Series1;
    return nullptr;
}

QList<QPointF> ChartView::drawnPoints(int index) const {
    QList<QPointF> out;
    if (index == ChartModel::kAreaSeries) {
        for (QAreaSeries* s : areaRuns_) {
            if (s->isVisible())
                out += s->upperSeries()->points();
        }
    } else if (index == ChartModel::kLineSeries) {
        for (QLineSeries* s : lineRuns_) {
            if (s->isVisible())
                out += s->points();
        }
    }
    return out;
}

QImage ChartView::picture() {
    if (redraw_.isActive())
        refresh(false);
    // The chart lays itself out from posted events; a picture must show the current state.
    QCoreApplication::sendPostedEvents();
    QImage image(size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    // The chart alone: the toolbar is not part of the picture.
    scene()->render(&painter, QRectF(viewport()->geometry()),
                    QRectF(QPointF(0, 0), QSizeF(viewport()->size())));
    painter.end();
    return image;
}

Result<QByteArray> encodePicture(const QImage& image, const QByteArray& format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        return fail(QStringLiteral("Cannot write the picture: %1").arg(writer.errorString()));
    return bytes;
}

} // namespace kx
