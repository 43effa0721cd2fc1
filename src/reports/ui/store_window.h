#pragma once

#include <QDialog>

#include <functional>

class QToolButton;

namespace kx {

class MessageBoxes;
class ReadingsGrid;
class ReadingsTable;

// The main window's store commands, which the stored-readings window runs as they are.
struct StoreActions {
    std::function<void()> save;      // the store row's "Save Data"
    std::function<void()> deleteAll; // "Delete Data"
    std::function<void()> open;      // open a file into the stored table
    std::function<void()> print;     // the stored-data report
};

// The stored-readings window: the stored table in a grid under a strip of five buttons that
// run the main window's store commands, and close.
class TFrmstore : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 447;
    static constexpr int kClientHeight = 493;

    TFrmstore(ReadingsTable& store, MessageBoxes& boxes, StoreActions actions,
              QWidget* parent = nullptr);

    ReadingsGrid* grid() const { return DBGrid3; }

public Q_SLOTS:
    void SpeedButton8Click();
    void SpeedButton9Click();
    void SpeedButton1Click();
    void SpeedButton7Click();
    void SpeedButton2Click();
    // Each time the window becomes active.
    void FormActivate();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    StoreActions actions_;
    ReadingsGrid* DBGrid3 = nullptr;
    QToolButton* SpeedButton8 = nullptr;
    QToolButton* SpeedButton9 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton7 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
};

} // namespace kx
