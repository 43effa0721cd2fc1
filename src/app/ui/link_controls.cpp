#include "app/ui/link_controls.h"

#include "app/ui/caption_panel.h"
#include "app/ui/main_menu.h"
#include "link/connection_control.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace kx {

LinkControls::LinkControls(ConnectionControl& link, QWidget* client, CaptionPanel* panel2,
                           const MainMenu& menu)
    : QObject(client), link_(link), panel2_(panel2), menu_(menu) {
    auto hiddenButton = [client](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), client);
        b->setObjectName(QString::fromLatin1(name));
        b->setVisible(false);
        return b;
    };
    USBCon = hiddenButton("USBCon", "USB Connect");
    USBCon->setCheckable(true);
    ReadBtn = hiddenButton("ReadBtn", "Read");
    SetFeature = hiddenButton("SetFeature", "SetFeature");
    DevListBox = new QListWidget(client);
    DevListBox->setObjectName(QStringLiteral("DevListBox"));
    DevListBox->setVisible(false);
    HistoryListBox = new QListWidget(client);
    HistoryListBox->setObjectName(QStringLiteral("HistoryListBox"));
    HistoryListBox->setVisible(false);
    Panel1 = new QLabel(QStringLiteral("USB"), client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setVisible(false);

    connect(USBCon, &QPushButton::clicked, this, [this] { link_.USBConClick(); });
    connect(ReadBtn, &QPushButton::clicked, this, [this] { link_.ReadBtnClick(); });
    connect(SetFeature, &QPushButton::clicked, this, [this] { link_.SetFeatureClick(); });
    for (int port = 1; port <= 4; ++port) {
        connect(menu_.COMn[port - 1], &QAction::triggered, this, [this, port] {
            link_.COMClick(port);
            showLinkState();
        });
    }
    connect(menu_.USB, &QAction::triggered, this, [this] {
        link_.USBClick();
        showLinkState();
    });
    connect(&link_, &ConnectionControl::panel2Changed, this, &LinkControls::showLinkState);
    connect(&link_, &ConnectionControl::historyChanged, this, &LinkControls::showHistory);
    connect(&link_, &ConnectionControl::deviceListChanged, this, &LinkControls::showDeviceList);
    showHistory();
    showDeviceList();
}

void LinkControls::showLinkState() {
    panel2_->setText(link_.panel2Caption());
    QPalette pal = panel2_->palette();
    pal.setColor(QPalette::WindowText,
                 link_.panel2Color() == ConnectionControl::CaptionColor::Yellow ? Qt::yellow
                                                                                : Qt::black);
    panel2_->setPalette(pal);
    USBCon->setChecked(link_.usbConDown());
    menu_.Comset->setEnabled(link_.comsetEnabled());
    Panel1->setText(link_.panel1Caption());
    for (std::size_t i = 0; i < 4; ++i)
        menu_.COMn[i]->setChecked(link_.comChecked[i]);
    menu_.USB->setChecked(link_.usbChecked);
}

void LinkControls::showHistory() {
    const QStringList& lines = link_.HistoryListBox();
    for (int i = HistoryListBox->count(); i < lines.size(); ++i)
        HistoryListBox->addItem(lines[i]);
    HistoryListBox->setCurrentRow(HistoryListBox->count() - 1);
}

void LinkControls::showDeviceList() {
    DevListBox->clear();
    for (const ConnectionControl::DeviceItem& item : link_.DevListBox())
        DevListBox->addItem(item.text);
    DevListBox->setCurrentRow(link_.devListSelection());
}

} // namespace kx
