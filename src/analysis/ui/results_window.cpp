#include "analysis/ui/results_window.h"

#include "analysis/live_results.h"
#include "analysis/results_model.h"
#include "analysis/ui/curve_view.h"
#include "common/cp936.h"
#include "common/ui/message_boxes.h"
#include "common/ui/window_fonts.h"
#include "readings/readings_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <array>

namespace kx {
namespace {

QColor verdictColour(int verdict) {
    switch (verdict) {
    case static_cast<int>(Verdict::Pass):
        return QColor(0, 136, 0);
    case static_cast<int>(Verdict::Fail):
        return QColor(221, 0, 0);
    default:
        break;
    }
    return QColor(128, 128, 128);
}

// The verdict column in the verdict's colour.
class VerdictDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int verdict = index.data(TestResultsModel::VerdictRole).toInt();
        option->palette.setColor(QPalette::Text, verdictColour(verdict));
        // On the selection's colour the verdict stays readable in white.
        option->palette.setColor(QPalette::HighlightedText, Qt::white);
        option->font.setBold(true);
    }
};

constexpr std::array<const char*, 9> kFigureCaptions = {
    "Test voltage",    "R15",           "R30",          "R60", "R600", "DAR (R60/R30)",
    "DAR15 (R60/R15)", "PI (R600/R60)", "R60 corrected"};
constexpr std::array<ResultFigure, 9> kFigures = {
    ResultFigure::Voltage, ResultFigure::R15,  ResultFigure::R30,
    ResultFigure::R60,     ResultFigure::R600, ResultFigure::Dar,
    ResultFigure::Dar15,   ResultFigure::Pi,   ResultFigure::Corrected};

QDoubleSpinBox* spin(QWidget* parent, const char* name, double min, double max, int decimals,
                     const QString& suffix) {
    auto* s = new QDoubleSpinBox(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(min, max);
    s->setDecimals(decimals);
    s->setSuffix(suffix);
    // Changed when the user is done with it (Enter, leaving it, the arrows), not per key.
    s->setKeyboardTracking(false);
    return s;
}

QLineEdit* field(QWidget* parent, const char* name, int limit) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaxLength(limit);
    return e;
}

} // namespace

TFrmresults::TFrmresults(TestResults& results, ReadingsTable& live, ResultsReportRequests& reports,
                         MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), results_(results), live_(live), reports_(reports),
      boxes_(boxes) {
    setObjectName(QStringLiteral("Frmresults"));
    setWindowTitle(QStringLiteral("Test Results"));
    setFont(arial(12));
    build();
    connect(&results_, &TestResults::testsChanged, this, &TFrmresults::ResultsChanged);
    connect(&results_, &TestResults::figuresChanged, this, &TFrmresults::FiguresChanged);
    connect(&results_, &TestResults::detailsChanged, this, &TFrmresults::DetailsChanged);
    connect(&results_, &TestResults::detailsProblemFound, this, &TFrmresults::showProblem);
    showDetails();
    ResultsChanged();
}

TFrmresults::~TFrmresults() = default;

void TFrmresults::build() {
    auto* top = new QVBoxLayout(this);

    model_ = new TestResultsModel(results_, this);
    ResultsGrid = new QTableView(this);
    ResultsGrid->setObjectName(QStringLiteral("ResultsGrid"));
    ResultsGrid->setModel(model_);
    ResultsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ResultsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    ResultsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ResultsGrid->verticalHeader()->hide();
    ResultsGrid->verticalHeader()->setDefaultSectionSize(20);
    // Fixed widths: sizing columns to their contents would read every row at each update.
    ResultsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ResultsGrid->horizontalHeader()->setSectionResizeMode(TestResultsModel::Number,
                                                          QHeaderView::Fixed);
    ResultsGrid->horizontalHeader()->resizeSection(TestResultsModel::Number, 44);
    ResultsGrid->setItemDelegateForColumn(TestResultsModel::VerdictColumn,
                                          new VerdictDelegate(ResultsGrid));
    ResultsGrid->setFixedHeight(130);
    top->addWidget(ResultsGrid);
    connect(ResultsGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFrmresults::ResultsGridSelect);

    // The selected test: its curve, and beside it the figures in large type.
    auto* middle = new QHBoxLayout;
    TestCurve = new TestCurveView(this);
    TestCurve->setFont(arial(11));
    middle->addWidget(TestCurve, 3);
    // The test, its verdict and its time stay in view; the figures and reasons below them
    // scroll within the window's height and wrap within its width: whatever they say, the
    // window keeps its size.
    auto* column = new QVBoxLayout;
    TestTitle = new QLabel(this);
    TestTitle->setObjectName(QStringLiteral("TestTitle"));
    TestTitle->setFont(arial(14, true));
    column->addWidget(TestTitle);
    VerdictLabel = new QLabel(this);
    VerdictLabel->setObjectName(QStringLiteral("VerdictLabel"));
    VerdictLabel->setFont(arial(30, true));
    column->addWidget(VerdictLabel);
    TimeLabel = new QLabel(this);
    TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
    TimeLabel->setFont(arial(16));
    column->addWidget(TimeLabel);
    auto* panel = new QWidget;
    auto* figures = new QVBoxLayout(panel);
    figures->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(2);
    for (std::size_t i = 0; i < kFigures.size(); ++i) {
        auto* caption = new QLabel(QString::fromLatin1(kFigureCaptions[i]), this);
        if (i == kFigures.size() - 1)
            CorrectedCaption = caption;
        grid->addWidget(caption, static_cast<int>(i), 0);
        Figures[i] = new QLabel(this);
        Figures[i]->setObjectName(QStringLiteral("Figure%1").arg(i));
        Figures[i]->setFont(arial(i == 0 ? 14 : 18, i == 3 || i == 7));
        Figures[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(Figures[i], static_cast<int>(i), 1);
    }
    figures->addLayout(grid);
    ReasonsLabel = new QLabel(this);
    ReasonsLabel->setObjectName(QStringLiteral("ReasonsLabel"));
    ReasonsLabel->setWordWrap(true);
    ReasonsLabel->setFont(arial(11));
    ReasonsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures->addWidget(ReasonsLabel);
    figures->addStretch(1);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("FiguresScroll"));
    scroll->setWidget(panel);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Long titles are cut rather than widening the window.
    for (QLabel* l : {TestTitle, TimeLabel})
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(scroll, 1);
    middle->addLayout(column, 2);
    top->addLayout(middle, 1);

    // What the tests are judged by.
    auto* judged = new QGroupBox(QStringLiteral("Judged by"), this);
    auto* j = new QHBoxLayout(judged);
    TempCheck = new QCheckBox(QStringLiteral("Winding temperature"), judged);
    TempCheck->setObjectName(QStringLiteral("TempCheck"));
    TempEdit = spin(judged, "TempEdit", kMinWindingTemperature, kMaxWindingTemperature, 1,
                    QStringLiteral(" \u00B0C"));
    TempEdit->setValue(20);
    BaseBox = new QComboBox(judged);
    BaseBox->setObjectName(QStringLiteral("BaseBox"));
    BaseBox->addItem(QStringLiteral("40 \u00B0C (machines)"), 40.0);
    BaseBox->addItem(QStringLiteral("20 \u00B0C (cables)"), 20.0);
    MinimumEdit =
        spin(judged, "MinimumEdit", 0.001, kMaxMinimumOhms / 1e6, 3, QStringLiteral(" M\u03A9"));
    PiMinimumEdit = spin(judged, "PiMinimumEdit", 0.1, kMaxPiMinimum, 2, QString());
    j->addWidget(TempCheck);
    j->addWidget(TempEdit);
    j->addSpacing(12);
    j->addWidget(new QLabel(QStringLiteral("Base"), judged));
    j->addWidget(BaseBox);
    j->addSpacing(12);
    j->addWidget(new QLabel(QStringLiteral("Minimum R60"), judged));
    j->addWidget(MinimumEdit);
    j->addSpacing(12);
    j->addWidget(new QLabel(QStringLiteral("PI minimum"), judged));
    j->addWidget(PiMinimumEdit);
    j->addStretch(1);
    top->addWidget(judged);
    connect(TempCheck, &QCheckBox::toggled, this, &TFrmresults::SettingsChange);
    connect(TempEdit, &QDoubleSpinBox::valueChanged, this, &TFrmresults::SettingsChange);
    connect(BaseBox, &QComboBox::currentIndexChanged, this, &TFrmresults::SettingsChange);
    connect(MinimumEdit, &QDoubleSpinBox::valueChanged, this, &TFrmresults::SettingsChange);
    connect(PiMinimumEdit, &QDoubleSpinBox::valueChanged, this, &TFrmresults::SettingsChange);

    // The test details, kept with the table.
    auto* details = new QGroupBox(QStringLiteral("Test details"), this);
    auto* d = new QGridLayout(details);
    AssetEdit = field(details, "AssetEdit", kMaxDetailLength);
    LocationEdit = field(details, "LocationEdit", kMaxDetailLength);
    OperatorEdit = field(details, "OperatorEdit", kMaxDetailLength);
    HumidityEdit = field(details, "HumidityEdit", kMaxDetailLength);
    NotesEdit = field(details, "NotesEdit", kMaxNotesLength);
    d->addWidget(new QLabel(QStringLiteral("Asset"), details), 0, 0);
    d->addWidget(AssetEdit, 0, 1);
    d->addWidget(new QLabel(QStringLiteral("Location"), details), 0, 2);
    d->addWidget(LocationEdit, 0, 3);
    d->addWidget(new QLabel(QStringLiteral("Operator"), details), 1, 0);
    d->addWidget(OperatorEdit, 1, 1);
    d->addWidget(new QLabel(QStringLiteral("Humidity"), details), 1, 2);
    d->addWidget(HumidityEdit, 1, 3);
    d->addWidget(new QLabel(QStringLiteral("Notes"), details), 2, 0);
    d->addWidget(NotesEdit, 2, 1, 1, 3);
    top->addWidget(details);
    for (QLineEdit* e : {AssetEdit, LocationEdit, OperatorEdit, HumidityEdit, NotesEdit})
        connect(e, &QLineEdit::editingFinished, this, &TFrmresults::DetailsEditExit);

    auto* bottom = new QHBoxLayout;
    ProblemLabel = new QLabel(this);
    ProblemLabel->setObjectName(QStringLiteral("ProblemLabel"));
    ProblemLabel->setWordWrap(true);
    QPalette red = ProblemLabel->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    ProblemLabel->setPalette(red);
    // A long message wraps in at most three lines; the whole of it is its tooltip.
    ProblemLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProblemLabel->setMaximumHeight(ProblemLabel->fontMetrics().lineSpacing() * 3 + 4);
    bottom->addWidget(ProblemLabel, 1);
    auto button = [&](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        bottom->addWidget(b);
        return b;
    };
    FileBtn = button("FileBtn", QStringLiteral("File under asset..."));
    FileBtn->setToolTip(QStringLiteral("Files the selected test in the asset register"));
    PreviewBtn = button("PreviewBtn", QStringLiteral("Report..."));
    PrintBtn = button("PrintBtn", QStringLiteral("Print..."));
    PdfBtn = button("PdfBtn", QStringLiteral("Save PDF..."));
    CloseBtn = button("CloseBtn", QStringLiteral("Close"));
    top->addLayout(bottom);
    connect(FileBtn, &QPushButton::clicked, this, &TFrmresults::FileBtnClick);
    connect(PreviewBtn, &QPushButton::clicked, this, &TFrmresults::PreviewBtnClick);
    connect(PrintBtn, &QPushButton::clicked, this, &TFrmresults::PrintBtnClick);
    connect(PdfBtn, &QPushButton::clicked, this, &TFrmresults::PdfBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TFrmresults::CloseBtnClick);

    resize(880, 720);
}

void TFrmresults::showWindow() {
    show();
    raise();
    activateWindow();
}

int TFrmresults::selectedTest() const {
    const QModelIndexList rows = ResultsGrid->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TFrmresults::selectTest(int index) {
    if (index < 0 || index >= model_->rowCount())
        ResultsGrid->clearSelection();
    else
        ResultsGrid->selectRow(index);
}

void TFrmresults::ResultsGridSelect() {
    // Choosing the newest test (or none) follows the tests as they come; an older one stays.
    const int selected = selectedTest();
    followNewest_ = selected < 0 || selected == model_->rowCount() - 1;
    showSelected();
}

void TFrmresults::ResultsChanged() {
    followNewest();
    showSelected();
}

void TFrmresults::FiguresChanged() {
    followNewest();
    showSelected();
}

void TFrmresults::followNewest() {
    const int newest = model_->rowCount() - 1;
    const int selected = selectedTest();
    if (!followNewest_ || newest < 0 || selected == newest)
        return;
    // A finished test with a verdict stays in view until the next test has its first figure.
    if (selected >= 0 && selected < results_.count() && !results_.isRunning(selected) &&
        results_.test(selected).verdict != Verdict::Inconclusive && newest < results_.count() &&
        !results_.test(newest).r15)
        return;
    ResultsGrid->selectRow(newest);
    ResultsGrid->scrollToBottom();
}

void TFrmresults::showSelected() {
    const int index = selectedTest();
    if (index < 0 || index >= results_.count()) {
        TestTitle->setText(QStringLiteral("No test selected"));
        TimeLabel->clear();
        for (QLabel* f : Figures)
            f->clear();
        VerdictLabel->clear();
        ReasonsLabel->setText(
            results_.tableProblem().isEmpty()
                ? QStringLiteral("A test is a run of resistance readings of one mode and "
                                 "function lasting at least 10 s; the tests of the recording "
                                 "are listed here as they come.")
                : results_.tableProblem());
        TestCurve->clear(QStringLiteral("No test"));
        return;
    }
    const InsulationResult& t = results_.test(index);
    const bool running = results_.isRunning(index);
    TestTitle->setText(
        QStringLiteral("Test %1   %2   %3")
            .arg(t.test)
            .arg(fromCp936(QByteArrayView(t.mode)), fromCp936(QByteArrayView(t.function))));
    TimeLabel->setText(running ? QStringLiteral("Elapsed %1").arg(elapsedText(t.duration))
                               : QStringLiteral("Duration %1   started %2")
                                     .arg(elapsedText(t.duration), startText(t.startMs).left(8)));
    CorrectedCaption->setText(QStringLiteral("R60 at %1").arg(celsiusText(t.baseTemperature)));
    for (std::size_t i = 0; i < kFigures.size(); ++i)
        Figures[i]->setText(resultFigureText(t, kFigures[i], running));
    VerdictLabel->setText(verdictShown(t, running));
    QPalette colour = VerdictLabel->palette();
    colour.setColor(QPalette::WindowText, running && !t.r60
                                              ? verdictColour(-1)
                                              : verdictColour(static_cast<int>(t.verdict)));
    VerdictLabel->setPalette(colour);
    ReasonsLabel->setText(reasonsShown(t, running).join(QLatin1Char('\n')));
    TestCurve->setCurve(results_.curve(index), t);
}

void TFrmresults::showDetails() {
    // Shown as they stand, without taking them for the user's changes.
    showingDetails_ = true;
    const TestDetails& d = results_.details();
    const ResultSettings& s = d.settings;
    TempCheck->setChecked(s.temperature.has_value());
    TempEdit->setEnabled(s.temperature.has_value());
    if (s.temperature)
        TempEdit->setValue(*s.temperature);
    BaseBox->setCurrentIndex(s.baseTemperature == 20 ? 1 : 0);
    MinimumEdit->setValue(s.minimumOhms / 1e6);
    PiMinimumEdit->setValue(s.piMinimum);
    AssetEdit->setText(d.asset);
    LocationEdit->setText(d.location);
    OperatorEdit->setText(d.operatorName);
    HumidityEdit->setText(d.humidity);
    NotesEdit->setText(QString(d.notes).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    showingDetails_ = false;
    showProblem();
}

void TFrmresults::showProblem() {
    ProblemLabel->setText(results_.detailsProblem());
    ProblemLabel->setToolTip(results_.detailsProblem());
}

void TFrmresults::DetailsChanged() {
    showDetails();
    showSelected();
}

void TFrmresults::SettingsChange() {
    if (showingDetails_)
        return;
    TempEdit->setEnabled(TempCheck->isChecked());
    ResultSettings s;
    if (TempCheck->isChecked())
        s.temperature = TempEdit->value();
    s.baseTemperature = BaseBox->currentData().toDouble();
    s.minimumOhms = MinimumEdit->value() * 1e6;
    s.piMinimum = PiMinimumEdit->value();
    if (const Status r = results_.setSettings(s); !r)
        boxes_.error(this, r.error());
}

void TFrmresults::DetailsEditExit() {
    if (showingDetails_)
        return;
    TestDetails d = results_.details();
    d.asset = AssetEdit->text();
    d.location = LocationEdit->text();
    d.operatorName = OperatorEdit->text();
    d.humidity = HumidityEdit->text();
    // The notes' own line breaks (from the file) are kept while the line is not edited.
    if (QString(d.notes).replace(QLatin1Char('\n'), QLatin1Char(' ')) != NotesEdit->text())
        d.notes = NotesEdit->text();
    if (const Status r = results_.setDetails(d); !r)
        boxes_.error(this, r.error());
}

void TFrmresults::PreviewBtnClick() {
    reports_.previewTestReport(this, results_, live_);
}

void TFrmresults::PrintBtnClick() {
    reports_.printTestReport(this, results_, live_);
}

void TFrmresults::PdfBtnClick() {
    reports_.saveTestReportPdf(this, results_, live_);
}

void TFrmresults::FileBtnClick() {
    const int test = selectedTest();
    if (test < 0) {
        boxes_.information(this, QStringLiteral("Select the test to file under an asset."));
        return;
    }
    Q_EMIT fileUnderAssetRequested(test);
}

void TFrmresults::CloseBtnClick() {
    close();
}

} // namespace kx
