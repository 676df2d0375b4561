#include "platform/x11/sdl_sound.h"

#include <SDL2/SDL.h>

#include <algorithm>

namespace dbx {
namespace {

class SdlSound final : public SoundPlayer {
 public:
  ~SdlSound() override {
    Stop();
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Play(const std::string& path, SoundRepeat repeat) override {
    Stop();
    if (!initialised_) {
      // The program handles the end signals itself; SDL must not take them over.
      SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
      initialised_ = true;
    }
    SDL_AudioSpec spec{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(path.c_str(), &spec, &buffer, &length) || length == 0) {
      if (buffer) SDL_FreeWAV(buffer);
      return false;
    }
    wav_ = buffer;
    length_ = length;
    position_ = 0;
    loop_ = repeat == SoundRepeat::kLoop;
    spec.callback = &SdlSound::Fill;
    spec.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
    if (device_ == 0) {
      SDL_FreeWAV(wav_);
      wav_ = nullptr;
      return false;
    }
    silence_ = spec.silence;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  void Stop() override {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to finish
    device_ = 0;
    if (wav_) SDL_FreeWAV(wav_);
    wav_ = nullptr;
  }

 private:
  static void Fill(void* self, Uint8* stream, int len) {
    auto* s = static_cast<SdlSound*>(self);
    Uint32 want = static_cast<Uint32>(len);
    while (want > 0) {
      if (s->position_ >= s->length_) {
        if (!s->loop_) break;
        s->position_ = 0;
      }
      const Uint32 n = std::min(want, s->length_ - s->position_);
      SDL_memcpy(stream, s->wav_ + s->position_, n);
      stream += n;
      want -= n;
      s->position_ += n;
    }
    if (want > 0) SDL_memset(stream, s->silence_, want);
  }

  bool initialised_ = false;
  SDL_AudioDeviceID device_ = 0;
  Uint8* wav_ = nullptr;
  Uint32 length_ = 0;
  Uint32 position_ = 0;
  Uint8 silence_ = 0;
  bool loop_ = false;
};

}  // namespace

std::unique_ptr<SoundPlayer> CreateSdlSoundPlayer() {
  return std::make_unique<SdlSound>();
}

}  // namespace dbx
