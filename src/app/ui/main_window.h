#pragma once

#include "app/ui/control_row.h"
#include "app/ui/main_menu.h"

#include <QMainWindow>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QFrame;
class QScrollArea;

namespace kx {

class AppSession;
class AssetDialogs;
class AssetRequests;
class AssetsWindow;
class CaptionPanel;
class ChartView;
class FileDialogs;
class HelpWindow;
class ConnectionMenu;
class LinkControls;
class MessageBoxes;
class PrinterDialogs;
class ProgressDialogs;
class ReadingsGrid;
class ReportCommands;
class StatusLine;
class StoreCommands;
class TFrmprint;
class TFrmresults;
class TFrmstore;
struct RecordingState;
struct SaveAsOutcome;
enum class ExportKind;
class TFrmAbout;
class TFrmsearch;
class VirtualPanel;

// The dialogs and message boxes the windows show, behind interfaces so tests answer them.
// Real ones are used for those not given.
struct UiServices {
    MessageBoxes* boxes = nullptr;
    FileDialogs* dialogs = nullptr;
    ProgressDialogs* progress = nullptr;
    PrinterDialogs* printers = nullptr;
    AssetDialogs* assets = nullptr;
};

// The program's main window: menu bar, virtual panel, control row, readings grid, and below
// the visible area the chart and the stored grid, reached by scrolling. It shows the
// session's state and passes the user's commands to it; each handler reads its widgets,
// calls the session and shows the result.
class TFrmTest : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 621;
    static constexpr int kClientHeight = 528;

    explicit TFrmTest(AppSession& session, UiServices services = {}, QWidget* parent = nullptr);
    ~TFrmTest() override;

    AppSession& session() { return session_; }
    MessageBoxes& boxes() { return *boxes_; }
    VirtualPanel* panel() const { return VirtualPanel1; }
    // True when start-up ended the program (the settings file is missing): the window is then
    // not to be shown, and the program leaves.
    bool startUpEnded() const { return startUpEnded_; }
    // Another start of the program asked for this window: shown, raised and activated.
    void bringForward();
    ChartView* chart() const { return Chtshow; }

    // 0 hides every annunciator, 1 shows them all, other values do nothing; digits, the
    // strip and the link indicators are left alone.
    void DispInit(int mode);

    // The side windows, made once at program start; their commands show them.
    void setAboutBox(TFrmAbout* box) { FrmAbout = box; }
    void setSearchDialog(TFrmsearch* dialog) { Frmsearch = dialog; }
    // The help viewer, made at the first F1; null until then.
    HelpWindow* helpWindow() const { return help_; }
    // The manual F1 opens: help/index.html in the program's folder.
    QString helpFile() const;
    // The status line at the window's foot.
    StatusLine* statusLine() const { return StatusLine1; }

    // The program was told to stop (a signal): the window closes without a question; the
    // journal keeps the readings for the next start.
    void endBySignal();

public Q_SLOTS:
    void Panel2Click();
    void Panel3Click();
    void ExitClick();
    void NewClick();
    void OpenClick();
    void Save_asClick();
    void filename1Click();
    void filename2Click();
    void filename3Click();
    void filename4Click();
    void filename5Click();
    void set1kClick();
    void set5kClick();
    void set10kClick();
    void set50kClick();
    void set100kClick();
    void setlimitClick();
    void ClearRClick();
    void RecordSITimeChange(const QString& text);
    void HELP1Click();
    void About2Click();
    void SearchRClick();
    // The chart's enlarge and restore images.
    void TbSxClick();
    // Store row, no caption: the window to 755 x 538 (outer size), the chart 278 high.
    void SpeedButton6Click();

    // Reports and stored readings (main_window_reports.cpp).
    void MajPrintClick();
    void printClick();
    // "Store Data" (hidden): shows the stored-readings window.
    void SpeedButton5Click();
    // Store row, no caption: opens a chosen file into the stored table.
    void SpeedButton4Click();
    // Store row, "Save Data": saves the stored table under a chosen name.
    void SpeedButton8Click();
    // Store row, "Delete Data": empties the stored table once confirmed.
    void SpeedButton9Click();
    // Store row, no caption: previews the stored-data report.
    void SpeedButton7Click();

    // The test results window, from the tool strip and the Record menu
    // (main_window_results.cpp).
    void SpeedButton10Click();
    void ResultsRClick();

    // The Assets window, from the tool strip and the Record menu, and filing a test of the
    // results window under an asset (main_window_assets.cpp).
    void SpeedButton11Click();
    void AssetsRClick();
    void fileUnderAsset(int index);

public:
    ReportCommands& reports() { return *reports_; }
    AssetsWindow* assetsWindow() const { return FrmAssets; }
    TFrmresults* resultsWindow() const { return Frmresults; }

protected:
    // Every way the window closes (the close box, the exits, a stop signal) ends the link.
    void closeEvent(QCloseEvent* event) override;
    // Start-up: saves the readings of unfinished recordings, then journals this one.
    void recoverReadings();

private:
    // The report commands, the Print Style dialog, the stored-readings window and the store
    // row, made once with the window.
    void buildReportWindows();
    void buildResultsWindow();
    void buildAssetsWindow();
    // The window a store command was started from: the stored-readings window when it is
    // open, else this one. Its dialogs and messages show above it.
    QWidget* commandWindow();

    void buildClientArea();
    ReadingsGrid* buildReadingsGrid(const char* name, const QRect& geometry, bool store);
    void connectSession();
    void connectRecording();
    void connectFiles();
    // Menu entries and separator as the recent list stands.
    void showRecentFiles();
    void openRecentFile(int position);
    // Open failed: a damaged table is offered for salvage, any other failure is shown.
    void openFailed(const QString& path, const QString& failure);
    // Save As of the live table or the stored one, asked for and told from `from`; true when
    // the table was saved.
    bool saveTableAs(QWidget* from, ExportKind kind);
    void showSaveOutcome(QWidget* from, const SaveAsOutcome& outcome);
    // Before the live table's unsaved readings are dropped (leaving, Open, a recent entry):
    // asks to save them. True when the command may go on: nothing unsaved, saved, or
    // discarded.
    bool mayDropReadings();
    void showRecordingState(const RecordingState& state);
    void warnReadingsUnsafe(const QString& failure);
    void connectSideWindows();
    void connectChart();
    // Start-up steps once every control exists; a failing step shows its error and ends
    // the start-up, the window still opens.
    void FormCreate();
    void setRecordLimit(QAction* item, std::int32_t limit);

    AppSession& session_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<FileDialogs> ownDialogs_;
    std::unique_ptr<ProgressDialogs> ownProgress_;
    MessageBoxes* boxes_ = nullptr;
    FileDialogs* dialogs_ = nullptr;
    ProgressDialogs* progress_ = nullptr;
    PrinterDialogs* printers_ = nullptr;
    bool startUpEnded_ = false;
    bool stopping_ = false;     // told to stop by a signal: no questions
    bool unsafeWarned_ = false; // the box that the readings are not kept safe is shown once

    MainMenu menu_;
    ControlRow row_;
    LinkControls* linkControls_ = nullptr;
    ConnectionMenu* connectionMenu_ = nullptr; // made once the settings file was read

    QScrollArea* ScrollBox = nullptr;
    QWidget* ClientArea = nullptr;
    VirtualPanel* VirtualPanel1 = nullptr;
    CaptionPanel* Panel2 = nullptr; // CONNECT
    CaptionPanel* Panel3 = nullptr; // EXIT
    ReadingsGrid* DBGrid1 = nullptr;
    ChartView* Chtshow = nullptr;
    QRect ChartNormalBounds; // where the chart was before it was enlarged
    ReadingsGrid* DBGrid2 = nullptr;
    StatusLine* StatusLine1 = nullptr;

    TFrmAbout* FrmAbout = nullptr;
    TFrmsearch* Frmsearch = nullptr;
    HelpWindow* help_ = nullptr;
    std::unique_ptr<PrinterDialogs> ownPrinters_;
    std::unique_ptr<StoreCommands> store_;
    ReportCommands* reports_ = nullptr;
    TFrmprint* Frmprint = nullptr;
    TFrmstore* Frmstore = nullptr;
    TFrmresults* Frmresults = nullptr;
    std::unique_ptr<AssetDialogs> ownAssetDialogs_;
    AssetDialogs* assetDialogs_ = nullptr;
    std::unique_ptr<AssetRequests> assetRequests_;
    AssetsWindow* FrmAssets = nullptr;
    StoreRow storeRow_;
};

} // namespace kx
