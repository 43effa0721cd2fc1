#pragma once

#include "reports/ui/printer_dialogs.h"

#include <QPrinter>
#include <QProcess>
#include <QString>

namespace kxtest {

// A printer dialog whose user picks "print to file" as PDF, with an optional page range.
class PdfPrinterDialogs : public kx::PrinterDialogs {
public:
    bool setUpPrinter(QWidget*, QPrinter& printer, int lastPage) override {
        offeredLastPage = lastPage;
        if (path.isEmpty())
            return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        if (from > 0) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(from, to);
        }
        return true;
    }
    QString path; // empty: the user cancels
    int from = 0;
    int to = 0;
    int offeredLastPage = 0;
};

// What the poppler tools say about a PDF file.
inline QString runTool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>")
            .arg(tool, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline int pdfPages(const QString& pdf) {
    const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}

// The text of one page, laid out as on paper.
inline QString pdfPageText(const QString& pdf, int page) {
    return runTool(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                    QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
}

} // namespace kxtest
