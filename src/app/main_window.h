#pragma once

#include <QMainWindow>

namespace kx {

// The program's main window.
class TFrmTest : public QMainWindow {
    Q_OBJECT
public:
    explicit TFrmTest(QWidget* parent = nullptr);
};

} // namespace kx
