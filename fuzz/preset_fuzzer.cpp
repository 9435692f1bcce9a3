// libFuzzer target for reading preset files: authentication, the UTF-8 and JSON parse, the
// model and route-map checks and the apply of an import, through the same importFile() the
// panel and h8ctl call.
//
// Input layout: the first byte picks the mode, the rest is the payload.
//   odd first byte:  the payload is a preset file as read from disk. Almost everything is
//                    refused by authentication, which is what this mode exercises.
//   even first byte: the payload is a plaintext. It is sealed here under a fixed nonce before
//                    the import, so that mutations reach the JSON parser and the import checks.
// The seeds in corpus/ carry this leading byte.
//
// Besides the sanitizers, every input checks that:
//   - a sealed plaintext opens to exactly itself;
//   - a refused import changes neither the shared store nor the user defaults file;
//   - after an accepted import the state exports to a preset that is accepted again and gives
//     the same store.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "core/preset_file.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace {

using h8::NorvExportFileHelper;
using h8::NorvShareHelper;
using h8::UserDefaults;

constexpr std::array<uint8_t, NorvExportFileHelper::kNonceSize> kNonce = {
    0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5, 0x96, 0x87, 0x78, 0x69, 0x5a, 0x4b};
// The user defaults are started afresh this often, and whenever their file grows past
// kMaxDefaultsSize, so that keys from earlier inputs do not pile up and slow every write.
constexpr int kResetInterval = 1000;
constexpr qint64 kMaxDefaultsSize = 256 * 1024;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "preset_fuzzer: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

struct Environment {
    // The user defaults are written with fsync on every change; a folder in memory keeps that
    // from dominating the run time.
    QTemporaryDir dir{QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                          ? QStringLiteral("/dev/shm/h8-preset-fuzz-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/h8-preset-fuzz-XXXXXX")};
    QString presetPath = dir.path() + QStringLiteral("/input.norv");
    QString defaultsPath = dir.path() + QStringLiteral("/config/defaults.json");
    int inputs = 0;
};

Environment& environment() {
    static Environment env;
    return env;
}

void resetState() {
    Environment& env = environment();
    QFile::remove(env.defaultsPath);
    UserDefaults::setStandard(nullptr);
    NorvShareHelper& store = NorvShareHelper::shared();
    store.resetForTesting();
    store.deviceName = QStringLiteral("H8");
}

// Every store field an import can change.
auto storeFields() {
    const NorvShareHelper& s = NorvShareHelper::shared();
    return std::make_tuple(s.deviceName, s.sampleRate, s.micIn1Volume, s.micIn2Volume,
                           s.micOutVolume, s.micMuteState, s.mic48VState, s.micInstState,
                           s.micInChangeState, s.mic2MuteState, s.mic248VState, s.mic2InstState,
                           s.mic2InChangeState, s.hpMuteState);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writePreset(const QByteArray& bytes) {
    QFile f(environment().presetPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fail("cannot write the input file");
}

QByteArray sealOrFail(const QByteArray& plaintext) {
    const std::optional<QByteArray> sealed = NorvExportFileHelper::seal(plaintext, kNonce, nullptr);
    if (!sealed) fail("sealing failed");
    return *sealed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Environment& env = environment();
    if (!env.dir.isValid()) fail("no temporary folder");
    const QByteArray root = QFile::encodeName(env.dir.path());
    qputenv("H8_CONFIG_DIR", root + "/config");
    qputenv("H8_LOG_DIR", root + "/logs");
    qputenv("XDG_STATE_HOME", root + "/state");
    qputenv("XDG_CONFIG_HOME", root + "/xdg-config");
    NorvShareHelper::disableLogFile();
    // Each input prints a line or two; the fuzzer's own output is what matters here.
    if (FILE* sink = std::fopen("/dev/null", "w")) h8::setDiagnosticsStream(sink);
    resetState();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Environment& env = environment();
    if (++env.inputs % kResetInterval == 0 || QFileInfo(env.defaultsPath).size() > kMaxDefaultsSize)
        resetState();

    const QByteArray payload(reinterpret_cast<const char*>(data) + 1,
                             static_cast<qsizetype>(size - 1));
    QByteArray file = payload;
    if ((data[0] & 1) == 0) {
        file = sealOrFail(payload);
        if (NorvExportFileHelper::open(file, nullptr) != payload)
            fail("a sealed plaintext did not open to itself");
    }
    writePreset(file);

    const NorvExportFileHelper& presets = NorvExportFileHelper::shared();
    const auto storeBefore = storeFields();
    const QByteArray defaultsBefore = readAll(env.defaultsPath);
    h8::RoutingModel routing(UserDefaults::standard(), h8::NotificationCenter::defaultCenter());
    if (presets.importFile(env.presetPath, routing) ==
        NorvExportFileHelper::ImportResult::mismatch) {
        if (storeFields() != storeBefore) fail("a refused import changed the store");
        if (readAll(env.defaultsPath) != defaultsBefore)
            fail("a refused import changed the user defaults");
        return 0;
    }

    const auto imported = storeFields();
    writePreset(sealOrFail(QJsonDocument(presets.exportObject()).toJson(QJsonDocument::Compact)));
    if (presets.importFile(env.presetPath, routing) != NorvExportFileHelper::ImportResult::applied)
        fail("the export of an imported preset was refused");
    if (storeFields() != imported) fail("exporting and importing again changed the store");
    return 0;
}
