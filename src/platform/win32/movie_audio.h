// The movie player's sound on Windows: output through waveOut and MP3 decoding through the
// system's audio compression manager (msacm32), so that the program stays one file that needs
// nothing but system libraries.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx::win32 {

// Nothing when there is no sound device (the movie then plays silently).
std::unique_ptr<AudioOutput> OpenWaveOutput(AudioSource source);
// Nothing when the system has no MP3 decoder for this rate and channel count.
std::unique_ptr<Mp3Decoder> CreateAcmMp3Decoder(int rate, int channels);

}  // namespace dbx::win32
