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
#ifdef KX_TEST_WIDGETS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
