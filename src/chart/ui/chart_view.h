#pragma once

#include "chart/chart_axis.h"
#include "common/result.h"

#include <QByteArray>
#include <QChartView>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QTimer>

#include <functional>
#include <vector>

class QAbstractSeries;
class QAreaSeries;
class QCategoryAxis;
class QCheckBox;
class QFrame;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QToolButton;
class QValueAxis;

namespace kx {

class ChartModel;
class MessageBoxes;
struct ChartTrace;

// A picture that acts as a button (the chart's enlarge and restore images).
class ImageButton : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The chart panel: the readings of the live table as an area or a line, a page at a time,
// with its toolbar drawn over the top of the chart (Fill switch, points per page, save
// picture, clear, page buttons and label, enlarge/restore). It draws what its ChartModel
// reads from the table, at most two points per pixel column, and redraws at most 25 times
// a second however fast records arrive.
//
// Gaps: a run of readings that do not convert breaks the line (and the area); each run is a
// series of its own behind the two named series, which carry the first run.
//
// The value axis is the page's ChartAxis: a logarithmic one in MΩ or GΩ for resistance, a
// linear one for volts or plain numbers. Its ticks are uneven on a logarithmic axis, so it is a
// category axis whose boundaries are the ticks; the series carry axis coordinates.
class ChartView : public QChartView {
    Q_OBJECT
public:
    static constexpr QRect kDesignGeometry{18, 612, 361, 209};
    static constexpr int kRedrawIntervalMs = 40; // 25 redraws a second at most

    ChartView(ChartModel& model, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~ChartView() override;

    ChartModel& model() const { return model_; }

    // Start-up: each series holds its sample point; the area series is shown, then the one
    // the Fill switch chooses.
    void prepareAtStart();
    void ShowSeries(int index);
    // Draws now; a pending redraw is dropped. `wholePage` undoes a zoom.
    void refresh(bool wholePage = true);
    bool redrawPending() const { return redraw_.isActive(); }
    int redrawCount() const { return redraws_; }
    // The chart in its current state, without the toolbar, on white, at the chart's size.
    QImage picture();
    // That picture written to `path` in `format` ("BMP", "PNG") by the rules of every write
    // (writePictureFile). The chart's Save and the command line's chart both save this way.
    Status savePicture(const QString& path, const QByteArray& format);
    // The series in the chart's order: Series2 (area), Series1 (line).
    QAbstractSeries* series(int index) const;
    // The points the series of `index` draws, run after run, in the axis' coordinates.
    QList<QPointF> drawnPoints(int index) const;
    // The value axis drawn, and where a reading (X, value in base units) lies in the picture.
    const ChartAxis& valueAxis() const { return yAxis_; }
    QPoint pictureAt(double x, double base) const;
    // Enlarged: the restore image is shown instead of the enlarge image.
    void showEnlarged(bool enlarged);
    bool isEnlarged() const;
    // Pictures are named after this moment; tests fix it.
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

    // Controls, under their own names.
    QFrame* Bevel1 = nullptr;
    QCheckBox* BtFill = nullptr;
    QLineEdit* Maxrecord = nullptr;
    QToolButton* BtSave = nullptr;
    QToolButton* BtNew = nullptr;
    QToolButton* BtFirst = nullptr;
    QToolButton* BTPrevious = nullptr;
    QPushButton* Bt10 = nullptr;
    QToolButton* BtNext = nullptr;
    QToolButton* BTlast = nullptr;
    ImageButton* TbFd = nullptr;
    ImageButton* TbSx = nullptr;
    QAreaSeries* Series2 = nullptr;
    QLineSeries* Series1 = nullptr;
    QValueAxis* AxisX = nullptr;
    QCategoryAxis* AxisY = nullptr;

public Q_SLOTS:
    void BtFillClick();
    void MaxrecordChange(const QString& text);
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    // Clear; File > New starts with it too.
    void BtNewClick();
    void BtSaveClick();

Q_SIGNALS:
    // TbFd or TbSx was clicked: the window enlarges or restores the chart.
    void enlargeClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildChart();
    void buildToolbar();
    // The Fill switch and the points per page as the model holds them.
    void showSettings();
    // Typed characters other than digits and backspace are discarded.
    bool MaxrecordKeyPress(const QKeyEvent& key) const;
    void pageButton(int button);
    void showPageButtons();
    // Widens the page label to its number and moves the buttons after it along.
    void placePageLabel();
    void scheduleRedraw();
    int plotColumns() const;
    void showTrace(const ChartTrace& t);
    void setAxes(const ChartTrace& t);
    void showValueAxis(const ChartAxis& axis);
    QLineSeries* lineRun(std::size_t i);
    QAreaSeries* areaRun(std::size_t i);

    ChartModel& model_;
    MessageBoxes& boxes_;
    QTimer redraw_;
    int redraws_ = 0;
    ChartAxis yAxis_; // the points are placed on this axis
    std::function<QDateTime()> clock_;
    // Runs of the line and of the area series; element 0 is the named series itself.
    std::vector<QLineSeries*> lineRuns_;
    std::vector<QAreaSeries*> areaRuns_;
};

// Encodes a picture in the format of a file name's extension ("BMP", "PNG").
Result<QByteArray> encodePicture(const QImage& image, const QByteArray& format);

} // namespace kx
