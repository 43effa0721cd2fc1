// The main window's chart side: the hidden Graph menu, which works the chart's own toolbar,
// and enlarging the chart over the window.
#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "readings/ui/readings_grid.h"

#include <QAction>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace kx {

void TFrmTest::connectChart() {
    connect(menu_.SaveWhole1, &QAction::triggered, Chtshow, &ChartView::BtSaveClick);
    connect(menu_.First1, &QAction::triggered, Chtshow, &ChartView::BtFirstClick);
    connect(menu_.Next1, &QAction::triggered, Chtshow, &ChartView::BtNextClick);
    connect(menu_.Last1, &QAction::triggered, Chtshow, &ChartView::BTlastClick);
    connect(menu_.Privous1, &QAction::triggered, Chtshow, &ChartView::BTPreviousClick);
    connect(menu_.Clear1, &QAction::triggered, Chtshow, &ChartView::BtNewClick);
    // The menu's Fill and the chart's check box show the chart's one switch.
    ChartModel& chart = session_.chart();
    connect(menu_.Fill1, &QAction::toggled, &chart, &ChartModel::BtFillClick);
    connect(&chart, &ChartModel::settingsChanged, menu_.Fill1,
            [this, &chart] { menu_.Fill1->setChecked(chart.fillTicked()); });
    connect(Chtshow, &ChartView::enlargeClicked, this, &TFrmTest::TbSxClick);
    connect(storeRow_.SpeedButton6, &QToolButton::clicked, this, &TFrmTest::SpeedButton6Click);
}

// Store row, second button (no hint): the window to 755 x 538, the chart 278 high.
void TFrmTest::SpeedButton6Click() {
    // Sizes are the window's outer ones, frame and menu bar included, as the enlarge image
    // measures them; the scrolling client area takes what the window gains or loses.
    const QSize frame = frameGeometry().size() - size();
    const QSize inner = QSize(755, 538) - frame;
    const int menuHeight = height() - ScrollBox->height();
    ScrollBox->setFixedSize(inner.width(), inner.height() - menuHeight);
    setFixedSize(inner);
    Chtshow->resize(Chtshow->width(), 278);
    const QRect chart = Chtshow->geometry();
    ClientArea->setFixedSize(
        ClientArea->size().expandedTo(QSize(chart.right() + 1, chart.bottom() + 1)));
}

void TFrmTest::TbSxClick() {
    if (frameGeometry().height() > 600)
        setFixedHeight(564 - (frameGeometry().height() - height()));
    const QPoint scroll(ScrollBox->horizontalScrollBar()->value(),
                        ScrollBox->verticalScrollBar()->value());
    const ChartPlacement p = enlargeOrRestore(Chtshow->geometry(), Chtshow->isEnlarged(), scroll,
                                              frameGeometry().size(), ChartNormalBounds);
    Chtshow->setGeometry(p.geometry);
    Chtshow->showEnlarged(p.enlarged);
    if (p.enlarged)
        Chtshow->raise();
    else
        Chtshow->stackUnder(DBGrid2); // the stored grid lies over the chart's corner
}

} // namespace kx
