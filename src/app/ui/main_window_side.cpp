// The main window's way to the side windows: the About box, the search dialog and the help
// viewer. Their menu items are hidden; F1 still reaches the help.
#include "app/app_session.h"
#include "app/ui/main_window.h"
#include "reports/ui/about_box.h"
#include "reports/ui/help_window.h"
#include "reports/ui/search_dialog.h"

#include <QAction>

namespace kx {

void TFrmTest::connectSideWindows() {
    connect(menu_.HELP1, &QAction::triggered, this, &TFrmTest::HELP1Click);
    connect(menu_.About2, &QAction::triggered, this, &TFrmTest::About2Click);
    connect(menu_.SearchR, &QAction::triggered, this, &TFrmTest::SearchRClick);
}

QString TFrmTest::helpFile() const {
    return session_.AppDir + QStringLiteral("help/index.html");
}

void TFrmTest::HELP1Click() {
    // Shown beside the main window and not waited for; a missing manual is reported in it.
    if (!help_)
        help_ = new HelpWindow(this);
    help_->showContents(helpFile());
}

void TFrmTest::About2Click() {
    if (FrmAbout)
        FrmAbout->exec();
}

void TFrmTest::SearchRClick() {
    if (Frmsearch)
        Frmsearch->exec();
}

} // namespace kx
