// The main window's reports and stored readings: "Print Data", the hidden File > Print with
// the Print Style dialog, the "Store Data" button with the stored-readings window, and the
// store row's commands, which that window runs too.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/store_commands.h"
#include "app/ui/main_window.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "readings/ui/readings_grid.h"
#include "reports/ui/print_style_dialog.h"
#include "reports/ui/printer_dialogs.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/store_window.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QToolButton>

namespace kx {

void TFrmTest::buildReportWindows() {
    PrinterDialogs* printers = printers_;
    if (!printers) {
        ownPrinters_ = std::make_unique<QtPrinterDialogs>();
        printers = ownPrinters_.get();
    }
    store_ = std::make_unique<StoreCommands>(session_);
    reports_ = new ReportCommands(session_.liveTable(), session_.storeTable(), session_.reports(),
                                  ReportServices{boxes_, dialogs_, printers, progress_}, this);
    Frmprint = new TFrmprint(*reports_, *dialogs_, this);
    StoreActions actions;
    actions.save = [this] { SpeedButton8Click(); };
    actions.deleteAll = [this] { SpeedButton9Click(); };
    actions.open = [this] { SpeedButton4Click(); };
    actions.print = [this] { SpeedButton7Click(); };
    Frmstore = new TFrmstore(session_.storeTable(), *boxes_, std::move(actions), this);

    // The store row lies at the foot of the readings grid's area, under the grid.
    const QRect grid = DBGrid1->geometry();
    storeRow_ = buildStoreRow(ClientArea, QRect(grid.left() + 2, grid.bottom() - 24, 220, 24));
    storeRow_.Panel8->stackUnder(DBGrid1);

    connect(row_.MajPrint, &QToolButton::clicked, this, &TFrmTest::MajPrintClick);
    connect(row_.SpeedButton5, &QToolButton::clicked, this, &TFrmTest::SpeedButton5Click);
    connect(menu_.print, &QAction::triggered, this, &TFrmTest::printClick);
    connect(storeRow_.SpeedButton4, &QToolButton::clicked, this, &TFrmTest::SpeedButton4Click);
    connect(storeRow_.SpeedButton8, &QToolButton::clicked, this, &TFrmTest::SpeedButton8Click);
    connect(storeRow_.SpeedButton9, &QToolButton::clicked, this, &TFrmTest::SpeedButton9Click);
    connect(storeRow_.SpeedButton7, &QToolButton::clicked, this, &TFrmTest::SpeedButton7Click);
}

QWidget* TFrmTest::commandWindow() {
    return Frmstore && Frmstore->isVisible() ? static_cast<QWidget*>(Frmstore) : this;
}

void TFrmTest::MajPrintClick() {
    reports_->previewData(this);
}

void TFrmTest::printClick() {
    Frmprint->exec();
}

// "Store Data" (tool strip, hidden at design): shows the stored-readings window.
void TFrmTest::SpeedButton5Click() {
    Frmstore->exec();
}

// Store row, first button (no caption, no hint): opens a table file into the stored table.
void TFrmTest::SpeedButton4Click() {
    QWidget* from = commandWindow();
    FileDialogRequest request;
    request.filters = FileCommands::openFilters();
    request.confirmOverwrite = false;
    const std::optional<FileDialogAnswer> answer = dialogs_->openFile(from, request);
    if (!answer)
        return;
    if (const Status s = store_->open(answer->path); !s)
        boxes_->error(from, s.error());
    DBGrid2->viewport()->update();
}

// Store row, "Save Data": saves the stored table by the Save As rule.
void TFrmTest::SpeedButton8Click() {
    // The save dialog, its remembered filter and the writers are Save As's.
    saveTableAs(commandWindow(), ExportKind::Store);
}

// Store row, "Delete Data": asks, then deletes every stored record.
void TFrmTest::SpeedButton9Click() {
    QWidget* from = commandWindow();
    const DeletionQuestion q = store_->deleteAllQuestion();
    if (!boxes_->confirmDeletion(from, q.text, q.file))
        return;
    if (const Status s = store_->deleteAll(); !s)
        boxes_->error(from, s.error());
}

// Store row, last button (no hint): previews the stored-data report.
void TFrmTest::SpeedButton7Click() {
    reports_->previewStore(commandWindow());
}

} // namespace kx
