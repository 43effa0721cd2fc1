#include "app/main_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    kx::TFrmTest w;
    w.show();
    return app.exec();
}
