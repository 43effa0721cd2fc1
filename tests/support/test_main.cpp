// The one test entry: an application object for the whole run, so timers, signals, the
// reading threads' hand-over and widgets all have their event loop. Test executables that
// link the widgets library get a QApplication (offscreen unless the environment says
// otherwise), the others a QCoreApplication.
#ifdef KX_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // One known locale, so that the times and dates the grids, reports and exports show are
    // texts a test can write down.
    qputenv("LC_ALL", "C.UTF-8");
#ifdef KX_TEST_WIDGETS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
