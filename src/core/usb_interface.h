// The H8's control path as one object: the USB handle of the device that the session accepted,
// whether that device is attached, the time-out of each request, the gate that keeps a burst of
// requests from waiting on a silent interface again and again, and the trace of every transfer.
//
// Each program's main() creates one and installs it for the vendor request functions, which
// keep their names and parameters and reach it through installed(); tests make their own.
// Main thread only.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/usb_transport.h"

namespace h8 {

// Receives one line per control transfer (see formatControlTrace); empty to turn tracing off.
using ControlTraceSink = std::function<void(const std::string& line)>;

// "usb> " + setup bytes + " | " + data sent, for a write; "usb< " + setup + " | " + data
// received, for a read; "usb! " + setup + " | " + error name, for a failed transfer. Bytes in
// lower-case hexadecimal separated by single spaces.
std::string formatControlTrace(const UsbSetup& setup, const uint8_t* data, int status);

inline constexpr int kRequestBurstGapMs = 100;

class Clock;

class UsbInterface : public QObject {
    Q_OBJECT
public:
    // The burst gate keeps time with `clock` (the steady clock without one), which must outlive
    // the interface.
    UsbInterface() = default;
    explicit UsbInterface(const Clock& clock) : clock_(&clock) {}
    UsbInterface(const UsbInterface&) = delete;
    UsbInterface& operator=(const UsbInterface&) = delete;

    // The handle of the device the session accepted; every request goes through it. It stays
    // when the device is removed (requests then fail, and say so, until one is accepted again).
    void open(std::shared_ptr<UsbDeviceHandle> handle);
    // No handle any more (monitoring stopped).
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    UsbDeviceHandle* handle() const { return handle_.get(); }

    // Whether the device whose handle this is is attached (the session says so on arrival and
    // removal).
    void setAttached(bool attached) { attached_ = attached; }
    bool isAttached() const { return attached_; }

    // Whether an H8 is plugged in that this user may not open (no udev rule yet): the session
    // says so while it keeps trying. Such an interface counts as not there at all.
    void setAccessDenied(bool denied);

    // The port path and USB serial number string of the attached device (see UsbTransport):
    // the unit the audio side must match.
    void setPortPath(const QString& ports) { portPath_ = ports; }
    QString portPath() const { return portPath_; }
    void setUsbSerial(const QString& serial) { usbSerial_ = serial; }
    QString usbSerial() const { return usbSerial_; }

    // H8s plugged in beside the one in use (waiting their turn, or not openable), as the
    // session counts them.
    void setOtherUnits(int count);
    int otherUnits() const { return otherUnits_; }
    bool isAccessDenied() const { return accessDenied_; }

    // Sends one control transfer with the current time-out and traces it. Returns the
    // libusb-style status; kUsbErrorNoDevice, sending nothing, without a handle. After a
    // time-out, requests that follow within kRequestBurstGapMs of the previous one fail with
    // kUsbErrorTimeout at once, unsent and untraced: an action waits for a silent interface once.
    int controlTransfer(const UsbSetup& setup, uint8_t* data);

    void setTraceSink(ControlTraceSink sink) { trace_ = std::move(sink); }

    // True while requests are held back after a time-out (see controlTransfer).
    bool isHoldingBack() const { return now() < silentUntil_; }

    // How long a request waits for the interface (kControlTimeoutMs unless a short wait is on).
    unsigned timeoutMs() const { return timeoutMs_; }

    // While it lives, requests wait at most `ms` for the interface: for the periodic reads,
    // which must not hold the window when the interface stops answering.
    class ShortTimeout {
    public:
        ShortTimeout(UsbInterface& usb, unsigned ms);
        ~ShortTimeout();
        ShortTimeout(const ShortTimeout&) = delete;
        ShortTimeout& operator=(const ShortTimeout&) = delete;

    private:
        UsbInterface& usb_;
        unsigned previous_;
    };

    // The interface the request functions use: the one installed, null when none is.
    static UsbInterface* installed();
    // Installs `usb` for as long as it lives (main() at start, until exit; a test for its
    // length).
    class Installation {
    public:
        explicit Installation(UsbInterface& usb);
        ~Installation();
        Installation(const Installation&) = delete;
        Installation& operator=(const Installation&) = delete;

    private:
        UsbInterface* previous_;
    };

signals:
    // isAccessDenied() changed.
    void accessChanged();
    // otherUnits() changed.
    void otherUnitsChanged();

private:
    std::chrono::nanoseconds now() const;

    const Clock* clock_ = nullptr;
    std::shared_ptr<UsbDeviceHandle> handle_;
    bool attached_ = false;
    bool accessDenied_ = false;
    QString portPath_;
    QString usbSerial_;
    int otherUnits_ = 0;
    ControlTraceSink trace_;
    unsigned timeoutMs_ = kControlTimeoutMs;
    // After a request ran into its time-out, the requests that follow it back to back (the rest
    // of the same action: a rebuild's 144 crosspoint writes, an import, a status read) are not
    // sent: each would wait its own time-out and hold the window for minutes. The burst ends at
    // the first gap of kRequestBurstGapMs between requests; the next action tries again.
    std::chrono::nanoseconds silentUntil_{};
};

}  // namespace h8
