// GoogleTest main for modules whose objects need a Qt event loop (signals, timers,
// processes, sockets): the tests run inside a QCoreApplication.

#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
