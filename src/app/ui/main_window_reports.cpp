// The main window's reports and stored readings: "Print Data", the hidden File > Print with
// the Print Style dialog, the "Store Data" button with the stored-readings window, and the
// store row's commands, which that window runs too.
#include "app/app_session.h"
#include "app/store_commands.h"
#include "app/ui/main_window.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "recording/ui/readings_grid.h"
#include "reports/ui/print_style_dialog.h"
#include "reports/ui/printer_dialogs.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/store_window.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QToolButton>

namespace kx {
namespace {

// The data-file dialogs the store commands share with File > Open and File > Save As.
FileDialogRequest openDialog1() {
    FileDialogRequest r;
    r.title = QStringLiteral("Open");
    r.filters = {QStringLiteral("access data files (*.DB *.db)"), QStringLiteral("All files (*)")};
    r.confirmOverwrite = false;
    return r;
}

FileDialogRequest saveDialog2(int filter) {
    FileDialogRequest r;
    r.title = QStringLiteral("Save As");
    r.filters = {QStringLiteral("DB File(*.db)"), QStringLiteral("Txt File(*.txt)"),
                 QStringLiteral("Excel File(*.xls)"), QStringLiteral("All File(*)")};
    r.filter = filter;
    r.defaultSuffix = QStringLiteral("xls");
    r.confirmOverwrite = true;
    return r;
}

} // namespace

void TFrmTest::buildReportWindows() {
    PrinterDialogs* printers = printers_;
    if (!printers) {
        ownPrinters_ = std::make_unique<QtPrinterDialogs>();
        printers = ownPrinters_.get();
    }
    store_ = std::make_unique<StoreCommands>(session_);
    reports_ = new ReportCommands(session_.liveTable(), session_.storeTable(), session_.reports(),
                                  ReportServices{boxes_, dialogs_, printers}, this);
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

void TFrmTest::SpeedButton5Click() {
    Frmstore->exec();
}

void TFrmTest::SpeedButton4Click() {
    QWidget* from = commandWindow();
    const std::optional<FileDialogAnswer> answer = dialogs_->openFile(from, openDialog1());
    if (!answer)
        return;
    if (const Status s = store_->open(answer->path); !s)
        boxes_->error(from, s.error());
    DBGrid2->viewport()->update();
}

void TFrmTest::SpeedButton8Click() {
    QWidget* from = commandWindow();
    store_->beginSave();
    const std::optional<FileDialogAnswer> answer =
        dialogs_->saveFile(from, saveDialog2(saveDialog2Filter_));
    if (!answer)
        return;
    saveDialog2Filter_ = answer->filter;
    const Result<QString> saved = store_->save(answer->path);
    if (!saved)
        boxes_->error(from, saved.error());
    else if (!saved.value().isEmpty())
        boxes_->information(from, saved.value());
}

void TFrmTest::SpeedButton9Click() {
    QWidget* from = commandWindow();
    boxes_->information(from, QStringLiteral(" Warning:all Store Records will be deleted! "));
    if (const Status s = store_->deleteAll(); !s)
        boxes_->error(from, s.error());
}

void TFrmTest::SpeedButton7Click() {
    reports_->previewStore(commandWindow());
}

} // namespace kx
