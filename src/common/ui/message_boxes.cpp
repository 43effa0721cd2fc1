#include "common/ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace kx {

void DialogMessageBoxes::information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("Information"), text, QMessageBox::Ok);
}

void DialogMessageBoxes::warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Warning"), text, QMessageBox::Ok);
}

void DialogMessageBoxes::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

bool DialogMessageBoxes::confirm(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QStringLiteral("Confirm"), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

void DialogMessageBoxes::plain(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace kx
