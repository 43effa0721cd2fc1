#pragma once

#include "display/frame_decoder.h"
#include "link/frame_receiver.h"
#include "link/hid_platform.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QLineEdit;
class QListWidget;
class QPushButton;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QTimer;
class QToolButton;

namespace kx {

class CaptionPanel;
class ConnectionControl;
class MessageBoxes;
class ReadingsGrid;
class ReadingsTable;
class VirtualPanel;
struct GridLayout;
struct RecordingSession;

// The core objects the window drives: the cable's reports in, frames assembled, the display
// state decoded. The window owns one and only calls it.
struct MeterSession {
    FrameReceiver receiver;
    FrameDecoder decoder;
};

// What the window is built on; tests give their own message boxes and table files.
struct WindowSetup {
    MessageBoxes* boxes = nullptr;         // not owned; real dialogs when none is given
    std::shared_ptr<HidPlatform> platform; // the system's HID devices when none is given
    QString liveTable = QStringLiteral("Pw60bdb");
    QString storeTable = QStringLiteral("pw60SD");
};

// The program's main window: menu bar, virtual panel, control row, readings grid, and below
// the visible area the chart and the stored grid, reached by scrolling.
class TFrmTest : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 621;
    static constexpr int kClientHeight = 528;

    explicit TFrmTest(QWidget* parent = nullptr);
    explicit TFrmTest(const WindowSetup& setup, QWidget* parent = nullptr);
    ~TFrmTest() override;

    MeterSession& session() { return *session_; }
    RecordingSession& recording() { return *recording_; }
    ConnectionControl& link() { return *link_; }
    MessageBoxes& boxes() { return *boxes_; }
    VirtualPanel* panel() const { return VirtualPanel1; }

    // 0 hides every annunciator, 1 shows them all, other values do nothing; digits, the
    // strip and the link indicators are left alone.
    void DispInit(int mode);

public Q_SLOTS:
    void Panel2Click();
    void Panel3Click();
    void ExitClick();
    void set1kClick();
    void set5kClick();
    void set10kClick();
    void set50kClick();
    void set100kClick();
    void setlimitClick();
    void ClearRClick();
    void RecordSITimeChange(const QString& text);
    void SampInterTimeTimer();

private:
    void buildMenus();
    void buildClientArea();
    void buildToolStrip(QWidget* client);
    void connectSession();
    void buildLinkControls(QWidget* client);
    void showLinkState();
    // Start-up steps once every control exists; a failing step shows its error and ends
    // the start-up, the window still opens.
    void FormCreate();

    // Recording side (main_window_recording.cpp).
    ReadingsGrid* buildReadingsGrid(const char* name, const QRect& geometry, ReadingsTable& table,
                                    const GridLayout& layout);
    void connectRecording();
    bool openLiveTableAtStart(QString* error);
    void setRecordLimit(QAction* item, std::int32_t limit);
    void recordingError(const QString& message);

    std::unique_ptr<MeterSession> session_;
    std::unique_ptr<RecordingSession> recording_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    MessageBoxes* boxes_ = nullptr;
    std::unique_ptr<ConnectionControl> link_;

    // Menu bar and items (named as the items).
    QMenuBar* MainMenu1 = nullptr;
    QMenu* FileSet1 = nullptr;
    QAction* New = nullptr;
    QAction* Open = nullptr;
    QAction* Save_as = nullptr;
    QAction* print = nullptr;
    QAction* Exit = nullptr;
    QAction* FileSep = nullptr;
    QAction* filename1 = nullptr;
    QAction* filename2 = nullptr;
    QAction* filename3 = nullptr;
    QAction* filename4 = nullptr;
    QAction* filename5 = nullptr;
    QMenu* Comset = nullptr;
    QMenu* COM = nullptr;
    QAction* COM1 = nullptr;
    QAction* COM2 = nullptr;
    QAction* COM3 = nullptr;
    QAction* COM4 = nullptr;
    QAction* USB = nullptr;
    QMenu* Grap = nullptr;
    QAction* SaveWhole1 = nullptr;
    QMenu* GoTo1 = nullptr;
    QAction* First1 = nullptr;
    QAction* Next1 = nullptr;
    QAction* Last1 = nullptr;
    QAction* Privous1 = nullptr;
    QAction* Fill1 = nullptr;
    QAction* Clear1 = nullptr;
    QMenu* Rec = nullptr;
    QAction* SaveR = nullptr;
    QMenu* RecSet = nullptr;
    QActionGroup* RecSetGroup = nullptr;
    QAction* set1k = nullptr;
    QAction* set5k = nullptr;
    QAction* set10k = nullptr;
    QAction* set50k = nullptr;
    QAction* set100k = nullptr;
    QAction* setlimit = nullptr;
    QAction* ClearR = nullptr;
    QAction* SearchR = nullptr;
    QMenu* About1 = nullptr;
    QAction* HELP1 = nullptr;
    QAction* About2 = nullptr;

    // Client area.
    QScrollArea* ScrollBox = nullptr;
    QWidget* ClientArea = nullptr;
    VirtualPanel* VirtualPanel1 = nullptr;
    CaptionPanel* Panel2 = nullptr;
    CaptionPanel* Panel3 = nullptr;
    QFrame* Panel7 = nullptr;
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* MajPrint = nullptr;
    QToolButton* SpeedButton5 = nullptr;
    QTimer* SampInterTime = nullptr;
    ReadingsGrid* DBGrid1 = nullptr;
    QFrame* Chtshow = nullptr;
    ReadingsGrid* DBGrid2 = nullptr;

    // Link controls the user does not see: their state is the link's state.
    QPushButton* USBCon = nullptr;
    QPushButton* ReadBtn = nullptr;
    QPushButton* SetFeature = nullptr;
    QListWidget* DevListBox = nullptr;
    QListWidget* HistoryListBox = nullptr;
    QLabel* Panel1 = nullptr;
};

} // namespace kx
