// Background music through SDL2's audio: a WAV file, once or looping, stopped on request.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx {

// A player that opens the audio device on first use; without a device it plays nothing and says
// so (Play returns false).
std::unique_ptr<SoundPlayer> CreateSdlSoundPlayer();

}  // namespace dbx
