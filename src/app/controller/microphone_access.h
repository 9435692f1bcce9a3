// Microphone authorisation as the panel expects it from the platform: four outcomes. On a
// plain Linux desktop capturing audio needs no authorisation, so the answer is "authorized";
// H8_MIC_AUTH=notDetermined|restricted|denied|authorized forces an outcome (for tests and for
// trying the alerts by hand).
#pragma once

#include <functional>

namespace h8 {

enum class MicrophoneAuthorization {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorized = 3
};

MicrophoneAuthorization microphoneAuthorizationStatus();
// Asks for access; the answer comes on the main thread (granted unless H8_MIC_AUTH says denied
// or restricted).
void requestMicrophoneAccess(std::function<void(bool granted)> answer);

}  // namespace h8
