#include "app/ui/connection_menu.h"

#include "app/app_session.h"
#include "app/file_commands.h"
#include "common/ui/message_boxes.h"
#include "common/ui/window_fonts.h"
#include "link/connection_control.h"
#include "link/demo_faults.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace kx {

ConnectionMenu::ConnectionMenu(AppSession& session, QMenuBar* bar, MessageBoxes& boxes,
                               QWidget* window)
    : QObject(window), session_(session), boxes_(boxes), window_(window) {
    auto* menu = new QMenu(QStringLiteral("Connection"), bar);
    menu->setObjectName(QStringLiteral("ConnectionMenu"));
    menu->setFont(arial(12));
    reconnect_ = menu->addAction(QStringLiteral("  Reconnect automatically"));
    reconnect_->setObjectName(QStringLiteral("AutoReconnect"));
    reconnect_->setCheckable(true);
    const bool on = session_.files().autoReconnectSetting();
    reconnect_->setChecked(on);
    session_.link().setAutoReconnect(on);
    connect(reconnect_, &QAction::toggled, this, &ConnectionMenu::setReconnect);
    bar->addMenu(menu);

    DemoFaults* faults = session_.demoFaults();
    if (!faults)
        return;
    demo_ = new QMenu(QStringLiteral("Demo"), bar);
    demo_->setObjectName(QStringLiteral("DemoMenu"));
    demo_->setFont(arial(12));
    const struct {
        const char* name;
        QString caption;
        LinkFault::Kind kind;
        int seconds;
    } items[] = {
        {"DemoSilent", QStringLiteral("  Make the meter fall silent for %1 s").arg(kSilentSeconds),
         LinkFault::Kind::Silent, kSilentSeconds},
        {"DemoUnplug", QStringLiteral("  Unplug the cable for %1 s").arg(kUnplugSeconds),
         LinkFault::Kind::Unplug, kUnplugSeconds},
        {"DemoDamaged",
         QStringLiteral("  Garble the cable's reports for %1 s").arg(kDamagedSeconds),
         LinkFault::Kind::Damaged, kDamagedSeconds},
    };
    for (const auto& item : items) {
        QAction* a = demo_->addAction(item.caption);
        a->setObjectName(QString::fromLatin1(item.name));
        connect(a, &QAction::triggered, this, [this, faults, kind = item.kind, s = item.seconds] {
            if (!faults->startNow(kind, std::int64_t{s} * 1000000))
                boxes_.information(window_, QStringLiteral("That fault is already under way."));
        });
    }
    bar->addMenu(demo_);
}

void ConnectionMenu::setReconnect(bool on) {
    session_.link().setAutoReconnect(on);
    if (const Status s = session_.files().setAutoReconnectSetting(on); !s)
        boxes_.warning(window_, s.error());
}

} // namespace kx
