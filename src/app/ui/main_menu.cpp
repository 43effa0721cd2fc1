#include "app/ui/main_menu.h"

#include "common/ui/window_fonts.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace kx {
namespace {

QAction* item(QMenu* menu, const QString& name, const char* caption) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    a->setObjectName(name);
    return a;
}

QAction* item(QMenu* menu, const char* name, const char* caption) {
    return item(menu, QString::fromLatin1(name), caption);
}

QMenu* submenu(QWidget* parent, const char* name, const char* caption) {
    auto* m = new QMenu(QString::fromLatin1(caption), parent);
    m->setObjectName(QString::fromLatin1(name));
    m->setFont(arial(12)); // popups do not inherit the window's font
    m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Item"));
    return m;
}

} // namespace

MainMenu buildMainMenu(QMainWindow* window) {
    MainMenu m;
    m.MainMenu1 = new QMenuBar(window);
    m.MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    m.MainMenu1->setNativeMenuBar(false);
    window->setMenuBar(m.MainMenu1);

    m.FileSet1 = submenu(m.MainMenu1, "FileSet1", "File");
    // Both separators around the hidden Print item show, one above the other, as laid out.
    m.FileSet1->setSeparatorsCollapsible(false);
    m.New = item(m.FileSet1, "New", "  New");
    m.Open = item(m.FileSet1, "Open", "  Open");
    m.Save_as = item(m.FileSet1, "Save_as", "  Save As...");
    m.FileSet1->addSeparator();
    m.print = item(m.FileSet1, "print", "  Print");
    m.print->setVisible(false);
    m.FileSet1->addSeparator();
    m.Exit = item(m.FileSet1, "Exit", "   Exit");
    m.FileSep = m.FileSet1->addSeparator();
    m.FileSep->setObjectName(QStringLiteral("FileSep"));
    m.FileSep->setVisible(false);
    for (int i = 0; i < 5; ++i) {
        m.filename[i] = item(m.FileSet1, QStringLiteral("filename%1").arg(i + 1), "");
        m.filename[i]->setVisible(false);
    }
    m.MainMenu1->addMenu(m.FileSet1);

    m.Comset = submenu(m.MainMenu1, "Comset", "ComSet");
    m.COM = submenu(m.Comset, "COM", " COM");
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("COM%1").arg(i + 1);
        m.COMn[i] = m.COM->addAction(name);
        m.COMn[i]->setObjectName(name);
        m.COMn[i]->setCheckable(true);
    }
    m.COMn[0]->setChecked(true);
    m.Comset->addMenu(m.COM);
    m.Comset->addSeparator();
    m.USB = item(m.Comset, "USB", " USB");
    m.USB->setCheckable(true);
    m.MainMenu1->addMenu(m.Comset)->setVisible(false);

    m.Grap = submenu(m.MainMenu1, "Grap", "Graph");
    m.SaveWhole1 = item(m.Grap, "SaveWhole1", " Save Whole");
    m.GoTo1 = submenu(m.Grap, "GoTo1", " GoTo");
    m.First1 = item(m.GoTo1, "First1", "First");
    m.Next1 = item(m.GoTo1, "Next1", "Next");
    m.Last1 = item(m.GoTo1, "Last1", "Last");
    m.Privous1 = item(m.GoTo1, "Privous1", "Privous");
    m.Grap->addMenu(m.GoTo1);
    m.Fill1 = item(m.Grap, "Fill1", " Fill");
    m.Fill1->setCheckable(true);
    m.Fill1->setChecked(true);
    m.Clear1 = item(m.Grap, "Clear1", " Clear");
    m.MainMenu1->addMenu(m.Grap)->setVisible(false);

    m.Rec = submenu(m.MainMenu1, "Rec", "Record");
    m.SaveR = item(m.Rec, "SaveR", " Save");
    m.RecSet = submenu(m.Rec, "RecSet", " RecordSet");
    m.RecSetGroup = new QActionGroup(m.RecSet);
    m.RecSetGroup->setExclusive(true);
    m.set1k = item(m.RecSet, "set1k", "1000");
    m.set5k = item(m.RecSet, "set5k", "5000");
    m.set10k = item(m.RecSet, "set10k", "10000");
    m.set50k = item(m.RecSet, "set50k", "50000");
    m.set100k = item(m.RecSet, "set100k", "100000");
    m.setlimit = item(m.RecSet, "setlimit", "Limitless");
    for (QAction* a : {m.set1k, m.set5k, m.set10k, m.set50k, m.set100k, m.setlimit}) {
        a->setCheckable(true);
        m.RecSetGroup->addAction(a);
    }
    m.set10k->setChecked(true);
    m.Rec->addMenu(m.RecSet);
    m.ClearR = item(m.Rec, "ClearR", " Clear All");
    m.ResultsR = item(m.Rec, "ResultsR", " Test Results");
    m.AssetsR = item(m.Rec, "AssetsR", " Assets");
    m.SearchR = item(m.Rec, "SearchR", " Search");
    m.SearchR->setVisible(false);
    m.MainMenu1->addMenu(m.Rec);

    m.About1 = submenu(m.MainMenu1, "About1", "About");
    m.HELP1 = item(m.About1, "HELP1", "  Help     ");
    m.HELP1->setShortcut(QKeySequence(Qt::Key_F1));
    m.HELP1->setShortcutContext(Qt::WindowShortcut);
    m.About1->addSeparator();
    m.About2 = item(m.About1, "About2", "  About...");
    m.About2->setVisible(false);
    m.MainMenu1->addMenu(m.About1)->setVisible(false);
    // The About menu is hidden, so F1 has to live on the window itself.
    window->addAction(m.HELP1);
    return m;
}

} // namespace kx
