#include "app/ui/main_window.h"

#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/recording_status.h"
#include "app/store_commands.h"
#include "app/ui/asset_requests.h"
#include "app/ui/caption_panel.h"
#include "app/ui/connection_menu.h"
#include "app/ui/link_controls.h"
#include "app/ui/status_line.h"
#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "common/ui/progress_dialogs.h"
#include "common/ui/window_fonts.h"
#include "display/ui/virtual_panel.h"
#include "link/connection_control.h"
#include "readings/ui/readings_grid.h"
#include "reports/ui/printer_dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcWindow, "kx.window")
}

TFrmTest::TFrmTest(AppSession& session, UiServices services, QWidget* parent)
    : QMainWindow(parent), session_(session), boxes_(services.boxes), dialogs_(services.dialogs),
      progress_(services.progress), printers_(services.printers), assetDialogs_(services.assets) {
    if (!boxes_) {
        ownBoxes_ = std::make_unique<DialogMessageBoxes>();
        boxes_ = ownBoxes_.get();
    }
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<QtFileDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    if (!progress_) {
        ownProgress_ = std::make_unique<QtProgressDialogs>();
        progress_ = ownProgress_.get();
    }
    setObjectName(QStringLiteral("FrmTest"));
    setWindowTitle(QStringLiteral("KX20_30 Interface Program ver:1.00"));
    // Fixed single border: system menu and minimise box, no maximise, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(arial(12));

    menu_ = buildMainMenu(this);
    buildClientArea();
    buildReportWindows();
    buildResultsWindow();
    buildAssetsWindow();
    connectSession();
    connectRecording();
    connectFiles();
    connectSideWindows();
    connectChart();
    VirtualPanel1->showState(session_.decoder().state());

    const int menuHeight = menu_.MainMenu1->sizeHint().height();
    setFixedSize(ScrollBox->width(),
                 ScrollBox->height() + menuHeight + statusBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    FormCreate();
    if (startUpEnded_)
        return;
    // The window has loaded: the device list's first scan is queued now and runs from the
    // event loop.
    session_.start();
}

// The session outlives the window; what it tells the window's widgets ends with them.
TFrmTest::~TFrmTest() = default;

void TFrmTest::FormCreate() {
    // The program's folder (the session has worked it out); an installed program's data
    // folder first gets the files it lacks. COM1 and "10000" are checked as the menus are
    // built.
    if (const Status s = session_.prepareAppDir(); !s) {
        // Without its files the window could do nothing: said, then the program ends, as
        // for a missing settings file.
        qCWarning(lcWindow).noquote() << "Start-up stopped:" << s.error();
        boxes_->warning(this, s.error());
        startUpEnded_ = true;
        return;
    }
    if (const Status s = session_.openLiveTableAtStart(); !s) {
        // Also on the error stream: a start with nobody at the screen still tells why.
        qCWarning(lcWindow).noquote() << "Start-up stopped:" << s.error();
        boxes_->error(this, s.error());
        return;
    }
    Chtshow->prepareAtStart(); // each series its sample point, the Fill switch's series shown
    row_.RepeatSet->setChecked(true);
    FileCommands& files = session_.files();
    FileCommands::makeChartPicturesDir();
    if (!files.loadSettings()) {
        qCWarning(lcWindow).noquote()
            << "Start-up stopped: no settings file" << files.settingsPath();
        boxes_->warning(this, FileCommands::missingSettingsMessage());
        startUpEnded_ = true;
        return;
    }
    if (!files.settingsNote().isEmpty())
        boxes_->warning(this, files.settingsNote());
    recoverReadings();
    showRecentFiles();
    connectionMenu_ = new ConnectionMenu(session_, menu_.MainMenu1, *boxes_, this);
    session_.link().LinkPort = 5; // USB
    // At most 100 points a page.
    if (const Status s = session_.chart().setPointsPerPage(100); !s)
        boxes_->error(this, s.error());
}

void TFrmTest::buildClientArea() {
    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(false);
    // The client area is what the scroll bars leave visible, as with a scrolling form; the
    // content always exceeds it both ways, so both bars are always there.
    ScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const int bar = ScrollBox->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ScrollBox);
    ScrollBox->setFixedSize(kClientWidth + bar, kClientHeight + bar);

    // Everything lives on one surface that extends past the visible area to the stored grid.
    ClientArea = new QWidget;
    ClientArea->setObjectName(QStringLiteral("ClientArea"));

    VirtualPanel1 = new VirtualPanel(ClientArea);

    Panel2 = new CaptionPanel(QStringLiteral("Panel2"), QStringLiteral("CONNECT"), ClientArea);
    Panel2->setFont(arial(14, true));
    QPalette black = Panel2->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Panel2->setPalette(black);
    Panel2->setGeometry(412, 2, 112, 26); // wide enough for "DISCONNECT"
    Panel3 = new CaptionPanel(QStringLiteral("Panel3"), QStringLiteral("EXIT"), ClientArea);
    Panel3->setFont(arial(14, true));
    Panel3->setGeometry(528, 2, 88, 26);
    connect(Panel2, &CaptionPanel::clicked, this, &TFrmTest::Panel2Click);
    connect(Panel3, &CaptionPanel::clicked, this, &TFrmTest::Panel3Click);

    row_ = buildControlRow(ClientArea);

    DBGrid1 = buildReadingsGrid("DBGrid1", QRect(0, 348, 617, 177), false);
    Chtshow = new ChartView(session_.chart(), *boxes_, ClientArea); // at 18, 612
    DBGrid2 = buildReadingsGrid("DBGrid2", QRect(340, 714, 341, 49), true);

    // The chart reaches below the stored grid's top; the surface must hold both.
    ClientArea->setFixedSize(std::max(DBGrid2->geometry().right(), Chtshow->geometry().right()) + 1,
                             std::max(DBGrid2->geometry().bottom(), Chtshow->geometry().bottom()) +
                                 1);
    ScrollBox->setWidget(ClientArea);
    setCentralWidget(ScrollBox);

    linkControls_ = new LinkControls(session_.link(), ClientArea, Panel2, menu_);
}

void TFrmTest::connectSession() {
    // The recording's state in words at the window's foot; the session works it out.
    StatusLine1 = new StatusLine(this);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(StatusLine1, 1);
    RecordingStatus& status = session_.recordingStatus();
    showRecordingState(status.state());
    connect(&status, &RecordingStatus::recordingStateChanged, this, &TFrmTest::showRecordingState);
    // Told from inside a recording: shown once the reading has been handled.
    connect(&session_, &AppSession::keepingChanged, this, &TFrmTest::warnReadingsUnsafe,
            Qt::QueuedConnection);

    connect(&session_.decoder(), &FrameDecoder::displayChanged, VirtualPanel1,
            &VirtualPanel::applyChange);
    connect(&session_.link(), &ConnectionControl::information, this,
            [this](const QString& text) { boxes_->information(this, text); });
}

void TFrmTest::recoverReadings() {
    // Readings a crashed run left in its journal are saved without a question, or appended to
    // the file they continue when the user says so, and listed first, ready to open.
    const QDateTime now = QDateTime::currentDateTime();
    FileCommands& files = session_.files();
    QStringList told, errors;
    if (const int runs = removeUnstartedJournals(session_.journalFolder()); runs > 0)
        told << FileCommands::unstartedMessage(runs);
    for (const LeftOverRecording& left : session_.leftOverRecordings()) {
        const bool append =
            !left.continues.isEmpty() && boxes_->confirm(this, FileCommands::appendQuestion(left));
        Result<QString> done = files.recoverRecording(left, append, now);
        if (!done && append) {
            errors << done.error();
            done = files.recoverRecording(left, false, now);
        }
        if (!done)
            errors << done.error();
        else if (!done.value().isEmpty())
            told << done.value();
    }
    if (!told.isEmpty())
        boxes_->information(this, told.join(QStringLiteral("\n\n")));
    if (!errors.isEmpty())
        boxes_->error(this, errors.join(QLatin1Char('\n')));
    // A journal that cannot be written is said in a box and on the status line.
    if (const Status s = session_.startJournal(); !s) {
        qCWarning(lcWindow).noquote() << s.error();
        session_.link().log(s.error());
    }
}

void TFrmTest::warnReadingsUnsafe(const QString& failure) {
    // Once a run: the status line says it for as long as it lasts.
    if (failure.isEmpty() || unsafeWarned_ || session_.keeper().journalFailure().isEmpty())
        return;
    unsafeWarned_ = true;
    boxes_->warning(this, QStringLiteral("The readings are no longer kept safe from a crash: "
                                         "%1\n\nRecording goes on. The status line says so until "
                                         "the journal can be written again; save the readings "
                                         "with Save As to keep them.")
                              .arg(failure));
}

void TFrmTest::showRecordingState(const RecordingState& state) {
    StatusLine1->setFullText(state.text(), state.file);
}

void TFrmTest::bringForward() {
    showNormal();
    raise();
    activateWindow();
}

void TFrmTest::endBySignal() {
    stopping_ = true;
    close();
}

void TFrmTest::closeEvent(QCloseEvent* event) {
    // A stop signal never asks; one that comes while the question is open ends the program
    // all the same.
    const bool leave = stopping_ || mayDropReadings() || stopping_;
    if (!leave) {
        event->ignore();
        return;
    }
    // Every ending through the window (the exits, the close box) is a normal one.
    if (const Status s = session_.finishRecording(); !s)
        qCWarning(lcWindow).noquote() << s.error();
    session_.endLink();
    QMainWindow::closeEvent(event);
}

void TFrmTest::DispInit(int mode) {
    DisplayState& state = session_.decoder().state();
    const DisplayState before = state;
    state.DispInit(mode);
    VirtualPanel1->applyChange(before, state);
}

void TFrmTest::Panel2Click() {
    session_.link().Panel2Click();
    linkControls_->showLinkState();
}

} // namespace kx
