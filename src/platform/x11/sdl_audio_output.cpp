#include "platform/x11/sdl_audio_output.h"

#include <SDL2/SDL.h>

#include <cstdint>
#include <utility>

namespace dbx {
namespace {

class SdlAudioOutput final : public AudioOutput {
 public:
  explicit SdlAudioOutput(AudioSource source) : source_(std::move(source)) {}
  ~SdlAudioOutput() override {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to finish
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    initialised_ = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;  // about 23 ms a call
    want.callback = &SdlAudioOutput::Fill;
    want.userdata = this;
    // No changes allowed: SDL converts whatever the device wants from exactly this.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (device_ == 0) return false;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

 private:
  static void Fill(void* self, Uint8* stream, int len) {
    auto* out = static_cast<SdlAudioOutput*>(self);
    out->source_(reinterpret_cast<std::int16_t*>(stream), static_cast<std::size_t>(len) / 4);
  }

  AudioSource source_;
  bool initialised_ = false;
  SDL_AudioDeviceID device_ = 0;
};

}  // namespace

std::unique_ptr<AudioOutput> OpenSdlAudioOutput(AudioSource source) {
  if (!source) return nullptr;
  auto out = std::make_unique<SdlAudioOutput>(std::move(source));
  if (!out->Open()) return nullptr;
  return out;
}

}  // namespace dbx
