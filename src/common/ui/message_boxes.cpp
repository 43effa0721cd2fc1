#include "common/ui/message_boxes.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

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

bool DialogMessageBoxes::confirmDeletion(QWidget* parent, const QString& text,
                                         const QString& file) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                    text + QLatin1Char('\n') + QDir::toNativeSeparators(file),
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    // Nothing is deleted unless OK itself is chosen: Enter, Escape and the close box cancel.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Ok);
}

MessageBoxes::SaveAnswer DialogMessageBoxes::askToSave(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    // A box left without a button (the program told to stop) counts as Cancel.
    const QAbstractButton* chosen = box.clickedButton();
    if (chosen && chosen == box.button(QMessageBox::Save))
        return SaveAnswer::Save;
    if (chosen && chosen == box.button(QMessageBox::Discard))
        return SaveAnswer::Discard;
    return SaveAnswer::Cancel;
}

} // namespace kx
