// main() for test binaries with widgets: a QApplication (offscreen in ctest), no log file (the
// shared store would otherwise start one), then every test.
#include <gtest/gtest.h>

#include <QApplication>

#include "core/share_helper.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    h8::NorvShareHelper::disableLogFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
