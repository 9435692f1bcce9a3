#include "platform_audio.h"

#include "platform/audio/pipewire_backend.h"

namespace h8 {

std::unique_ptr<AudioBackend> createPlatformAudioBackend(QString* error) {
    return PipeWireBackend::create(error);
}

}  // namespace h8
