#include "app/main_window.h"

namespace kx {

TFrmTest::TFrmTest(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("KX20_30 Interface Program ver:1.00"));
    resize(621, 528);
}

} // namespace kx
