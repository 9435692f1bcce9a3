#include "platform/audio/audio_backend.h"

#include <QStringList>

namespace h8 {

QString transportTypeText(TransportType type) {
    switch (type) {
        case TransportType::builtIn:
            return QStringLiteral("Built-In");
        case TransportType::aggregate:
            return QStringLiteral("Aggregate");
        case TransportType::virtualDevice:
            return QStringLiteral("Virtual");
        case TransportType::pci:
            return QStringLiteral("PCI");
        case TransportType::usb:
            return QStringLiteral("USB");
        case TransportType::fireWire:
            return QStringLiteral("FireWire");
        case TransportType::bluetooth:
            return QStringLiteral("Bluetooth");
        case TransportType::bluetoothLE:
            return QStringLiteral("Bluetooth LE");
        case TransportType::hdmi:
            return QStringLiteral("HDMI");
        case TransportType::displayPort:
            return QStringLiteral("DisplayPort");
        case TransportType::airPlay:
            return QStringLiteral("AirPlay");
        case TransportType::avb:
            return QStringLiteral("AVB");
        case TransportType::thunderbolt:
            return QStringLiteral("Thunderbolt");
        case TransportType::network:
            return QStringLiteral("Network");
        case TransportType::other:
            return QStringLiteral("Other");
        case TransportType::unknown:
            break;
    }
    return QStringLiteral("Unknown");
}

}  // namespace h8

namespace h8 {

bool isUsbModel(const std::optional<TransportType>& transport,
                const std::optional<QString>& modelUID, uint16_t vendor, uint16_t product) {
    if (transport != TransportType::usb || !modelUID) return false;
    const QStringList parts = modelUID->split(QLatin1Char(':'));
    const auto hex = [](uint16_t id) {
        return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper();
    };
    return parts.size() == 3 && parts[1] == hex(vendor) && parts[2] == hex(product);
}

}  // namespace h8
