#pragma once

class QWidget;

namespace kx {

class ReadingsTable;
class TestResults;

// The insulation test report of the Test Results window's tests, as its buttons ask for it:
// previewed, printed or saved as PDF. The reports answer (ReportCommands); the window knows
// nothing of how a report is laid out. `owner` is the window that asks.
class ResultsReportRequests {
public:
    virtual void previewTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) = 0;
    virtual void printTestReport(QWidget* owner, TestResults& results, ReadingsTable& live) = 0;
    virtual void saveTestReportPdf(QWidget* owner, TestResults& results, ReadingsTable& live) = 0;

protected:
    ~ResultsReportRequests() = default;
};

} // namespace kx
