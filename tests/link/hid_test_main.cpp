#include <QCoreApplication>

#include <gtest/gtest.h>

// The reading threads hand their reports to the main thread's event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
