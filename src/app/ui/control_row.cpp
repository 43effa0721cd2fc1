#include "app/ui/control_row.h"

#include "common/ui/window_fonts.h"
#include "recording/recording_control.h"

#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace kx {
namespace {

// Editing keys that type nothing (arrows, Delete) and shortcuts (Ctrl+V and the like) pass,
// so a pasted text still reaches the change handler, which reports what does not convert.
class DigitKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        for (const QChar c : key->text()) {
            if (c.isPrint() && !RecordingControl::RecordSITimeKeyPress(c))
                return true;
        }
        return false;
    }
};

} // namespace

ControlRow buildControlRow(QWidget* client) {
    ControlRow r;
    r.Panel7 = new QFrame(client);
    r.Panel7->setObjectName(QStringLiteral("Panel7"));
    // Wide enough for the "Store Data", "Test Results" and "Assets" buttons after "Print Data".
    r.Panel7->setGeometry(2, 320, 439, 25);
    r.Panel7->setFrameStyle(QFrame::Panel | QFrame::Raised);
    r.Panel7->setFont(arial(11));

    r.RepeatSet = new QCheckBox(QStringLiteral("Repeat"), r.Panel7);
    r.RepeatSet->setObjectName(QStringLiteral("RepeatSet"));
    r.RepeatSet->setGeometry(5, 5, 55, 17);
    r.RecordSI = new QCheckBox(QStringLiteral("Sampling Interval") + QString(14, QLatin1Char(' ')) +
                                   QStringLiteral("'S"),
                               r.Panel7);
    r.RecordSI->setObjectName(QStringLiteral("RecordSI"));
    r.RecordSI->setGeometry(60, 4, 167, 19);
    // The interval box lies over the blanks of the caption, between the words and "'S".
    r.RecordSITime = new QLineEdit(QStringLiteral("10"), r.Panel7);
    r.RecordSITime->setObjectName(QStringLiteral("RecordSITime"));
    r.RecordSITime->setGeometry(166, 0, 29, 22);
    r.RecordSITime->raise();
    r.RecordSITime->installEventFilter(new DigitKeyFilter(r.RecordSITime));

    auto button = [&r](const char* name, const char* hint, const char* icon, int x) {
        auto* b = new QToolButton(r.Panel7);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(hint));
        b->setIcon(QIcon(QString::fromLatin1(icon)));
        b->setAutoRaise(true);
        b->setGeometry(x, 2, 25, 21);
        return b;
    };
    r.SpeedButton1 = button("SpeedButton1", "Save Data", ":/panel/tool_save.svg", 238);
    r.SpeedButton2 = button("SpeedButton2", "Delete Data", ":/panel/tool_delete.svg", 266);
    r.SpeedButton3 = button("SpeedButton3", "Open Data", ":/panel/tool_open.svg", 294);
    r.MajPrint = button("MajPrint", "Print Data", ":/panel/tool_print.svg", 322);
    // Shown, so that the stored readings and their commands can be reached.
    r.SpeedButton5 = button("SpeedButton5", "Store Data", ":/panel/tool_store.svg", 350);
    r.SpeedButton10 = button("SpeedButton10", "Test Results", ":/panel/tool_results.svg", 378);
    r.SpeedButton11 = button("SpeedButton11", "Assets", ":/panel/tool_assets.svg", 406);
    return r;
}

StoreRow buildStoreRow(QWidget* client, const QRect& geometry) {
    StoreRow r;
    r.Panel8 = new QFrame(client);
    r.Panel8->setObjectName(QStringLiteral("Panel8"));
    r.Panel8->setGeometry(geometry);
    r.Panel8->setFont(arial(11, true));
    auto* label = new QLabel(QStringLiteral(" STORE DATA :"), r.Panel8);
    label->setObjectName(QStringLiteral("Label13"));
    label->setGeometry(2, 4, 92, 16);
    auto button = [&r](const char* name, const char* hint, const char* icon, int x) {
        auto* b = new QToolButton(r.Panel8);
        b->setObjectName(QString::fromLatin1(name));
        if (hint)
            b->setToolTip(QString::fromLatin1(hint));
        if (icon)
            b->setIcon(QIcon(QString::fromLatin1(icon)));
        b->setAutoRaise(true);
        b->setGeometry(x, 1, 23, 22);
        return b;
    };
    r.SpeedButton4 = button("SpeedButton4", nullptr, nullptr, 96);
    r.SpeedButton6 = button("SpeedButton6", nullptr, nullptr, 120);
    r.SpeedButton8 = button("SpeedButton8", "Save Data", ":/panel/tool_save.svg", 144);
    r.SpeedButton9 = button("SpeedButton9", "Delete Data", ":/panel/tool_delete.svg", 168);
    r.SpeedButton7 = button("SpeedButton7", nullptr, ":/panel/tool_print.svg", 192);
    return r;
}

} // namespace kx
