#include "app/main_window.h"

#include "app/caption_panel.h"
#include "app/message_boxes.h"
#include "app/recording_session.h"
#include "display/virtual_panel.h"
#include "link/connection_control.h"
#include "link/hid_platforms.h"
#include "recording/readings_grid.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>

namespace kx {
namespace {

// Fonts in pixels: the window keeps its layout whatever the screen's font scaling.
QFont arial(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QAction* item(QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

QMenu* submenu(QWidget* parent, const char* name, const char* caption) {
    auto* m = new QMenu(QString::fromLatin1(caption), parent);
    m->setObjectName(QString::fromLatin1(name));
    m->setFont(arial(12)); // popups do not inherit the window's font
    m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Item"));
    return m;
}

} // namespace

TFrmTest::TFrmTest(QWidget* parent) : TFrmTest(WindowSetup{}, parent) {}

TFrmTest::TFrmTest(const WindowSetup& setup, QWidget* parent)
    : QMainWindow(parent), session_(std::make_unique<MeterSession>()),
      recording_(std::make_unique<RecordingSession>(session_->decoder.readingTexts(),
                                                    setup.liveTable, setup.storeTable)),
      boxes_(setup.boxes) {
    if (!boxes_) {
        ownBoxes_ = std::make_unique<DialogMessageBoxes>();
        boxes_ = ownBoxes_.get();
    }
    link_ =
        std::make_unique<ConnectionControl>(setup.platform ? setup.platform : makeSystemPlatform(),
                                            session_->receiver, session_->decoder);
    setObjectName(QStringLiteral("FrmTest"));
    setWindowTitle(QStringLiteral("KX20_30 Interface Program ver:1.00"));
    // Fixed single border: system menu and minimise box, no maximise, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(arial(12));

    buildMenus();
    buildClientArea();
    connectSession();
    buildLinkControls(ClientArea);
    connectRecording();
    VirtualPanel1->showState(session_->decoder.state());

    const int menuHeight = MainMenu1->sizeHint().height();
    setFixedSize(ScrollBox->width(), ScrollBox->height() + menuHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    FormCreate();
    // The window has loaded: the controller's first scan is queued now and runs from the
    // event loop.
    link_->start();
}

TFrmTest::~TFrmTest() {
    // Reading threads end before the devices, the receiver and the panel go away.
    link_->shutDown();
    // The panel goes with the window; stop the decoder from reaching it.
    session_->decoder.setStateObserver({});
    session_->decoder.setRecordHandler({});
    // The grids read the tables, which go before the window's children do.
    delete DBGrid1;
    delete DBGrid2;
}

void TFrmTest::FormCreate() {
    // COM1 is checked as the menus are built.
    set10k->setChecked(true);
    QString error;
    if (!openLiveTableAtStart(&error)) {
        boxes_->error(this, error);
        return;
    }
    // The chart's sample points are prepared here once the chart view exists.
    RepeatSet->setChecked(true);
    // Then: the pictures folder, the settings file and its recent files, the USB link port.
}

void TFrmTest::buildMenus() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setNativeMenuBar(false);
    setMenuBar(MainMenu1);

    FileSet1 = submenu(MainMenu1, "FileSet1", "File");
    New = item(FileSet1, "New", "  New");
    Open = item(FileSet1, "Open", "  Open");
    Save_as = item(FileSet1, "Save_as", "  Save As...");
    FileSet1->addSeparator();
    print = item(FileSet1, "print", "  Print");
    print->setVisible(false);
    FileSet1->addSeparator();
    Exit = item(FileSet1, "Exit", "   Exit");
    FileSep = FileSet1->addSeparator();
    FileSep->setObjectName(QStringLiteral("FileSep"));
    FileSep->setVisible(false);
    QAction** recent[] = {&filename1, &filename2, &filename3, &filename4, &filename5};
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = "filename" + QByteArray::number(i + 1);
        *recent[i] = item(FileSet1, name.constData(), "");
        (*recent[i])->setVisible(false);
    }
    MainMenu1->addMenu(FileSet1);

    Comset = submenu(MainMenu1, "Comset", "ComSet");
    COM = submenu(Comset, "COM", " COM");
    COM1 = item(COM, "COM1", "COM1");
    COM2 = item(COM, "COM2", "COM2");
    COM3 = item(COM, "COM3", "COM3");
    COM4 = item(COM, "COM4", "COM4");
    for (QAction* a : {COM1, COM2, COM3, COM4})
        a->setCheckable(true);
    COM1->setChecked(true);
    Comset->addMenu(COM);
    Comset->addSeparator();
    USB = item(Comset, "USB", " USB");
    USB->setCheckable(true);
    MainMenu1->addMenu(Comset)->setVisible(false);

    Grap = submenu(MainMenu1, "Grap", "Graph");
    SaveWhole1 = item(Grap, "SaveWhole1", " Save Whole");
    GoTo1 = submenu(Grap, "GoTo1", " GoTo");
    First1 = item(GoTo1, "First1", "First");
    Next1 = item(GoTo1, "Next1", "Next");
    Last1 = item(GoTo1, "Last1", "Last");
    Privous1 = item(GoTo1, "Privous1", "Privous");
    Grap->addMenu(GoTo1);
    Fill1 = item(Grap, "Fill1", " Fill");
    Fill1->setCheckable(true);
    Fill1->setChecked(true);
    Clear1 = item(Grap, "Clear1", " Clear");
    MainMenu1->addMenu(Grap)->setVisible(false);

    Rec = submenu(MainMenu1, "Rec", "Record");
    SaveR = item(Rec, "SaveR", " Save");
    RecSet = submenu(Rec, "RecSet", " RecordSet");
    RecSetGroup = new QActionGroup(RecSet);
    RecSetGroup->setExclusive(true);
    set1k = item(RecSet, "set1k", "1000");
    set5k = item(RecSet, "set5k", "5000");
    set10k = item(RecSet, "set10k", "10000");
    set50k = item(RecSet, "set50k", "50000");
    set100k = item(RecSet, "set100k", "100000");
    setlimit = item(RecSet, "setlimit", "Limitless");
    for (QAction* a : {set1k, set5k, set10k, set50k, set100k, setlimit}) {
        a->setCheckable(true);
        RecSetGroup->addAction(a);
    }
    set10k->setChecked(true);
    Rec->addMenu(RecSet);
    ClearR = item(Rec, "ClearR", " Clear All");
    SearchR = item(Rec, "SearchR", " Search");
    SearchR->setVisible(false);
    MainMenu1->addMenu(Rec);

    About1 = submenu(MainMenu1, "About1", "About");
    HELP1 = item(About1, "HELP1", "  Help     ");
    HELP1->setShortcut(QKeySequence(Qt::Key_F1));
    HELP1->setShortcutContext(Qt::WindowShortcut);
    About1->addSeparator();
    About2 = item(About1, "About2", "  About...");
    About2->setVisible(false);
    MainMenu1->addMenu(About1)->setVisible(false);
    // The About menu is hidden, so F1 has to live on the window itself.
    addAction(HELP1);

    connect(Exit, &QAction::triggered, this, &TFrmTest::ExitClick);
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
    ClientArea->setFixedSize(681, 763);

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

    buildToolStrip(ClientArea);

    DBGrid1 = buildReadingsGrid("DBGrid1", QRect(0, 348, 617, 177), recording_->LiveTable,
                                liveGridLayout());
    Chtshow = new QFrame(ClientArea);
    Chtshow->setObjectName(QStringLiteral("Chtshow"));
    Chtshow->setGeometry(18, 612, 361, 209);
    Chtshow->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Chtshow->setAutoFillBackground(true);
    QPalette silver = Chtshow->palette();
    silver.setColor(QPalette::Window, QColor(192, 192, 192));
    Chtshow->setPalette(silver);
    DBGrid2 = buildReadingsGrid("DBGrid2", QRect(340, 714, 341, 49), recording_->StoreTable,
                                storeGridLayout());

    // The chart reaches below the stored grid's top; the surface must hold both.
    ClientArea->setFixedSize(std::max(DBGrid2->geometry().right(), Chtshow->geometry().right()) + 1,
                             std::max(DBGrid2->geometry().bottom(), Chtshow->geometry().bottom()) +
                                 1);
    ScrollBox->setWidget(ClientArea);
    setCentralWidget(ScrollBox);
}

void TFrmTest::buildToolStrip(QWidget* client) {
    Panel7 = new QFrame(client);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setGeometry(2, 320, 355, 25);
    Panel7->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel7->setFont(arial(11));

    RepeatSet = new QCheckBox(QStringLiteral("Repeat"), Panel7);
    RepeatSet->setObjectName(QStringLiteral("RepeatSet"));
    RepeatSet->setGeometry(5, 5, 55, 17);
    RecordSI = new QCheckBox(QStringLiteral("Sampling Interval") + QString(14, QLatin1Char(' ')) +
                                 QStringLiteral("'S"),
                             Panel7);
    RecordSI->setObjectName(QStringLiteral("RecordSI"));
    RecordSI->setGeometry(60, 4, 167, 19);
    // The interval box lies over the blanks of the caption, between the words and "'S".
    RecordSITime = new QLineEdit(QStringLiteral("10"), Panel7);
    RecordSITime->setObjectName(QStringLiteral("RecordSITime"));
    RecordSITime->setGeometry(166, 0, 29, 22);
    RecordSITime->raise();

    auto button = [this](const char* name, const char* hint, const char* icon, int x) {
        auto* b = new QToolButton(Panel7);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(hint));
        b->setIcon(QIcon(QString::fromLatin1(icon)));
        b->setAutoRaise(true);
        b->setGeometry(x, 2, 25, 21);
        return b;
    };
    SpeedButton1 = button("SpeedButton1", "Save Data", ":/panel/tool_save.svg", 238);
    SpeedButton2 = button("SpeedButton2", "Delete Data", ":/panel/tool_delete.svg", 266);
    SpeedButton3 = button("SpeedButton3", "Open Data", ":/panel/tool_open.svg", 294);
    MajPrint = button("MajPrint", "Print Data", ":/panel/tool_print.svg", 322);
    SpeedButton5 = button("SpeedButton5", "Store Data", ":/panel/tool_store.svg", 322);
    SpeedButton5->setVisible(false);
}

void TFrmTest::connectSession() {
    MeterSession& s = *session_;
    s.decoder.setStateObserver([this](const DisplayState& before, const DisplayState& after) {
        VirtualPanel1->applyChange(before, after);
    });
    // Every report names the link type.
    s.receiver.setReportHandler([this] {
        LinkIndicators link = session_->decoder.state().link();
        link.rsUsbCaption = "USB";
        session_->decoder.updateLink(link);
    });
}

void TFrmTest::DispInit(int mode) {
    DisplayState& state = session_->decoder.state();
    const DisplayState before = state;
    state.DispInit(mode);
    VirtualPanel1->applyChange(before, state);
}

} // namespace kx
