#include "platform/mpg123/mpg123_decoder.h"

#include <mpg123.h>

#include <mutex>

namespace dbx {
namespace {

class Mpg123Decoder final : public Mp3Decoder {
 public:
  explicit Mpg123Decoder(mpg123_handle* handle) : handle_(handle) {}
  ~Mpg123Decoder() override { mpg123_delete(handle_); }

  bool Feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out) override {
    if (failed_) return false;
    if (size > 0 && mpg123_feed(handle_, data, size) != MPG123_OK) {
      failed_ = true;
      return false;
    }
    // Drain every whole frame that the bytes so far complete. A damaged frame is skipped by the
    // library's resync; only a hard error ends the stream.
    for (int guard = 0; guard < 1 << 16; ++guard) {
      off_t frameNumber = 0;
      unsigned char* audio = nullptr;
      std::size_t bytes = 0;
      const int rc = mpg123_decode_frame(handle_, &frameNumber, &audio, &bytes);
      if (rc == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(handle_, &rate, &channels, &encoding);
        rate_ = static_cast<int>(rate);
        channels_ = channels;
        continue;
      }
      if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
      if (rc != MPG123_OK) {
        if (rc == MPG123_ERR) {
          failed_ = true;
          return false;
        }
        continue;
      }
      const auto* samples = reinterpret_cast<const std::int16_t*>(audio);
      out.insert(out.end(), samples, samples + bytes / 2);
    }
    return true;
  }
  int SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }

 private:
  mpg123_handle* handle_;
  int rate_ = 0;
  int channels_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Mp3Decoder> CreateMpg123Decoder(int /*rate*/, int channels) {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = mpg123_init() == MPG123_OK; });  // a no-op in new versions
  if (!ready) return nullptr;
  int error = 0;
  mpg123_handle* handle = mpg123_new(nullptr, &error);
  if (!handle) return nullptr;
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | (channels == 1 ? MPG123_FORCE_MONO : 0), 0);
  // Always 16-bit signed samples at the stream's own rate, with the channels the container
  // announced (the library mixes or copies to match), so that the layout never changes midway.
  const int layout = channels == 1   ? MPG123_MONO
                     : channels == 2 ? MPG123_STEREO
                                     : MPG123_MONO | MPG123_STEREO;
  mpg123_format_none(handle);
  for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    mpg123_format(handle, rate, layout, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(handle) != MPG123_OK) {
    mpg123_delete(handle);
    return nullptr;
  }
  return std::make_unique<Mpg123Decoder>(handle);
}

}  // namespace dbx
