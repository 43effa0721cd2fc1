#pragma once

class QCheckBox;
class QFrame;
class QLineEdit;
class QToolButton;
class QWidget;

namespace kx {

// The control row under the virtual panel (Panel7): the recording switches, the interval box
// and the tool buttons.
struct ControlRow {
    QFrame* Panel7 = nullptr;
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* SpeedButton1 = nullptr; // "Save Data"
    QToolButton* SpeedButton2 = nullptr; // "Delete Data"
    QToolButton* SpeedButton3 = nullptr; // "Open Data"
    QToolButton* MajPrint = nullptr;     // "Print Data"
    QToolButton* SpeedButton5 = nullptr; // "Store Data"
};

// Builds the row on the window's client area, in its design state. The interval box takes
// typed digits and backspace only.
ControlRow buildControlRow(QWidget* client);

} // namespace kx
