#pragma once

#include "reports/report_document.h"
#include "reports/ui/report_painter.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QWidget>

class QAction;
class QLabel;

namespace kx {

class FileDialogs;
class MessageBoxes;
class PrinterDialogs;
class ProgressDialogs;

// The dialogs a preview shows, behind their interfaces.
struct ReportServices {
    MessageBoxes* boxes = nullptr;
    FileDialogs* dialogs = nullptr;
    PrinterDialogs* printers = nullptr;
    ProgressDialogs* progress = nullptr; // none: long jobs show no progress
};

// One page of a report on screen, at a zoom, with scroll bars when it is larger than the
// view. Only the page shown is drawn, once per page turn or zoom change, however long the
// report.
class ReportPageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Zoom { WholePage, PageWidth, Actual };

    ReportPageView(const ReportPainter& painter, QWidget* parent = nullptr);

    int page() const { return page_; }
    void setPage(int index);
    Zoom zoom() const { return zoom_; }
    void setZoom(Zoom zoom);
    // Device pixels a millimetre at the current zoom.
    double dotsPerMm() const { return dotsPerMm_; }
    // The page as last drawn.
    const QImage& pageImage() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void relayout();
    double fitDotsPerMm() const;

    const ReportPainter& painter_;
    int page_ = 0;
    Zoom zoom_ = Zoom::WholePage;
    double dotsPerMm_ = 1;
    QImage image_;
};

// The preview window of a report: first, previous, next and last page, "Page x of y", zoom
// (whole page, page width, 100 %), print and save as PDF, text, CSV or HTML. It owns the
// report it shows. exec() shows it and returns when it closes; the other windows keep
// working meanwhile. It closes with the window it was opened from.
class ReportPreview : public QWidget {
    Q_OBJECT
public:
    ReportPreview(ReportDocument doc, QImage picture, ReportServices services,
                  QWidget* owner = nullptr);
    ~ReportPreview() override;

    const ReportDocument& document() const { return doc_; }
    const ReportPainter& painter() const { return painter_; }
    ReportPageView* view() const { return view_; }
    int pageCount() const { return doc_.pageCount(); }
    int currentPage() const { return view_->page(); } // from 0
    QString pageText() const;

    void exec();

public Q_SLOTS:
    void firstPage();
    void priorPage();
    void nextPage();
    void lastPage();
    void goToPage(int index);
    void zoomWholePage();
    void zoomPageWidth();
    void zoomActual();
    void printReport();
    void saveReport();

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBar();
    void showPageState();
    // The progress of a long job, shown while the returned function lives.
    ReportProgress progressFor(const QString& label);

    ReportDocument doc_;
    ReportPainter painter_;
    ReportServices services_;
    ReportPageView* view_ = nullptr;
    QLabel* PageLabel = nullptr;
    QAction* FirstPage = nullptr;
    QAction* PriorPage = nullptr;
    QAction* NextPage = nullptr;
    QAction* LastPage = nullptr;
    QAction* ZoomWhole = nullptr;
    QAction* ZoomWidth = nullptr;
    QAction* Zoom100 = nullptr;
    QAction* PrintAction = nullptr;
    QAction* SaveAction = nullptr;
    QAction* CloseAction = nullptr;
    QWidget* ownerWindow_ = nullptr;
    bool closing_ = false;
    int saveFilter_ = 0;
};

} // namespace kx
