// The vendor control requests of the H8. The interface is configured entirely through vendor
// control transfers on endpoint 0; each function builds one setup packet, sends it
// synchronously through the interface that main() installed (UsbInterface::installed()) and
// either stores the answer in the caller's variable or prints "<name> do request error".
//
// With no interface installed, or none open, a function does nothing at all: nothing is sent,
// nothing printed, the result variable is untouched. A failed read leaves the result variable
// unchanged, so callers initialise it first. Every function returns true when its transfer
// succeeded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/usb_interface.h"
#include "platform/usb_transport.h"

namespace h8 {

// Sends one control transfer through the installed interface (see UsbInterface); returns the
// libusb-style status, kUsbErrorNoDevice when no interface is installed or open.
int sendControlRequest(const UsbSetup& setup, uint8_t* data);

// Register numbers (wIndex) of the vendor protocol.
namespace reg {
inline constexpr uint16_t kVolume = 0x0000;
inline constexpr uint16_t kMute = 0x0001;
inline constexpr uint16_t k48V = 0x0002;
inline constexpr uint16_t kSerial = 0x0003;
inline constexpr uint16_t k4DBu = 0x0004;
inline constexpr uint16_t kBtA2dpStatus = 0x0014;
inline constexpr uint16_t kBtMac = 0x0016;
inline constexpr uint16_t kBtEnable = 0x0017;
inline constexpr uint16_t kMixer = 0x001E;
inline constexpr uint16_t kBlock1F = 0x001F;
inline constexpr uint16_t kBackupState = 0x0066;
inline constexpr uint16_t kOtg = 0x0067;
inline constexpr uint16_t kHwState = 0x0079;
}  // namespace reg

inline constexpr uint8_t kVendorReadType = 0xC0;
inline constexpr uint8_t kVendorWriteType = 0x40;
inline constexpr uint8_t kVendorReadRequest = 0x00;
inline constexpr uint8_t kVendorWriteRequest = 0x03;

// The crosspoint address of a source position of the route map (0..15) and a destination
// (0..11): positions 0..3 are sources 8..11, positions 4..15 are sources 0..11.
inline uint16_t mixerSourceForPosition(int position) {
    return static_cast<uint16_t>(position < 4 ? position + 8 : position - 4);
}

bool NorvaltUSBAudioSetVolume(uint8_t group, uint8_t channel, uint8_t value);
bool NorvaltUSBAudioGetVolume(uint8_t group, uint8_t channel, uint8_t& out);
bool NorvaltUSBAudioSetMute(uint8_t group, uint8_t channel, uint8_t on);
bool NorvaltUSBAudioGetMute(uint8_t group, uint8_t channel, uint8_t& out);
bool NorvaltUSBAudioSet48V(uint16_t channel, uint8_t on);
bool NorvaltUSBAudioGet48V(uint16_t channel, uint8_t& out);
bool NorvaltUSBAudioGetOTG(uint16_t channel, uint8_t& out);
bool NorvaltUSBAudioSetBTEnable(uint8_t on);
bool NorvaltUSBAudioGetBTEnable(uint8_t& out);
bool NorvaltUSBAudioGetBTMac(uint16_t& out);
bool NorvaltUSBAudioGetBTA2DPStatus(uint8_t& out);
bool NorvaltUSBAudioGetSN(uint32_t& out);  // the four bytes in wire order, byte 0 lowest in memory
bool NorvaltUSBAudioSet4DBu(uint16_t channel, uint8_t on);
bool NorvaltUSBAudioGet4DBu(uint16_t channel, uint8_t& out);
bool NorvaltUSBAudioGetHWState(uint32_t& out);  // the four bytes in wire order, as stored in memory
bool NorvaltUSBAudioSetMixer(uint16_t source, uint16_t destination, uint8_t gain);
bool NorvaltUSBAudioGetMixer(uint16_t source, uint16_t destination, uint8_t& out);
bool NorvaltUSBAudioGetBlock1F(std::array<uint8_t, 24>& out);
bool NorvaltUSBAudioSetBackupState(uint8_t on);
bool NorvaltUSBAudioGetBackupState(uint8_t& out);
// bcdDevice of the device descriptor formatted "%02x" (0x0102 gives "102"); "4" with no handle
// open; empty when the descriptor cannot be read.
std::string NorvaltUSBAudioGetFirmwareVersion();

}  // namespace h8
