// main() for test binaries that need a Qt event loop: a QCoreApplication, no log file (the
// shared store would otherwise start one), then every test.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "core/share_helper.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    h8::NorvShareHelper::disableLogFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
