#include "platform/audio/audio_backend.h"

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
