#include "app/file_commands.h"
#include "app/store_commands.h"
#include "app/window_fixture.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_table_model.h"
#include "readings/table_file_io.h"
#include "readings/ui/readings_grid.h"
#include "reports/report_dialogs.h"
#include "reports/report_document.h"
#include "reports/report_fixtures.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/store_window.h"
#include "support/table_files.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kx;

namespace {

using kxtest::recordsOnDisk;

struct Printers {
    kxtest::PdfPrinterDialogs printers;
};

// The main window with every dialog, the printer's included, answered by the test; each
// report preview is looked at by `whileOpen` and closed.
struct Reports : Printers, kxtest::WindowTest {
    QTemporaryDir dir;
    int previews = 0;
    std::function<void(ReportPreview&)> whileOpen;

    Reports() : WindowTest(&printers) {
        QObject::connect(&win.reports(), &ReportCommands::previewOpened, &win,
                         [this](ReportPreview* p) {
                             ++previews;
                             if (whileOpen)
                                 whileOpen(*p);
                             p->close();
                         });
    }

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Records n readings into the live table as recording does.
    void record(int n) {
        ReadingsTable& t = session.liveTable();
        for (int i = 0; i < n; ++i) {
            t.append();
            ASSERT_TRUE(t.setFieldInt("No", i + 1));
            ASSERT_TRUE(t.setFieldText("Value", "1.234"));
            ASSERT_TRUE(t.post());
        }
    }
    // A table file with n records of the stored (or the live) readings' fields.
    QString tableFile(const char* name, int n, bool stored = true) {
        ReadingsTable t;
        kxtest::fillReadings(t, n, stored);
        const QString file = path(name);
        EXPECT_TRUE(saveKeyedCopy(t, file));
        return file;
    }
    // The default stored table's file holding n records, as after an earlier run, opened.
    void seedDefaultStore(int n) {
        ReadingsTable seed;
        kxtest::fillReadings(seed, n, true);
        ASSERT_TRUE(saveKeyedCopy(seed, tables.path("pw60SD.DB")));
        ASSERT_TRUE(session.storeTable().open());
    }
    // Runs `body` once the modal window `w` is up, then closes it.
    static void whileModal(QDialog* w, std::function<void()> body) {
        QTimer::singleShot(0, w, [w, body] {
            body();
            w->close();
        });
    }
};

} // namespace

TEST_F(Reports, ToolStripShowsStoreDataAndTheStoreRowLiesUnderTheGrid) {
    auto* store = find<QToolButton>("SpeedButton5");
    EXPECT_FALSE(store->geometry().intersects(find("MajPrint")->geometry()));
    EXPECT_TRUE(find("Panel7")->geometry().contains(store->geometry().translated(2, 320)));

    auto* row = find("Panel8");
    EXPECT_TRUE(find("DBGrid1")->geometry().contains(row->geometry()));
    const QObjectList& order = find("ClientArea")->children();
    EXPECT_LT(order.indexOf(row), order.indexOf(find("DBGrid1")));
    const std::pair<const char*, const char*> hints[] = {{"SpeedButton4", ""},
                                                         {"SpeedButton6", ""},
                                                         {"SpeedButton8", "Save Data"},
                                                         {"SpeedButton9", "Delete Data"},
                                                         {"SpeedButton7", ""}};
    for (const auto& [name, hint] : hints)
        EXPECT_EQ(find<QToolButton>(name, row)->toolTip(), hint) << name;
}

TEST_F(Reports, PrintDataPreviewsTheLiveReadings) {
    record(38);
    whileOpen = [](ReportPreview& p) {
        EXPECT_EQ(p.document().kind(), ReportKind::Data);
        EXPECT_EQ(p.document().recordCount(), 38);
        EXPECT_EQ(p.pageCount(), 2);
    };
    find<QToolButton>("MajPrint")->click();
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(session.reports().DataReportPages, 2);
}

TEST_F(Reports, PrintStyleDialogKeepsItsChoicesAndPreviewsThem) {
    auto* dlg = find<QDialog>("Frmprint");
    EXPECT_EQ(dlg->windowTitle(), "Print Style");
    EXPECT_EQ(find<QGroupBox>("GroupBox1", dlg)->title(), "Select  Style");
    EXPECT_EQ(find<QRadioButton>("RadioButton1", dlg)->text(), "Data Report");
    EXPECT_EQ(find<QRadioButton>("RadioButton2", dlg)->text(), "Graph Report");
    EXPECT_EQ(find<QRadioButton>("RadioButton3", dlg)->text(), "Data+Graph Report");
    EXPECT_TRUE(find<QRadioButton>("RadioButton1", dlg)->isChecked());
    EXPECT_EQ(find<QPushButton>("Button1", dlg)->toolTip(), "Select Graph");
    EXPECT_EQ(find<QPushButton>("Button2", dlg)->text(), "...");
    // The menu item stays hidden.
    EXPECT_FALSE(find<QAction>("print")->isVisible());

    // Data Report: the page total, then the preview; the dialog closes.
    record(75);
    whileModal(dlg, [&] { find<QPushButton>("BitBtn1", dlg)->click(); });
    win.printClick();
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(session.reports().DataReportPages, 3);
    EXPECT_FALSE(dlg->isVisible());

    // Graph Report without a picture: the warning, nothing previewed.
    find<QRadioButton>("RadioButton2", dlg)->setChecked(true);
    whileModal(dlg, [&] { find<QPushButton>("BitBtn1", dlg)->click(); });
    win.printClick();
    EXPECT_EQ(previews, 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, " Warning:Please select graph to print! ");

    // "..." beside Graph Report picks the picture for both graph reports.
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Qt::darkCyan);
    ASSERT_TRUE(img.save(path("chart.png")));
    answer(path("chart.png"));
    whileModal(dlg, [&] {
        // The radio button chosen last time is still chosen.
        EXPECT_TRUE(find<QRadioButton>("RadioButton2", dlg)->isChecked());
        find<QPushButton>("Button1", dlg)->click();
        find<QRadioButton>("RadioButton3", dlg)->setChecked(true);
        whileOpen = [](ReportPreview& p) {
            EXPECT_EQ(p.document().kind(), ReportKind::DataGraph);
            EXPECT_EQ(p.document().recordCount(), 75);
        };
        find<QPushButton>("BitBtn1", dlg)->click();
    });
    win.printClick();
    EXPECT_EQ(previews, 2);
    EXPECT_EQ(session.reports().GraphPicturePath, path("chart.png"));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].directory, QDir::homePath());
    EXPECT_TRUE(dialogs.asked[0].filters.front().startsWith("All pictures"));

    // Cancel closes and does nothing else; a cancelled "..." keeps the picture.
    whileModal(dlg, [&] {
        find<QPushButton>("Button2", dlg)->click();
        find<QPushButton>("BitBtn2", dlg)->click();
    });
    win.printClick();
    EXPECT_EQ(previews, 2);
    EXPECT_EQ(session.reports().GraphPicturePath, path("chart.png"));
    EXPECT_TRUE(find<QRadioButton>("RadioButton3", dlg)->isChecked());
}

// The default file is emptied only once another chosen file has opened; a user's file opened
// earlier keeps its records.
TEST_F(Reports, OpeningIntoTheStoreEmptiesOnlyTheDefaultFile) {
    seedDefaultStore(4);
    // Missing, not a table, a table of something else, and the live table's own file: the
    // reason, and the default table keeps its records, open in the store as before.
    ASSERT_TRUE(putFile(path("junk.db"), "junk"));
    ASSERT_TRUE(px::writeTable(path("ids.db"),
                               {{"Id", px::FieldType::Long, 4}, {"LONG", px::FieldType::Long, 4}},
                               {{px::Value(std::int32_t(1)), px::Value(std::int32_t(1))}})
                    .ok());
    const std::pair<QString, QString> refused[] = {
        {path("missing.db"), ""},
        {path("junk.db"), ""},
        {path("ids.db"), ""},
        {session.liveTable().filePath(), "is the live readings table"}};
    for (const auto& [file, says] : refused) {
        SCOPED_TRACE(file.toStdString());
        answer(file);
        win.SpeedButton4Click();
        ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
        EXPECT_TRUE(boxes.shown[0].text.contains(says)) << boxes.shown[0].text.toStdString();
        if (!says.isEmpty()) {
            EXPECT_FALSE(boxes.shown[0].text.contains("another program"));
        }
        EXPECT_EQ(session.storeTable().rowCount(), 4);
        boxes.shown.clear();
    }
    EXPECT_TRUE(session.liveTable().isOpen());
    session.storeTable().close();
    EXPECT_EQ(recordsOnDisk(tables.path("pw60SD.DB")), 4);

    // The default file chosen itself is opened, not emptied.
    answer(tables.path("pw60SD.DB"));
    win.SpeedButton4Click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(session.storeTable().rowCount(), 4);
    // Another file: now the default is emptied.
    const QString first = tableFile("first.db", 3);
    answer(first);
    win.SpeedButton4Click();
    EXPECT_EQ(session.storeTable().rowCount(), 3);
    EXPECT_EQ(recordsOnDisk(tables.path("pw60SD.DB")), 0);

    // A user's file opened earlier keeps its records.
    const QString second = tableFile("second.db", 2);
    answer(second);
    win.SpeedButton4Click();
    EXPECT_EQ(session.storeTable().rowCount(), 2);
    EXPECT_EQ(recordsOnDisk(first), 3);

    // A file that is no table: the reason, and the stored table keeps the file it held.
    answer(path("junk.db"));
    win.SpeedButton4Click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_TRUE(session.storeTable().isOpen());
    EXPECT_EQ(session.storeTable().filePath(), second);
    EXPECT_EQ(session.storeTable().rowCount(), 2);
    // Cancelled: nothing changes.
    win.SpeedButton4Click();
    EXPECT_EQ(boxes.shown.size(), 1u);
    session.storeTable().close();
    EXPECT_EQ(recordsOnDisk(second), 2);
}

TEST_F(Reports, SaveFromEitherPlaceGivesTheSameFiles) {
    answer(tableFile("stored.db", 6));
    win.SpeedButton4Click();
    auto* store = find<TFrmstore>("Frmstore");
    // The same names in two folders: a table copy carries its own name.
    ASSERT_TRUE(QDir(dir.path()).mkpath("row") && QDir(dir.path()).mkpath("window"));
    answer(path("row/copy.db"));
    answer(path("row/copy.txt"), 1);
    win.SpeedButton8Click();
    win.SpeedButton8Click();
    answer(path("window/copy.db"));
    answer(path("window/copy.txt"), 1);
    store->SpeedButton8Click();
    store->SpeedButton8Click();

    EXPECT_EQ(recordsOnDisk(path("row/copy.db")), 6);
    EXPECT_EQ(fileBytes(path("row/copy.db")), fileBytes(path("window/copy.db")));
    EXPECT_EQ(fileBytes(path("row/copy.px")), fileBytes(path("window/copy.px")));
    EXPECT_FALSE(fileBytes(path("row/copy.px")).isEmpty());
    const QByteArray text = fileBytes(path("row/copy.txt"));
    EXPECT_EQ(text, fileBytes(path("window/copy.txt")));
    EXPECT_TRUE(text.startsWith("No\tTime\tValue\tUnit\tFunction\tRemark\r\n1\t"));
    EXPECT_EQ(text.count("\r\n"), 7);
    // The filter chosen last is offered again, from either place.
    ASSERT_EQ(dialogs.asked.size(), 5u);
    EXPECT_EQ(dialogs.asked[1].filter, 0);
    EXPECT_EQ(dialogs.asked[3].filter, 1); // the window's save after the row's text save
    EXPECT_EQ(dialogs.asked[4].filter, 0);
    EXPECT_EQ(dialogs.asked[4].filters, FileCommands::saveFilters());
    EXPECT_EQ(dialogs.asked[4].defaultSuffix, "xls");
    EXPECT_EQ(kinds(), (std::vector<std::string>{"plain", "plain"}));
    EXPECT_EQ(boxes.shown[0].text,
              "save table to specified file: " + path("row/copy.txt") + " Scuss!");
    EXPECT_EQ(progress.labels.size(), 4u);
}

TEST_F(Reports, StoreCommandsOnAClosedTable) {
    ASSERT_FALSE(session.storeTable().isOpen());
    // Delete all: its question naming the default file, then the closed-table message.
    win.SpeedButton9Click();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"delete", "error"}));
    EXPECT_EQ(boxes.shown[0].text, " Warning:all Store Records will be deleted! ");
    EXPECT_EQ(boxes.shown[0].file, session.storeTable().filePath());
    EXPECT_EQ(boxes.shown[1].text, "Cannot perform this operation on a closed dataset");

    // Save as text, or as any format for other programs, stops with the same message and
    // writes nothing.
    for (const auto& [name, filter] : {std::pair{"closed.txt", 1}, {"closed.csv", 5}}) {
        boxes.shown.clear();
        answer(path(name), filter);
        win.SpeedButton8Click();
        ASSERT_EQ(kinds(), std::vector<std::string>{"error"}) << name;
        EXPECT_EQ(boxes.shown[0].text, "Cannot perform this operation on a closed dataset");
        EXPECT_FALSE(QFile::exists(path(name))) << name;
    }

    // Save as DB copies the default file and leaves the table closed.
    boxes.shown.clear();
    answer(path("closed.db"));
    win.SpeedButton8Click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(recordsOnDisk(path("closed.db")), 0);
    EXPECT_FALSE(session.storeTable().isOpen());

    // Print: one page with one empty detail band and the total 1.
    session.reports().StoreReportPages = 9;
    whileOpen = [](ReportPreview& p) {
        EXPECT_EQ(p.pageCount(), 1);
        EXPECT_EQ(p.document().pageTotal(), 1);
    };
    find<QToolButton>("SpeedButton7", find("Panel8"))->click();
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(session.reports().StoreReportPages, 1);
}

TEST_F(Reports, DeleteAllEmptiesTheStoredTable) {
    const QString file = tableFile("stored.db", 3);
    answer(file);
    win.SpeedButton4Click();
    auto* store = find<TFrmstore>("Frmstore");
    // Cancel (or Escape, or the close box) deletes nothing.
    boxes.deleteAnswer = false;
    store->SpeedButton9Click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"delete"});
    EXPECT_EQ(boxes.shown[0].text, " Warning:all Store Records will be deleted! ");
    EXPECT_EQ(boxes.shown[0].file, file);
    EXPECT_EQ(session.storeTable().rowCount(), 3);
    session.storeTable().close();
    EXPECT_EQ(recordsOnDisk(file), 3);
    ASSERT_TRUE(session.storeTable().open().ok());

    boxes.deleteAnswer = true;
    store->SpeedButton9Click();
    EXPECT_EQ(kinds(), (std::vector<std::string>{"delete", "delete"}));
    EXPECT_TRUE(session.storeTable().isOpen());
    EXPECT_EQ(session.storeTable().rowCount(), 0);
    // On an open, empty table: the question and nothing else.
    win.SpeedButton9Click();
    EXPECT_EQ(kinds(), (std::vector<std::string>{"delete", "delete", "delete"}));
    session.storeTable().close();
    EXPECT_EQ(recordsOnDisk(file), 0);
}

// A stored table whose file was damaged under it: Delete all fails, cannot open it again
// either, and says both, so the user knows why the grid went empty.
TEST_F(Reports, DeleteAllOfADamagedFileSaysTheTableIsClosed) {
    const QString file = tableFile("stored.db", 3);
    answer(file);
    win.SpeedButton4Click();
    ASSERT_TRUE(session.storeTable().isOpen());
    ASSERT_TRUE(putFile(file, QByteArray(4096, 'x')));
    boxes.deleteAnswer = true;
    win.SpeedButton9Click();
    ASSERT_EQ(kinds(), (std::vector<std::string>{"delete", "error"}));
    EXPECT_TRUE(boxes.shown[1].text.contains("\nThe stored table could not be opened again: "))
        << boxes.shown[1].text.toStdString();
    EXPECT_FALSE(session.storeTable().isOpen());
}

// The stored-readings window on a live readings table: its records in both stored grids at
// once, printed by the stored-data report from the window, then saved from the store row.
TEST_F(Reports, StoreWindowShowsPrintsAndSavesALiveReadingsTable) {
    const QString file = tableFile("live.db", 5, false);
    auto* store = find<TFrmstore>("Frmstore");
    ReadingsGrid* grid3 = find<ReadingsGrid>("DBGrid3", store);
    ReadingsGrid* grid2 = find<ReadingsGrid>("DBGrid2");
    QStringList printed;
    whileOpen = [&](ReportPreview& p) {
        const ReportDocument& doc = p.document();
        EXPECT_EQ(doc.kind(), ReportKind::Store);
        EXPECT_EQ(doc.recordCount(), 5);
        const ReportPage page = doc.page(0);
        for (const PlacedBand& b : page.bands) {
            if (b.band->kind == BandKind::Detail && b.record == 4) {
                for (const ReportText& t : b.band->texts)
                    printed << doc.text(t, b, page.number);
            }
        }
    };
    whileModal(store, [&] {
        EXPECT_EQ(store->windowTitle(), "Store ");
        EXPECT_EQ(store->size(), QSize(447, 493));
        EXPECT_EQ(grid3->geometry(), QRect(0, 24, 447, 469));
        EXPECT_EQ(grid3->tableModel()->rowCount(), 0);
        // Opening a file from the window shows its records there at once.
        answer(file);
        find<QToolButton>("SpeedButton1", store)->click();
        EXPECT_EQ(grid3->tableModel()->rowCount(), 5);
        EXPECT_EQ(grid3->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        find<QToolButton>("SpeedButton7", store)->click();
        EXPECT_EQ(previews, 1);
        find<QToolButton>("SpeedButton2", store)->click();
        EXPECT_FALSE(store->isVisible());
    });
    find<QToolButton>("SpeedButton5")->click();
    EXPECT_FALSE(store->isVisible());
    ASSERT_EQ(previews, 1);
    EXPECT_EQ(printed, (QStringList{"5", "10:00:04", "1.004", "V",
                                    QStringLiteral("IR:500V 20G\u03A9"), "Continuous"}));
    // The open command's dialog is the data-file one.
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].filters.front(), "access data files (*.DB *.db)");
    EXPECT_TRUE(boxes.shown.empty());

    // Both stored grids show its six fields as the stored table's columns.
    const char* titles[] = {"SNo", "STime", "SValue", "SUnit", "SV_Range", "SI_Range"};
    const int widths3[] = {36, 67, 66, 71, 92, 77};
    const int widths2[] = {36, 47, 49, 42, 73, 70};
    for (ReadingsGrid* g : {grid2, grid3}) {
        ASSERT_EQ(g->tableModel()->rowCount(), 5);
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(g->tableModel()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                      titles[c]);
            EXPECT_EQ(g->columnWidth(c), g == grid3 ? widths3[c] : widths2[c]) << c;
        }
        const QAbstractItemModel* m = g->tableModel();
        EXPECT_EQ(m->data(m->index(2, 0)).toString(), "3");
        EXPECT_EQ(m->data(m->index(2, 1)).toString(), "10:00:02");
        EXPECT_EQ(m->data(m->index(2, 2)).toString(), "1.002");
        EXPECT_EQ(m->data(m->index(2, 4)).toString(), QStringLiteral("IR:500V 20G\u03A9"));
    }

    // Saved as text and as a keyed copy.
    grid2->setCurrentIndex(grid2->tableModel()->index(0, 0));
    answer(path("s.txt"), 1);
    win.SpeedButton8Click();
    ASSERT_EQ(kinds(), std::vector<std::string>{"plain"});
    const QByteArray text = fileBytes(path("s.txt"));
    EXPECT_TRUE(text.startsWith("No\tTime\tValue\tUnit\tFunction\tRemark\r\n"
                                "1\t10:00:00\t1.000\tV\tIR:500V 20G\xA6\xB8\tContinuous\r\n"));
    EXPECT_EQ(text.count("\r\n"), 6);
    // The export's walk leaves the stored grids on the last record.
    EXPECT_EQ(grid2->currentRecord(), 4);
    EXPECT_EQ(grid3->currentRecord(), 4);
    answer(path("s.db"));
    win.SpeedButton8Click();
    EXPECT_EQ(kinds(), std::vector<std::string>{"plain"});
    EXPECT_EQ(recordsOnDisk(path("s.db")), 5);
}

TEST_F(Reports, ATableOfOtherFieldsIsReportedNotPrintedBlank) {
    ASSERT_TRUE(px::writeTable(path("ids.db"), {{"Id", px::FieldType::Long, 4}},
                               {{px::Value(std::int32_t(1))}})
                    .ok());
    session.storeTable().setTableName(path("ids.db"));
    ASSERT_TRUE(session.storeTable().open());
    session.reports().StoreReportPages = 7;
    win.SpeedButton7Click();
    EXPECT_EQ(previews, 0);
    ASSERT_EQ(kinds(), std::vector<std::string>{"error"});
    EXPECT_TRUE(boxes.shown[0].text.contains("does not hold readings"));
    EXPECT_TRUE(boxes.shown[0].text.contains("ids.db"));
    EXPECT_EQ(session.reports().StoreReportPages, 7) << "nothing was prepared";
}
