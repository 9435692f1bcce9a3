// The device session through real libusb against emulated H8 devices served by umockdev.

#include "emulated/emulated_h8.h"
#include "platform/libusb_transport.h"
#include "session_cases.h"
#include "umockdev_main.h"

namespace h8::test {
namespace {

struct LibusbBackend {
    ~LibusbBackend() {
        umockdevBed().unplug(1);
        umockdevBed().unplug(2);
    }
    void plug(int slot) { umockdevBed().plug(slot, &models[slot - 1]); }
    void unplug(int slot) { umockdevBed().unplug(slot); }
    emulated::EmulatedH8& model(int slot) { return models[slot - 1]; }
    UsbTransport& transport() { return usb; }

    emulated::EmulatedH8 models[2];
    LibusbTransport usb;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Libusb, SessionTest, testing::Types<LibusbBackend>);

}  // namespace h8::test
