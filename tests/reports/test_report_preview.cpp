#include "app/window_fixture.h"
#include "reports/report_dialogs.h"
#include "reports/report_fixtures.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/report_preview.h"
#include "support/table_files.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kx;

namespace {

struct Preview : ::testing::Test {
    ReadingsTable live;
    ReadingsTable store;
    ReportState state;
    kxtest::RecordedBoxes boxes;
    kxtest::ScriptedDialogs dialogs;
    kxtest::ScriptedProgress progress;
    kxtest::PdfPrinterDialogs printers;
    QTemporaryDir dir;
    ReportCommands commands{live, store, state,
                            ReportServices{&boxes, &dialogs, &printers, &progress}};

    void answer(const QString& path, int filter = 0) {
        dialogs.answers.push_back(FileDialogAnswer{path, filter});
    }

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Runs `whileOpen` on the preview the next command opens, then closes it.
    void onPreview(std::function<void(ReportPreview&)> whileOpen) {
        QObject::disconnect(&commands, &ReportCommands::previewOpened, nullptr, nullptr);
        QObject::connect(&commands, &ReportCommands::previewOpened, &commands,
                         [this, whileOpen](ReportPreview* p) {
                             ++opened;
                             whileOpen(*p);
                             p->close();
                         });
    }
    int opened = 0;
};

QString label(ReportPreview& p) {
    return p.findChild<QLabel*>("PageLabel")->text();
}

// A key pressed on a widget, passed up to its window when the widget leaves it.
void press(QWidget* w, int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void trigger(ReportPreview& p, const char* action) {
    p.findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

} // namespace

TEST_F(Preview, PagesThroughTheReport) {
    kxtest::fillReadings(live, 100);
    onPreview([](ReportPreview& p) {
        EXPECT_TRUE(p.isVisible());
        EXPECT_EQ(label(p), "Page 1 of 3");
        EXPECT_FALSE(p.findChild<QAction*>("PriorPage")->isEnabled());
        trigger(p, "NextPage");
        EXPECT_EQ(label(p), "Page 2 of 3");
        trigger(p, "LastPage");
        EXPECT_EQ(label(p), "Page 3 of 3");
        EXPECT_FALSE(p.findChild<QAction*>("NextPage")->isEnabled());
        trigger(p, "NextPage");
        EXPECT_EQ(p.currentPage(), 2);
        trigger(p, "PriorPage");
        EXPECT_EQ(label(p), "Page 2 of 3");
        trigger(p, "FirstPage");
        EXPECT_EQ(p.currentPage(), 0);
        // Page Down on the page itself turns the page.
        press(p.view(), Qt::Key_PageDown);
        EXPECT_EQ(label(p), "Page 2 of 3");
        press(p.view(), Qt::Key_PageUp);
        EXPECT_EQ(p.currentPage(), 0);
        // What is on screen is the page painter's sheet.
        const double dots = p.view()->dotsPerMm() * p.view()->devicePixelRatioF();
        EXPECT_EQ(p.view()->pageImage(), p.painter().renderPage(0, dots));
    });
    commands.previewData(nullptr);
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(commands.previewOpen());
    EXPECT_EQ(state.DataReportPages, 3);
}

TEST_F(Preview, ZoomsToWholePagePageWidthAndActualSize) {
    onPreview([](ReportPreview& p) {
        p.resize(700, 600);
        QApplication::processEvents();
        ReportPageView* v = p.view();
        const double whole = v->dotsPerMm();
        // The whole sheet fits the view.
        EXPECT_LE(whole * kPageHeightMm, v->viewport()->height());
        trigger(p, "ZoomWidth");
        EXPECT_GT(v->dotsPerMm(), whole);
        EXPECT_LE(v->dotsPerMm() * kPageWidthMm, v->viewport()->width());
        EXPECT_GT(v->dotsPerMm() * kPageWidthMm, v->viewport()->width() - 40);
        trigger(p, "Zoom100");
        EXPECT_NEAR(v->dotsPerMm(), v->logicalDpiX() / 25.4, 1e-9);
        EXPECT_EQ(v->zoom(), ReportPageView::Zoom::Actual);
    });
    commands.previewData(nullptr);
    EXPECT_EQ(opened, 1);
}

TEST_F(Preview, SavesEveryKindAndReportsFailures) {
    kxtest::fillReadings(live, 40);
    answer(path("r.pdf"), 0);
    answer(path("r.txt"), 1);
    answer(path("r.csv"), 2);
    answer(path("r"), 3); // no extension: the chosen kind's
    answer(path("missing/r.txt"), 1);
    onPreview([](ReportPreview& p) {
        for (int i = 0; i < 5; ++i)
            trigger(p, "Save");
    });
    commands.previewData(nullptr);
    EXPECT_EQ(kxtest::pdfPages(path("r.pdf")), 2);
    EXPECT_TRUE(fileBytes(path("r.txt")).contains("The Page 2 Of 2"));
    EXPECT_TRUE(fileBytes(path("r.csv")).contains("No,Time,Value,Unit,Function,Remark"));
    EXPECT_TRUE(fileBytes(path("r.html")).startsWith("<!DOCTYPE html>"));
    ASSERT_EQ(dialogs.asked.size(), 5u);
    EXPECT_EQ(dialogs.asked[0].filters,
              (QStringList{"PDF document (*.pdf)", "Text file (*.txt)",
                           "Comma-separated text (*.csv)", "HTML document (*.html *.htm)"}));
    // The kind chosen last is offered first next time.
    EXPECT_EQ(dialogs.asked[4].filter, 3);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("does not exist"));
}

TEST_F(Preview, PrintsTheRangeTheUserChose) {
    kxtest::fillReadings(live, 100);
    printers.path = path("printed.pdf");
    printers.from = 2;
    printers.to = 3;
    onPreview([](ReportPreview& p) { trigger(p, "Print"); });
    commands.previewData(nullptr);
    EXPECT_EQ(printers.offeredLastPage, 3);
    EXPECT_EQ(kxtest::pdfPages(printers.path), 2);
    EXPECT_TRUE(kxtest::pdfPageText(printers.path, 1)
                    .contains(QRegularExpression("The Page\\s+2\\s+Of\\s+3")));
    EXPECT_TRUE(kxtest::pdfPageText(printers.path, 2)
                    .contains(QRegularExpression("The Page\\s+3\\s+Of\\s+3")));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Preview, ASecondRequestWhileOneIsOpenDoesNothing) {
    kxtest::fillReadings(live, 40);
    kxtest::fillReadings(store, 100, true);
    int inner = 0;
    onPreview([&](ReportPreview& p) {
        EXPECT_EQ(p.document().kind(), ReportKind::Data);
        // The totals of the open preview stay as they are.
        commands.previewStore(&p);
        commands.previewData(&p);
        inner = opened;
        EXPECT_TRUE(commands.previewOpen());
    });
    commands.previewData(nullptr);
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(state.DataReportPages, 2);
    EXPECT_EQ(state.StoreReportPages, 1);
    // Closed, the next request opens again.
    onPreview([](ReportPreview& p) { EXPECT_EQ(p.pageCount(), 3); });
    commands.previewStore(nullptr);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(state.StoreReportPages, 3);
}

TEST_F(Preview, TheCommandReturnsOnlyWhenThePreviewCloses) {
    QWidget owner;
    owner.show();
    bool returned = false;
    QObject::connect(&commands, &ReportCommands::previewOpened, &commands, [&](ReportPreview* p) {
        // Events keep flowing while it is open: other windows stay live.
        QTimer::singleShot(0, p, [&, p] {
            EXPECT_FALSE(returned);
            EXPECT_TRUE(p->isVisible());
            // Closing the window it came from takes it along.
            owner.close();
        });
    });
    commands.previewData(&owner);
    returned = true;
    EXPECT_FALSE(commands.previewOpen());
}

TEST_F(Preview, GraphReportsNeedAPictureThatLoads) {
    commands.previewGraph(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "information");
    EXPECT_EQ(boxes.shown[0].text, " Warning:Please select graph to print! ");

    state.GraphPicturePath = path("broken.png");
    ASSERT_TRUE(putFile(state.GraphPicturePath, "not a picture"));
    commands.previewDataGraph(nullptr);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].kind, "error");
    EXPECT_TRUE(boxes.shown[1].text.contains("broken.png"));
    EXPECT_EQ(opened, 0);

    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::blue);
    state.GraphPicturePath = path("ok.bmp");
    ASSERT_TRUE(img.save(state.GraphPicturePath));
    onPreview([](ReportPreview& p) {
        EXPECT_EQ(p.document().kind(), ReportKind::Graph);
        EXPECT_EQ(p.pageCount(), 1);
        EXPECT_FALSE(p.painter().picture().isNull());
    });
    commands.previewGraph(nullptr);
    EXPECT_EQ(opened, 1);
}
