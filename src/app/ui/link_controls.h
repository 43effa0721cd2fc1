#pragma once

#include <QObject>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace kx {

class CaptionPanel;
class ConnectionControl;
struct MainMenu;

// The window's side of the meter link: the CONNECT panel, the ComSet menu's items and the
// link controls the user does not see (their state is the connection control's state). It
// passes clicks to the connection control and shows its state after each change.
class LinkControls : public QObject {
    Q_OBJECT
public:
    LinkControls(ConnectionControl& link, QWidget* client, CaptionPanel* panel2,
                 const MainMenu& menu);

    // Shows the connection control's state on the CONNECT panel, the hidden buttons and the
    // ComSet menu.
    void showLinkState();

    QPushButton* USBCon = nullptr;
    QPushButton* ReadBtn = nullptr;
    QPushButton* SetFeature = nullptr;
    QListWidget* DevListBox = nullptr;
    QListWidget* HistoryListBox = nullptr;
    QLabel* Panel1 = nullptr;

private:
    void showHistory();
    void showDeviceList();

    ConnectionControl& link_;
    CaptionPanel* panel2_;
    const MainMenu& menu_;
};

} // namespace kx
