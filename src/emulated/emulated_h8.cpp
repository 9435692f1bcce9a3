#include "emulated/emulated_h8.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

#include "platform/atomic_file.h"

namespace h8::emulated {
namespace {

constexpr uint8_t kVendorRead = 0xC0;
constexpr uint8_t kVendorWrite = 0x40;
constexpr uint8_t kStandardRead = 0x80;
constexpr uint8_t kGetDescriptor = 0x06;

// Registers (wIndex) of the vendor protocol.
enum Register : uint16_t {
    kRegVolume = 0x0000,
    kRegMute = 0x0001,
    kReg48V = 0x0002,
    kRegSerial = 0x0003,
    kReg4DBu = 0x0004,
    kRegBtStatus = 0x0014,
    kRegBtMac = 0x0016,
    kRegBtEnable = 0x0017,
    kRegMixer = 0x001E,
    kRegBlock = 0x001F,
    kRegBackup = 0x0066,
    kRegOtg = 0x0067,
    kRegHwState = 0x0079,
};

// Volume and mute exist for the outputs (group 0, channels 1-4) and the inputs (group 1, 1-2).
bool isChannelAddress(uint16_t address) {
    const int group = address >> 8, channel = address & 0xFF;
    return (group == 0 && channel >= 1 && channel <= 4) ||
           (group == 1 && channel >= 1 && channel <= 2);
}

// Bits of the switch byte for the 48 V, instrument and input-type states of input 1 and 2.
uint8_t phantomBit(int input) {
    return input == 1 ? 0x02 : 0x01;
}
uint8_t instrumentBit(int input) {
    return input == 1 ? 0x08 : 0x04;
}
uint8_t inputTypeBit(int input) {
    return input == 1 ? 0x20 : 0x10;
}

void setBit(uint8_t& byte, uint8_t bit, bool on) {
    byte = on ? (byte | bit) : (byte & ~bit);
}

std::vector<uint8_t> stringDescriptor(const QString& text) {
    std::vector<uint8_t> d{0, 3};
    for (const QChar c : text) {
        d.push_back(static_cast<uint8_t>(c.unicode() & 0xFF));
        d.push_back(static_cast<uint8_t>(c.unicode() >> 8));
    }
    d[0] = static_cast<uint8_t>(d.size());
    return d;
}

// The byte stored at `key`, or 0 for an address the state does not list. A read never adds
// an entry: that would count as a change of state.
uint8_t byteAt(const std::map<uint16_t, uint8_t>& m, uint16_t key) {
    const auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
}

QString addressKey(uint16_t address) {
    return QString::number(address >> 8) + ":" + QString::number(address & 0xFF);
}

}  // namespace

H8State H8State::factory() {
    H8State s;
    for (uint16_t address : {0x0001, 0x0002, 0x0003, 0x0004, 0x0101, 0x0102}) {
        s.mute[address] = 0;
        s.volumeWire[address] = 0x80;  // level 127, full volume
    }
    s.fourDbu[1] = 0;
    s.fourDbu[2] = 0;
    s.mixer.fill(0xFF);
    // Playback 1 and 2 to the headphones, as a new interface ships.
    s.mixer[0 + 12 * 0] = 0x80;
    s.mixer[1 + 12 * 1] = 0x80;
    return s;
}

EmulatedH8::EmulatedH8() : state_(H8State::factory()) {}
EmulatedH8::EmulatedH8(const H8State& state) : state_(state) {}

std::vector<uint8_t> EmulatedH8::deviceDescriptor() {
    return {
        18,
        0x01,  // bLength, DEVICE
        0x00,
        0x02,  // bcdUSB 2.00
        0xEF,
        0x02,
        0x01,  // miscellaneous class with interface association
        64,    // bMaxPacketSize0
        kVendorId & 0xFF,
        kVendorId >> 8,
        kProductId & 0xFF,
        kProductId >> 8,
        kBcdDevice & 0xFF,
        kBcdDevice >> 8,
        1,
        2,
        3,  // manufacturer, product, serial number strings
        1,  // one configuration
    };
}

std::vector<uint8_t> EmulatedH8::configDescriptor() {
    // One configuration with the audio-control interface first and one audio-streaming
    // interface; endpoints are left out, only endpoint 0 is used.
    std::vector<uint8_t> d{
        9,    0x02, 0,    0,   2,
        1,    0,    0x80, 250,  // CONFIGURATION: 2 interfaces, bus powered, 500 mA
        9,    0x04, 0,    0,   0,
        0x01, 0x01, 0x20, 0,  // INTERFACE 0: audio control
        9,    0x04, 1,    0,   0,
        0x01, 0x02, 0x20, 0,  // INTERFACE 1: audio streaming
    };
    d[2] = static_cast<uint8_t>(d.size());
    return d;
}

int EmulatedH8::handleControl(const UsbSetup& setup, uint8_t* data) {
    TransferRecord record;
    record.setup = setup;
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        const H8State before = state_;
        const Fault fault = faultNow();
        if (fault == Fault::Stall) {
            record.status = kUsbErrorPipe;
        } else if (fault == Fault::Timeout || fault == Fault::Hang) {
            record.status = kUsbErrorTimeout;
        } else {
            record.status = answer(setup, data);
        }
        const bool toDevice = (setup.requestType & 0x80) == 0;
        if (data && toDevice) {
            record.data.assign(data, data + setup.length);
        } else if (data && record.status > 0) {
            record.data.assign(data, data + record.status);
        }
        // Keep the most recent transfers only: a simulated panel polls for hours.
        if (transfers_.size() >= kMaxTransferRecords) {
            transfers_.erase(transfers_.begin(), transfers_.begin() + kMaxTransferRecords / 2);
        }
        transfers_.push_back(record);
        if (!(state_ == before)) listener = listener_;
    }
    if (listener) listener();
    return record.status;
}

int EmulatedH8::answer(const UsbSetup& s, uint8_t* data) {
    const auto reply = [&](const void* bytes, size_t n) {
        n = std::min<size_t>(n, s.length);
        std::memcpy(data, bytes, n);
        return static_cast<int>(n);
    };
    const auto replyByte = [&](uint8_t b) { return s.length == 1 ? reply(&b, 1) : kUsbErrorPipe; };

    if (s.requestType == kStandardRead && s.request == kGetDescriptor) {
        const int type = s.value >> 8, index = s.value & 0xFF;
        std::vector<uint8_t> d;
        if (type == 1 && index == 0) {
            d = deviceDescriptor();
        } else if (type == 2 && index == 0) {
            d = configDescriptor();
        } else if (type == 3) {
            const QString strings[] = {QString(), QStringLiteral("Norvalt"), productName(),
                                       serialText()};
            if (index == 0) {
                d = {4, 3, 0x09, 0x04};  // English (United States)
            } else if (index < 4) {
                d = stringDescriptor(strings[index]);
            } else {
                return kUsbErrorPipe;
            }
        } else {
            return kUsbErrorPipe;
        }
        return reply(d.data(), d.size());
    }

    if (s.requestType == kVendorWrite && s.request == 0x03) {
        if (s.length != 1 || !data) return kUsbErrorPipe;
        const uint8_t v = data[0];
        switch (s.index) {
            case kRegVolume:
                if (!isChannelAddress(s.value)) return kUsbErrorPipe;
                state_.volumeWire[s.value] = v;
                return 1;
            case kRegMute:
                if (!isChannelAddress(s.value)) return kUsbErrorPipe;
                state_.mute[s.value] = v;
                return 1;
            case kReg48V:
                if (s.value != 1 && s.value != 2) return kUsbErrorPipe;
                setBit(state_.switchBits, phantomBit(s.value), v == 1);
                return 1;
            case kReg4DBu:
                if (s.value != 1 && s.value != 2) return kUsbErrorPipe;
                state_.fourDbu[s.value] = v;
                return 1;
            case kRegBtEnable:
                if (s.value != 1) return kUsbErrorPipe;
                state_.btEnable = v;
                return 1;
            case kRegMixer:
                if (s.value >= state_.mixer.size()) return kUsbErrorPipe;
                state_.mixer[s.value] = v;
                return 1;
            case kRegBackup:
                if (s.value != 1) return kUsbErrorPipe;
                state_.backupState = v;
                return 1;
            default:
                return kUsbErrorPipe;
        }
    }

    if (s.requestType == kVendorRead && s.request == 0x00) {
        switch (s.index) {
            case kRegVolume:
                if (!isChannelAddress(s.value)) return kUsbErrorPipe;
                return replyByte(byteAt(state_.volumeWire, s.value));
            case kRegMute:
                if (!isChannelAddress(s.value)) return kUsbErrorPipe;
                return replyByte(byteAt(state_.mute, s.value));
            case kReg48V:
                if (s.value != 1 && s.value != 2) return kUsbErrorPipe;
                return replyByte((state_.switchBits & phantomBit(s.value)) ? 1 : 0);
            case kReg4DBu:
                if (s.value != 1 && s.value != 2) return kUsbErrorPipe;
                return replyByte(byteAt(state_.fourDbu, s.value));
            case kRegOtg:
                if (s.value != 1) return kUsbErrorPipe;
                return replyByte(state_.otgPlugged ? 1 : 0);
            case kRegBtEnable:
                if (s.value != 1) return kUsbErrorPipe;
                return replyByte(state_.btEnable);
            case kRegBtStatus:
                if (s.value != 1) return kUsbErrorPipe;
                return replyByte(state_.btStatus);
            case kRegBtMac: {
                if (s.value != 1 || s.length != 2) return kUsbErrorPipe;
                const uint8_t mac[2] = {static_cast<uint8_t>(state_.btMac & 0xFF),
                                        static_cast<uint8_t>(state_.btMac >> 8)};
                return reply(mac, 2);
            }
            case kRegSerial:
                if (s.value != 0 || s.length != 4) return kUsbErrorPipe;
                return reply(serial_.data(), 4);
            case kRegHwState: {
                if (s.value != 0 || s.length != 4) return kUsbErrorPipe;
                const uint8_t hw[4] = {state_.switchBits, state_.gainCode[0], state_.gainCode[1],
                                       state_.headphoneLevelCode};
                return reply(hw, 4);
            }
            case kRegMixer:
                if (s.value >= state_.mixer.size()) return kUsbErrorPipe;
                return replyByte(state_.mixer[s.value]);
            case kRegBlock:
                if (s.value != 0 || s.length != 24) return kUsbErrorPipe;
                return reply(state_.block1F.data(), 24);
            case kRegBackup:
                if (s.value != 0) return kUsbErrorPipe;
                return replyByte(state_.backupState);
            default:
                return kUsbErrorPipe;
        }
    }
    return kUsbErrorPipe;
}

// Physical controls and fault injection: each takes the lock, changes the state and tells the
// listener outside the lock.
template <typename Change>
static void changeState(std::mutex& mutex, H8State& state, const std::function<void()>& listener,
                        Change change) {
    std::function<void()> notify;
    {
        std::lock_guard lock(mutex);
        const H8State before = state;
        change(state);
        if (!(state == before)) notify = listener;
    }
    if (notify) notify();
}

void EmulatedH8::setGainCode(int input, uint8_t code) {
    if (input != 1 && input != 2) return;
    changeState(mutex_, state_, listener_, [&](H8State& s) { s.gainCode[input - 1] = code; });
}

void EmulatedH8::setHeadphoneLevelCode(uint8_t code) {
    changeState(mutex_, state_, listener_, [&](H8State& s) { s.headphoneLevelCode = code; });
}

void EmulatedH8::setPhantomPower(int input, bool on) {
    if (input != 1 && input != 2) return;
    changeState(mutex_, state_, listener_,
                [&](H8State& s) { setBit(s.switchBits, phantomBit(input), on); });
}

void EmulatedH8::setInstrumentMode(int input, bool on) {
    if (input != 1 && input != 2) return;
    changeState(mutex_, state_, listener_,
                [&](H8State& s) { setBit(s.switchBits, instrumentBit(input), on); });
}

void EmulatedH8::setInputType(int input, bool on) {
    if (input != 1 && input != 2) return;
    changeState(mutex_, state_, listener_,
                [&](H8State& s) { setBit(s.switchBits, inputTypeBit(input), on); });
}

void EmulatedH8::setOtgPlugged(bool plugged) {
    changeState(mutex_, state_, listener_, [&](H8State& s) { s.otgPlugged = plugged; });
}

void EmulatedH8::resetMixer() {
    changeState(mutex_, state_, listener_, [](H8State& s) { s.mixer.fill(0xFF); });
}

void EmulatedH8::setFault(Fault fault, std::chrono::milliseconds after) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
    faultFrom_ = std::chrono::steady_clock::now() + after;
}

EmulatedH8::Fault EmulatedH8::faultNow() const {
    return std::chrono::steady_clock::now() >= faultFrom_ ? fault_ : Fault::None;
}

EmulatedH8::Fault EmulatedH8::fault() const {
    std::lock_guard lock(mutex_);
    return faultNow();
}

void EmulatedH8::denyAccess(std::optional<std::chrono::milliseconds> until) {
    std::lock_guard lock(mutex_);
    denied_ = !until || until->count() > 0;
    deniedUntil_.reset();
    if (until) deniedUntil_ = std::chrono::steady_clock::now() + *until;
}

bool EmulatedH8::accessDenied() const {
    std::lock_guard lock(mutex_);
    return denied_ && (!deniedUntil_ || std::chrono::steady_clock::now() < *deniedUntil_);
}

bool EmulatedH8::setFaultFromText(const QByteArray& text) {
    if (text == "denied") {
        denyAccess(std::nullopt);
    } else if (text.startsWith("denied-until@")) {
        bool ok = false;
        const int ms = text.mid(13).toInt(&ok);
        if (!ok || ms < 0) return false;
        denyAccess(std::chrono::milliseconds(ms));
    } else if (text == "stall") {
        setFault(Fault::Stall);
    } else if (text == "timeout") {
        setFault(Fault::Timeout);
    } else if (text == "hang") {
        setFault(Fault::Hang);
    } else if (text.startsWith("hang@")) {
        bool ok = false;
        const int ms = text.mid(5).toInt(&ok);
        if (!ok || ms < 0) return false;
        setFault(Fault::Hang, std::chrono::milliseconds(ms));
    } else {
        return false;
    }
    return true;
}

H8State EmulatedH8::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void EmulatedH8::setState(const H8State& state) {
    changeState(mutex_, state_, listener_, [&](H8State& s) { s = state; });
}

std::vector<TransferRecord> EmulatedH8::transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void EmulatedH8::clearTransfers() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
}

void EmulatedH8::setChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

// ---- State file ----

namespace {

constexpr const char* kFormat = "h8-emulated-state";
constexpr int kVersion = 1;

QJsonArray bytesToJson(const uint8_t* bytes, size_t n) {
    QJsonArray a;
    for (size_t i = 0; i < n; ++i) a.append(bytes[i]);
    return a;
}

QJsonObject addressMapToJson(const std::map<uint16_t, uint8_t>& m) {
    QJsonObject o;
    for (const auto& [address, value] : m) o[addressKey(address)] = value;
    return o;
}

// Reads an integer field in [min, max]; false with a reason otherwise.
bool readInt(const QJsonObject& o, const char* key, int min, int max, int* out, QString* error) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble() || v.toDouble() != static_cast<double>(v.toInt()) || v.toInt() < min ||
        v.toInt() > max) {
        *error = QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                     .arg(QLatin1String(key))
                     .arg(min)
                     .arg(max);
        return false;
    }
    *out = v.toInt();
    return true;
}

bool readByteArray(const QJsonObject& o, const char* key, uint8_t* out, size_t n, QString* error) {
    const QJsonValue v = o.value(QLatin1String(key));
    const QJsonArray a = v.toArray();
    bool ok = v.isArray() && static_cast<size_t>(a.size()) == n;
    for (qsizetype i = 0; ok && i < a.size(); ++i) {
        const QJsonValue e = a.at(i);
        ok = e.isDouble() && e.toDouble() == e.toInt() && e.toInt() >= 0 && e.toInt() <= 255;
        if (ok) out[i] = static_cast<uint8_t>(e.toInt());
    }
    if (!ok)
        *error = QStringLiteral("\"%1\" must be a list of %2 bytes").arg(QLatin1String(key)).arg(n);
    return ok;
}

// Reads a map of byte values keyed "group:channel" (volume, mute) or by channel number alone
// (4 dBu).
bool readAddressMap(const QJsonObject& o, const char* key, bool keyedByChannel,
                    std::map<uint16_t, uint8_t>* out, QString* error) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isObject()) {
        *error = QStringLiteral("\"%1\" must be an object").arg(QLatin1String(key));
        return false;
    }
    const QJsonObject m = v.toObject();
    for (auto it = m.begin(); it != m.end(); ++it) {
        const QStringList parts = it.key().split(':');
        bool okGroup = true, okChannel = false;
        int group = 0, channel = -1;
        if (keyedByChannel && parts.size() == 1) {
            channel = parts[0].toInt(&okChannel);
        } else if (!keyedByChannel && parts.size() == 2) {
            group = parts[0].toInt(&okGroup);
            channel = parts[1].toInt(&okChannel);
        }
        // Both parts must fit in a byte, or "0:257" would alias "1:1".
        const bool partsFit = group >= 0 && group <= 0xFF && channel >= 0 && channel <= 0xFF;
        const uint16_t address = static_cast<uint16_t>(partsFit ? (group << 8) | channel : 0);
        const bool addressOk = partsFit && (keyedByChannel ? (channel == 1 || channel == 2)
                                                           : isChannelAddress(address));
        const QJsonValue e = it.value();
        if (!okGroup || !okChannel || !addressOk || !e.isDouble() || e.toDouble() != e.toInt() ||
            e.toInt() < 0 || e.toInt() > 255) {
            *error =
                QStringLiteral("\"%1\" has a bad entry \"%2\"").arg(QLatin1String(key), it.key());
            return false;
        }
        (*out)[address] = static_cast<uint8_t>(e.toInt());
    }
    return true;
}

}  // namespace

QByteArray EmulatedH8::toJson(const H8State& s) {
    QJsonObject o;
    o["format"] = kFormat;
    o["version"] = kVersion;
    o["switchBits"] = s.switchBits;
    o["gainCodes"] = bytesToJson(s.gainCode.data(), s.gainCode.size());
    o["headphoneLevelCode"] = s.headphoneLevelCode;
    o["otgPlugged"] = s.otgPlugged;
    o["mute"] = addressMapToJson(s.mute);
    o["volume"] = addressMapToJson(s.volumeWire);
    QJsonObject fourDbu;
    for (const auto& [channel, value] : s.fourDbu) fourDbu[QString::number(channel)] = value;
    o["fourDbu"] = fourDbu;
    o["mixer"] = bytesToJson(s.mixer.data(), s.mixer.size());
    o["btEnable"] = s.btEnable;
    o["btStatus"] = s.btStatus;
    o["btMac"] = s.btMac;
    o["backupState"] = s.backupState;
    o["block1F"] = bytesToJson(s.block1F.data(), s.block1F.size());
    o["sampleRate"] = static_cast<qint64>(s.sampleRate);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool EmulatedH8::fromJson(const QByteArray& json, H8State* out, QString* error) {
    QString reason;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError
                         ? "not JSON: " + parseError.errorString()
                         : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    if (o.value("format").toString() != QLatin1String(kFormat) ||
        o.value("version").toInt() != kVersion) {
        if (error)
            *error =
                QStringLiteral("not an emulated H8 state file (format %1, version %2 expected)")
                    .arg(QLatin1String(kFormat))
                    .arg(kVersion);
        return false;
    }
    H8State s = H8State::factory();
    int v = 0;
    bool ok = readInt(o, "switchBits", 0, 255, &v, &reason);
    if (ok) s.switchBits = static_cast<uint8_t>(v);
    ok = ok && readByteArray(o, "gainCodes", s.gainCode.data(), s.gainCode.size(), &reason);
    ok = ok && readInt(o, "headphoneLevelCode", 0, 255, &v, &reason);
    if (ok) s.headphoneLevelCode = static_cast<uint8_t>(v);
    if (ok && !o.value("otgPlugged").isBool()) {
        reason = "\"otgPlugged\" must be true or false";
        ok = false;
    }
    if (ok) s.otgPlugged = o.value("otgPlugged").toBool();
    ok = ok && readAddressMap(o, "mute", false, &s.mute, &reason);
    ok = ok && readAddressMap(o, "volume", false, &s.volumeWire, &reason);
    ok = ok && readAddressMap(o, "fourDbu", true, &s.fourDbu, &reason);
    ok = ok && readByteArray(o, "mixer", s.mixer.data(), s.mixer.size(), &reason);
    ok = ok && readInt(o, "btEnable", 0, 255, &v, &reason);
    if (ok) s.btEnable = static_cast<uint8_t>(v);
    ok = ok && readInt(o, "btStatus", 0, 255, &v, &reason);
    if (ok) s.btStatus = static_cast<uint8_t>(v);
    ok = ok && readInt(o, "btMac", 0, 0xFFFF, &v, &reason);
    if (ok) s.btMac = static_cast<uint16_t>(v);
    ok = ok && readInt(o, "backupState", 0, 255, &v, &reason);
    if (ok) s.backupState = static_cast<uint8_t>(v);
    ok = ok && readByteArray(o, "block1F", s.block1F.data(), s.block1F.size(), &reason);
    if (ok) {
        const int rate = o.value("sampleRate").toInt();
        ok = rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000;
        if (ok)
            s.sampleRate = static_cast<uint32_t>(rate);
        else
            reason = "\"sampleRate\" must be 44100, 48000, 88200 or 96000";
    }
    if (!ok) {
        if (error) *error = reason;
        return false;
    }
    *out = s;
    return true;
}

bool EmulatedH8::loadOrCreate(const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists()) {
        setState(H8State::factory());
        return save(path, error);
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    H8State s;
    QString reason;
    if (!fromJson(file.readAll(), &s, &reason)) {
        if (error)
            *error =
                QStringLiteral("%1 is not a usable emulated H8 state file: %2").arg(path, reason);
        return false;
    }
    setState(s);
    return true;
}

bool EmulatedH8::save(const QString& path, QString* error) const {
    return writeFileAtomically(path, toJson(state()), error);
}

}  // namespace h8::emulated
