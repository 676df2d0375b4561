// Feeds arbitrary bytes to the movie parser, plays the first frames with their scripts, their
// sound (every sound decoder included) and some pointer and key input, draws them at a small size
// at both qualities, and reads the bytes as text-field HTML: nothing may crash, leak, hang or read
// outside its buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/surface.h"
#include "platform/mpg123/mpg123_decoder.h"
#include "swf/audio/decoders.h"
#include "swf/flash_player.h"
#include "swf/format/lzma_decoder.h"
#include "swf/format/movie.h"
#include "swf/text/layout.h"
#include "swf/text/rich_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Our own LZMA decoder (used where liblzma is missing) on the raw bytes: props, then data.
  if (size >= 5) {
    std::vector<std::uint8_t> out;
    dbx::swf::DecodeLzma(data, data + 5, size - 5, out, 1 << 20);
  }
  // The same bytes as text-field HTML, laid out without a face.
  {
    const auto html = dbx::swf::text::ParseHtml(
        dbx::swf::text::DecodeUtf8({reinterpret_cast<const char*>(data), size}), {}, {},
        (size & 8) != 0, (size & 32) != 0, nullptr, (size & 64) != 0);
    dbx::swf::text::ToHtml(html);
    dbx::swf::text::LayoutOptions o;
    o.width = 2000;
    o.wordWrap = (size & 16) != 0;
    dbx::swf::text::LayOut(html, o);
  }
  // The ADPCM decoder on the raw bytes, both channel layouts.
  {
    std::vector<std::int16_t> pcm;
    dbx::swf::DecodeAdpcm(data, size, (size & 1) != 0, 1 << 16, pcm);
  }
  dbx::FlashPlayer player(nullptr);
  player.SetMp3Decoders(dbx::CreateMpg123Decoder);
  player.SetSoundMode(dbx::SoundMode::kPulled);
  // Smaller bounds than a real player's keep each run short; the logic is the same.
  dbx::swf::ParseLimits limits;
  limits.maxBodyBytes = 4u << 20;
  limits.maxBitmapPixels = 1u << 20;
  limits.maxTotalBitmapPixels = 2u << 20;
  player.SetParseLimits(limits);
  player.LoadMovieBytes(data, size, "fuzz.swf");
  dbx::Surface target(64, 48);
  player.SetViewportSize({64, 48});
  player.SetScaleMode(static_cast<int>(size % 4));
  player.SetQuality2((size & 4) ? "Low" : "High");
  player.Play();
  std::int64_t now = 0;
  for (int frame = 0; frame < 3; ++frame) {
    player.Advance(now);
    player.RenderFrame(target.View());
    std::int16_t sound[2 * 512];
    player.MixSound(sound, 512);
    now += static_cast<std::int64_t>(player.FrameIntervalMs()) + 1;
  }
  // Input between frames reaches buttons, clip events and listeners.
  const int x = static_cast<int>(size % 64), y = static_cast<int>((size / 64) % 48);
  player.MouseMove(x, y);
  player.MouseDown(0, x, y);
  player.StepFrame();
  player.MouseUp(0, x, y);
  player.KeyDown(65, 'a');
  player.KeyUp(65, 'a');
  player.StepFrame();
  player.RenderFrame(target.View());
  return 0;
}
