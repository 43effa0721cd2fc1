#pragma once

#include <QObject>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace kx {

class AppSession;
class MessageBoxes;

// The window's Connection menu, with "Reconnect automatically" (kept in the settings file),
// and while the demo runs its Demo menu, whose items make the demo meter fall silent or unplug
// its cable for a while and come back.
class ConnectionMenu : public QObject {
    Q_OBJECT
public:
    static constexpr int kSilentSeconds = 30;
    static constexpr int kUnplugSeconds = 20;
    static constexpr int kDamagedSeconds = 10;

    ConnectionMenu(AppSession& session, QMenuBar* bar, MessageBoxes& boxes, QWidget* window);

    QAction* reconnect() const { return reconnect_; }
    QMenu* demo() const { return demo_; } // null without the demo

private:
    void setReconnect(bool on);

    AppSession& session_;
    MessageBoxes& boxes_;
    QWidget* window_;
    QAction* reconnect_ = nullptr;
    QMenu* demo_ = nullptr;
};

} // namespace kx
