// The process-wide shared state store: device identity, the last hardware state read from the
// interface, the panel's meter ratios, the poll gate and the routing arrays. Created on first
// use and never destroyed. Main thread only.
#pragma once

#include <QString>
#include <QVariantList>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/audio_devices.h"
#include "core/file_logger.h"
#include "core/level_engine.h"

namespace h8 {

class NorvAudioHelper;

class NorvShareHelper {
public:
    static NorvShareHelper& shared();

    // Programs that must not start a fresh log file (the command-line tool, which runs beside
    // the panel) call this before the first shared().
    static void disableLogFile();
    // The log file's name in the log folder ("myapp.log" unless set before the first shared()).
    static void setLogFileName(const QString& name);

    std::unique_ptr<FileLogger> logger;
    std::shared_ptr<NorvAudioHelper> audio;  // the routing engine, set by the view controller
    float scalar = 0;               // main output volume of the interface, rounded to hundredths
    float hpratio = 0;              // headphone level / 100, scales the headphone meters
    float otgratio = 0;             // OTG output volume / 100, scales the OTG meters
    AudioDevicePtr hardwareDevice;  // the interface as an audio device
    // The level engines (one per input channel of the interface) and the routing columns;
    // absent until the first build.
    std::optional<std::vector<std::shared_ptr<Engine>>> inputUnits;
    std::optional<std::vector<std::shared_ptr<Output>>> outputUnits;
    QString deviceName;
    QString deviceSn;
    QString deviceVersion;
    int64_t firmware = 0;
    bool isHasOTGMax = true;
    bool canReadStatue = true;  // gate of the hardware-state poll
    QString sampleRate;         // e.g. "48000Hz"
    double micIn1Volume = 0;    // input 1 gain in dB, 0..56
    double micIn2Volume = 0;
    double micOutVolume = 0;    // headphone/main output level, 0..100
    double OTGOut34Volume = 0;  // OTG output volume percent
    int micMuteState = 0;
    int mic48VState = 0;
    int micInChangeState = 0;
    int micInstState = 0;
    int mic2MuteState = 0;
    int mic248VState = 0;
    int mic2InChangeState = 0;
    int mic2InstState = 0;
    int hpMuteState = 0;
    std::optional<double> timestamp;
    bool isInit = false;
    std::vector<int> indexQuoteArray = std::vector<int>(12, 0);  // per-source use counts

    // The default route map: playback 1 and 2 to the headphones.
    static const std::array<std::array<bool, 16>, 16>& boolArray();

    // The rows of boolArray() as a stored route map.
    static QVariantList defaultChannelMap();
    // The route map stored under "H8TTChannelMapArray": the stored value when it is a list,
    // otherwise defaultChannelMap(). Writing stores the list at once (the routing model is the
    // one writer).
    QVariantList channelMapArray() const;
    void setChannelMapArray(const QVariantList& map);

    // Reads the four hardware-state bytes and stores the decoded states and levels. A failed
    // read stores all-zero state.
    bool getHardWareState();  // false when the read failed (zeros are then decoded)
    // Stores the decoding of four hardware-state bytes (wire order).
    void applyHardwareState(const std::array<uint8_t, 4>& bytes);

    static double getVolume1(uint8_t code);  // input gain code to dB
    static double getVolume(uint8_t code);   // output level code to 0..100
    static std::vector<int> binaryStringToArrayWithBinaryString(const QString& text);

    // Writes an INFO line to the log when there is a logger.
    void logInfo(const QString& message);
    // The line a periodic task writes on `channel`, written only when it changed since the
    // task's previous run (empty: this run did not get there).
    void logInfoIfChanged(const QString& channel, const QString& message);

    // Restores every field to its initial value (tests).
    void resetForTesting();

private:
    struct NoLogFile {};
    NorvShareHelper();
    explicit NorvShareHelper(NoLogFile) {}
};

inline constexpr const char* kChannelMapKey = "H8TTChannelMapArray";

class HexPercentageConverter {
public:
    // Crosspoint level percent to gain byte: 0 and anything outside 1..100 is 0xFF (silent);
    // 1 gives 254 down to 129 for 100.
    static uint8_t percentToLevel(int percent);
};

}  // namespace h8
