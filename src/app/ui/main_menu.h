#pragma once

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QMenuBar;

namespace kx {

// The main window's menu bar, its menus and items under their own names. Three menus
// (ComSet, Graph, About) are hidden; F1 lives on the window so that it works regardless.
struct MainMenu {
    QMenuBar* MainMenu1 = nullptr;

    QMenu* FileSet1 = nullptr;
    QAction* New = nullptr;
    QAction* Open = nullptr;
    QAction* Save_as = nullptr;
    QAction* print = nullptr;
    QAction* Exit = nullptr;
    QAction* FileSep = nullptr;
    QAction* filename[5] = {}; // filename1 .. filename5

    QMenu* Comset = nullptr;
    QMenu* COM = nullptr;
    QAction* COMn[4] = {}; // COM1 .. COM4
    QAction* USB = nullptr;

    QMenu* Grap = nullptr;
    QAction* SaveWhole1 = nullptr;
    QMenu* GoTo1 = nullptr;
    QAction* First1 = nullptr;
    QAction* Next1 = nullptr;
    QAction* Last1 = nullptr;
    QAction* Privous1 = nullptr;
    QAction* Fill1 = nullptr;
    QAction* Clear1 = nullptr;

    QMenu* Rec = nullptr;
    QAction* SaveR = nullptr;
    QMenu* RecSet = nullptr;
    QActionGroup* RecSetGroup = nullptr;
    QAction* set1k = nullptr;
    QAction* set5k = nullptr;
    QAction* set10k = nullptr;
    QAction* set50k = nullptr;
    QAction* set100k = nullptr;
    QAction* setlimit = nullptr;
    QAction* ClearR = nullptr;
    QAction* ResultsR = nullptr; // " Test Results"
    QAction* AssetsR = nullptr;  // " Assets": the asset register
    QAction* SearchR = nullptr;

    QMenu* About1 = nullptr;
    QAction* HELP1 = nullptr;
    QAction* About2 = nullptr;
};

// Builds the menu bar on the window with every item in its design state.
MainMenu buildMainMenu(QMainWindow* window);

} // namespace kx
