#pragma once

#include "app/ui/control_row.h"
#include "app/ui/main_menu.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QFrame;
class QScrollArea;

namespace kx {

class AppSession;
class CaptionPanel;
class FileDialogs;
class LinkControls;
class MessageBoxes;
class ReadingsGrid;
class VirtualPanel;

// The dialogs and message boxes the windows show, behind interfaces so tests answer them.
// Real ones are used for those not given.
struct UiServices {
    MessageBoxes* boxes = nullptr;
    FileDialogs* dialogs = nullptr;
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

protected:
    // Every way the window closes (the close box, the exits, a stop signal) ends the link.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildClientArea();
    ReadingsGrid* buildReadingsGrid(const char* name, const QRect& geometry, bool store);
    void connectSession();
    void connectRecording();
    // Start-up steps once every control exists; a failing step shows its error and ends
    // the start-up, the window still opens.
    void FormCreate();
    void setRecordLimit(QAction* item, std::int32_t limit);

    AppSession& session_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<FileDialogs> ownDialogs_;
    MessageBoxes* boxes_ = nullptr;
    FileDialogs* dialogs_ = nullptr;

    MainMenu menu_;
    ControlRow row_;
    LinkControls* linkControls_ = nullptr;

    QScrollArea* ScrollBox = nullptr;
    QWidget* ClientArea = nullptr;
    VirtualPanel* VirtualPanel1 = nullptr;
    CaptionPanel* Panel2 = nullptr; // CONNECT
    CaptionPanel* Panel3 = nullptr; // EXIT
    ReadingsGrid* DBGrid1 = nullptr;
    QFrame* Chtshow = nullptr;
    ReadingsGrid* DBGrid2 = nullptr;
};

} // namespace kx
