#pragma once

#include "analysis/ui/results_report_requests.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace kx {

class MessageBoxes;
class ReadingsTable;
class TestCurveView;
class TestResults;
class TestResultsModel;

// The "Test Results" window: the insulation tests of the live table, the figures and curve of
// the one selected, the settings they are judged by and the test details, and the insulation
// test report. It is not modal: it follows the readings while the meter runs, showing the test
// in progress with its elapsed time and each figure as soon as it is known. The list follows
// the newest test while the last one is selected (or none is); a finished test with a verdict
// stays in view until the next one has its first figure (R15). The window keeps its size:
// long reasons wrap and scroll.
class TFrmresults : public QWidget {
    Q_OBJECT
public:
    TFrmresults(TestResults& results, ReadingsTable& live, ResultsReportRequests& reports,
                MessageBoxes& boxes, QWidget* parent = nullptr);
    ~TFrmresults() override;

    // Shows the window, or brings it to the front when it is shown.
    void showWindow();
    // The test whose figures are shown, or -1.
    int selectedTest() const;
    void selectTest(int index);
    TestCurveView* curve() const { return TestCurve; }

public Q_SLOTS:
    void ResultsGridSelect();
    void ResultsChanged();
    void FiguresChanged();
    void DetailsChanged();
    // Any of the four settings inputs changed.
    void SettingsChange();
    // A details field was left after an edit.
    void DetailsEditExit();
    void PreviewBtnClick();
    void PrintBtnClick();
    void PdfBtnClick();
    // "File under asset...": asks for the selected test to be filed (fileUnderAssetRequested).
    void FileBtnClick();
    void CloseBtnClick();

Q_SIGNALS:
    // The user asked to file test `index` (0, 1, ...) of the live table under an asset; the
    // program around the window, which knows the register, answers.
    void fileUnderAssetRequested(int index);

private:
    void build();
    void showSelected();
    // Selects the newest test while the list follows it (see followNewest_).
    void followNewest();
    void showDetails();
    void showProblem();

    TestResults& results_;
    ReadingsTable& live_;
    ResultsReportRequests& reports_;
    MessageBoxes& boxes_;
    TestResultsModel* model_ = nullptr;
    bool followNewest_ = true;
    bool showingDetails_ = false;

    QTableView* ResultsGrid = nullptr;
    TestCurveView* TestCurve = nullptr;
    QLabel* TestTitle = nullptr;
    QLabel* TimeLabel = nullptr;
    QLabel* VerdictLabel = nullptr;
    QLabel* ReasonsLabel = nullptr;
    QLabel* CorrectedCaption = nullptr;
    QLabel* Figures[9] = {}; // voltage, R15, R30, R60, R600, DAR, DAR15, PI, corrected R60
    QCheckBox* TempCheck = nullptr;
    QDoubleSpinBox* TempEdit = nullptr;
    QComboBox* BaseBox = nullptr;
    QDoubleSpinBox* MinimumEdit = nullptr;
    QDoubleSpinBox* PiMinimumEdit = nullptr;
    QLineEdit* AssetEdit = nullptr;
    QLineEdit* LocationEdit = nullptr;
    QLineEdit* OperatorEdit = nullptr;
    QLineEdit* HumidityEdit = nullptr;
    QLineEdit* NotesEdit = nullptr;
    QLabel* ProblemLabel = nullptr;
    QPushButton* FileBtn = nullptr;
    QPushButton* PreviewBtn = nullptr;
    QPushButton* PrintBtn = nullptr;
    QPushButton* PdfBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
};

} // namespace kx
