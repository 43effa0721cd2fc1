// The window's side of the meter link: the CONNECT panel and the hidden link controls show
// the state of the core's connection control and pass the user's clicks to it.
#include "app/caption_panel.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "link/connection_control.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace kx {

void TFrmTest::buildLinkControls(QWidget* client) {
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

    ConnectionControl& c = *link_;
    c.setInformationBox([this](const QString& text) { boxes_->information(this, text); });
    connect(USBCon, &QPushButton::clicked, this, [this] { link_->USBConClick(); });
    connect(ReadBtn, &QPushButton::clicked, this, [this] { link_->ReadBtnClick(); });
    connect(SetFeature, &QPushButton::clicked, this, [this] { link_->SetFeatureClick(); });
    QAction* comItems[] = {COM1, COM2, COM3, COM4};
    for (int port = 1; port <= 4; ++port) {
        connect(comItems[port - 1], &QAction::triggered, this, [this, port] {
            link_->COMClick(port);
            showLinkState();
        });
    }
    connect(USB, &QAction::triggered, this, [this] {
        link_->USBClick();
        showLinkState();
    });

    connect(&c, &ConnectionControl::panel2Changed, this, &TFrmTest::showLinkState);
    connect(&c, &ConnectionControl::historyChanged, this, [this] {
        const QStringList& lines = link_->HistoryListBox();
        for (int i = HistoryListBox->count(); i < lines.size(); ++i)
            HistoryListBox->addItem(lines[i]);
        HistoryListBox->setCurrentRow(HistoryListBox->count() - 1);
    });
    connect(&c, &ConnectionControl::deviceListChanged, this, [this] {
        DevListBox->clear();
        for (const ConnectionControl::DeviceItem& item : link_->DevListBox())
            DevListBox->addItem(item.text);
        DevListBox->setCurrentRow(link_->devListSelection());
    });
}

void TFrmTest::showLinkState() {
    const ConnectionControl& c = *link_;
    Panel2->setText(c.panel2Caption());
    QPalette pal = Panel2->palette();
    pal.setColor(QPalette::WindowText, c.panel2Color() == ConnectionControl::CaptionColor::Yellow
                                           ? Qt::yellow
                                           : Qt::black);
    Panel2->setPalette(pal);
    USBCon->setChecked(c.usbConDown());
    Comset->setEnabled(c.comsetEnabled());
    Panel1->setText(c.panel1Caption());
    QAction* comItems[] = {COM1, COM2, COM3, COM4};
    for (std::size_t i = 0; i < 4; ++i)
        comItems[i]->setChecked(c.comChecked[i]);
    USB->setChecked(c.usbChecked);
}

void TFrmTest::Panel2Click() {
    link_->Panel2Click();
    showLinkState();
}

} // namespace kx
