#include "core/usb_interface.h"

#include <cstdio>

#include "platform/clock.h"

namespace h8 {
namespace {
UsbInterface* g_installed = nullptr;  // main thread; see UsbInterface::Installation
}  // namespace

std::string formatControlTrace(const UsbSetup& s, const uint8_t* data, int status) {
    const bool toDevice = (s.requestType & 0x80) == 0;
    std::string line = status < 0 ? "usb!" : toDevice ? "usb>" : "usb<";
    const uint8_t setup[8] = {s.requestType,
                              s.request,
                              static_cast<uint8_t>(s.value & 0xFF),
                              static_cast<uint8_t>(s.value >> 8),
                              static_cast<uint8_t>(s.index & 0xFF),
                              static_cast<uint8_t>(s.index >> 8),
                              static_cast<uint8_t>(s.length & 0xFF),
                              static_cast<uint8_t>(s.length >> 8)};
    char hex[4];
    for (uint8_t b : setup) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        line += hex;
    }
    line += " |";
    if (status < 0) {
        line += ' ';
        line += usbStatusName(status);
        return line;
    }
    const int n = toDevice ? s.length : status;
    for (int i = 0; data && i < n; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", data[i]);
        line += hex;
    }
    return line;
}

std::chrono::nanoseconds UsbInterface::now() const {
    return clock_ ? clock_->now() : std::chrono::steady_clock::now().time_since_epoch();
}

void UsbInterface::open(std::shared_ptr<UsbDeviceHandle> handle) {
    handle_ = std::move(handle);
    silentUntil_ = {};
}

void UsbInterface::setAccessDenied(bool denied) {
    if (denied == accessDenied_) return;
    accessDenied_ = denied;
    emit accessChanged();
}

void UsbInterface::setOtherUnits(int count) {
    if (count == otherUnits_) return;
    otherUnits_ = count;
    emit otherUnitsChanged();
}

void UsbInterface::close() {
    handle_.reset();
    attached_ = false;
    silentUntil_ = {};
}

int UsbInterface::controlTransfer(const UsbSetup& setup, uint8_t* data) {
    if (!handle_) return kUsbErrorNoDevice;
    constexpr auto kBurstGap = std::chrono::milliseconds(kRequestBurstGapMs);
    if (const auto at = now(); at < silentUntil_) {
        silentUntil_ = at + kBurstGap;
        return kUsbErrorTimeout;
    }
    const int status = handle_->controlTransfer(setup, data, timeoutMs_);
    if (status == kUsbErrorTimeout) silentUntil_ = now() + kBurstGap;
    if (trace_) trace_(formatControlTrace(setup, data, status));
    return status;
}

UsbInterface::ShortTimeout::ShortTimeout(UsbInterface& usb, unsigned ms)
    : usb_(usb), previous_(usb.timeoutMs_) {
    usb_.timeoutMs_ = ms;
}

UsbInterface::ShortTimeout::~ShortTimeout() {
    usb_.timeoutMs_ = previous_;
}

UsbInterface* UsbInterface::installed() {
    return g_installed;
}

UsbInterface::Installation::Installation(UsbInterface& usb) : previous_(g_installed) {
    g_installed = &usb;
}

UsbInterface::Installation::~Installation() {
    g_installed = previous_;
}

}  // namespace h8
