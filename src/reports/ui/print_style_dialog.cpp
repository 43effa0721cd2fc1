#include "reports/ui/print_style_dialog.h"

#include "common/ui/file_dialogs.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/report_painter.h"

#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace kx {

TFrmprint::TFrmprint(ReportCommands& reports, FileDialogs& dialogs, QWidget* parent)
    : QDialog(parent), reports_(reports), dialogs_(dialogs) {
    setObjectName(QStringLiteral("Frmprint"));
    setWindowTitle(QStringLiteral("Print Style"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(306, 132);

    GroupBox1 = new QGroupBox(QStringLiteral("Select  Style"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 6, 196, 118);
    auto radio = [this](const char* name, const char* text, int y) {
        auto* r = new QRadioButton(QString::fromLatin1(text), GroupBox1);
        r->setObjectName(QString::fromLatin1(name));
        r->setGeometry(12, y, 140, 22);
        return r;
    };
    RadioButton1 = radio("RadioButton1", "Data Report", 24);
    RadioButton2 = radio("RadioButton2", "Graph Report", 54);
    RadioButton3 = radio("RadioButton3", "Data+Graph Report", 84);
    RadioButton1->setChecked(true);
    auto dots = [this](const char* name, int y) {
        auto* b = new QPushButton(QStringLiteral("..."), GroupBox1);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QStringLiteral("Select Graph"));
        b->setGeometry(158, y, 28, 22);
        b->setAutoDefault(false);
        return b;
    };
    Button1 = dots("Button1", 54);
    Button2 = dots("Button2", 84);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(214, 22, 84, 28);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(214, 60, 84, 28);

    connect(Button1, &QPushButton::clicked, this, &TFrmprint::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFrmprint::Button2Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TFrmprint::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

QRadioButton* TFrmprint::radioButton(int n) const {
    switch (n) {
    case 1:
        return RadioButton1;
    case 2:
        return RadioButton2;
    case 3:
        return RadioButton3;
    default:
        return nullptr;
    }
}

void TFrmprint::chooseGraph() {
    FileDialogRequest request;
    request.title = QStringLiteral("Open");
    request.directory = QDir::homePath();
    request.filters = pictureFileFilters();
    request.confirmOverwrite = false;
    request.picturePreview = true;
    if (const std::optional<FileDialogAnswer> answer = dialogs_.openFile(this, request))
        reports_.state().GraphPicturePath = QDir(answer->path).absolutePath();
}

void TFrmprint::Button1Click() {
    chooseGraph();
}

void TFrmprint::Button2Click() {
    chooseGraph();
}

void TFrmprint::BitBtn1Click() {
    if (RadioButton1->isChecked())
        reports_.previewData(this);
    else if (RadioButton2->isChecked())
        reports_.previewGraph(this);
    else if (RadioButton3->isChecked())
        reports_.previewDataGraph(this);
    accept();
}

} // namespace kx
