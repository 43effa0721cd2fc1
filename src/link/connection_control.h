// Room link: the cable, from HID devices to decoded frames, and the simulated meter. Uses
// common and display.
#pragma once

#include "link/hid_device_controller.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kx {

class FrameDecoder;
class FrameReceiver;

// The main window's side of the meter link: the device list with the cable picked out by its
// product string, CONNECT and DISCONNECT, the cable's setup report, the frame receiver as the
// cable's data handler, and the watchdog that drops a link whose meter fell silent. It holds
// the state of the window's link controls (most of them hidden); the window shows it. What
// becomes of the receiver's frames is the session's business.
class ConnectionControl : public QObject {
    Q_OBJECT
public:
    static constexpr std::array<std::uint8_t, 10> CableSetupReport = {0x00, 0x60, 0x09, 0x00, 0x00,
                                                                      0x03, 0x00, 0x00, 0x00, 0x00};
    static constexpr std::int32_t kIdleReportLimit = 1900;
    static constexpr int kConTimerMs = 100;

    static QString notConnectedMessage() {
        return QStringLiteral(
            "USB interface cable is not securely connected, please check and re-try.");
    }
    static QString meterSilentMessage() {
        return QStringLiteral(
            "USB interface cable is securely connected, please check if the meter is ready.");
    }

    // The colours the CONNECT caption takes.
    enum class CaptionColor { Black, Yellow };

    ConnectionControl(std::shared_ptr<HidPlatform> platform, FrameReceiver& receiver,
                      FrameDecoder& decoder, QObject* parent = nullptr);
    ~ConnectionControl() override;

    // Arms the device controller (its first scan runs from the event loop) and the watchdog.
    void start();

    // User events.
    void Panel2Click();
    void USBConClick();
    void ReadBtnClick();
    void SetFeatureClick();
    void Panel1Click();
    void COMClick(int port); // 1..4
    void USBClick();
    void ConTimerTimer();

    // Controller events.
    bool HidCtlEnumerate(THidDevice* device, std::int32_t index);
    void HidCtlDeviceChange();
    void HidCtlArrival(THidDevice* device);
    void HidCtlRemoval(THidDevice* device);
    void HidCtlDeviceDataError(THidDevice* device, std::uint32_t error);

    // State of the controls.
    struct DeviceItem {
        QString text;
        std::unique_ptr<THidDevice> device; // none when the claim failed
    };
    const std::vector<DeviceItem>& DevListBox() const { return devList_; }
    int devListSelection() const { return devSelected_; }
    const QStringList& HistoryListBox() const { return history_; }
    bool usbConDown() const { return usbConDown_; }
    const QString& panel2Caption() const { return panel2Caption_; }
    CaptionColor panel2Color() const { return panel2Color_; }
    bool comsetEnabled() const { return comsetEnabled_; }
    const QString& panel1Caption() const { return panel1Caption_; }
    // Why the link stopped reading without the user's DISCONNECT (the watchdog, a device
    // change); empty once the user connects or disconnects again.
    const QString& dropReason() const { return dropReason_; }
    std::int8_t LinkPort = 0; // 1..4 COM1..COM4, 5 USB; start-up sets 5
    std::array<bool, 4> comChecked{true, false, false, false};
    bool usbChecked = false;
    std::int32_t WatchdogTicks = 0;
    THidDevice* SelectedDevice = nullptr;

    // Automatic reconnection, off unless turned on. On, a link that drops (the watchdog, the
    // cable unplugged, a device change) is not given up: it is lost (linkLost) and tried again
    // at once, whenever the devices change (the cable seen again), and otherwise after 1, 2, 4,
    // 8, then every kMaxRetryMs of the clock, each try sending the cable's setup report again
    // and reading from it. The first frame decoded after that restores it (linkRestored).
    // DISCONNECT, the exits and shutDown stop trying at once (retryingStopped). The caption
    // says DISCONNECT throughout, on yellow while the link is lost.
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kMaxRetryMs = 10000;
    // Turned off while the link is being tried again, the trying stops as DISCONNECT stops it.
    void setAutoReconnect(bool on);
    bool autoReconnect() const { return autoReconnect_; }
    bool reconnecting() const { return reconnecting_; }
    // The try under way or last made since the link was lost, from 1.
    int reconnectAttempt() const { return attempt_; }
    const QDateTime& lostAt() const { return lostAt_; }
    // The clock the link takes the time of day from; with `driven` the watchdog's timer is not
    // started and the clock's owner calls ConTimerTimer every kConTimerMs of its time (tests
    // and soaks on a simulated clock).
    void setClock(std::function<QDateTime()> now, bool driven);
    QDateTime now() const { return now_(); }
    // A complete frame came from the cable: a lost link is back.
    void frameArrived();

    // Adds a line to the history list and selects it.
    void log(const QString& line) { addHistory(line); }

    // Stops any reading so that nothing calls back into the window while it goes away.
    void shutDown();

Q_SIGNALS:
    void panel2Changed();
    void historyChanged();
    void deviceListChanged();
    // The link stopped reading without the user's DISCONNECT; `reason` in words.
    void linkDropped(const QString& reason);
    // With automatic reconnection: the link went down at `at` (`why` in words) and is being
    // tried again; each try (from 1) is told; the link came back at `at`; or the trying was
    // stopped at `at` by DISCONNECT or an exit.
    void linkLost(const QDateTime& at, const QString& why);
    void reconnectAttempted(int attempt);
    void linkRestored(const QDateTime& at);
    void retryingStopped(const QDateTime& at);
    // A message for the user, shown as a modal information box ("Information", one OK) in the
    // window: the link goes on once every listener has returned.
    void information(const QString& text);

private:
    void selectDevice();
    void addHistory(const QString& line);
    void setPanel2(const QString& caption, CaptionColor color);
    void drop(const QString& reason);
    bool sendSetupReport();
    void loseLink(const QString& why);
    void retry();
    void stopRetrying();
    void dataHandler(THidDevice* dev, std::uint8_t reportId, const std::uint8_t* data,
                     std::uint16_t size);

    FrameReceiver& receiver_;
    FrameDecoder& decoder_;
    std::unique_ptr<THidDeviceController> hidCtl_;
    THidDataEvent readPw60_;
    QTimer conTimer_;

    std::vector<DeviceItem> devList_;
    int devSelected_ = -1;
    QStringList history_;
    bool usbConDown_ = false;
    QString panel2Caption_ = QStringLiteral("CONNECT");
    CaptionColor panel2Color_ = CaptionColor::Black;
    bool comsetEnabled_ = true;
    QString panel1Caption_ = QStringLiteral("USB");
    QString dropReason_;

    std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
    bool timerDriven_ = false;
    bool autoReconnect_ = false;
    bool reconnecting_ = false;
    int attempt_ = 0;
    QDateTime lostAt_;
    QDateTime nextRetry_;
};

} // namespace kx
