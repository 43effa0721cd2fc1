#pragma once

#include <QDialog>

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace kx {

class FileDialogs;
class ReportCommands;

// The Print Style dialog: the data report or one of the two graph reports, and the picture
// the graph reports print. Made once and kept: it shows the last choice and picture again.
class TFrmprint : public QDialog {
    Q_OBJECT
public:
    TFrmprint(ReportCommands& reports, FileDialogs& dialogs, QWidget* parent = nullptr);

    QRadioButton* radioButton(int n) const; // 1 to 3

public Q_SLOTS:
    // "..." beside "Graph Report" and beside "Data+Graph Report": both choose the same picture.
    void Button1Click();
    void Button2Click();
    // OK: previews the chosen report, then closes the dialog.
    void BitBtn1Click();

private:
    void chooseGraph();

    ReportCommands& reports_;
    FileDialogs& dialogs_;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr; // "Data Report"
    QRadioButton* RadioButton2 = nullptr; // "Graph Report"
    QRadioButton* RadioButton3 = nullptr; // "Data+Graph Report"
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // Cancel
};

} // namespace kx
