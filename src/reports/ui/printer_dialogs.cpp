#include "reports/ui/printer_dialogs.h"

#include <QPrintDialog>
#include <QPrinter>

namespace kx {

bool QtPrinterDialogs::setUpPrinter(QWidget* parent, QPrinter& printer, int lastPage) {
    printer.setFromTo(1, lastPage);
    QPrintDialog d(&printer, parent);
    d.setMinMax(1, lastPage);
    d.setOption(QAbstractPrintDialog::PrintPageRange, true);
    d.setOption(QAbstractPrintDialog::PrintToFile, true);
    return d.exec() == QDialog::Accepted;
}

} // namespace kx
