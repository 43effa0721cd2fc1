// The program's real file dialogs, driven as a person would: the dialog opens, a name is typed
// and accepted, and the answer comes back to the command that asked.
#include "common/ui/file_dialogs.h"
#include "common/ui/picture_preview.h"
#include "readings/readings_table.h"
#include "reports/report_state.h"
#include "reports/ui/print_style_dialog.h"
#include "reports/ui/report_commands.h"
#include "support/wait_for.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace kx;

namespace {

struct RealFileDialog : ::testing::Test {
    QTemporaryDir dir;
    QtFileDialogs dialogs;
    bool ran = false;

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Once the file dialog is up: `body` gets it and its name box, then Return in the name box
    // accepts the dialog.
    void whenShown(std::function<void(QFileDialog&, QLineEdit&)> body) {
        QTimer::singleShot(0, [this, body] {
            QFileDialog* d = nullptr;
            ASSERT_TRUE(kx::test::waitUntil([&] {
                d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                return d != nullptr && d->isVisible();
            }));
            auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            body(*d, *name);
            ran = true;
            // Should the dialog refuse the name (with a message box of its own), both are
            // closed so that the test fails rather than waits.
            QTimer::singleShot(0, d, [d] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->reject();
                d->reject();
            });
            QTest::keyClick(name, Qt::Key_Return);
        });
    }
};

} // namespace

TEST_F(RealFileDialog, OpenTakesATypedNameThatDoesNotExist) {
    FileDialogRequest request;
    request.directory = dir.path();
    request.filters = {QStringLiteral("access data files (*.DB *.db)"),
                       QStringLiteral("All files (*)")};
    request.confirmOverwrite = false;
    whenShown([&](QFileDialog& d, QLineEdit& name) {
        EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptOpen);
        name.setText(QStringLiteral("nowhere.db"));
    });
    const std::optional<FileDialogAnswer> answer = dialogs.openFile(nullptr, request);
    ASSERT_TRUE(ran);
    ASSERT_TRUE(answer.has_value()) << "the dialog refused a name that does not exist";
    EXPECT_EQ(answer->path, path("nowhere.db"));
    EXPECT_EQ(answer->filter, 0);
}

TEST_F(RealFileDialog, PrintStylePictureChooserPreviewsThePicture) {
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(path("graph.png")));
    ASSERT_TRUE(QFile(path("notes.txt")).open(QIODevice::WriteOnly));

    ReadingsTable live, store;
    ReportState state;
    ReportCommands reports(live, store, state, ReportServices{});
    TFrmprint dialog(reports, dialogs);
    bool previewed = false;
    whenShown([&](QFileDialog& d, QLineEdit& name) {
        auto* preview = d.findChild<PicturePreview*>(QStringLiteral("PicturePreview"));
        ASSERT_NE(preview, nullptr) << "the picture chooser has a preview";
        EXPECT_TRUE(preview->isVisible());
        d.setDirectory(dir.path());
        name.setText(QStringLiteral("missing.png"));
        EXPECT_FALSE(preview->showsPicture()) << "no such file";
        name.setText(QStringLiteral("graph.png"));
        ASSERT_TRUE(preview->showsPicture());
        EXPECT_EQ(preview->shownFile(), path("graph.png"));
        // Scaled to fit the preview, keeping its proportions.
        const QSize shown = preview->pixmap().size();
        EXPECT_LE(shown.width(), PicturePreview::kSide);
        EXPECT_EQ(shown.width(), 2 * shown.height());
        EXPECT_EQ(preview->pixmap().toImage().pixelColor(shown.width() / 2, shown.height() / 2),
                  QColor(Qt::red));
        previewed = true;
    });
    dialog.Button1Click();
    ASSERT_TRUE(ran);
    EXPECT_TRUE(previewed);
    EXPECT_EQ(state.GraphPicturePath, path("graph.png"));

    // A file the picture reader cannot read, and a folder, show no picture.
    PicturePreview preview;
    preview.showFile(path("notes.txt"));
    EXPECT_FALSE(preview.showsPicture());
    preview.showFile(dir.path());
    EXPECT_FALSE(preview.showsPicture());
    preview.showFile(path("graph.png"));
    EXPECT_TRUE(preview.showsPicture());
}

// A name typed without an extension gets the one of the filter in force, the one the dialog
// opened with or the one the user picks, and the plain default under filters without one.
TEST_F(RealFileDialog, TypedNameGetsTheSuffixOfTheFilterInForce) {
    FileDialogRequest request;
    request.directory = dir.path();
    request.filters = {QStringLiteral("Txt File(*.txt)"), QStringLiteral("All File(*)"),
                       QStringLiteral("Workbook(*.xlsx)"), QStringLiteral("JSON Lines(*.jsonl)")};
    request.defaultSuffix = QStringLiteral("xls");
    request.filterSuffixes = {QString(), QStringLiteral("xls"), QStringLiteral("xlsx"),
                              QStringLiteral("jsonl")};
    struct Case {
        int opensWith;
        int downs; // the user moves the filter list down this many times
        const char* typed;
        const char* chosen;
        int filter;
    };
    const Case cases[] = {
        {0, 0, "plain", "plain.xls", 0},
        {2, 0, "book", "book.xlsx", 2},
        {0, 3, "lines", "lines.jsonl", 3},
        {3, 0, "named.txt", "named.txt", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ran = false;
        request.filter = c.opensWith;
        whenShown([&](QFileDialog& d, QLineEdit& name) {
            auto* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_NE(types, nullptr);
            for (int i = 0; i < c.downs; ++i)
                QTest::keyClick(types, Qt::Key_Down);
            name.setText(QString::fromLatin1(c.typed));
        });
        const std::optional<FileDialogAnswer> answer = dialogs.saveFile(nullptr, request);
        ASSERT_TRUE(ran);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->path.toStdString(), path(c.chosen).toStdString());
        EXPECT_EQ(answer->filter, c.filter);
    }
}
