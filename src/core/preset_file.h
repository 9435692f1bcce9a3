// Preset files: the whole panel state of one interface model as a JSON object, sealed with
// AES-192-GCM under the key built into the program. File bytes: 12-byte nonce, ciphertext
// (as long as the plaintext), 16-byte tag; no header. Main thread only.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>
#include <array>
#include <optional>

namespace h8 {

class RoutingModel;

class NorvExportFileHelper {
public:
    static NorvExportFileHelper& shared();

    static constexpr const char* kKeyString = "PresetSealKey0042";
    static constexpr const char* kFileExtension = "norv";
    static constexpr size_t kNonceSize = 12;
    static constexpr size_t kTagSize = 16;
    // Larger files are refused unread: a real preset is a few KiB.
    static constexpr qint64 kMaxFileSize = 1 << 20;

    // The key string zero-padded to an AES key length: 17 bytes + 7 zeros = AES-192.
    static std::array<uint8_t, 24> key();

    // Seals `plaintext` with a fresh random nonce (or the given one) and returns the file bytes.
    static std::optional<QByteArray> seal(const QByteArray& plaintext, QString* error);
    static std::optional<QByteArray> seal(const QByteArray& plaintext,
                                          const std::array<uint8_t, kNonceSize>& nonce,
                                          QString* error);
    // Opens file bytes; nothing when they are too short, larger than kMaxFileSize or do not
    // authenticate.
    static std::optional<QByteArray> open(const QByteArray& combined, QString* error);

    // The object an export writes, from the shared state and the user defaults.
    QJsonObject exportObject() const;
    // Builds, seals and writes the preset to `path` (atomically). Prints the outcome.
    bool exportFile(const QString& path, QString* error = nullptr) const;

    // Reads and opens a preset file and parses its JSON; an empty map for anything that is not
    // an authentic preset of a JSON object (the reason is printed). A file larger than
    // kMaxFileSize is refused without being read.
    QVariantMap openFile(const QString& path) const;

    enum class ImportResult { applied, mismatch };
    // Checks that the preset belongs to this device model and holds a usable route map, then
    // applies it: the shared state and the user defaults take its values; the interface gets
    // its mute states and (through the audio device, when there is one) its sample rate;
    // `routing` takes its route map, switching off on the interface the routes the preset has
    // not and re-sending the routes it has; finally "entranceFileSuccesName" is posted, for the
    // strips to reload their names. On mismatch nothing is changed.
    ImportResult applyImport(const QVariantMap& preset, RoutingModel& routing) const;
    ImportResult importFile(const QString& path, RoutingModel& routing) const {
        return applyImport(openFile(path), routing);
    }

    // The alert texts of a rejected import.
    // (Marked for the translation tables, context "Preset"; the texts themselves are the keys.)
    static QString mismatchTitle() {
        return QString::fromUtf8(QT_TRANSLATE_NOOP("Preset", "警告"));
    }
    static QString mismatchMessage() {
        return QString::fromUtf8(QT_TRANSLATE_NOOP("Preset", "导入的文件设备与当前设备型号不符！"));
    }
    static QString mismatchButton() {
        return QString::fromUtf8(QT_TRANSLATE_NOOP("Preset", "确定"));
    }

    // True when `map` holds at least 12 lists of at least 12 booleans (the grid reads 12 × 12).
    static bool isUsableRouteMap(const QVariant& map);

private:
    NorvExportFileHelper() = default;
};

}  // namespace h8
