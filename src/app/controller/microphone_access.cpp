#include "microphone_access.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>

namespace h8 {
namespace {
QByteArray forced() {
    return qgetenv("H8_MIC_AUTH");
}
}  // namespace

MicrophoneAuthorization microphoneAuthorizationStatus() {
    const QByteArray v = forced();
    if (v == "notDetermined") return MicrophoneAuthorization::notDetermined;
    if (v == "restricted") return MicrophoneAuthorization::restricted;
    if (v == "denied") return MicrophoneAuthorization::denied;
    return MicrophoneAuthorization::authorized;
}

void requestMicrophoneAccess(std::function<void(bool)> answer) {
    const bool granted = forced() != "denied" && forced() != "restricted";
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [answer = std::move(answer), granted] { answer(granted); },
        Qt::QueuedConnection);
}

}  // namespace h8
