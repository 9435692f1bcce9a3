#include "core/vendor_requests.h"

#include <cstdio>
#include <cstring>

#include "platform/diagnostics.h"

namespace h8 {
namespace {

UsbSetup vendorWrite(uint16_t value, uint16_t index) {
    return {kVendorWriteType, kVendorWriteRequest, value, index, 1};
}

UsbSetup vendorRead(uint16_t value, uint16_t index, uint16_t length) {
    return {kVendorReadType, kVendorReadRequest, value, index, length};
}

// Sends one request and prints the failure line. Returns false when nothing was sent (no
// handle) or the transfer failed.
bool perform(const char* errorPrefix, const UsbSetup& setup, uint8_t* data) {
    UsbInterface* usb = UsbInterface::installed();
    if (!usb || !usb->isOpen()) return false;
    if (usb->controlTransfer(setup, data) < 0) {
        diag(std::string(errorPrefix) + "do request error");
        return false;
    }
    return true;
}

bool write(const char* name, uint16_t value, uint16_t index, uint8_t byte) {
    return perform(name, vendorWrite(value, index), &byte);
}

// Reads `length` bytes into a zeroed local buffer and copies them to `out` only on success.
template <typename T>
bool read(const char* name, uint16_t value, uint16_t index, T& out) {
    uint8_t buffer[sizeof(T)] = {};
    if (!perform(name, vendorRead(value, index, sizeof(T)), buffer)) return false;
    std::memcpy(&out, buffer, sizeof(T));
    return true;
}

uint16_t channelAddress(uint8_t group, uint8_t channel) {
    return static_cast<uint16_t>(group << 8 | channel);
}

uint16_t mixerAddress(uint16_t source, uint16_t destination) {
    return static_cast<uint16_t>(source + 12 * destination);
}

}  // namespace

int sendControlRequest(const UsbSetup& setup, uint8_t* data) {
    UsbInterface* usb = UsbInterface::installed();
    return usb ? usb->controlTransfer(setup, data) : kUsbErrorNoDevice;
}

bool NorvaltUSBAudioSetVolume(uint8_t group, uint8_t channel, uint8_t value) {
    return write("NorvaltUSBAudioSetVolume ", channelAddress(group, channel), reg::kVolume, value);
}

bool NorvaltUSBAudioGetVolume(uint8_t group, uint8_t channel, uint8_t& out) {
    uint8_t wire = 0;
    if (!read("NorvaltUSBAudioGetVolume ", channelAddress(group, channel), reg::kVolume, wire))
        return false;
    out = static_cast<uint8_t>(~wire);  // the device stores levels inverted
    return true;
}

bool NorvaltUSBAudioSetMute(uint8_t group, uint8_t channel, uint8_t on) {
    return write("NorvaltUSBAudioSetMute ", channelAddress(group, channel), reg::kMute, on);
}

bool NorvaltUSBAudioGetMute(uint8_t group, uint8_t channel, uint8_t& out) {
    return read("NorvaltUSBAudioGetMute ", channelAddress(group, channel), reg::kMute, out);
}

bool NorvaltUSBAudioSet48V(uint16_t channel, uint8_t on) {
    return write("NorvaltUSBAudioSet48V ", channel, reg::k48V, on);
}

bool NorvaltUSBAudioGet48V(uint16_t channel, uint8_t& out) {
    return read("NorvaltUSBAudioGet48V ", channel, reg::k48V, out);
}

bool NorvaltUSBAudioGetOTG(uint16_t channel, uint8_t& out) {
    return read("NorvaltUSBAudioGetOTG ", channel, reg::kOtg, out);
}

bool NorvaltUSBAudioSetBTEnable(uint8_t on) {
    return write("NorvaltUSBAudioSetBTEnable ", 0x0001, reg::kBtEnable, on);
}

bool NorvaltUSBAudioGetBTEnable(uint8_t& out) {
    return read("NorvaltUSBAudioGetBTEnable ", 0x0001, reg::kBtEnable, out);
}

bool NorvaltUSBAudioGetBTMac(uint16_t& out) {
    uint8_t bytes[2] = {};
    if (!read("NorvaltUSBAudioGetBTMac ", 0x0001, reg::kBtMac, bytes)) return false;
    out = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

bool NorvaltUSBAudioGetBTA2DPStatus(uint8_t& out) {
    return read("NorvaltUSBAudioGetBTA2DPStatus ", 0x0001, reg::kBtA2dpStatus, out);
}

bool NorvaltUSBAudioGetSN(uint32_t& out) {
    return read("NorvaltUSBAudioGetSN ", 0x0000, reg::kSerial, out);
}

bool NorvaltUSBAudioSet4DBu(uint16_t channel, uint8_t on) {
    return write("NorvaltUSBAudioSet4DBu ", channel, reg::k4DBu, on);
}

bool NorvaltUSBAudioGet4DBu(uint16_t channel, uint8_t& out) {
    return read("NorvaltUSBAudioGet4DBu ", channel, reg::k4DBu, out);
}

bool NorvaltUSBAudioGetHWState(uint32_t& out) {
    return read("NorvaltUSBAudioGetHWState ", 0x0000, reg::kHwState, out);
}

// The crosspoint and block operations print the bare "do request error".
bool NorvaltUSBAudioSetMixer(uint16_t source, uint16_t destination, uint8_t gain) {
    return write("", mixerAddress(source, destination), reg::kMixer, gain);
}

bool NorvaltUSBAudioGetMixer(uint16_t source, uint16_t destination, uint8_t& out) {
    return read("", mixerAddress(source, destination), reg::kMixer, out);
}

bool NorvaltUSBAudioGetBlock1F(std::array<uint8_t, 24>& out) {
    return read("", 0x0000, reg::kBlock1F, out);
}

bool NorvaltUSBAudioSetBackupState(uint8_t on) {
    return write("NorvaltUSBAudioSetBackupState ", 0x0001, reg::kBackupState, on);
}

bool NorvaltUSBAudioGetBackupState(uint8_t& out) {
    return read("NorvaltUSBAudioGetBackupState ", 0x0000, reg::kBackupState, out);
}

std::string NorvaltUSBAudioGetFirmwareVersion() {
    const UsbInterface* usb = UsbInterface::installed();
    if (!usb || !usb->isOpen()) return "4";
    // GET_DESCRIPTOR of the device descriptor; bcdDevice is bytes 12 and 13, little-endian.
    uint8_t descriptor[18] = {};
    const UsbSetup setup{0x80, 0x06, 0x0100, 0x0000, sizeof descriptor};
    if (!perform("NorvaltUSBAudioGetFirmwareVersion ", setup, descriptor)) return {};
    char text[8];
    std::snprintf(text, sizeof text, "%02x", descriptor[12] | descriptor[13] << 8);
    return text;
}

}  // namespace h8
