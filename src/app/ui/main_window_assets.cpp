// The main window's way to the asset register: the "Assets" button beside "Test Results" and
// Record > " Assets" show the Assets window; the results window's "File under asset..." files
// the selected test once the user has chosen the asset and confirmed the date and conditions.
#include "analysis/live_results.h"
#include "analysis/ui/results_window.h"
#include "app/app_session.h"
#include "app/ui/asset_requests.h"
#include "app/ui/main_window.h"
#include "assets/ui/assets_window.h"
#include "common/ui/message_boxes.h"

#include <QAction>
#include <QToolButton>

namespace kx {

void TFrmTest::buildAssetsWindow() {
    if (!assetDialogs_) {
        ownAssetDialogs_ = std::make_unique<QtAssetDialogs>();
        assetDialogs_ = ownAssetDialogs_.get();
    }
    assetRequests_ = std::make_unique<AssetRequests>(session_, *dialogs_, *boxes_);
    FrmAssets = new AssetsWindow(session_.assets(), *assetDialogs_, *boxes_, *assetRequests_, this);
    connect(row_.SpeedButton11, &QToolButton::clicked, this, &TFrmTest::SpeedButton11Click);
    connect(menu_.AssetsR, &QAction::triggered, this, &TFrmTest::AssetsRClick);
    connect(Frmresults, &TFrmresults::fileUnderAssetRequested, this, &TFrmTest::fileUnderAsset);
}

void TFrmTest::SpeedButton11Click() {
    FrmAssets->showWindow();
}

void TFrmTest::AssetsRClick() {
    FrmAssets->showWindow();
}

void TFrmTest::fileUnderAsset(int index) {
    TestResults& results = session_.results();
    if (session_.liveIsScratch() || results.isRunning(index)) {
        boxes_->information(Frmresults, results.isRunning(index)
                                            ? tr("The test is still running: file it once it ends.")
                                            : tr("Save the readings as a table file first "
                                                 "(File > Save As): the register keeps the "
                                                 "file's name and contents with the test."));
        return;
    }
    RegisterSession& assets = session_.assets();
    Result<FilingQuestion> question =
        assets.filingQuestion(session_.liveTable().filePath(), results.test(index).test);
    const std::optional<FilingChoice> choice =
        question ? assetDialogs_->askFiling(Frmresults, question.value()) : std::nullopt;
    if (!question || !choice) {
        if (!question)
            boxes_->error(Frmresults, question.error());
        return;
    }
    Result<FilingOutcome> outcome = assets.fileTable(question.value().table, *choice);
    if (outcome)
        boxes_->information(Frmresults, RegisterSession::outcomeText(outcome.value(), choice->tag));
    else
        boxes_->error(Frmresults, outcome.error());
}

} // namespace kx
