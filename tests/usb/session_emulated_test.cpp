// The device session on the in-process emulated transport, and what only that transport can
// simulate (an open refused for lack of permission).

#include <QCoreApplication>

#include "emulated/emulated_usb_transport.h"
#include "session_cases.h"

namespace h8::test {
namespace {

struct InProcessBackend {
    void plug(int slot) { usb.plug(slot); }
    void unplug(int slot) { usb.unplug(slot); }
    emulated::EmulatedH8& model(int slot) { return usb.model(slot); }
    emulated::EmulatedUsbTransport& transport() { return usb; }

    emulated::EmulatedUsbTransport usb;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(InProcess, SessionTest, testing::Types<InProcessBackend>);

using PermissionTest = SessionTest<InProcessBackend>;

TEST_F(PermissionTest, DeniedOpenSaysHowToInstallTheUdevRule) {
    CapturedDiagnostics diag;
    DeviceEvents events;
    backend_->transport().setOpenFailure(kUsbErrorAccess);
    backend_->plug(1);
    ASSERT_TRUE(start());
    EXPECT_TRUE(events.events.isEmpty());
    EXPECT_FALSE(usb_.isAttached());
    const QStringList lines = diag.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "while .....1");
    EXPECT_TRUE(lines[1].contains("udev rule")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("70-h8-controller.rules"));
    EXPECT_EQ(lines[2], "Unable to create a plug-in (fffffffd)");

    // Once access is granted, the next arrival binds.
    backend_->transport().setOpenFailure(kUsbSuccess);
    backend_->unplug(1);
    backend_->plug(1);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.events, QStringList{"added"});
}

}  // namespace h8::test
