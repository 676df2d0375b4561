// The PNG and GIF readers of the movie player, and a picture file made into a movie, on any bytes.
#include <cstdint>

#include "swf/format/picture_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kRoom = 1u << 18;  // small pictures keep the runs fast
  (void)dbx::swf::DecodePng(data, size, kRoom);
  (void)dbx::swf::DecodeGif(data, size, kRoom);
  (void)dbx::swf::PictureMovie(data, size, nullptr);
  return 0;
}
