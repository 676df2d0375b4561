// The movie player's sound through SDL2's audio: 44.1 kHz stereo 16-bit, pulled from the source
// on SDL's audio thread.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx {

// Nothing when there is no sound device (the movie then plays silently).
std::unique_ptr<AudioOutput> OpenSdlAudioOutput(AudioSource source);

}  // namespace dbx
