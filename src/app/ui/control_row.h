#pragma once

class QCheckBox;
class QRect;
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
    QToolButton* SpeedButton1 = nullptr;  // "Save Data"
    QToolButton* SpeedButton2 = nullptr;  // "Delete Data"
    QToolButton* SpeedButton3 = nullptr;  // "Open Data"
    QToolButton* MajPrint = nullptr;      // "Print Data"
    QToolButton* SpeedButton5 = nullptr;  // "Store Data"
    QToolButton* SpeedButton10 = nullptr; // "Test Results"
    QToolButton* SpeedButton11 = nullptr; // "Assets"
};

// Builds the row on the window's client area, in its design state. The interval box takes
// typed digits and backspace only.
ControlRow buildControlRow(QWidget* client);

// The store row: " STORE DATA :" and five small buttons for the stored table. It lies in the
// readings grid's area, under the grid.
struct StoreRow {
    QFrame* Panel8 = nullptr;
    QToolButton* SpeedButton4 = nullptr; // open a file into the stored table
    QToolButton* SpeedButton6 = nullptr; // enlarge the chart
    QToolButton* SpeedButton8 = nullptr; // "Save Data"
    QToolButton* SpeedButton9 = nullptr; // "Delete Data"
    QToolButton* SpeedButton7 = nullptr; // print the stored readings
};

StoreRow buildStoreRow(QWidget* client, const QRect& geometry);

} // namespace kx
