// The test results window beside the main window: the tests of the table shown, their figures
// and verdict, the details kept with the table, the report, and the demonstration meter's PI
// test as it runs.
#include "analysis/details_file.h"
#include "analysis/live_results.h"
#include "analysis/ui/curve_view.h"
#include "analysis/ui/results_window.h"
#include "app/file_commands.h"
#include "app/window_fixture.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "reports/report_dialogs.h"
#include "reports/report_document.h"
#include "reports/results_report.h"
#include "reports/ui/report_commands.h"
#include "support/reading_rows.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

#include <cmath>

using namespace kx;
using kxtest::curveRows;
using kxtest::everyMs;

namespace {

double absorption(double s) {
    return DemoScript::piTestOhms(s);
}

// A readings table file holding a PI test of 10 min 3 s and, after it, a 70 s timed test.
QString morningFile(const QString& path) {
    std::vector<kxtest::Row> rows = curveRows(everyMs(500, 603000), absorption);
    const auto dar = curveRows(
        everyMs(1000, 70000), [](double s) { return 300e6 + 2e6 * s; }, rows.back().ms + 30000,
        rows.back().no + 1, "Timed", kxtest::kIr500);
    rows.insert(rows.end(), dar.begin(), dar.end());
    EXPECT_TRUE(kxtest::writeRowsTable(path, rows).ok());
    return path;
}

template <typename T = QWidget> T* in(QWidget* w, const char* name) {
    auto* x = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(x, nullptr) << name;
    return x;
}

QString figure(QWidget* w, int n) {
    return in<QLabel>(w, QStringLiteral("Figure%1").arg(n).toLatin1().constData())->text();
}

struct Printers {
    kxtest::PdfPrinterDialogs printers;
};

// The main window with every dialog, the printer's included, answered by the test.
struct ResultsWindow : Printers, kxtest::WindowTest {
    ResultsWindow() : WindowTest(&printers) {}
    QTemporaryDir dir;

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    TFrmresults* results() { return win.resultsWindow(); }
    // The demo cable connected and the results window shown. Readings take their time of
    // day from the cable's clock, as they would in real time.
    std::shared_ptr<SimUsbSerialCable> demoWithResults() {
        auto cable = connectDemoCable();
        session.recording().setTimeOfDay([c = cable.get()] {
            return static_cast<std::int32_t>(9 * 3'600'000 + c->cableTimeUs() / 1000);
        });
        win.SpeedButton10Click();
        return cable;
    }
    // Opens a table file into the live table and lets the window catch up.
    void open(const QString& file) {
        ASSERT_TRUE(session.files().openDataFile(file).ok());
        session.results().flush();
        QApplication::processEvents();
    }
};

} // namespace

TEST_F(ResultsWindow, ButtonAndMenuShowTheWindowWhichStaysBesideTheMain) {
    TFrmresults* w = results();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->isVisible());
    win.findChild<QToolButton*>(QStringLiteral("SpeedButton10"))->click();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the main window goes on working";
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Test Results"));
    w->close();
    win.findChild<QAction*>(QStringLiteral("ResultsR"))->trigger();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(win.findChildren<TFrmresults*>().size(), 1) << "one window, shown again";
    w->close();
}

TEST_F(ResultsWindow, AnOpenedTablesTestsWithTheSelectedOnesFigures) {
    open(morningFile(path("morning.db")));
    win.SpeedButton10Click();
    TFrmresults* w = results();
    auto* grid = in<QTableView>(w, "ResultsGrid");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    // The newest test is shown.
    EXPECT_EQ(w->selectedTest(), 1);
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->text(), QStringLiteral("PASS"));
    EXPECT_EQ(figure(w, 7), QStringLiteral("not available")) << "no PI in 70 s";

    w->selectTest(0);
    const InsulationResult& pi = session.results().test(0);
    EXPECT_EQ(figure(w, 0), QStringLiteral("2500 V"));
    EXPECT_EQ(figure(w, 3), ohmsText(*pi.r60));
    EXPECT_EQ(figure(w, 7), ratioText(*pi.pi));
    EXPECT_EQ(figure(w, 8), QStringLiteral("no temperature given"));
    EXPECT_TRUE(in<QLabel>(w, "TimeLabel")->text().startsWith(QStringLiteral("Duration 10:03")));
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->palette().color(QPalette::WindowText),
              QColor(0, 136, 0));
    EXPECT_EQ(w->curve()->layout().unit, QStringLiteral("G\u03A9"));

    // A stricter minimum fails it, in red; the reasons say why.
    in<QDoubleSpinBox>(w, "MinimumEdit")->setValue(5000);
    EXPECT_EQ(session.results().settings().minimumOhms, 5000e6);
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->text(), QStringLiteral("FAIL"));
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->palette().color(QPalette::WindowText),
              QColor(221, 0, 0));
    EXPECT_TRUE(in<QLabel>(w, "ReasonsLabel")->text().contains(QLatin1String("below the minimum")));
    EXPECT_EQ(w->selectedTest(), 0) << "an older test chosen stays chosen";
}

TEST_F(ResultsWindow, SettingsAndDetailsGoToTheTablesFileAndItsCopies) {
    const QString file = morningFile(path("motor.db"));
    open(file);
    win.SpeedButton10Click();
    TFrmresults* w = results();
    in<QCheckBox>(w, "TempCheck")->setChecked(true);
    in<QDoubleSpinBox>(w, "TempEdit")->setValue(50);
    in<QComboBox>(w, "BaseBox")->setCurrentIndex(1); // 20 °C
    auto* asset = in<QLineEdit>(w, "AssetEdit");
    asset->setText(QStringLiteral("Pump motor 3"));
    Q_EMIT asset->editingFinished();

    TestDetailsRead stored = readTestDetails(file);
    ASSERT_TRUE(stored.found);
    EXPECT_EQ(stored.details.asset, QStringLiteral("Pump motor 3"));
    EXPECT_EQ(stored.details.settings.temperature, 50);
    EXPECT_EQ(stored.details.settings.baseTemperature, 20);
    // 50 °C to 20 °C: eight times the resistance.
    w->selectTest(0);
    const InsulationResult& pi = session.results().test(0);
    EXPECT_EQ(figure(w, 8), ohmsText(*pi.r60 * 8));

    // Save As .db takes them along; a text export does not.
    answer(path("copy.db"));
    win.Save_asClick();
    EXPECT_EQ(readTestDetails(path("copy.db")).details.asset, QStringLiteral("Pump motor 3"));

    // Opened again later, the table brings them back into the window.
    win.NewClick();
    session.results().flush();
    EXPECT_TRUE(asset->text().isEmpty()) << "a new recording is of another asset";
    open(path("copy.db"));
    EXPECT_EQ(asset->text(), QStringLiteral("Pump motor 3"));
    EXPECT_TRUE(in<QCheckBox>(w, "TempCheck")->isChecked());
}

TEST_F(ResultsWindow, TheScratchTablesDetailsWaitForTheSave) {
    win.SpeedButton10Click();
    TFrmresults* w = results();
    auto* asset = in<QLineEdit>(w, "AssetEdit");
    asset->setText(QStringLiteral("Feeder cable 7"));
    Q_EMIT asset->editingFinished();
    EXPECT_FALSE(QFile::exists(testDetailsPath(session.scratchPath())));
    answer(path("feeder.db"));
    win.Save_asClick();
    EXPECT_EQ(readTestDetails(path("feeder.db")).details.asset, QStringLiteral("Feeder cable 7"));
}

TEST_F(ResultsWindow, ADamagedDetailsFileIsToldInTheWindow) {
    const QString file = morningFile(path("motor.db"));
    ASSERT_TRUE(putFile(testDetailsPath(file), "{\"asset\": [}"));
    win.SpeedButton10Click();
    open(file);
    TFrmresults* w = results();
    EXPECT_TRUE(in<QLabel>(w, "ProblemLabel")->text().contains(QLatin1String("damaged")));
    EXPECT_EQ(session.results().count(), 2) << "the tests are there all the same";
    // Another table without the problem: the line goes.
    open(morningFile(path("other.db")));
    EXPECT_TRUE(in<QLabel>(w, "ProblemLabel")->text().isEmpty());
}

TEST_F(ResultsWindow, TheReportPreviewedPrintedAndSavedAsPdf) {
    open(morningFile(path("morning.db")));
    win.SpeedButton10Click();
    TFrmresults* w = results();
    int previews = 0;
    QObject::connect(&win.reports(), &ReportCommands::previewOpened, &win, [&](ReportPreview* p) {
        ++previews;
        EXPECT_EQ(p->document().kind(), ReportKind::Results);
        EXPECT_EQ(p->document().recordCount(), 2);
        EXPECT_EQ(p->pageCount(), 1);
        p->close();
    });
    in<QPushButton>(w, "PreviewBtn")->click();
    EXPECT_EQ(previews, 1);

    printers.path = path("printed.pdf");
    in<QPushButton>(w, "PrintBtn")->click();
    EXPECT_EQ(printers.offeredLastPage, 1);
    EXPECT_EQ(kxtest::pdfPages(path("printed.pdf")), 1);

    answer(path("saved.pdf"));
    in<QPushButton>(w, "PdfBtn")->click();
    const QString text = kxtest::pdfPageText(path("saved.pdf"), 1);
    EXPECT_TRUE(text.contains(QLatin1String("INSULATION TEST REPORT"))) << text.toStdString();
    EXPECT_TRUE(text.contains(ratioText(*session.results().test(0).pi)));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ResultsWindow, TheCurvesMarksAreDrawnWhereTheyBelong) {
    open(morningFile(path("morning.db")));
    win.SpeedButton10Click();
    TFrmresults* w = results();
    w->selectTest(0);
    TestCurveView* view = w->curve();
    view->resize(500, 300);
    const QImage image = view->grab().toImage();
    const QRectF plot = view->plotArea();
    const TestCurveLayout& l = view->layout();
    ASSERT_EQ(l.marks.size(), 4u);
    for (const CurveMark& m : l.marks) {
        SCOPED_TRACE(m.seconds);
        // The dashed line of each mark crosses the plot where its time falls.
        const double x = plot.left() + m.x * plot.width();
        int dashes = 0;
        for (int y = int(plot.top()) + 2; y < int(plot.bottom()) - 2; ++y) {
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = image.pixelColor(int(std::lround(x)) + dx, y);
                dashes += c.red() > 180 && c.blue() < 120 && c.green() < 170 && c.green() > 40;
            }
        }
        EXPECT_GT(dashes, 20);
        if (!m.y)
            continue;
        // The dot where R at that time is, within a pixel or two.
        const QPointF at = curvePlotPoint(plot, {m.x, *m.y});
        double sx = 0, sy = 0;
        int n = 0;
        // Near enough to take in the dot, far enough to leave out the next mark's line.
        for (int y = int(at.y()) - 5; y <= int(at.y()) + 5; ++y) {
            for (int xx = int(at.x()) - 5; xx <= int(at.x()) + 5; ++xx) {
                const QColor c = image.pixelColor(xx, y);
                if (c.red() > 200 && c.green() > 70 && c.green() < 120 && c.blue() < 40) {
                    sx += xx;
                    sy += y;
                    ++n;
                }
            }
        }
        ASSERT_GT(n, 8);
        EXPECT_NEAR(sx / n, at.x(), 1.5);
        EXPECT_NEAR(sy / n, at.y(), 1.5);
    }
    // The readings: the curve's blue crosses the 5-minute column at R(300 s).
    const double x = plot.left() + 300.0 / l.seconds * plot.width();
    const double y = plot.bottom() - (std::log10(absorption(300)) - l.logBottom) /
                                         (l.logTop - l.logBottom) * plot.height();
    bool blue = false;
    for (int dy = -3; dy <= 3 && !blue; ++dy) {
        const QColor c = image.pixelColor(int(std::lround(x)), int(std::lround(y)) + dy);
        blue = c.blue() - c.red() > 60 && c.blue() - c.green() > 60; // the line, smoothed
    }
    EXPECT_TRUE(blue);
}

// The demonstration meter through the window, on the cable's virtual clock: CONNECT, the
// results window, and the PI test's result shows within eleven minutes without another click.
TEST_F(ResultsWindow, TheDemoPiTestsResultShowsWithinElevenMinutes) {
    auto cable = demoWithResults();
    TFrmresults* w = win.resultsWindow();
    // The PI test starts after the 16 s of the 500 V test: its elapsed time and its figures
    // as they become known.
    runCable(*cable, 50'000'000);
    session.results().flush();
    QApplication::processEvents();
    EXPECT_EQ(w->selectedTest(), 1);
    EXPECT_TRUE(in<QLabel>(w, "TimeLabel")->text().startsWith(QStringLiteral("Elapsed 0:3")))
        << in<QLabel>(w, "TimeLabel")->text().toStdString();
    EXPECT_NE(figure(w, 2), QStringLiteral("after 30 s"));
    EXPECT_EQ(figure(w, 3), QStringLiteral("after 1 min"));
    EXPECT_EQ(figure(w, 7), QStringLiteral("after 10 min"));
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->text(), QStringLiteral("IN PROGRESS"));
    EXPECT_TRUE(in<QLabel>(w, "ReasonsLabel")->text().contains(QLatin1String("comes with")));

    runCable(*cable, 60'000'000); // 1 min 50 s: the verdict so far, the PI still to come
    session.results().flush();
    QApplication::processEvents();
    EXPECT_EQ(in<QLabel>(w, "VerdictLabel")->text(), QStringLiteral("PASS (so far)"));
    EXPECT_TRUE(in<QLabel>(w, "ReasonsLabel")->text().contains(QLatin1String("comes at 10 min")));

    runCable(*cable, 508'000'000); // 10 min 18 s in all
    session.results().flush();
    QApplication::processEvents();
    ASSERT_GE(session.results().count(), 2);
    const InsulationResult& pi = session.results().test(1);
    ASSERT_TRUE(pi.pi) << "PI after ten minutes";
    EXPECT_EQ(w->selectedTest(), 1);
    EXPECT_EQ(figure(w, 7), ratioText(*pi.pi));
    EXPECT_NEAR(*pi.pi, 2.5, 0.1);
    EXPECT_TRUE(in<QLabel>(w, "VerdictLabel")->text().startsWith(QStringLiteral("PASS")));
    EXPECT_TRUE(boxes.shown.empty());
}

// After the PI test the meter goes on to a 1-minute test: the PI test's verdict stays in view
// until the next test has its R15, then the window follows it. However long the reasons, the
// window keeps its size and its buttons. Saved, the recording is named by its file.
TEST_F(ResultsWindow, AFinishedTestStaysInViewAndTheWindowKeepsItsSize) {
    auto cable = demoWithResults();
    TFrmresults* w = win.resultsWindow();
    const QSize size = w->size();
    EXPECT_EQ(size, QSize(880, 720)) << "opened at its own size, its buttons on the screen";
    auto settle = [&] {
        session.results().flush();
        QApplication::processEvents();
    };
    struct Step {
        std::int64_t runUs; // run the cable this much further
        int selected;       // the test in view
        bool nextHasR15;
    };
    // The PI test's readings end 10 min 19 s in, where the 1-minute test begins; that one
    // counts as a test from 10 s on and has its R15 at 15 s.
    const Step steps[] = {
        {626'000'000, 1, false},
        {5'000'000, 1, false},
        {2'000'000, 1, false},
        {3'000'000, 2, true},
    };
    for (const Step& s : steps) {
        runCable(*cable, s.runUs);
        settle();
        const int newest = session.results().count() - 1;
        ASSERT_GE(newest, 1);
        EXPECT_EQ(w->selectedTest(), s.selected) << "after " << s.runUs;
        EXPECT_EQ(newest >= 2 && session.results().test(2).r15.has_value(), s.nextHasR15);
        EXPECT_EQ(w->size(), size);
    }
    // Choosing the PI test again, with a winding temperature: more and longer reasons.
    w->selectTest(1);
    in<QCheckBox>(w, "TempCheck")->setChecked(true);
    in<QDoubleSpinBox>(w, "TempEdit")->setValue(75);
    settle();
    EXPECT_GE(in<QLabel>(w, "ReasonsLabel")->text().count(QLatin1Char('\n')), 1);
    EXPECT_EQ(w->size(), size);
    auto* close = in<QPushButton>(w, "CloseBtn");
    EXPECT_LE(close->mapTo(w, QPoint(0, close->height())).y(), w->height());

    // The report names the recording; after Save As, the file it was saved as.
    EXPECT_EQ(resultsReportOf(session.results(), session.liveTable())->tableName,
              QStringLiteral("the recording in progress (not saved)"));
    const QString saved = path("A_pi.db");
    ASSERT_TRUE(session.files().saveAs(saved, ExportKind::Live).saved());
    EXPECT_EQ(resultsReportOf(session.results(), session.liveTable())->tableName,
              QDir::toNativeSeparators(saved));
    runCable(*cable, 2'000'000);
    settle();
    EXPECT_TRUE(resultsReportOf(session.results(), session.liveTable())
                    ->tableName.endsWith(QStringLiteral("recorded since (not saved)")));
    // The details beside the copy say how it was recorded.
    const TestDetailsRead details = readTestDetails(saved);
    ASSERT_TRUE(details.details.recording.has_value());
    EXPECT_EQ(details.details.recording->rules, session.recording().rules());
}
