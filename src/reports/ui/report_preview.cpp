#include "reports/ui/report_preview.h"

#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "common/ui/progress_dialogs.h"
#include "reports/ui/printer_dialogs.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kx {
namespace {

constexpr int kGap = 12; // grey border around the page, in pixels
constexpr double kMinDotsPerMm = 0.3;

struct SaveKind {
    const char* filter;
    const char* suffix;
    ReportFileKind kind;
};
constexpr SaveKind kSaveKinds[] = {
    {"PDF document (*.pdf)", "pdf", ReportFileKind::Pdf},
    {"Text file (*.txt)", "txt", ReportFileKind::Text},
    {"Comma-separated text (*.csv)", "csv", ReportFileKind::Csv},
    {"HTML document (*.html *.htm)", "html", ReportFileKind::Html},
};

} // namespace

ReportPageView::ReportPageView(const ReportPainter& painter, QWidget* parent)
    : QAbstractScrollArea(parent), painter_(painter) {
    setObjectName(QStringLiteral("PageView"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
}

void ReportPageView::setPage(int index) {
    index = std::clamp(index, 0, std::max(0, painter_.document().pageCount() - 1));
    if (index == page_ && !image_.isNull())
        return;
    page_ = index;
    verticalScrollBar()->setValue(0);
    relayout();
}

void ReportPageView::setZoom(Zoom zoom) {
    zoom_ = zoom;
    relayout();
}

double ReportPageView::fitDotsPerMm() const {
    const QSize v = viewport()->size();
    const double width = (v.width() - 2 * kGap) / kPageWidthMm;
    switch (zoom_) {
    case Zoom::WholePage:
        return std::min(width, (v.height() - 2 * kGap) / kPageHeightMm);
    case Zoom::PageWidth:
        return width;
    case Zoom::Actual:
        break;
    }
    return logicalDpiX() / 25.4;
}

void ReportPageView::relayout() {
    dotsPerMm_ = std::max(kMinDotsPerMm, fitDotsPerMm());
    const qreal ratio = devicePixelRatioF();
    image_ = painter_.renderPage(page_, dotsPerMm_ * ratio);
    image_.setDevicePixelRatio(ratio);
    const QSize shown = (QSizeF(image_.size()) / ratio).toSize();
    const QSize v = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, shown.width() + 2 * kGap - v.width()));
    horizontalScrollBar()->setPageStep(v.width());
    verticalScrollBar()->setRange(0, std::max(0, shown.height() + 2 * kGap - v.height()));
    verticalScrollBar()->setPageStep(v.height());
    verticalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setSingleStep(20);
    viewport()->update();
}

void ReportPageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ReportPageView::keyPressEvent(QKeyEvent* event) {
    // Page Up and Page Down turn pages in the preview rather than scroll within one.
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown ||
        ((event->key() == Qt::Key_Home || event->key() == Qt::Key_End) &&
         (event->modifiers() & Qt::ControlModifier))) {
        event->ignore();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ReportPageView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), QColor(0x80, 0x80, 0x80));
    const QSize shown = (QSizeF(image_.size()) / image_.devicePixelRatio()).toSize();
    const int x =
        std::max(kGap, (viewport()->width() - shown.width()) / 2) - horizontalScrollBar()->value();
    const int y = kGap - verticalScrollBar()->value();
    p.fillRect(QRect(QPoint(x + 4, y + 4), shown), QColor(0x40, 0x40, 0x40)); // shadow
    p.drawImage(QPoint(x, y), image_);
}

ReportPreview::ReportPreview(ReportDocument doc, QImage picture, ReportServices services,
                             QWidget* owner)
    : QWidget(owner, Qt::Window), doc_(std::move(doc)), painter_(doc_, std::move(picture)),
      services_(services) {
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildToolBar();
    view_ = new ReportPageView(painter_, this);
    layout->addWidget(view_);

    // A sheet at its full width if the screen allows.
    QRect area(0, 0, 1024, 768);
    if (const QScreen* s = owner ? owner->screen() : QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    resize(std::min(area.width() - 40, 860), std::min(area.height() - 60, 1000));
    QRect r(QPoint(0, 0), size());
    r.moveCenter(owner ? owner->window()->geometry().center() : area.center());
    r.moveTop(std::max(r.top(), area.top()));
    r.moveLeft(std::max(r.left(), area.left()));
    move(r.topLeft());

    if (owner) {
        ownerWindow_ = owner->window();
        ownerWindow_->installEventFilter(this);
    }
    view_->setPage(0);
    showPageState();
}

ReportPreview::~ReportPreview() {
    if (ownerWindow_)
        ownerWindow_->removeEventFilter(this);
}

void ReportPreview::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("PreviewTools"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layout()->addWidget(bar);
    auto action = [&](const char* name, const QString& text, QStyle::StandardPixmap icon,
                      void (ReportPreview::*slot)()) {
        QAction* a = bar->addAction(style()->standardIcon(icon), text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    // The page buttons show their icons only, so that the bar fits a small screen.
    auto iconOnly = [&](QAction* a) {
        if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a)))
            b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        return a;
    };
    FirstPage = iconOnly(action("FirstPage", QStringLiteral("First"), QStyle::SP_MediaSkipBackward,
                                &ReportPreview::firstPage));
    PriorPage = iconOnly(action("PriorPage", QStringLiteral("Previous"),
                                QStyle::SP_MediaSeekBackward, &ReportPreview::priorPage));
    PageLabel = new QLabel(bar);
    PageLabel->setObjectName(QStringLiteral("PageLabel"));
    PageLabel->setContentsMargins(8, 0, 8, 0);
    bar->addWidget(PageLabel);
    NextPage = iconOnly(action("NextPage", QStringLiteral("Next"), QStyle::SP_MediaSeekForward,
                               &ReportPreview::nextPage));
    LastPage = iconOnly(action("LastPage", QStringLiteral("Last"), QStyle::SP_MediaSkipForward,
                               &ReportPreview::lastPage));
    bar->addSeparator();
    auto* zoom = new QActionGroup(this);
    ZoomWhole = action("ZoomWhole", QStringLiteral("Whole page"), QStyle::SP_TitleBarNormalButton,
                       &ReportPreview::zoomWholePage);
    ZoomWidth = action("ZoomWidth", QStringLiteral("Page width"), QStyle::SP_TitleBarMaxButton,
                       &ReportPreview::zoomPageWidth);
    Zoom100 = action("Zoom100", QStringLiteral("100 %"), QStyle::SP_FileDialogContentsView,
                     &ReportPreview::zoomActual);
    for (QAction* a : {ZoomWhole, ZoomWidth, Zoom100}) {
        a->setCheckable(true);
        zoom->addAction(a);
    }
    ZoomWhole->setChecked(true);
    bar->addSeparator();
    PrintAction = action("Print", QStringLiteral("Print"), QStyle::SP_DialogOkButton,
                         &ReportPreview::printReport);
    SaveAction = action("Save", QStringLiteral("Save"), QStyle::SP_DialogSaveButton,
                        &ReportPreview::saveReport);
    bar->addSeparator();
    CloseAction = bar->addAction(style()->standardIcon(QStyle::SP_DialogCloseButton),
                                 QStringLiteral("Close"));
    CloseAction->setObjectName(QStringLiteral("Close"));
    connect(CloseAction, &QAction::triggered, this, &QWidget::close);
}

QString ReportPreview::pageText() const {
    return QStringLiteral("Page %1 of %2").arg(currentPage() + 1).arg(pageCount());
}

void ReportPreview::showPageState() {
    PageLabel->setText(pageText());
    const bool atFirst = currentPage() == 0;
    const bool atLast = currentPage() >= pageCount() - 1;
    FirstPage->setEnabled(!atFirst);
    PriorPage->setEnabled(!atFirst);
    NextPage->setEnabled(!atLast);
    LastPage->setEnabled(!atLast);
}

void ReportPreview::goToPage(int index) {
    view_->setPage(index);
    showPageState();
}

void ReportPreview::firstPage() {
    goToPage(0);
}

void ReportPreview::priorPage() {
    goToPage(currentPage() - 1);
}

void ReportPreview::nextPage() {
    goToPage(currentPage() + 1);
}

void ReportPreview::lastPage() {
    goToPage(pageCount() - 1);
}

void ReportPreview::zoomWholePage() {
    ZoomWhole->setChecked(true);
    view_->setZoom(ReportPageView::Zoom::WholePage);
}

void ReportPreview::zoomPageWidth() {
    ZoomWidth->setChecked(true);
    view_->setZoom(ReportPageView::Zoom::PageWidth);
}

void ReportPreview::zoomActual() {
    Zoom100->setChecked(true);
    view_->setZoom(ReportPageView::Zoom::Actual);
}

void ReportPreview::exec() {
    if (closing_)
        return; // closed before it got here
    show();
    raise();
    activateWindow();
    if (!isVisible())
        return;
    QEventLoop loop;
    connect(this, &ReportPreview::closed, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
}

void ReportPreview::closeEvent(QCloseEvent* event) {
    event->accept();
    closing_ = true;
    Q_EMIT closed();
}

void ReportPreview::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        nextPage();
        return;
    case Qt::Key_PageUp:
        priorPage();
        return;
    case Qt::Key_Home:
        if (event->modifiers() & Qt::ControlModifier) {
            firstPage();
            return;
        }
        break;
    case Qt::Key_End:
        if (event->modifiers() & Qt::ControlModifier) {
            lastPage();
            return;
        }
        break;
    case Qt::Key_Escape:
        close();
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

bool ReportPreview::eventFilter(QObject* watched, QEvent* event) {
    // The window it came from going away takes the preview with it.
    if (watched == ownerWindow_ &&
        (event->type() == QEvent::Close || event->type() == QEvent::Hide))
        close();
    return QWidget::eventFilter(watched, event);
}

ReportProgress ReportPreview::progressFor(const QString& label) {
    // Closing the preview cancels what it is doing.
    std::shared_ptr<ProgressReporter> reporter;
    if (services_.progress)
        reporter = services_.progress->begin(this, label);
    return [this, reporter](int done, int total) {
        return !closing_ && (!reporter || reporter->update(done, total));
    };
}

void ReportPreview::printReport() {
    if (!services_.printers)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(windowTitle());
    if (!services_.printers->setUpPrinter(this, printer, pageCount()))
        return;
    const Result<SaveOutcome> r = painter_.print(printer, progressFor(QStringLiteral("Printing")));
    if (!r && services_.boxes)
        services_.boxes->error(this, r.error());
}

void ReportPreview::saveReport() {
    if (!services_.dialogs)
        return;
    FileDialogRequest request;
    request.title = QStringLiteral("Save Report");
    request.directory = QDir::homePath();
    for (const SaveKind& k : kSaveKinds)
        request.filters << QString::fromLatin1(k.filter);
    request.filter = saveFilter_;
    const std::optional<FileDialogAnswer> answer = services_.dialogs->saveFile(this, request);
    if (!answer)
        return;
    const int filter = std::clamp(answer->filter, 0, int(std::size(kSaveKinds)) - 1);
    saveFilter_ = filter;
    QString path = answer->path;
    std::optional<ReportFileKind> kind = reportFileKindFor(path);
    if (!kind) {
        // A name without a known extension gets the chosen kind's, asking before it replaces
        // a file the dialog did not ask about.
        kind = kSaveKinds[filter].kind;
        if (QFileInfo(path).suffix().isEmpty()) {
            path += QLatin1Char('.') + QLatin1String(kSaveKinds[filter].suffix);
            if (QFileInfo::exists(path) && services_.boxes &&
                !services_.boxes->confirm(this, QStringLiteral("%1 already exists. Replace it?")
                                                    .arg(QDir::toNativeSeparators(path))))
                return;
        }
    }
    const Result<SaveOutcome> r =
        painter_.save(path, *kind, progressFor(QStringLiteral("Saving %1").arg(path)));
    if (!r && services_.boxes)
        services_.boxes->error(this, r.error());
}

} // namespace kx
