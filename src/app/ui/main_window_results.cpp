// The main window's way to the test results: the "Test Results" button beside "Store Data"
// and Record > " Test Results" show the results window, which stays open beside the main
// window and follows the readings.
#include "analysis/live_results.h"
#include "analysis/ui/results_window.h"
#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "reports/ui/report_commands.h"

#include <QAction>
#include <QToolButton>

namespace kx {

void TFrmTest::buildResultsWindow() {
    Frmresults =
        new TFrmresults(session_.results(), session_.liveTable(), *reports_, *boxes_, this);
    connect(row_.SpeedButton10, &QToolButton::clicked, this, &TFrmTest::SpeedButton10Click);
    connect(menu_.ResultsR, &QAction::triggered, this, &TFrmTest::ResultsRClick);
}

void TFrmTest::SpeedButton10Click() {
    Frmresults->showWindow();
}

void TFrmTest::ResultsRClick() {
    Frmresults->showWindow();
}

} // namespace kx
