// Shared main() pieces for test binaries that drive real libusb against emulated H8 devices:
// the one umockdev testbed of the process is created before any libusb context exists.
#pragma once

#include "emulated/umockdev/umockdev_h8_bed.h"

namespace h8::test {
// The testbed of this process (created by main()).
emulated::UmockdevH8Bed& umockdevBed();
}  // namespace h8::test
