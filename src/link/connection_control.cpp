#include "link/connection_control.h"

#include "display/frame_decoder.h"
#include "link/device_display_name.h"
#include "link/frame_receiver.h"
#include "link/hid_platform.h"

#include <algorithm>
#include <cstring>

namespace kx {

namespace {
const QString kCable = QStringLiteral("USB to Serial");
}

ConnectionControl::ConnectionControl(std::shared_ptr<HidPlatform> platform, FrameReceiver& receiver,
                                     FrameDecoder& decoder, QObject* parent)
    : QObject(parent), receiver_(receiver), decoder_(decoder),
      hidCtl_(std::make_unique<THidDeviceController>(std::move(platform))) {
    readPw60_ = THidDataEvent([this](THidDevice* dev, std::uint8_t id, const std::uint8_t* data,
                                     std::uint16_t size) { dataHandler(dev, id, data, size); });

    hidCtl_->SetOnArrival([this](THidDevice* d) { HidCtlArrival(d); });
    hidCtl_->SetOnEnumerate(
        [this](THidDevice* d, std::int32_t i) { return HidCtlEnumerate(d, i); });
    hidCtl_->SetOnDeviceDataError(
        [this](THidDevice* d, std::uint32_t e) { HidCtlDeviceDataError(d, e); });
    hidCtl_->SetOnRemoval([this](THidDevice* d) { HidCtlRemoval(d); });
    hidCtl_->SetOnDeviceChange([this](THidDeviceController*) { HidCtlDeviceChange(); });

    conTimer_.setInterval(kConTimerMs);
    connect(&conTimer_, &QTimer::timeout, this, &ConnectionControl::ConTimerTimer);
}

ConnectionControl::~ConnectionControl() {
    shutDown();
}

void ConnectionControl::shutDown() {
    conTimer_.stop();
    reconnecting_ = false;
    // Reading threads end before the controller and the devices go away; the controller then
    // marks the devices still claimed as missing, and they are destroyed last.
    for (DeviceItem& item : devList_) {
        if (item.device)
            item.device->SetDataHandler(nullptr);
    }
    SelectedDevice = nullptr;
    hidCtl_.reset();
    devList_.clear();
    devSelected_ = -1;
}

void ConnectionControl::start() {
    if (!hidCtl_)
        return;
    hidCtl_->ArmNotifications();
    if (!timerDriven_)
        conTimer_.start();
}

void ConnectionControl::dataHandler(THidDevice*, std::uint8_t reportId, const std::uint8_t* data,
                                    std::uint16_t size) {
    receiver_.ReadPw60(reportId, data, size);
}

void ConnectionControl::selectDevice() {
    SelectedDevice = nullptr;
    if (!devList_.empty() && devSelected_ >= 0 && devSelected_ < static_cast<int>(devList_.size()))
        SelectedDevice = devList_[static_cast<std::size_t>(devSelected_)].device.get();
}

void ConnectionControl::addHistory(const QString& line) {
    history_.append(line);
    Q_EMIT historyChanged();
}

void ConnectionControl::setPanel2(const QString& caption, CaptionColor color) {
    panel2Caption_ = caption;
    panel2Color_ = color;
    Q_EMIT panel2Changed();
}

void ConnectionControl::drop(const QString& reason) {
    dropReason_ = reason;
    Q_EMIT linkDropped(reason);
}

void ConnectionControl::ReadBtnClick() {
    selectDevice();
    if (SelectedDevice && SelectedDevice->ReadWriteAccess())
        SelectedDevice->SetDataHandler(nullptr);
}

bool ConnectionControl::sendSetupReport() {
    const bool sent =
        SelectedDevice->SendFeatureReport(CableSetupReport.data(), CableSetupReport.size());
    qCDebug(lcHid) << "setup report" << (sent ? "sent" : "not sent");
    QString line;
    for (std::size_t i = 1; i < CableSetupReport.size(); ++i)
        line += QStringLiteral("%1 ").arg(CableSetupReport[i], 2, 16, QLatin1Char('0'));
    addHistory(line);
    return sent;
}

void ConnectionControl::setClock(std::function<QDateTime()> now, bool driven) {
    now_ = std::move(now);
    timerDriven_ = driven;
    if (driven)
        conTimer_.stop();
}

void ConnectionControl::setAutoReconnect(bool on) {
    autoReconnect_ = on;
    if (!on && reconnecting_)
        stopRetrying();
}

void ConnectionControl::loseLink(const QString& why) {
    if (SelectedDevice)
        SelectedDevice->SetDataHandler(nullptr);
    reconnecting_ = true;
    attempt_ = 0;
    lostAt_ = now();
    addHistory(QStringLiteral("Link lost: ") + why);
    setPanel2(QStringLiteral("DISCONNECT"), CaptionColor::Yellow);
    Q_EMIT linkLost(lostAt_, why);
    retry();
}

void ConnectionControl::retry() {
    ++attempt_;
    // The next try waits twice as long as the last, up to its limit; a device change comes
    // first whenever it comes.
    const int shift = std::min(attempt_ - 1, 4);
    nextRetry_ = now().addMSecs(std::min(kFirstRetryMs << shift, kMaxRetryMs));
    receiver_.resetIdleReportCount();
    selectDevice();
    if (SelectedDevice && SelectedDevice->ReadWriteAccess() && sendSetupReport())
        SelectedDevice->SetDataHandler(readPw60_);
    Q_EMIT reconnectAttempted(attempt_);
}

void ConnectionControl::frameArrived() {
    if (!reconnecting_)
        return;
    reconnecting_ = false;
    const QDateTime at = now();
    addHistory(QStringLiteral("Link restored"));
    setPanel2(QStringLiteral("DISCONNECT"), CaptionColor::Black);
    Q_EMIT linkRestored(at);
}

void ConnectionControl::stopRetrying() {
    reconnecting_ = false;
    usbConDown_ = false;
    selectDevice();
    if (SelectedDevice) {
        SelectedDevice->SetDataHandler(nullptr);
        if (SelectedDevice->ReadWriteAccess())
            sendSetupReport(); // left as it was found, as DISCONNECT leaves it
    }
    receiver_.resetIdleReportCount();
    comsetEnabled_ = true;
    setPanel2(QStringLiteral("CONNECT"), CaptionColor::Black);
    Q_EMIT retryingStopped(now());
}

void ConnectionControl::SetFeatureClick() {
    selectDevice();
    if (SelectedDevice) {
        sendSetupReport();
        return;
    }
    Q_EMIT information(notConnectedMessage());
    usbConDown_ = false;
}

void ConnectionControl::USBConClick() {
    dropReason_.clear(); // the user's own CONNECT or DISCONNECT
    if (reconnecting_) {
        stopRetrying(); // the link counts as connected while it is tried again
        return;
    }
    usbConDown_ = !usbConDown_;
    ReadBtnClick();
    SetFeatureClick();
    receiver_.resetIdleReportCount();
    selectDevice();
    if (SelectedDevice) {
        if (!SelectedDevice->ReadWriteAccess())
            usbConDown_ = false;
        else if (usbConDown_)
            SelectedDevice->SetDataHandler(readPw60_);
        else
            SelectedDevice->SetDataHandler(nullptr);
    }
    comsetEnabled_ = !usbConDown_;
    setPanel2(usbConDown_ ? QStringLiteral("DISCONNECT") : QStringLiteral("CONNECT"),
              CaptionColor::Black);
}

void ConnectionControl::Panel2Click() {
    if (reconnecting_) {
        // DISCONNECT while the link is lost ends the trying, quietly: no cable to tell about.
        dropReason_.clear();
        stopRetrying();
        return;
    }
    if (panel2Caption_ == QLatin1String("CONNECT")) {
        if (LinkPort > 4)
            USBConClick();
        return;
    }
    comsetEnabled_ = true;
    setPanel2(QStringLiteral("CONNECT"), CaptionColor::Black);
    if (LinkPort == 5)
        USBConClick();
}

void ConnectionControl::ConTimerTimer() {
    if (reconnecting_ && now() >= nextRetry_)
        retry();
    if (WatchdogTicks != 2) {
        ++WatchdogTicks;
        return;
    }
    if (reconnecting_) {
        // The tries are timed by the clock, not by the idle reports.
    } else if (receiver_.IdleReportCount() >= kIdleReportLimit && autoReconnect_ && usbConDown_) {
        loseLink(QStringLiteral("the meter sent no readings"));
    } else if (receiver_.IdleReportCount() >= kIdleReportLimit) {
        receiver_.resetIdleReportCount();
        usbConDown_ = false;
        if (SelectedDevice)
            SelectedDevice->SetDataHandler(nullptr);
        // Told before the box, which waits for the user.
        drop(QStringLiteral("the meter sent no readings; check that it is on and ready, then "
                            "press CONNECT"));
        Q_EMIT information(meterSilentMessage());
        if (panel2Caption_ == QLatin1String("DISCONNECT"))
            setPanel2(QStringLiteral("CONNECT"), CaptionColor::Yellow);
    }
    LinkIndicators link = decoder_.state().link();
    link.conOk = false;
    link.conOkN = true;
    decoder_.updateLink(link);
    WatchdogTicks = 0;
}

bool ConnectionControl::HidCtlEnumerate(THidDevice* device, std::int32_t index) {
    DeviceItem item;
    item.text = DeviceDisplayName(*device);
    hidCtl_->ClaimDeviceAt(index, item.device);
    devList_.push_back(std::move(item));
    return true;
}

void ConnectionControl::HidCtlDeviceChange() {
    // Reading stops at every device change; a connected cable needs the user to connect again.
    const bool wasReading = usbConDown_;
    ReadBtnClick();
    SelectedDevice = nullptr;
    // Released devices go back to the controller, which lists unclaimed twins in their place.
    std::vector<DeviceItem> released = std::move(devList_);
    devList_.clear();
    devSelected_ = -1;
    released.clear();
    hidCtl_->EnumerateDevices();
    for (std::size_t i = 0; i < devList_.size(); ++i) {
        if (devList_[i].text == kCable)
            devSelected_ = static_cast<int>(i);
    }
    Q_EMIT deviceListChanged();
    if (wasReading && autoReconnect_) {
        // The cable seen again is tried at once; gone, it is waited for.
        if (reconnecting_)
            retry();
        else
            loseLink(devSelected_ < 0 ? QStringLiteral("the cable was unplugged")
                                      : QStringLiteral("a USB device was plugged in or removed"));
        return;
    }
    if (wasReading)
        drop(QStringLiteral("a USB device was plugged in or removed; press DISCONNECT, then "
                            "CONNECT"));
}

void ConnectionControl::HidCtlArrival(THidDevice* device) {
    addHistory(QStringLiteral("Arrival of ") + DeviceDisplayName(*device));
}

void ConnectionControl::HidCtlRemoval(THidDevice* device) {
    addHistory(QStringLiteral("Removal of ") + DeviceDisplayName(*device));
}

void ConnectionControl::HidCtlDeviceDataError(THidDevice*, std::uint32_t error) {
    const QString text = QString::fromLocal8Bit(std::strerror(static_cast<int>(error)));
    addHistory(
        QStringLiteral("READ ERROR: %1 (%2)").arg(text, QString::number(error, 16).toUpper()));
}

void ConnectionControl::COMClick(int port) {
    if (port < 1 || port > 4)
        return;
    const auto i = static_cast<std::size_t>(port - 1);
    comChecked[i] = !comChecked[i];
    for (std::size_t k = 0; k < comChecked.size(); ++k) {
        if (k != i)
            comChecked[k] = false;
    }
    LinkPort = static_cast<std::int8_t>(port);
    panel1Caption_ = QStringLiteral("COM%1").arg(port);
}

void ConnectionControl::USBClick() {
    comChecked.fill(false);
    usbChecked = !usbChecked;
    LinkPort = 5;
    panel1Caption_ = QStringLiteral("USB");
}

void ConnectionControl::Panel1Click() {
    if (panel2Caption_ != QLatin1String("CONNECT"))
        return;
    if (LinkPort >= 1 && LinkPort <= 3)
        COMClick(LinkPort + 1);
    else if (LinkPort == 4)
        USBClick();
    else
        COMClick(1);
}

} // namespace kx
