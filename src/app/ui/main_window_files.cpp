// The main window's data files: New, Open, Save As, the recent-file entries, and the ways out
// that close the tables and keep the recent list.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/ui/main_window.h"
#include "chart/chart_model.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "common/ui/progress_dialogs.h"
#include "readings/table_salvage.h"

#include <QAction>
#include <QLoggingCategory>
#include <QToolButton>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcSave, "kx.window.save")
}

void TFrmTest::connectFiles() {
    connect(menu_.New, &QAction::triggered, this, &TFrmTest::NewClick);
    connect(menu_.Open, &QAction::triggered, this, &TFrmTest::OpenClick);
    connect(row_.SpeedButton3, &QToolButton::clicked, this, &TFrmTest::OpenClick);
    connect(menu_.Save_as, &QAction::triggered, this, &TFrmTest::Save_asClick);
    connect(row_.SpeedButton1, &QToolButton::clicked, this, &TFrmTest::Save_asClick);
    connect(menu_.filename[0], &QAction::triggered, this, &TFrmTest::filename1Click);
    connect(menu_.filename[1], &QAction::triggered, this, &TFrmTest::filename2Click);
    connect(menu_.filename[2], &QAction::triggered, this, &TFrmTest::filename3Click);
    connect(menu_.filename[3], &QAction::triggered, this, &TFrmTest::filename4Click);
    connect(menu_.filename[4], &QAction::triggered, this, &TFrmTest::filename5Click);
    connect(menu_.Exit, &QAction::triggered, this, &TFrmTest::ExitClick);
    // What a recording's journal beside a file just opened meant for its readings.
    connect(&session_, &AppSession::journalNote, this,
            [this](const QString& note) { boxes_->information(this, note); });
}

void TFrmTest::showRecentFiles() {
    const RecentFiles& recent = session_.files().recent();
    menu_.FileSep->setVisible(recent.separatorVisible());
    for (int p = 1; p <= RecentFiles::kCount; ++p) {
        QAction* entry = menu_.filename[p - 1];
        entry->setText(RecentFiles::menuText(recent.caption(p)));
        entry->setVisible(recent.visible(p));
    }
}

void TFrmTest::NewClick() {
    const DeletionQuestion q = session_.files().newQuestion();
    if (!boxes_->confirmDeletion(this, q.text, q.file))
        return;
    session_.chart().BtNewClick();
    if (const Status s = session_.files().newRecording(); !s)
        boxes_->error(this, s.error());
}

bool TFrmTest::mayDropReadings() {
    // The answer is about the readings the question names; those recorded while it was open
    // get a question of their own.
    while (session_.unsavedReadings() > 0) {
        const qint64 named = session_.appendedReadings();
        switch (boxes_->askToSave(this, session_.saveQuestion())) {
        case MessageBoxes::SaveAnswer::Save:
            if (!saveTableAs(this, ExportKind::Live))
                return false;
            break;
        case MessageBoxes::SaveAnswer::Discard:
            session_.discardUnsaved(named);
            break;
        case MessageBoxes::SaveAnswer::Cancel:
            return false;
        }
    }
    return true;
}

void TFrmTest::OpenClick() {
    FileDialogRequest request;
    request.filters = FileCommands::openFilters();
    request.confirmOverwrite = false;
    const std::optional<FileDialogAnswer> answer = dialogs_->openFile(this, request);
    if (!answer || !mayDropReadings())
        return;
    const Status s = session_.files().openDataFile(answer->path);
    if (!s)
        openFailed(answer->path, s.error());
    showRecentFiles();
}

void TFrmTest::openFailed(const QString& path, const QString& failure) {
    const QString question = FileCommands::salvageQuestion(path, failure);
    if (question.isEmpty()) {
        boxes_->error(this, failure);
        return;
    }
    if (!boxes_->confirm(this, question))
        return;
    const Result<px::SalvageReport> report = session_.files().salvage(path);
    if (!report)
        boxes_->error(this, report.error());
    else
        boxes_->information(this, salvageReportText(report.value()));
}

void TFrmTest::Save_asClick() {
    saveTableAs(this, ExportKind::Live);
}

bool TFrmTest::saveTableAs(QWidget* from, ExportKind kind) {
    FileCommands& files = session_.files();
    FileDialogRequest request;
    request.filters = FileCommands::saveFilters();
    request.filter = files.saveFilter();
    request.defaultSuffix = FileCommands::saveDefaultSuffix();
    request.filterSuffixes = FileCommands::saveFilterSuffixes();
    const std::optional<FileDialogAnswer> answer = dialogs_->saveFile(from, request);
    if (!answer)
        return false;
    files.setSaveFilter(answer->filter);
    std::unique_ptr<ProgressReporter> progress =
        progress_->begin(from, QStringLiteral("Saving %1").arg(answer->path));
    const SaveAsOutcome outcome = files.saveAs(answer->path, kind, [&](qint64 done, qint64 total) {
        return progress->update(done, total);
    });
    progress.reset();
    showSaveOutcome(from, outcome);
    return outcome.saved();
}

void TFrmTest::showSaveOutcome(QWidget* from, const SaveAsOutcome& outcome) {
    using End = SaveAsOutcome::End;
    if (outcome.end == End::Cancelled)
        return;
    // A keyed copy or a file for other programs says nothing when it worked; the text export
    // always tells its outcome in a plain box, unless the table itself could not be read.
    if (outcome.format == ExportFormat::Text && outcome.end != End::TableRefused) {
        boxes_->plain(from, outcome.saved() ? textSavedMessage(outcome.path)
                                            : textNotSavedMessage(outcome.path));
        // That box names no reason: the log keeps it.
        if (!outcome.saved())
            qCWarning(lcSave).noquote() << outcome.error;
    } else if (!outcome.saved())
        boxes_->error(from, outcome.error);
}

void TFrmTest::openRecentFile(int position) {
    if (!mayDropReadings())
        return;
    const QString path = session_.files().recent().path(position);
    if (const Status s = session_.files().openRecent(position); !s)
        openFailed(path, s.error());
    showRecentFiles();
}

void TFrmTest::filename1Click() {
    openRecentFile(1);
}

void TFrmTest::filename2Click() {
    openRecentFile(2);
}

void TFrmTest::filename3Click() {
    openRecentFile(3);
}

void TFrmTest::filename4Click() {
    openRecentFile(4);
}

void TFrmTest::filename5Click() {
    openRecentFile(5);
}

void TFrmTest::Panel3Click() {
    if (!mayDropReadings())
        return;
    // The program ends even when the list cannot be written.
    if (const Status s = session_.files().exitPanel(); !s)
        boxes_->error(this, s.error());
    close();
}

void TFrmTest::ExitClick() {
    if (!mayDropReadings())
        return;
    if (const Status s = session_.files().fileExit(); !s) {
        boxes_->error(this, s.error());
        return;
    }
    close();
}

} // namespace kx
