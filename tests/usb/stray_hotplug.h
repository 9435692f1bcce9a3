// Hot-plug events come from libusb's event thread (or, for the emulated transport, from the
// event loop) in their own time. A test that checks that an event does *not* come (a duplicate,
// an announcement of a device already listed) has no event to wait for: it lets the event loop
// run for the time within which such an event has always arrived, then looks.
#pragma once

#include <QTest>

namespace h8::test {

inline void letStrayHotplugEventsArrive() {
    QTest::qWait(150);
}

}  // namespace h8::test
