#include "core/preset_file.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>
#include <memory>

#include "core/device_controls.h"
#include "core/notification_names.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "platform/atomic_file.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext newContext() {
    return CipherContext(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
}

const char* const kNameKeys[] = {"channelRowName2",  "channelRowName4",  "channelRowName6",
                                 "channelRowName8",  "channelRowName10", "channelRowName12",
                                 "channelRowName14", "channelName2",     "channelName4",
                                 "channelName6",     "channelName8",     "channelName10",
                                 "channelName12"};
const char* const kOutputVolumeKeys[] = {"outputVolume5",  "outputVolume7",  "outputVolume9",
                                         "outputVolume11", "outputVolume13", "outputVolume15"};

bool isWholeNumber(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return true;
        case QMetaType::Double: {
            const double d = v.toDouble();
            return std::isfinite(d) && d == std::trunc(d) && std::abs(d) < 9.0e15;
        }
        default:
            return false;
    }
}

bool isNumber(const QVariant& v) {
    return isWholeNumber(v) || v.typeId() == QMetaType::Double;
}

QString tooLargeMessage() {
    return QStringLiteral("the file is too large to be a preset");
}

}  // namespace

NorvExportFileHelper& NorvExportFileHelper::shared() {
    static NorvExportFileHelper* instance = new NorvExportFileHelper();
    return *instance;
}

std::array<uint8_t, 24> NorvExportFileHelper::key() {
    std::array<uint8_t, 24> k{};
    const QByteArray bytes = QByteArray(kKeyString);  // UTF-8 (ASCII)
    std::copy(bytes.begin(), bytes.end(), k.begin());
    return k;
}

std::optional<QByteArray> NorvExportFileHelper::seal(const QByteArray& plaintext, QString* error) {
    std::array<uint8_t, kNonceSize> nonce;
    if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) {
        if (error) *error = QStringLiteral("no random nonce available");
        return std::nullopt;
    }
    return seal(plaintext, nonce, error);
}

std::optional<QByteArray> NorvExportFileHelper::seal(const QByteArray& plaintext,
                                                     const std::array<uint8_t, kNonceSize>& nonce,
                                                     QString* error) {
    const auto k = key();
    CipherContext ctx = newContext();
    QByteArray out(static_cast<qsizetype>(kNonceSize + plaintext.size() + kTagSize), '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    std::copy(nonce.begin(), nonce.end(), bytes);
    int length = 0;
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_192_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, k.data(), nonce.data()) == 1 &&
        EVP_EncryptUpdate(ctx.get(), bytes + kNonceSize, &length,
                          reinterpret_cast<const unsigned char*>(plaintext.constData()),
                          static_cast<int>(plaintext.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), bytes + kNonceSize + length, &length) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize,
                            bytes + kNonceSize + plaintext.size()) == 1;
    if (!ok) {
        if (error) *error = QStringLiteral("AES-GCM sealing failed");
        return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> NorvExportFileHelper::open(const QByteArray& combined, QString* error) {
    if (static_cast<size_t>(combined.size()) < kNonceSize + kTagSize) {
        if (error) *error = QStringLiteral("the file is too short to be a preset");
        return std::nullopt;
    }
    // Also keeps the lengths below within the int that OpenSSL takes.
    if (combined.size() > kMaxFileSize) {
        if (error) *error = tooLargeMessage();
        return std::nullopt;
    }
    const auto k = key();
    const auto* bytes = reinterpret_cast<const unsigned char*>(combined.constData());
    const int textLength = static_cast<int>(combined.size() - kNonceSize - kTagSize);
    QByteArray plaintext(textLength, '\0');
    std::array<unsigned char, kTagSize> tag;
    std::copy(bytes + kNonceSize + textLength, bytes + combined.size(), tag.begin());
    CipherContext ctx = newContext();
    int length = 0;
    const bool ok =
        ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_192_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, k.data(), bytes) == 1 &&
        EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plaintext.data()), &length,
                          bytes + kNonceSize, textLength) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plaintext.data()) + length,
                            &length) == 1;
    if (!ok) {
        if (error) *error = QStringLiteral("authentication failed (not a preset, or altered)");
        return std::nullopt;
    }
    return plaintext;
}

QJsonObject NorvExportFileHelper::exportObject() const {
    const NorvShareHelper& s = NorvShareHelper::shared();
    UserDefaults& defaults = UserDefaults::standard();
    QJsonObject o;
    o["version"] = s.deviceVersion;
    o["name"] = s.deviceName;
    o["array"] = QJsonValue::fromVariant(s.channelMapArray());
    o["sampleRate"] = s.sampleRate;
    o["micIn1volume"] = s.micIn1Volume;
    o["micMuteState"] = s.micMuteState;
    o["mic48VState"] = s.mic48VState;
    o["micInChangeState"] = s.micInChangeState;
    o["micInstState"] = s.micInstState;
    o["micIn2volume"] = s.micIn2Volume;
    o["mic2MuteState"] = s.mic2MuteState;
    o["mic248VState"] = s.mic248VState;
    o["mic2InChangeState"] = s.mic2InChangeState;
    o["mic2InstState"] = s.mic2InstState;
    o["micOutVolume"] = s.micOutVolume;
    o["hpMuteState"] = s.hpMuteState;
    o["ext1"] = QString();
    o["ext2"] = QString();
    for (const char* key : kNameKeys) {
        if (const auto name = defaults.stringForKey(key)) o[key] = *name;
    }
    for (const char* key : kOutputVolumeKeys)
        o[key] = static_cast<qint64>(defaults.integerForKey(key));
    return o;
}

bool NorvExportFileHelper::exportFile(const QString& path, QString* reason) const {
    diagTrace(path.toStdString());
    const QByteArray json = QJsonDocument(exportObject()).toJson(QJsonDocument::Compact);
    QString error;
    const std::optional<QByteArray> sealed = seal(json, &error);
    if (!sealed || !writeFileAtomically(path, *sealed, &error)) {
        diag("Error encrypting file: " + error.toStdString());
        if (reason) *reason = error;
        return false;
    }
    diagTrace("File encrypted successfully.");
    return true;
}

QVariantMap NorvExportFileHelper::openFile(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        diag("Error decrypting file: " + file.errorString().toStdString());
        return {};
    }
    // Refused by its size before anything is read; a file without a size (a pipe, a device) is
    // read no further than one byte past the limit.
    const bool tooLarge = !file.isSequential() && file.size() > kMaxFileSize;
    const QByteArray bytes = tooLarge ? QByteArray() : file.read(kMaxFileSize + 1);
    if (tooLarge || bytes.size() > kMaxFileSize) {
        diag("Error decrypting file: " + tooLargeMessage().toStdString());
        return {};
    }
    QString error;
    const std::optional<QByteArray> plaintext = open(bytes, &error);
    if (!plaintext) {
        diag("Error decrypting file: " + error.toStdString());
        return {};
    }
    QVariantMap result;
    // An authentic plaintext that is not UTF-8 cannot be a preset of ours.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(*plaintext);
    if (utf8.hasError()) {
        diag("Failed to convert JSON string to data.");
    } else {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            diag("Error: " + parseError.errorString().toStdString());
        } else if (!doc.isObject()) {
            diag("Failed to convert JSON string to dictionary.");
        } else {
            result = doc.object().toVariantMap();
        }
    }
    diagTrace("File decrypted successfully.");
    return result;
}

bool NorvExportFileHelper::isUsableRouteMap(const QVariant& map) {
    if (map.typeId() != QMetaType::QVariantList) return false;
    const QVariantList rows = map.toList();
    if (rows.size() < 12) return false;
    for (const QVariant& row : rows) {
        if (row.typeId() != QMetaType::QVariantList) return false;
        const QVariantList flags = row.toList();
        if (flags.size() < 12) return false;
        for (const QVariant& f : flags) {
            if (f.typeId() != QMetaType::Bool) return false;
        }
    }
    return true;
}

NorvExportFileHelper::ImportResult NorvExportFileHelper::applyImport(const QVariantMap& preset,
                                                                     RoutingModel& routing) const {
    NorvShareHelper& s = NorvShareHelper::shared();
    const QVariant name = preset.value("name");
    // A preset of another model, or one whose route map the panel could not show, is refused
    // before anything changes.
    if (preset.isEmpty() || name.typeId() != QMetaType::QString ||
        name.toString() != s.deviceName ||
        (preset.contains("array") && !isUsableRouteMap(preset.value("array")))) {
        return ImportResult::mismatch;
    }
    UserDefaults& defaults = UserDefaults::standard();
    const QVariant rate = preset.value("sampleRate");
    if (rate.typeId() == QMetaType::QString) s.sampleRate = rate.toString();

    const auto number = [&](const char* key, double& field) {
        const QVariant v = preset.value(key);
        if (isNumber(v)) field = v.toDouble();
    };
    number("micIn1volume", s.micIn1Volume);
    number("micIn2volume", s.micIn2Volume);
    number("micOutVolume", s.micOutVolume);
    const auto integer = [&](const char* key, int& field) {
        const QVariant v = preset.value(key);
        if (isWholeNumber(v) && std::abs(v.toDouble()) <= 2147483647.0)
            field = static_cast<int>(v.toLongLong());
    };
    integer("micMuteState", s.micMuteState);
    integer("mic48VState", s.mic48VState);
    integer("micInstState", s.micInstState);
    integer("micInChangeState", s.micInChangeState);
    integer("mic2MuteState", s.mic2MuteState);
    integer("mic248VState", s.mic248VState);
    integer("mic2InstState", s.mic2InstState);
    integer("mic2InChangeState", s.mic2InChangeState);
    integer("hpMuteState", s.hpMuteState);

    for (auto it = preset.begin(); it != preset.end(); ++it) {
        if (it.key().startsWith(QLatin1String("channel")) &&
            it.value().typeId() == QMetaType::QString) {
            defaults.setString(it.key(), it.value().toString());
        } else if (it.key().startsWith(QLatin1String("outputVolume")) &&
                   isWholeNumber(it.value())) {
            defaults.setInteger(it.key(), it.value().toLongLong());
        }
    }

    // The interface brought in line with the preset.
    pushMuteStates();
    applyStoredSampleRate();
    routing.replaceMap(preset.contains("array") ? std::optional(preset.value("array").toList())
                                                : std::nullopt);
    NotificationCenter::defaultCenter().post(notify::kEntranceFileSuccess);
    return ImportResult::applied;
}

}  // namespace h8
