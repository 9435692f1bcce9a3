// The device settings that the panel's controls and the command-line tool change: input and
// headphone mutes and the OTG output volume, each sent to the device and kept in the user
// defaults, and the non-visual half of the hardware-state poll.
#pragma once

#include <cstdint>
#include <optional>

namespace h8 {

class UsbInterface;

inline constexpr const char* kMicMute1Key = "MicM1Key";
inline constexpr const char* kMicMute2Key = "MicM2Key";
inline constexpr const char* kHeadphoneMuteKey = "HPMKey";
inline constexpr const char* kOtgOutVolumeKey = "OTGOutVolume";

// Each setter stores the new setting whether or not the device took it (so that the next
// restore sends it again) and returns true when every request succeeded.

// Mutes input 1 or 2 (state AND 1) on the device and stores it under "MicM1Key"/"MicM2Key".
bool setInputMute(int input, int state);
// Mutes both headphone channels (1, then 2) and stores the state under "HPMKey".
bool setHeadphoneMute(int state);

// The output level 0..127 of an OTG volume percent: integer part of percent * 127 / 100 + 0.5.
uint8_t otgVolumeLevel(int percent);
// Stores the percent under "OTGOutVolume", sets the store's otgratio and OTGOut34Volume and
// sends the level (inverted) to OTG channels 3 and 4.
bool setOtgOutputVolume(int percent);

// Sends the stored input mutes to the device (when the input panel is created). Returns the
// two mute states sent.
struct InputMutes {
    int input1 = 0;
    int input2 = 0;
};
InputMutes restoreInputMutes();

// Sends the stored OTG volume and headphone mute to the device (when the output panel is
// created and on every arrival). Returns what was sent.
struct OutputSettings {
    int otgVolume = 0;
    int headphoneMute = 0;
};
OutputSettings restoreOutputSettings();

// The device part of one hardware-state poll tick: logs its progress, and while the store's
// poll gate is open reads the hardware state into the store, the OTG port state (when the
// store says the interface has one) and the headphone mute. Returns nothing when the gate is
// closed.
struct HardwarePoll {
    bool answered = true;                  // false: the interface did not answer the first read
    std::optional<bool> otgConnected;      // absent when the OTG port is not polled
    std::optional<uint8_t> headphoneMute;  // absent when the read failed
};
// Each read waits at most kPollTimeoutMs: an interface that stopped answering must not hold the
// window. After a first read that fails, the tick's other reads are skipped.
inline constexpr unsigned kPollTimeoutMs = 50;
std::optional<HardwarePoll> pollHardwareState(UsbInterface& usb);

}  // namespace h8

namespace h8 {

// Sends the store's three mute states to the device (input 1, input 2, then both headphone
// channels) and keeps them in the user defaults; only a state of exactly 1 mutes. Returns what
// was sent, for the buttons.
struct MuteStates {
    int input1 = 0;
    int input2 = 0;
    int headphones = 0;
};
MuteStates pushMuteStates();

// After a preset import: posts "changeSampeRate" and sets the store's sample-rate text on the
// interface's audio device when that reports another rate (or none). Does nothing without a
// hardware device.
void applyStoredSampleRate();

}  // namespace h8
