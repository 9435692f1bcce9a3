// The sound server's audio devices for the programs that run on real hardware.
#pragma once

#include <QString>
#include <memory>

#include "platform/audio/audio_backend.h"

namespace h8 {

// Connects to the platform's sound server; null with a reason when none answers.
std::unique_ptr<AudioBackend> createPlatformAudioBackend(QString* error);

}  // namespace h8
