#include "umockdev_main.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>

namespace h8::test {
namespace {
emulated::UmockdevH8Bed* g_bed = nullptr;
}
emulated::UmockdevH8Bed& umockdevBed() {
    return *g_bed;
}
}  // namespace h8::test

int main(int argc, char** argv) {
    if (!h8::emulated::UmockdevH8Bed::preloadActive()) {
        std::fprintf(stderr, "not in a umockdev environment: run under umockdev-wrapper\n");
        return 1;
    }
    h8::emulated::UmockdevH8Bed bed;
    h8::test::g_bed = &bed;
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
