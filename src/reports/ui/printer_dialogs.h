#pragma once

class QPrinter;
class QWidget;

namespace kx {

// The printer dialog behind an interface, so tests print without a person.
class PrinterDialogs {
public:
    virtual ~PrinterDialogs() = default;
    // Lets the user choose a printer and the pages to print (1 to `lastPage`); false means
    // the user cancelled.
    virtual bool setUpPrinter(QWidget* parent, QPrinter& printer, int lastPage) = 0;
};

// The real, modal printer dialog.
class QtPrinterDialogs : public PrinterDialogs {
public:
    bool setUpPrinter(QWidget* parent, QPrinter& printer, int lastPage) override;
};

} // namespace kx
